#include "storage/store/schema.h"

#include "base/timetext.h"

#include <QHash>

namespace kestra::store {

namespace {
const QStringList kDays = {QStringLiteral("Sun"), QStringLiteral("Mon"), QStringLiteral("Tue"),
                           QStringLiteral("Wed"), QStringLiteral("Thr"), QStringLiteral("Fri"),
                           QStringLiteral("Sat")};

struct Catalogue
{
    QStringList names;
    QHash<QString, FieldFormat> formats; // keyed by lower-case name
    void add(const QString& n, FieldFormat f)
    {
        names << n;
        formats.insert(n.toLower(), f);
    }
};

const Catalogue& catalogue()
{
    static const Catalogue c = [] {
        Catalogue c;
        for (int i = 1; i <= 13; ++i)
            c.add(QStringLiteral("Loc%1").arg(i), FieldFormat::Text);
        c.add(QStringLiteral("output"), FieldFormat::Byte);
        c.add(QStringLiteral("SOURCEPORT"), FieldFormat::Flag);
        for (int d = 0; d < 7; ++d)
            for (int m = 1; m <= 8; ++m)
                c.add(dayField(m, d), FieldFormat::Flag);
        for (const char* mode : {"Auto", "Off", "On"})
            for (int m = 1; m <= 8; ++m)
                c.add(modeField(m, QLatin1String(mode)), FieldFormat::Flag);
        for (int m : {1, 2, 3, 6}) {
            c.add(QStringLiteral("Start%1a").arg(m), FieldFormat::Time);
            c.add(QStringLiteral("Run%1a").arg(m), FieldFormat::Time);
        }
        for (int m : {4, 5})
            for (const char* s : {"a", "b"}) {
                c.add(QStringLiteral("Start%1%2").arg(m).arg(QLatin1String(s)), FieldFormat::Time);
                c.add(QStringLiteral("Run%1%2").arg(m).arg(QLatin1String(s)), FieldFormat::Time);
            }
        c.add(QStringLiteral("Start7a"), FieldFormat::Time);
        c.add(QStringLiteral("Run7a"), FieldFormat::Time);
        for (const QString& d : kDays)
            c.add(d.toUpper() + QStringLiteral("7A"), FieldFormat::Flag);
        for (char s = 'a'; s <= 'j'; ++s) {
            c.add(QStringLiteral("Start8") + QLatin1Char(s), FieldFormat::Time);
            c.add(QStringLiteral("Run8") + QLatin1Char(s), FieldFormat::Time);
        }
        c.add(QStringLiteral("PLSESTRT"), FieldFormat::Counter);
        c.add(QStringLiteral("PLSESTP"), FieldFormat::Counter);
        c.add(QStringLiteral("INP3TIME"), FieldFormat::Time);
        c.add(QStringLiteral("inp3start"), FieldFormat::Time);
        c.add(QStringLiteral("inp3date"), FieldFormat::Date);
        c.add(QStringLiteral("file1"), FieldFormat::Path);
        for (int n = 1; n <= 3; ++n)
            for (bool on : {true, false})
                for (int m = 1; m <= 8; ++m)
                    c.add(mappingField(n, on, m), FieldFormat::Flag);
        return c;
    }();
    return c;
}
} // namespace

const QStringList& settingsFields()
{
    return catalogue().names;
}

FieldFormat fieldFormat(const QString& field)
{
    return catalogue().formats.value(field.toLower(), FieldFormat::Text);
}

QString newRecordValue(const QString& field, const QDate& today)
{
    switch (fieldFormat(field)) {
    case FieldFormat::Flag:
        return flagText(false);
    case FieldFormat::Time:
        return formatTime(0);
    case FieldFormat::Byte:
        // The output byte is put on the port at start-up: a new record keeps
        // every relay OFF under its polarity (SOURCEPORT False, 0 V is ON).
        return QStringLiteral("255");
    case FieldFormat::Counter:
        return QStringLiteral("0");
    case FieldFormat::Date:
        return formatDate(today);
    case FieldFormat::Text:
    case FieldFormat::Path:
        break;
    }
    return {};
}

QString dayField(int channel, int dayIndex)
{
    return kDays.at(dayIndex) + QString::number(channel);
}

QString modeField(int channel, const QString& mode)
{
    return channel == 1 ? mode : mode + QString::number(channel);
}

QString mappingField(int input, bool on, int output)
{
    return QStringLiteral("%1INP %2%3")
        .arg(input)
        .arg(on ? QStringLiteral("ON") : QStringLiteral("OFF"))
        .arg(output);
}

QStringList presetStartTimes()
{
    QStringList list;
    for (int q = 0; q < 96; ++q)
        list << formatTime(q * 15 * 60);
    return list;
}

QStringList presetRunTimes()
{
    QStringList list;
    for (int s : {1, 2, 5, 10, 15, 20, 30, 45})
        list << formatTime(s);
    for (int m : {1, 2, 3, 5, 10, 15, 20, 30, 45})
        list << formatTime(m * 60);
    for (int h = 1; h <= 12; ++h)
        list << formatTime(h * 3600);
    list << formatTime(90 * 60) << formatTime(150 * 60);
    list << formatTime(16 * 3600) << formatTime(18 * 3600) << formatTime(20 * 3600)
         << formatTime(23 * 3600 + 59 * 60 + 59);
    list.sort();
    list.prepend(formatTime(0));
    list.removeDuplicates();
    return list;
}

QString quoted(const QString& name)
{
    QString n = name;
    return QLatin1Char('"') + n.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

} // namespace kestra::store
