// Voices, the drum kit and the render loop, checked sample for sample where the sound is defined.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sequencer/channels.h"
#include "sequencer/player.h"
#include "synth/drums.h"
#include "synth/render.h"
#include "synth/synth.h"
#include "synth/voice.h"

namespace {

std::unique_ptr<Player> make_player(int32_t rate) {
    auto player = std::make_unique<Player>();
    synth_init(*player, rate);
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

void add_event(Song& song, uint64_t time, uint8_t status, uint8_t data1, uint8_t data2) {
    MidiEvent e;
    e.time = time;
    e.status = status;
    e.data1 = data1;
    e.data2 = data2;
    song.events.push_back(e);
    song.event_count = song.events.size();
}

constexpr int kSquare = 0; // "SQUARE 50%": 112 x 98 then -128 x 98

} // namespace

TEST(Pitch, NoteFrequencyTable) {
    EXPECT_EQ(note_frequency(60), 261.63f);
    EXPECT_NEAR(note_frequency(69), 440.01f, 0.01f);
    EXPECT_EQ(note_frequency(-1), 8.175938f);
    EXPECT_EQ(note_frequency(INT32_MIN), 8.175938f);
    EXPECT_EQ(note_frequency(0), static_cast<float>(8.1759377));
    // Octave 29 is the last real one; beyond it the table falls back to octave 5.
    EXPECT_EQ(note_frequency(29 * 12), static_cast<float>(4389423100.0));
    EXPECT_EQ(note_frequency(30 * 12), 261.63f);
    EXPECT_EQ(note_frequency(30 * 12 + 9), static_cast<float>(261.63 * 1.681793));
}

TEST(Pitch, CentsInterpolateLinearlyInHertz) {
    Voice v;
    v.rate = 44100.0f;
    v.cents = 100.0f;
    voice_set_pitch(v, 60);
    EXPECT_EQ(v.frequency, note_frequency(61));

    v.cents = 50.0f;
    voice_set_pitch(v, 60);
    EXPECT_FLOAT_EQ(v.frequency, (note_frequency(60) + note_frequency(61)) / 2);

    // Single precision, left to right: other groupings or double precision differ here.
    v.cents = 25.0f;
    voice_set_pitch(v, 60);
    EXPECT_EQ(v.frequency, 265.519348f);
    v.cents = 86.0f;
    voice_set_pitch(v, 60);
    EXPECT_EQ(v.frequency, 275.009277f);

    v.cents = -150.0f;
    voice_set_pitch(v, 60);
    EXPECT_FLOAT_EQ(v.frequency, (note_frequency(59) + note_frequency(58)) / 2);
    EXPECT_EQ(v.pitch_note, 60);
    EXPECT_EQ(v.phase_counter, 0u);
    EXPECT_EQ(v.period, 44100.0f / v.frequency);
    EXPECT_EQ(v.period_end, v.period);

    // A voice whose rate is zero still gets a usable period.
    v.rate = 0.0f;
    voice_set_pitch(v, 0);
    EXPECT_EQ(v.period, 0.0001f);
}

TEST(Pitch, ChannelDetuneTakesEffectAtFirstSample) {
    auto player = make_player(44100);
    synth_note_on(player->synth, 0, 69, 100);
    Voice& v = player->synth.voices[0];
    EXPECT_EQ(v.cents, -14.0f);
    EXPECT_EQ(v.pitch_note, 60); // provisional until the first boundary
    render(*player, 1);
    EXPECT_EQ(v.pitch_note, 69);
    EXPECT_LT(v.frequency, 440.0f);
    EXPECT_GT(v.frequency, note_frequency(68));
}

TEST(Mix, SquareWorkedExample) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    synth.channels[0].volume = 127;
    synth_note_on(synth, 0, 69, 127); // program 80 of set 0 plays "SQUARE 50%"
    ASSERT_EQ(synth.voices[0].wave, synth.wave_bank[kSquare]);
    auto out = render(*player, 2);
    EXPECT_EQ(out[0], 1089);
    EXPECT_EQ(out[1], 1106);
    EXPECT_EQ(out[2], 1089);
    EXPECT_EQ(out[3], 1106);
}

