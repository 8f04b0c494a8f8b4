// One fuzz target over what the program converts from stored texts, the window
// placement it reads back, and the schedule step. The first byte picks the part, the rest is its input.
// Besides not crashing (and, under the sanitizers, no undefined behaviour), each part keeps the promises its
// callers rely on; a broken promise aborts with a note.

#include "base/failure.h"
#include "base/timetext.h"
#include "logic/schedule/schedule.h"
#include "shell/placement.h"

#include <QDateTime>
#include <QTimeZone>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace kestra;

namespace {

[[noreturn]] void broken(const char* promise, const QString& input)
{
    std::fprintf(stderr, "broken promise: %s (input \"%s\")\n", promise, qPrintable(input.left(200)));
    std::abort();
}

void check(bool holds, const char* promise, const QString& input)
{
    if (!holds) broken(promise, input);
}

// A conversion either succeeds or fails with 13 and a short description.
template <typename F> void failsOnlyWith13(F&& convert, const QString& input)
{
    try {
        convert();
    } catch (const Failure& f) {
        check(f.number == failure::kConversion, "a bad text fails with 13", input);
        check(f.description.size() < 200, "the description quotes the text short", input);
    }
}

// Bytes read front to back; past the end every read gives zero.
class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    quint32 word()
    {
        quint32 w = 0;
        for (int i = 0; i < 4; ++i)
            w = w << 8 | byte();
        return w;
    }
    // Mostly a well-formed text of the kind asked for, sometimes raw bytes.
    QString text(const QString& wellFormed)
    {
        const uint8_t how = byte();
        if (how % 4 != 0) return wellFormed;
        const size_t n = std::min<size_t>(byte() % 24, m_size - std::min(m_pos, m_size));
        const QByteArray raw(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return how & 4 ? QString::fromLatin1(raw) : QString::fromUtf8(raw);
    }
    QString time() { return text(formatTime(int(word() % kSecondsPerDay))); }
    // Any double, nan and infinities included, or one read from a text as stored.
    double number()
    {
        if (byte() % 2) {
            const quint64 bits = quint64(word()) << 32 | word();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        return double(text(QString::number(int(word() % 40000) - 10000)).toFloat());
    }
    QString rest()
    {
        const size_t from = std::min(m_pos, m_size);
        m_pos = m_size;
        return QString::fromUtf8(reinterpret_cast<const char*>(m_data + from), qsizetype(m_size - from));
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

void timeText(const QString& t)
{
    const std::optional<int> s = tryParseTime(t);
    if (s) {
        check(*s >= 0 && *s < kSecondsPerDay, "a time lies within the day", t);
        check(tryParseTime(formatTime(*s)) == s, "a time reads back as written", t);
    }
    bool failed = false;
    try {
        check(parseTime(t) == s.value_or(-1), "parseTime agrees with tryParseTime", t);
    } catch (const Failure& f) {
        failed = true;
        check(f.number == failure::kConversion, "a bad text fails with 13", t);
        check(f.description.size() < 200, "the description quotes the text short", t);
    }
    check(failed == !s.has_value(), "parseTime fails exactly when tryParseTime does", t);
}

void dateText(const QString& t)
{
    if (const std::optional<QDate> d = tryParseDate(t))
        check(tryParseDate(formatDate(*d)) == d, "a date reads back as written", t);
    failsOnlyWith13([&] { parseDate(t); }, t);
}

void flagAndNumberText(const QString& t)
{
    if (const std::optional<bool> f = tryParseFlag(t))
        check(tryParseFlag(flagText(*f)) == f, "a flag reads back as written", t);
    failsOnlyWith13([&] { parseFlag(t); }, t);
    failsOnlyWith13([&] { parseNumber(t); }, t);
}

// One tick of a channel: any controls, inputs and moment give ON or OFF, or fail
// with 13 on a text that is no time or date; a channel held ON or OFF shows it.
void scheduleStep(Reader& r)
{
    channels::ChannelControls c;
    c.channel = 1 + r.byte() % 8;
    c.mode = channels::Mode(r.byte() % 4);
    const uint8_t days = r.byte(), finish = r.byte();
    for (int d = 0; d < 7; ++d) {
        c.days[size_t(d)] = days >> d & 1;
        c.finishDays[size_t(d)] = finish >> d & 1;
    }
    for (int k = 0; k < channels::switchingCount(c.channel); ++k) {
        c.starts << r.time();
        c.runs << r.time();
    }
    inputs::OverrideView v;
    v.input1 = r.byte() & 1;
    v.input2 = r.byte() & 1;
    v.input3 = r.byte() & 1;
    for (int& box : v.boxes)
        box = r.byte() % 3;
    v.inp3Start = r.time();
    v.inp3Time = r.time();
    // Any moment between 1970 and 2106, in the zone the program runs in.
    const QDateTime now = QDateTime::fromSecsSinceEpoch(qint64(r.word()), Qt::LocalTime);
    v.inp3Date = r.text(formatDate(now.date().addDays(r.byte() % 3 - 1)));

    const QString input = c.starts.join(QLatin1Char(' ')) + QLatin1Char('|') + c.runs.join(QLatin1Char(' '));
    State status = State::Calculating;
    try {
        channels::evaluate(c, v, now, status);
    } catch (const Failure& f) {
        check(f.number == failure::kConversion, "a bad time fails the tick with 13", input);
        return;
    }
    check(status == State::On || status == State::Off, "a tick ends ON or OFF", input);
    if (c.mode == channels::Mode::On)
        check(status == State::On, "mode ON holds the output on", input);
    if (c.mode == channels::Mode::Off)
        check(status == State::Off, "mode OFF holds the output off", input);
}

QString rectText(const QRect& r)
{
    return QStringLiteral("%1x%2%3%4%5%6")
        .arg(r.width())
        .arg(r.height())
        .arg(r.x() < 0 ? "" : "+")
        .arg(r.x())
        .arg(r.y() < 0 ? "" : "+")
        .arg(r.y());
}

// A stored placement, however odd, and any screens give a window of at least the
// content's minimum size that some screen shows.
void placement(Reader& r)
{
    shell::Placement p;
    p.left = r.number();
    p.top = r.number();
    p.width = r.number();
    p.height = r.number();
    QList<QRect> screens;
    for (int n = r.byte() % 4; n > 0; --n)
        screens << QRect(qint16(r.word()), qint16(r.word()), 1 + int(r.word() % 8000),
                         1 + int(r.word() % 8000));
    const int dpi = 24 + int(r.word() % 937);
    const QSize minimum(int(r.word() % 2000), int(r.word() % 2000));
    QString input =
        QStringLiteral("%1 %2 %3 %4 at %5 dpi").arg(p.left).arg(p.top).arg(p.width).arg(p.height).arg(dpi);

    const QRect w = shell::placementRect(p, screens, dpi, minimum);
    input +=
        QStringLiteral(", minimum %1x%2 -> %3").arg(minimum.width()).arg(minimum.height()).arg(rectText(w));
    for (const QRect& s : screens)
        input += QStringLiteral(", screen ") + rectText(s);
    check(w.width() >= std::max(1, minimum.width()) && w.height() >= std::max(1, minimum.height()),
          "a window is never smaller than its content", input);
    check(std::abs(w.left()) <= 70000 && std::abs(w.top()) <= 70000, "a window lies where a screen can be",
          input);
    if (!screens.isEmpty())
        check(std::any_of(screens.begin(), screens.end(), [&](const QRect& s) { return s.intersects(w); }),
              "some screen shows the window", input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    Reader r(data + 1, size - 1);
    switch (data[0] % 5) {
    case 0:
        timeText(r.rest());
        break;
    case 1:
        dateText(r.rest());
        break;
    case 2:
        flagAndNumberText(r.rest());
        break;
    case 3:
        scheduleStep(r);
        break;
    case 4:
        placement(r);
        break;
    }
    return 0;
}
