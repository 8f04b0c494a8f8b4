#include "views/widgets/timebox.h"

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
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { emit edited(text()); });
    connect(this, &QComboBox::activated, this, [this] { emit edited(text()); });
    connect(lineEdit(), &QLineEdit::returnPressed, this, &TimeBox::editEnded);
}

void TimeBox::showText(const QString& text)
{
    if (currentText() != text) setEditText(text);
}

void TimeBox::setPresets(const QStringList& presets)
{
    const QString keep = currentText();
    clear();
    addItems(presets);
    setEditText(keep);
}

void TimeBox::focusInEvent(QFocusEvent* e)
{
    QComboBox::focusInEvent(e);
    emit focusChanged(true);
}

void TimeBox::focusOutEvent(QFocusEvent* e)
{
    QComboBox::focusOutEvent(e);
    // The box's own list and a switch to another window do not end the edit.
    if (e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason) return;
    emit focusChanged(false);
    emit editEnded();
}

} // namespace kestra::ui
