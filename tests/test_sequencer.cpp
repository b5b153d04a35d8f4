// Event dispatch, transport and seeking, and golden renders of generated songs.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sequencer/dispatch.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"
#include "tests/engine_support.h"

namespace {

void add_sysex(Song& song, uint64_t time, std::vector<uint8_t> bytes) {
    MidiEvent event;
    event.time = time;
    event.status = 0xF0;
    event.sysex_offset = song.sysex_data.size();
    event.sysex_length = bytes.size();
    song.sysex_data.insert(song.sysex_data.end(), bytes.begin(), bytes.end());
    song.events.push_back(event);
}

// Installs the song as a successful load would: stopped at frame 0, channels reset.
void install(Player& player, Song song) {
    std::lock_guard guard(player.lock);
    song.rate = static_cast<uint32_t>(player.synth.sample_rate);
    song.length_frames = (song.events.empty() ? 0 : song.events.back().time) + 4 * song.rate;
    player.song = std::move(song);
    player.position = 0;
    player.cursor = 0;
    player.active = 0;
    player.paused = 0;
    reset_synth(player.synth);
}

void dispatch_to(Player& player, uint64_t frame) {
    std::lock_guard guard(player.lock);
    dispatch_events(player, frame);
}

const Voice* first_voice(const Player& player, int32_t channel) {
    for (const Voice& voice : player.synth.voices) {
        if (voice.active != 0 && voice.channel == channel) return &voice;
    }
    return nullptr;
}

// Renders blocks of `block` frames until the song finishes or `max_frames` have been rendered.
std::vector<int16_t> render(Player& player, uint32_t block, uint64_t max_frames = 1u << 26) {
    std::vector<int16_t> out;
    std::vector<int16_t> buffer(block * 2);
    while (out.size() / 2 < max_frames) {
        std::fill(buffer.begin(), buffer.end(), 0);
        std::lock_guard guard(player.lock);
        if (!synth_render(player, buffer.data(), block)) break;
        out.insert(out.end(), buffer.begin(), buffer.end());
        if (player.active == 0) break;
    }
    return out;
}

std::string status(Player& player) {
    std::lock_guard guard(player.lock);
    return player.status_text;
}

// ---------------------------------------------------------------------------------------------
// Dispatch

TEST(Dispatch, BendRangeRoundingAndControllersDeferredToVoices) {
    auto player = make_player();
    Song song;
    add_event(song, 0, 0x90, 69, 100);
    add_event(song, 0, 0x91, 60, 127);
    add_event(song, 0, 0xB0, 6, 5);       // no parameter selected yet (127/127): ignored
    add_event(song, 1, 0xE0, 0x7F, 0x7F); // 8191 at range 2: 199.98 -> 200
    add_event(song, 1, 0xE9, 0x7F, 0x7F); // drum channel: ignored
    add_event(song, 2, 0xB0, 101, 0);
    add_event(song, 2, 0xB0, 100, 0);
    add_event(song, 2, 0xB0, 6, 1);
    add_event(song, 2, 0xB0, 6, 25);  // above 24: ignored, not clamped
    add_event(song, 3, 0xE0, 0, 72);  // +1024 at range 1: exactly 12.5 cents
    add_event(song, 4, 0xE0, 0, 56);  // -1024: -12.5
    add_event(song, 5, 0xB0, 100, 1); // fine tuning selected: data entry no longer sets the range
    add_event(song, 5, 0xB0, 6, 12);
    add_event(song, 5, 0xE0, 0, 0); // -8192
    add_event(song, 6, 0xB1, 7, 30);
    add_event(song, 6, 0xB1, 10, 5);
    add_event(song, 6, 0xB1, 11, 40);
    add_event(song, 6, 0xC1, 0x85, 0); // masked to 5
    add_event(song, 7, 0xB1, 121, 0);
    install(*player, std::move(song));
    const ChannelState& ch = player->synth.channels[0];
    const ChannelState& ch1 = player->synth.channels[1];

    dispatch_to(*player, 1);
    const Voice* voice = first_voice(*player, 0);
    const Voice* other = first_voice(*player, 1);
    ASSERT_TRUE(voice != nullptr && other != nullptr);
    EXPECT_EQ(ch.bend_cents, 200);
    EXPECT_EQ(voice->pending_cents, 186.0f);
    EXPECT_EQ(voice->cents, -14.0f) << "the voice keeps its pitch until a period boundary";
    EXPECT_EQ(player->synth.channels[9].bend_cents, 0);
    dispatch_to(*player, 2);
    EXPECT_EQ(ch.bend_range, 1);
    dispatch_to(*player, 3);
    EXPECT_EQ(ch.bend_cents, 13);
    dispatch_to(*player, 4);
    EXPECT_EQ(ch.bend_cents, -13);
    dispatch_to(*player, 5);
    EXPECT_EQ(ch.bend_range, 1);
    EXPECT_EQ(ch.bend_cents, -100);

    dispatch_to(*player, 6);
    EXPECT_EQ(ch1.volume, 30);
    EXPECT_EQ(other->level, 100.0f) << "volume reaches only later notes";
    EXPECT_EQ(other->pending_pan, 5);
    EXPECT_EQ(other->pending_expression, 40);
    EXPECT_EQ(ch1.program, 5);
    EXPECT_EQ(voice->pending_pan, 64) << "other channels' voices are untouched";
    dispatch_to(*player, 7);
    EXPECT_EQ(ch1.expression, 127);
    EXPECT_EQ(ch1.volume, 30) << "reset all controllers keeps volume";
    EXPECT_EQ(other->pending_expression, 127);
}

TEST(Dispatch, SysExRhythmPartsAndUserWaveforms) {
    auto player = make_player();
    Song song;
    add_sysex(song, 0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x01, 0x19, 0xF7});
    add_sysex(song, 0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x10, 0xF7});
    add_sysex(song, 0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x00, 0x1B, 0xF7});
    // Not recognised: other device, other address, too short.
    add_sysex(song, 0, {0xF0, 0x41, 0x11, 0x42, 0x12, 0x40, 0x12, 0x15, 0x01, 0x00});
    add_sysex(song, 0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x13, 0x16, 0x01, 0x00});
    add_sysex(song, 0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x14, 0x15, 0x01});
    std::vector<uint8_t> upload = {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF1, 0x85, 0x00};
    for (int i = 0; i < 31; ++i)
        upload.push_back(static_cast<uint8_t>(0x70 + 8 * i));
    add_sysex(song, 1, upload); // 39 bytes: ignored
    upload.push_back(0x68);
    add_sysex(song, 2, upload); // 40 bytes: slot 5
    add_sysex(song, 3, {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF0, 0x00, 0x00, 0x01});
    add_sysex(song, 4, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    install(*player, std::move(song));
    const SynthState& synth = player->synth;

    dispatch_to(*player, 1);
    std::string drums;
    for (const ChannelState& ch : synth.channels)
        drums += ch.drum != 0 ? 'D' : '-';
    EXPECT_EQ(drums, "D---------D-----");
    EXPECT_EQ(synth.custom_waves_present, 0);
    dispatch_to(*player, 2);
    EXPECT_EQ(synth.custom_waves_present, 1);
    EXPECT_EQ(synth.custom_wave_mode, 0) << "an upload does not switch the mode on";
    EXPECT_EQ(synth.custom_wave_bank[5][0], 0x70 * 256);
    EXPECT_EQ(synth.custom_wave_bank[5][2], -32768);
    dispatch_to(*player, 3);
    EXPECT_EQ(synth.custom_wave_mode, 1);
    dispatch_to(*player, 4);
    EXPECT_EQ(synth.custom_wave_mode + synth.custom_waves_present, 0) << "GM System On";
    EXPECT_EQ(synth.custom_wave_bank[5][0], 0x70 * 256) << "keeps the uploads";
}

