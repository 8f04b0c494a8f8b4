#include "platform/port/port.h"

#include "base/errnotext.h"
#include "base/failure.h"
#include "platform/port/ppdev.h"
#include "platform/port/simulated.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>
#include <cerrno>

namespace kestra::port {

namespace {

class PpdevBackend final : public Backend
{
public:
    explicit PpdevBackend(PpdevDevice device) : m_device(std::move(device)) {}

    void write(Register reg, quint8 value) override
    {
        if (reg == Register::Data)
            m_device.writeData(value);
        else
            m_device.writeControl(value);
    }
    quint8 read(Register) override { return m_device.readStatus(); }

private:
    PpdevDevice m_device;
};

QString putBackNotice(SimulatedPortFile::Shape shape, qint64 size)
{
    const QString was = shape == SimulatedPortFile::Shape::Missing
                            ? QStringLiteral("the file was missing")
                            : QStringLiteral("the file was %1 bytes long").arg(size);
    return was + QStringLiteral(" and was put back whole (outputs and control as last written, inputs OFF)");
}

// A file that went missing or lost bytes is put back whole, with what the
// program last wrote and every input OFF, rather than used with holes.
class SimulatedBackend final : public Backend
{
public:
    SimulatedBackend(QString path, SimulatedPortFile::Bytes current)
        : m_file(std::move(path)), m_written(current)
    {}
    void write(Register reg, quint8 value) override
    {
        SimulatedPortFile::Bytes whole = m_written;
        whole[int(reg)] = value;
        if (!putBackIfBroken(whole)) m_file.write(int(reg), value);
        m_written[int(reg)] = value;
    }
    quint8 read(Register reg) override
    {
        if (putBackIfBroken(m_written))
            throw Failure(failure::kPort,
                          QStringLiteral("Simulated port %1: %2; the inputs are read again at the next look")
                              .arg(m_file.path(), m_notice));
        return m_file.read(int(reg));
    }
    QString takeNotice() override { return std::exchange(m_notice, QString()); }

private:
    bool putBackIfBroken(SimulatedPortFile::Bytes whole)
    {
        qint64 size = 0;
        const auto shape = m_file.shape(&size);
        if (shape != SimulatedPortFile::Shape::Missing && shape != SimulatedPortFile::Shape::WrongSize)
            return false;
        whole[int(Register::Status)] = SimulatedPortFile::kIdleStatus;
        m_file.putBack(whole);
        m_notice = putBackNotice(shape, size);
        return true;
    }

    SimulatedPortFile m_file;
    SimulatedPortFile::Bytes m_written; // data and control as last written
    QString m_notice;
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

} // namespace

QString unusableAdvice(const QString& device, int err)
{
    const QString reason = errnoText(err);
    switch (err) {
    case EACCES:
    case EPERM:
        return QStringLiteral(
                   "no access to %1 (%2). Join group lp (sudo adduser $USER lp, then log in again).")
            .arg(device, reason);
    case EBUSY:
        return QStringLiteral("%1 is busy (%2). Close the program that uses the port.").arg(device, reason);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("%1 does not answer (%2). Load the ppdev module (sudo modprobe ppdev).")
            .arg(device, reason);
    default:
        return QStringLiteral("%1 cannot be used as a printer port (%2).").arg(device, reason);
    }
}

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
        c.device = device;
        if (!QFileInfo::exists(device)) {
            c.kind = BackendKind::Unusable;
            c.description =
                prefix +
                QStringLiteral("%1 is missing. Load the ppdev module (sudo modprobe ppdev).").arg(device);
            return c;
        }
        try {
            c.backend = std::make_unique<PpdevBackend>(PpdevDevice(device));
        } catch (const Failure& f) {
            c.kind = BackendKind::Unusable;
            c.description = prefix + unusableAdvice(device, f.errorNumber);
            return c;
        }
        c.kind = BackendKind::Ppdev;
        c.description = prefix + device;
        return c;
    }

    const SimulatedPortFile file(env.simulatedPortPath);
    c.device = file.path();
    SimulatedPortFile::Bytes current = SimulatedPortFile::kInitial;
    try {
        qint64 size = 0;
        const auto shape = file.shape(&size);
        if (shape == SimulatedPortFile::Shape::Missing || shape == SimulatedPortFile::Shape::WrongSize) {
            file.putBack(current);
            // A first start makes the file; anything else is worth a word.
            if (shape == SimulatedPortFile::Shape::WrongSize) c.notice = putBackNotice(shape, size);
        } else {
            current = file.readAll();
        }
    } catch (const Failure& f) {
        c.kind = BackendKind::Unusable;
        c.description = prefix + QStringLiteral("cannot use the simulated port (%1)").arg(f.description);
        return c;
    }
    c.backend = std::make_unique<SimulatedBackend>(env.simulatedPortPath, current);
    c.kind = BackendKind::Simulated;
    c.description =
        prefix + QStringLiteral("simulated (no printer port at %1), file %2").arg(portText, file.path());
    return c;
}

namespace {
// A listener that fails does not undo the access, which has happened; the
// failure is told on standard error rather than lost. Called inside a catch.
void observerFailed()
{
    try {
        throw;
    } catch (const Failure& f) {
        qWarning().noquote() << "A listener of the port failed:" << f.description;
    } catch (const std::exception& e) {
        qWarning().noquote() << "A listener of the port failed:" << e.what();
    } catch (...) {
        qWarning() << "A listener of the port failed";
    }
}
} // namespace

Port::Port(quint16 base, Environment env) : m_base(base), m_env(std::move(env)) {}

Port::~Port() = default;

void Port::chooseBackend()
{
    if (m_kind != BackendKind::NotChosen) return;
    Choice c = choose(m_base, m_env);
    m_backend = std::move(c.backend);
    m_kind = c.kind;
    m_description = c.description;
    m_device = c.device;
    if (!c.notice.isEmpty()) note(c.notice);
}

void Port::note(const QString& notice)
{
    m_notice = notice;
    ++m_noticeCount;
}

// Runs one backend call, keeping what went wrong (or that nothing did) and any notice.
quint8 Port::call(Register reg, const std::function<quint8()>& c)
{
    chooseBackend();
    auto takeNotice = [&] {
        if (!m_backend) return;
        if (QString n = m_backend->takeNotice(); !n.isEmpty()) note(n);
    };
    try {
        if (!m_backend) throw Failure(failure::kPort, m_description);
        const quint8 value = c();
        m_failures[int(reg)].clear();
        takeNotice();
        return value;
    } catch (const Failure& f) {
        m_failures[int(reg)] = f.description;
        takeNotice();
        throw;
    }
}

Register Port::registerAt(quint16 address) const
{
    if (address < m_base || address > m_base + 2)
        throw Failure(failure::kPort, QStringLiteral("Address %1 is not a register of port %2")
                                          .arg(QString::number(address, 16).toUpper(),
                                               QString::number(m_base, 16).toUpper()));
    return Register(address - m_base);
}

void Port::writeRegister(quint16 address, quint8 value)
{
    const Register reg = registerAt(address);
    call(reg, [&] {
        m_backend->write(reg, value);
        return value;
    });
    ++m_writes[int(reg)];
    if (m_observer) {
        try {
            m_observer->written(reg, value);
        } catch (...) {
            observerFailed();
        }
    }
}

quint8 Port::readRegister(quint16 address)
{
    const Register reg = registerAt(address);
    const quint8 value = call(reg, [&] { return m_backend->read(reg); });
    if (m_observer) {
        try {
            m_observer->read(reg, value);
        } catch (...) {
            observerFailed();
        }
    }
    return value;
}

} // namespace kestra::port
