#include "base/failure.h"
#include "platform/desktop/autostart.h"
#include "platform/desktop/commandline.h"
#include "platform/desktop/icon.h"
#include "platform/desktop/installation.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace kestra;
using namespace kestra::desktop;

namespace {
CommandLine timer()
{
    CommandLine c;
    c.program = QStringLiteral("kestra3");
    c.description = QStringLiteral("Weekly time switch.");
    return c;
}

CommandLine panel()
{
    CommandLine c = timer();
    c.program = QStringLiteral("kestra-panel");
    c.positionalName = QStringLiteral("port");
    c.positionalHelp = QStringLiteral("3BC or 278");
    return c;
}

// The file as the desktop reads it, and who may read it.
struct Written
{
    QString text;
    mode_t mode = 0;
};

Written written(const QString& path)
{
    QFile f(path);
    struct stat st
    {
    };
    if (!f.open(QIODevice::ReadOnly) || ::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {QString::fromUtf8(f.readAll()), mode_t(st.st_mode & 07777)};
}
} // namespace

class TstDesktop : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { QDir(autostartDirectory()).removeRecursively(); }

    void commandLine_data()
    {
        QTest::addColumn<bool>("isPanel");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("start");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QStringList>("positional");
        const QStringList none;
        QTest::newRow("no arguments start") << false << none << true << 0 << ""
                                            << "" << none;
        QTest::newRow("--help") << false << QStringList{"--help"} << false << 0
                                << "Usage: kestra3 [options]\n"
                                << "" << none;
        QTest::newRow("-h") << false << QStringList{"-h"} << false << 0 << "--version"
                            << "" << none;
        QTest::newRow("-?") << false << QStringList{"-?"} << false << 0 << "Weekly time switch."
                            << "" << none;
        QTest::newRow("--version") << false << QStringList{"--version"} << false << 0 << "kestra3 3.0.0\n"
                                   << "" << none;
        QTest::newRow("-v") << false << QStringList{"-v"} << false << 0 << "kestra3 3.0.0\n"
                            << "" << none;
        QTest::newRow("unknown option") << false << QStringList{"--bogus"} << false << 2 << ""
                                        << "kestra3: Unknown option 'bogus'." << none;
        QTest::newRow("unknown beside help") << false << QStringList{"--help", "-x"} << false << 2 << ""
                                             << "Unknown option 'x'" << none;
        QTest::newRow("value on a flag") << false << QStringList{"--version=2"} << false << 2 << ""
                                         << "Try 'kestra3 --help'." << none;
        QTest::newRow("qt's own option") << false << QStringList{"-platform", "offscreen"} << false << 2 << ""
                                         << "Unknown option" << none;
        QTest::newRow("argument to a program that takes none")
            << false << QStringList{"3BC"} << false << 2 << ""
            << "unexpected argument '3BC'" << none;
        QTest::newRow("argument after --") << false << QStringList{"--", "-v"} << false << 2 << ""
                                           << "unexpected argument '-v'" << none;
        QTest::newRow("panel port") << true << QStringList{"278"} << true << 0 << ""
                                    << "" << QStringList{"278"};
        QTest::newRow("panel help names the port")
            << true << QStringList{"--help"} << false << 0 << "Usage: kestra-panel [options] [port]"
            << "" << none;
        QTest::newRow("panel two ports") << true << QStringList{"3BC", "278"} << false << 2 << ""
                                         << "unexpected argument '278'" << none;
    }

    void commandLine()
    {
        QFETCH(bool, isPanel);
        QFETCH(QStringList, args);
        const CommandLineOutcome o = parseCommandLine(isPanel ? panel() : timer(), args);
        QTEST(o.start, "start");
        QTEST(o.exitCode, "exitCode");
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(out.isEmpty() ? o.out.isEmpty() : o.out.contains(out), qPrintable(o.out));
        QVERIFY2(err.isEmpty() ? o.err.isEmpty() : o.err.contains(err), qPrintable(o.err));
        QTEST(o.positional, "positional");
    }

