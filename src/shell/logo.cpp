#include "shell/logo.h"

#include "base/ticker.h"

#include <QPainter>
#include <chrono>

namespace kestra::shell {

using namespace std::chrono_literals;

namespace {
// The contact changes once a second; drawing more often would only cost wake-ups.
constexpr auto kFramePeriod = 1000ms;
constexpr int kFrames = 2;
} // namespace

Logo::Logo(Ticker& ticker, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("picLogo"));
    setFixedSize(64, 64);
    m_timer.setInterval(kFramePeriod);
    // Drawn in the wake-up the other timers share, not in one of its own.
    ticker.attach(&m_timer, Ticker::Rank::Display, [this] {
        m_frame = (m_frame + 1) % kFrames;
        update();
    });
}

void Logo::showEvent(QShowEvent*)
{
    m_timer.start();
}

void Logo::hideEvent(QHideEvent*)
{
    m_timer.stop();
}

void Logo::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool closed = m_frame < kFrames / 2;
    // Coil
    p.setPen(QPen(Qt::darkGray, 2));
    p.setBrush(QColor(200, 120, 40));
    p.drawRoundedRect(8, 36, 20, 20, 3, 3);
    // Contact arm swinging between the two terminals
    p.setPen(QPen(Qt::black, 3));
    p.drawLine(32, 46, 54, closed ? 18 : 30);
    p.setBrush(Qt::black);
    p.drawEllipse(QPointF(54, 16), 3, 3);
    p.drawEllipse(QPointF(54, 32), 3, 3);
    // Lamp: lit while the contact is closed
    p.setPen(Qt::NoPen);
    p.setBrush(closed ? QColor(255, 40, 40) : QColor(40, 200, 40));
    p.drawEllipse(QPointF(16, 16), 9, 9);
}

} // namespace kestra::shell
