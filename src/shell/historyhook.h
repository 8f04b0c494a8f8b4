#pragma once

#include "model/recorder.h"

#include <QObject>
#include <QPointer>
#include <array>

class QLineEdit;

namespace kestra::history {
class HistoryWindow;
}

namespace kestra::shell {

class MainWindow;

// Shows the history beside the program without threading through it: adds
// View, History to the menu and the operating hours to the tooltips of the
// main window's Status fields. The recorder is the service's.
class HistoryHook : public QObject
{
    Q_OBJECT
public:
    HistoryHook(history::Recorder& recorder, const Clock& clock, const QString& title);
    ~HistoryHook() override;

    void attach(MainWindow& main);

    history::Recorder& recorder() { return m_recorder; }
    history::HistoryWindow* window() const;
    void showWindow();
    // The tooltip of output m's Status field.
    QString toolTip(int output) const;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    history::Recorder& m_recorder;
    const Clock& m_clock;
    QString m_title;
    QPointer<MainWindow> m_main;
    QPointer<history::HistoryWindow> m_window;
    std::array<QPointer<QLineEdit>, 8> m_status{};
};

// What a Status field's tooltip says: its own text, if any, then the hours.
QString statusToolTip(const QString& own, const QString& hours);

} // namespace kestra::shell
