// `kestra3 ctl` against a running `kestra3 --headless`, as a script uses it:
// what it prints, its exit codes, and its message when no switch runs; a place
// set from the command line is the running switch's at once.

#include "tests/support/sandbox.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTest>

using namespace e2e;

class TestCtl : public QObject
{
    Q_OBJECT

    // One run of `kestra3 ctl ARGS`: exit code, standard output, standard error.
    struct Run
    {
        int code = -1;
        QString out, err;
    };
    static Run ctl(const Sandbox& box, const QStringList& args)
    {
        QProcess p;
        p.setProcessEnvironment(box.environment());
        p.start(kestra3().exe, QStringList{QStringLiteral("ctl")} + args);
        Run r;
        if (!p.waitForFinished(10000)) return r;
        r.code = p.exitCode();
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

private slots:
    void scriptSteersAndWatches()
    {
        Sandbox box;
        const Build b = kestra3();
        {
            QSettings ini(box.iniPath(b), QSettings::IniFormat);
            ini.setValue(QStringLiteral("Api/Port"), 0); // beside a switch of the user's
        }
        Run none = ctl(box, {QStringLiteral("status")});
        QCOMPARE(none.code, 3);
        QVERIFY2(none.err.contains(QStringLiteral("no KESTRA3 switch is running")), qPrintable(none.err));

        Program k(box, b);
        k.setArguments({QStringLiteral("--headless")});
        QVERIFY(k.start());
        QVERIFY2(k.waitRunning(), qPrintable(k.standardError()));
        QVERIFY(waitUntil(
            [&] { return QFileInfo::exists(box.runtime() + QStringLiteral("/kestra/kestra3-api.json")); },
            5s));

        QProcess watch;
        watch.setProcessEnvironment(box.environment());
        watch.start(b.exe, {QStringLiteral("ctl"), QStringLiteral("watch")});
        QVERIFY(watch.waitForStarted());
        QByteArray watched;
        QVERIFY(waitUntil(
            [&] { return (watched += watch.readAllStandardOutput()).contains("watching KESTRA3"); }, 5s));

        const struct
        {
            QStringList args;
            int code;
            QString says; // in standard output (exit 0) or standard error
        } rows[] = {
            {{"mode", "3", "ON"}, 0, {}},
            {{"status"}, 0, "no mode chosen"},
            {{"next"}, 0, "no mode chosen"},
            {{"mode", "3", "MAYBE"}, 2, "AUTO, ON or OFF"},
            {{"mode", "9", "ON"}, 2, "1 to 8"},
            {{"mode", "3"}, 2, "an output and a mode"},
            {{"reboot"}, 2, "unknown command"},
            {{}, 2, "a command is needed"},
            {{"--help"}, 0, "Exit codes"},
            // The running switch stores the place itself, judged as its calendar window judges it.
            {{"place", "91", "13"}, 1, "latitude 91 is out of -90..90"},
            {{"place", "52.52", "13.405", "Berlin"}, 0, "place set: Berlin (52.5200 N, 13.4050 E)"},
            {{"sun", "2026-12-07"}, 0, "Berlin (52.5200 N"},
        };
        for (const auto& row : rows) {
            const Run r = ctl(box, row.args);
            QVERIFY2(r.code == row.code, qPrintable(row.args.join(' ') + ": " + r.err));
            QVERIFY2((row.code == 0 ? r.out : r.err).contains(row.says), qPrintable(r.out + r.err));
        }
        QVERIFY(waitUntil([&] { return box.port(b).data == 0xFB; }, 2s)); // output 3 ON under 0 V ON

        const Run json = ctl(box, {QStringLiteral("status"), QStringLiteral("--json")});
        QCOMPARE(json.code, 0);
        const QJsonObject state = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(state.value("api").toInt(), 1);
        QCOMPARE(state.value("port").toObject().value("byte").toInt(), 0xFB);
        const QJsonObject place = state.value("calendar").toObject().value("place").toObject();
        QCOMPARE(place.value("name").toString(), QStringLiteral("Berlin"));
        QCOMPARE(place.value("latitude").toDouble(), 52.52);

        QVERIFY(waitUntil(
            [&] { return (watched += watch.readAllStandardOutput()).contains("output 3 : ON (mode)"); }, 5s));

        QVERIFY(k.terminate());
        QVERIFY(watch.waitForFinished(5000));
        QCOMPARE(watch.exitCode(), 3);
        none = ctl(box, {QStringLiteral("mode"), QStringLiteral("3"), QStringLiteral("OFF")});
        QCOMPARE(none.code, 3);
        QVERIFY2(none.err.contains(QStringLiteral("no KESTRA3 switch is running")), qPrintable(none.err));
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"
