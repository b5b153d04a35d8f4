// Tables, synthesizer set-up, voices, the drum kit and the render loop, checked sample for
// sample where the sound is defined.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sequencer/event_loop.h"
#include "sequencer/player.h"
#include "synth/drums.h"
#include "synth/noise.h"
#include "synth/synth.h"
#include "synth/tables.h"
#include "synth/voice.h"
#include "tests/engine_support.h"

namespace {

// A player whose transport runs, so the render loop can end the song.
std::unique_ptr<Player> make_running_player(int32_t rate) {
    auto player = make_player(rate);
    player->active = 1;
    return player;
}

std::vector<int16_t> render(Player& player, uint32_t frames, bool* result = nullptr) {
    std::vector<int16_t> out(static_cast<size_t>(frames) * 2, 0);
    bool processed = synth_render(player, out.data(), frames);
    if (result != nullptr) {
        *result = processed;
    }
    return out;
}

int count_active(const SynthState& synth) {
    int n = 0;
    for (const Voice& v : synth.voices) {
        n += v.active;
    }
    return n;
}

Voice& start_melodic(SynthState& synth, int index, int32_t program) {
    Voice& voice = synth.voices[index];
    voice.active = 1;
    voice.kind = kVoiceMelodic;
    voice.program = program;
    return voice;
}

} // namespace

TEST(Tables, SpotValuesOfEachFamilyAndTheLoadedBanks) {
    EXPECT_STREQ(kWaveTable[0].name, "SQUARE 50%");
    EXPECT_EQ(kWaveTable[32].samples[15], 127);
    EXPECT_EQ(kWaveTable[32].samples[16], 0);
    EXPECT_EQ(kWaveTable[15].decay, -1);
    EXPECT_EQ(kInstrumentSets[0][127], 10);
    EXPECT_EQ(kInstrumentSets[7][0], 32);
    EXPECT_STREQ(kInstrumentSetNames[7], "All PulsedSquare Set");
    EXPECT_EQ(kInstrumentSetNames[8], nullptr);
    EXPECT_EQ(kEnvelopeTable[16].attack_samples, 882);
    EXPECT_EQ(kEnvelopeTable[122].release_samples, 12985);

    auto player = make_running_player(44100);
    const SynthState& synth = player->synth;
    EXPECT_EQ(synth.wave_bank[3][8], 127 * 255);
    EXPECT_EQ(synth.wave_bank[3][24], -128 * 255);
    EXPECT_EQ(synth.wave_decay[15], -1.0f / 65536);
    EXPECT_EQ(synth.drum_square[16], -32000);
    EXPECT_EQ(synth.envelope_table[6].sustain_samples, 88200);
    EXPECT_STREQ(player->status_text, "Ready (VELTA236 synth tables loaded)");
    EXPECT_EQ(synth.channels[0].detune, -14);
    EXPECT_EQ(synth.channels[15].detune, -2);
}

TEST(SynthInit, RateBelowOneRunsAt44100) {
    auto player = make_running_player(-22050);
    EXPECT_EQ(player->output_rate, -22050);
    EXPECT_EQ(player->synth.sample_rate, 44100);
    EXPECT_EQ(player->synth.voices[45].rate, 44100.0f);
}

TEST(InstrumentSet, ClampsAndRetunesSoundingMelodicVoicesOnly) {
    auto player = make_running_player(44100);
    SynthState& synth = player->synth;
    EXPECT_EQ(synth_select_instrument_set(synth, 12), 9);
    EXPECT_EQ(synth_select_instrument_set(synth, -3), 0);
    EXPECT_EQ(synth.instrument_set, 0);

    Voice& last = start_melodic(synth, 0, 127);
    last.phase_counter = 77;
    synth.voices[1].program = 127; // inactive
    Voice& drum = start_melodic(synth, 2, 127);
    drum.kind = kVoiceToneDrum;
    Voice& wide = start_melodic(synth, 3, 128 + 5); // masked, not read past the set
    synth_select_instrument_set(synth, 3);
    EXPECT_EQ(last.wave, synth.wave_bank[0]);
    EXPECT_EQ(last.phase_counter, 77u);
    EXPECT_EQ(synth.voices[1].wave, nullptr);
    EXPECT_EQ(drum.wave, nullptr);
    EXPECT_EQ(wide.wave, synth.wave_bank[kInstrumentSets[3][5]]);

    // With user waveforms on, only the number is stored.
    synth.custom_wave_mode = 1;
    last.wave = synth.custom_wave_bank[3];
    EXPECT_EQ(synth_select_instrument_set(synth, 5), 5);
    EXPECT_EQ(last.wave, synth.custom_wave_bank[3]);
}

