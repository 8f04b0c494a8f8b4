#include "port/ppdev.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestra::port {

namespace {
QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}
} // namespace

PpdevDevice::PpdevDevice(const QString& path)
{
    const QByteArray p = QFile::encodeName(path);
    m_fd = ::open(p.constData(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        m_errno = errno;
        m_error = errnoText(m_errno);
        return;
    }
    if (::ioctl(m_fd, PPEXCL) < 0 || ::ioctl(m_fd, PPCLAIM) < 0) {
        m_errno = errno;
        m_error = errnoText(m_errno);
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_claimed = true;
}

PpdevDevice::~PpdevDevice()
{
    release();
}

PpdevDevice::PpdevDevice(PpdevDevice&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_claimed(std::exchange(other.m_claimed, false)),
      m_error(std::move(other.m_error)), m_errno(other.m_errno)
{}

PpdevDevice& PpdevDevice::operator=(PpdevDevice&& other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
        m_claimed = std::exchange(other.m_claimed, false);
        m_error = std::move(other.m_error);
        m_errno = other.m_errno;
    }
    return *this;
}

void PpdevDevice::release()
{
    if (m_fd < 0) return;
    if (m_claimed) ::ioctl(m_fd, PPRELEASE);
    ::close(m_fd);
    m_fd = -1;
    m_claimed = false;
}

bool PpdevDevice::writeData(quint8 value)
{
    unsigned char v = value;
    if (::ioctl(m_fd, PPWDATA, &v) < 0) {
        m_errno = errno;
        m_error = errnoText(m_errno);
        return false;
    }
    return true;
}

bool PpdevDevice::writeControl(quint8 value)
{
    unsigned char v = value;
    if (::ioctl(m_fd, PPWCONTROL, &v) < 0) {
        m_errno = errno;
        m_error = errnoText(m_errno);
        return false;
    }
    return true;
}

bool PpdevDevice::readStatus(quint8& value)
{
    unsigned char v = 0;
    if (::ioctl(m_fd, PPRSTATUS, &v) < 0) {
        m_errno = errno;
        m_error = errnoText(m_errno);
        return false;
    }
    value = v;
    return true;
}

} // namespace kestra::port
