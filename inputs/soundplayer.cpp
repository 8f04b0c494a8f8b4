#include "inputs/soundplayer.h"

#include "inputs/soundfiles.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace kestra::inputs {

namespace {
// Enough to see one start sequence and the one before it; a held input issues
// 25 commands a second, so the log must not grow.
constexpr qsizetype kRecentCommands = 20;
const QString kWaveAudio = QStringLiteral("WaveAudio");
} // namespace

SoundPlayer::SoundPlayer(const QString& name, QObject* parent) : QObject(parent)
{
    setObjectName(name);
}

SoundPlayer::~SoundPlayer() = default;

void SoundPlayer::log(const QString& command, const QString& argument)
{
    m_counts[command] += 1;
    m_recent << (argument.isNull() ? command : command + QLatin1Char(' ') + argument);
    if (m_recent.size() > kRecentCommands) m_recent.remove(0, m_recent.size() - kRecentCommands);
}

void SoundPlayer::clearLog()
{
    m_counts.clear();
    m_recent.clear();
}

void SoundPlayer::close()
{
    log(QStringLiteral("close"));
    if (m_effect) m_effect->stop();
    m_opened.clear();
}

void SoundPlayer::setDeviceType(const QString& type)
{
    log(QStringLiteral("device"), type);
    m_deviceType = type;
}

void SoundPlayer::setFileName(const QString& path)
{
    log(QStringLiteral("file"), path);
    m_fileName = path;
}

void SoundPlayer::open()
{
    log(QStringLiteral("open"));
    m_opened.clear();
    if (m_deviceType.compare(kWaveAudio, Qt::CaseInsensitive) != 0) return;
    m_opened = findPlayableFile(m_fileName);
}

bool SoundPlayer::haveOutput() const
{
    return m_outputEnabled && !QMediaDevices::defaultAudioOutput().isNull();
}

void SoundPlayer::play()
{
    log(QStringLiteral("play"));
    if (m_opened.isEmpty() || !haveOutput()) return;
    if (!m_effect) m_effect = new QSoundEffect(this);
    const QUrl url = QUrl::fromLocalFile(m_opened);
    // The same file again stays loaded; the effect reads it only when it changes.
    if (m_effect->source() != url) m_effect->setSource(url);
    m_effect->play();
}

bool SoundPlayer::isSounding() const
{
    return m_effect && m_effect->isPlaying();
}

void startSound(SoundPlayer& player, const QString& path)
{
    player.close();
    player.setDeviceType(kWaveAudio);
    player.setFileName(path);
    player.open();
    player.play();
}

} // namespace kestra::inputs
