#include "tests/support/sandbox.h"
#include "views/panel/panelwindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QSettings>
#include <QTest>
#include <QTime>
#include <ctime>

using namespace e2e;

Q_DECLARE_METATYPE(e2e::Fields)

namespace {

// Monday 7 December 2026, a few seconds before noon.
const QString kMonday = QStringLiteral("2026-12-07 11:59:55");

// Starts the build in the box, waits until it has set up the port and stops it:
// afterwards the database exists for the test to prepare.
#define FIRST_RUN(box, build) FIRST_RUN_AT(box, build, kMonday)

#define SET_FIELDS(box, build, ...)                                                                          \
    do {                                                                                                     \
        QString sqlError;                                                                                    \
        QVERIFY2((box).setFields(build, __VA_ARGS__, &sqlError), qPrintable(sqlError));                      \
    } while (false)

bool privateToUser(const QString& path)
{
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    return QFileInfo::exists(path) && !(QFile::permissions(path) & others);
}

// Fields that put a channel in AUTO on the given days only (day field names
// "Sun3" .. "Sat3"; channel 1's mode fields carry no digit).
Fields autoOn(int channel, const QStringList& days)
{
    const QString digit = channel == 1 ? QString() : QString::number(channel);
    Fields f{{QStringLiteral("Auto") + digit, QStringLiteral("True")},
             {QStringLiteral("On") + digit, QStringLiteral("False")},
             {QStringLiteral("Off") + digit, QStringLiteral("False")}};
    for (const char* day : {"Sun", "Mon", "Tue", "Wed", "Thr", "Fri", "Sat"})
        f.push_back({QLatin1String(day) + QString::number(channel),
                     days.contains(QLatin1String(day)) ? QStringLiteral("True") : QStringLiteral("False")});
    return f;
}

Fields operator+(Fields a, const Fields& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 5 V is ON, so the data byte reads as the set of outputs that are ON; the
// stored byte matches the file so that start-up adds no step of its own.
const Fields kFiveVoltsAllOff{{QStringLiteral("SOURCEPORT"), QStringLiteral("True")},
                              {QStringLiteral("output"), QStringLiteral("0")}};

QString valuesText(const QList<int>& values)
{
    QStringList parts;
    for (int v : values)
        parts << QString::number(v);
    return parts.join(QStringLiteral(" -> "));
}

QString traceText(const QList<PortBytes>& trace)
{
    QStringList parts;
    for (const PortBytes& p : trace)
        parts << describe(p);
    return parts.join(QStringLiteral(" -> "));
}

} // namespace

class TstE2e : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_FAKETIME(); }

    void firstStartCreatesItsFiles()
    {
        Sandbox box;
        const Build b = kestra3();
        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY2(k.waitRunning(), qPrintable(k.standardError()));
        QVERIFY(privateToUser(box.programDir()));
        QVERIFY(privateToUser(box.databasePath(b)));
        // A new record: polarity unchecked, so every output OFF is 255 once the scan has run.
        QVERIFY(waitUntil([&] { return box.port(b) == PortBytes{255, 0x78, 2}; }, 3s));
        QCOMPARE(box.field(b, QStringLiteral("SOURCEPORT")), QStringLiteral("False"));
        QCOMPARE(box.field(b, QStringLiteral("inp3date")), QStringLiteral("2026-12-07")); // the faked day

        QVERIFY2(k.terminate(), qPrintable(QStringLiteral("still running after %1 ms").arg(k.lastStopMs())));
        QCOMPARE(k.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(k.process().exitCode(), 0);
        QCOMPARE(box.port(b), (PortBytes{255, 0x78, 0}));
        QCOMPARE(box.field(b, QStringLiteral("output")), QStringLiteral("255"));
        QSettings ini(box.iniPath(b), QSettings::IniFormat);
        for (const char* key : {"MainLeft", "MainTop", "MainWidth", "MainHeight"}) {
            bool ok = false;
            ini.value(QStringLiteral("Settings/") + QLatin1String(key)).toString().toFloat(&ok);
            QVERIFY2(ok, key);
        }
    }

    // A first start never switches a relay ON, not even for a moment: with the
    // default polarity (0 V is ON) every data bit stays 1 from the file's creation on.
    void firstStartNeverSwitchesAnOutputOn()
    {
        Sandbox box;
        const Build b = kestra3();
        Program k(box, b);
        QSet<int> seen;
        QElapsedTimer sinceRunning;
        QVERIFY(k.start(kMonday));
        // Through the start-up writes and the first scans, however slow the start.
        const bool ran = waitUntil(
            [&] {
                const PortBytes p = box.port(b);
                seen << p.data;
                if (p.control == 2 && !sinceRunning.isValid()) sinceRunning.start();
                return sinceRunning.isValid() && sinceRunning.elapsed() > 1200;
            },
            20s, 1);
        QVERIFY2(ran, qPrintable(k.standardError()));
        QVERIFY(k.terminate());
        seen << box.port(b).data;
        seen.remove(-1); // the file does not exist yet
        QCOMPARE(seen, QSet<int>{255});
    }

    // Whatever the polarity and the signal, the program leaves every output OFF
    // and the control register clear, and is gone within two seconds.
    void shutdownLeavesOutputsOff_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("sourceport");
        QTest::addColumn<int>("allOff");
        QTest::newRow("SIGTERM, 0 V is ON") << int(SIGTERM) << "False" << 255;
        QTest::newRow("SIGTERM, 5 V is ON") << int(SIGTERM) << "True" << 0;
        QTest::newRow("SIGINT, 5 V is ON") << int(SIGINT) << "True" << 0;
        QTest::newRow("SIGHUP, 0 V is ON") << int(SIGHUP) << "False" << 255;
    }
    void shutdownLeavesOutputsOff()
    {
        QFETCH(int, signal);
        QFETCH(QString, sourceport);
        QFETCH(int, allOff);
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b, {{QStringLiteral("SOURCEPORT"), sourceport}});

        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY(k.waitRunning());
        QVERIFY(waitUntil([&] { return box.port(b) == PortBytes{allOff, 0x78, 2}; }, 3s));
        k.signal(signal);
        QVERIFY(k.process().waitForFinished(2000));
        QCOMPARE(k.process().exitCode(), 0);
        QCOMPARE(box.port(b), (PortBytes{allOff, 0x78, 0}));
        QCOMPARE(box.field(b, QStringLiteral("SOURCEPORT")), sourceport);
        QCOMPARE(box.field(b, QStringLiteral("output")), QString::number(allOff));
    }

    // Start-up puts the stored byte back before the first scan; a stored value
    // that is no byte tells nothing about the relays, so nothing is written until
    // the scan has its own byte.
    void storedByteAtStartUp_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("restored");
        QTest::newRow("5") << "5" << true;
        QTest::newRow("0") << "0" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("text") << "abc" << false;
        QTest::newRow("256") << "256" << false;
        QTest::newRow("-1") << "-1" << false;
    }
    void storedByteAtStartUp()
    {
        QFETCH(QString, stored);
        QFETCH(bool, restored);
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b, {{QStringLiteral("output"), stored}});
        constexpr int kUntouched = 0x5A;
        QVERIFY(box.writePort(b, 0, kUntouched));

        // Every state the file passes through, seen by polling every 2 ms; the
        // first scan comes 500 ms after the start-up writes.
        Program k(box, b);
        QList<PortBytes> trace{box.port(b)};
        QVERIFY(k.start(kMonday));
        const bool scanned = waitUntil(
            [&] {
                const PortBytes p = box.port(b);
                if (!(p == trace.last())) trace << p;
                return p == PortBytes{255, 0x78, 2};
            },
            10s, 2);
        QVERIFY2(scanned, qPrintable(k.standardError()));
        QSet<int> seen;
        for (const PortBytes& p : trace)
            seen << p.data;
        const int value = stored.toInt();
        if (restored) {
            QVERIFY2(trace.contains(PortBytes{value, 0x78, 2}), qPrintable(traceText(trace)));
            QCOMPARE(seen, (QSet<int>{kUntouched, value, 255}));
        } else {
            QVERIFY2(trace.contains(PortBytes{kUntouched, 0x78, 2}), qPrintable(traceText(trace)));
            QCOMPARE(seen, (QSet<int>{kUntouched, 255}));
        }
        QVERIFY(k.terminate());
        QCOMPARE(box.field(b, QStringLiteral("output")), QStringLiteral("255"));
    }

    // A database that is not a settings database is never rewritten; the program
    // says why and ends without driving the port.
    void unusableDatabaseLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("sql"); // run on a fresh SQLite file instead, when not empty
        QTest::newRow("not SQLite") << QByteArray("Access database, really\n") << QString();
        QTest::newRow("SQLite without the settings table")
            << QByteArray() << QStringLiteral("CREATE TABLE other (x TEXT)");
    }
    void unusableDatabaseLeftAlone()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, sql);
        Sandbox box;
        const Build b = kestra3();
        QVERIFY(QDir().mkpath(box.programDir()));
        if (sql.isEmpty()) {
            QFile f(box.databasePath(b));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(contents);
        } else {
            {
                QSqlDatabase db =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
                db.setDatabaseName(box.databasePath(b));
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec(sql));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("make"));
        }
        QFile before(box.databasePath(b));
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray original = before.readAll();

        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY2(waitUntil([&] { return k.standardError().contains(box.databasePath(b)); }, 10s),
                 qPrintable(k.standardError()));
        QVERIFY(k.terminate());
        QCOMPARE(k.process().exitCode(), 1);
        QFile after(box.databasePath(b));
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), original);
        QVERIFY(!QFileInfo::exists(box.portPath(b)));
    }

    // A placement stored before comes back, and is stored again at the end (a size
    // above the window's minimum, which would otherwise win, and within the
    // offscreen platform's 800x600 screen, which would otherwise be kept).
    void placementKept()
    {
        Sandbox box;
        const Build b = kestra3();
        {
            QSettings ini(box.iniPath(b), QSettings::IniFormat);
            ini.setValue(QStringLiteral("Settings/MainLeft"), QStringLiteral("1500"));
            ini.setValue(QStringLiteral("Settings/MainTop"), QStringLiteral("1200"));
            ini.setValue(QStringLiteral("Settings/MainWidth"), QStringLiteral("9000"));
            ini.setValue(QStringLiteral("Settings/MainHeight"), QStringLiteral("8400"));
        }
        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY(k.waitRunning());
        QVERIFY(k.terminate());
        QSettings ini(box.iniPath(b), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("Settings/MainLeft")).toString(), QStringLiteral("1500"));
        QCOMPARE(ini.value(QStringLiteral("Settings/MainTop")).toString(), QStringLiteral("1200"));
        QCOMPARE(ini.value(QStringLiteral("Settings/MainWidth")).toString(), QStringLiteral("9000"));
        QCOMPARE(ini.value(QStringLiteral("Settings/MainHeight")).toString(), QStringLiteral("8400"));
    }

    // The second start of the same build attaches its windows to the running
    // switch and never touches the port, not even when it is sent SIGTERM.
    void secondInstanceAttaches()
    {
        Sandbox box;
        const Build b = kestra3();
        Program first(box, b);
        QVERIFY(first.start(kMonday));
        QVERIFY(first.waitRunning());
        QVERIFY(waitUntil([&] { return box.port(b) == PortBytes{255, 0x78, 2}; }, 3s));
        QVERIFY(waitUntil(
            [&] { return QFileInfo::exists(box.runtime() + QStringLiteral("/kestra/kestra3-api.json")); }, 5s));
        // Marks that only a write by the second instance could change.
        QVERIFY(box.writePort(b, 0, 0x5A));
        QVERIFY(box.writePort(b, 2, 0x07));

        Program second(box, b);
        QVERIFY(second.start(kMonday));
        QTest::qWait(1500);
        QCOMPARE(second.process().state(), QProcess::Running); // its windows are up
        QVERIFY2(!second.standardError().contains(QLatin1String("already running")),
                 qPrintable(second.standardError()));
        QVERIFY(second.terminate());
        QCOMPARE(second.process().exitCode(), 0);
        QCOMPARE(box.port(b), (PortBytes{0x5A, 0x78, 0x07}));

        QCOMPARE(first.process().state(), QProcess::Running);
        QVERIFY(first.terminate());
        QCOMPARE(box.port(b), (PortBytes{255, 0x78, 0}));
    }

    // A schedule edge of each kind of channel, on the real clock of a chosen day:
    // the data bytes seen from the start, and when the last change came.
    void scheduleEdges_data()
    {
        QTest::addColumn<QString>("moment"); // the program's clock at start
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<QList<int>>("bytes"); // successive data bytes while running
        QTest::addColumn<int>("lastChange");   // seconds after the start at which the last change is due

        QTest::newRow("channel 3, single: ON the second after its start")
            << kMonday
            << autoOn(3, {QStringLiteral("Mon")}) +
                   Fields{{QStringLiteral("Start3a"), QStringLiteral("12:00:00")},
                          {QStringLiteral("Run3a"), QStringLiteral("00:30:00")}}
            << QList<int>{0, 4} << 6;
        QTest::newRow("channel 4, double: switching b ON at its start second")
            << kMonday
            << autoOn(4, {QStringLiteral("Mon")}) +
                   Fields{{QStringLiteral("Start4a"), QStringLiteral("08:00:00")},
                          {QStringLiteral("Run4a"), QStringLiteral("00:10:00")},
                          {QStringLiteral("Start4b"), QStringLiteral("12:00:00")},
                          {QStringLiteral("Run4b"), QStringLiteral("00:10:00")}}
            << QList<int>{0, 8} << 5;
        QTest::newRow("channel 7 over midnight: ON through it, OFF after the finish second")
            << QStringLiteral("2026-12-07 23:59:55")
            << autoOn(7, {QStringLiteral("Mon")}) +
                   Fields{{QStringLiteral("TUE7A"), QStringLiteral("True")},
                          {QStringLiteral("Start7a"), QStringLiteral("22:00:00")},
                          {QStringLiteral("Run7a"), QStringLiteral("00:00:02")}}
            << QList<int>{0, 64, 0} << 8;
        QTest::newRow("channel 7 over midnight, no finish day: OFF at midnight")
            << QStringLiteral("2026-12-07 23:59:55")
            << autoOn(7, {QStringLiteral("Mon"), QStringLiteral("Tue")}) +
                   Fields{{QStringLiteral("Start7a"), QStringLiteral("22:00:00")},
                          {QStringLiteral("Run7a"), QStringLiteral("00:00:02")}}
            << QList<int>{0, 64, 0} << 5;
        Fields ten = autoOn(8, {QStringLiteral("Mon")});
        for (char k = 'a'; k <= 'j'; ++k) {
            // Switchings e and j fall into the run, two seconds apart; the others lie elsewhere in the day.
            const QString start = k == 'e' ? QStringLiteral("11:59:56")
                                  : k == 'j'
                                      ? QStringLiteral("12:00:00")
                                      : QStringLiteral("%1:00:00").arg(k - 'a' + 1, 2, 10, QLatin1Char('0'));
            ten.push_back({QStringLiteral("Start8") + QLatin1Char(k), start});
            ten.push_back({QStringLiteral("Run8") + QLatin1Char(k),
                           k == 'e' || k == 'j' ? QStringLiteral("00:00:01") : QStringLiteral("00:30:00")});
        }
        QTest::newRow("channel 8, ten switchings: e and j, OFF between and after")
            << kMonday << ten << QList<int>{0, 128, 0, 128, 0} << 7;
    }
    void scheduleEdges()
    {
        QFETCH(QString, moment);
        QFETCH(Fields, fields);
        QFETCH(QList<int>, bytes);
        QFETCH(int, lastChange);
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b, kFiveVoltsAllOff + fields);
        QVERIFY(box.writePort(b, 0, 0));

        Program k(box, b);
        QElapsedTimer sinceStart;
        sinceStart.start();
        QVERIFY(k.start(moment));
        QList<int> seen{0};
        qint64 lastChangeMs = 0;
        const bool done = waitUntil(
            [&] {
                const PortBytes p = box.port(b);
                if (p.control == 2 && p.data != seen.last()) {
                    seen << p.data;
                    lastChangeMs = sinceStart.elapsed();
                }
                return seen.size() >= bytes.size();
            },
            std::chrono::seconds(lastChange + 5), 5);
        QVERIFY2(
            done && seen == bytes,
            qPrintable(QStringLiteral("bytes %1, expected %2").arg(valuesText(seen), valuesText(bytes))));
        qInfo("last change %lld ms after the start (due at %d s)", lastChangeMs, lastChange);
        // The program's clock started with the process, so a change due at second
        // n cannot come before n real seconds; a tick and a scan may add up to one.
        QVERIFY2(lastChangeMs >= lastChange * 1000 && lastChangeMs <= lastChange * 1000 + 3000,
                 qPrintable(QStringLiteral("last change after %1 ms").arg(lastChangeMs)));
        QVERIFY(k.terminate());
        QCOMPARE(box.port(b).data, 0);
        // What was prepared is still stored as it was.
        for (const auto& [name, value] : fields)
            QCOMPARE(box.field(b, name), value);
    }

    // A switching reaches the port early in its second, wherever the second falls
    // against the machine's monotonic clock. The program's clock is set ahead by a
    // fraction of a second chosen so that ticks tied to the monotonic clock (a 500 ms
    // grid on its whole half seconds) would come about 450 ms into every second.
    void edgesComeEarlyInTheirSecond()
    {
        constexpr qint64 kWell = 300; // ms into the second: "well within" it
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);

        timespec real{}, mono{};
        clock_gettime(CLOCK_REALTIME, &real);
        clock_gettime(CLOCK_MONOTONIC, &mono);
        const qint64 gridPhase =
            (((real.tv_sec - mono.tv_sec) * 1000 + (real.tv_nsec - mono.tv_nsec) / 1000000) % 500 + 500) %
            500;
        const qint64 shiftMs = ((450 - gridPhase) % 500 + 500) % 500;
        const auto programNow = [&] { return QDateTime::currentMSecsSinceEpoch() + shiftMs; };

        // A switching of three seconds, far enough ahead for the start-up, not over midnight.
        QVERIFY(waitUntil(
            [&] {
                return QDateTime::fromMSecsSinceEpoch(programNow() + 20000, Qt::UTC).time() > QTime(0, 0, 20);
            },
            25s));
        const QDateTime start = QDateTime::fromMSecsSinceEpoch((programNow() / 1000 + 8) * 1000, Qt::UTC);
        const QString day =
            QStringList{"Mon", "Tue", "Wed", "Thr", "Fri", "Sat", "Sun"}.at(start.date().dayOfWeek() - 1);
        SET_FIELDS(box, b,
                   kFiveVoltsAllOff + autoOn(3, {day}) +
                       Fields{{QStringLiteral("Start3a"), start.time().toString(QStringLiteral("HH:mm:ss"))},
                              {QStringLiteral("Run3a"), QStringLiteral("00:00:03")}});
        QVERIFY(box.writePort(b, 0, 0));

        Program k(box, b);
        k.setEnvironment(QStringLiteral("LD_PRELOAD"), libfaketime());
        k.setEnvironment(QStringLiteral("FAKETIME"),
                         QStringLiteral("+0.%1").arg(shiftMs * 1000, 6, 10, QLatin1Char('0')));
        k.setEnvironment(QStringLiteral("DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        QVERIFY(k.start());
        QVERIFY(k.waitRunning());
        QVERIFY2(programNow() < start.toMSecsSinceEpoch(), "the start-up took longer than the lead");

        // ON the second after the start, OFF at start + run.
        const QList<QPair<int, qint64>> due{{4, start.toMSecsSinceEpoch() + 1000},
                                            {0, start.toMSecsSinceEpoch() + 3000}};
        QList<QPair<int, qint64>> seen;
        QVERIFY(waitUntil(
            [&] {
                const int data = box.port(b).data;
                if (data != (seen.isEmpty() ? 0 : seen.last().first)) seen << qMakePair(data, programNow());
                return seen.size() >= due.size();
            },
            15s, 2));
        QVERIFY(k.terminate());
        for (int i = 0; i < due.size(); ++i) {
            const qint64 into = seen[i].second - due[i].second;
            qInfo("byte %d seen %lld ms into its second", seen[i].first, into);
            QCOMPARE(seen[i].first, due[i].first);
            QVERIFY2(into >= 0 && into < kWell,
                     qPrintable(
                         QStringLiteral("byte %1 came %2 ms into its second").arg(seen[i].first).arg(into)));
        }
    }

    // Inputs 1 and 2 act on channels in AUTO only; a channel in manual mode keeps its state.
    void inputForcesOutput_data()
    {
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<int>("status"); // the input pulled low
        QTest::addColumn<QList<int>>("bytes");

        QTest::newRow("input 1 mapped ON to channel 3")
            << autoOn(3, {}) + Fields{{QStringLiteral("1INP ON3"), QStringLiteral("True")}} << 0xF8
            << QList<int>{0, 4, 0};
        QTest::newRow("input 2 mapped OFF beats the schedule of channel 5")
            << autoOn(5, {QStringLiteral("Mon")}) +
                   Fields{{QStringLiteral("Start5a"), QStringLiteral("00:00:00")},
                          {QStringLiteral("Run5a"), QStringLiteral("23:59:59")},
                          {QStringLiteral("2INP OFF5"), QStringLiteral("True")}}
            << 0x38 << QList<int>{0, 16, 0, 16};
        QTest::newRow("channel 3 held ON ignores input 1, channel 4 in AUTO follows it")
            << Fields{{QStringLiteral("On3"), QStringLiteral("True")},
                      {QStringLiteral("1INP OFF3"), QStringLiteral("True")},
                      {QStringLiteral("1INP ON4"), QStringLiteral("True")}} +
                   autoOn(4, {})
            << 0xF8 << QList<int>{0, 4, 12, 4};
    }
    void inputForcesOutput()
    {
        QFETCH(Fields, fields);
        QFETCH(int, status);
        QFETCH(QList<int>, bytes);
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b, kFiveVoltsAllOff + fields);
        QVERIFY(box.writePort(b, 0, 0));

        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY(k.waitRunning());
        QList<int> seen{0};
        auto follow = [&](int count) {
            return waitUntil(
                [&] {
                    const PortBytes p = box.port(b);
                    if (p.control == 2 && p.data != seen.last()) seen << p.data;
                    return seen.size() >= count;
                },
                5s);
        };
        const qsizetype beforeInput = bytes.size() - 2; // the input's step and its release
        QVERIFY2(follow(beforeInput), qPrintable(valuesText(seen)));
        QVERIFY(box.writePort(b, 1, quint8(status)));
        QVERIFY2(follow(beforeInput + 1), qPrintable(valuesText(seen)));
        QVERIFY(box.writePort(b, 1, 0x78));
        QVERIFY2(follow(bytes.size()), qPrintable(valuesText(seen)));
        QCOMPARE(seen, bytes);
        QVERIFY(k.terminate());
    }

    // The service without windows, as the systemd unit starts it, with no display
    // to be had: a switching at its second, an input forcing an output in the
    // cycle that reads it, and SIGTERM leaving every output OFF.
    void headlessService()
    {
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b,
                   kFiveVoltsAllOff + autoOn(3, {QStringLiteral("Mon")}) + autoOn(5, {}) +
                       Fields{{QStringLiteral("Start3a"), QStringLiteral("12:00:00")},
                              {QStringLiteral("Run3a"), QStringLiteral("00:30:00")},
                              {QStringLiteral("1INP ON5"), QStringLiteral("True")}});
        QVERIFY(box.writePort(b, 0, 0));

        Program k(box, b);
        k.setArguments({QStringLiteral("--headless")});
        k.setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        k.setEnvironment(QStringLiteral("DISPLAY"), QString());
        k.setEnvironment(QStringLiteral("WAYLAND_DISPLAY"), QString());
        QVERIFY(k.start(kMonday));
        QVERIFY2(k.waitRunning(), qPrintable(k.standardError()));
        QVERIFY2(waitUntil([&] { return box.port(b).data == 4; }, 10s), qPrintable(describe(box.port(b))));
        QElapsedTimer input;
        input.start();
        QVERIFY(box.writePort(b, 1, 0xF8));
        QVERIFY2(waitUntil([&] { return box.port(b).data == 4 + 16; }, 2s, 1),
                 qPrintable(describe(box.port(b))));
        qInfo("input 1 reached the port %lld ms after it changed", input.elapsed());
        QVERIFY(k.terminate());
        QCOMPARE(box.port(b), (PortBytes{0, 0xF8, 0}));
        QCOMPARE(k.process().exitCode(), 0);
        QCOMPARE(k.standardError(), QString());
    }

    // Input 3 keeps its output ON for the hold time after it is released, and the
    // moment it was last seen reaches the stored record.
    void input3Hold()
    {
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b,
                   kFiveVoltsAllOff + autoOn(3, {}) +
                       Fields{{QStringLiteral("3INP ON3"), QStringLiteral("True")},
                              {QStringLiteral("INP3TIME"), QStringLiteral("00:00:05")}});
        QVERIFY(box.writePort(b, 0, 0));

        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY(k.waitRunning());
        QVERIFY(box.writePort(b, 1, 0x58)); // input 3 pulled low
        QVERIFY(waitUntil([&] { return box.port(b).data == 4; }, 3s));
        QElapsedTimer sinceRelease;
        QVERIFY(box.writePort(b, 1, 0x78));
        sinceRelease.start();
        QVERIFY(waitUntil([&] { return box.port(b).data != 4; }, 10s));
        const qint64 heldMs = sinceRelease.elapsed();
        QCOMPARE(box.port(b).data, 0);
        qInfo("held %lld ms after the release", heldMs);
        // The hold counts from the last whole second input 3 was seen ON (up to a
        // second and a sample before the release); a tick and a scan may add a second.
        QVERIFY2(heldMs >= 3000 && heldMs <= 7000, qPrintable(QStringLiteral("held %1 ms").arg(heldMs)));
        QVERIFY(k.terminate());

        QCOMPARE(box.field(b, QStringLiteral("inp3date")), QStringLiteral("2026-12-07"));
        const QTime last =
            QTime::fromString(box.field(b, QStringLiteral("inp3start")), QStringLiteral("HH:mm:ss"));
        QVERIFY2(last.isValid() && last >= QTime(11, 59, 55) && last <= QTime(12, 0, 30),
                 qPrintable(box.field(b, QStringLiteral("inp3start"))));
        QCOMPARE(box.field(b, QStringLiteral("INP3TIME")), QStringLiteral("00:00:05"));
        QCOMPARE(box.field(b, QStringLiteral("output")), QStringLiteral("0"));
    }

    // What a new user does: the panel beside the running program, a flip of
    // input 1, and the lamp of the mapped output lights.
    void panelBesideTheProgram()
    {
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b,
                   kFiveVoltsAllOff + autoOn(3, {}) +
                       Fields{{QStringLiteral("1INP ON3"), QStringLiteral("True")}});
        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY(k.waitRunning());

        const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", box.data().toLocal8Bit());
        kestra::panel::PanelWindow window(kestra::kestra3Config());
        qputenv("XDG_DATA_HOME", oldDataHome);
        QCOMPARE(window.portPath(), box.portPath(b));
        window.show();
        auto* lamp3 = window.findChild<QLabel*>(QStringLiteral("State3"));
        QTRY_COMPARE(window.findChild<QLabel*>(QStringLiteral("lblPolarity"))
                         ->text()
                         .contains(QLatin1String("5 V is ON")),
                     true);
        QTRY_COMPARE(lamp3->text(), QStringLiteral("OFF"));

        window.findChild<QCheckBox*>(QStringLiteral("Input1"))->click();
        QCOMPARE(box.port(b).status, 0xF8);
        QTRY_COMPARE_WITH_TIMEOUT(lamp3->text(), QStringLiteral("ON"), 3000);
        QCOMPARE(box.port(b).data, 4);
        window.findChild<QCheckBox*>(QStringLiteral("Input1"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(lamp3->text(), QStringLiteral("OFF"), 3000);

        QVERIFY(k.terminate());
        QTRY_VERIFY(window.findChild<QLabel*>(QStringLiteral("lblControl"))
                        ->text()
                        .startsWith(QLatin1String("Control: 0 ")));
    }

    // kestra2 keeps its own files and runs beside kestra3.
    void kestra2BesideKestra3()
    {
        Sandbox box;
        const Build two = kestra2();
        const Build three = kestra3();
        Program k3(box, three);
        QVERIFY(k3.start(kMonday));
        QVERIFY(k3.waitRunning());
        Program k2(box, two);
        QVERIFY(k2.start(kMonday));
        QVERIFY2(k2.waitRunning(), qPrintable(k2.standardError()));
        QVERIFY(QFileInfo::exists(box.databasePath(two)));
        QVERIFY(waitUntil([&] { return box.port(two) == PortBytes{255, 0x78, 2}; }, 3s));

        QVERIFY(k2.terminate());
        QCOMPARE(k2.process().exitCode(), 0);
        QCOMPARE(box.port(two), (PortBytes{255, 0x78, 0}));
        QVERIFY(QFileInfo::exists(box.iniPath(two)));
        QCOMPARE(box.port(three).control, 2); // kestra3 runs on untouched
        QCOMPARE(box.field(two, QStringLiteral("output")), QStringLiteral("255"));
        QVERIFY(k3.terminate());
        QCOMPARE(box.port(three), (PortBytes{255, 0x78, 0}));
    }
};

QTEST_MAIN(TstE2e)
#include "tst_e2e.moc"
