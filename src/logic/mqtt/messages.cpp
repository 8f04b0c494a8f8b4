#include "logic/mqtt/messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cmath>

namespace kestra::mqtt {

using channels::Mode;

QString availabilityTopic(const Settings& s)
{
    return s.root() + QStringLiteral("/availability");
}

QString outputTopic(const Settings& s, int output, const char* leaf)
{
    return QStringLiteral("%1/output/%2/%3").arg(s.root()).arg(output).arg(QLatin1String(leaf));
}

QString inputTopic(const Settings& s, int input)
{
    return QStringLiteral("%1/input/%2/state").arg(s.root()).arg(input);
}

QString discoveryTopic(const Settings& s)
{
    return QStringLiteral("%1/device/%2/config").arg(s.discoveryPrefix, s.name);
}

QString birthTopic(const Settings& s)
{
    return s.discoveryPrefix + QStringLiteral("/status");
}

QByteArray onOffPayload(bool on)
{
    return on ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF");
}

QByteArray modePayload(Mode mode)
{
    switch (mode) {
    case Mode::Auto:
        return QByteArrayLiteral("AUTO");
    case Mode::On:
        return QByteArrayLiteral("ON");
    case Mode::Off:
        return QByteArrayLiteral("OFF");
    case Mode::None:
        break;
    }
    return QByteArrayLiteral("None");
}

QByteArray nextPayload(const QDateTime& at)
{
    if (!at.isValid()) return QByteArrayLiteral("None");
    // A local time prints no offset; Home Assistant needs one for a timestamp.
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate).toUtf8();
}

QByteArray hoursPayload(double hours)
{
    if (!std::isfinite(hours) || hours < 0) return QByteArrayLiteral("None");
    return QByteArray::number(hours, 'f', 2);
}

namespace {
QJsonObject component(const Settings& s, const char* platform, const QString& id, const QString& name,
                      const QString& stateTopic)
{
    return QJsonObject{{QStringLiteral("p"), QLatin1String(platform)},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("uniq_id"), s.name + QLatin1Char('_') + id},
                       {QStringLiteral("stat_t"), stateTopic}};
}

QJsonObject binarySensor(const Settings& s, const QString& id, const QString& name, const QString& topic)
{
    QJsonObject c = component(s, "binary_sensor", id, name, topic);
    c.insert(QStringLiteral("pl_on"), QStringLiteral("ON"));
    c.insert(QStringLiteral("pl_off"), QStringLiteral("OFF"));
    return c;
}
} // namespace