TEST(Mix, ClipsToSymmetricRange) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    synth_select_instrument_set(synth, 7); // "PULSE SQUARE 50%": 127 x 196, then zeros
    synth.channels[0].volume = 127;
    synth.channels[0].pan = 127;
    for (int i = 0; i < 7; ++i) {
        synth_note_on(synth, 0, 60, 127);
    }
    auto out = render(*player, 4);
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(out[2 * f], 0);
        EXPECT_EQ(out[2 * f + 1], 32767);
    }

    // Fourteen square voices in their negative half sum far below -32767.
    auto low = make_player(44100);
    low->synth.channels[0].volume = 127;
    low->synth.channels[0].pan = 127;
    for (int i = 0; i < 14; ++i) {
        synth_note_on(low->synth, 0, 60, 127);
    }
    auto wave = render(*low, 200);
    int16_t lowest = 0;
    for (size_t i = 1; i < wave.size(); i += 2) {
        lowest = std::min(lowest, wave[i]);
    }
    EXPECT_EQ(lowest, -32767);
}

TEST(Mix, FrequencyAboveLimitIsSilentButAdvances) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    synth.channels[0].detune = 0;
    synth_note_on(synth, 0, 137, 127); // about 22350 Hz
    Voice& v = synth.voices[0];
    auto out = render(*player, 50);
    EXPECT_GT(v.frequency, 22050.0f);
    for (int16_t s : out) {
        EXPECT_EQ(s, 0);
    }
    EXPECT_EQ(v.age, 50u);
    EXPECT_GT(v.phase_counter, 0u);
    synth.envelope_table[80].release_samples = 0;
    synth_note_off(synth, 0, 137);
    render(*player, 10);
    EXPECT_EQ(v.active, 0);
}

TEST(Mix, MutedChannelStillAgesAndDrawsNoise) {
    auto make = [](int32_t mute) {
        auto player = make_player(44100);
        player->synth.channels[9].mute = mute;
        player->synth.channels[1].mute = mute;
        synth_note_on(player->synth, 1, 60, 100);
        synth_note_on(player->synth, 9, 42, 127); // closed hi-hat, 700 samples
        return player;
    };
    auto loud = make(0);
    auto muted = make(1);
    srand(1);
    auto loud_out = render(*loud, 800);
    int after_loud = rand();
    srand(1);
    auto muted_out = render(*muted, 800);
    int after_muted = rand();

    EXPECT_EQ(after_loud, after_muted); // the noise source runs on muted channels too
    EXPECT_NE(loud_out, muted_out);
    for (int16_t s : muted_out) {
        EXPECT_EQ(s, 0);
    }
    EXPECT_EQ(muted->synth.voices[0].age, 800u);
    EXPECT_EQ(muted->synth.voices[1].active, 0); // the hi-hat's hold ran out
    EXPECT_EQ(loud->synth.voices[1].active, 0);
}

TEST(Mix, HeldNoteKeepsTableIndexInRangePast2To24) {
    auto player = make_player(44100);
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

TEST(Voices, StealsOldestThenLowerIndex) {
    auto player = make_player(44100);
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
    synth.voices[3].note = 50;
    synth.voices[7].age = 0xFFFFFFFFu;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[30]);

    synth.voices[12].active = 0;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[12]);
}

