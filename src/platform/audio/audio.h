#pragma once

#include <QtGlobal>

class QObject;

namespace kestra::inputs {

class AudioOutput;

// A wave effect on the default audio output.
AudioOutput* makeEffectOutput(QObject* parent);

// From now on the sound players are heard through Qt Multimedia (a wave
// effect on the default audio output).
void useMultimediaAudio();

} // namespace kestra::inputs
