#pragma once

#include "base/clock.h"
#include "logic/history/rows.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableWidget;

namespace kestra::history {

class HistorySource;
class Recorder;
class Timeline;

// frmHistory: the records newest first, filtered by output or input and by
// dates, one day of the outputs as a timeline, and the operating hours with a
// reset per output. It shows what the history layer reads from the file, and
// the hours of the switch in this process or of the one it is attached to.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    // Rows listed at most; the newest of the range are shown.
    static constexpr int kMaxRows = 5000;

    HistoryWindow(Recorder& recorder, const Clock& clock, QWidget* owner);
    HistoryWindow(HistorySource& source, const Clock& clock, QWidget* owner);
    ~HistoryWindow() override;

    // Reads the file again: records, timeline and hours.
    void refresh();
    // Writes the rows shown as CSV; false (and says why) when it cannot.
    bool exportCsv(const QString& path);
    const QList<Row>& rows() const { return m_rows; }
    // Asked before the hours of an output are reset; a question box unless replaced.
    void setConfirm(std::function<bool(const QString&)> confirm) { m_confirm = std::move(confirm); }

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void refreshRecords();
    void refreshTimeline();
    void refreshHours();
    void resetSelected();
    void exportChosen();
    void setProblem(const QString& text);

    HistorySource& m_source;
    const Clock& m_clock;
    QComboBox* m_show;
    QDateEdit* m_from;
    QDateEdit* m_to;
    QTableWidget* m_records;
    QLabel* m_count;
    QDateEdit* m_day;
    Timeline* m_timeline;
    QTableWidget* m_hours;
    QPushButton* m_reset;
    QLabel* m_problem;
    QTimer m_hoursTimer;
    QList<Row> m_rows;
    std::function<bool(const QString&)> m_confirm;
};

} // namespace kestra::history
