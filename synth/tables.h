// The synthesizer's constant tables: waveforms, instrument sets, envelopes.
#pragma once

#include <array>
#include <cstdint>

constexpr int kWaveSlots = 128;
constexpr int kWaveLength = 32;
constexpr int kBuiltinWaveCount = 33;
constexpr int kInstrumentSetCount = 10;
constexpr int kProgramCount = 128;

struct WaveDef {
    int32_t level;
    int32_t decay; // per-sample level change in 1/65536 steps
    char name[32];
    int8_t samples[kWaveLength];
};

using InstrumentSet = std::array<int32_t, kProgramCount>;

struct EnvelopeParams {
    int32_t attack_samples;
    int32_t decay_samples;
    int32_t sustain_level; // 0-65535
    int32_t sustain_samples;
    int32_t release_samples;
};

// TABLES: kWaveTable[kWaveSlots] (slots 33-127 zero), kInstrumentSets[kInstrumentSetCount],
// kInstrumentSetNames[kInstrumentSetCount] (nullptr for 8 and 9), kEnvelopeTable[kProgramCount].
