#pragma once

#include <QString>

class QObject;

namespace kestra::model {

// How the switch speaks to its user. With windows it shows message boxes over
// the window that met the failure; the service without windows writes to
// standard error and goes on as the box's OK would.
class Teller
{
public:
    virtual ~Teller() = default;
    // Returns once the user has read it (with windows: closed the box with OK).
    // `window` is the view of whoever speaks; null when there is none.
    virtual void modal(QObject* window, const QString& title, const QString& text) = 0;
    // Holds nothing up.
    virtual void notice(QObject* window, const QString& title, const QString& text) = 0;
};

// The teller in use; standard error until one is installed.
Teller& teller();
// Installs another teller (null goes back to standard error). Not owned.
void setTeller(Teller* t);

// Writes a message to standard error as "TITLE: first line", further lines
// indented: what a box shows also reaches the log of an unattended start.
void echo(const QString& title, const QString& text);

} // namespace kestra::model
