#pragma once

#include <QString>
#include <QtGlobal>

namespace kestra::port {

// One claimed /dev/parportN. Owns the descriptor and the exclusive claim; both
// are released when the object goes. All ioctl calls of the program are here.
class PpdevDevice
{
public:
    // Opens and claims the device. On failure the object is not open and
    // error() says why (errno text).
    explicit PpdevDevice(const QString& path);
    ~PpdevDevice();
    PpdevDevice(PpdevDevice&& other) noexcept;
    PpdevDevice& operator=(PpdevDevice&& other) noexcept;
    PpdevDevice(const PpdevDevice&) = delete;
    PpdevDevice& operator=(const PpdevDevice&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    QString error() const { return m_error; }
    int errorNumber() const { return m_errno; }
    // These return false and set error() when the ioctl fails.
    bool writeData(quint8 value);
    bool writeControl(quint8 value);
    bool readStatus(quint8& value);

private:
    void release();
    int m_fd = -1;
    bool m_claimed = false;
    QString m_error;
    int m_errno = 0;
};

} // namespace kestra::port
