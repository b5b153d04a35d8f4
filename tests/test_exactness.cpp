// Locks the engine's output sample for sample on heavy material: every voice sounding with
// bends, expression and pan moving, and a dense song with drums and tempo changes, at all three
// output rates, played straight and after seeks. The checksums were taken from the plain
// sample-by-sample engine; any speed-up of the render path must leave them unchanged.
// VELTA_PRINT_GOLDEN=1 prints the table instead of checking it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/song_gen.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"
#include "tests/engine_support.h"

namespace {

std::string song_file(const char* name) {
    static const std::string dir = [] {
        std::string path = testing::TempDir() + "/velta_exactness";
        std::string command = "mkdir -p '" + path + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        song_gen::write_file(path + "/stress.mid", song_gen::stress_song());
        song_gen::write_file(path + "/dense.mid", song_gen::dense_song());
        song_gen::write_file(path + "/held.mid", song_gen::held_song(400));
        song_gen::write_file(path + "/waves.mid", song_gen::wave_upload_song());
        return path;
    }();
    return dir + "/" + name + ".mid";
}

int count_active(const Player& player) {
    int n = 0;
    for (const Voice& voice : player.synth.voices)
        n += voice.active != 0 ? 1 : 0;
    return n;
}

struct Take {
    const char* song;
    int32_t rate;
    double seek; // < 0: play from the start
    uint32_t seconds;
    uint32_t block;
};

struct Result {
    std::vector<int16_t> pcm;
    int active_at_end;
};

// Loads the song from its file, plays (and seeks) exactly as the program does, renders.
Result play(const Take& take) {
    auto player = std::make_unique<Player>();
    synth_init(*player, take.rate);
    EXPECT_TRUE(load_song(*player, song_file(take.song).c_str())) << player->status_text;
    start_playback(*player);
    if (take.seek >= 0.0) seek_fraction(*player, take.seek);
    const uint64_t frames = static_cast<uint64_t>(take.seconds) * take.rate;
    Result result;
    result.pcm.assign(frames * 2, 0);
    for (uint64_t done = 0; done < frames; done += take.block) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(take.block, frames - done));
        std::lock_guard guard(player->lock);
        synth_render(*player, result.pcm.data() + done * 2, n);
    }
    result.active_at_end = count_active(*player);
    return result;
}

struct Golden {
    Take take;
    uint64_t fnv;
};

// clang-format off
constexpr Golden kGoldens[] = {
    {{"stress", 22050, -1.0, 8, 1024}, 0xdf7920444d2c5365ull},
    {{"stress", 44100, -1.0, 8, 1024}, 0x850d01adee245597ull},
    {{"stress", 48000, -1.0, 8, 1024}, 0x0e8a2402c0f6ab9aull},
    {{"dense", 22050, -1.0, 12, 1024}, 0xe00c7dd173e88d09ull},
    {{"dense", 44100, -1.0, 12, 1024}, 0x2c157de6d016d449ull},
    {{"dense", 48000, -1.0, 12, 1024}, 0x0311d7a8ad87a9f2ull},
    {{"stress", 44100, 0.5, 2, 333}, 0x04847e55f8b7c5cfull},
    {{"dense", 48000, 0.37, 3, 333}, 0x32356f97c7edd5b3ull},
    {{"dense", 22050, 0.811, 3, 4096}, 0x51d19bf9ea87c05aull},
    // A user waveform replaced twice while two notes play it.
    {{"waves", 44100, -1.0, 3, 1024}, 0xedd9ca2cfb6193f3ull},
};
// clang-format on

TEST(Exactness, HeavySongsRenderUnchanged) {
    const bool print = std::getenv("VELTA_PRINT_GOLDEN") != nullptr;
    for (const Golden& golden : kGoldens) {
        const Take& take = golden.take;
        const Result result = play(take);
        const uint64_t hash = pcm_fnv1a(result.pcm);
        if (print) {
            std::printf("    {{\"%s\", %d, %g, %u, %u}, 0x%016llxull},\n", take.song, take.rate,
                        take.seek, take.seconds, take.block, static_cast<unsigned long long>(hash));
            continue;
        }
        EXPECT_EQ(hash, golden.fnv) << take.song << " at " << take.rate << " seek " << take.seek;
        if (std::string(take.song) == "stress") {
            // The stress song must really keep the whole pool busy, or it measures nothing.
            EXPECT_EQ(result.active_at_end, kVoiceCount) << take.rate;
        }
    }
}

// Held notes run past 2^24 samples (380 s at 44100 Hz), where the counters stop being exact
// as floats and the period ends fire by float comparison; the last seconds before and after
// that point must not change either.
TEST(Exactness, HeldNotesPastExactCounters) {
    auto player = std::make_unique<Player>();
    synth_init(*player, 44100);
    ASSERT_TRUE(load_song(*player, song_file("held").c_str()));
    start_playback(*player);
    std::vector<int16_t> block(4410 * 2); // a tenth of a second
    std::vector<int16_t> tail;
    for (uint64_t done = 0; done < 385ull * 44100; done += 4410) {
        std::fill(block.begin(), block.end(), 0);
        std::lock_guard guard(player->lock);
        synth_render(*player, block.data(), 4410);
        if (done >= 380ull * 44100) { // frames 380 s to 385 s
            tail.insert(tail.end(), block.begin(), block.end());
        }
    }
    EXPECT_EQ(count_active(*player), 2);
    EXPECT_EQ(pcm_fnv1a(tail), 0x14658ed61ddf2527ull);
}

// Output must not depend on how the audio thread slices the stream into blocks.
TEST(Exactness, BlockSizeDoesNotChangeSamples) {
    const Result whole = play({"dense", 44100, 0.25, 2, 4096});
    for (uint32_t block : {1u, 64u, 1000u}) {
        const Result sliced = play({"dense", 44100, 0.25, 2, block});
        EXPECT_TRUE(sliced.pcm == whole.pcm) << block;
    }
}

} // namespace