QByteArray discoveryPayload(const Settings& s, const QString& model, const QString& version,
                            const std::array<QString, kOutputs>& locations)
{
    QJsonObject cmps;
    for (int m = 1; m <= kOutputs; ++m) {
        const QString located = locations[m - 1].simplified();
        const QString name = located.isEmpty() ? QStringLiteral("Output %1").arg(m) : located;
        const QString id = QStringLiteral("output%1_").arg(m);

        QJsonObject state = binarySensor(s, id + QStringLiteral("state"), name, outputTopic(s, m, "state"));
        state.insert(QStringLiteral("dev_cla"), QStringLiteral("power"));
        cmps.insert(id + QStringLiteral("state"), state);

        QJsonObject mode = component(s, "select", id + QStringLiteral("mode"), name + QStringLiteral(" mode"),
                                     outputTopic(s, m, "mode"));
        mode.insert(QStringLiteral("cmd_t"), outputTopic(s, m, "mode/set"));
        mode.insert(QStringLiteral("ops"),
                    QJsonArray{QStringLiteral("AUTO"), QStringLiteral("ON"), QStringLiteral("OFF")});
        cmps.insert(id + QStringLiteral("mode"), mode);

        QJsonObject next = component(s, "sensor", id + QStringLiteral("next"),
                                     name + QStringLiteral(" next switching"), outputTopic(s, m, "next"));
        next.insert(QStringLiteral("dev_cla"), QStringLiteral("timestamp"));
        cmps.insert(id + QStringLiteral("next"), next);

        QJsonObject hours = component(s, "sensor", id + QStringLiteral("hours"),
                                      name + QStringLiteral(" hours"), outputTopic(s, m, "hours"));
        hours.insert(QStringLiteral("dev_cla"), QStringLiteral("duration"));
        hours.insert(QStringLiteral("unit_of_meas"), QStringLiteral("h"));
        hours.insert(QStringLiteral("stat_cla"), QStringLiteral("total_increasing"));
        cmps.insert(id + QStringLiteral("hours"), hours);
    }
    for (int n = 1; n <= kInputs; ++n) {
        const QString id = QStringLiteral("input%1").arg(n);
        cmps.insert(id, binarySensor(s, id, QStringLiteral("Input %1").arg(n), inputTopic(s, n)));
    }
    const QJsonObject device{{QStringLiteral("ids"), s.name},
                             {QStringLiteral("name"), s.name},
                             {QStringLiteral("mdl"), model},
                             {QStringLiteral("sw"), version}};
    const QJsonObject origin{{QStringLiteral("name"), QStringLiteral("kestra")},
                             {QStringLiteral("sw"), version}};
    const QJsonObject root{{QStringLiteral("dev"), device},
                           {QStringLiteral("o"), origin},
                           {QStringLiteral("avty_t"), availabilityTopic(s)},
                           {QStringLiteral("qos"), 1},
                           {QStringLiteral("cmps"), cmps}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

namespace {
bool isNumberIn(const QString& text, int last)
{
    return text.size() == 1 && text[0] >= QLatin1Char('1') && text[0].unicode() <= u'0' + last;
}

Received ignored(const QString& why)
{
    Received r;
    r.why = why;
    return r;
}
} // namespace

Received classify(const Settings& s, const QString& topic, const QByteArray& payload, bool retained)
{
    using Kind = Received::Kind;
    if (topic == birthTopic(s)) {
        // A retained birth is an old one: discovery went out at this connect anyway.
        Received r;
        r.kind = payload == "online" && !retained ? Kind::Birth : Kind::Own;
        return r;
    }
    const QString prefix = s.root() + QLatin1Char('/');
    if (!topic.startsWith(prefix)) return ignored(QStringLiteral("not a topic of this device"));
    const QStringList levels = topic.mid(prefix.size()).split(QLatin1Char('/'));

    const bool own =
        levels == QStringList{QStringLiteral("availability")} ||
        (levels.size() == 3 && levels[0] == QLatin1String("output") && isNumberIn(levels[1], kOutputs) &&
         QStringList{QStringLiteral("state"), QStringLiteral("mode"), QStringLiteral("next"),
                     QStringLiteral("hours")}
             .contains(levels[2])) ||
        (levels.size() == 3 && levels[0] == QLatin1String("input") && isNumberIn(levels[1], kInputs) &&
         levels[2] == QLatin1String("state"));
    if (own) {
        Received r;
        r.kind = Kind::Own;
        return r;
    }
    const bool command = levels.size() == 4 && levels[0] == QLatin1String("output") &&
                         levels[2] == QLatin1String("mode") && levels[3] == QLatin1String("set");
    if (!command) return ignored(QStringLiteral("not a command topic"));
    if (!isNumberIn(levels[1], kOutputs))
        return ignored(QStringLiteral("there is no output %1").arg(levels[1]));
    if (retained) return ignored(QStringLiteral("a retained command is never acted on"));
    if (payload.trimmed().isEmpty()) return ignored(QStringLiteral("empty command"));
    if (payload.size() > kMaxCommandBytes)
        return ignored(QStringLiteral("command of %1 bytes is too long").arg(payload.size()));

    const QByteArray word = payload.trimmed().toUpper();
    Received r;
    r.output = levels[1].toInt();
    if (word == "AUTO")
        r.mode = Mode::Auto;
    else if (word == "ON")
        r.mode = Mode::On;
    else if (word == "OFF")
        r.mode = Mode::Off;
    else
        return ignored(QStringLiteral("the command is not AUTO, ON or OFF"));
    r.kind = Kind::Command;
    return r;
}

} // namespace kestra::mqtt
