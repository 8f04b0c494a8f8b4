#include "platform/desktop/autostart.h"
#include "platform/desktop/installation.h"
#include "shellrig.h"
#include "views/widgets/messenger.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTest>

using namespace kestra;
using namespace kestra::test;

class TstStartAtLogin : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { QDir(desktop::autostartDirectory()).removeRecursively(); }

    void choiceIsTheEntryAndSurvivesARestart()
    {
        ui::RecordingMessenger messages;
        Rig rig;
        rig.start();
        auto* file = rig.find<QMenu>(QStringLiteral("mnuFile"));
        auto* item = rig.find<QAction>(QStringLiteral("mnuStartAtLogin"));
        QVERIFY(file && item);
        QCOMPARE(item->text(), QStringLiteral("Start at login"));
        const QList<QAction*> actions = file->actions();
        QVERIFY(actions.indexOf(item) < actions.indexOf(rig.find<QAction>(QStringLiteral("mnuExit"))));
        QVERIFY(item->isCheckable() && !item->isChecked());

        const QString entry = desktop::autostartPath(desktop::desktopId(kestra3Config()));
        item->trigger();
        QVERIFY(item->isChecked());
        // The test runs from the build tree, which the entry should not name for good.
        QCOMPARE(messages.notices.size(), 1);
        QVERIFY(messages.notices.first().contains(QStringLiteral("which is not an installed program")));
        QFile written(entry);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains(
            "\nExec=" + desktop::execValue(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
        QCOMPARE(written.permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

        rig.restart();
        item = rig.find<QAction>(QStringLiteral("mnuStartAtLogin"));
        QVERIFY(item->isChecked());
        // Removed from outside: the menu shows it when next opened.
        QVERIFY(QFile::remove(entry));
        emit rig.find<QMenu>(QStringLiteral("mnuFile"))->aboutToShow();
        QVERIFY(!item->isChecked());
        item->trigger();
        item->trigger();
        QVERIFY(!item->isChecked());
        QVERIFY(!QFile::exists(entry));
        QCOMPARE(messages.notices.size(), 2);
    }

    void entryThatCannotBeWrittenIsToldAndLeftUnchecked()
    {
        ui::RecordingMessenger messages;
        QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME"));
        QFile blocker(desktop::autostartDirectory());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Rig rig;
        rig.start();
        auto* item = rig.find<QAction>(QStringLiteral("mnuStartAtLogin"));
        item->trigger();
        QVERIFY(!item->isChecked());
        QCOMPARE(messages.notices.size(), 1);
        QVERIFY(messages.notices.first().startsWith(QStringLiteral("Start at login could not be changed.")));
        QVERIFY(blocker.remove());
    }
};

QTEST_MAIN(TstStartAtLogin)
#include "tst_startatlogin.moc"
