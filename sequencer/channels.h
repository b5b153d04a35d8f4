#pragma once

#include <cstdint>

struct SynthState;

// Fixed detune of channel index 0-15, in cents.
constexpr int32_t channel_detune(int32_t channel) {
    return channel / 4 + 3 * (channel % 4) - 14;
}

// Channels, voices and the user-waveform flags back to power-on state; mute flags survive.
void reset_synth(SynthState& synth) noexcept;
