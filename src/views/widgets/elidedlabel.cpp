#include "views/widgets/elidedlabel.h"

#include <QFontMetrics>

namespace kestra::ui {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

void ElidedLabel::setParts(const QString& head, const QString& rest)
{
    if (head == m_head && rest == m_rest) return;
    m_head = head;
    m_rest = rest;
    updateGeometry();
    elide();
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics fm(font());
    const QMargins m = contentsMargins();
    return {fm.horizontalAdvance(m_head + m_rest) + m.left() + m.right() + 2 * margin(),
            QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics fm(font());
    const QMargins m = contentsMargins();
    return {fm.horizontalAdvance(m_head) + m.left() + m.right() + 2 * margin(),
            QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* e)
{
    QLabel::resizeEvent(e);
    elide();
}

void ElidedLabel::elide()
{
    const QFontMetrics fm(font());
    const int room = contentsRect().width() - 2 * margin() - fm.horizontalAdvance(m_head);
    const QString shown = m_head + fm.elidedText(m_rest, m_mode, std::max(room, 0));
    if (text() != shown) setText(shown);
}

} // namespace kestra::ui
