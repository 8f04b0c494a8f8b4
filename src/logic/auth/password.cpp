#include "logic/auth/password.h"

#include "base/errnotext.h"
#include "base/failure.h"

#include <QByteArray>
#include <cerrno>
#include <crypt.h>
#include <cstring>
#include <sys/random.h>

namespace kestra::auth {

QString passwordProblem(const QString& password)
{
    if (password.size() < kMinPasswordLength)
        return QStringLiteral("The password needs at least %1 characters.").arg(kMinPasswordLength);
    if (password.size() > kMaxPasswordLength)
        return QStringLiteral("The password may have at most %1 characters.").arg(kMaxPasswordLength);
    for (const QChar c : password)
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("The password may not hold control characters.");
    return {};
}

QString hashPassword(const QString& password)
{
    if (const QString problem = passwordProblem(password); !problem.isEmpty())
        throw Failure(failure::kConversion, problem);
    // yescrypt with libcrypt's default cost; the salt comes from the kernel.
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting))
        throw Failure(failure::kInternal,
                      QStringLiteral("no salt for the password: %1").arg(errnoText(errno)));
    crypt_data data;
    std::memset(&data, 0, sizeof data);
    const QByteArray clear = password.toUtf8();
    const char* hashed = crypt_rn(clear.constData(), setting, &data, sizeof data);
    if (!hashed || hashed[0] == '*')
        throw Failure(failure::kInternal, QStringLiteral("the password could not be hashed"));
    const QString result = QString::fromLatin1(hashed);
    explicit_bzero(&data, sizeof data);
    return result;
}

bool checkPassword(const QString& password, const QString& hash)
{
    if (!hash.startsWith(QLatin1Char('$')) || password.size() > kMaxPasswordLength) return false;
    crypt_data data;
    std::memset(&data, 0, sizeof data);
    const QByteArray clear = password.toUtf8();
    const QByteArray setting = hash.toLatin1();
    const char* hashed = crypt_rn(clear.constData(), setting.constData(), &data, sizeof data);
    const bool ok = hashed && hashed[0] != '*' && sameSecret(QString::fromLatin1(hashed), hash);
    explicit_bzero(&data, sizeof data);
    return ok;
}

QString randomToken(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < raw.size()) {
        const ssize_t n = getrandom(raw.data() + filled, size_t(raw.size() - filled), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Failure(failure::kInternal, QStringLiteral("no random numbers: %1").arg(errnoText(errno)));
        }
        filled += n;
    }
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool sameSecret(const QString& a, const QString& b)
{
    const QByteArray x = a.toUtf8(), y = b.toUtf8();
    unsigned char diff = x.size() == y.size() ? 0 : 1;
    for (qsizetype i = 0; i < x.size(); ++i)
        diff |= static_cast<unsigned char>(x[i] ^ y[i % qMax<qsizetype>(1, y.size())]);
    return diff == 0;
}

} // namespace kestra::auth
