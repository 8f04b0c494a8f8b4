#pragma once

// Runs the real programs as processes in a directory of their own: empty data,
// config and runtime directories, the offscreen platform, and libfaketime to
// start them at a chosen moment.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using Fields = std::vector<std::pair<QString, QString>>;

struct Build
{
    QString exe;
    QString title;    // "KESTRA3"
    QString database; // "Kestra3.db"
    QString portFile; // "port-3BC"
};

inline Build kestra3()
{
    return {QStringLiteral(KESTRA3_PATH), QStringLiteral("KESTRA3"), QStringLiteral("Kestra3.db"),
            QStringLiteral("port-3BC")};
}

inline Build kestra2()
{
    return {QStringLiteral(KESTRA2_PATH), QStringLiteral("KESTRA2"), QStringLiteral("Kestra2.db"),
            QStringLiteral("port-278")};
}

// libfaketime as the Debian package faketime installs it; the wrapper program
// forks and would not pass SIGTERM on, so the library is preloaded directly.
inline QString libfaketime()
{
    const QByteArray given = qgetenv("KESTRA_LIBFAKETIME");
    if (!given.isEmpty())
        return QFileInfo::exists(QString::fromLocal8Bit(given)) ? QString::fromLocal8Bit(given) : QString();
    QStringList candidates;
    for (const QString& dir : QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        candidates << QStringLiteral("/usr/lib/%1/faketime/libfaketime.so.1").arg(dir);
    candidates << QStringLiteral("/usr/lib/faketime/libfaketime.so.1")
               << QStringLiteral("/usr/local/lib/faketime/libfaketime.so.1");
    for (const QString& c : candidates)
        if (QFileInfo::exists(c)) return c;
    return {};
}

// CI=true, as CI services set it (also 1 or yes).
inline bool runningInCi()
{
    const QByteArray ci = qgetenv("CI").toLower();
    return !ci.isEmpty() && ci != "false" && ci != "0" && ci != "no";
}

// Without libfaketime no run can be placed in time. In CI that is a broken
// machine, not a reason to pass.
#define REQUIRE_FAKETIME()                                                                                   \
    do {                                                                                                     \
        if (e2e::libfaketime().isEmpty()) {                                                                  \
            if (e2e::runningInCi()) QFAIL("libfaketime not found: install the Debian package faketime");     \
            QSKIP("libfaketime not found: install the Debian package faketime");                             \
        }                                                                                                    \
    } while (false)

// Calls pred every few milliseconds until it holds or the time is up.
template <typename Pred> bool waitUntil(Pred pred, std::chrono::milliseconds timeout, int stepMs = 5)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeout.count()) return pred();
        QTest::qWait(stepMs);
    }
    return true;
}

// A connection of its own to one SQLite file, closed and removed when it goes;
// the name is unique, so test threads can each hold one.
class Connection
{
public:
    Connection(const QString& path, const QString& options)
        : m_name(QStringLiteral("sandbox-%1").arg(s_next.fetch_add(1)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(options);
        db.open();
    }
    ~Connection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    inline static std::atomic<int> s_next{0};
    QString m_name;
};

struct PortBytes
{
    int data = -1, status = -1, control = -1;
    bool operator==(const PortBytes&) const = default;
};

inline QString describe(const PortBytes& b)
{
    return QStringLiteral("(data %1, status %2, control %3)").arg(b.data).arg(b.status).arg(b.control);
}

inline char* toString(const PortBytes& b)
{
    return qstrdup(qPrintable(describe(b)));
}

class Sandbox
{
public:
    Sandbox()
    {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("data"));
        root.mkpath(QStringLiteral("config"));
        root.mkpath(QStringLiteral("run"));
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool valid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString data() const { return m_dir.path() + QStringLiteral("/data"); }
    QString config() const { return m_dir.path() + QStringLiteral("/config"); }
    QString runtime() const { return m_dir.path() + QStringLiteral("/run"); }
    QString programDir() const { return data() + QStringLiteral("/Timer"); }
    QString portPath(const Build& b) const { return programDir() + QLatin1Char('/') + b.portFile; }
    QString databasePath(const Build& b) const { return programDir() + QLatin1Char('/') + b.database; }
    QString iniPath(const Build& b) const
    {
        return config() + QLatin1Char('/') + b.title + QStringLiteral(".ini");
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.multimedia*=false;qt.qpa.*=false"));
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        env.remove(QStringLiteral("LD_PRELOAD"));
        env.remove(QStringLiteral("FAKETIME"));
        return env;
    }

    // The three bytes of the simulated port; -1 each while the file is missing or short.
    PortBytes port(const Build& b) const
    {
        QFile f(portPath(b));
        if (!f.open(QIODevice::ReadOnly)) return {};
        const QByteArray bytes = f.read(3);
        if (bytes.size() < 3) return {};
        return PortBytes{quint8(bytes[0]), quint8(bytes[1]), quint8(bytes[2])};
    }

    // Writes one byte of the port file as another program (the panel, a test) would.
    bool writePort(const Build& b, int offset, quint8 value) const
    {
        QFile f(portPath(b));
        if (!f.open(QIODevice::ReadWrite) || !f.seek(offset)) return false;
        return f.write(reinterpret_cast<const char*>(&value), 1) == 1;
    }

