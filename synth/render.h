#pragma once

#include <cstdint>

#include "synth/oscillator.h"

class NoiseGenerator;
struct SynthState;

// Renders `frames` stereo int16 frames of the sounding voices into `out` (zeroed by the
// caller); no song events happen inside. `oscillators` carries each voice's oscillator from one
// call to the next: start each render with a fresh one and forget() it after anything that may
// rewrite a wave in place. Never allocates, locks or does I/O.
void synth_render_voices(SynthState& synth, NoiseGenerator& noise, OscillatorCache& oscillators,
                         int16_t* out, uint64_t frames) noexcept;
bool synth_any_voice_active(const SynthState& synth) noexcept;
