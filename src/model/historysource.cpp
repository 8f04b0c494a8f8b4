#include "model/historysource.h"

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

} // namespace kestra::history
