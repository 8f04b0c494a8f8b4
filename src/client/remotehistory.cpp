#include "client/remotehistory.h"

#include "client/remoteswitch.h"
#include "logic/history/record.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace kestra::client {

namespace {
constexpr double kMsPerHour = 3600.0 * 1000.0;

const QString kNotRunning = QStringLiteral("The time switch is not running: its hours are not known until it "
                                           "is back. The records are those of its file.");

qint64 msOf(const QJsonValue& hours)
{
    return std::llround(hours.toDouble() * kMsPerHour);
}
} // namespace

RemoteHistory::RemoteHistory(RemoteSwitch& remote, const BuildConfig& build, QObject* parent)
    : HistorySource(parent), m_remote(remote), m_path(history::historyPath(build))
{
    // The first state after attaching holds the hours counted; the records of the count are in the file.
    connect(&m_remote, &RemoteSwitch::attached, this, &HistorySource::countingEnded);
    connect(&m_remote, &RemoteSwitch::outputChanged, this, &HistorySource::hoursChanged);
}

QString RemoteHistory::path() const
{
    return m_remote.historyFile().isEmpty() ? m_path : m_remote.historyFile();
}

QString RemoteHistory::problem() const
{
    return m_remote.isAttached() ? QString() : kNotRunning;
}

bool RemoteHistory::isCounting() const
{
    return m_remote.output(1).hours.value(QStringLiteral("counting")).toBool();
}

QString RemoteHistory::hoursProblem() const
{
    if (!m_remote.isAttached()) return kNotRunning;
    return m_remote.output(1).hours.value(QStringLiteral("problem")).toString();
}

history::Hours RemoteHistory::hours(int output) const
{
    const Output& out = m_remote.output(output);
    const QJsonObject& o = out.hours;
    history::Hours h;
    h.todayMs = msOf(o.value(QStringLiteral("today")));
    h.weekMs = msOf(o.value(QStringLiteral("week")));
    h.monthMs = msOf(o.value(QStringLiteral("month")));
    h.totalMs = msOf(o.value(QStringLiteral("total")));
    h.resetMs =
        QDateTime::fromString(o.value(QStringLiteral("since")).toString(), Qt::ISODate).toMSecsSinceEpoch();
    // They are as of the output's last event: an output ON since then has
    // counted on. Within the day of that event the time passed is added; after
    // midnight the switch is asked again, and meanwhile today starts at midnight.
    if (!m_remote.isAttached() || out.driven != std::optional<bool>(true)) return h;
    const QDateTime told = QDateTime::fromMSecsSinceEpoch(m_remote.outputTime(output));
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 passed = std::max<qint64>(0, told.msecsTo(now));
    h.weekMs += passed;
    h.monthMs += passed;
    h.totalMs += passed;
    if (now.date() == told.date()) {
        h.todayMs += passed;
    } else {
        h.todayMs = QDateTime(now.date(), QTime(0, 0)).msecsTo(now);
        if (m_askedAfter[size_t(output - 1)] != told.toMSecsSinceEpoch()) {
            m_askedAfter[size_t(output - 1)] = told.toMSecsSinceEpoch();
            m_remote.refreshOutput(output);
        }
    }
    return h;
}

void RemoteHistory::resetHours(int output)
{
    m_remote.send({{"command", "resetHours"}, {"output", output}}, this, [this](const CommandResult& r) {
        if (!r.ok()) emit refused(r.text.isEmpty() ? kNotRunning : r.text);
    });
}

} // namespace kestra::client