TEST(Voices, StartFillsFromChannel) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    ChannelState& ch = synth.channels[2];
    ch.volume = 90;
    ch.pan = 200;
    ch.expression = 70;
    ch.bend_cents = 50;
    ch.program = 16; // attack 882, decay 4410, sustain full
    Voice& v = synth.voices[5];
    v.pitch_note = 72;
    voice_start(synth, v, 2, 64, 99);
    EXPECT_EQ(v.level, static_cast<float>(90.0 * 99 / 127));
    EXPECT_EQ(v.pan, 127);
    EXPECT_EQ(v.pending_pan, 200);
    EXPECT_EQ(v.gain_left, 0.0f);
    EXPECT_EQ(v.gain_right, 127 * (1.0f / 127));
    EXPECT_EQ(v.cents, 42.0f);
    EXPECT_EQ(v.pitch_note, 72);
    EXPECT_EQ(v.expression, 70);
    EXPECT_EQ(v.env_stage, 0);
    EXPECT_EQ(v.attack_step, 1073725440 / 882);
    EXPECT_EQ(v.decay_step, 0);

    ch.volume = 127;
    ch.program = 80; // no attack, no decay
    voice_start(synth, v, 2, 64, 127);
    EXPECT_EQ(v.level, 127.0f);
    EXPECT_EQ(v.env_stage, 2);
    EXPECT_EQ(v.env_level, 1073725440);
}

TEST(Voices, NoteOffReleasesEveryCopy) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    synth_note_on(synth, 0, 60, 100);
    synth_note_on(synth, 0, 60, 100);
    synth_note_on(synth, 1, 60, 100);
    render(*player, 10);
    synth_note_off(synth, 0, 60);
    EXPECT_EQ(synth.voices[0].note, -1);
    EXPECT_EQ(synth.voices[1].note, -1);
    EXPECT_EQ(synth.voices[0].env_stage, 3);
    EXPECT_EQ(synth.voices[0].release_step, 1073725440 / 1985);
    EXPECT_EQ(synth.voices[2].note, 60);
    EXPECT_EQ(synth.voices[2].env_stage, 2);
}

TEST(Voices, SustainPedalStretchesReleaseTo25000Samples) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    synth.channels[0].sustain = 1;
    synth_note_on(synth, 0, 60, 100);
    render(*player, 10);
    Voice& v = synth.voices[0];
    synth_note_off(synth, 0, 60);
    EXPECT_EQ(v.release_step, 1073725440 / 25000);
    render(*player, 25000);
    EXPECT_EQ(v.env_stage, 3);
    EXPECT_GT(v.env_level, 0);
    render(*player, 1);
    EXPECT_EQ(v.env_stage, 4);
    EXPECT_EQ(v.stop_pending, 1);
    render(*player, 200);
    EXPECT_EQ(v.active, 0);

    // Without release time the voice stops at once, pedal or not.
    synth.envelope_table[80].release_samples = 0;
    synth_note_on(synth, 0, 60, 100);
    synth_note_off(synth, 0, 60);
    EXPECT_EQ(synth.voices[0].env_stage, 4);
    EXPECT_EQ(synth.voices[0].stop_pending, 1);
}

TEST(Voices, StopWaitsForPeriodEnd) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    synth.channels[0].detune = 0;
    synth_note_on(synth, 0, 57, 100); // 220 Hz: a period of about 200 samples
    render(*player, 1);
    Voice& v = synth.voices[0];
    v.level_slope = -10.0f;
    render(*player, 10);
    EXPECT_EQ(v.level, 0.0f);
    EXPECT_EQ(v.stop_pending, 1);
    EXPECT_EQ(v.note, -1);
    EXPECT_EQ(v.active, 1);
    int frames = 0;
    while (v.active != 0 && frames < 1000) {
        render(*player, 1);
        ++frames;
    }
    EXPECT_GT(frames, 100);
    EXPECT_EQ(v.active, 0);
    // Freed on the first sample that reaches the period end, without advancing further.
    EXPECT_GE(static_cast<float>(v.phase_counter), v.period_end);
    EXPECT_LT(static_cast<float>(v.phase_counter - 1), v.period_end);
}

