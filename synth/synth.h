// Setting up the synthesizer: the run-time banks, the instrument set and the power-on reset.
#pragma once

#include <cstdint>

struct SynthState;

// Fixed detune of channel index 0-15, in cents.
constexpr int32_t channel_detune(int32_t channel) {
    return channel / 4 + 3 * (channel % 4) - 14;
}

// A 22050 Hz sample lasts twice as long as one at the higher rates, so whatever the synthesizer
// changes per sample changes twice as much to keep its pace in time.
constexpr bool synth_half_rate(int32_t sample_rate) {
    return sample_rate == 22050;
}
constexpr float per_sample_at(int32_t sample_rate, float change) {
    return synth_half_rate(sample_rate) ? change * 2.0f : change;
}

// Clears the whole SynthState and sets it up for `rate` (below 1: 44100), with set 0.
void synth_setup(SynthState& synth, int32_t rate);
void synth_load_tables(SynthState& synth);
// Returns the set number actually stored (clamped to 0-9). Caller holds the Player lock.
int32_t synth_select_instrument_set(SynthState& synth, int32_t set);
// Turns the channels' fixed detune on or off: notes started from now on, and bends, follow it.
// Caller holds the Player lock.
void synth_set_auto_detune(SynthState& synth, bool on) noexcept;
// Channels, voices and the user-waveform flags back to power-on state; mute flags survive.
void reset_synth(SynthState& synth) noexcept;
// Copies every voice of `from` into `into`, pointing those that play one of `from`'s waves or
// envelopes at the same place in `into`'s (whose tables must hold the same).
void synth_take_voices(SynthState& into, const SynthState& from) noexcept;
