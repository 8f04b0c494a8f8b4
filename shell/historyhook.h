#pragma once

#include "history/recorder.h"
#include "ui/context.h"

#include <QObject>
#include <QPointer>
#include <array>

class QLineEdit;

namespace kestra::history {
class HistoryWindow;
}

namespace kestra::shell {

class MainWindow;

// Keeps the history beside the program without threading through it: it
// listens at the port, asks the windows why at the moment of a write, adds
// View, History to the menu and the operating hours to the tooltips of the
// main window's Status fields.
class HistoryHook : public QObject
{
    Q_OBJECT
public:
    HistoryHook(const ui::AppContext& ctx, const QString& path);
    ~HistoryHook() override;

    // Before the main window loads: the writes of its load are the start-up's.
    void attach(MainWindow& main);
    // After the load: the writes from now on are the scan's.
    void loaded();

    history::Recorder& recorder() { return m_recorder; }
    history::HistoryWindow* window() const;
    void showWindow();
    // The tooltip of output m's Status field.
    QString toolTip(int output) const;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void tell(const QString& text);

    ui::AppContext m_ctx;
    history::Recorder m_recorder;
    QPointer<MainWindow> m_main;
    QPointer<history::HistoryWindow> m_window;
    std::array<QPointer<QLineEdit>, 8> m_status{};
};

// What a Status field's tooltip says: its own text, if any, then the hours.
QString statusToolTip(const QString& own, const QString& hours);

} // namespace kestra::shell