// ---------------------------------------------------------------------------------------------
// Transport

// A 14-second song at 44100 Hz: a volume change and a short note at 0, one long note from 5 s
// to 10 s, volume changes on channel 1 at 1 s and 8 s; fraction 0.5 is exactly 7 s.
Song seek_song() {
    Song song;
    add_event(song, 0, 0xB0, 7, 50);
    add_event(song, 0, 0x92, 60, 100);
    add_event(song, 20000, 0x82, 60, 0);
    add_event(song, 44100, 0xB1, 7, 30);
    add_event(song, 220500, 0x90, 60, 100);
    add_event(song, 352800, 0xB1, 7, 90);
    add_event(song, 441000, 0x80, 60, 0);
    return song;
}

TEST(Transport, StateTransitionsAndStatusTexts) {
    auto player = make_player();
    start_playback(*player);
    toggle_pause(*player);
    seek_fraction(*player, 0.5);
    EXPECT_EQ(status(*player), "No MIDI loaded") << "nothing happens without a song";
    EXPECT_EQ(player->active + player->paused, 0);

    install(*player, seek_song());
    start_playback(*player);
    EXPECT_EQ(status(*player), "Playing");
    render(*player, 1000, 3000);
    start_playback(*player);
    EXPECT_EQ(player->position, 3000u) << "Play while playing does not rewind";
    toggle_pause(*player);
    EXPECT_EQ(status(*player), "Paused");
    start_playback(*player);
    EXPECT_EQ(status(*player), "Playing");
    EXPECT_EQ(player->position, 3000u) << "Play resumes a paused transport in place";
    toggle_pause(*player);
    toggle_pause(*player);
    EXPECT_EQ(status(*player), "Resumed");
    stop_playback(*player);
    EXPECT_EQ(status(*player), "Stopped");
    EXPECT_EQ(player->position + player->cursor, 0u);

    // Play to the end, then Play again starts from the top.
    start_playback(*player);
    render(*player, 4096);
    EXPECT_EQ(status(*player), "Finished");
    start_playback(*player);
    EXPECT_EQ(player->position, 0u);
}