    // UPDATE of the single settings record, fields quoted as they are named.
    bool setFields(const Build& b, const Fields& fields, QString* error = nullptr) const
    {
        const Connection c(databasePath(b), QStringLiteral("QSQLITE_OPEN_READWRITE"));
        QSqlDatabase db = c.db();
        if (!db.isOpen()) {
            if (error) *error = db.lastError().text();
            return false;
        }
        QStringList sets;
        for (const auto& f : fields)
            sets << QStringLiteral("\"%1\" = ?").arg(f.first);
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE \"SaveSettingsTbl\" SET %1").arg(sets.join(QStringLiteral(", "))));
        for (const auto& f : fields)
            q.addBindValue(f.second);
        const bool ok = q.exec() && q.numRowsAffected() == 1;
        if (!ok && error) *error = q.lastError().text();
        return ok;
    }

    // One field of the stored record; a null string when it cannot be read.
    QString field(const Build& b, const QString& name) const
    {
        const Connection c(databasePath(b), QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery q(c.db());
        if (!q.exec(QStringLiteral("SELECT * FROM \"SaveSettingsTbl\"")) || !q.next()) return {};
        const int i = q.record().indexOf(name);
        return i >= 0 ? q.value(i).toString() : QString();
    }

private:
    QTemporaryDir m_dir;
};

// One run of a program in a sandbox. Killed if the test leaves it running.
class Program
{
public:
    Program(const Sandbox& box, Build build) : m_box(box), m_build(std::move(build)) {}
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // fakeStart: "2026-12-07 11:59:55" starts the program's clock there, running
    // at normal speed; empty: the real clock.
    bool start(const QString& fakeStart = QString())
    {
        QProcessEnvironment env = m_box.environment();
        if (!fakeStart.isEmpty()) {
            const QString lib = libfaketime();
            if (lib.isEmpty()) return false;
            env.insert(QStringLiteral("LD_PRELOAD"), lib);
            env.insert(QStringLiteral("FAKETIME"), QLatin1Char('@') + fakeStart);
        }
        for (const QString& name : m_extraEnvironment.keys())
            env.insert(name, m_extraEnvironment.value(name));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(m_box.data());
        if (m_launcher.isEmpty())
            m_process.start(m_build.exe, m_arguments);
        else
            m_process.start(m_launcher.first(), m_launcher.mid(1) << m_build.exe << m_arguments);
        return m_process.waitForStarted(10000);
    }

    // Started and has set up the port (control register 2).
    bool waitRunning(std::chrono::milliseconds timeout = 20s)
    {
        return waitUntil(
                   [&] {
                       return m_box.port(m_build).control == 2 || m_process.state() == QProcess::NotRunning;
                   },
                   timeout) &&
               m_process.state() == QProcess::Running;
    }

    // A program that runs the build in its place, for example to drop privileges
    // ("setpriv", "--reuid=nobody", ...); it must exec the build, keeping the pid.
    void setLauncher(const QStringList& launcher) { m_launcher = launcher; }

    // The command line arguments of the next start.
    void setArguments(const QStringList& arguments) { m_arguments = arguments; }

    // Added to the environment of the next start.
    void setEnvironment(const QString& name, const QString& value) { m_extraEnvironment.insert(name, value); }
    // The file mode creation mask the next start is given.
    void setUmask(mode_t mask)
    {
        m_process.setChildProcessModifier([mask] { ::umask(mask); });
    }

    // Runs in the started process before the program: descriptors set up as a test needs them.
    void setChildSetup(std::function<void()> setup) { m_process.setChildProcessModifier(std::move(setup)); }

    void signal(int sig) const { ::kill(pid_t(m_process.processId()), sig); }

    // SIGTERM, then waits for the end; false when it takes longer than the timeout.
    bool terminate(std::chrono::milliseconds timeout = 2s)
    {
        QElapsedTimer t;
        t.start();
        signal(SIGTERM);
        const bool ended = m_process.waitForFinished(int(timeout.count()));
        m_stopMs = t.elapsed();
        return ended;
    }

    qint64 lastStopMs() const { return m_stopMs; }
    QProcess& process() { return m_process; }
    qint64 pid() const { return m_process.processId(); }
    QString standardError()
    {
        m_stderr += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_stderr;
    }

private:
    const Sandbox& m_box;
    Build m_build;
    QProcess m_process;
    QProcessEnvironment m_extraEnvironment;
    QStringList m_launcher;
    QStringList m_arguments;
    QString m_stderr;
    qint64 m_stopMs = -1;
};

} // namespace e2e

// Starts the build in the box (from `at`, a libfaketime start, or now when it is
// empty), waits until it has set up the port and stops it: afterwards the files
// of a first start exist for the test to prepare.
#define FIRST_RUN_AT(box, build, at)                                                                         \
    do {                                                                                                     \
        e2e::Program first(box, build);                                                                      \
        QVERIFY(first.start(at));                                                                            \
        QVERIFY2(first.waitRunning(), qPrintable(first.standardError()));                                    \
        QVERIFY(first.terminate());                                                                          \
    } while (false)
