#pragma once

#include <QString>
#include <QtGlobal>

namespace kestra::port {

// The simulated port: a file of exactly three bytes (data, status, control),
// read and written one byte per call with no caching, so that other programs
// can watch the outputs and set the inputs while the program runs.
class SimulatedPortFile
{
public:
    static constexpr quint8 kIdleStatus = 0x78; // all five inputs OFF

    explicit SimulatedPortFile(QString path) : m_path(std::move(path)) {}

    // Creates the file with 0xFF 0x78 0x00 when missing and completes a short one.
    // Returns an empty string on success, else what went wrong.
    QString ensureExists() const;
    // These throw Failure(port) when the file cannot be used.
    quint8 read(int offset) const;
    void write(int offset, quint8 value) const;
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

} // namespace kestra::port
