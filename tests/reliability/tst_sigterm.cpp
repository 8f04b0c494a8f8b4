#include "reliability.h"

// SIGTERM at random moments from the first instant of a start on. Within 2 s the
// program is gone, and the port holds every output OFF under the polarity in
// force with the control register clear, or it was never touched at all.
// KESTRA_RELIABILITY_SIGTERMS sets the count (50 by default).

using namespace reliability;

namespace {

// What the port file holds before the start; only a write of the program changes it.
constexpr PortBytes kUntouched{0x5A, 0x78, 0x07};

struct Plan
{
    bool firstStart = false;
    bool fiveVolts = false;
    int storedByte = 0;
    int delayMs = 0;
};

Plan plan(int trial, const Stretches& s)
{
    std::mt19937_64 rng = trialRandom(15, trial);
    Plan p;
    p.firstStart = trial % 2 == 0;
    p.fiveVolts = !p.firstStart && uniform(rng, 0, 1) == 1;
    p.storedByte = uniform(rng, 0, 255);
    p.delayMs = uniform(rng, 0, (p.firstStart ? s.creation : s.startUp) * 3 / 2 + 200);
    return p;
}

} // namespace

class TstSigterm : public QObject
{
    Q_OBJECT

    Groundwork m_ground;
    std::atomic<int> m_untouched{0};

    QString trial(int index)
    {
        const Plan p = plan(index, m_ground.stretches);
        const QString what = QStringLiteral("%1, %2, SIGTERM after %3 ms")
                                 .arg(p.firstStart ? QStringLiteral("first start") : QStringLiteral("start"),
                                      p.fiveVolts ? QStringLiteral("5 V is ON") : QStringLiteral("0 V is ON"))
                                 .arg(p.delayMs);
        Sandbox box;
        const Build b = kestra3();
        if (!putPort(box, b, kUntouched)) return what + QStringLiteral(": cannot lay out the port file");
        if (!p.firstStart &&
            (!m_ground.database.copyTo(box, b) ||
             !box.setFields(b, {{QStringLiteral("SOURCEPORT"), kestra::flagText(p.fiveVolts)},
                                {QStringLiteral("output"), QString::number(p.storedByte)}})))
            return what + QStringLiteral(": cannot lay out the database");

        Program k(box, b);
        if (!k.start()) return what + QStringLiteral(": did not start");
        sleepMs(p.delayMs);
        if (const QString late = termination(k); !late.isEmpty()) return what + QStringLiteral(": ") + late;

        const PortBytes port = box.port(b);
        QProcess& proc = k.process();
        if (port == kUntouched) {
            // Ended before it used the port: by the signal itself, or on its own way out.
            if (proc.exitStatus() == QProcess::CrashExit && proc.exitCode() != SIGTERM)
                return what + QStringLiteral(": crashed with signal %1").arg(proc.exitCode());
            ++m_untouched;
        } else {
            if (proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0)
                return what + QStringLiteral(": used the port, then ended with %1 %2 (standard error: %3)")
                                  .arg(proc.exitStatus() == QProcess::CrashExit ? QStringLiteral("signal")
                                                                                : QStringLiteral("code"))
                                  .arg(proc.exitCode())
                                  .arg(said(k));
            if (!(port == PortBytes{allOffByte(p.fiveVolts), 0x78, 0}))
                return what + QStringLiteral(": left the port at %1").arg(e2e::describe(port));
        }
        if (QFileInfo::exists(box.databasePath(b)) || !p.firstStart) {
            if (const QString problem = databaseProblem(box.databasePath(b)); !problem.isEmpty())
                return what + QStringLiteral(": database: ") + problem;
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        const QString problem = m_ground.lay(kestra3());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    void sigtermAtRandomMoments()
    {
        const int count = int(setting("KESTRA_RELIABILITY_SIGTERMS", 50));
        const auto results = runTrials(count, [this](int i) { return trial(i); });
        const QString text = summary(
            QStringLiteral("SIGTERM"),
            QStringLiteral("ended cleanly (%1 before using the port)").arg(m_untouched.load()), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TstSigterm)
#include "tst_sigterm.moc"
