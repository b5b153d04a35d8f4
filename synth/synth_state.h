// The synthesizer's run-time state: banks built from the constant tables, channels and voices.
#pragma once

#include <cstdint>

#include "synth/channel_state.h"
#include "synth/tables.h"

constexpr int kVoiceCount = 46;
constexpr int32_t kEnvFullLevel = 1073725440; // 65535 << 14

enum VoiceKind : int32_t { kVoiceMelodic = 1, kVoiceNoiseDrum = 4, kVoiceToneDrum = 5 };
enum EnvStage : int32_t {
    kEnvAttack = 0,
    kEnvDecay = 1,
    kEnvSustain = 2,
    kEnvRelease = 3,
    kEnvFinished = 4
};

struct Voice {
    int32_t active = 0;
    int32_t stop_pending = 0;
    uint32_t age = 0;
    int32_t channel = 0;
    int32_t note = 0;
    int32_t program = 0;
    int32_t kind = 0;
    int32_t pitch_note = 0;
    int32_t pending_pitch_note = 0;
    uint32_t phase_counter = 0;
    float rate = 0;
    float frequency = 0;
    float period = 0;
    float period_start = 0;
    float period_end = 0;
    float cents = 0;
    int32_t cents_pending = 0;
    float pending_cents = 0;
    float cents_slide = 0;
    int32_t expression = 0;
    int32_t expression_pending = 0;
    int32_t pending_expression = 0;
    int32_t pan = 0;
    int32_t pan_pending = 0;
    int32_t pending_pan = 0;
    float gain_left = 0;
    float gain_right = 0;
    float level = 0;
    float level_slope = 0;
    int32_t hold_samples = 0;
    const int32_t* wave = nullptr;      // 32 samples in wave_bank or custom_wave_bank
    const int32_t* drum_wave = nullptr; // 32 samples of drum_square
    const EnvelopeParams* envelope = nullptr;
    int32_t noise_value = 0;
    int32_t env_stage = 0;
    int32_t env_level = 0;
    int32_t attack_step = 0;
    int32_t decay_step = 0;
    int32_t env_sustain = 0;
    int32_t sustain_step = 0;
    int32_t release_step = 0;
    uint64_t noise_draw = 0; // the generator's draw count when noise_value was drawn
};

struct SynthState {
    int32_t sample_rate = 0;
    int32_t custom_waves_present = 0;
    int32_t instrument_set = 0;
    int32_t custom_wave_mode = 0;
    int32_t wave_bank[kWaveSlots][kWaveLength] = {};
    int8_t wave_bank_bytes[kWaveSlots][kWaveLength] = {};
    int32_t drum_square[kWaveLength] = {};
    int32_t set_table[kInstrumentSetCount][kProgramCount] = {};
    float wave_decay[kWaveSlots] = {};
    EnvelopeParams envelope_table[kProgramCount] = {};
    int32_t custom_wave_bank[kWaveSlots][kWaveLength] = {};
    int8_t custom_wave_bytes[kWaveSlots][kWaveLength] = {};
    ChannelState channels[kChannelCount] = {};
    Voice voices[kVoiceCount] = {};
};
