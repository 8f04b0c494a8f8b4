#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace kestra::ui {

// How windows talk to the user. The program shows message boxes; tests put a
// recorder in their place, since a modal box would wait for a click forever.
class Messenger
{
public:
    virtual ~Messenger() = default;
    // A modal box with an OK button; returns when the user has closed it.
    virtual void modal(QWidget* parent, const QString& title, const QString& text) = 0;
    // A box that does not hold anything up.
    virtual void notice(QWidget* parent, const QString& title, const QString& text) = 0;
};

Messenger& messenger();
// Writes a message to standard error as "TITLE: first line", further lines
// indented: what the boxes show also reaches the log of an unattended start.
void echo(const QString& title, const QString& text);
// Installs another messenger (null restores the message boxes). Not owned.
void setMessenger(Messenger* m);

// Records what would have been shown, and returns at once.
class RecordingMessenger final : public Messenger
{
public:
    RecordingMessenger() { setMessenger(this); }
    ~RecordingMessenger() override { setMessenger(nullptr); }
    void modal(QWidget*, const QString& title, const QString& text) override;
    void notice(QWidget*, const QString& title, const QString& text) override;

    QStringList modals;  // texts of modal boxes, in order
    QStringList notices; // texts of notices, in order
    QStringList titles;
    // Runs while a modal box would be open, as if the user waited (for example
    // to let timers tick); then the box is taken as closed with OK.
    std::function<void()> whileOpen;
};

} // namespace kestra::ui
