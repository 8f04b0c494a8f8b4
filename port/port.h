#pragma once

#include <QString>
#include <QtGlobal>
#include <array>
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
};

// Picks the backend for the port at `base`: ppdev when the system has a printer
// port at that address, the simulated-port file when it has none. A real port
// that cannot be opened or claimed is Unusable, never simulated.
Choice choose(quint16 base, const Environment& env);

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
    void out32(quint16 address, quint8 value); // throws Failure(port)
    quint8 inp32(quint16 address);             // throws Failure(port)

    void writeData(quint8 value) { out32(m_base, value); }
    void writeControl(quint8 value) { out32(m_base + 2, value); }
    quint8 readStatus() { return inp32(m_base + 1); }

    BackendKind kind() const { return m_kind; }
    // Which backend drives the outputs and why; empty before the first call.
    QString description() const { return m_description; }
    // Writes that reached the backend, per register (data, status, control).
    int writeCount(Register reg) const { return m_writes[int(reg)]; }
    // One observer at most; null removes it. Not owned.
    void setObserver(Observer* observer) { m_observer = observer; }

private:
    Register registerAt(quint16 address) const;
    void ensureChosen();

    quint16 m_base;
    Environment m_env;
    std::unique_ptr<Backend> m_backend;
    BackendKind m_kind = BackendKind::NotChosen;
    QString m_description;
    std::array<int, 3> m_writes{};
    Observer* m_observer = nullptr;
};

} // namespace kestra::port
