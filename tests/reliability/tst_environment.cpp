#include "reliability.h"

// Starts in an environment that is not as it should be. Whatever the program
// says names the real cause (never "already running" when nothing runs), and
// wherever it can run it drives the port.

using namespace reliability;

class TstEnvironment : public QObject
{
    Q_OBJECT

private slots:
    void unusualStart_data()
    {
        QTest::addColumn<bool>("runs");
        QTest::addColumn<QString>("saying");
        QTest::newRow("directory in place of the lock") << false << "Kestra3.lock: Is a directory";
        QTest::newRow("program directory of another user") << false << "cannot be written: Permission denied";
        QTest::newRow("relative XDG_DATA_HOME") << true << "XDG_DATA_HOME=reldata is not an absolute path";
        // env -i, or HOME= in a unit: never a new database below the root directory.
        QTest::newRow("no HOME") << false << "HOME is not set";
        QTest::newRow("empty HOME") << false << "HOME is \"\"";
        QTest::newRow("placement file readable by others") << true << "it is now private to you (mode 0600)";
        // The history, not the port, goes short, wherever the limit lies. A sanitizer's
        // runtime needs open files of its own (its reports, its checks of memory), so
        // these rows are for the plain build.
        if (!instrumented())
            for (int n = 10; n <= 16; ++n)
                QTest::addRow("%d open files", n) << true << "History3BC.db: Too many open files";
    }

    void unusualStart()
    {
        QFETCH(bool, runs);
        QFETCH(QString, saying);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        ++m_tried;
        Sandbox box;
        Build b = kestra3();
        QVERIFY(QDir().mkpath(box.programDir()));
        QStringList launcher;
        if (tag == QLatin1String("directory in place of the lock"))
            QVERIFY(QDir().mkpath(box.programDir() + QStringLiteral("/Kestra3.lock")));
        if (tag == QLatin1String("program directory of another user")) {
            if (!asRoot()) QSKIP("a directory of another user needs root to lay out");
            const auto dropped = dropPrivileges(box, b);
            QVERIFY(dropped && ::chown(QFile::encodeName(box.programDir()).constData(), 0, 0) == 0);
            launcher = *dropped;
        }
        if (const QString n = tag.section(' ', 0, 0); tag.endsWith(QLatin1String("open files")))
            launcher = QStringList{"prlimit", QStringLiteral("--nofile=%1:%1").arg(n)};
        if (tag == QLatin1String("no HOME"))
            launcher = QStringList{"env", "-u", "XDG_DATA_HOME", "-u", "XDG_CONFIG_HOME", "-u", "HOME"};
        if (tag == QLatin1String("empty HOME"))
            launcher = QStringList{"env", "-u", "XDG_DATA_HOME", "-u", "XDG_CONFIG_HOME", "HOME="};
        const QString ini = box.iniPath(b);
        if (tag == QLatin1String("placement file readable by others"))
            QVERIFY(writeFile(ini, "[MQTT]\nPassword=secret\n") &&
                    QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                   QFile::ReadOther));
        Program k(box, b);
        k.setLauncher(launcher);
        if (tag == QLatin1String("relative XDG_DATA_HOME")) {
            // The default, $HOME/.local/share, is the sandbox's data directory here.
            const QString home = box.root() + QStringLiteral("/home");
            QVERIFY(QDir().mkpath(home + QStringLiteral("/.local")));
            QVERIFY(QFile::link(box.data(), home + QStringLiteral("/.local/share")));
            k.setEnvironment(QStringLiteral("HOME"), home);
            k.setEnvironment(QStringLiteral("XDG_DATA_HOME"), QStringLiteral("reldata"));
        }
        QVERIFY(k.start());
        if (runs) QVERIFY2(k.waitRunning(10s), qPrintable(said(k)));
        QVERIFY2(waitUntil([&] { return k.standardError().contains(saying); }, 5s), qPrintable(said(k)));
        QVERIFY2(!k.standardError().contains(QLatin1String("already running")), qPrintable(said(k)));
        QVERIFY(termination(k).isEmpty());
        QCOMPARE(k.process().exitCode(), runs ? 0 : 1);
        if (QFileInfo::exists(ini))
            QVERIFY(!(QFile::permissions(ini) & (QFile::ReadGroup | QFile::ReadOther)));
        ++(runs ? m_ran : m_refused);
    }

    void cleanupTestCase()
    {
        qInfo("unusual starts: %d tried, %d with the real cause named (%d refused, %d run)", m_tried,
              m_ran + m_refused, m_refused, m_ran);
    }

private:
    int m_tried = 0;
    int m_ran = 0;
    int m_refused = 0;
};

QTEST_GUILESS_MAIN(TstEnvironment)
#include "tst_environment.moc"
