#pragma once

namespace kestra::inputs {

// From now on the sound players are heard through Qt Multimedia (a wave
// effect on the default audio output).
void useMultimediaAudio();

} // namespace kestra::inputs