TEST(Drums, BassAndSnareRows) {
    for (int32_t rate : {44100, 22050}) {
        SCOPED_TRACE(rate);
        int scale = rate == 22050 ? 2 : 1;
        auto player = make_player(rate);
        SynthState& synth = player->synth;
        synth.channels[9].volume = 127;
        synth_note_on(synth, 9, 36, 127);
        const Voice& bass = synth.voices[0];
        EXPECT_EQ(bass.kind, 5);
        EXPECT_EQ(bass.pending_pitch_note, 38);
        EXPECT_EQ(bass.level, 127.0f);
        EXPECT_EQ(bass.hold_samples, 540 / scale);
        EXPECT_EQ(bass.level_slope, -0.004f * scale);
        EXPECT_EQ(bass.cents_slide, 0.0f);
        EXPECT_EQ(bass.drum_wave, synth.drum_square);

        synth.channels[9].volume = 100;
        synth_note_on(synth, 9, 38, 127);
        const Voice& noise = synth.voices[1];
        const Voice& tone = synth.voices[2];
        EXPECT_EQ(noise.kind, 4);
        EXPECT_EQ(noise.pending_pitch_note, 140);
        EXPECT_NEAR(noise.level, 50.0f, 1e-4);
        EXPECT_EQ(noise.hold_samples, 1600 / scale);
        EXPECT_EQ(noise.level_slope, -0.005f * scale);
        EXPECT_EQ(noise.cents_slide, 0.8f * scale);
        EXPECT_EQ(noise.cents_pending, 1);
        EXPECT_EQ(noise.pending_cents, static_cast<float>(synth.channels[9].detune) + 0.8f * scale);
        EXPECT_EQ(tone.kind, 5);
        EXPECT_EQ(tone.pending_pitch_note, 63);
        EXPECT_EQ(tone.level, 100.0f * 0.74999994f); // from its own level, not V
        EXPECT_EQ(tone.hold_samples, 1200 / scale);
        EXPECT_EQ(tone.level_slope, 0.0f);
        EXPECT_EQ(tone.cents_slide, -0.6f * scale);
        EXPECT_EQ(count_active(synth), 3);

        // The bass drum runs exactly its hold time, then ends with its period.
        render(*player, static_cast<uint32_t>(540 / scale));
        EXPECT_EQ(bass.stop_pending, 1);
        render(*player, 400);
        EXPECT_EQ(bass.active, 0);
    }
}

TEST(Drums, InstrumentChoice) {
    auto player = make_player(44100);
    SynthState& synth = player->synth;
    auto hit = [&](int32_t program, int32_t note) -> const Voice& {
        reset_synth(synth);
        synth.channels[9].program = program;
        synth_note_on(synth, 9, note, 100);
        return synth.voices[0];
    };
    const Voice& tom48 = hit(48, 45);
    EXPECT_EQ(tom48.pending_pitch_note, 45);
    EXPECT_EQ(tom48.cents_slide, -0.5f);
    EXPECT_EQ(hit(50, 45).pending_pitch_note, 38);
    EXPECT_EQ(hit(50, 59).pending_pitch_note, 38);
    EXPECT_EQ(hit(50, 60).pending_pitch_note, 140);
    EXPECT_EQ(count_active(synth), 2);
    for (int32_t note : {37, 39, 30, 55}) {
        const Voice& v = hit(0, note);
        EXPECT_EQ(v.kind, 4);
        EXPECT_EQ(v.pending_pitch_note, 150);
        EXPECT_EQ(v.hold_samples, 500);
        EXPECT_EQ(v.level, 1.2f * static_cast<float>(100.0 * 100 / 127) * 0.25f);
    }
    // Loudness is 1.2 x level, capped at 127 before the instrument's factor.
    synth.channels[9].volume = 127;
    synth_note_on(synth, 9, 51, 127);
    EXPECT_EQ(synth.voices[1].level, 127.0f * 0.5f);
    EXPECT_EQ(hit(0, 46).hold_samples, 2500);
    EXPECT_EQ(hit(0, 49).pending_pitch_note, 170);
    EXPECT_EQ(hit(0, 51).pending_pitch_note, 120);
    EXPECT_EQ(hit(0, 47).pending_pitch_note, 58);

    // A note-off on a drum voice would only matter through dispatch, which ignores it; drums
    // end by their hold time.
    const Voice& hat = hit(0, 42);
    render(*player, 700);
    EXPECT_EQ(hat.stop_pending, 1);
}

