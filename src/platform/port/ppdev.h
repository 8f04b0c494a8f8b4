#pragma once

#include <QString>
#include <QtGlobal>

namespace kestra::port {

// One claimed /dev/parportN. Owns the descriptor and the exclusive claim; both
// are released when the object goes. All ioctl calls of the program are here.
class PpdevDevice
{
public:
    // Opens and claims the device, or throws Failure(port) with the errno kept:
    // there is no half-open device.
    explicit PpdevDevice(const QString& path);
    ~PpdevDevice();
    PpdevDevice(PpdevDevice&& other) noexcept;
    PpdevDevice& operator=(PpdevDevice&& other) noexcept;
    PpdevDevice(const PpdevDevice&) = delete;
    PpdevDevice& operator=(const PpdevDevice&) = delete;

    // These throw Failure(port), "/dev/parportN: <errno text>", when the ioctl fails.
    void writeData(quint8 value);
    void writeControl(quint8 value);
    quint8 readStatus();

private:
    [[noreturn]] void fail(int err) const;
    void release();
    QString m_path;
    int m_fd = -1;
};

} // namespace kestra::port
