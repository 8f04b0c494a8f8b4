#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <array>
#include <functional>

class QWidget;

namespace kestra::history {
class HistorySource;
}

namespace kestra::shell {

// The tool tips of a main window's Status fields: the window's own text for the
// output (its next switching), then the output's operating hours as they are
// when the tip is asked for. A tip that is up is drawn again when the output's
// hours are told again.
class StatusTips : public QObject
{
    Q_OBJECT
public:
    StatusTips(history::HistorySource& hours, std::function<QString(int output)> own, QObject* parent);

    // Shows the tip over `field`, the Status field of output m.
    void watch(int output, QWidget* field);
    QString text(int output) const;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void show(int output, QPoint at);

    history::HistorySource& m_hours;
    std::function<QString(int)> m_own;
    std::array<QPointer<QWidget>, 8> m_fields{};
    int m_shown = 0; // the output whose tip is up, 0: none
    QPoint m_at;
};

// What a Status field's tooltip says: its own text, if any, then the hours.
QString statusToolTip(const QString& own, const QString& hours);

} // namespace kestra::shell
