#pragma once

#include "logic/week/weekmodel.h"
#include "model/errorroutine.h"

#include <QColor>
#include <QWidget>
#include <functional>

namespace kestra::week {

class WeekChart;

// The week at a glance (frmWeek): the chart, and the week saved as a picture
// or a table for printing.
class WeekView : public QWidget
{
    Q_OBJECT
public:
    WeekView(const WeekModel& model, std::function<QColor(int)> colour, const QString& title, QWidget* owner);

    WeekChart* chart() const { return m_chart; }

    // Each returns false and says why in `error` when the file could not be written.
    bool savePng(const QString& path, QString* error) const;
    bool saveCsv(const QString& path, QString* error) const;
    // Where the chart lies in the PNG.
    QRect pngChartArea() const;

signals:
    void openChannel(int channel);

private:
    void save(const QString& filter, const QString& suffix,
              bool (WeekView::*writer)(const QString&, QString*) const);

    const WeekModel& m_model;
    QString m_title;
    WeekChart* m_chart;
    model::ErrorRoutine m_errors;
};

} // namespace kestra::week
