#pragma once

#include <QComboBox>

namespace kestra::ui {

// An editable drop-down for a time text. It holds nothing of its own: what the
// user types or picks goes to the switch as it happens, and the end of an edit
// (Enter, or the focus going to another control of the window) is reported so
// that the switch can judge it.
class TimeBox : public QComboBox
{
    Q_OBJECT
public:
    explicit TimeBox(const QString& name, QWidget* parent = nullptr);

    QString text() const { return currentText(); }
    // Shows a text the switch holds, unless it is shown already (the cursor stays).
    void showText(const QString& text);
    void setPresets(const QStringList& presets);

signals:
    // The user changed the text (typed or picked).
    void edited(const QString& text);
    // An edit ended: Enter, or the focus went to another control of the window.
    void editEnded();
    // The box took or lost its window's focus.
    void focusChanged(bool focused);

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
};

} // namespace kestra::ui
