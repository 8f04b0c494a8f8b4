#pragma once

#include "tests/support/testsupport.h"

// What the channel window tests share: a settings file in a temporary
// directory, the simulated port, a fake clock, the switch on top of them and a
// recorder for the message boxes.

#include "base/buildconfig.h"
#include "base/clock.h"
#include "model/switchmodel.h"
#include "platform/port/port.h"
#include "storage/store/database.h"
#include "views/channels/channelwindow.h"
#include "views/widgets/messenger.h"
#include "views/widgets/timebox.h"

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

namespace kestra::testing {

// Monday 1 January 2024.
inline QDateTime monday(const QTime& t)
{
    return QDateTime(QDate(2024, 1, 1), t);
}

class WindowRig
{
public:
    WindowRig()
        : db(store::Database::open(dir.filePath(QStringLiteral("Kestra3.db")), QDate(2024, 1, 1))),
          port(0x3BC, test::simulatedPortEnvironment(dir)), clock(monday(QTime(12, 0))),
          model(model::Context{kestra3Config(), port, *db, clock})
    {}

    // A loaded channel m with its window, as the program makes them at start-up.
    std::unique_ptr<channels::ChannelWindow> window(int m)
    {
        model.channel(m).load();
        return std::make_unique<channels::ChannelWindow>(model.channel(m), nullptr);
    }
    // The inputs read `status` (the port's status byte) in one monitoring cycle.
    void readInputs(quint8 status)
    {
        port.writeControl(0); // the simulated port file exists from the first call
        QFile f(dir.filePath(QStringLiteral("port-3BC")));
        if (f.open(QIODevice::ReadWrite) && f.seek(1)) f.write(QByteArray(1, char(status)));
        f.close();
        model.inputs().cycle();
    }

    void store(const QString& field, const QString& value) { db->writeSettings({{field, value}}); }
    QString stored(const QString& field) const { return db->readSettings().value(field.toLower()); }

    QTemporaryDir dir;
    std::unique_ptr<store::Database> db;
    port::Port port;
    FakeClock clock;
    ui::RecordingMessenger messages;
    model::SwitchModel model;
};

// What a channel window's Status field shows.
inline QString statusOf(const channels::ChannelWindow& w)
{
    return w.findChild<QLineEdit*>(QStringLiteral("Status%1").arg(w.channel().number()))->text();
}

// A named control of a window; a missing one ends the test run with its name.
template <class T> T* child(const QObject* w, const QString& name)
{
    T* c = w->findChild<T*>(name);
    if (!c) qFatal("%s has no control %s", qPrintable(w->objectName()), qPrintable(name));
    return c;
}

// Typing a text over a time box's text, as the user does.
inline void typeInto(ui::TimeBox* box, const QString& text)
{
    box->lineEdit()->selectAll();
    if (text.isEmpty())
        QTest::keyClick(box->lineEdit(), Qt::Key_Backspace);
    else
        QTest::keyClicks(box->lineEdit(), text);
}

// Picking an entry of a time box's list, as the user does.
inline void pick(ui::TimeBox* box, const QString& entry)
{
    const int i = box->findText(entry);
    QVERIFY2(i >= 0, qPrintable(entry));
    box->setCurrentIndex(i);
    emit box->activated(i);
}

} // namespace kestra::testing
