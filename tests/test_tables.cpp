// Constant tables, synthesizer initialisation, instrument-set selection and channel reset.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "sequencer/channels.h"
#include "sequencer/player.h"
#include "synth/synth.h"
#include "synth/tables.h"

namespace {

std::unique_ptr<Player> make_player(int32_t rate) {
    auto player = std::make_unique<Player>();
    synth_init(*player, rate);
    return player;
}

Voice& start_melodic(SynthState& synth, int index, int32_t program) {
    Voice& voice = synth.voices[index];
    voice.active = 1;
    voice.kind = kVoiceMelodic;
    voice.program = program;
    return voice;
}

} // namespace

TEST(Tables, SpotValuesOfEachFamily) {
    EXPECT_STREQ(kWaveTable[0].name, "SQUARE 50%");
    EXPECT_EQ(kWaveTable[0].level, 98);
    EXPECT_STREQ(kWaveTable[32].name, "PULSE SQUARE 50%");
    EXPECT_EQ(kWaveTable[32].samples[15], 127);
    EXPECT_EQ(kWaveTable[32].samples[16], 0);
    EXPECT_EQ(kWaveTable[20].samples[31], -112);
    for (int w = 0; w < kBuiltinWaveCount; ++w) {
        EXPECT_EQ(kWaveTable[w].decay, w == 15 ? -1 : 0) << w;
    }
    for (int w = kBuiltinWaveCount; w < kWaveSlots; ++w) {
        EXPECT_EQ(kWaveTable[w].level, 0);
        EXPECT_EQ(kWaveTable[w].name[0], '\0');
    }

    EXPECT_EQ(kInstrumentSets[0][0], 5);
    EXPECT_EQ(kInstrumentSets[0][127], 10);
    EXPECT_EQ(kInstrumentSets[1][79], 5);
    for (int s = 3; s <= 7; ++s) {
        EXPECT_EQ(kInstrumentSets[s][127], 0) << s;
    }
    EXPECT_EQ(kInstrumentSets[3][126], 3);
    EXPECT_EQ(kInstrumentSets[7][0], 32);
    EXPECT_EQ(kInstrumentSets[9][64], 0);
    EXPECT_STREQ(kInstrumentSetNames[0], "SCC like Full-Set");
    EXPECT_STREQ(kInstrumentSetNames[7], "All PulsedSquare Set");
    EXPECT_EQ(kInstrumentSetNames[8], nullptr);
    EXPECT_EQ(kInstrumentSetNames[9], nullptr);

    const EnvelopeParams& p28 = kEnvelopeTable[28];
    EXPECT_EQ(p28.decay_samples, 0);
    EXPECT_EQ(p28.sustain_level, 65535);
    EXPECT_EQ(p28.sustain_samples, 22050);
    EXPECT_EQ(kEnvelopeTable[15].sustain_level, 24647);
    EXPECT_EQ(kEnvelopeTable[16].attack_samples, 882);
    EXPECT_EQ(kEnvelopeTable[122].release_samples, 12985);
    EXPECT_EQ(kEnvelopeTable[126].sustain_level, 8647);
    EXPECT_EQ(kEnvelopeTable[127].decay_samples, 4649);
}

TEST(Tables, LoadBuildsScaledBanksAndDecay) {
    auto player = make_player(44100);
    const SynthState& synth = player->synth;
    EXPECT_EQ(synth.wave_bank[3][8], 127 * 255);
    EXPECT_EQ(synth.wave_bank[3][24], -128 * 255);
    EXPECT_EQ(synth.wave_bank_bytes[3][24], -128);
    EXPECT_EQ(synth.wave_bank[40][0], 0);
    EXPECT_EQ(synth.wave_decay[15], -1.0f / 65536);
    EXPECT_EQ(synth.wave_decay[0], 0.0f);
    EXPECT_EQ(synth.drum_square[15], 32000);
    EXPECT_EQ(synth.drum_square[16], -32000);
    EXPECT_EQ(std::memcmp(synth.set_table, kInstrumentSets, sizeof synth.set_table), 0);
    EXPECT_EQ(synth.envelope_table[6].sustain_samples, 88200);
}

TEST(Channels, DetuneFollowsChannelIndex) {
    const int32_t expected[kChannelCount] = {-14, -11, -8, -5, -13, -10, -7, -4,
                                             -12, -9,  -6, -3, -11, -8,  -5, -2};
    auto player = make_player(48000);
    for (int n = 0; n < kChannelCount; ++n) {
        EXPECT_EQ(player->synth.channels[n].detune, expected[n]) << n;
    }
}

TEST(InstrumentSet, ClampsOutOfRangeNumbers) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    EXPECT_EQ(synth_select_instrument_set(synth, 12), 9);
    EXPECT_EQ(synth.instrument_set, 9);
    EXPECT_EQ(synth_select_instrument_set(synth, -3), 0);
    EXPECT_EQ(synth.instrument_set, 0);
}

TEST(InstrumentSet, SoundingMelodicVoicesChangeTimbreInPlace) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    Voice& last = start_melodic(synth, 0, 127);
    Voice& inactive = synth.voices[1];
    inactive.program = 127;
    Voice& drum = start_melodic(synth, 2, 127);
    drum.kind = kVoiceToneDrum;
    drum.level_slope = -0.5f;
    last.phase_counter = 77;

    synth_select_instrument_set(synth, 3);
    EXPECT_EQ(last.wave, synth.wave_bank[0]); // program 127 stays on the square
    EXPECT_EQ(last.phase_counter, 77u);
    EXPECT_EQ(inactive.wave, nullptr);
    EXPECT_EQ(drum.wave, nullptr);
    EXPECT_EQ(drum.level_slope, -0.5f);

    // A program beyond 127 is masked, not read past the set.
    Voice& wide = start_melodic(synth, 3, 128 + 5);
    synth_select_instrument_set(synth, 0);
    EXPECT_EQ(wide.wave, synth.wave_bank[kInstrumentSets[0][5]]);
}