TEST(InstrumentSet, DecayingWaveformSlopeDoublesOnlyAt22050) {
    for (int32_t rate : {22050, 44100, 48000}) {
        auto player = make_running_player(rate);
        SynthState& synth = player->synth;
        synth.set_table[8][40] = 15; // no built-in set reaches the decaying waveform
        Voice& voice = start_melodic(synth, 5, 40);
        synth_select_instrument_set(synth, 8);
        EXPECT_EQ(voice.wave, synth.wave_bank[15]);
        EXPECT_EQ(voice.level_slope, (rate == 22050 ? -2.0f : -1.0f) / 65536) << rate;
    }
}

TEST(Pitch, CentsInterpolateLinearlyInHertzAndDetuneAppliesAtFirstSample) {
    Voice v;
    v.rate = 44100.0f;
    v.cents = 100.0f;
    voice_set_pitch(v, 60);
    EXPECT_EQ(v.frequency, note_frequency(61));
    v.cents = 50.0f;
    voice_set_pitch(v, 60);
    EXPECT_FLOAT_EQ(v.frequency, (note_frequency(60) + note_frequency(61)) / 2);
    v.cents = -150.0f;
    voice_set_pitch(v, 60);
    EXPECT_FLOAT_EQ(v.frequency, (note_frequency(59) + note_frequency(58)) / 2);
    // Single precision, left to right: other groupings or double precision differ here.
    v.cents = 86.0f;
    voice_set_pitch(v, 60);
    EXPECT_EQ(v.frequency, 275.009277f);
    EXPECT_EQ(v.period, 44100.0f / v.frequency);

    auto player = make_running_player(44100);
    synth_note_on(player->synth, 0, 69, 100);
    Voice& note = player->synth.voices[0];
    EXPECT_EQ(note.cents, -14.0f);
    render(*player, 1);
    EXPECT_EQ(note.pitch_note, 69);
    EXPECT_LT(note.frequency, 440.0f);
    EXPECT_GT(note.frequency, note_frequency(68));
}

TEST(Mix, SquareWorkedExample) {
    auto player = make_running_player(44100);
    SynthState& synth = player->synth;
    synth.channels[0].volume = 127;
    synth_note_on(synth, 0, 69, 127); // program 80 of set 0 plays "SQUARE 50%"
    ASSERT_EQ(synth.voices[0].wave, synth.wave_bank[0]);
    auto out = render(*player, 2);
    EXPECT_EQ(out, (std::vector<int16_t>{1089, 1106, 1089, 1106}));
}

TEST(Mix, ClipsToSymmetricRange) {
    // Seven "PULSE SQUARE 50%" voices sum far above 32767, fourteen squares in their negative
    // half far below -32767.
    for (int voices : {7, 14}) {
        auto player = make_running_player(44100);
        SynthState& synth = player->synth;
        synth_select_instrument_set(synth, voices == 7 ? 7 : 0);
        synth.channels[0].volume = 127;
        synth.channels[0].pan = 127;
        for (int i = 0; i < voices; ++i)
            synth_note_on(synth, 0, 60, 127);
        auto out = render(*player, 200);
        int16_t lowest = 0, highest = 0;
        for (size_t i = 1; i < out.size(); i += 2) {
            lowest = std::min(lowest, out[i]);
            highest = std::max(highest, out[i]);
        }
        EXPECT_EQ(voices == 7 ? highest : lowest, voices == 7 ? 32767 : -32767);
    }
}

