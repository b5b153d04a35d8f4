#pragma once

#include <cstdint>

#include "synth/synth_state.h"

float note_frequency(int32_t note) noexcept;
void voice_set_pitch(Voice& voice, int32_t note) noexcept;
Voice& voice_allocate(SynthState& synth) noexcept;
void voice_start(SynthState& synth, Voice& voice, int32_t channel, int32_t note,
                 int32_t velocity) noexcept;
void voice_to_rest(const SynthState& synth, Voice& voice) noexcept;
void synth_note_on(SynthState& synth, int32_t channel, int32_t note, int32_t velocity) noexcept;
void synth_note_off(SynthState& synth, int32_t channel, int32_t note) noexcept;
// Releases one voice as a note-off does (used by note-off and all-notes-off).
void voice_release(SynthState& synth, Voice& voice) noexcept;
void voice_update(SynthState& synth, Voice& voice) noexcept;
