#pragma once

#include <cstdint>

struct Player;
struct SynthState;

// Clears the whole Player except its lock, then sets up the synthesizer for `rate`.
void synth_init(Player& player, int32_t rate);
void synth_load_tables(SynthState& synth);
// Returns the set number actually stored (clamped to 0-9). Caller holds the Player lock.
int32_t synth_select_instrument_set(SynthState& synth, int32_t set);
