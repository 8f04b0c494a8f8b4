#include "base/failure.h"
#include "model/errorroutine.h"
#include "views/widgets/messenger.h"

#include <QTest>
#include <QWidget>

using namespace kestra;
using namespace kestra::ui;
using namespace kestra::model;

class TstErrorRoutine : public QObject
{
    Q_OBJECT
private slots:
    void badEntryShowsTheMessageThenRereads_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("conversion") << 13;
        QTest::newRow("refused time") << 524;
    }
    void badEntryShowsTheMessageThenRereads()
    {
        QFETCH(int, number);
        RecordingMessenger messages;
        QWidget w;
        QStringList order;
        messages.whileOpen = [&] { order << "message"; };
        ErrorRoutine routine(&w, "KESTRA3", badEntryText, [&] { order << "reread"; });
        routine.run(Failure(number, "Type mismatch"));
        QCOMPARE(order, (QStringList{"message", "reread"}));
        QCOMPARE(messages.titles, QStringList{"KESTRA3"});
        QCOMPARE(
            messages.modals.first(),
            QString(
                "Enter the correct format ie. hh:mm:ss. Please no text. Change values by only 1 digit at a "
                "time, 00:00:00<>23:59:59\nError Number: %1\nError Description: Type mismatch")
                .arg(number));
    }

    void onlyOneMessageWhileItIsOpen()
    {
        RecordingMessenger messages;
        QWidget w;
        int rereads = 0;
        ErrorRoutine routine(&w, "KESTRA3", badEntryText, [&] { ++rereads; });
        // Timers tick while the box waits; they meet the same bad text again.
        messages.whileOpen = [&] {
            QVERIFY(routine.isShowing());
            routine.run(Failure(13, "again"));
            routine.run(Failure(13, "and again"));
        };
        routine.run(Failure(13, "first"));
        QCOMPARE(messages.modals.size(), 1);
        QCOMPARE(rereads, 1);
        QVERIFY(!routine.isShowing());
        routine.run(Failure(13, "later"));
        QCOMPARE(messages.modals.size(), 2);
    }

    void otherFailuresShowNoTimeMessage()
    {
        RecordingMessenger messages;
        QWidget w;
        int rereads = 0;
        ErrorRoutine routine(&w, "KESTRA3", badEntryText, [&] { ++rereads; });
        routine.run();
        routine.run(Failure(48, "no port"));
        QVERIFY(messages.modals.isEmpty());
        QVERIFY(messages.notices.isEmpty());
        // A settings file that cannot be written is told, once per problem, never as a time message.
        routine.run(Failure(3051, "disk full"));
        routine.run(Failure(3051, "disk full"));
        QCOMPARE(messages.notices.size(), 1);
        QVERIFY(messages.notices.first().contains("disk full"));
        QVERIFY(messages.modals.isEmpty());
        QCOMPARE(rereads, 0);
    }

    void aStoredBadTextIsShownOnceNotOnEveryTick()
    {
        RecordingMessenger messages;
        QWidget w;
        ErrorRoutine routine(&w, "KESTRA3", badEntryText, [] {});
        // The re-read brings back the same bad text: every tick fails the same way.
        for (int tick = 0; tick < 5; ++tick)
            guarded(routine, [] { throw Failure(13, "Type mismatch: \"12:6x\" is not a time"); });
        QCOMPARE(messages.modals.size(), 1);
        // Once a tick passes, the next bad entry is told again.
        guarded(routine, [] {});
        guarded(routine, [] { throw Failure(13, "Type mismatch: \"12:6x\" is not a time"); });
        QCOMPARE(messages.modals.size(), 2);
    }

    void quietWhileShuttingDown()
    {
        RecordingMessenger messages;
        QWidget w;
        int rereads = 0;
        ErrorRoutine routine(&w, "KESTRA3", badEntryText, [&] { ++rereads; });
        ErrorRoutine::setQuiet(true);
        routine.run(Failure(13, "bad at shutdown"));
        routine.run(Failure(3051, "cannot save at shutdown"));
        ErrorRoutine::setQuiet(false);
        QVERIFY(messages.modals.isEmpty());
        QVERIFY(messages.notices.isEmpty());
        QCOMPARE(rereads, 0);
    }

    void guardedCatchesEverything()
    {
        RecordingMessenger messages;
        QWidget w;
        int rereads = 0;
        ErrorRoutine routine(&w, "KESTRA3", badEntryText, [&] {
            ++rereads;
            throw Failure(13, "reread fails too");
        });
        guarded(routine, [] { throw Failure(13, "bad"); });
        QCOMPARE(messages.modals.size(), 1);
        QCOMPARE(rereads, 1);
        QVERIFY(messages.notices.isEmpty());
        // A fault of the program is neither swallowed nor left half done: what the
        // handler changed is undone, and it is told (once per fault), never as a time message.
        int value = 1;
        for (int twice = 0; twice < 2; ++twice)
            guarded(
                routine,
                [&] {
                    value = 2;
                    throw std::runtime_error("boom");
                },
                [&] { value = 1; });
        QCOMPARE(value, 1);
        QCOMPARE(messages.notices.size(), 1);
        QVERIFY(messages.notices.first().contains("boom"));
        guarded(routine, [] {});
        QCOMPARE(messages.modals.size(), 1);
    }
};

QTEST_MAIN(TstErrorRoutine)
#include "tst_errorroutine.moc"
