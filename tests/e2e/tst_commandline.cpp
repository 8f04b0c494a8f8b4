// The programs' command line, run as a user would type it in a terminal with no
// display: it must print, end with the right code and leave no file behind.

#include "tests/support/sandbox.h"

#include <QDirIterator>

using namespace e2e;

namespace {
// Every file and directory under `root`, the root itself left out.
QStringList treeOf(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next().mid(root.size());
    entries.sort();
    return entries;
}
} // namespace

class TstCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void printsEndsAndTouchesNothing_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString k3 = QStringLiteral(KESTRA3_PATH);
        const QString k2 = QStringLiteral(KESTRA2_PATH);
        const QString panel = QStringLiteral(KESTRA_PANEL_PATH);
        QTest::newRow("kestra3 --help") << k3 << QStringList{"--help"} << 0 << "Usage: kestra3 [options]"
                                        << "";
        QTest::newRow("kestra3 --version") << k3 << QStringList{"--version"} << 0 << "kestra3 3.0.0\n"
                                           << "";
        QTest::newRow("kestra3 unknown") << k3 << QStringList{"--start"} << 2 << ""
                                         << "kestra3: Unknown option 'start'.";
        QTest::newRow("kestra3 argument") << k3 << QStringList{"now"} << 2 << ""
                                          << "unexpected argument 'now'";
        QTest::newRow("kestra2 -h") << k2 << QStringList{"-h"} << 0 << "printer port at 0x278"
                                    << "";
        QTest::newRow("kestra2 -v") << k2 << QStringList{"-v"} << 0 << "kestra2 3.0.0\n"
                                    << "";
        QTest::newRow("kestra2 unknown") << k2 << QStringList{"-platform", "xcb"} << 2 << ""
                                         << "Unknown option";
        QTest::newRow("panel --help")
            << panel << QStringList{"--help"} << 0 << "Usage: kestra-panel [options] [port]"
            << "";
        QTest::newRow("panel --version") << panel << QStringList{"--version"} << 0 << "kestra-panel 3.0.0\n"
                                         << "";
        QTest::newRow("panel unknown") << panel << QStringList{"--bogus", "3BC"} << 2 << ""
                                       << "Unknown option 'bogus'";
        QTest::newRow("panel wrong port") << panel << QStringList{"3BD"} << 2 << ""
                                          << "the port is 3BC or 278, not \"3BD\"";
    }

    void printsEndsAndTouchesNothing()
    {
        QFETCH(QString, exe);
        QFETCH(QStringList, args);
        Sandbox box;
        QVERIFY(box.valid());
        QTemporaryDir home;
        const QStringList before = treeOf(QDir(box.data()).absoluteFilePath(QStringLiteral("..")));
        QProcessEnvironment env = box.environment();
        env.insert(QStringLiteral("HOME"), home.path());
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(home.path());
        p.start(exe, args);
        QVERIFY(p.waitForFinished(10000));
        const QString printed = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString said = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QTEST(p.exitCode(), "exitCode");
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(out.isEmpty() ? printed.isEmpty() : printed.contains(out), qPrintable(printed));
        QVERIFY2(err.isEmpty() ? said.isEmpty() : said.contains(err), qPrintable(said));
        // No database, port file, help page, lock or placement: the tree is as it was.
        QCOMPARE(treeOf(QDir(box.data()).absoluteFilePath(QStringLiteral(".."))), before);
        QCOMPARE(treeOf(home.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_commandline.moc"
