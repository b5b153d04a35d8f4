// The synthesizer's run-time state: banks built from the constant tables, channels and voices.
#pragma once

#include <cstdint>

#include "synth/channel_state.h"
#include "synth/tables.h"

constexpr int kVoiceCount = 46;
// Envelope levels carry 14 fraction bits below the 16-bit step the mix multiplies by.
constexpr int kEnvFractionBits = 14;
constexpr int32_t kEnvFullLevel = 65535 << kEnvFractionBits;
constexpr float kEnvStepToGain = 1.0f / 65536; // a step 0-65535 as a factor below 1
// An attack step is at most full level and is added below full level, before the check.
static_assert(2 * int64_t{kEnvFullLevel} - 1 <= INT32_MAX, "the attack cannot overflow");

enum VoiceKind : int32_t { kVoiceMelodic = 1, kVoiceNoiseDrum = 4, kVoiceToneDrum = 5 };
enum EnvStage : int32_t {
    kEnvAttack = 0,
    kEnvDecay = 1,
    kEnvSustain = 2,
    kEnvRelease = 3,
    kEnvFinished = 4
};

struct Voice {
    int32_t active = 0;             // 1 while sounding, 0 for a free slot
    int32_t stop_pending = 0;       // 1: free the voice at the next period end
    uint32_t age = 0;               // frames rendered since note-on; the oldest is stolen first
    int32_t channel = 0;            // MIDI channel index 0-15
    int32_t note = 0;               // the note-on's note, matched by note-offs; -1 once released
    int32_t program = 0;            // the channel's program 0-127 at note-on: picks the wave
    int32_t kind = 0;               // a VoiceKind
    int32_t pitch_note = 0;         // the note whose frequency plays (a drum row's own note)
    int32_t pending_pitch_note = 0; // the note taken at the next period end; -1: none
    uint32_t phase_counter = 0;     // samples since the pitch was last set
    float rate = 0;                 // the output sample rate in Hz
    float frequency = 0;            // Hz: pitch_note moved by cents
    float period = 0;               // samples per waveform cycle: rate / frequency
    float period_start = 0;         // phase_counter where the current cycle began
    float period_end = 0;           // phase_counter where the current cycle ends
    float cents = 0;                // pitch offset in cents: bend plus detune, or a drum sweep
    int32_t cents_pending = 0;      // the flag: 1 while pending_cents waits for a period end
    float pending_cents = 0;        // the value: cents taken at the next period end
    float cents_slide = 0;          // cents added to the offset every sample (drums); 0: none
    int32_t expression = 0;         // expression 0-127 now applied
    int32_t expression_pending = 0; // the flag: 1 while pending_expression waits
    int32_t pending_expression = 0; // the value: expression 0-127 for the next period end
    int32_t pan = 0;                // pan 0-127 now applied, 64 the centre
    int32_t pan_pending = 0;        // the flag: 1 while pending_pan waits
    int32_t pending_pan = 0;        // the value: pan 0-127 for the next period end
    float gain_left = 0;            // (127 - pan) / 127
    float gain_right = 0;           // pan / 127
    float level = 0;                // loudness 0-127: volume x velocity / 127 (x a drum factor)
    float level_slope = 0;          // added to level every sample (decays, fades); 0: none
    int32_t hold_samples = 0;       // samples left before the voice stops itself; 0: no limit
    const int32_t* wave = nullptr;  // 32 samples in wave_bank or custom_wave_bank
    const int32_t* drum_wave = nullptr;       // 32 samples of drum_square
    const EnvelopeParams* envelope = nullptr; // the program's envelope row at note-on
    int32_t noise_value = 0;                  // a noise drum's sample, drawn at each period end
    int32_t env_stage = 0;                    // an EnvStage
    int32_t env_level = 0;                    // envelope level, 0 to kEnvFullLevel
    int32_t attack_step = 0;                  // added to env_level every sample of the attack
    int32_t decay_step = 0;                   // taken off env_level every sample of the decay
    int32_t env_sustain = 0;                  // the level the decay ends at
    int32_t sustain_step = 0;                 // taken off every sample of the sustain stage
    int32_t release_step = 0;                 // taken off every sample of the release
    uint64_t noise_draw = 0;                  // the generator's draw count when noise_value was drawn
};

struct SynthState {
    int32_t sample_rate = 0;          // output sample rate in Hz
    int32_t custom_waves_present = 0; // 1 once user waves are switched on or one is uploaded
    int32_t instrument_set = 0;       // the built-in instrument set in use, 0-9
    int32_t custom_wave_mode = 0;     // 1: melodic voices play custom_wave_bank[program]
    int32_t auto_detune = 1;          // 1: each channel's fixed detune; 0: none
    // Built-in waves as played: each defined sample times the wave's level.
    int32_t wave_bank[kWaveSlots][kWaveLength] = {};
    // The same waves as defined, 8-bit, for drawing.
    int8_t wave_bank_bytes[kWaveSlots][kWaveLength] = {};
    int32_t drum_square[kWaveLength] = {}; // the tone drums' wave
    // Per set, program to wave_bank index (read masked with 127).
    int32_t set_table[kInstrumentSetCount][kProgramCount] = {};
    float wave_decay[kWaveSlots] = {}; // per wave, its voices' level_slope at 44100/48000 Hz
    EnvelopeParams envelope_table[kProgramCount] = {}; // per program
    // User waves as played: each uploaded byte times 256.
    int32_t custom_wave_bank[kWaveSlots][kWaveLength] = {};
    // User waves as uploaded, for drawing.
    int8_t custom_wave_bytes[kWaveSlots][kWaveLength] = {};
    ChannelState channels[kChannelCount] = {}; // index 0 is MIDI channel 1
    Voice voices[kVoiceCount] = {};            // the pool, in allocation and mixing order
};
