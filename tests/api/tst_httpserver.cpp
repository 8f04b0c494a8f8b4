// The HTTP server when the switch's thread cannot take a request now: the
// front's own answer, where it has one (the web page), else the refusal.

#include "client/apirequest.h"
#include "service/api/httpserver.h"

#include <QTest>

using namespace kestra;

namespace {

// Lets everyone on, and has a page of its own for when the switch is busy.
class PlainPageWhenBusy final : public api::Authentication
{
public:
    bool allows(const QByteArray&) const override { return true; }
    std::optional<api::HttpResponse> whenBusy(const api::HttpRequest& r) const override
    {
        if (r.path != "/") return std::nullopt;
        return api::HttpResponse{200, "the plain page", "text/plain"};
    }
};

} // namespace

class TstHttpServer : public QObject
{
    Q_OBJECT
private slots:
    // One request at once, and no more for a long time: the second page load still gets a page.
    void pageWhileTheSwitchIsBusy()
    {
        PlainPageWhenBusy front;
        api::HttpLimits limits;
        limits.burst = 1;
        limits.requestsPerSecond = 0.001;
        QObject mainThread;
        api::HttpServer server(
            &mainThread, front,
            [](const api::HttpRequest&) {
                return api::HttpResponse{200, "from the switch", "text/plain"};
            },
            "/api/events", [] { return QByteArray(); }, limits);
        QString why;
        QVERIFY2(server.listen(0, &why), qPrintable(why));
        const api::Client client(server.port(), "any");
        const auto get = [&](const QByteArray& path) {
            return client.raw("GET " + path + " HTTP/1.0\r\n\r\n");
        };

        QCOMPARE(get("/").body, QByteArray("from the switch"));
        const api::Reply page = get("/");
        QCOMPARE(page.status, 200);
        QCOMPARE(page.body, QByteArray("the plain page"));
        QCOMPARE(get("/api/state").status, 429);
        server.stop();
    }
};

QTEST_GUILESS_MAIN(TstHttpServer)
#include "tst_httpserver.moc"
