#pragma once

#include "logic/calendar/settings.h"

#include <QWidget>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;

namespace kestra::model {
class SwitchModel;
}

namespace kestra::calendarview {

class CalendarSource;

// "Sun, holidays and presence" (`frmCalendar`): for one output, the anchor of
// each start and end of its switchings (clock, run time, sunrise, sunset, with
// offset and "not before" / "not after" limits) and its presence; for the
// switch, its place, twilight and holiday periods with the .ics import. OK
// stores it all in the calendar file at once, or refuses it naming the fault
// and changes nothing. A change stored by another view (the API) shows at once
// while nothing here is edited; edits made here are kept, and OK stores them.
// The calendar is the switch's in this process, or that of a running switch
// the program is attached to.
class CalendarWindow : public QWidget
{
    Q_OBJECT
public:
    CalendarWindow(model::SwitchModel& model, QWidget* owner);
    CalendarWindow(CalendarSource& source, QWidget* owner);

    // Shows the settings of output m (1 .. 8) as stored.
    void showOutput(int m);
    int output() const { return m_output; }
    // OK: true when stored (the window hides), or handed to a switch in another
    // process (it hides once that stored it, or says why not); false when refused.
    bool ok();
    // Adds the periods of an .ics file for this output, OFF; false (and a message) when refused.
    bool importIcs(const QString& path);

private:
    struct Row
    {
        QComboBox* kind;
        QLineEdit* offset;
        QLineEdit* notBefore;
        QLineEdit* notAfter;
    };
    void buildRows();
    void showHolidays();
    void showPreview();
    // The window's settings; throws Failure naming a field that does not read.
    calendar::Settings collect() const;
    void refuse(const QString& text);
    bool isEdited() const;
    // Greys the window while the switch does not answer, its caption saying so; true while it does.
    bool showReachable();

    CalendarSource& m_source;
    bool m_refused = false;
    int m_output = 3;
    calendar::Settings m_settings; // as loaded, with the holidays edited here
    calendar::Settings m_shown;    // what the fields showed when loaded: unedited while collect() equals it
    QLabel* m_caption;
    QWidget* m_rowsBox;
    std::vector<std::pair<Row, Row>> m_rows; // start, end of switching a, b, ...
    QSpinBox* m_presence;
    QLineEdit* m_latitude;
    QLineEdit* m_longitude;
    QLineEdit* m_placeName;
    QComboBox* m_twilight;
    QTableWidget* m_holidays;
    QLabel* m_preview;
};

} // namespace kestra::calendarview
