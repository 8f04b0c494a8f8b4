#pragma once

#include "base/buildconfig.h"
#include "model/historysource.h"

#include <array>

namespace kestra::client {

class RemoteSwitch;

// The history of a running switch in another process. The records are read
// from its history file on a read-only connection of the window's own: the
// same user's file, which SQLite lets many read while one writes, and no
// query of months of records waits in the switch's event loop between its
// ticks (the API's history calls run there, and give neither the filters nor
// the state before a day that the window shows). The hours, and their reset,
// go through the API, as the switch counts them.
class RemoteHistory final : public history::HistorySource
{
    Q_OBJECT
public:
    RemoteHistory(RemoteSwitch& remote, const BuildConfig& build, QObject* parent);

    QString path() const override;
    QString problem() const override;
    bool isCounting() const override;
    QString hoursProblem() const override;
    history::Hours hours(int output) const override;
    void resetHours(int output) override;

private:
    RemoteSwitch& m_remote;
    QString m_path; // where this program would keep it: until the switch says
    // The event after which a day's change made this ask for output m's hours.
    mutable std::array<qint64, 8> m_askedAfter{};
};

} // namespace kestra::client
