#pragma once

#include <cstdint>

#include "synth/synth_state.h"

void drum_note_on(SynthState& synth, Voice& voice, int32_t channel, int32_t note,
                  int32_t velocity) noexcept;
