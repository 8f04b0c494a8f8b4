#include "views/widgets/messenger.h"

#include <QMessageBox>
#include <QPushButton>

namespace kestra::ui {

namespace {

class BoxMessenger final : public Messenger
{
public:
    void modal(QObject* window, const QString& title, const QString& text) override
    {
        echo(title, text);
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, qobject_cast<QWidget*>(window));
        box.exec();
    }
    void notice(QObject* window, const QString& title, const QString& text) override
    {
        echo(title, text);
        auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok,
                                    qobject_cast<QWidget*>(window));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
    bool question(QObject* window, const QString& title, const QString& text, const QString& act,
                  const QString& keep) override
    {
        QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton,
                        qobject_cast<QWidget*>(window));
        box.setObjectName(QStringLiteral("msgQuestion"));
        QPushButton* yes = box.addButton(act, QMessageBox::AcceptRole);
        QPushButton* no = box.addButton(keep, QMessageBox::RejectRole);
        box.setDefaultButton(no);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    }
};

BoxMessenger g_boxes;
Messenger* g_current = &g_boxes;

} // namespace

Messenger& messenger()
{
    return *g_current;
}

void setMessenger(Messenger* m)
{
    g_current = m ? m : &g_boxes;
    model::setTeller(g_current);
}

void RecordingMessenger::modal(QObject*, const QString& title, const QString& text)
{
    titles << title;
    modals << text;
    if (whileOpen) whileOpen();
}

bool RecordingMessenger::question(QObject*, const QString& title, const QString& text, const QString&,
                                  const QString&)
{
    titles << title;
    questions << text;
    return answer;
}

void RecordingMessenger::notice(QObject*, const QString& title, const QString& text)
{
    titles << title;
    notices << text;
}

} // namespace kestra::ui
