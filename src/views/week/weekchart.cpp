#include "views/week/weekchart.h"

#include "views/widgets/contrast.h"

#include <QHelpEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace kestra::week {

namespace {
constexpr qint64 kWeekMs = qint64(kSecondsPerWeek) * 1000;
const QColor kOnColour(255, 0, 0); // the program's ON colour
const QColor kPresentColour(0, 0, 160);
// A pulse whose ON and OFF phases together take fewer pixels than this is
// drawn as a striped band of the same ON share instead of phase by phase.
constexpr double kMinPulsePixels = 4;
constexpr int kStripePixels = 8;
// The hours named under the day captions, at the dotted lines.
constexpr int kMarkedHours[] = {6, 12, 18};
const QColor kHourColour(80, 80, 80);
// A day that loses a switching to a missing sunrise or sunset.
const QColor kMissedColour(230, 120, 0);
const QString kNoModeNote = QStringLiteral("no mode chosen: select AUTO in its window");

QString stateText(bool on)
{
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

QString momentText(const QDateTime& t)
{
    return weekSecondText(weekSecondOf(t));
}
} // namespace

struct WeekChart::Geometry
{
    QRectF area;
    double labelWidth = 0;
    double headerHeight = 0;
    double captionHeight = 0; // the day captions; the hour labels below them
    double rowHeight = 0;
    double dayWidth = 0;

