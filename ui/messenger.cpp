#include "ui/messenger.h"

#include <QMessageBox>
#include <cstdio>

namespace kestra::ui {

namespace {

class BoxMessenger final : public Messenger
{
public:
    void modal(QWidget* parent, const QString& title, const QString& text) override
    {
        echo(title, text);
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
        box.exec();
    }
    void notice(QWidget* parent, const QString& title, const QString& text) override
    {
        echo(title, text);
        auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
};

BoxMessenger g_boxes;
Messenger* g_current = &g_boxes;

} // namespace

Messenger& messenger()
{
    return *g_current;
}

void echo(const QString& title, const QString& text)
{
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QLatin1String("\n  "));
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(lines));
    std::fflush(stderr);
}

void setMessenger(Messenger* m)
{
    g_current = m ? m : &g_boxes;
}

void RecordingMessenger::modal(QWidget*, const QString& title, const QString& text)
{
    titles << title;
    modals << text;
    if (whileOpen) whileOpen();
}

void RecordingMessenger::notice(QWidget*, const QString& title, const QString& text)
{
    titles << title;
    notices << text;
}

} // namespace kestra::ui
