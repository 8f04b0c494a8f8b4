#pragma once

#include "logic/web/websettings.h"
#include "service/api/api.h"
#include "service/web/gate.h"

#include <memory>

namespace kestra::web {

// The web page of the switch on the API's server: its files, logins and
// routes, and where the server listens (the placement file's group "Web").
class Web final : public api::Front
{
public:
    explicit Web(const api::Sources& sources);

    api::Authentication& authentication() override { return *m_gate; }
    std::optional<std::pair<quint16, api::ListenOptions>> network() override;
    void listening(quint16 port, quint16 networkPort, const QByteArray& token) override;
    std::optional<api::HttpResponse> route(const api::HttpRequest& r) override;

    const Listening& where() const { return m_listening; }
    const Gate& gate() const { return *m_gate; }

private:
    api::Sources m_sources;
    Listening m_listening;
    QStringList m_names;
    std::unique_ptr<Gate> m_gate;
};

} // namespace kestra::web
