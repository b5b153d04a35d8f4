// Two threads on one Player, as the program runs it: an audio thread rendering blocks under the
// lock while the main thread loads, plays, seeks, pauses, mutes, snapshots and stops as fast as
// it can. Built with ThreadSanitizer (races) and AddressSanitizer (frames from a freed song); a
// watchdog aborts when either thread stops making progress.
//   stress_engine [SECONDS [ITERATIONS]]      exit 0 = clean
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "sequencer/draw_snapshot.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "tests/support/engine_support.h"
#include "tests/support/song_gen.h"

namespace {

using Clock = std::chrono::steady_clock;

// Quanta a sound server asks for, including ones that are not powers of two.
constexpr uint32_t kBlockSizes[] = {64, 128, 256, 441, 480, 512, 1024, 2048};
constexpr uint32_t kMaxBlock = 2048;
constexpr auto kStallLimit = std::chrono::seconds(20); // sanitized builds run 5 to 20 times slower

struct Shared {
    std::atomic<bool> done{false};
    std::atomic<uint64_t> audio_blocks{0};
    std::atomic<uint64_t> audible_blocks{0};
    std::atomic<uint64_t> main_steps{0};
    std::atomic<uint64_t> faults{0};
};

void audio_thread(Player& player, Shared& shared) {
    std::vector<int16_t> block(kMaxBlock * 2);
    uint32_t turn = 0;
    while (!shared.done.load(std::memory_order_relaxed)) {
        const uint32_t frames = kBlockSizes[turn++ % std::size(kBlockSizes)];
        std::fill(block.begin(), block.begin() + frames * 2, int16_t{0});
        bool rendered = false;
        {
            std::lock_guard guard(player.lock);
            rendered = synth_render(player, block.data(), frames);
            if (player.cursor > player.song.events.size()) shared.faults++;
        }
        shared.audio_blocks++;
        for (uint32_t i = 0; i < frames * 2; ++i) {
            if (block[i] != 0) {
                shared.audible_blocks++;
                break;
            }
        }
        // Mostly back to back, to contend for the lock; now and then the gap a real callback
        // leaves, and a longer one while nothing plays.
        if (!rendered) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        } else if (turn % 16 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}

void watchdog(Shared& shared) {
    uint64_t audio_seen = 0, main_seen = 0;
    auto audio_moved = Clock::now(), main_moved = Clock::now();
    while (!shared.done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const auto now = Clock::now();
        if (const uint64_t n = shared.audio_blocks.load(); n != audio_seen) {
            audio_seen = n;
            audio_moved = now;
        }
        if (const uint64_t n = shared.main_steps.load(); n != main_seen) {
            main_seen = n;
            main_moved = now;
        }
        if (now - audio_moved > kStallLimit || now - main_moved > kStallLimit) {
            std::fprintf(stderr,
                         "stress_engine: no progress (audio blocks %llu, main steps %llu): "
                         "deadlock\n",
                         static_cast<unsigned long long>(audio_seen),
                         static_cast<unsigned long long>(main_seen));
            std::abort();
        }
    }
}

struct Corpus {
    std::vector<std::vector<uint8_t>> images; // the last one is broken
    std::vector<std::string> paths;           // the last one does not exist
};

Corpus make_corpus(const std::string& directory) {
    Corpus corpus;
    corpus.images.push_back(song_gen::dense_song(2));
    corpus.images.push_back(song_gen::stress_song(1));
    corpus.images.push_back(song_gen::dense_song(1));
    std::vector<uint8_t> broken = corpus.images[0];
    broken.resize(broken.size() / 3);
    corpus.images.push_back(broken);
    for (size_t i = 0; i < corpus.images.size(); ++i) {
        corpus.paths.push_back(directory + "/song" + std::to_string(i) + ".mid");
        if (!song_gen::write_file(corpus.paths.back(), corpus.images[i])) {
            std::fprintf(stderr, "stress_engine: cannot write %s\n", corpus.paths.back().c_str());
            std::exit(1);
        }
    }
    corpus.paths.push_back(directory + "/missing.mid");
    return corpus;
}

bool status_is(const DrawSnapshot& snapshot, const char* text) {
    return std::strcmp(snapshot.status_text, text) == 0;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const uint64_t max_iterations = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;

    char directory[] = "/tmp/velta-stress.XXXXXX";
    if (mkdtemp(directory) == nullptr) return 1;
    const Corpus corpus = make_corpus(directory);

    auto player = make_player(48000);
    Shared shared;
    std::thread audio(audio_thread, std::ref(*player), std::ref(shared));
    std::thread guard(watchdog, std::ref(shared));

    song_gen::Lcg random{12345};
    auto snapshot = std::make_unique<DrawSnapshot>();
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    uint64_t iteration = 0, loads = 0;
    for (; iteration < max_iterations && Clock::now() < deadline; ++iteration) {
        // A load every few steps, alternating memory and files, now and then a broken one.
        if (iteration % 8 == 0) {
            const bool from_file = random.range(0, 1) == 1;
            const size_t pick = static_cast<size_t>(random.range(
                0, static_cast<int32_t>(corpus.images.size()) - 1 + (from_file ? 1 : 0)));
            const bool valid = pick + 1 < corpus.images.size();
            const bool loaded = from_file
                                    ? load_song(*player, corpus.paths[pick].c_str())
                                    : load_song_from_memory(*player, corpus.images[pick].data(),
                                                            corpus.images[pick].size());
            ++loads;
            take_draw_snapshot(*player, *snapshot);
            if (loaded != valid || snapshot->active != 0 ||
                (valid && !status_is(*snapshot, "Loaded MIDI"))) {
                std::fprintf(stderr, "stress_engine: load %zu (file %d) gave %d, status \"%s\"\n",
                             pick, from_file, loaded, snapshot->status_text);
                shared.faults++;
            }
        }
        switch (random.range(0, 7)) {
        case 0:
            start_playback(*player);
            break;
        case 1:
            seek_fraction(*player, random.range(0, 1000) / 1000.0);
            break;
        case 2:
            toggle_pause(*player);
            break;
        case 3: {
            std::lock_guard lock(player->lock);
            int32_t& mute = player->synth.channels[random.range(0, kChannelCount - 1)].mute;
            mute = mute == 0 ? 1 : 0;
            break;
        }
        case 4:
            stop_playback(*player);
            break;
        case 5: {
            std::lock_guard lock(player->lock);
            seek_frame(*player, player->position + static_cast<uint64_t>(random.range(0, 96000)));
            break;
        }
        default:
            take_draw_snapshot(*player, *snapshot);
            break;
        }
        shared.main_steps++;
        // Let the audio thread in between most steps, as a user's clicks would.
        if (random.range(0, 3) != 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    shared.done = true;
    audio.join();
    guard.join();
    for (const std::string& path : corpus.paths)
        std::remove(path.c_str());
    rmdir(directory);

    std::printf("stress_engine: %llu steps, %llu loads, %llu audio blocks (%llu audible)\n",
                static_cast<unsigned long long>(iteration), static_cast<unsigned long long>(loads),
                static_cast<unsigned long long>(shared.audio_blocks.load()),
                static_cast<unsigned long long>(shared.audible_blocks.load()));
    if (shared.faults != 0) {
        std::fprintf(stderr, "stress_engine: %llu faults\n",
                     static_cast<unsigned long long>(shared.faults.load()));
        return 1;
    }
    // Without sound the threads never overlapped on a playing song: the run proved nothing.
    if (shared.audible_blocks == 0 || loads == 0) return 1;
    return 0;
}
