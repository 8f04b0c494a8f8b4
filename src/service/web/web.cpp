#include "service/web/web.h"

#include "client/endpoint.h"
#include "model/switchmodel.h"
#include "model/teller.h"
#include "service/web/routes.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace kestra::web {

Web::Web(const api::Sources& sources) : m_sources(sources)
{
    const BuildConfig& build = sources.model.build();
    const WebSettings settings = readWebSettings(build);
    m_listening = decideListening(settings, api::configuredPort(build) ? api::configuredPort(build)
                                                                        : api::defaultPort(build));
    m_names = settings.names;
    if (m_listening.network()) {
        // An address typed into a browser cannot be rebound by a DNS answer: every one of this machine's is fine.
        const QHostAddress listened(m_listening.address);
        for (const QHostAddress& a : QNetworkInterface::allAddresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol && (listened == QHostAddress::AnyIPv4 || a == listened))
                m_names << a.toString();
    }
    if (!m_listening.refusal.isEmpty()) model::echo(build.title, QStringLiteral("Web page: %1.").arg(m_listening.refusal));
    if (!m_listening.warning.isEmpty()) model::echo(build.title, QStringLiteral("Web page: %1").arg(m_listening.warning));
    m_gate = std::make_unique<Gate>(build, sources.model.context().clock, m_listening);
}

std::optional<std::pair<quint16, api::ListenOptions>> Web::network()
{
    if (!m_listening.offered()) return std::nullopt;
    return std::pair{m_listening.port,
                     api::ListenOptions{m_listening.address.toLatin1(), m_listening.certificate, m_listening.key}};
}

void Web::listening(quint16 port, quint16 networkPort, const QByteArray& token)
{
    m_gate->setEndpoint(token, port, networkPort, m_names);
    const BuildConfig& build = m_sources.model.build();
    if (networkPort)
        model::echo(build.title, QStringLiteral("Web page: %1://%2:%3/")
                                     .arg(m_listening.tls() ? QStringLiteral("https") : QStringLiteral("http"),
                                          m_listening.address)
                                     .arg(networkPort));
}

std::optional<api::HttpResponse> Web::route(const api::HttpRequest& r)
{
    // Only a browser's session gets this far with the page: the gate sends others to the login page.
    if (r.browser && (r.path == "/" || r.path == "/index.html"))
        return m_gate->pageWithState(api::stateJson(m_sources));
    return web::route(m_sources, r);
}

} // namespace kestra::web
