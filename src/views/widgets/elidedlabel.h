#pragma once

#include <QLabel>

namespace kestra::ui {

// A one-line label whose head is always shown whole and whose rest is elided
// in the middle (so both ends of a path stay) when the label is too narrow.
// It asks for no more width than the head, so it never widens its window.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setParts(const QString& head, const QString& rest);
    // Where the rest loses its letters: in the middle (the default) or at its end.
    void setElideMode(Qt::TextElideMode mode) { m_mode = mode; }
    QString head() const { return m_head; }
    QString rest() const { return m_rest; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void elide();
    QString m_head;
    QString m_rest;
    Qt::TextElideMode m_mode = Qt::ElideMiddle;
};

} // namespace kestra::ui
