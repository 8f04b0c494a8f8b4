#include "model/timefield.h"

#include "base/timetext.h"

namespace kestra::model {

void TimeField::setStored(const QString& text)
{
    m_text = text;
    m_accepted = text;
    m_lastGood = text;
    m_changed = false;
}

void TimeField::edit(const QString& text)
{
    m_text = text;
    m_changed = true;
    if (tryParseTime(text)) m_lastGood = text;
}

void TimeField::finishEdit()
{
    parseTime(m_text);
    m_accepted = m_text;
    m_lastGood = m_text;
}

} // namespace kestra::model
