#include "base/timetext.h"

#include "base/failure.h"

namespace kestra {

namespace {
// The bad text as a message quotes it: a stored value may be megabytes long,
// and a box that size helps nobody.
QString quotedText(const QString& text)
{
    constexpr int kShown = 40;
    if (text.size() <= kShown) return QLatin1Char('"') + text + QLatin1Char('"');
    return QStringLiteral("\"%1...\" (%2 characters)").arg(text.left(kShown)).arg(text.size());
}
} // namespace

std::optional<int> tryParseTime(const QString& text)
{
    // "h:mm", "h:mm:ss", "hh:mm", "hh:mm:ss" with ASCII digits. Every channel
    // converts its texts twice a second, so this stays a plain scan.
    const QString t = text.trimmed();
    const qsizetype n = t.size();
    qsizetype i = 0;
    const auto digit = [&](qsizetype at) { return at < n && t[at] >= u'0' && t[at] <= u'9'; };
    const auto value = [&](qsizetype at) { return t[at].unicode() - u'0'; };
    if (!digit(0)) return std::nullopt;
    int h = value(i++);
    if (digit(i)) h = h * 10 + value(i++);
    const auto pair = [&](int& out) {
        if (i >= n || t[i] != u':' || !digit(i + 1) || !digit(i + 2)) return false;
        out = value(i + 1) * 10 + value(i + 2);
        i += 3;
        return true;
    };
    int min = 0, s = 0;
    if (!pair(min)) return std::nullopt;
    if (i < n && !pair(s)) return std::nullopt;
    if (i != n || h > 23 || min > 59 || s > 59) return std::nullopt;
    return h * 3600 + min * 60 + s;
}

int parseTime(const QString& text)
{
    if (auto t = tryParseTime(text)) return *t;
    throw Failure(failure::kConversion,
                  QStringLiteral("Type mismatch: %1 is not a time").arg(quotedText(text)));
}

QString formatTime(int secondsOfDay)
{
    const int s = ((secondsOfDay % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

std::optional<QDate> tryParseDate(const QString& text)
{
    const QDate d = QDate::fromString(text.trimmed(), Qt::ISODate);
    if (!d.isValid()) return std::nullopt;
    return d;
}

QDate parseDate(const QString& text)
{
    if (auto d = tryParseDate(text)) return *d;
    throw Failure(failure::kConversion,
                  QStringLiteral("Type mismatch: %1 is not a date").arg(quotedText(text)));
}

QString formatDate(const QDate& date)
{
    return date.toString(Qt::ISODate);
}

std::optional<bool> tryParseFlag(const QString& text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
    bool ok = false;
    const double n = t.toDouble(&ok);
    if (ok) return n != 0.0;
    return std::nullopt;
}

bool parseFlag(const QString& text)
{
    if (auto f = tryParseFlag(text)) return *f;
    throw Failure(failure::kConversion,
                  QStringLiteral("Type mismatch: %1 is not True or False").arg(quotedText(text)));
}

QString flagText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

int parseNumber(const QString& text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok)
        throw Failure(failure::kConversion,
                      QStringLiteral("Type mismatch: %1 is not a number").arg(quotedText(text)));
    return n;
}

} // namespace kestra
