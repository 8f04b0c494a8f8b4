#pragma once

#include "tests/support/testsupport.h"

// What the inputs window tests share: a settings file in a temporary directory,
// the simulated port file, a fake clock, and the window on top of them.

#include "base/buildconfig.h"
#include "base/clock.h"
#include "base/ticker.h"
#include "model/inputs.h"
#include "platform/port/port.h"
#include "platform/port/simulated.h"
#include "storage/store/database.h"
#include "views/inputs/inputswindow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <memory>

namespace kestra::test {

inline const QDateTime kMonday10(QDate(2024, 3, 4), QTime(10, 0, 0));

// A short, valid PCM wave file (mono, 8 kHz, 16 bit, 50 ms of silence).
inline bool writeWave(const QString& path)
{
    constexpr quint32 rate = 8000;
    constexpr quint16 bits = 16;
    constexpr quint32 samples = rate / 20;
    const quint32 dataBytes = samples * bits / 8;
    QByteArray b;
    auto u32 = [&](quint32 v) {
        char c[4];
        qToLittleEndian(v, c);
        b.append(c, 4);
    };
    auto u16 = [&](quint16 v) {
        char c[2];
        qToLittleEndian(v, c);
        b.append(c, 2);
    };
    b.append("RIFF");
    u32(36 + dataBytes);
    b.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * bits / 8);
    u16(bits / 8);
    u16(bits);
    b.append("data");
    u32(dataBytes);
    b.append(QByteArray(int(dataBytes), '\0'));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}

struct InputsRig
{
    QTemporaryDir dir;
    std::unique_ptr<store::Database> db;
    port::SimulatedPortFile sim;
    port::Port port;
    FakeClock clock;
    Ticker ticker{clock};
    std::unique_ptr<model::Inputs> part;
    std::unique_ptr<inputs::InputsWindow> window;

    InputsRig()
        : db(store::Database::open(dir.filePath(QStringLiteral("Kestra3.db")), kMonday10.date())),
          sim(dir.filePath(QStringLiteral("port-3BC"))), port(0x3BC, simulatedPortEnvironment(dir)),
          clock(kMonday10)
    {
        sim.ensureExists();
    }

    // Loaded inputs with their window; the timer is stopped, so that the test runs each cycle itself.
    inputs::InputsWindow& open(bool keepTimer = false)
    {
        part = std::make_unique<model::Inputs>(model::Context{kestra3Config(), port, *db, clock}, ticker);
        part->load();
        window = std::make_unique<inputs::InputsWindow>(*part, QStringLiteral("KESTRA3"), nullptr);
        if (!keepTimer) timer()->stop();
        return *window;
    }
    // Program end, then a new start on the same file.
    inputs::InputsWindow& restart()
    {
        part->unload();
        window.reset();
        part.reset();
        return open();
    }
    model::Inputs& inputs() const { return *part; }
    QTimer* timer() const { return &part->cycleTimer(); }
    template <class T> T* child(const QString& name) const
    {
        T* c = window->findChild<T*>(name);
        if (!c) qWarning("no control %s", qPrintable(name));
        return c;
    }
    QString stored(const QString& field) const { return db->readSettings().value(field.toLower()); }
    void setStatus(quint8 status) const { sim.write(1, status); }
};

} // namespace kestra::test