    QRectF labelRect(int channel) const
    {
        return {area.left(), area.top() + headerHeight + (channel - 1) * rowHeight, labelWidth, rowHeight};
    }
    QRectF rowBars(int channel) const
    {
        const double inset = std::max(2.0, rowHeight * 0.15);
        return {area.left() + labelWidth, labelRect(channel).top() + inset, 7 * dayWidth,
                rowHeight - 2 * inset};
    }
    double x(int column, double secondOfDay) const
    {
        return area.left() + labelWidth + (column + secondOfDay / kSecondsPerDay) * dayWidth;
    }
};

WeekChart::WeekChart(const WeekModel& model, std::function<QColor(int)> colour, QWidget* parent)
    : QWidget(parent), m_model(model), m_colour(std::move(colour)), m_firstDay(QLocale().firstDayOfWeek() % 7)
{
    setObjectName(QStringLiteral("picWeek"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&model, &WeekModel::pictureChanged, this, [this] { update(); });
    connect(&model, &WeekModel::refreshed, this, &WeekChart::presentMayHaveMoved);
}

void WeekChart::setFirstDay(int day)
{
    m_firstDay = ((day % 7) + 7) % 7;
    update();
}

QSize WeekChart::sizeHint() const
{
    return {960, fontMetrics().height() * 3 + 8 * 40};
}

QString WeekChart::rowLabel(int channel) const
{
    const QString location = m_model.picture(channel).location;
    return location.isEmpty() ? QString::number(channel)
                              : QStringLiteral("%1  %2").arg(channel).arg(location);
}

WeekChart::Geometry WeekChart::geometry(const QRect& area) const
{
    const QFontMetrics fm = fontMetrics();
    Geometry g;
    g.area = area;
    g.captionHeight = fm.height() * 1.4;
    g.headerHeight = g.captionHeight + fm.height() * 1.2;
    double widest = 0;
    for (int m = 1; m <= 8; ++m)
        widest = std::max<double>(widest, fm.horizontalAdvance(rowLabel(m)));
    g.labelWidth = std::clamp(widest + 16, area.width() * 0.08, area.width() * 0.25);
    g.rowHeight = std::max(1.0, (area.height() - g.headerHeight) / 8);
    g.dayWidth = std::max(1.0, (area.width() - g.labelWidth) / 7);
    return g;
}

double WeekChart::weekSecondAt(qint64 msecs) const
{
    QDateTime t = m_model.now();
    t.setMSecsSinceEpoch(msecs);
    return weekSecondOf(t) + t.time().msec() / 1000.0;
}

void WeekChart::drawSpan(QPainter& p, const Geometry& g, const QRectF& bar, double from, double to) const
{
    while (from < to) {
        const int day = std::min(6, int(from / kSecondsPerDay));
        const double end = std::min(to, double(day + 1) * kSecondsPerDay);
        const int column = (day - m_firstDay + 7) % 7;
        const double x1 = g.x(column, from - day * kSecondsPerDay);
        // A single second still shows.
        const double x2 = std::max(g.x(column, end - day * kSecondsPerDay), x1 + 1);
        p.drawRect(QRectF(x1, bar.top(), x2 - x1, bar.height()));
        from = end;
    }
}

void WeekChart::drawRow(QPainter& p, const Geometry& g, const ChannelPicture& pic) const
{
    const QRectF label = g.labelRect(pic.channel);
    QColor colour = m_colour ? m_colour(pic.channel) : QColor();
    if (!colour.isValid()) colour = palette().color(QPalette::Window);
    p.fillRect(label, colour);
    p.setPen(ui::readableTextOn(colour));
    p.drawText(label.adjusted(6, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
               fontMetrics().elidedText(rowLabel(pic.channel), Qt::ElideRight, int(label.width()) - 10));

    const QRectF bar = g.rowBars(pic.channel);
    const QDateTime now = m_model.now();
    // A line of text on white, readable over any band.
    const auto note = [&](const QString& text) {
        const QFontMetricsF fm(p.font());
        const QRectF box(bar.left() + 4, bar.center().y() - fm.height() / 2, fm.horizontalAdvance(text),
                         fm.height());
        p.fillRect(box.adjusted(-3, 0, 3, 0), Qt::white);
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignVCenter | Qt::AlignLeft, text);
    };
    p.setPen(Qt::NoPen);
    QList<QRectF> missedDays;
    if (pic.pulse) {
        const PulsePlan& pulse = *pic.pulse;
        const double periodPixels = double(pulse.onMs + pulse.offMs) / 1000 / kSecondsPerDay * g.dayWidth;
        if (now.isValid() && (periodPixels >= kMinPulsePixels || pulse.endless)) {
            p.setBrush(kOnColour);
            const qint64 from = now.toMSecsSinceEpoch();
            for (const auto& [a, b] : pulse.onPhases(from, from + kWeekMs)) {
                const double wa = weekSecondAt(a);
                const double wb = b - a >= kWeekMs ? wa + kSecondsPerWeek : weekSecondAt(b);
                if (wb > wa) {
                    drawSpan(p, g, bar, wa, std::min<double>(wb, kSecondsPerWeek));
                    if (wb > kSecondsPerWeek) drawSpan(p, g, bar, 0, wb - kSecondsPerWeek);
                } else {
                    drawSpan(p, g, bar, wa, kSecondsPerWeek);
                    drawSpan(p, g, bar, 0, wb);
                }
            }
        } else {
            // Too fine to draw phase by phase: stripes with the pulse's ON share.
            const double share = double(pulse.onMs) / double(pulse.onMs + pulse.offMs);
            const int red = std::clamp(int(std::lround(share * kStripePixels)), 1, kStripePixels - 1);
            QPixmap stripes(kStripePixels, 1);
            stripes.fill(Qt::white);
            QPainter sp(&stripes);
            sp.fillRect(0, 0, red, 1, kOnColour);
            sp.end();
            p.fillRect(bar, QBrush(stripes));
        }
        note(pulse.describe());
    } else if (pic.week.frozen) {
        p.fillRect(bar, QBrush(Qt::gray, Qt::BDiagPattern));
        note(QStringLiteral("frozen at its last state (%1)").arg(pic.frozenStatus));
    } else {
        // Hatched under the periods the day still has, with a line along the
        // bar's foot that they do not cover.
        for (int day = 0; day < 7; ++day) {
            if (pic.week.missed[day].isEmpty()) continue;
            const int column = (day - m_firstDay + 7) % 7;
            const QRectF cell(g.x(column, 0), bar.top(), g.dayWidth, bar.height());
            p.fillRect(cell, QBrush(kMissedColour, Qt::FDiagPattern));
            missedDays << cell;
        }
        p.setBrush(kOnColour);
        for (const Interval& i : pic.week.on)
            drawSpan(p, g, bar, i.from, i.to + 1.0);
        for (const QRectF& cell : missedDays)
            p.fillRect(QRectF(cell.left(), cell.bottom() - 2, cell.width(), 2), kMissedColour);
        if (pic.mode == channels::Mode::None) note(kNoModeNote);
    }
    if (pic.hold && now.isValid() && now < pic.hold->until) {
        p.setPen(Qt::NoPen);
        p.setBrush(QBrush(pic.hold->on ? kOnColour : QColor(0, 128, 0), Qt::DiagCrossPattern));
        const double wa = weekSecondAt(now.toMSecsSinceEpoch());
        const double wb = weekSecondAt(pic.hold->until.toMSecsSinceEpoch());
        if (wb > wa) {
            drawSpan(p, g, bar, wa, wb);
        } else {
            drawSpan(p, g, bar, wa, kSecondsPerWeek);
            drawSpan(p, g, bar, 0, wb);
        }
    }
}

void WeekChart::paint(QPainter& p, const QRect& area) const
{
    const Geometry g = geometry(area);
    const QDateTime now = m_model.now();
    const int today = now.isValid() ? weekdayNumber(now.date()) - 1 : -1;
    p.save();
    p.fillRect(area, Qt::white);
    p.setRenderHint(QPainter::Antialiasing, false);

    QFont bold = p.font();
    bold.setBold(true);
    for (int column = 0; column < 7; ++column) {
        const int day = (m_firstDay + column) % 7;
        p.setFont(day == today ? bold : font());
        p.setPen(Qt::black);
        p.drawText(QRectF(g.x(column, 0), area.top(), g.dayWidth, g.captionHeight), Qt::AlignCenter,
                   dayCaption(day));
    }
    p.setFont(font());
    drawHours(p, g);
    const double top = area.top() + g.headerHeight;
    const double bottom = top + 8 * g.rowHeight;
    // Hours under the periods, so that a short one at 12:00 still shows.
    p.setPen(QPen(QColor(200, 200, 200), 0, Qt::DotLine));
    for (int column = 0; column < 7; ++column)
        for (int hour : {6, 12, 18})
            p.drawLine(QPointF(g.x(column, hour * 3600), top), QPointF(g.x(column, hour * 3600), bottom));
    for (int m = 1; m <= 8; ++m)
        drawRow(p, g, m_model.picture(m));

    p.setPen(QPen(QColor(120, 120, 120), 0));
    for (int column = 0; column <= 7; ++column)
        p.drawLine(QPointF(g.x(column, 0), area.top()), QPointF(g.x(column, 0), bottom));
    for (int m = 0; m <= 8; ++m)
        p.drawLine(QPointF(area.left(), top + m * g.rowHeight), QPointF(area.right(), top + m * g.rowHeight));

    if (now.isValid()) {
        const double x = g.x((today - m_firstDay + 7) % 7, secondsOfDay(now));
        p.setPen(QPen(kPresentColour, 2));
        p.drawLine(QPointF(x, top - g.rowHeight * 0.1), QPointF(x, bottom));
    }
    p.restore();
}

void WeekChart::drawHours(QPainter& p, const Geometry& g) const
{
    // Every marked hour where the labels have room, else noon alone, else none.
    const QFontMetricsF fm(p.font());
    const double room = fm.horizontalAdvance(QStringLiteral("18")) + 6;
    const double spacing = g.dayWidth / 4;
    const bool all = spacing >= room;
    if (!all && 2 * spacing < room) return;
    p.setPen(kHourColour);
    const double y = g.area.top() + g.captionHeight;
    for (int column = 0; column < 7; ++column)
        for (int hour : kMarkedHours) {
            if (!all && hour != 12) continue;
            const double x = g.x(column, hour * 3600);
            p.drawText(QRectF(x - spacing / 2, y, spacing, g.headerHeight - g.captionHeight),
                       Qt::AlignHCenter | Qt::AlignTop, QString::number(hour));
        }
}

void WeekChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paint(p, rect());
    m_drawnLineX = presentLineX();
}

int WeekChart::presentLineX() const
{
    const QDateTime now = m_model.now();
    if (!now.isValid()) return -1;
    const Geometry g = geometry(rect());
    return int(std::lround(g.x((weekdayNumber(now.date()) - 1 - m_firstDay + 7) % 7, secondsOfDay(now))));
}

void WeekChart::presentMayHaveMoved()
{
    if (!isVisible()) return;
    // The line is looked at once a minute and drawn again only when it moved.
    const qint64 minute = m_model.now().toSecsSinceEpoch() / 60;
    if (minute == m_lastMinute) return;
    m_lastMinute = minute;
    if (presentLineX() != m_drawnLineX) update();
}

int WeekChart::channelAt(const QPoint& pos) const
{
    const Geometry g = geometry(rect());
    for (int m = 1; m <= 8; ++m) {
        const QRectF label = g.labelRect(m);
        if (QRectF(label.topLeft(), QSizeF(g.labelWidth + 7 * g.dayWidth, g.rowHeight)).contains(pos))
            return m;
    }
    return 0;
}

QPoint WeekChart::pointOf(int channel, int ws) const
{
    return pointOf(channel, ws, rect());
}

QPoint WeekChart::pointOf(int channel, int ws, const QRect& area) const
{
    const Geometry g = geometry(area);
    const int day = ws / kSecondsPerDay;
    const double x = g.x((day - m_firstDay + 7) % 7, ws % kSecondsPerDay + 0.5);
    return {int(std::floor(x)), int(g.rowBars(channel).center().y())};
}

QString WeekChart::toolTipAt(const QPoint& pos) const
{
    const int m = channelAt(pos);
    if (m == 0) return {};
    const Geometry g = geometry(rect());
    const ChannelPicture& pic = m_model.picture(m);
    const QString head = rowLabel(m);
    if (pos.x() < g.area.left() + g.labelWidth)
        return head + QStringLiteral("\nClick to open the output's window.");

    const double offset = (pos.x() - g.area.left() - g.labelWidth) / g.dayWidth; // in days from column 0
    if (offset < 0 || offset >= 7) return {};
    const int column = int(offset);
    const int ws = weekSecond((m_firstDay + column) % 7,
                              std::min(kSecondsPerDay - 1, int((offset - column) * kSecondsPerDay)));
    const QDateTime now = m_model.now();

    if (pic.hold && now.isValid() && now < pic.hold->until) {
        const int from = weekSecondOf(now);
        const int span = int(now.secsTo(pic.hold->until));
        if ((ws - from + kSecondsPerWeek) % kSecondsPerWeek < span)
            return head + QStringLiteral("\nHeld %1 by input 3 until %2 (as it stands now)")
                              .arg(stateText(pic.hold->on), momentText(pic.hold->until));
    }
    if (pic.pulse) {
        QString text = head + QLatin1Char('\n') + pic.pulse->describe();
        const double periodPixels =
            double(pic.pulse->onMs + pic.pulse->offMs) / 1000 / kSecondsPerDay * g.dayWidth;
        if (now.isValid() && periodPixels >= kMinPulsePixels && !pic.pulse->endless) {
            // The slot's next occurrence from now, and the phase running then.
            const qint64 at = now.toMSecsSinceEpoch() +
                              qint64((ws - weekSecondOf(now) + kSecondsPerWeek) % kSecondsPerWeek) * 1000;
            const PulsePlan::Phase phase = pic.pulse->phaseAt(at);
            const qint64 begin = phase.end - (phase.on ? pic.pulse->onMs : pic.pulse->offMs);
            QDateTime a = now, b = now;
            a.setMSecsSinceEpoch(begin);
            b.setMSecsSinceEpoch(phase.end - 1);
            text += QStringLiteral("\n%1 %2 to %3").arg(stateText(phase.on), momentText(a), momentText(b));
        }
        return text;
    }
    if (pic.week.frozen)
        return head +
               QStringLiteral("\nFrozen at its last state (%1): %2").arg(pic.frozenStatus, pic.week.problem);

    // A period narrower than two pixels is still found.
    const int tolerance = int(std::ceil(2.0 / g.dayWidth * kSecondsPerDay));
    std::optional<Interval> period = pic.week.periodAt(ws);
    if (!period) {
        int nearest = tolerance + 1;
        for (const Interval& i : pic.week.on) {
            const int distance = ws < i.from ? i.from - ws : ws - i.to;
            if (distance < nearest) {
                nearest = distance;
                period = pic.week.periodAt(i.from);
            }
        }
    }
    if (pic.mode == channels::Mode::None) return head + QStringLiteral("\n") + kNoModeNote;
    const QStringList& missed = pic.week.missed[ws / kSecondsPerDay];
    const QString lost = missed.isEmpty() ? QString() : QLatin1Char('\n') + missed.join(QLatin1Char('\n'));
    if (!period) return head + QStringLiteral("\nOFF at %1").arg(weekSecondText(ws).left(9)) + lost;
    if (period->from == 0 && period->to == kSecondsPerWeek - 1) return head + QStringLiteral("\nON all week");
    return head +
           QStringLiteral("\nON from %1 to %2, both seconds included")
               .arg(weekSecondText(period->from), weekSecondText(period->to)) +
           lost;
}

bool WeekChart::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(e);
}

void WeekChart::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    if (const int m = channelAt(e->position().toPoint())) emit channelClicked(m);
}

} // namespace kestra::week
