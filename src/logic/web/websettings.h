#pragma once

#include "base/buildconfig.h"

#include <QString>
#include <QStringList>

namespace kestra::web {

// The web page's part of the placement file (group "Web"). The settings
// database is not touched: other programs read it.
//
//   PasswordHash  the password as libcrypt's yescrypt hash; none: only login links
//   Address       where else to listen besides 127.0.0.1: an address of the network, or 0.0.0.0
//   Port          ... on this port; by default the API's plus one (40957 for kestra3)
//   Names         host names the switch answers to besides its addresses (DNS rebinding)
//   Certificate   a PEM certificate file, and
//   Key           its key file: TLS
struct WebSettings
{
    QString passwordHash;
    QString address = QStringLiteral("127.0.0.1");
    int port = 0; // 0: the API's plus one
    QStringList names;
    QString certificate;
    QString key;

    bool wantsTls() const { return !certificate.isEmpty() || !key.isEmpty(); }
};

WebSettings readWebSettings(const BuildConfig& build);
// Stores a new hash (empty: none). Returns what went wrong, or an empty text.
QString storePasswordHash(const BuildConfig& build, const QString& hash);

// Whether `address` is one of the loopback interface.
bool isLoopback(const QString& address);

// Where the page is offered besides 127.0.0.1, decided from the settings: the
// address and port, and why not the ones asked for (no password set, a
// certificate that cannot be read); the PEM texts when TLS is on. The API's
// own server stays on 127.0.0.1 without TLS for the local clients.
struct Listening
{
    QString address = QStringLiteral("127.0.0.1");
    quint16 port = 0;
    QByteArray certificate;
    QByteArray key;
    QString refusal;  // why the address asked for is not used; empty when it is
    QString warning;  // reachable from the network without TLS; empty otherwise

    bool tls() const { return !certificate.isEmpty(); }
    bool network() const { return !isLoopback(address); }
    // Whether a second server offers the page (on the network, or with TLS).
    bool offered() const { return network() || tls(); }
};
// `apiPort`: the port of the API on 127.0.0.1.
Listening decideListening(const WebSettings& settings, quint16 apiPort);

} // namespace kestra::web
