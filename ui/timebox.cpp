#include "ui/timebox.h"

#include <QLineEdit>

namespace kestra::ui {

TimeBox::TimeBox(const QString& name, QWidget* parent) : QComboBox(parent)
{
    setObjectName(name);
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(12);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] {
        m_changed = true;
        emit edited();
    });
    connect(this, &QComboBox::activated, this, [this] {
        m_changed = true;
        emit edited();
    });
}

void TimeBox::setStoredText(const QString& text)
{
    setEditText(text);
    m_changed = false;
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

} // namespace kestra::ui