TEST(Transport, SeekPreRollsAndRebuildsControllerState) {
    auto player = make_player();
    install(*player, seek_song());
    start_playback(*player);

    seek_fraction(*player, 0.5);
    EXPECT_EQ(status(*player), "Position: 50.0%");
    EXPECT_EQ(player->position, 308700u);
    EXPECT_EQ(player->active, 1);
    EXPECT_EQ(player->synth.channels[1].volume, 30) << "a change before the target is in force";
    ASSERT_NE(first_voice(*player, 0), nullptr);
    EXPECT_EQ(first_voice(*player, 0)->age, 22050u) << "only the pre-roll advanced the note";

    seek_fraction(*player, 0.05); // backwards, before the volume change: rebuilt from the start
    EXPECT_EQ(player->synth.channels[1].volume, 100);
    EXPECT_EQ(first_voice(*player, 0), nullptr);
    seek_fraction(*player, 0.75);
    EXPECT_EQ(player->synth.channels[1].volume, 90);

    seek_fraction(*player, 0.0);
    EXPECT_EQ(player->position, 0u);
    EXPECT_EQ(player->synth.channels[0].volume, 50) << "events at the target frame are applied";
    ASSERT_NE(first_voice(*player, 2), nullptr);
    EXPECT_EQ(first_voice(*player, 2)->age, 0u) << "no pre-roll at frame 0";
    {
        std::lock_guard guard(player->lock);
        seek_frame(*player, 10000); // inside the first half second: pre-roll from frame 0
    }
    EXPECT_EQ(player->position, 10000u);
    ASSERT_NE(first_voice(*player, 2), nullptr);
    EXPECT_EQ(first_voice(*player, 2)->age, 10000u);

    seek_fraction(*player, std::nan(""));
    EXPECT_EQ(status(*player), "Position: 0.0%");
    seek_fraction(*player, 3.0); // past the end: limited to the length, finishes on next block
    EXPECT_EQ(status(*player), "Position: 100.0%");
    EXPECT_EQ(player->position, player->song.length_frames);
    EXPECT_EQ(player->active, 1);
    EXPECT_TRUE(render(*player, 512).empty());
    EXPECT_EQ(status(*player), "Finished");
}

TEST(Transport, SeekKeepsPausedAndStoppedStates) {
    auto player = make_player();
    install(*player, seek_song());
    seek_fraction(*player, 0.5); // stopped
    EXPECT_EQ(player->position, 308700u);
    EXPECT_EQ(player->active, 0);
    start_playback(*player);
    EXPECT_EQ(player->position, 0u) << "Play after a seek while stopped starts from the top";

    toggle_pause(*player);
    seek_fraction(*player, 0.5);
    EXPECT_EQ(player->active + player->paused, 2);
    toggle_pause(*player);
    EXPECT_EQ(status(*player), "Resumed");
    EXPECT_EQ(player->position, 308700u);
}

TEST(Transport, PositionTextIsLocaleIndependent) {
    auto player = make_player(1000); // a low rate keeps each seek's pre-roll short
    Song song;
    add_event(song, 0, 0xC0, 1);
    add_event(song, 6000, 0xC0, 2);
    install(*player, std::move(song));
    std::vector<double> fractions = {0.00049999, 0.0005, 0.12345, 0.99949999, 0.9995};
    for (int i = 0; i <= 2000; ++i)
        fractions.push_back(i / 2000.0);
    for (double f : fractions) {
        seek_fraction(*player, f);
        char expected[64];
        std::snprintf(expected, sizeof expected, "Position: %.1f%%", f * 100);
        ASSERT_EQ(status(*player), expected) << f;
    }

    // A German locale, compiled into a private directory when it is not installed.
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        const std::string dir = testing::TempDir() + "/velta_locales";
        const std::string command = "mkdir -p '" + dir + "' && localedef -i de_DE -f UTF-8 '" +
                                    dir + "/de_DE.UTF-8' > /dev/null 2>&1";
        if (std::system(command.c_str()) == 0) setenv("LOCPATH", dir.c_str(), 1);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE locale";
    }
    char german[16];
    std::snprintf(german, sizeof german, "%.1f", 50.0);
    seek_fraction(*player, 0.5);
    std::setlocale(LC_ALL, "C");
    EXPECT_STREQ(german, "50,0") << "the locale really uses a decimal comma";
    EXPECT_EQ(status(*player), "Position: 50.0%");
}