TEST(Drums, NoiseRedrawsEachPeriodAndRunsDoubleAt22050) {
    for (int32_t rate : {44100, 22050}) {
        SCOPED_TRACE(rate);
        auto player = make_player(rate);
        srand(1);
        int first = rand();
        srand(1);
        synth_note_on(player->synth, 9, 51, 127); // ride: pitch note 120
        const Voice& v = player->synth.voices[0];
        render(*player, 1);
        EXPECT_EQ(v.noise_value, static_cast<int32_t>(((first % 65535) - 32768) * 3.3));
        EXPECT_EQ(v.phase_counter, rate == 22050 ? 2u : 1u);
        // Pitch note 120 is about 8372 Hz, so a period lasts a few samples at either rate.
        render(*player, 100);
        int draws = 0;
        srand(1);
        while (draws < 1000 &&
               static_cast<int32_t>(((rand() % 65535) - 32768) * 3.3) != v.noise_value) {
            ++draws;
        }
        float expected = 101.0f * (rate == 22050 ? 2 : 1) / v.period;
        EXPECT_NEAR(draws + 1, expected, 2.0f);
    }
}

TEST(Render, EventLandsOnItsFrame) {
    auto player = make_player(44100);
    Song& song = player->song;
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
}

TEST(Render, EndOfSong) {
    // Nothing left to play: the call does nothing and reports the end.
    auto empty = make_player(44100);
    empty->paused = 1;
    std::vector<int16_t> out(64, 7);
    EXPECT_FALSE(synth_render(*empty, out.data(), 32));
    EXPECT_STREQ(empty->status_text, "Finished");
    EXPECT_EQ(empty->active, 0);
    EXPECT_EQ(empty->paused, 0);
    EXPECT_EQ(out[0], 7);

    // A releasing voice keeps the song alive past its length until it is freed.
    auto player = make_player(44100);
    Song& song = player->song;
    add_event(song, 0, 0x90, 60, 100);
    add_event(song, 10, 0x80, 60, 0);
    song.length_frames = 20;
    bool processed = false;
    render(*player, 1024, &processed);
    EXPECT_TRUE(processed);
    EXPECT_EQ(player->active, 1);
    EXPECT_EQ(player->position, 1024u);
    render(*player, 1024, &processed); // the 1985-sample release ends in this block
    EXPECT_TRUE(processed);
    EXPECT_EQ(count_active(player->synth), 0);
    EXPECT_EQ(player->active, 0);
    EXPECT_STREQ(player->status_text, "Finished");
    EXPECT_EQ(player->position, 2048u);
    player_set_status(*player, "");
    render(*player, 1024, &processed);
    EXPECT_FALSE(processed);
    EXPECT_STREQ(player->status_text, "Finished");

    // Before the song's length the call goes on even with every voice silent.
    auto quiet = make_player(44100);
    add_event(quiet->song, 5000, 0x90, 60, 100);
    quiet->song.length_frames = 10000;
    render(*quiet, 1024, &processed);
    EXPECT_TRUE(processed);
    EXPECT_EQ(quiet->active, 1);
}

namespace {

uint64_t fnv1a(const std::vector<int16_t>& samples) {
    uint64_t hash = 1469598103934665603ull;
    for (int16_t s : samples) {
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= (static_cast<uint16_t>(s) >> shift) & 0xFF;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

// A short arrangement touching every sound path: melodic sets, bends, pan and expression
// changes, the sustain pedal, and every drum family.
uint64_t render_scene(int32_t rate) {
    auto player = make_player(rate);
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
    srand(1);
    std::vector<int16_t> all;
    bool processed = true;
    while (processed && all.size() < 400000) {
        auto block = render(*player, 333, &processed);
        all.insert(all.end(), block.begin(), block.end());
    }
    return fnv1a(all);
}

} // namespace

// Locks the exact output so restructuring the render path cannot change a single sample.
TEST(Render, GoldenScene) {
    EXPECT_EQ(render_scene(44100), 17261111271187842370ull);
    EXPECT_EQ(render_scene(22050), 1947325505758441117ull);
}
