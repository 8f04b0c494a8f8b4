#pragma once

#include "tests/support/testsupport.h"

// What the channel window tests share: a settings file in a temporary
// directory, the simulated port, a fake clock, a stand-in for the inputs window
// and a recorder for the message boxes.

#include "channels/channelwindow.h"
#include "common/buildconfig.h"
#include "common/clock.h"
#include "inputs/inputlogic.h"
#include "port/port.h"
#include "store/database.h"
#include "ui/messenger.h"
#include "ui/timebox.h"

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

class FakeInputs final : public inputs::InputsAccess
{
public:
    inputs::OverrideView view{
        QStringLiteral("INPUT 1 OFF"), QStringLiteral("INPUT 2 OFF"), QStringLiteral("INPUT 3 OFF"), {},
        QStringLiteral("00:00:00"),    QStringLiteral("00:00:00"),    QStringLiteral("2024-01-01")};
    int rereads = 0;
    std::function<void()> onReread;

    inputs::OverrideView overrideView(int) const override { return view; }
    void rereadRecord() override
    {
        ++rereads;
        if (onReread) onReread();
    }
};

class WindowRig
{
public:
    WindowRig()
        : db(store::Database::open(dir.filePath(QStringLiteral("Kestra3.db")), QDate(2024, 1, 1))),
          port(0x3BC, test::simulatedPortEnvironment(dir)),
          clock(monday(QTime(12, 0))), ctx{kestra3Config(), port, *db, clock}
    {}

    // A loaded window of channel m, as the main window makes it at start-up.
    std::unique_ptr<channels::ChannelWindow> window(int m)
    {
        auto w = std::make_unique<channels::ChannelWindow>(ctx, m, &inputs, nullptr);
        w->load();
        return w;
    }

    void store(const QString& field, const QString& value) { db->writeSettings({{field, value}}); }
    QString stored(const QString& field) const { return db->readSettings().value(field.toLower()); }

    QTemporaryDir dir;
    std::unique_ptr<store::Database> db;
    port::Port port;
    FakeClock clock;
    ui::AppContext ctx;
    FakeInputs inputs;
    ui::RecordingMessenger messages;
};

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
