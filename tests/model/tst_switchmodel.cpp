#include "tests/support/testsupport.h"

// The switch without any window: edits handed to the model as a view hands
// them over, the clock moved by hand, the byte read back from the simulated
// port file.

#include "base/buildconfig.h"
#include "base/clock.h"
#include "base/failure.h"
#include "model/switchmodel.h"
#include "model/teller.h"
#include "model/timefield.h"
#include "storage/store/database.h"

#include <QFile>
#include <QTest>
#include <functional>

using namespace kestra;
using channels::Mode;

namespace {

class RecordingTeller final : public model::Teller
{
public:
    RecordingTeller() { model::setTeller(this); }
    ~RecordingTeller() override { model::setTeller(nullptr); }
    void modal(QObject*, const QString&, const QString& text) override { modals << text; }
    void notice(QObject*, const QString&, const QString& text) override { notices << text; }
    QStringList modals, notices;
};

struct Rig
{
    Rig()
        : db(store::Database::open(dir.filePath(QStringLiteral("Kestra3.db")), QDate(2024, 1, 1))),
          port(0x3BC, test::simulatedPortEnvironment(dir)),
          clock(QDateTime(QDate(2024, 1, 1), QTime(11, 59, 58))), // a Monday
          model(model::Context{kestra3Config(), port, *db, clock})
    {
        model.load();
    }
    quint8 dataByte() const
    {
        QFile f(dir.filePath(QStringLiteral("port-3BC")));
        return f.open(QIODevice::ReadOnly) ? quint8(f.read(1).at(0)) : 0;
    }
    // One tick of every channel, then the scan, at the clock's time.
    void tickAll()
    {
        for (int m = 1; m <= 8; ++m)
            model.channel(m).tick();
        model.scan();
    }

    QTemporaryDir dir;
    RecordingTeller teller;
    std::unique_ptr<store::Database> db;
    port::Port port;
    FakeClock clock;
    model::SwitchModel model;
};

} // namespace

class TstSwitchModel : public QObject
{
    Q_OBJECT
private slots:
    // Output 3 on Monday, 12:00:00 for 30 s, set up the way a window hands it
    // over: ON from the second after the start to the second before the end,
    // and stored for the next start.
    void editsOfAViewSwitchAtTheSecondAndAreStored()
    {
        Rig rig;
        model::Channel& c = rig.model.channel(3);
        c.clickDay(1, true);
        c.selectMode(Mode::Auto);
        c.editTime(0, QStringLiteral("12:00:00"));
        c.editTime(1, QStringLiteral("00:00:30"));
        c.ok();
        QVERIFY(rig.teller.modals.isEmpty());

        const quint8 allOff = 0xFF; // default polarity: an output ON is driven at 0 V
        for (const auto& [at, byte] : {std::pair{QTime(12, 0, 0), allOff},
                                       {QTime(12, 0, 1), quint8(allOff - 4)},
                                       {QTime(12, 0, 29), quint8(allOff - 4)},
                                       {QTime(12, 0, 30), allOff}}) {
            rig.clock.set(QDateTime(QDate(2024, 1, 1), at));
            rig.tickAll();
            QCOMPARE(rig.dataByte(), byte);
        }
        rig.model.unload();

        model::SwitchModel again(model::Context{kestra3Config(), rig.port, *rig.db, rig.clock});
        again.load();
        QVERIFY(again.channel(3).day(1));
        QCOMPARE(again.channel(3).mode(), Mode::Auto);
        QCOMPARE(again.channel(3).time(0).text(), QStringLiteral("12:00:00"));
    }

