#include "common/timetext.h"

#include "common/failure.h"

#include <QRegularExpression>

namespace kestra {

namespace {
// The bad text as a message quotes it: a stored value may be megabytes long,
// and a box that size helps nobody.
QString quotedText(const QString& text)
{
    constexpr int kShown = 40;
    if (text.size() <= kShown) return QLatin1Char('"') + text + QLatin1Char('"');
    return QStringLiteral("\"%1...\" (%2 characters)").arg(text.left(kShown)).arg(text.size());
}
} // namespace

std::optional<int> tryParseTime(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2}))?$"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch()) return std::nullopt;
    const int h = m.captured(1).toInt();
    const int min = m.captured(2).toInt();
    const int s = m.capturedLength(3) > 0 ? m.captured(3).toInt() : 0;
    if (h > 23 || min > 59 || s > 59) return std::nullopt;
    return h * 3600 + min * 60 + s;
}

int parseTime(const QString& text)
{
    if (auto t = tryParseTime(text)) return *t;
    throw Failure(failure::kConversion,
                  QStringLiteral("Type mismatch: %1 is not a time").arg(quotedText(text)));
}

QString formatTime(int secondsOfDay)
{
    const int s = ((secondsOfDay % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

std::optional<QDate> tryParseDate(const QString& text)
{
    const QDate d = QDate::fromString(text.trimmed(), Qt::ISODate);
    if (!d.isValid()) return std::nullopt;
    return d;
}

QDate parseDate(const QString& text)
{
    if (auto d = tryParseDate(text)) return *d;
    throw Failure(failure::kConversion,
                  QStringLiteral("Type mismatch: %1 is not a date").arg(quotedText(text)));
}

QString formatDate(const QDate& date)
{
    return date.toString(Qt::ISODate);
}

std::optional<bool> tryParseFlag(const QString& text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
    bool ok = false;
    const double n = t.toDouble(&ok);
    if (ok) return n != 0.0;
    return std::nullopt;
}

bool parseFlag(const QString& text)
{
    if (auto f = tryParseFlag(text)) return *f;
    throw Failure(failure::kConversion,
                  QStringLiteral("Type mismatch: %1 is not True or False").arg(quotedText(text)));
}

QString flagText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

int parseNumber(const QString& text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok)
        throw Failure(failure::kConversion,
                      QStringLiteral("Type mismatch: %1 is not a number").arg(quotedText(text)));
    return n;
}

} // namespace kestra
