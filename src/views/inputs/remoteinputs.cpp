#include "views/inputs/remoteinputs.h"

#include "client/remoteswitch.h"
#include "model/teller.h"

#include <QJsonArray>

namespace kestra::inputs {

namespace {

const QString kNotRunning =
    QStringLiteral("The time switch is not running. The edit was not made; the window attaches again as soon "
                   "as the switch is back.");

const QString kUnknown = QStringLiteral("calculating");

} // namespace

RemoteInputs::RemoteInputs(client::RemoteSwitch& remote, QObject* parent) : InputsSource(parent), m_remote(remote)
{
    connect(&m_remote, &client::RemoteSwitch::inputsChanged, this, &RemoteInputs::taken);
    const auto all = [this] {
        m_shown = {};
        taken();
    };
    connect(&m_remote, &client::RemoteSwitch::attached, this, all);
    connect(&m_remote, &client::RemoteSwitch::detached, this, all);
}

QJsonObject RemoteInputs::part(const QString& name) const
{
    return m_remote.inputs().value(name).toObject();
}

void RemoteInputs::taken()
{
    const QJsonObject now = m_remote.inputs();
    const auto of = [](const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)); };
    const QJsonObject sounds = of(now, "sounds").toObject(), shownSounds = of(m_shown, "sounds").toObject();
    const bool fresh = m_shown.isEmpty();
    const bool levels = fresh || of(now, "levels") != of(m_shown, "levels");
    const bool record = fresh || of(now, "mappings") != of(m_shown, "mappings") ||
                        of(now, "hold") != of(m_shown, "hold") || of(sounds, "input4") != of(shownSounds, "input4") ||
                        of(sounds, "input5") != of(shownSounds, "input5");
    const bool directory = fresh || of(sounds, "input4Directory") != of(shownSounds, "input4Directory");
    m_shown = now;
    if (levels) emit levelsChanged();
    if (record) emit recordChanged();
    if (directory) emit input4DirectoryChanged();
}

QString RemoteInputs::levelText(int n) const
{
    if (!m_remote.isAttached()) return kUnknown;
    return m_remote.inputs()
        .value(QStringLiteral("levels"))
        .toArray()
        .at(n - 1)
        .toObject()
        .value(QStringLiteral("text"))
        .toString(kUnknown);
}

int RemoteInputs::mapping(int n, bool on, int output) const
{
    return m_remote.inputs()
        .value(QStringLiteral("mappings"))
        .toArray()
        .at(n - 1)
        .toObject()
        .value(on ? QStringLiteral("on") : QStringLiteral("off"))
        .toArray()
        .at(output - 1)
        .toInt();
}

QString RemoteInputs::holdTimeText() const
{
    return part(QStringLiteral("hold")).value(QStringLiteral("text")).toString();
}

QString RemoteInputs::soundName(int input) const
{
    return part(QStringLiteral("sounds")).value(QStringLiteral("input%1").arg(input)).toString();
}

QString RemoteInputs::input4Directory() const
{
    return part(QStringLiteral("sounds")).value(QStringLiteral("input4Directory")).toString();
}

void RemoteInputs::send(const QJsonObject& command)
{
    const QString title = m_remote.title().isEmpty() ? QStringLiteral("KESTRA") : m_remote.title();
    if (!m_remote.isAttached()) {
        model::teller().notice(m_window, title, kNotRunning);
        emit recordChanged(); // the window shows the switch's draft again
        return;
    }
    m_remote.send(command, this, [this, title](const client::CommandResult& r) {
        if (r.ok()) return;
        model::teller().notice(m_window, title, r.text);
        emit recordChanged();
    });
}

void RemoteInputs::clickMapping(int n, bool on, int output, int value)
{
    send({{"command", "mapping"}, {"input", n}, {"on", on}, {"output", output}, {"value", value}});
}

void RemoteInputs::editHoldTime(const QString& text)
{
    send({{"command", "holdTime"}, {"text", text}, {"finish", false}});
}

void RemoteInputs::setHoldTimeFocus(bool focused)
{
    if (!m_remote.isAttached()) return; // focus alone is no edit worth a message
    m_remote.send({{"command", "holdTimeFocus"}, {"focused", focused}});
}

void RemoteInputs::finishHoldTimeEdit()
{
    send({{"command", "finishHoldTime"}});
}

void RemoteInputs::editSoundName(int input, const QString& name)
{
    send({{"command", "soundName"}, {"input", input}, {"name", name}});
}

void RemoteInputs::pickSound(int input, const QString& name)
{
    send({{"command", "pickSound"}, {"input", input}, {"name", name}});
}

void RemoteInputs::setInput4Directory(const QString& dir)
{
    if (dir == input4Directory()) return;
    send({{"command", "input4Directory"}, {"directory", dir}});
}

void RemoteInputs::ok()
{
    send({{"command", "inputsOk"}});
}

} // namespace kestra::inputs
