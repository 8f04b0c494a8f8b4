#include "shell/statustips.h"

#include "model/historysource.h"

#include <QEvent>
#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

namespace kestra::shell {

QString statusToolTip(const QString& own, const QString& hours)
{
    if (own.isEmpty()) return hours;
    if (hours.isEmpty()) return own;
    return own + QLatin1Char('\n') + hours;
}

StatusTips::StatusTips(history::HistorySource& hours, std::function<QString(int)> own, QObject* parent)
    : QObject(parent), m_hours(hours), m_own(std::move(own))
{
    connect(&m_hours, &history::HistorySource::hoursChanged, this, [this](int output) {
        if (output == m_shown && QToolTip::isVisible()) show(output, m_at);
    });
}

void StatusTips::watch(int output, QWidget* field)
{
    m_fields.at(output - 1) = field;
    field->installEventFilter(this);
}

QString StatusTips::text(int output) const
{
    return statusToolTip(m_own(output), history::hoursText(output, m_hours));
}

void StatusTips::show(int output, QPoint at)
{
    QWidget* field = m_fields.at(output - 1);
    if (!field) return;
    m_shown = output;
    m_at = at;
    QToolTip::showText(at, text(output), field);
}

bool StatusTips::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::ToolTip)
        for (int m = 1; m <= 8; ++m)
            if (watched == m_fields[m - 1]) {
                show(m, static_cast<QHelpEvent*>(e)->globalPos());
                return true;
            }
    return QObject::eventFilter(watched, e);
}

} // namespace kestra::shell
