#pragma once

#include <cstdint>

// Controller and program state of one MIDI channel; index 0 is MIDI channel 1.
struct ChannelState {
    int32_t mute = 0;
    int32_t program = 0;
    int32_t volume = 0;
    int32_t expression = 0;
    int32_t bank = 0;
    int32_t pan = 0;
    int32_t sustain = 0;
    int32_t bend = 0;
    int32_t bend_range = 0;
    int32_t bend_cents = 0;
    int32_t detune = 0;
    int32_t rpn_msb = 0;
    int32_t rpn_lsb = 0;
    int32_t drum = 0;
};

constexpr int kChannelCount = 16;
