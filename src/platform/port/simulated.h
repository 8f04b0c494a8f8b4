#pragma once

#include <QString>
#include <QtGlobal>
#include <array>

namespace kestra::port {

// The simulated port: a file of exactly three bytes (data, status, control),
// read and written one byte per call with no caching, so that other programs
// can watch the outputs and set the inputs while the program runs.
//
// No call blocks or creates a file with holes: a path that is not a regular
// file (a FIFO, a directory, a device) is refused before it is opened, and a
// file that is missing or not 3 bytes long is only ever replaced whole.
class SimulatedPortFile
{
public:
    static constexpr quint8 kIdleStatus = 0x78; // all five inputs OFF
    using Bytes = std::array<quint8, 3>;
    // Every output OFF under the default polarity (0 V is ON), all inputs OFF.
    static constexpr Bytes kInitial{0xFF, kIdleStatus, 0x00};

    enum class Shape { Whole, Missing, WrongSize, NotAFile };

    explicit SimulatedPortFile(QString path) : m_path(std::move(path)) {}

    // What lies at the path now, without opening it; *size is set for a regular file.
    Shape shape(qint64* size = nullptr) const;
    // Makes a whole file of kInitial when there is none. Returns an empty string
    // on success, else what went wrong.
    QString ensureExists() const;
    // These throw Failure(port) unless the path is a whole port file.
    quint8 read(int offset) const;
    Bytes readAll() const;
    void write(int offset, quint8 value) const;
    // Puts a whole file with these bytes in place of a missing or wrongly sized
    // one, in one step (readers see the old file or the whole new one). Refuses
    // a path that is not a regular file. Throws Failure(port).
    void putBack(const Bytes& bytes) const;
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

} // namespace kestra::port
