#pragma once

#include "base/buildconfig.h"

#include <QUrl>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QWidget;

namespace kestra::shell {

// What the main window of the window program and that of an attached program
// both have: the outputs' buttons, the help page (a link and Help, Contents)
// and File, Start at login.

// The button of output m (`Output<m>`), in the output's colour; it opens the output's window.
QPushButton* outputButton(int m, QWidget* parent);

// The help page: the installed one, or the program's own copy put into the program directory.
QUrl helpPageUrl();

// The link "Help: how to use this time switch" (`hyperlink`) to `page`, opened in the window's name.
QLabel* helpLink(QWidget* window, QWidget* parent, const QString& title, const QUrl& page);
// Help, Contents (F1).
void addHelpContents(QMenu* help, QWidget* window, const QString& title, const QUrl& page);
// Opens the page in the desktop's web browser, or says where it is when there is none.
void showHelpPage(QWidget* window, const QString& title, const QUrl& page);

// File, Start at login (`mnuStartAtLogin`): ticked while the desktop's autostart
// entry of this build exists, looked at again each time the menu opens.
QAction* addStartAtLogin(QMenu* file, QWidget* window, const BuildConfig& build);

} // namespace kestra::shell
