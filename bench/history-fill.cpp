// Fills a history file the way the program would over many days, through the
// program's own file code, and tells its size: how the file grows per day and
// where it stops growing under the 400-day pruning.
//
//   kestra-history-fill [--pattern pulse|busy] [--days N] [--prune] [--timing] FILE
//
// pulse: channel 1 changing every half second, all day (172800 writes a day).
// busy:  a full household day: channel 1 pulsing 0.5 s ON / 1 s OFF for an hour,
//        channels 3 to 8 with 34 switchings, input 1 and 3 changing 60 times.
// --prune removes what is older than 400 days once a simulated day, as the program does.
// --timing also times 2000 one-second batches of the pattern, as the writer commits them.

#include "base/failure.h"
#include "storage/history/historyfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>

using namespace kestra;
using namespace kestra::history;

namespace {
constexpr qint64 kDayMs = 24 * 3600 * 1000LL;

struct Day
{
    QList<PortRecord> ports;
    QList<InputRecord> inputs;
};

// One day of records from `start` (local midnight). 0 V is ON, as in a new database.
Day makeDay(const QString& pattern, qint64 start, quint8& outputs)
{
    struct Event
    {
        qint64 ms;
        int output;
        bool on;
        Cause cause;
    };
    QList<Event> events;
    if (pattern == QLatin1String("pulse")) {
        for (qint64 t = 0; t < kDayMs; t += 500)
            events.append({start + t, 1, (t / 500) % 2 == 0, Cause::Pulse});
    } else {
        // busy: a pulse hour from 15:00, the schedules, and the inputs.
        for (qint64 t = 15 * 3600000LL; t < 16 * 3600000LL; t += 1500) {
            events.append({start + t, 1, true, Cause::Pulse});
            events.append({start + t + 500, 1, false, Cause::Pulse});
        }
        const auto span = [&](int output, int fromS, int toS) {
            events.append({start + fromS * 1000LL, output, true, Cause::Schedule});
            events.append({start + toS * 1000LL, output, false, Cause::Schedule});
        };
        span(3, 7 * 3600 + 1, 8 * 3600 + 1800);
        span(4, 6 * 3600, 6 * 3600 + 601);
        span(4, 18 * 3600, 20 * 3600 + 1);
        span(7, 0, 6 * 3600 + 1);
        span(7, 22 * 3600, 24 * 3600 - 1);
        span(6, 12 * 3600, 12 * 3600 + 40);
        for (int k = 0; k < 10; ++k)
            span(8, (8 + k) * 3600, (8 + k) * 3600 + 301);
        for (int k = 0; k < 12; ++k)
            span(5, 9 * 3600 + k * 1800, 9 * 3600 + k * 1800 + 600);
        std::stable_sort(events.begin(), events.end(),
                         [](const Event& a, const Event& b) { return a.ms < b.ms; });
    }
    Day d;
    for (const Event& e : events) {
        const quint8 bit = quint8(1u << (e.output - 1));
        const quint8 after = e.on ? quint8(outputs | bit) : quint8(outputs & ~bit);
        if (after == outputs) continue;
        outputs = after;
        d.ports.append({e.ms, quint8(~outputs), outputs, withCause(0, e.output, e.cause)});
    }
    if (pattern != QLatin1String("pulse")) {
        quint8 inputs = 0;
        for (int k = 0; k < 60; ++k) {
            const quint8 bit = k % 4 == 3 ? 0b100 : 0b1;
            inputs ^= bit;
            d.inputs.append({start + 9 * 3600000LL + k * 900000LL, inputs, bit});
        }
    }
    return d;
}

qint64 sizeOf(const QString& path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString pattern = QStringLiteral("pulse");
    int days = 1;
    bool prune = false;
    bool timing = false;
    QString path;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--pattern") && i + 1 < args.size())
            pattern = args[++i];
        else if (args[i] == QLatin1String("--days") && i + 1 < args.size())
            days = args[++i].toInt();
        else if (args[i] == QLatin1String("--prune"))
            prune = true;
        else if (args[i] == QLatin1String("--timing"))
            timing = true;
        else
            path = args[i];
    }
    if (path.isEmpty() || days < 1 ||
        (pattern != QLatin1String("pulse") && pattern != QLatin1String("busy"))) {
        std::fprintf(stderr, "usage: kestra-history-fill [--pattern pulse|busy] [--days N] [--prune] "
                             "[--timing] FILE\n");
        return 2;
    }
    QFile::remove(path);
    QTextStream out(stdout);
    try {
        auto file = HistoryFile::open(path, HistoryFile::Access::Write);
        const qint64 first = QDateTime(QDate(2026, 1, 1), QTime(0, 0)).toMSecsSinceEpoch();
        const auto keep = std::chrono::duration_cast<std::chrono::milliseconds>(kKeep).count();
        quint8 outputs = 0;
        qint64 records = 0;
        HoursTracker hours;
        QElapsedTimer clock;
        clock.start();
        for (int day = 0; day < days; ++day) {
            const qint64 start = QDateTime(QDate(2026, 1, 1).addDays(day), QTime(0, 0)).toMSecsSinceEpoch();
            const Day d = makeDay(pattern, start, outputs);
            for (const PortRecord& r : d.ports)
                hours.change(r.ms, r.outputs);
            // Written an hour at a time: the file comes out the same as with a
            // batch a second, only sooner.
            for (qint64 h = 0; h < 24; ++h) {
                const auto inHour = [&](qint64 ms) {
                    return ms >= start + h * 3600000 && ms < start + (h + 1) * 3600000;
                };
                QList<PortRecord> ports;
                QList<InputRecord> inputs;
                for (const PortRecord& r : d.ports)
                    if (inHour(r.ms)) ports.append(r);
                for (const InputRecord& r : d.inputs)
                    if (inHour(r.ms)) inputs.append(r);
                file->write(ports, inputs, hours.saved());
            }
            records += d.ports.size() + d.inputs.size();
            if (prune) file->prune(start + kDayMs - keep);
            if (day == 0 || (day + 1) % 50 == 0 || day + 1 == 365 || day + 1 == days)
                out << QStringLiteral("day %1: %2 records written, file %3 bytes, %4 s\n")
                           .arg(day + 1)
                           .arg(records)
                           .arg(sizeOf(path))
                           .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
                    << Qt::flush;
        }
        file.reset(); // the WAL goes into the file
        const qint64 size = QFileInfo(path).size();
        out << QStringLiteral("pattern %1, %2 days: %3 records, file %4 bytes = %5 MB, %6 bytes a record, "
                              "%7 MB a day\n")
                   .arg(pattern)
                   .arg(days)
                   .arg(records)
                   .arg(size)
                   .arg(size / 1e6, 0, 'f', 1)
                   .arg(records ? double(size) / records : 0.0, 0, 'f', 1)
                   .arg(size / 1e6 / days, 0, 'f', 3);
        if (timing) {
            file = HistoryFile::open(path, HistoryFile::Access::Write);
            // The writer's work per second of this pattern: one transaction.
            const qint64 start = first + qint64(days + 1) * kDayMs;
            const Day d = makeDay(pattern, start, outputs);
            QElapsedTimer t;
            t.start();
            int batches = 0;
            for (qint64 s = 15 * 3600; batches < 2000; ++s, ++batches) {
                QList<PortRecord> ports;
                for (const PortRecord& r : d.ports)
                    if (r.ms >= start + s * 1000 && r.ms < start + (s + 1) * 1000) ports.append(r);
                file->write(ports, {}, hours.saved());
            }
            file.reset();
            out << QStringLiteral("one-second batches: %1 ms each on average (%2 batches)\n")
                       .arg(double(t.nsecsElapsed()) / 1e6 / batches, 0, 'f', 3)
                       .arg(batches);
        }
    } catch (const Failure& f) {
        std::fprintf(stderr, "%s\n", qPrintable(f.description));
        return 1;
    }
    return 0;
}