TEST(Mix, HeldNoteKeepsTableIndexInRangePast2To24) {
    auto player = make_running_player(44100);
    SynthState& synth = player->synth;
    synth_note_on(synth, 0, 60, 127);
    render(*player, 1);
    Voice& v = synth.voices[0];
    // Late in a long-held note: floats above 2^24 are even, so 16777219 compares as 16777220
    // and the boundary fires one sample early.
    v.period = 100.0f;
    v.period_start = 16777120.0f;
    v.period_end = 16777220.0f;
    v.phase_counter = 16777218;
    auto out = render(*player, 3);
    EXPECT_LT(out[0], 0); // second half of the square
    EXPECT_EQ(v.period_start, 16777220.0f);
    // One sample before the new cycle: the end of the previous cycle, not index 0 or beyond.
    EXPECT_EQ(out[2], out[0]);
    EXPECT_EQ(out[3], out[1]);
    EXPECT_GT(out[4], 0); // the new cycle's first half
}

TEST(Voices, StealsOldestThenLowerIndexFromAFullPool) {
    auto player = make_running_player(44100);
    SynthState& synth = player->synth;
    for (int i = 0; i < kVoiceCount; ++i) {
        synth_note_on(synth, 0, 40 + i % 40, 100);
    }
    ASSERT_EQ(count_active(synth), kVoiceCount);
    synth.voices[7].age = 500;
    synth.voices[30].age = 500;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[7]);
    // A released voice beats the held candidate of the moment, but a later, older held voice
    // still displaces it.
    synth.voices[3].note = -1;
    synth.voices[3].age = 5;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[7]);
    synth.voices[7].age = 4;
    synth.voices[30].age = 4;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[3]);
    // Ages compare as signed values: a wrapped age counts as the youngest.
    synth.voices[3].age = 0x80000000u;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[7]);
}

TEST(Drums, BassAndSnareRows) {
    for (int32_t rate : {44100, 22050}) {
        SCOPED_TRACE(rate);
        int scale = rate == 22050 ? 2 : 1;
        auto player = make_running_player(rate);
        SynthState& synth = player->synth;
        synth.channels[9].volume = 127;
        synth_note_on(synth, 9, 36, 127);
        const Voice& bass = synth.voices[0];
        EXPECT_EQ(bass.pending_pitch_note, 38);
        EXPECT_EQ(bass.level, 127.0f);
        EXPECT_EQ(bass.hold_samples, 540 / scale);
        EXPECT_EQ(bass.level_slope, -0.004f * scale);

        synth.channels[9].volume = 100;
        synth_note_on(synth, 9, 38, 127); // noise plus a tone
        const Voice& noise = synth.voices[1];
        const Voice& tone = synth.voices[2];
        EXPECT_EQ(noise.kind, 4);
        EXPECT_EQ(noise.pending_pitch_note, 140);
        EXPECT_NEAR(noise.level, 50.0f, 1e-4);
        EXPECT_EQ(noise.hold_samples, 1600 / scale);
        EXPECT_EQ(noise.cents_slide, 0.8f * scale);
        EXPECT_EQ(tone.kind, 5);
        EXPECT_EQ(tone.pending_pitch_note, 63);
        EXPECT_EQ(tone.level, 100.0f * 0.74999994f); // from its own level, not V
        EXPECT_EQ(tone.cents_slide, -0.6f * scale);

        // The bass drum runs exactly its hold time, then ends with its period.
        render(*player, static_cast<uint32_t>(540 / scale));
        EXPECT_EQ(bass.stop_pending, 1);
        render(*player, 400);
        EXPECT_EQ(bass.active, 0);
    }
}

TEST(Render, EventsLandOnTheirFrameInsideABlock) {
    auto player = make_running_player(44100);
    Song& song = player->song;
    add_event(song, 100, 0xC0, 81, 0);
    add_event(song, 100, 0x90, 60, 127);
    add_event(song, 100000, 0x80, 60, 0);
    song.length_frames = 200000;
    bool processed = false;
    auto out = render(*player, 256, &processed);
    EXPECT_TRUE(processed);
    for (int f = 0; f < 100; ++f) {
        ASSERT_EQ(out[2 * f], 0) << f;
    }
    EXPECT_NE(out[200], 0);
    EXPECT_EQ(player->position, 256u);
    EXPECT_EQ(player->synth.voices[0].age, 156u);
    EXPECT_EQ(player->synth.voices[0].program, 81) << "same-frame events all apply first";
}

