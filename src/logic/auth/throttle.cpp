#include "logic/auth/throttle.h"

namespace kestra::auth {

void LoginThrottle::forgetOld(std::deque<qint64>& times, qint64 now) const
{
    const qint64 window = std::chrono::milliseconds(kWindow).count();
    while (!times.empty() && (now - times.front() >= window || now < times.front()))
        times.pop_front();
}

qint64 LoginThrottle::waitFor(const QString& address)
{
    const qint64 now = m_clock.msecsSinceEpoch();
    const qint64 window = std::chrono::milliseconds(kWindow).count();
    forgetOld(m_all, now);
    qint64 wait = m_all.size() >= size_t(kAllAddresses) ? m_all.front() + window - now : 0;
    const auto it = m_failures.find(address);
    if (it != m_failures.end()) {
        forgetOld(*it, now);
        if (it->size() >= size_t(kPerAddress)) wait = qMax(wait, it->front() + window - now);
        if (it->empty()) m_failures.erase(it);
    }
    return qMax<qint64>(wait, 0);
}

void LoginThrottle::failed(const QString& address)
{
    const qint64 now = m_clock.msecsSinceEpoch();
    if (!m_failures.contains(address) && m_failures.size() >= kAddressesKept) {
        // Forget the address whose last failure is oldest.
        auto oldest = m_failures.begin();
        for (auto it = m_failures.begin(); it != m_failures.end(); ++it)
            if (it->empty() || (!oldest->empty() && it->back() < oldest->back())) oldest = it;
        m_failures.erase(oldest);
    }
    m_failures[address].push_back(now);
    m_all.push_back(now);
}

} // namespace kestra::auth
