#pragma once

#include "base/clock.h"
#include "model/switchmodel.h"
#include "platform/port/port.h"
#include "platform/port/simulated.h"
#include "service/service.h"
#include "shell/mainwindow.h"
#include "storage/store/database.h"
#include "tests/support/testsupport.h"
#include "views/channels/channelwindow.h"
#include "views/inputs/inputswindow.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace kestra::test {

// One program's worth of parts on a temporary directory.
struct Rig
{
    QTemporaryDir dir;
    std::unique_ptr<store::Database> db;
    std::unique_ptr<port::Port> port;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0))};
    std::unique_ptr<service::Service> service;
    std::unique_ptr<shell::MainWindow> main;

    explicit Rig(std::initializer_list<std::pair<QString, QString>> settings = {})
    {
        db = store::Database::open(dir.filePath("Kestra3.db"), clock.now().date());
        db->writeSettings(store::FieldValues(settings));
        port = std::make_unique<port::Port>(0x3BC, simulatedPortEnvironment(dir));
    }
    void start()
    {
        service = std::make_unique<service::Service>(model::Context{kestra3Config(), *port, *db, clock},
                                                     dir.filePath("History3BC.db"));
        main = std::make_unique<shell::MainWindow>(*service);
        main->load();
    }
    model::SwitchModel& model() const { return service->model(); }
    void restart()
    {
        stop();
        start();
    }
    void stop()
    {
        if (main) main->close();
        main.reset();
        service.reset();
    }
    QByteArray portBytes() const
    {
        QFile f(dir.filePath("port-3BC"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    quint8 data() const { return quint8(portBytes().at(0)); }
    quint8 control() const { return quint8(portBytes().at(2)); }
    template <typename T> T* find(const QString& name) const { return main->findChild<T*>(name); }
    QString stored(const QString& field) const { return db->readSettings().value(field.toLower()); }
};

inline void clearPlacement()
{
    QSettings(QSettings::IniFormat, QSettings::UserScope, "KESTRA3").clear();
}

} // namespace kestra::test
