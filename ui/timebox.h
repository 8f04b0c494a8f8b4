#pragma once

#include <QComboBox>

namespace kestra::ui {

// An editable drop-down for a time text. Picking an entry or typing marks it as
// changed; the mark is cleared when the box is re-read or written to the record.
//
// Typing passes through texts that are not times yet ("05:2"). While the box
// is being edited (it holds its window's focus and its text differs from the
// last stored or accepted one) the ticks read tickText(), the last text that
// converted; the edit is judged only when it is finished (Enter, the focus
// leaving the box, OK, closing the window).
class TimeBox : public QComboBox
{
    Q_OBJECT
public:
    explicit TimeBox(const QString& name, QWidget* parent = nullptr);

    QString text() const { return currentText(); }
    // What the evaluation uses: the text as shown, or while it is being edited
    // the last text that converted.
    QString tickText() const;
    bool isEditing() const;
    // Shows a stored value; clears the changed mark and ends an edit.
    void setStoredText(const QString& text);
    void setPresets(const QStringList& presets);
    bool isChanged() const { return m_changed; }
    void clearChanged() { m_changed = false; }
    // Judges a finished edit: a text that converts becomes the accepted one (it
    // stays marked as changed until it is written); any other throws Failure 13.
    void finishEdit();

signals:
    // The user changed the text (typed or picked).
    void edited();
    // An edit ended (Enter, or the focus went to another control of the window)
    // with a text other than the accepted one; the window judges it.
    void editFinished();

protected:
    void focusOutEvent(QFocusEvent* e) override;

private:
    void userChanged();
    void endOfEdit();

    bool m_changed = false;
    QString m_accepted; // last stored or accepted text
    QString m_lastGood; // last text that converted
};

} // namespace kestra::ui
