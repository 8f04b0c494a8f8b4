#pragma once

// What the reliability tests share: the plan of a run (seed and counts from the
// environment), trials run side by side, each in a sandbox of its own, and the
// checks of what a program that was killed or refused leaves behind.

#include "base/timetext.h"
#include "storage/store/schema.h"
#include "tests/support/sandbox.h"

#include <QDirIterator>
#include <QThread>
#include <functional>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace reliability {

using namespace e2e;

// The program under test is built with the sanitizers: it starts and ends
// several times slower, and its runtime keeps open files of its own.
inline bool instrumented()
{
    return qEnvironmentVariableIsSet("ASAN_OPTIONS") || qEnvironmentVariableIsSet("UBSAN_OPTIONS");
}

// A bound on how long the program takes to start or end, as long as an instrumented one needs.
inline std::chrono::milliseconds startBound(std::chrono::milliseconds plain)
{
    return instrumented() ? plain * 4 : plain;
}

// A whole number from the environment, or the fallback when it is not set.
inline quint64 setting(const char* name, quint64 fallback)
{
    bool ok = false;
    const quint64 v = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? v : fallback;
}

// The seed of every random choice of a run; printed so that a failure can be
// replayed with KESTRA_RELIABILITY_SEED. The moments themselves depend on the load
// of the machine, so a replay repeats the plan, not the exact timing.
inline quint64 seed()
{
    static const quint64 s = setting("KESTRA_RELIABILITY_SEED", std::random_device{}());
    return s;
}

// Trials that run at once; each starts real programs, so more than the cores
// only adds noise to the moments.
inline int jobs()
{
    return int(qBound<quint64>(1, setting("KESTRA_RELIABILITY_JOBS", 2), 16));
}

// The random numbers of one trial, the same for the same seed and trial.
inline std::mt19937_64 trialRandom(quint64 salt, int trial)
{
    std::seed_seq seq{quint32(seed()), quint32(seed() >> 32), quint32(salt), quint32(trial)};
    return std::mt19937_64(seq);
}

inline int uniform(std::mt19937_64& rng, int from, int to)
{
    return std::uniform_int_distribution<int>(from, to)(rng);
}

// Runs trial(0) .. trial(count - 1) on jobs() threads of their own. Each returns
// what went wrong, or an empty text; an exception counts as a failure too.
inline std::vector<QString> runTrials(int count, const std::function<QString(int)>& trial)
{
    std::vector<QString> results(size_t(std::max(count, 0)));
    std::atomic<int> next{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int j = 0; j < std::min(jobs(), std::max(count, 1)); ++j) {
        threads.emplace_back(QThread::create([&] {
            for (int i = next++; i < count; i = next++) {
                try {
                    results[size_t(i)] = trial(i);
                } catch (const std::exception& e) {
                    results[size_t(i)] = QStringLiteral("exception: %1").arg(QLatin1String(e.what()));
                }
            }
        }));
        threads.back()->start();
    }
    for (auto& t : threads)
        t->wait();
    return results;
}

// "kill -9: 100 tried, 100 intact", and the failures with what replays them.
inline QString summary(const QString& what, const QString& good, const std::vector<QString>& results)
{
    QStringList failures;
    for (size_t i = 0; i < results.size(); ++i)
        if (!results[i].isEmpty()) failures << QStringLiteral("trial %1: %2").arg(i).arg(results[i]);
    QString text = QStringLiteral("%1: %2 tried, %3 %4")
                       .arg(what)
                       .arg(results.size())
                       .arg(results.size() - size_t(failures.size()))
                       .arg(good);
    if (!failures.isEmpty())
        text += QStringLiteral("\n  %1\n  KESTRA_RELIABILITY_SEED=%2 replays the plan")
                    .arg(failures.mid(0, 10).join(QStringLiteral("\n  ")))
                    .arg(seed());
    return text;
}

// The end of what the program wrote to its standard error, without the offscreen
// platform's complaints.
inline QString said(Program& k)
{
    QStringList lines = k.standardError().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeIf([](const QString& l) { return l.contains(QLatin1String("propagateSizeHints")); });
    return lines.join(QStringLiteral(" | ")).right(600);
}

// SIGTERM must end the program within 2 s. A program that misses that is given
// 10 s more, so that a report tells a slow end from one that never comes.
inline QString termination(Program& k)
{
    if (k.terminate()) return {};
    const QString late = k.process().waitForFinished(5000)
                             ? QStringLiteral("ended only after more than 2 s")
                             : QStringLiteral("still running 7 s after SIGTERM");
    return QStringLiteral("%1 (standard error: %2)").arg(late, said(k));
}

inline void sleepMs(int ms)
{
    if (ms > 0) QThread::usleep(ulong(ms) * 1000);
}

