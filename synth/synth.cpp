// Synthesizer set-up: the run-time banks, the instrument set and the power-on reset.
#include "synth/synth.h"

#include <algorithm>
#include <functional>

#include "synth/synth_state.h"
#include "synth/tables.h"
#include "synth/voice.h"

void synth_setup(SynthState& synth, int32_t rate) {
    synth = SynthState{};
    synth.sample_rate = rate >= 1 ? rate : 44100;
    reset_synth(synth);
    synth_load_tables(synth);
    synth_select_instrument_set(synth, 0);
}

void synth_load_tables(SynthState& synth) {
    for (int w = 0; w < kWaveSlots; ++w) {
        const WaveDef& def = kWaveTable[w];
        for (int i = 0; i < kWaveLength; ++i) {
            synth.wave_bank[w][i] = static_cast<int32_t>(def.samples[i]) * def.level;
            synth.wave_bank_bytes[w][i] = def.samples[i];
        }
        synth.wave_decay[w] = static_cast<float>(def.decay) * (1.0f / 65536.0f);
    }
    std::copy(kDrumSquare.begin(), kDrumSquare.end(), synth.drum_square);
    for (int s = 0; s < kInstrumentSetCount; ++s) {
        std::copy(kInstrumentSets[s].begin(), kInstrumentSets[s].end(), synth.set_table[s]);
    }
    std::copy(std::begin(kEnvelopeTable), std::end(kEnvelopeTable), synth.envelope_table);
    // Sounding voices must not keep pointing at the banks as they were before the load.
    synth_select_instrument_set(synth, synth.instrument_set);
}

int32_t synth_select_instrument_set(SynthState& synth, int32_t set) {
    set = std::clamp(set, 0, kInstrumentSetCount - 1);
    synth.instrument_set = set;
    if (synth.custom_wave_mode) {
        return set;
    }
    for (Voice& voice : synth.voices) {
        if (!voice.active || voice.kind != kVoiceMelodic) {
            continue;
        }
        int32_t w = synth.set_table[set][voice.program & 127] & 127;
        voice.wave = synth.wave_bank[w];
        voice.level_slope = per_sample_at(synth.sample_rate, synth.wave_decay[w]);
    }
    return set;
}

void synth_set_auto_detune(SynthState& synth, bool on) noexcept {
    synth.auto_detune = on ? 1 : 0;
    for (int32_t n = 0; n < kChannelCount; ++n)
        synth.channels[n].detune = on ? channel_detune(n) : 0;
}

void reset_synth(SynthState& synth) noexcept {
    for (int32_t n = 0; n < kChannelCount; ++n) {
        ChannelState& ch = synth.channels[n];
        // The user's mute choice survives every reset.
        ch = ChannelState{.mute = ch.mute,
                          .program = 80,
                          .volume = 100,
                          .expression = 127,
                          .bank = 0,
                          .pan = 64,
                          .sustain = 0,
                          .bend = 0,
                          .bend_range = 2,
                          .bend_cents = 0,
                          .detune = synth.auto_detune != 0 ? channel_detune(n) : 0,
                          .rpn_msb = 127,
                          .rpn_lsb = 127,
                          .drum = n == 9 ? 1 : 0};
    }
    for (Voice& voice : synth.voices) {
        voice_to_rest(synth, voice);
    }
    synth.custom_wave_mode = 0;
    synth.custom_waves_present = 0;
}

namespace {

// `p` moved from the array [from, from + count) to the same index of `into`; any other
// pointer is left alone.
template <typename T> const T* repoint(const T* p, const T* from, const T* into, size_t count) {
    const std::less<const T*> before;
    if (p == nullptr || before(p, from) || !before(p, from + count)) {
        return p;
    }
    return into + (p - from);
}

} // namespace

void synth_take_voices(SynthState& into, const SynthState& from) noexcept {
    constexpr size_t kBankSize = size_t{kWaveSlots} * kWaveLength;
    for (int v = 0; v < kVoiceCount; ++v) {
        Voice voice = from.voices[v];
        voice.wave = repoint(voice.wave, &from.wave_bank[0][0], &into.wave_bank[0][0], kBankSize);
        voice.wave = repoint(voice.wave, &from.custom_wave_bank[0][0], &into.custom_wave_bank[0][0],
                             kBankSize);
        voice.drum_wave = repoint(voice.drum_wave, from.drum_square, into.drum_square,
                                  std::size(from.drum_square));
        voice.envelope = repoint(voice.envelope, from.envelope_table, into.envelope_table,
                                 std::size(from.envelope_table));
        into.voices[v] = voice;
    }
}
