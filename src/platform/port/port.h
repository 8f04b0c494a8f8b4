#pragma once

#include <QString>
#include <QtGlobal>
#include <array>
#include <functional>
#include <memory>

namespace kestra::port {

enum class Register { Data = 0, Status = 1, Control = 2 };

// One way of reaching the three registers.
class Backend
{
public:
    virtual ~Backend() = default;
    virtual void write(Register reg, quint8 value) = 0; // throws Failure(port)
    virtual quint8 read(Register reg) = 0;              // throws Failure(port)
    // Something the user should hear about although the call went through
    // (a port file that was put back); empty when there is nothing new.
    virtual QString takeNotice() { return {}; }
};

// Where the system keeps what the backend choice looks at. Tests point these
// at a temporary directory.
struct Environment
{
    QString parportProcDir = QStringLiteral("/proc/sys/dev/parport");
    QString deviceDir = QStringLiteral("/dev");
    QString simulatedPortPath; // the port-3BC / port-278 file
};

enum class BackendKind { NotChosen, Ppdev, Simulated, Unusable };

struct Choice
{
    std::unique_ptr<Backend> backend; // null when Unusable
    BackendKind kind = BackendKind::NotChosen;
    QString description; // "Port 3BC: /dev/parport0", "Port 3BC: simulated (...)", ...
    QString device;      // the /dev/parportN or the simulated file, when there is one
    QString notice;      // what the choice had to mend, if anything
};

// Picks the backend for the port at `base`: ppdev when the system has a printer
// port at that address, the simulated-port file when it has none. A real port
// that cannot be opened or claimed is Unusable, never simulated.
Choice choose(quint16 base, const Environment& env);

// What is wrong with a printer port that cannot be opened or claimed (errno
// err), and what the user can do about it.
QString unusableAdvice(const QString& device, int err);

// Hears of every register access that reached the backend, after it did.
// Whatever it does, the access itself has happened and stays as it was.
class Observer
{
public:
    virtual ~Observer() = default;
    virtual void written(Register reg, quint8 value) = 0;
    virtual void read(Register reg, quint8 value) = 0;
};

// The port as the program uses it: one byte written to one register address,
// one byte read from one. The backend is chosen at the first call and kept.
class Port
{
public:
    Port(quint16 base, Environment env);
    ~Port();

    quint16 base() const { return m_base; }
    void writeRegister(quint16 address, quint8 value); // throws Failure(port)
    quint8 readRegister(quint16 address);              // throws Failure(port)

    void writeData(quint8 value) { writeRegister(m_base, value); }
    void writeControl(quint8 value) { writeRegister(m_base + 2, value); }
    quint8 readStatus() { return readRegister(m_base + 1); }

    BackendKind kind() const { return m_kind; }
    // Which backend drives the outputs and why; empty before the first call.
    QString description() const { return m_description; }
    // The device or file behind the port; empty before the first call or when there is none.
    QString device() const { return m_device; }
    // Why the last call on this register failed; empty when it went through.
    QString lastFailure(Register reg) const { return m_failures[int(reg)]; }
    // The latest notice of the backend, and how many there were so far.
    QString notice() const { return m_notice; }
    int noticeCount() const { return m_noticeCount; }
    // Writes that reached the backend, per register (data, status, control).
    int writeCount(Register reg) const { return m_writes[int(reg)]; }
    // One observer at most; null removes it. Not owned.
    void setObserver(Observer* observer) { m_observer = observer; }

private:
    // Chooses the backend, once: a printer port's device is opened and held from
    // here on. Touches no register.
    void chooseBackend();
    Register registerAt(quint16 address) const;
    void note(const QString& notice);
    quint8 call(Register reg, const std::function<quint8()>& c);

    quint16 m_base;
    Environment m_env;
    std::unique_ptr<Backend> m_backend;
    BackendKind m_kind = BackendKind::NotChosen;
    QString m_description;
    QString m_device;
    std::array<int, 3> m_writes{};
    std::array<QString, 3> m_failures;
    QString m_notice;
    int m_noticeCount = 0;
    Observer* m_observer = nullptr;
};

} // namespace kestra::port
