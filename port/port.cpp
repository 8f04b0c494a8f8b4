#include "port/port.h"

#include "common/failure.h"
#include "port/ppdev.h"
#include "port/simulated.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kestra::port {

namespace {

class PpdevBackend final : public Backend
{
public:
    PpdevBackend(PpdevDevice device, QString path) : m_device(std::move(device)), m_path(std::move(path)) {}

    void write(Register reg, quint8 value) override
    {
        const bool ok = reg == Register::Data ? m_device.writeData(value) : m_device.writeControl(value);
        if (!ok) fail();
    }
    quint8 read(Register) override
    {
        quint8 v = 0;
        if (!m_device.readStatus(v)) fail();
        return v;
    }

private:
    [[noreturn]] void fail()
    {
        throw Failure(failure::kPort, QStringLiteral("%1: %2").arg(m_path, m_device.error()));
    }
    PpdevDevice m_device;
    QString m_path;
};

class SimulatedBackend final : public Backend
{
public:
    explicit SimulatedBackend(QString path) : m_file(std::move(path)) {}
    void write(Register reg, quint8 value) override { m_file.write(int(reg), value); }
    quint8 read(Register reg) override { return m_file.read(int(reg)); }

private:
    SimulatedPortFile m_file;
};

// The first number of a base-addr file ("956\t1980" or "0x3bc ...").
bool firstNumber(const QString& path, quint32& out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QString text = QString::fromLatin1(f.readAll()).simplified();
    const QString first = text.section(QLatin1Char(' '), 0, 0);
    bool ok = false;
    out = first.toUInt(&ok, 0);
    return ok;
}

QString accessAdvice(const QString& device, const QString& reason)
{
    return QStringLiteral("no access to %1 (%2). Join group lp (sudo adduser $USER lp, then log in again), "
                          "or close the program that uses the port.")
        .arg(device, reason);
}

} // namespace

Choice choose(quint16 base, const Environment& env)
{
    const QString portText = QString::number(base, 16).toUpper();
    const QString prefix = QStringLiteral("Port %1: ").arg(portText);
    Choice c;

    const QDir proc(env.parportProcDir);
    const QStringList ports =
        proc.exists() ? proc.entryList({QStringLiteral("parport*")}, QDir::Dirs) : QStringList{};
    for (const QString& name : ports) {
        quint32 addr = 0;
        if (!firstNumber(proc.filePath(name + QStringLiteral("/base-addr")), addr) || addr != base) continue;
        const QString device = QDir(env.deviceDir).filePath(name);
        if (!QFileInfo::exists(device)) {
            c.kind = BackendKind::Unusable;
            c.description =
                prefix +
                QStringLiteral("%1 is missing. Load the ppdev module (sudo modprobe ppdev).").arg(device);
            return c;
        }
        PpdevDevice dev(device);
        if (!dev.isOpen()) {
            c.kind = BackendKind::Unusable;
            c.description = prefix + accessAdvice(device, dev.error());
            return c;
        }
        c.backend = std::make_unique<PpdevBackend>(std::move(dev), device);
        c.kind = BackendKind::Ppdev;
        c.description = prefix + device;
        return c;
    }

    const SimulatedPortFile file(env.simulatedPortPath);
    if (const QString err = file.ensureExists(); !err.isEmpty()) {
        c.kind = BackendKind::Unusable;
        c.description =
            prefix + QStringLiteral("cannot create the simulated port %1 (%2)").arg(file.path(), err);
        return c;
    }
    c.backend = std::make_unique<SimulatedBackend>(env.simulatedPortPath);
    c.kind = BackendKind::Simulated;
    c.description =
        prefix + QStringLiteral("simulated (no printer port at %1), file %2").arg(portText, file.path());
    return c;
}

Port::Port(quint16 base, Environment env) : m_base(base), m_env(std::move(env)) {}

Port::~Port() = default;

void Port::ensureChosen()
{
    if (m_kind != BackendKind::NotChosen) return;
    Choice c = choose(m_base, m_env);
    m_backend = std::move(c.backend);
    m_kind = c.kind;
    m_description = c.description;
}

Register Port::registerAt(quint16 address) const
{
    if (address < m_base || address > m_base + 2)
        throw Failure(failure::kPort, QStringLiteral("Address %1 is not a register of port %2")
                                          .arg(QString::number(address, 16).toUpper(),
                                               QString::number(m_base, 16).toUpper()));
    return Register(address - m_base);
}

void Port::out32(quint16 address, quint8 value)
{
    const Register reg = registerAt(address);
    ensureChosen();
    if (!m_backend) throw Failure(failure::kPort, m_description);
    m_backend->write(reg, value);
    ++m_writes[int(reg)];
    if (m_observer) {
        try {
            m_observer->written(reg, value);
        } catch (...) {
        }
    }
}

quint8 Port::inp32(quint16 address)
{
    const Register reg = registerAt(address);
    ensureChosen();
    if (!m_backend) throw Failure(failure::kPort, m_description);
    const quint8 value = m_backend->read(reg);
    if (m_observer) {
        try {
            m_observer->read(reg, value);
        } catch (...) {
        }
    }
    return value;
}

} // namespace kestra::port
