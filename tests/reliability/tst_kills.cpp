#include "reliability.h"

// kill -9 at random moments of a first start, a start, the running program and
// its shutdown. Whatever the moment, the database is whole (or, killed while it
// was first made, not there at all) and the next start comes up and ends cleanly.
// KESTRA_RELIABILITY_KILLS sets the count (100 by default).

using namespace reliability;

namespace {

enum class Phase { Creation, StartUp, Running, Shutdown };

const char* phaseName(Phase p)
{
    switch (p) {
    case Phase::Creation:
        return "first start";
    case Phase::StartUp:
        return "start";
    case Phase::Running:
        return "running";
    case Phase::Shutdown:
        return "shutdown";
    }
    return "?";
}

struct Plan
{
    Phase phase = Phase::StartUp;
    int delayMs = 0;     // from the start, or from the moment the port was set up (running, shutdown)
    int afterTermMs = 0; // shutdown: from SIGTERM to the kill
    bool fiveVolts = false;
    int storedByte = 0;
};

Plan plan(int trial, const Stretches& s)
{
    std::mt19937_64 rng = trialRandom(9, trial);
    Plan p;
    p.phase = Phase(trial % 4);
    p.fiveVolts = uniform(rng, 0, 1) == 1;
    p.storedByte = uniform(rng, 0, 255);
    switch (p.phase) {
    case Phase::Creation:
        // Every other one aimed at the making of the database, a short stretch.
        if (trial % 8 == 0 || s.made <= s.making)
            p.delayMs = uniform(rng, 0, s.creation * 3 / 2);
        else
            p.delayMs = uniform(rng, std::max(0, s.making - 10), s.made + 10);
        break;
    case Phase::StartUp:
        p.delayMs = uniform(rng, 0, s.startUp * 3 / 2);
        break;
    case Phase::Running:
        p.delayMs = uniform(rng, 0, 1000);
        break;
    case Phase::Shutdown:
        p.delayMs = uniform(rng, 0, 300);
        p.afterTermMs = uniform(rng, 0, s.shutdown * 2 + 5);
        break;
    }
    return p;
}

QString describe(const Plan& p)
{
    QString text =
        QStringLiteral("%1, kill after %2 ms").arg(QLatin1String(phaseName(p.phase))).arg(p.delayMs);
    if (p.phase == Phase::Shutdown) text += QStringLiteral(" and %1 ms after SIGTERM").arg(p.afterTermMs);
    return text;
}

} // namespace

class TstKills : public QObject
{
    Q_OBJECT

    Groundwork m_ground;

    // One kill and the start after it.
    QString trial(int index)
    {
        const Plan p = plan(index, m_ground.stretches);
        const QString what = describe(p);
        Sandbox box;
        const Build b = kestra3();
        // Input 3 held active, so that the record has news to save at every shutdown.
        if (!putPort(box, b, {0xFF, 0x58, 0})) return what + QStringLiteral(": cannot lay out the port file");
        if (p.phase != Phase::Creation) {
            if (!m_ground.database.copyTo(box, b) ||
                !box.setFields(b, {{QStringLiteral("SOURCEPORT"), kestra::flagText(p.fiveVolts)},
                                   {QStringLiteral("output"), QString::number(p.storedByte)}}))
                return what + QStringLiteral(": cannot lay out the database");
        }

        {
            Program k(box, b);
            if (!k.start()) return what + QStringLiteral(": did not start");
            if (p.phase == Phase::Running || p.phase == Phase::Shutdown) {
                if (!k.waitRunning(10s))
                    return what + QStringLiteral(": did not come up before the kill: ") + said(k);
            }
            sleepMs(p.delayMs);
            if (p.phase == Phase::Shutdown) {
                k.signal(SIGTERM);
                sleepMs(p.afterTermMs);
            }
            k.signal(SIGKILL);
            if (!k.process().waitForFinished(5000))
                return what + QStringLiteral(": still there after kill -9");
        }

        const bool created = QFileInfo::exists(box.databasePath(b));
        if (created || p.phase != Phase::Creation) {
            if (const QString problem = databaseProblem(box.databasePath(b)); !problem.isEmpty())
                return what + QStringLiteral(": after the kill: ") + problem;
        }
        const bool fiveVolts = created && kestra::parseFlag(box.field(b, QStringLiteral("SOURCEPORT")));

        // The kill may have left the port set up; the next start must set it up itself.
        if (!box.writePort(b, 2, 0)) return what + QStringLiteral(": cannot reset the port file");
        Program next(box, b);
        if (!next.start() || !next.waitRunning(10s))
            return what + QStringLiteral(": the next start did not come up: ") + said(next);
        if (const QString late = termination(next); !late.isEmpty())
            return what + QStringLiteral(": the next start ") + late;
        if (next.process().exitStatus() != QProcess::NormalExit || next.process().exitCode() != 0)
            return what + QStringLiteral(": the next start ended with %1").arg(next.process().exitCode());
        const PortBytes port = box.port(b);
        if (!(port == PortBytes{allOffByte(fiveVolts), 0x58, 0}))
            return what + QStringLiteral(": the next start left the port at %1").arg(e2e::describe(port));
        if (const QString problem = databaseProblem(box.databasePath(b)); !problem.isEmpty())
            return what + QStringLiteral(": after the next start: ") + problem;
        if (const QStringList stray = strayFiles(box, b); !stray.isEmpty())
            return what + QStringLiteral(": left behind: ") + stray.join(QStringLiteral(", "));
        return {};
    }

private slots:
    void initTestCase()
    {
        const QString problem = m_ground.lay(kestra3());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    void killNineAtRandomMoments()
    {
        const int count = int(setting("KESTRA_RELIABILITY_KILLS", 100));
        const auto results = runTrials(count, [this](int i) { return trial(i); });
        const QString text = summary(QStringLiteral("kill -9"), QStringLiteral("intact"), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TstKills)
#include "tst_kills.moc"
