#pragma once

#include "logic/week/weekmodel.h"

#include <QColor>
#include <QWidget>
#include <functional>

namespace kestra::week {

// The picture of the week: one row per output (number and location on the
// colour `colour` gives it), one column per day, the ON periods in red, pulses
// as their pattern, a frozen output hatched grey, an input 3 hold hatched, a
// day that loses a switching to a missing sunrise or sunset hatched orange
// with an orange foot, and a line at the present moment. Each slot shows the next time that weekday and
// time of day comes round.
class WeekChart : public QWidget
{
    Q_OBJECT
public:
    WeekChart(const WeekModel& model, std::function<QColor(int)> colour, QWidget* parent = nullptr);

    // The first column's day, 0 Sunday .. 6 Saturday: the locale's first day of the week.
    int firstDay() const { return m_firstDay; }
    void setFirstDay(int day);

    // Draws the picture into `area` of any paint device (the window, a PNG).
    void paint(QPainter& p, const QRect& area) const;

    QString rowLabel(int channel) const;
    QString toolTipAt(const QPoint& pos) const;
    // Output under `pos`, 0 for none.
    int channelAt(const QPoint& pos) const;
    // Where second `weekSecond` of output `channel` is drawn in this widget.
    QPoint pointOf(int channel, int weekSecond) const;
    QPoint pointOf(int channel, int weekSecond, const QRect& area) const;

    QSize sizeHint() const override;

signals:
    void channelClicked(int channel);

protected:
    void paintEvent(QPaintEvent* e) override;
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    struct Geometry;
    Geometry geometry(const QRect& area) const;
    void drawRow(QPainter& p, const Geometry& g, const ChannelPicture& pic) const;
    void drawHours(QPainter& p, const Geometry& g) const;
    // Wall-clock seconds of the week [from, to), split at midnights.
    void drawSpan(QPainter& p, const Geometry& g, const QRectF& bar, double from, double to) const;
    // The week second a moment shows on the wall clock.
    double weekSecondAt(qint64 msecs) const;
    int presentLineX() const;
    void presentMayHaveMoved();

    const WeekModel& m_model;
    std::function<QColor(int)> m_colour;
    int m_firstDay;
    qint64 m_lastMinute = -1;
    mutable int m_drawnLineX = -1;
};

} // namespace kestra::week
