#include "tests/support/sandbox.h"

#include <QElapsedTimer>
#include <QTest>

using namespace e2e;

namespace {
// The history as another program sees it: the integrity check, and the data
// bytes and input states recorded, oldest first.
struct Seen
{
    QString integrity;
    QList<int> bytes;
    QList<int> inputs;
    QStringList lastCauses; // of the newest write, per output
};

Seen readHistory(const QString& path)
{
    Seen s;
    const QString connection = QStringLiteral("e2e-history");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
                s.integrity = q.value(0).toString();
            q.exec(QStringLiteral("SELECT byte FROM port_writes ORDER BY ms"));
            while (q.next())
                s.bytes << q.value(0).toInt();
            q.exec(QStringLiteral("SELECT inputs FROM input_changes ORDER BY ms"));
            while (q.next())
                s.inputs << q.value(0).toInt();
            q.exec(QStringLiteral(
                "SELECT cause FROM output_changes WHERE ms = (SELECT max(ms) FROM port_writes) "
                "ORDER BY output"));
            while (q.next())
                s.lastCauses << q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return s;
}

// Consecutive equal values once: the changes a watcher of the port file sees.
QList<int> changes(const QList<int>& values)
{
    QList<int> out;
    for (int v : values)
        if (out.isEmpty() || out.last() != v) out << v;
    return out;
}
} // namespace

class TstHistory : public QObject
{
    Q_OBJECT
private slots:
    // Killed while input 1 switches output 5 every few hundred ms: the file is
    // whole, holds what the port did up to the last batch (a second at most
    // before the kill), and the next run goes on with it.
    void killedWhileRecording()
    {
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN_AT(box, b, QString());
        QString error;
        QVERIFY2(box.setFields(
                     b, {{"SOURCEPORT", "True"}, {"output", "0"}, {"Auto5", "True"}, {"1INP ON5", "True"}},
                     &error),
                 qPrintable(error));
        const QString history = box.programDir() + QStringLiteral("/History3BC.db");
        const int runsBefore = changes(readHistory(history).bytes).size();

        Program k(box, b);
        QVERIFY(k.start());
        QVERIFY2(k.waitRunning(), qPrintable(k.standardError()));
        QList<int> watched{box.port(b).data};
        QList<qint64> at{0};
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 12; ++i) {
            const bool on = i % 2 == 0;
            QVERIFY(box.writePort(b, 1, on ? 0xF8 : 0x78)); // input 1 ON / OFF
            QVERIFY2(waitUntil([&] { return box.port(b).data == (on ? 16 : 0); }, 3s),
                     qPrintable(
                         QStringLiteral("output 5 did not follow input 1 (%1)").arg(describe(box.port(b)))));
            watched << box.port(b).data;
            at << t.elapsed();
            QTest::qWait(150);
        }
        const qint64 killedAt = t.elapsed();
        k.signal(SIGKILL);
        QVERIFY(k.process().waitForFinished(5000));
        QCOMPARE(k.process().exitStatus(), QProcess::CrashExit);

        const Seen killed = readHistory(history);
        QCOMPARE(killed.integrity, QStringLiteral("ok"));
        // The changes of this run: what was watched, without those of the last batch.
        const QList<int> recorded = changes(killed.bytes).mid(runsBefore);
        int lastSecond = 0;
        for (qint64 ms : at)
            if (killedAt - ms <= 1200) ++lastSecond;
        QVERIFY2(
            recorded.size() >= watched.size() - lastSecond - 1 && recorded.size() <= watched.size(),
            qPrintable(QStringLiteral("recorded %1 of %2 changes").arg(recorded.size()).arg(watched.size())));
        QCOMPARE(recorded, watched.mid(0, recorded.size()));
        QVERIFY(killed.inputs.size() >= 2);

        // The next run takes the file as it is and adds to it. The killed run
        // left the control register set; cleared, it tells when the next is up.
        QVERIFY(box.writePort(b, 2, 0));
        Program again(box, b);
        QVERIFY(again.start());
        QVERIFY2(again.waitRunning(), qPrintable(again.standardError()));
        QVERIFY(again.terminate());
        const Seen after = readHistory(history);
        QCOMPARE(after.integrity, QStringLiteral("ok"));
        QCOMPARE(after.bytes.mid(0, killed.bytes.size()), killed.bytes);
        QVERIFY(after.bytes.size() >= killed.bytes.size() + 2); // start-up and shutdown at least
        QCOMPARE(after.lastCauses, QStringList(8, QStringLiteral("shutdown")));
        QVERIFY(!QFile::exists(history + QStringLiteral("-wal")));
    }
};

QTEST_MAIN(TstHistory)
#include "tst_history.moc"
