#pragma once

#include <QString>
#include <optional>

namespace kestra::model {

// A time text that the user edits in a window (a start, run or hold time) as
// the switch holds it. Typing or picking an entry marks it as changed; the mark
// is cleared when it is re-read or written to the record.
//
// Typing passes through texts that are not times yet ("05:2"). While the box
// is being edited (it holds its window's focus and its text differs from the
// last stored or accepted one) the ticks read tickText(), the last text that
// converted; the edit is judged only when it is finished (Enter, the focus
// leaving the box, OK).
class TimeField
{
public:
    TimeField() = default;
    TimeField(QString field, bool startList) : m_field(std::move(field)), m_startList(startList) {}

    // The record field it is written to ("start3a", "Run3a", "INP3TIME").
    const QString& field() const { return m_field; }
    // Whether it offers the start times (else the run times).
    bool offersStartTimes() const { return m_startList; }

    // The text as shown.
    const QString& text() const { return m_text; }
    // What the evaluation uses: the text as shown, or during an edit the last
    // text that converted.
    QString tickText() const { return isEditing() ? m_lastGood : m_text; }
    // What tickText() converts to (seconds of the day), converted once when the
    // text changes; nullopt for a text that is not a time.
    std::optional<int> tickSeconds() const { return isEditing() ? m_lastGoodSeconds : m_textSeconds; }
    bool isEditing() const { return m_focused && m_text != m_accepted; }
    bool isChanged() const { return m_changed; }
    void clearChanged() { m_changed = false; }

    // A stored value: clears the changed mark and ends an edit.
    void setStored(const QString& text);
    // The user typed or picked `text`.
    void edit(const QString& text);
    // The box holds its window's focus (the window's own focus stays with it
    // while another window is active or its list is open).
    void setFocused(bool focused) { m_focused = focused; }
    // Judges a finished edit: a text that converts becomes the accepted one (it
    // stays marked as changed until it is written); any other throws Failure 13.
    void finishEdit();
    // Whether a finished edit would be judged now (the text is not the accepted one).
    bool editPending() const { return m_text != m_accepted; }

private:
    QString m_field;
    bool m_startList = false;
    QString m_text;
    QString m_accepted; // last stored or accepted text
    QString m_lastGood; // last text that converted
    std::optional<int> m_textSeconds;
    std::optional<int> m_lastGoodSeconds;
    bool m_changed = false;
    bool m_focused = false;
};

} // namespace kestra::model
