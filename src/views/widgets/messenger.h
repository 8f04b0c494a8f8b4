#pragma once

#include "model/teller.h"

#include <QStringList>
#include <functional>

class QWidget;

namespace kestra::ui {

// How windows talk to the user: message boxes over the window that speaks.
// Installed, it is also how the switch itself talks (model::teller()). Tests
// put a recorder in its place, since a modal box would wait for a click forever.
class Messenger : public model::Teller
{
public:
    // Asks whether to `act`; `keep` is the default answer (Enter, Esc, the
    // box's close button). True when the user chose `act`.
    virtual bool question(QObject* window, const QString& title, const QString& text, const QString& act,
                          const QString& keep) = 0;
};

Messenger& messenger();
// Installs another messenger (null: the message boxes) for the windows and for
// the switch. Not owned.
void setMessenger(Messenger* m);
using model::echo;

// Records what would have been shown, and returns at once.
class RecordingMessenger final : public Messenger
{
public:
    RecordingMessenger() { setMessenger(this); }
    ~RecordingMessenger() override { setMessenger(nullptr); }
    void modal(QObject*, const QString& title, const QString& text) override;
    void notice(QObject*, const QString& title, const QString& text) override;
    bool question(QObject*, const QString& title, const QString& text, const QString& act,
                  const QString& keep) override;

    QStringList modals;    // texts of modal boxes, in order
    QStringList notices;   // texts of notices, in order
    QStringList questions; // texts of questions, in order
    bool answer = false;   // what the questions are answered: false is the default, keep
    QStringList titles;
    // Runs while a modal box would be open, as if the user waited (for example
    // to let timers tick); then the box is taken as closed with OK.
    std::function<void()> whileOpen;
};

} // namespace kestra::ui
