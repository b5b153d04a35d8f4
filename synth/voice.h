#pragma once

#include <cstdint>

#include "synth/synth_state.h"

class NoiseGenerator;

float note_frequency(int32_t note) noexcept;
void voice_set_pitch(Voice& voice, int32_t note) noexcept;
Voice& voice_allocate(SynthState& synth) noexcept;
void voice_start(SynthState& synth, Voice& voice, int32_t channel, int32_t note,
                 int32_t velocity) noexcept;
// Cleared outright, not released: the voice falls silent at once.
void voice_to_rest(const SynthState& synth, Voice& voice) noexcept;
void synth_note_on(SynthState& synth, int32_t channel, int32_t note, int32_t velocity) noexcept;
void synth_note_off(SynthState& synth, int32_t channel, int32_t note) noexcept;
// Releases one voice as a note-off does (used by note-off and all-notes-off).
void voice_release(SynthState& synth, Voice& voice) noexcept;
// What a noise drum plays for a generator value.
int32_t noise_sample(int32_t random) noexcept;
// The per-sample step of a noise drum: controls, then at a period end the next noise value.
void voice_update(Voice& voice, NoiseGenerator& noise) noexcept;
