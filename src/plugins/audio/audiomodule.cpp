// The audio module: what a program without windows loads when it first plays a
// sound (see useAudioModule), so that it carries no audio libraries until then.
#include "platform/audio/audio.h"

extern "C" Q_DECL_EXPORT kestra::inputs::AudioOutput* kestra_audio_output(QObject* parent)
{
    return kestra::inputs::makeEffectOutput(parent);
}
