#include "logic/mqtt/messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QTimeZone>

using namespace kestra;
using namespace kestra::mqtt;

namespace {
Settings office()
{
    Settings s;
    s.name = QStringLiteral("kestra3-office");
    return s;
}

// One JSON value of the discovery message by path ("cmps/output1_state/p"), as text.
QString discovery(const QString& path)
{
    std::array<QString, kOutputs> locations;
    locations[0] = QStringLiteral("Porch light");
    locations[1] = QStringLiteral("   ");
    const QByteArray json =
        discoveryPayload(office(), QStringLiteral("kestra3"), QStringLiteral("3.0.0"), locations);
    QJsonValue v = QJsonDocument::fromJson(json).object();
    for (const QString& key : path.split(QLatin1Char('/')))
        v = v.isArray() ? v.toArray().at(key.toInt()) : v.toObject().value(key);
    return v.isString()      ? v.toString()
           : v.isUndefined() ? QStringLiteral("(none)")
                             : QString::number(v.toDouble());
}

// "topic|payload|r" (r: retained) as the link takes it: "command 3 AUTO", "birth", "own" or "ignored: why".
QString received(const QString& row)
{
    const QStringList f = row.split(QLatin1Char('|'));
    const Received r = classify(office(), f[0], f[1].toUtf8(), f.value(2) == QLatin1String("r"));
    switch (r.kind) {
    case Received::Kind::Command:
        return QStringLiteral("command %1 %2").arg(r.output).arg(modePayload(r.mode));
    case Received::Kind::Birth:
        return QStringLiteral("birth");
    case Received::Kind::Own:
        return QStringLiteral("own");
    case Received::Kind::Ignored:
        return QStringLiteral("ignored: ") + r.why;
    }
    return {};
}
} // namespace

