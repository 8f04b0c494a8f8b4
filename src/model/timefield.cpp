#include "model/timefield.h"

#include "base/timetext.h"

namespace kestra::model {

void TimeField::setStored(const QString& text)
{
    m_text = text;
    m_accepted = text;
    m_lastGood = text;
    m_textSeconds = tryParseTime(text);
    m_lastGoodSeconds = m_textSeconds;
    m_changed = false;
}

void TimeField::edit(const QString& text)
{
    m_text = text;
    m_changed = true;
    m_textSeconds = tryParseTime(text);
    if (m_textSeconds) {
        m_lastGood = text;
        m_lastGoodSeconds = m_textSeconds;
    }
}

void TimeField::finishEdit()
{
    m_textSeconds = parseTime(m_text);
    m_accepted = m_text;
    m_lastGood = m_text;
    m_lastGoodSeconds = m_textSeconds;
}

} // namespace kestra::model
