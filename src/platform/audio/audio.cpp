#include "platform/audio/audio.h"

#include "platform/audio/soundplayer.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace kestra::inputs {

namespace {

class EffectOutput final : public AudioOutput
{
public:
    explicit EffectOutput(QObject* parent) : m_effect(new QSoundEffect(parent)) {}
    bool available() const override { return !QMediaDevices::defaultAudioOutput().isNull(); }
    void play(const QString& path) override
    {
        const QUrl url = QUrl::fromLocalFile(path);
        // The same file again stays loaded; the effect reads it only when it changes.
        if (m_effect->source() != url) m_effect->setSource(url);
        m_effect->play();
    }
    void stop() override { m_effect->stop(); }
    bool isSounding() const override { return m_effect->isPlaying(); }

private:
    QSoundEffect* m_effect; // owned by the player, as its child
};

} // namespace

AudioOutput* makeEffectOutput(QObject* parent)
{
    return new EffectOutput(parent);
}

void useMultimediaAudio()
{
    setAudioFactory([](QObject* parent) { return std::unique_ptr<AudioOutput>(makeEffectOutput(parent)); });
}

} // namespace kestra::inputs
