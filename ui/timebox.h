#pragma once

#include <QComboBox>

namespace kestra::ui {

// An editable drop-down for a time text. Picking an entry or typing marks it as
// changed; the mark is cleared when the box is re-read or written to the record.
class TimeBox : public QComboBox
{
    Q_OBJECT
public:
    explicit TimeBox(const QString& name, QWidget* parent = nullptr);

    QString text() const { return currentText(); }
    // Shows a stored value; clears the changed mark.
    void setStoredText(const QString& text);
    void setPresets(const QStringList& presets);
    bool isChanged() const { return m_changed; }
    void clearChanged() { m_changed = false; }

signals:
    // The user changed the text (typed or picked).
    void edited();

private:
    bool m_changed = false;
};

} // namespace kestra::ui