// ---------------------------------------------------------------------------------------------
// Whole renders

class GeneratedSongs : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = testing::TempDir() + "/velta_sequencer_songs";
        const std::string command =
            "python3 '" VELTA_SOURCE_DIR "/tests/make_midi.py' '" + dir_ + "' > /dev/null 2>&1";
        generated_ = std::system(command.c_str()) == 0;
    }
    void SetUp() override {
        if (!generated_) GTEST_SKIP() << "python3 could not generate the test songs";
    }
    static std::string path(const char* name) { return dir_ + "/" + name + ".mid"; }

    // Loads, plays and renders a song to its end in blocks of `block` frames.
    static std::vector<int16_t> render_song(const char* name, int32_t rate, uint32_t block) {
        auto player = make_player(rate);
        EXPECT_TRUE(load_song(*player, path(name).c_str())) << name;
        start_playback(*player);
        std::vector<int16_t> pcm = render(*player, block, 60u * rate);
        EXPECT_EQ(status(*player), "Finished") << name;
        return pcm;
    }

    static inline std::string dir_;
    static inline bool generated_ = false;
};

TEST_F(GeneratedSongs, SamplesDoNotDependOnBlockSize) {
    for (const char* name : {"melodic", "drums", "waves"}) {
        std::vector<int16_t> small = render_song(name, 44100, 64);
        std::vector<int16_t> large = render_song(name, 44100, 4096);
        ASSERT_LE(small.size(), large.size());
        ASSERT_GT(small.size(), 44100u * 2);
        EXPECT_TRUE(std::equal(small.begin(), small.end(), large.begin())) << name;
        // Only the zero-filled rest of the last block may follow.
        EXPECT_TRUE(std::all_of(large.begin() + small.size(), large.end(), [](int16_t s) {
            return s == 0;
        })) << name;
    }
}

struct Golden {
    const char* song;
    int32_t rate;
    uint64_t frames;
    uint64_t fnv;
};

// FNV-1a 64 of the little-endian PCM, rendered in 1024-frame blocks by a fresh Player, as
// velta-render writes it. Run with VELTA_PRINT_GOLDEN=1 to print fresh values after an intended
// change of sound.
constexpr Golden kGoldens[] = {
    {"melodic", 22050, 86016, 0xb6ef8615ebfe9e23ull},
    {"melodic", 44100, 168960, 0x88241159366177b6ull},
    {"melodic", 48000, 184320, 0x7b7859865994da29ull},
    {"drums", 22050, 82944, 0xb4d182567b1adaa9ull},
    {"drums", 44100, 165888, 0x5da2520a0096d529ull},
    {"drums", 48000, 180224, 0x2062746e0807d899ull},
    {"waves", 22050, 112640, 0x2bddcca7fd4d0e41ull},
    {"waves", 44100, 223232, 0x3b84ceda615c5638ull},
    {"waves", 48000, 242688, 0x00ce4db2d6bba55bull},
};

TEST_F(GeneratedSongs, GoldenRenders) {
    const bool print = std::getenv("VELTA_PRINT_GOLDEN") != nullptr;
    for (const Golden& golden : kGoldens) {
        const std::vector<int16_t> pcm = render_song(golden.song, golden.rate, 1024);
        const uint64_t frames = pcm.size() / 2;
        const uint64_t hash = pcm_fnv1a(pcm);
        if (print) {
            std::printf("    {\"%s\", %d, %llu, 0x%016llxull},\n", golden.song, golden.rate,
                        static_cast<unsigned long long>(frames),
                        static_cast<unsigned long long>(hash));
            continue;
        }
        EXPECT_EQ(frames, golden.frames) << golden.song << " at " << golden.rate;
        EXPECT_EQ(hash, golden.fnv) << golden.song << " at " << golden.rate;
    }
}

} // namespace