class TstMessages : public QObject
{
    Q_OBJECT
private slots:
    void formats_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString t = QStringLiteral("kestra/kestra3-office/");
        const auto row = [](const char* kind, const QString& in, const QString& out) {
            QTest::addRow("%s %s", kind, qPrintable(in)) << QString::fromLatin1(kind) << in << out;
        };
        // The id goes into topics, the client id and unique ids: no wildcard, no level separator.
        row("name", QStringLiteral("KESTRA3-Office"), QStringLiteral("kestra3-office"));
        row("name", QStringLiteral("kestra3-my.host/a+b#c d"), QStringLiteral("kestra3-my-host-a-b-c-d"));
        row("name", QStringLiteral("Küche_2"), QStringLiteral("k-che_2"));
        row("prefix", QStringLiteral("/home/kestra/"), QStringLiteral("home/kestra"));
        row("topic", QStringLiteral("availability"), t + QStringLiteral("availability"));
        row("topic", QStringLiteral("output 8 mode/set"), t + QStringLiteral("output/8/mode/set"));
        row("topic", QStringLiteral("input 5"), t + QStringLiteral("input/5/state"));
        row("topic", QStringLiteral("discovery"),
            QStringLiteral("homeassistant/device/kestra3-office/config"));
        row("mode", QStringLiteral("0"), QStringLiteral("None"));
        row("mode", QStringLiteral("1"), QStringLiteral("AUTO"));
        // Home Assistant rejects a timestamp without its offset.
        row("next", QStringLiteral("2026-12-08T17:00:00 Europe/Berlin"),
            QStringLiteral("2026-12-08T17:00:00+01:00"));
        row("next", QStringLiteral("2026-07-01T06:30:05 Europe/Berlin"),
            QStringLiteral("2026-07-01T06:30:05+02:00"));
        row("next", QStringLiteral("2026-12-08T17:00:00 UTC"), QStringLiteral("2026-12-08T17:00:00Z"));
        row("next", QStringLiteral("invalid"), QStringLiteral("None"));
        row("hours", QStringLiteral("12.3456"), QStringLiteral("12.35"));
        row("hours", QStringLiteral("nan"), QStringLiteral("None"));
        row("received", t + QStringLiteral("output/3/mode/set| auto \n"), QStringLiteral("command 3 AUTO"));
        row("received", t + QStringLiteral("output/8/mode/set|On"), QStringLiteral("command 8 ON"));
        row("received", t + QStringLiteral("output/1/mode/set|OFF|r"),
            QStringLiteral("ignored: a retained command is never acted on"));
        row("received", t + QStringLiteral("output/1/mode/set|None"),
            QStringLiteral("ignored: the command is not AUTO, ON or OFF"));
        row("received", t + QStringLiteral("output/1/mode/set|"), QStringLiteral("ignored: empty command"));
        row("received",
            t + QStringLiteral("output/1/mode/set|") + QString(40, QLatin1Char(' ')) + QStringLiteral("ON"),
            QStringLiteral("ignored: command of 42 bytes is too long"));
        row("received", t + QStringLiteral("output/0/mode/set|ON"),
            QStringLiteral("ignored: there is no output 0"));
        row("received", t + QStringLiteral("output/9/mode/set|ON"),
            QStringLiteral("ignored: there is no output 9"));
        row("received", t + QStringLiteral("output/1/set|ON"),
            QStringLiteral("ignored: not a command topic"));
        row("received", t + QStringLiteral("output/1/state|ON|r"), QStringLiteral("own"));
        row("received", QStringLiteral("homeassistant/status|online"), QStringLiteral("birth"));
        row("received", QStringLiteral("homeassistant/status|online|r"), QStringLiteral("own"));
        row("received", QStringLiteral("homeassistant/status|offline"), QStringLiteral("own"));
        row("discovery", QStringLiteral("dev/ids"), QStringLiteral("kestra3-office"));
        row("discovery", QStringLiteral("avty_t"), t + QStringLiteral("availability"));
        row("discovery", QStringLiteral("cmps/output1_state/name"), QStringLiteral("Porch light"));
        row("discovery", QStringLiteral("cmps/output2_mode/name"), QStringLiteral("Output 2 mode"));
        row("discovery", QStringLiteral("cmps/output1_state/dev_cla"), QStringLiteral("power"));
        row("discovery", QStringLiteral("cmps/output1_state/uniq_id"),
            QStringLiteral("kestra3-office_output1_state"));
        row("discovery", QStringLiteral("cmps/output8_mode/p"), QStringLiteral("select"));
        row("discovery", QStringLiteral("cmps/output8_mode/cmd_t"), t + QStringLiteral("output/8/mode/set"));
        row("discovery", QStringLiteral("cmps/output8_mode/ops/2"), QStringLiteral("OFF"));
        row("discovery", QStringLiteral("cmps/output4_next/dev_cla"), QStringLiteral("timestamp"));
        row("discovery", QStringLiteral("cmps/output4_hours/unit_of_meas"), QStringLiteral("h"));
        row("discovery", QStringLiteral("cmps/output4_hours/stat_cla"), QStringLiteral("total_increasing"));
        row("discovery", QStringLiteral("cmps/input5/stat_t"), t + QStringLiteral("input/5/state"));
        row("discovery", QStringLiteral("cmps/input6/p"), QStringLiteral("(none)"));
    }

    void formats()
    {
        QFETCH(QString, kind);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const QStringList w = input.split(QLatin1Char(' '));
        QString got;
        if (kind == QLatin1String("name"))
            got = sanitizeName(input);
        else if (kind == QLatin1String("prefix"))
            got = cleanTopicPrefix(input);
        else if (kind == QLatin1String("topic"))
            got = w[0] == QLatin1String("availability") ? availabilityTopic(office())
                  : w[0] == QLatin1String("input")      ? inputTopic(office(), w[1].toInt())
                  : w[0] == QLatin1String("discovery")
                      ? discoveryTopic(office())
                      : outputTopic(office(), w[1].toInt(), qPrintable(w[2]));
        else if (kind == QLatin1String("mode"))
            got = QString::fromUtf8(modePayload(channels::Mode(input.toInt())));
        else if (kind == QLatin1String("next"))
            got = QString::fromUtf8(
                nextPayload(QDateTime(QDate::fromString(w[0].left(10), Qt::ISODate),
                                      QTime::fromString(w[0].mid(11)), QTimeZone(w.value(1).toUtf8()))));
        else if (kind == QLatin1String("hours"))
            got = QString::fromUtf8(hoursPayload(input.toDouble()));
        else if (kind == QLatin1String("received"))
            got = received(input);
        else if (kind == QLatin1String("discovery"))
            got = discovery(input);
        QCOMPARE(got, expected);
    }

    // What the placement file may hold that cannot work: refused with its reason
    // (no connection), never replaced by a default or sent to fail at every
    // publish; TLS in any word the file knows for yes is TLS.
    void placementFile_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected"); // "tls" for the TLS flag, else the problem or "" for none
        const auto row = [](const char* key, const QString& value, const char* expected) {
            QTest::addRow("%s=%s", key, qPrintable(value.left(20).toUtf8().toPercentEncoding()))
                << QString::fromLatin1(key) << value << QString::fromLatin1(expected);
        };
        for (const char* yes : {"yes", "on", "1", " Yes "})
            row("Tls", QString::fromLatin1(yes), "tls true");
        for (const char* no : {"no", "off", "0"})
            row("Tls", QString::fromLatin1(no), "tls false");
        row("Tls", QStringLiteral("maybe"), "Tls=maybe is neither true nor false");
        row("Enabled", QStringLiteral("ja"), "Enabled=ja is neither true nor false");
        row("BaseTopic", QStringLiteral("+"), "BaseTopic \"+\" cannot be used: it holds a wildcard");
        row("BaseTopic", QStringLiteral("a/+/b"), "wildcard");
        row("BaseTopic", QStringLiteral(""), "it is empty");
        row("BaseTopic", QStringLiteral("/"), "it is empty");
        row("BaseTopic", QStringLiteral("$SYS/x"), "begins with $");
        row("BaseTopic", QStringLiteral("a\nb"), "a control character or a line break");
        row("BaseTopic", QStringLiteral("a//b"), "an empty level");
        row("BaseTopic", QString(70000, QLatin1Char('k')), "longer than 200 bytes");
        row("BaseTopic", QStringLiteral("/home/kestra/"), "");
        row("DiscoveryPrefix", QStringLiteral("ha/#"), "DiscoveryPrefix \"ha/#\" cannot be used");
        row("Name", QStringLiteral("+"), "Name \"+\" cannot be used: it holds a wildcard");
        row("Name", QStringLiteral("---"), "no letter a-z or digit");
        row("Name", QStringLiteral("a\tb"), "control character");
        row("Name", QString(70000, QLatin1Char('n')), "longer than 100 characters");
        row("Name", QStringLiteral("Office 2/left"), "");
    }

    void placementFile()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        {
            QSettings file(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KESTRA3"));
            file.clear();
            file.setValue(QStringLiteral("MQTT/Enabled"), QStringLiteral("true"));
            file.setValue(QStringLiteral("MQTT/") + key, value);
        }
        const Settings s = Settings::load(QStringLiteral("KESTRA3"));
        if (expected.startsWith(QLatin1String("tls"))) {
            QCOMPARE(s.tls, expected == QLatin1String("tls true"));
            QCOMPARE(s.port, s.tls ? Settings::kTlsPort : Settings::kPlainPort);
            QCOMPARE(s.problem, QString());
        } else if (expected.isEmpty()) {
            QCOMPARE(s.problem, QString());
        } else {
            QVERIFY2(s.problem.contains(expected), qPrintable(s.problem));
            QVERIFY(s.problem.size() < 200); // a 70 KB value is not repeated in the message
        }
    }

    // Settings the placement file could not take are not reported as stored.
    void saveSaysWhenTheFileCannotBeWritten()
    {
        const QString path = QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KESTRA3")).fileName();
        QCOMPARE(office().save(QStringLiteral("KESTRA3")), QString());
        QVERIFY(QFile::remove(path) && QDir().mkpath(path)); // a folder where the file goes
        const QString why = office().save(QStringLiteral("KESTRA3"));
        QDir().rmdir(path);
        QVERIFY2(why.contains(path), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TstMessages)
#include "tst_messages.moc"