inline quint8 allOffByte(bool fiveVoltsOn)
{
    return fiveVoltsOn ? 0 : 255;
}

// Everything the program shows in a box also reaches its standard error,
// starting with the title: "KESTRA3: ...". The count of such lines is the count
// of messages, which works whatever the platform shows.
inline int messageCount(const QString& standardError, const Build& b)
{
    int n = 0;
    const QString mark = b.title + QStringLiteral(": ");
    for (const QString& line : standardError.split(QLatin1Char('\n')))
        if (line.startsWith(mark)) ++n;
    return n;
}

inline bool wellFormed(const QString& field, const QString& v)
{
    using kestra::store::FieldFormat;
    bool ok = false;
    switch (kestra::store::fieldFormat(field)) {
    case FieldFormat::Flag:
        return kestra::tryParseFlag(v).has_value();
    case FieldFormat::Time:
        return kestra::tryParseTime(v).has_value();
    case FieldFormat::Byte: {
        const int n = v.toInt(&ok);
        return ok && n >= 0 && n <= 255;
    }
    case FieldFormat::Counter:
        v.toInt(&ok);
        return ok;
    case FieldFormat::Date:
        return kestra::tryParseDate(v).has_value();
    case FieldFormat::Text:
    case FieldFormat::Path:
        return true;
    }
    return false;
}

// What is wrong with a settings database; empty when it is whole: integrity_check
// ok, both preset lists filled, exactly one settings record, and every field of
// it there and readable in its format (free texts may be empty or NULL). Opened as the next start would open
// it, so a journal left by a kill is rolled back first.
inline QString databaseProblem(const QString& path)
{
    if (!QFileInfo(path).isFile()) return QStringLiteral("no database file");
    const Connection c(path, QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    QSqlDatabase db = c.db();
    if (!db.isOpen()) return QStringLiteral("cannot be opened: %1").arg(db.lastError().text());
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next())
        return QStringLiteral("integrity_check: %1").arg(q.lastError().text());
    if (q.value(0).toString() != QLatin1String("ok"))
        return QStringLiteral("integrity_check: %1").arg(q.value(0).toString());
    using namespace kestra::store;
    for (const QString& table : {kStartTimesTable, kRunTimesTable}) {
        if (!q.exec(QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table))) || !q.next())
            return QStringLiteral("%1: %2").arg(table, q.lastError().text());
        if (q.value(0).toInt() == 0) return QStringLiteral("%1 is empty").arg(table);
    }
    if (!q.exec(QStringLiteral("SELECT * FROM %1").arg(quoted(kSettingsTable))))
        return QStringLiteral("%1: %2").arg(kSettingsTable, q.lastError().text());
    int rows = 0;
    QSqlRecord record;
    while (q.next())
        if (++rows == 1) record = q.record();
    if (rows != 1) return QStringLiteral("%1 settings records").arg(rows);
    for (const QString& f : settingsFields()) {
        const int i = record.indexOf(f);
        if (i < 0) return QStringLiteral("no field %1").arg(f);
        // A new record leaves free texts and the sound path NULL.
        if (record.isNull(i) && !wellFormed(f, QString())) return QStringLiteral("%1 is NULL").arg(f);
        if (!wellFormed(f, record.value(i).toString()))
            return QStringLiteral("%1 holds \"%2\"").arg(f, record.value(i).toString().left(40));
    }
    return {};
}

