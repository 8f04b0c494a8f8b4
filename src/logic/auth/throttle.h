#pragma once

#include "base/clock.h"

#include <QHash>
#include <QString>
#include <chrono>
#include <deque>

namespace kestra::auth {

// The brake on guessing passwords: each address may fail a few times a
// minute; after that its attempts are refused unseen until the minute has
// passed. All addresses together have a larger budget, so that a guesser
// spread over many addresses is slowed down too.
class LoginThrottle
{
public:
    static constexpr int kPerAddress = 5;
    static constexpr int kAllAddresses = 30;
    static constexpr std::chrono::minutes kWindow{1};
    static constexpr int kAddressesKept = 1024;

    explicit LoginThrottle(const Clock& clock) : m_clock(clock) {}

    // Milliseconds until `address` may try again; 0: now.
    qint64 waitFor(const QString& address);
    void failed(const QString& address);
    // A good password clears the address's record.
    void succeeded(const QString& address) { m_failures.remove(address); }

private:
    void forgetOld(std::deque<qint64>& times, qint64 now) const;

    const Clock& m_clock;
    QHash<QString, std::deque<qint64>> m_failures;
    std::deque<qint64> m_all;
};

} // namespace kestra::auth
