#include "model/historysource.h"

#include "logic/history/rows.h"
#include "model/recorder.h"

namespace kestra::history {

RecorderHistory::RecorderHistory(Recorder& recorder, QObject* parent)
    : HistorySource(parent), m_recorder(recorder)
{
    connect(&m_recorder, &Recorder::countingEnded, this, &HistorySource::countingEnded);
}

QString RecorderHistory::path() const
{
    return m_recorder.path();
}

void RecorderHistory::sync()
{
    // Waiting for the writer is quick while the file is fine; while another
    // program holds it, or the hours are being counted, the window shows what
    // is there instead of waiting.
    if (m_recorder.problem().isEmpty() && !m_recorder.isCounting()) m_recorder.sync();
}

QString RecorderHistory::problem() const
{
    return m_recorder.problem();
}
bool RecorderHistory::isCounting() const
{
    return m_recorder.isCounting();
}
QString RecorderHistory::hoursProblem() const
{
    return m_recorder.hoursProblem();
}
Hours RecorderHistory::hours(int output) const
{
    return m_recorder.hours(output);
}
void RecorderHistory::resetHours(int output)
{
    m_recorder.resetHours(output);
}

QString hoursText(int output, const HistorySource& source)
{
    if (!source.problem().isEmpty()) return QStringLiteral("No history in this run: %1").arg(source.problem());
    if (source.isCounting()) return QStringLiteral("Output %1: operating hours counting…").arg(output);
    if (!source.hoursProblem().isEmpty())
        return QStringLiteral("Output %1: operating hours not counted in this run (%2)")
            .arg(output)
            .arg(source.hoursProblem());
    return hoursText(output, source.hours(output));
}

} // namespace kestra::history
