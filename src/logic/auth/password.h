#pragma once

#include <QString>

namespace kestra::auth {

// The shortest and longest password accepted; a longer one would only cost the
// hash time on every login attempt.
inline constexpr int kMinPasswordLength = 8;
inline constexpr int kMaxPasswordLength = 256;

// Why `password` cannot be set; empty when it can.
QString passwordProblem(const QString& password);

// The password as libcrypt's yescrypt hash ("$y$..."), with a fresh salt: the
// form it is stored in, never the clear text. Throws Failure when libcrypt refuses.
QString hashPassword(const QString& password);

// Whether `password` matches `hash`; false for an empty or damaged hash.
bool checkPassword(const QString& password, const QString& hash);

// `bytes` random bytes from the kernel as URL-safe base64 without padding:
// session ids, login codes, the API token. Throws Failure when none can be had.
QString randomToken(int bytes = 32);

// Compares two secrets in a time that does not depend on where they differ.
bool sameSecret(const QString& a, const QString& b);

} // namespace kestra::auth
