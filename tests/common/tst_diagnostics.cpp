#include "base/diagnostics.h"

#include <QTest>
#include <fcntl.h>
#include <unistd.h>

using namespace kestra;

namespace {
QByteArray drain(int fd)
{
    QByteArray all;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, n);
    return all;
}
} // namespace

class TstDiagnostics : public QObject
{
    Q_OBJECT
private slots:
    // Lines said at the given seconds, and what comes out after a flush.
    void repeatsOncePerMinute_data()
    {
        QTest::addColumn<QList<int>>("seconds");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("different lines each") << QList<int>{0, 1} << QStringList{"connecting", "unreachable"}
                                              << QStringList{"connecting", "unreachable"};
        QTest::newRow("within a minute, whatever the numbers: once, then the count")
            << QList<int>{0, 1, 30} << QStringList{"no output 9", "no output 9", "no output 12"}
            << QStringList{"no output 9", "no output 12 [2 more like this in the last minute]"};
        QTest::newRow("the count comes with the next line after the minute")
            << QList<int>{0, 10, 61} << QStringList{"a 1", "a 2", "b"}
            << QStringList{"a 1", "a 2 [1 more like this in the last minute]", "b"};
    }
    void repeatsOncePerMinute()
    {
        QFETCH(QList<int>, seconds);
        QFETCH(QStringList, said);
        QFETCH(QStringList, written);
        int fds[2];
        QVERIFY(::pipe2(fds, O_NONBLOCK) == 0);
        auto now = std::chrono::steady_clock::time_point{};
        Diagnostics d(fds[1], [&] { return now; });
        for (qsizetype i = 0; i < said.size(); ++i) {
            now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(seconds[i]);
            d.say(said[i]);
        }
        d.flush();
        QCOMPARE(QString::fromLocal8Bit(drain(fds[0])).split('\n', Qt::SkipEmptyParts), written);
        ::close(fds[0]), ::close(fds[1]);
    }
};

QTEST_GUILESS_MAIN(TstDiagnostics)
#include "tst_diagnostics.moc"