TEST(InstrumentSet, DecayingWaveformSlopeDoublesOnlyAt22050) {
    for (int32_t rate : {22050, 44100, 48000}) {
        auto player = make_player(rate);
        SynthState& synth = player->synth;
        synth.set_table[8][40] = 15; // no built-in set reaches the decaying waveform
        Voice& voice = start_melodic(synth, 5, 40);
        synth_select_instrument_set(synth, 8);
        EXPECT_EQ(voice.wave, synth.wave_bank[15]);
        EXPECT_EQ(voice.level_slope, (rate == 22050 ? -2.0f : -1.0f) / 65536) << rate;
    }
}

TEST(InstrumentSet, CustomWaveModeOnlyStoresTheNumber) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    synth.custom_wave_mode = 1;
    Voice& voice = start_melodic(synth, 0, 3);
    voice.wave = synth.custom_wave_bank[3];
    voice.level_slope = 0.25f;
    EXPECT_EQ(synth_select_instrument_set(synth, 5), 5);
    EXPECT_EQ(synth.instrument_set, 5);
    EXPECT_EQ(voice.wave, synth.custom_wave_bank[3]);
    EXPECT_EQ(voice.level_slope, 0.25f);
}

TEST(SynthInit, RateBelowOneRunsAt44100AndKeepsOutputRate) {
    for (int32_t rate : {0, -22050}) {
        auto player = make_player(rate);
        EXPECT_EQ(player->output_rate, rate);
        EXPECT_EQ(player->synth.sample_rate, 44100);
        EXPECT_EQ(player->synth.voices[45].rate, 44100.0f);
    }
    auto player = make_player(22050);
    EXPECT_EQ(player->synth.sample_rate, 22050);
    EXPECT_EQ(player->synth.voices[0].rate, 22050.0f);
    EXPECT_STREQ(player->status_text, "Ready (VELTA236 synth tables loaded)");
}

TEST(SynthInit, ClearsEverythingLeftFromEarlierUse) {
    auto player = make_player(44100);
    player->song.events.resize(10);
    player->song.event_count = 10;
    player->song.length_frames = 12345;
    player->song.tempo_map.resize(2);
    player->position = 999;
    player->cursor = 4;
    player->active = 1;
    player->paused = 1;
    std::strcpy(player->song_path, "/tmp/song.mid");
    player->synth.custom_wave_bank[7][3] = 256;
    player->synth.channels[2].mute = 1;
    synth_select_instrument_set(player->synth, 4);
    start_melodic(player->synth, 10, 0);

    synth_init(*player, 48000);
    EXPECT_TRUE(player->song.events.empty());
    EXPECT_TRUE(player->song.tempo_map.empty());
    EXPECT_EQ(player->song.event_count, 0u);
    EXPECT_EQ(player->song.length_frames, 0u);
    EXPECT_EQ(player->position, 0u);
    EXPECT_EQ(player->cursor, 0u);
    EXPECT_EQ(player->active, 0);
    EXPECT_EQ(player->paused, 0);
    EXPECT_STREQ(player->song_path, "");
    EXPECT_EQ(player->synth.custom_wave_bank[7][3], 0);
    EXPECT_EQ(player->synth.channels[2].mute, 0);
    EXPECT_EQ(player->synth.instrument_set, 0);
    EXPECT_EQ(player->synth.voices[10].active, 0);
    // The lock survives and still works.
    EXPECT_TRUE(player->lock.try_lock());
    player->lock.unlock();
}

TEST(ResetSynth, RestoresPowerOnStateButKeepsMuteAndUploads) {
    auto player = make_player(48000);
    SynthState& synth = player->synth;
    synth.channels[4].mute = 1;
    synth.channels[4].program = 12;
    synth.channels[4].bend_cents = 50;
    synth.channels[3].drum = 1;
    synth.channels[9].drum = 0;
    synth.custom_wave_mode = 1;
    synth.custom_waves_present = 1;
    synth.custom_wave_bank[0][0] = -256;
    for (int i = 0; i < kVoiceCount; ++i) {
        Voice& voice = start_melodic(synth, i, i);
        voice.env_level = 1000;
        voice.pan = 0;
    }

    reset_synth(synth);
    EXPECT_EQ(synth.channels[4].mute, 1);
    EXPECT_EQ(synth.channels[4].program, 80);
    EXPECT_EQ(synth.channels[4].bend_cents, 0);
    EXPECT_EQ(synth.channels[4].rpn_msb, 127);
    for (int n = 0; n < kChannelCount; ++n) {
        EXPECT_EQ(synth.channels[n].drum, n == 9 ? 1 : 0) << n;
    }
    EXPECT_EQ(synth.custom_wave_mode, 0);
    EXPECT_EQ(synth.custom_waves_present, 0);
    EXPECT_EQ(synth.custom_wave_bank[0][0], -256);
    for (const Voice& voice : synth.voices) {
        EXPECT_EQ(voice.active, 0);
        EXPECT_EQ(voice.kind, kVoiceMelodic);
        EXPECT_EQ(voice.program, 0);
        EXPECT_EQ(voice.env_level, 0);
        EXPECT_EQ(voice.env_stage, kEnvFinished);
        EXPECT_EQ(voice.pending_pitch_note, -1);
        EXPECT_EQ(voice.pan, 64);
        EXPECT_EQ(voice.gain_left, 63.0f / 127.0f);
        EXPECT_EQ(voice.gain_right, 64.0f / 127.0f);
        EXPECT_EQ(voice.rate, 48000.0f);
    }
}
