#include "common/diagnostics.h"

#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kestra;
using namespace std::chrono_literals;

namespace {

// Both ends of a pipe or a stream socket pair; the reading end never blocks.
struct Channel
{
    int read = -1, write = -1;
    explicit Channel(bool socket)
    {
        int fds[2];
        const bool ok = socket ? ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0
                               : ::pipe2(fds, O_CLOEXEC) == 0;
        if (!ok) return;
        read = fds[0];
        write = fds[1];
        ::fcntl(read, F_SETFL, O_NONBLOCK);
    }
    ~Channel()
    {
        ::close(read);
        ::close(write);
    }
    // Fills it to the last byte; the writing end blocks again afterwards.
    void fill() const
    {
        const int flags = ::fcntl(write, F_GETFL);
        ::fcntl(write, F_SETFL, flags | O_NONBLOCK);
        const QByteArray block(1024, '-');
        for (const qsizetype size : {block.size(), qsizetype(1)})
            while (::write(write, block.constData(), size_t(size)) > 0) {
            }
        ::fcntl(write, F_SETFL, flags);
    }
    QByteArray drain() const
    {
        QByteArray all;
        char buffer[4096];
        for (ssize_t n; (n = ::read(read, buffer, sizeof buffer)) > 0;)
            all.append(buffer, n);
        return all;
    }
};

} // namespace

class TstDiagnostics : public QObject
{
    Q_OBJECT
private slots:
    // Lines said at given seconds of a fake clock, and the lines that come out.
    void repeatsOncePerMinute_data()
    {
        QTest::addColumn<QList<int>>("seconds");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<QStringList>("written"); // after a flush
        QTest::newRow("different lines each")
            << QList<int>{0, 1} << QStringList{"link: connecting", "link: unreachable"}
            << QStringList{"link: connecting", "link: unreachable"};
        QTest::newRow("the same line within a minute: once, then the count")
            << QList<int>{0, 1, 2, 30}
            << QStringList{"ignored: no output 9", "ignored: no output 9", "ignored: no output 0",
                           "ignored: no output 12"}
            << QStringList{"ignored: no output 9",
                           "ignored: no output 12 [3 more like this in the last minute]"};
        QTest::newRow("the count is said with the next line after the minute")
            << QList<int>{0, 10, 61} << QStringList{"a 1", "a 2", "b"}
            << QStringList{"a 1", "a 2 [1 more like this in the last minute]", "b"};
        QTest::newRow("a minute later the line is new again")
            << QList<int>{0, 60, 61} << QStringList{"a 1", "a 2", "a 3"}
            << QStringList{"a 1", "a 2", "a 3 [1 more like this in the last minute]"};
    }
    void repeatsOncePerMinute()
    {
        QFETCH(QList<int>, seconds);
        QFETCH(QStringList, said);
        QFETCH(QStringList, written);
        const Channel pipe(false);
        auto now = std::chrono::steady_clock::time_point{};
        Diagnostics d(pipe.write, [&] { return now; });
        for (qsizetype i = 0; i < said.size(); ++i) {
            now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(seconds[i]);
            d.say(said[i]);
        }
        d.flush();
        QCOMPARE(QString::fromLocal8Bit(pipe.drain()).split('\n', Qt::SkipEmptyParts), written);
    }

    // A reader that does not read: saying returns at once, the lines that do
    // not fit are counted, and said as a count once there is room.
    void neverWaitsForTheReader_data()
    {
        QTest::addColumn<bool>("socket");
        QTest::newRow("pipe") << false;
        QTest::newRow("stream socket, as the journal's") << true;
    }
    void neverWaitsForTheReader()
    {
        QFETCH(bool, socket);
        const Channel channel(socket);
        Diagnostics d(channel.write);
        channel.fill();
        std::atomic<bool> done{false};
        std::thread speaker([&] {
            for (int n = 0; n < 50; ++n)
                d.say(QStringLiteral("line %1 of a kind %2").arg(n).arg(QString(n, QLatin1Char('x'))));
            done = true;
        });
        const bool returned = QTest::qWaitFor([&] { return done.load(); }, 5000);
        if (!returned) {
            channel.drain(); // lets the blocked write go, so that the thread can be joined
            speaker.join();
            QFAIL("saying waited for the reader");
        }
        speaker.join();
        QCOMPARE(d.dropped(), quint64(50));
        QVERIFY(!channel.drain().contains("line"));
        d.say(QStringLiteral("room again"));
        QCOMPARE(QString::fromLocal8Bit(channel.drain()),
                 QStringLiteral("50 lines dropped: standard error was not read\nroom again\n"));
    }
};

QTEST_GUILESS_MAIN(TstDiagnostics)
#include "tst_diagnostics.moc"
