#include "views/history/timeline.h"

#include "views/widgets/contrast.h"
#include "views/widgets/outputcolour.h"

#include <QPainter>

namespace kestra::history {

namespace {
constexpr int kRowHeight = 18;
constexpr int kLabelWidth = 28;
constexpr int kScaleHeight = 16;
// The main window's colours: ON red, OFF green.
const QColor kOnColour(255, 0, 0);
const QColor kOffColour(0, 255, 0);
} // namespace

Timeline::Timeline(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("picTimeline"));
    setMinimumHeight(kScaleHeight + 8 * kRowHeight + 2);
}

void Timeline::setDay(qint64 from, qint64 to, qint64 knownFrom, qint64 knownTo,
                      const std::array<QList<Stretch>, 8>& on)
{
    m_from = from;
    m_to = qMax(to, from + 1);
    m_knownTo = qBound(from, knownTo, m_to);
    m_knownFrom = qBound(from, knownFrom, m_knownTo);
    m_on = on;
    update();
}

QSize Timeline::sizeHint() const
{
    return {kLabelWidth + 24 * 24, kScaleHeight + 8 * kRowHeight + 2};
}

void Timeline::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int width = qMax(1, this->width() - kLabelWidth - 1);
    const auto x = [&](qint64 ms) { return kLabelWidth + int((ms - m_from) * width / (m_to - m_from)); };
    p.setPen(palette().color(QPalette::WindowText));
    for (int h = 0; h <= 24; h += 3) {
        const int hx = kLabelWidth + h * width / 24;
        p.drawText(QRect(hx - 20, 0, 40, kScaleHeight), Qt::AlignCenter, QString::number(h));
    }
    for (int m = 0; m < 8; ++m) {
        const int y = kScaleHeight + m * kRowHeight;
        // Each output on the colour of its button in the main window.
        const QColor colour = ui::outputColour(m + 1);
        const QRect label(0, y + 1, kLabelWidth - 2, kRowHeight - 2);
        p.fillRect(label, colour);
        p.setPen(ui::readableTextOn(colour));
        p.drawText(label.adjusted(0, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter, QString::number(m + 1));
        const QRect row(kLabelWidth, y + 2, width, kRowHeight - 4);
        // Known OFF is green; what the history does not know (before its first
        // record, after now) stays blank.
        p.fillRect(QRect(x(m_knownFrom), row.top(), x(m_knownTo) - x(m_knownFrom), row.height()), kOffColour);
        for (const Stretch& s : m_on[m])
            p.fillRect(QRect(x(s.from), row.top(), qMax(1, x(s.to) - x(s.from)), row.height()), kOnColour);
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(row);
    }
}

} // namespace kestra::history
