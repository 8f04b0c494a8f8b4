#pragma once

#include "common/buildconfig.h"

#include <QString>
#include <QStringList>

namespace kestra::web {

// The web page's part of the placement file (group "Web"). The settings
// database is not touched: other programs read it.
//
//   PasswordHash  the password as libcrypt's yescrypt hash; none: only login links
//   Address       where to listen: 127.0.0.1 (the default), another address, or 0.0.0.0
//   Names         host names the switch answers to besides its addresses (DNS rebinding)
//   Certificate   a PEM certificate file, and
//   Key           its key file: TLS
struct WebSettings
{
    QString passwordHash;
    QString address = QStringLiteral("127.0.0.1");
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

// Where the service listens, decided from the settings: the address, and why
// it is not the one asked for (no password set, a certificate that cannot be
// read); the PEM texts when TLS is on.
struct Listening
{
    QString address = QStringLiteral("127.0.0.1");
    QByteArray certificate;
    QByteArray key;
    QString refusal;  // why the address asked for is not used; empty when it is
    QString warning;  // reachable from the network without TLS; empty otherwise

    bool tls() const { return !certificate.isEmpty(); }
    bool network() const { return !isLoopback(address); }
};
Listening decideListening(const WebSettings& settings);

} // namespace kestra::web
