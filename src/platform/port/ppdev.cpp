#include "platform/port/ppdev.h"

#include "base/errnotext.h"
#include "base/failure.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestra::port {

PpdevDevice::PpdevDevice(const QString& path) : m_path(path)
{
    const QByteArray p = QFile::encodeName(path);
    const int fd = ::open(p.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) fail(errno);
    if (::ioctl(fd, PPEXCL) < 0 || ::ioctl(fd, PPCLAIM) < 0) {
        const int err = errno;
        ::close(fd);
        fail(err);
    }
    m_fd = fd;
}

PpdevDevice::~PpdevDevice()
{
    release();
}

PpdevDevice::PpdevDevice(PpdevDevice&& other) noexcept
    : m_path(std::move(other.m_path)), m_fd(std::exchange(other.m_fd, -1))
{}

PpdevDevice& PpdevDevice::operator=(PpdevDevice&& other) noexcept
{
    if (this != &other) {
        release();
        m_path = std::move(other.m_path);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void PpdevDevice::fail(int err) const
{
    throw Failure(failure::kPort, QStringLiteral("%1: %2").arg(m_path, errnoText(err)), err);
}

void PpdevDevice::release()
{
    if (m_fd < 0) return;
    ::ioctl(m_fd, PPRELEASE);
    ::close(m_fd);
    m_fd = -1;
}

void PpdevDevice::writeData(quint8 value)
{
    unsigned char v = value;
    if (::ioctl(m_fd, PPWDATA, &v) < 0) fail(errno);
}

void PpdevDevice::writeControl(quint8 value)
{
    unsigned char v = value;
    if (::ioctl(m_fd, PPWCONTROL, &v) < 0) fail(errno);
}

quint8 PpdevDevice::readStatus()
{
    unsigned char v = 0;
    if (::ioctl(m_fd, PPRSTATUS, &v) < 0) fail(errno);
    return v;
}

} // namespace kestra::port
