#pragma once

#include "model/recorder.h"

#include <QObject>
#include <QPointer>

namespace kestra::history {
class HistoryWindow;
}

namespace kestra::shell {

class MainWindow;

// Shows the history beside the program without threading through it: adds
// View, History to the menu. The recorder is the service's.
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

private:
    history::Recorder& m_recorder;
    const Clock& m_clock;
    QString m_title;
    QPointer<MainWindow> m_main;
    QPointer<history::HistoryWindow> m_window;
};

} // namespace kestra::shell
