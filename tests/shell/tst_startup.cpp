#include "common/buildconfig.h"
#include "common/paths.h"
#include "shell/singleinstance.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace kestra;

// What start-up decides before any window exists.
class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(ensureProgramDirectory().isEmpty()); }

    // The lock lives in the program directory: a second session with another
    // runtime directory, or none, still finds the first one running.
    void oneInstancePerBuildWhateverTheRuntimeDirectory()
    {
        QTemporaryDir other;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        shell::SingleInstance first(kestra3Config().lockPath());
        QVERIFY(first.acquire());
        QCOMPARE(first.lockPath(), programDirectory() + QStringLiteral("/Kestra3.lock"));
        for (const QByteArray& dir : {other.path().toLocal8Bit(), QByteArray()}) {
            qputenv("XDG_RUNTIME_DIR", dir);
            shell::SingleInstance second(kestra3Config().lockPath());
            QVERIFY2(!second.acquire(), dir.constData());
        }
        qputenv("XDG_RUNTIME_DIR", runtime);
        shell::SingleInstance two(kestra2Config().lockPath()); // the other build runs beside it
        QVERIFY(two.acquire());
    }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
