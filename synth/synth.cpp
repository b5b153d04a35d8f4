// Synthesizer set-up: the whole engine record, the run-time banks and the instrument set.
#include "synth/synth.h"

#include <algorithm>

#include "sequencer/channels.h"
#include "sequencer/player.h"
#include "synth/synth_state.h"
#include "synth/tables.h"

void synth_init(Player& player, int32_t rate) {
    // The mutex is built with the Player and outlives every re-initialisation, so everything
    // but the lock is reset member by member instead of wiping the record's bytes.
    player.synth = SynthState{};
    player.song = Song{};
    player.position = 0;
    player.cursor = 0;
    player.active = 0;
    player.paused = 0;
    player.output_rate = rate;
    std::fill(std::begin(player.song_path), std::end(player.song_path), '\0');
    std::fill(std::begin(player.status_text), std::end(player.status_text), '\0');

    SynthState& synth = player.synth;
    synth.sample_rate = rate >= 1 ? rate : 44100;
    reset_synth(synth);
    synth_load_tables(synth);
    synth_select_instrument_set(synth, 0);
    player_set_status(player, "Ready (VELTA236 synth tables loaded)");
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
        float slope = synth.wave_decay[w];
        // A 22050 Hz sample lasts twice as long, so the decay keeps its pace in time.
        voice.level_slope = synth.sample_rate == 22050 ? slope * 2.0f : slope;
    }
    return set;
}
