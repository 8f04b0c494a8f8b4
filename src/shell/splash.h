#pragma once

#include <QWidget>

namespace kestra::shell {

// frmSplash: shown while the main window loads the others.
class Splash : public QWidget
{
    Q_OBJECT
public:
    explicit Splash(const QString& title, QWidget* parent = nullptr);
};

} // namespace kestra::shell