    // A time box converts its text once, when it changes; the ticks take that value.
    // Caught: a value left from an earlier text (typing "05:2" in a box that keeps
    // its focus switches at the last time that converted, never at a stale one,
    // and a box left with a text that is no time stops its channel with the
    // conversion failure, as a tick that converted the text itself did).
    void aTimeBoxConvertsOnceAndTicksTakeItsLastGoodTime_data()
    {
        QTest::addColumn<std::function<void(model::TimeField&)>>("steps");
        QTest::addColumn<int>("seconds"); // -1: not a time
        using S = std::function<void(model::TimeField&)>;
        QTest::newRow("stored") << S([](model::TimeField&) {}) << 6 * 3600;
        QTest::newRow("typing in the focused box") << S([](model::TimeField& f) {
            f.setFocused(true);
            f.edit(QStringLiteral("05:2"));
        }) << 6 * 3600;
        QTest::newRow("typed to a time") << S([](model::TimeField& f) {
            f.setFocused(true);
            f.edit(QStringLiteral("05:2"));
            f.edit(QStringLiteral("05:20:00"));
        }) << 5 * 3600 + 20 * 60;
        QTest::newRow("left with a text that is no time") << S([](model::TimeField& f) {
            f.setFocused(true);
            f.edit(QStringLiteral("05:20:00"));
            f.edit(QStringLiteral("05:2"));
            f.setFocused(false);
        }) << -1;
        QTest::newRow("finished, then stored again") << S([](model::TimeField& f) {
            f.setFocused(true);
            f.edit(QStringLiteral("07:00:00"));
            f.finishEdit();
            f.setFocused(false);
            f.setStored(QStringLiteral("08:00:00"));
        }) << 8 * 3600;
    }
    void aTimeBoxConvertsOnceAndTicksTakeItsLastGoodTime()
    {
        QFETCH(std::function<void(model::TimeField&)>, steps);
        QFETCH(int, seconds);
        model::TimeField start(QStringLiteral("start3a"), true);
        start.setStored(QStringLiteral("06:00:00"));
        steps(start);
        QCOMPARE(start.tickSeconds().value_or(-1), seconds);

        channels::ChannelControls c;
        c.channel = 3;
        c.starts << start.tickText();
        c.startSeconds.push_back(start.tickSeconds());
        c.runs << QStringLiteral("00:00:30");
        c.runSeconds.push_back(30);
        try {
            QCOMPARE(channels::convertSwitchings(c).at(0).start, seconds);
        } catch (const Failure& f) {
            QCOMPARE(seconds, -1);
            QCOMPARE(f.number, failure::kConversion);
        }
    }

    // An edit that no window could make (a client of the service names a day or
    // box that does not exist) is a fault: told, nothing changed, the switch goes on.
    void anImpossibleEditIsToldAndChangesNothing_data()
    {
        QTest::addColumn<std::function<void(model::SwitchModel&)>>("edit");
        using E = std::function<void(model::SwitchModel&)>;
        QTest::newRow("day 7") << E([](model::SwitchModel& m) { m.channel(3).clickDay(7, true); });
        QTest::newRow("finish day -1")
            << E([](model::SwitchModel& m) { m.channel(7).clickFinishDay(-1, true); });
        QTest::newRow("time box 2 of channel 3")
            << E([](model::SwitchModel& m) { m.channel(3).editTime(2, QStringLiteral("10:00:00")); });
        QTest::newRow("mapping of input 4")
            << E([](model::SwitchModel& m) { m.inputs().clickMapping(4, true, 1, 1); });
        QTest::newRow("mapping onto output 9")
            << E([](model::SwitchModel& m) { m.inputs().clickMapping(1, true, 9, 1); });
    }
    void anImpossibleEditIsToldAndChangesNothing()
    {
        QFETCH(std::function<void(model::SwitchModel&)>, edit);
        Rig rig;
        const channels::ChannelControls before = rig.model.channel(3).controls();
        edit(rig.model);
        QCOMPARE(rig.teller.notices.size(), 1);
        QVERIFY(rig.teller.notices.first().startsWith(QStringLiteral("An internal error")));
        QVERIFY(rig.model.channel(3).controls() == before);
        QCOMPARE(rig.model.inputs().mapping(1, true, 1), 0);
        rig.tickAll();
        QCOMPARE(rig.dataByte(), quint8(0xFF));
    }
};

QTEST_MAIN(TstSwitchModel)
#include "tst_switchmodel.moc"
