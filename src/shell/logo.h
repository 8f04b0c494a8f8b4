#pragma once

#include <QTimer>
#include <QWidget>

namespace kestra {
class Ticker;
}

namespace kestra::shell {

// picLogo: a relay whose contact closes and opens, drawn by the program. It runs
// only while visible, so a minimised or hidden window costs no drawing.
class Logo : public QWidget
{
    Q_OBJECT
public:
    Logo(Ticker& ticker, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {64, 64}; }
    int frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    QTimer m_timer;
    int m_frame = 0;
};

} // namespace kestra::shell
