#include "platform/audio/soundplayer.h"

#include "platform/audio/soundfiles.h"

#include <QDebug>
#include <QFile>
#include <dlfcn.h>

namespace kestra::inputs {

namespace {
// Enough to see one start sequence and the one before it; a held input issues
// 25 commands a second, so the log must not grow.
constexpr qsizetype kRecentCommands = 20;
const QString kWaveAudio = QStringLiteral("WaveAudio");
AudioFactory g_audio;
} // namespace

void setAudioFactory(AudioFactory factory)
{
    g_audio = std::move(factory);
}

void useAudioModule(const QString& dir)
{
    setAudioFactory([dir](QObject* parent) -> std::unique_ptr<AudioOutput> {
        using Make = AudioOutput* (*)(QObject*);
        static Make make = [&dir]() -> Make {
            const QString path = dir + QStringLiteral("/kestra-audio.so");
            void* module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!module) {
                qWarning().noquote() << "no sounds in this run:" << QString::fromLocal8Bit(::dlerror());
                return nullptr;
            }
            return reinterpret_cast<Make>(::dlsym(module, "kestra_audio_output"));
        }();
        return std::unique_ptr<AudioOutput>(make ? make(parent) : nullptr);
    });
}

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
    if (m_output) m_output->stop();
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

void SoundPlayer::play()
{
    log(QStringLiteral("play"));
    if (m_opened.isEmpty() || !m_outputEnabled) return;
    if (!m_output && g_audio) m_output = g_audio(this);
    if (!m_output || !m_output->available()) return;
    m_output->play(m_opened);
}

bool SoundPlayer::isSounding() const
{
    return m_output && m_output->isSounding();
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
