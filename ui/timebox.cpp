#include "ui/timebox.h"

#include "common/timetext.h"

#include <QFocusEvent>
#include <QLineEdit>

namespace kestra::ui {

TimeBox::TimeBox(const QString& name, QWidget* parent) : QComboBox(parent)
{
    setObjectName(name);
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(12);
    // Inline completion turned a typed "0" into "00:00:00" with the rest
    // selected, so the next digit replaced it; the list stays behind the arrow.
    setCompleter(nullptr);
    connect(lineEdit(), &QLineEdit::textEdited, this, &TimeBox::userChanged);
    connect(this, &QComboBox::activated, this, &TimeBox::userChanged);
    connect(lineEdit(), &QLineEdit::returnPressed, this, &TimeBox::endOfEdit);
}

void TimeBox::userChanged()
{
    m_changed = true;
    if (tryParseTime(text())) m_lastGood = text();
    emit edited();
}

QString TimeBox::tickText() const
{
    return isEditing() ? m_lastGood : text();
}

bool TimeBox::isEditing() const
{
    if (text() == m_accepted) return false;
    // The box keeps its window's focus while another window is active.
    const QWidget* focus = window()->focusWidget();
    return focus == this || focus == lineEdit();
}

void TimeBox::setStoredText(const QString& text)
{
    setEditText(text);
    m_changed = false;
    m_accepted = text;
    m_lastGood = text;
}

void TimeBox::setPresets(const QStringList& presets)
{
    const QString keep = currentText();
    const bool changed = m_changed;
    clear();
    addItems(presets);
    setEditText(keep);
    m_changed = changed;
}

void TimeBox::finishEdit()
{
    const QString t = text();
    parseTime(t);
    m_accepted = t;
    m_lastGood = t;
}

void TimeBox::endOfEdit()
{
    if (text() != m_accepted) emit editFinished();
}

void TimeBox::focusOutEvent(QFocusEvent* e)
{
    QComboBox::focusOutEvent(e);
    // The box's own list and a switch to another window do not end the edit.
    if (e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason) return;
    endOfEdit();
}

} // namespace kestra::ui