    void execValue_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec"); // as it stands in the file
        QTest::newRow("plain") << "/usr/bin/kestra3"
                               << "/usr/bin/kestra3";
        QTest::newRow("blank") << "/home/ann/my build/kestra3"
                               << "\"/home/ann/my build/kestra3\"";
        QTest::newRow("percent, unquoted") << "/opt/100%/kestra3"
                                           << "/opt/100%%/kestra3";
        QTest::newRow("percent, quoted") << "/opt/a b%/kestra3"
                                         << "\"/opt/a b%%/kestra3\"";
        QTest::newRow("apostrophe") << "/home/o'neil/kestra3"
                                    << "\"/home/o'neil/kestra3\"";
        QTest::newRow("dollar") << "/srv/$HOME/kestra3"
                                << "\"/srv/\\\\$HOME/kestra3\"";
        QTest::newRow("double quote") << "/srv/a\"b/kestra3"
                                      << "\"/srv/a\\\\\"b/kestra3\"";
        QTest::newRow("backquote") << "/srv/a`b/kestra3"
                                   << "\"/srv/a\\\\`b/kestra3\"";
        QTest::newRow("backslash") << "/srv/a\\b/kestra3"
                                   << "\"/srv/a\\\\\\\\b/kestra3\"";
        QTest::newRow("non-ascii") << "/home/zoë/kestra3"
                                   << "/home/zoë/kestra3";
    }

    void execValue()
    {
        QFETCH(QString, program);
        QTEST(desktop::execValue(program), "exec");
    }

    void pathWithNewlineIsRefused()
    {
        QVERIFY_THROWS_EXCEPTION(Failure, desktop::execValue(QStringLiteral("/tmp/a\nb/kestra3")));
    }

    void entryIsPrivateAndFollowsTheChoice()
    {
        const AutostartEntry entry =
            programAutostartEntry(kestra2Config(), QStringLiteral("/opt/k 2/kestra2"));
        QCOMPARE(autostartPath(entry.id), qEnvironmentVariable("XDG_CONFIG_HOME") +
                                              QStringLiteral("/autostart/net.kestra.kestra2.desktop"));
        QVERIFY(!autostartEnabled(entry.id));
        const mode_t old = ::umask(0);
        enableAutostart(entry);
        enableAutostart(entry); // again, over the existing entry
        ::umask(old);
        const Written w = written(autostartPath(entry.id));
        QCOMPARE(w.mode, mode_t(0600));
        QCOMPARE(w.text, QStringLiteral("[Desktop Entry]\nType=Application\nName=KESTRA2\n"
                                        "Comment=Weekly time switch on printer port 278, started at login\n"
                                        "Exec=\"/opt/k 2/kestra2\"\nIcon=net.kestra.kestra\nTerminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n"));
        QVERIFY(autostartEnabled(entry.id));
        // The other build's entry is its own.
        QVERIFY(!autostartEnabled(desktopId(kestra3Config())));
        disableAutostart(entry.id);
        QVERIFY(!autostartEnabled(entry.id));
        disableAutostart(entry.id); // nothing there: nothing to do
    }

    void unwritableEntryFailsAndLeavesNoEntry()
    {
        QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME"));
        QFile blocker(autostartDirectory()); // a file where the directory should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        try {
            enableAutostart(programAutostartEntry(kestra3Config(), QStringLiteral("/usr/bin/kestra3")));
            QFAIL("no failure");
        } catch (const Failure& f) {
            QCOMPARE(f.number, failure::kFile);
        }
        QVERIFY(!autostartEnabled(desktopId(kestra3Config())));
        QVERIFY(blocker.remove());
    }

    void installedFilesAreFoundBesideTheProgram()
    {
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        const QString bin = prefix.filePath(QStringLiteral("bin"));
        QVERIFY(installedDataFile(bin, QStringLiteral("help.html")).isEmpty());
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/kestra")));
        QFile page(prefix.filePath(QStringLiteral("share/kestra/help.html")));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.close();
        QCOMPARE(installedDataFile(bin, QStringLiteral("help.html")), page.fileName());
    }

    void iconIsDrawn()
    {
        const QImage image = programIcon().pixmap(48, 48).toImage();
        QCOMPARE(image.size(), QSize(48, 48));
        QVERIFY(qAlpha(image.pixel(24, 24)) == 255); // the dial, not a transparent hole
        QVERIFY(qAlpha(image.pixel(0, 0)) < 255);    // rounded corners
    }
};

QTEST_MAIN(TstDesktop)
#include "tst_desktop.moc"
