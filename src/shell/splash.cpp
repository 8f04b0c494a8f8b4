#include "shell/splash.h"

#include "base/buildconfig.h"

#include <QLabel>
#include <QVBoxLayout>

namespace kestra::shell {

Splash::Splash(const QString& title, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    auto* layout = new QVBoxLayout(this);
    auto label = [&](const char* name, const QString& text, int pointSize) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setAlignment(Qt::AlignCenter);
        QFont f = l->font();
        f.setPointSize(pointSize);
        l->setFont(f);
        layout->addWidget(l);
        return l;
    };
    label("lblProductName", title, 24);
    label("lblVersion", versionText(), 11);
    label("lblLoading", QStringLiteral("Now Loading...."), 11);
    label("lblWarning", QStringLiteral("Warning... Use at own risk. Close form to remove that risk."), 9);
    setMinimumWidth(420);
}

} // namespace kestra::shell
