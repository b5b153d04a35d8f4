// Two threads on one Player, as the program runs it: an audio thread rendering blocks under the
// lock while the main thread loads, plays, seeks, pauses, snapshots and stops as fast as it can.
// Built with ThreadSanitizer (races, deadlocks) and AddressSanitizer (frames from a freed song).
//   stress_engine [SECONDS]      exit 0 = clean
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sequencer/draw_snapshot.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "tests/support/engine_support.h"
#include "tests/support/song_gen.h"

int main(int argc, char** argv) {
    const auto run_for = std::chrono::duration<double>(argc > 1 ? std::atof(argv[1]) : 10.0);
    std::vector<uint8_t> broken = song_gen::dense_song(2);
    broken.resize(broken.size() / 3);
    const std::vector<uint8_t> songs[] = {song_gen::dense_song(2), song_gen::stress_song(1),
                                          broken};
    auto player = make_player(48000);
    std::atomic<bool> done{false};
    std::atomic<uint64_t> blocks{0}, audible{0};
    std::thread audio([&] {
        std::vector<int16_t> block(2 * 2048);
        while (!done) {
            // Quanta a sound server asks for, powers of two or not.
            const uint32_t frames = 64 + uint32_t(blocks++ * 397 % 1985);
            std::fill(block.begin(), block.end(), int16_t{0});
            std::unique_lock guard(player->lock);
            const bool rendered = synth_render(*player, block.data(), frames);
            guard.unlock();
            audible += std::any_of(block.begin(), block.end(), [](int16_t s) { return s != 0; });
            if (!rendered) std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    song_gen::Lcg random{12345};
    auto snapshot = std::make_unique<DrawSnapshot>();
    const std::function<void()> actions[] = {
        [&] { start_playback(*player); },
        [&] { seek_fraction(*player, random.range(0, 1000) / 1000.0); },
        [&] { toggle_pause(*player); },
        [&] { stop_playback(*player); },
        [&] { take_draw_snapshot(*player, *snapshot); },
    };
    uint64_t steps = 0, faults = 0;
    for (const auto end = std::chrono::steady_clock::now() + run_for;
         std::chrono::steady_clock::now() < end; ++steps) {
        if (steps % 8 == 0) { // a load every few steps, now and then a broken song
            const size_t pick = size_t(random.range(0, 2));
            faults += load_song_from_memory(*player, songs[pick].data(), songs[pick].size()) !=
                      (pick != 2);
        }
        actions[random.range(0, 4)]();
        if (random.range(0, 3) != 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    done = true;
    audio.join();
    std::printf("stress_engine: %llu steps, %llu audio blocks (%llu audible), %llu faults\n",
                (unsigned long long)steps, (unsigned long long)blocks.load(),
                (unsigned long long)audible.load(), (unsigned long long)faults);
    // Without sound the threads never overlapped on a playing song: the run proved nothing.
    return faults == 0 && audible > 0 ? 0 : 1;
}