TEST(Render, EndOfSong) {
    // Nothing left to play: the call does nothing and reports the end.
    auto empty = make_running_player(44100);
    empty->paused = 1;
    std::vector<int16_t> out(64, 7);
    EXPECT_FALSE(synth_render(*empty, out.data(), 32));
    EXPECT_STREQ(empty->status_text, "Finished");
    EXPECT_EQ(empty->active + empty->paused, 0);
    EXPECT_EQ(out[0], 7);

    // A releasing voice keeps the song alive past its length until it is freed.
    auto player = make_running_player(44100);
    Song& song = player->song;
    add_event(song, 0, 0x90, 60, 100);
    add_event(song, 10, 0x80, 60, 0);
    song.length_frames = 20;
    bool processed = false;
    render(*player, 1024, &processed);
    EXPECT_TRUE(processed);
    EXPECT_EQ(player->active, 1);
    render(*player, 1024, &processed); // the 1985-sample release ends in this block
    EXPECT_TRUE(processed);
    EXPECT_EQ(count_active(player->synth), 0);
    EXPECT_EQ(player->active, 0);
    EXPECT_STREQ(player->status_text, "Finished");
    EXPECT_EQ(player->position, 2048u);
    render(*player, 1024, &processed);
    EXPECT_FALSE(processed);
}

namespace {

// A short arrangement touching every sound path: melodic sets, bends, pan and expression
// changes, the sustain pedal, and every drum family.
uint64_t render_scene(int32_t rate) {
    auto player = make_running_player(rate);
    Song& song = player->song;
    add_event(song, 0, 0xC1, 16, 0);   // channel 1: program 16, with attack and decay
    add_event(song, 0, 0xB0, 10, 20);  // pan left
    add_event(song, 0, 0x90, 69, 110); // channel 0: square
    add_event(song, 0, 0x91, 52, 90);
    add_event(song, 0, 0x99, 36, 127);   // bass drum
    add_event(song, 300, 0xB0, 11, 60);  // expression
    add_event(song, 700, 0xE0, 0, 96);   // bend up
    add_event(song, 900, 0x99, 38, 100); // snare
    add_event(song, 1500, 0xB1, 64, 127);
    add_event(song, 1600, 0x81, 52, 0);
    add_event(song, 1800, 0x99, 42, 80);
    add_event(song, 2200, 0x99, 46, 80);
    add_event(song, 2600, 0x99, 49, 90);
    add_event(song, 3000, 0x99, 45, 120);
    add_event(song, 3100, 0x99, 51, 70);
    add_event(song, 3300, 0x93, 90, 127); // channel 3: high note
    add_event(song, 5000, 0x80, 69, 0);
    add_event(song, 6000, 0x83, 90, 0);
    song.length_frames = 9000;
    std::vector<int16_t> all;
    bool processed = true;
    while (processed && all.size() < 400000) {
        auto block = render(*player, 333, &processed);
        all.insert(all.end(), block.begin(), block.end());
    }
    return pcm_fnv1a(all);
}

} // namespace

// Locks the exact output so restructuring the render path cannot change a single sample.
TEST(Render, GoldenScene) {
    EXPECT_EQ(render_scene(44100), 11193894658392994996ull);
    EXPECT_EQ(render_scene(22050), 12173358881268176151ull);
}

// Each Player draws its own noise: the C library's rand() sequence from seed 1, continued
// (not restarted) across re-initialisation.
TEST(Noise, EachPlayerDrawsTheRandSequenceFromSeedOne) {
    NoiseGenerator generator;
    std::srand(1);
    for (int i = 0; i < 100000; ++i) {
        ASSERT_EQ(generator.next(), std::rand()) << "value " << i;
    }
    auto player = make_player();
    NoiseGenerator reference;
    player->noise.next();
    reference.next();
    synth_init(*player, 22050);
    EXPECT_EQ(player->noise.next(), reference.next());
}