// Files in the program directory that no finished run leaves there, such as a
// database half made under another name. SQLite looks after its own journal.
inline QStringList strayFiles(const Sandbox& box, const Build& b)
{
    QStringList stray;
    // The history of the port lives beside the settings, as a WAL database.
    const QString history = QLatin1String("History") + b.portFile.section(QLatin1Char('-'), 1) + QLatin1String(".db");
    const auto names = QDir(box.programDir())
                           .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        if (name != b.database && name != b.database + QLatin1String("-journal") && name != b.portFile &&
            name != QLatin1String("help.html") && !name.endsWith(QLatin1String(".lock")) &&
            name != history && name != history + QLatin1String("-wal") && name != history + QLatin1String("-shm"))
            stray << name;
    return stray;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The port file as another program (the panel) would leave it: three bytes.
inline bool putPort(const Sandbox& box, const Build& b, PortBytes bytes)
{
    QDir().mkpath(box.programDir());
    const char raw[3] = {char(bytes.data), char(bytes.status), char(bytes.control)};
    return writeFile(box.portPath(b), QByteArray(raw, 3));
}

// A settings database as a first start of the build makes it, copied into
// sandboxes instead of paying for a first start in every trial.
class Template
{
public:
    bool make(const Build& b)
    {
        Sandbox box;
        Program first(box, b);
        if (!first.start() || !first.waitRunning() || !first.terminate()) {
            m_error = first.standardError();
            return false;
        }
        m_bytes = readFile(box.databasePath(b));
        return !m_bytes.isEmpty();
    }
    QString error() const { return m_error; }

    bool copyTo(const Sandbox& box, const Build& b) const
    {
        QDir().mkpath(box.programDir());
        QFile::setPermissions(box.programDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return writeFile(box.databasePath(b), m_bytes) &&
               QFile::setPermissions(box.databasePath(b), QFile::ReadOwner | QFile::WriteOwner);
    }

private:
    QByteArray m_bytes;
    QString m_error;
};

// Milliseconds from the start until the first start begins and ends making its
// database and sets up the port, until a later start sets up the port, and from
// SIGTERM to the end: measured once, so that the random moments cover these
// stretches whatever the speed of the machine.
struct Stretches
{
    int making = 0, made = 0, creation = 0, startUp = 0, shutdown = 0;
};

inline QString describe(const Stretches& s)
{
    return QStringLiteral("first start: database from %1 to %2 ms, port at %3 ms; start %4 ms; "
                          "shutdown %5 ms")
        .arg(s.making)
        .arg(s.made)
        .arg(s.creation)
        .arg(s.startUp)
        .arg(s.shutdown);
}

inline std::optional<Stretches> measureStretches(const Build& b)
{
    Sandbox box;
    Stretches s;
    if (!putPort(box, b, {0xFF, 0x78, 0})) return std::nullopt;
    for (int* up : {&s.creation, &s.startUp}) {
        Program k(box, b);
        QElapsedTimer t;
        t.start();
        if (!k.start()) return std::nullopt;
        while (up == &s.creation && k.process().state() == QProcess::Running && box.port(b).control != 2) {
            // Made: the database has its name and is alone, no journal or temporary file beside it.
            const auto names = QDir(box.programDir()).entryList(QDir::Files | QDir::Hidden);
            const auto others = std::count_if(names.begin(), names.end(), [&](const QString& n) {
                return n != b.portFile && n != b.database && n != QLatin1String("help.html") &&
                       !n.endsWith(QLatin1String(".lock"));
            });
            const bool named = QFileInfo(box.databasePath(b)).size() > 0;
            if (!s.making && (others > 0 || names.contains(b.database))) s.making = int(t.elapsed());
            if (s.making && !s.made && named && others == 0) s.made = int(t.elapsed());
            QThread::usleep(200);
        }
        if (!k.waitRunning()) return std::nullopt;
        *up = int(t.elapsed());
        if (!k.terminate()) return std::nullopt;
        s.shutdown = std::max(s.shutdown, int(k.lastStopMs()));
        if (!box.writePort(b, 2, 0)) return std::nullopt;
    }
    return s;
}

// What random trials start from: a database as a first start makes it, and the
// stretches of the program's start and end on this machine now.
struct Groundwork
{
    Template database;
    Stretches stretches;

    // Empty when laid; otherwise what went wrong.
    QString lay(const Build& b)
    {
        if (!database.make(b)) return QStringLiteral("no first start: ") + database.error();
        const auto s = measureStretches(b);
        if (!s) return QStringLiteral("the program did not come up in a clean sandbox");
        stretches = *s;
        qInfo("seed %llu, %d at once; %s", seed(), jobs(), qPrintable(describe(stretches)));
        return {};
    }
};

inline bool allPassed(const std::vector<QString>& results)
{
    return std::all_of(results.begin(), results.end(), [](const QString& r) { return r.isEmpty(); });
}

// Root reads and writes whatever the mode bits say, so a file that is read-only
// for the program needs the program to run as somebody else: the unprivileged
// user `nobody`, owning a sandbox of its own and a copy of the program.
inline constexpr uid_t kNobody = 65534;

inline bool asRoot()
{
    return ::geteuid() == 0;
}

inline bool giveTo(const QString& root, uid_t uid)
{
    bool ok = ::chown(QFile::encodeName(root).constData(), uid, uid) == 0;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::lchown(QFile::encodeName(it.next()).constData(), uid, uid) == 0 && ok;
    return ok;
}

// Where the test runs as root: a copy of the build in the sandbox, the whole
// sandbox given to `nobody`, and the launcher that runs the copy as that user
// (empty where the test does not run as root). Call it once the files are laid out.
inline std::optional<QStringList> dropPrivileges(const Sandbox& box, Build& b)
{
    if (!asRoot()) return QStringList();
    const QString copy = box.root() + QStringLiteral("/") + QFileInfo(b.exe).fileName();
    if (!QFile::copy(b.exe, copy) || !giveTo(box.root(), kNobody)) return std::nullopt;
    b.exe = copy;
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(kNobody),
                       QStringLiteral("--regid=%1").arg(kNobody), QStringLiteral("--clear-groups")};
}

} // namespace reliability
