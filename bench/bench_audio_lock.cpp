// What the audio callback suffers from the main thread: the longest time it waits for the
// Player lock while a 5-million-event song loads and while seeks run, and how many heap calls
// (malloc, calloc, realloc, operator new) it makes itself. An imitation of the PipeWire thread
// calls the callback body every 1024 frames of real time, with block sizes from 256 to 4096
// frames. Usage: bench_audio_lock
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "audio/pipewire_output.h"
#include "bench/many_events.h"
#include "tests/support/song_gen.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"

// Heap calls are counted only on a thread that has set t_counting, and only while it is set.
namespace {
thread_local bool t_counting = false;
std::atomic<uint64_t> g_c_calls{0};
std::atomic<uint64_t> g_new_calls{0};
} // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t size) {
    if (t_counting) ++g_c_calls;
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    if (t_counting) ++g_c_calls;
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    if (t_counting) ++g_c_calls;
    return __libc_realloc(block, size);
}
void free(void* block) {
    __libc_free(block);
}
}

void* operator new(size_t size) {
    if (t_counting) ++g_new_calls;
    if (void* p = __libc_malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    __libc_free(p);
}
void operator delete[](void* p) noexcept {
    __libc_free(p);
}
void operator delete(void* p, size_t) noexcept {
    __libc_free(p);
}
void operator delete[](void* p, size_t) noexcept {
    __libc_free(p);
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kRate = 44100;
constexpr uint32_t kPeriodFrames = 1024;
constexpr uint32_t kBlockSizes[] = {256, 1024, 2048, 4096};
constexpr uint32_t kLargestBlock = 4096;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string temp_song(const char* name, const std::vector<uint8_t>& bytes) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                       "/velta_bench_lock_" + name + ".mid";
    if (!song_gen::write_file(path, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    return path;
}

// The PipeWire thread's part: one callback per period of real time. Each callback first
// measures how long taking the Player lock takes at that moment, then runs the real body.
class CallbackThread {
  public:
    CallbackThread(Player& player) : stream_(size_t{kLargestBlock} * 2) {
        audio_.player = &player;
        prepare_scratch(audio_);
        thread_ = std::thread([this] { run(); });
    }
    ~CallbackThread() {
        stop_ = true;
        thread_.join();
        audio_output_stop(audio_);
    }
    // Starts a new measuring window; returns the longest wait of the previous one.
    double take_longest_wait_ms() { return longest_wait_us_.exchange(0) / 1000.0; }
    uint64_t callbacks() const { return callbacks_; }

  private:
    static void prepare_scratch(AudioOutput& audio);

    void run() {
        auto next = Clock::now();
        const auto period = std::chrono::microseconds(1000000LL * kPeriodFrames / kRate);
        for (uint64_t n = 0; !stop_; ++n) {
            const uint32_t frames = kBlockSizes[n % std::size(kBlockSizes)];
            const auto start = Clock::now();
            audio_.player->lock.lock();
            const auto waited = Clock::now() - start;
            audio_.player->lock.unlock();
            t_counting = true;
            audio_fill_block(audio_, AudioBlockTarget{stream_.data(), kLargestBlock * 8, frames},
                             synth_render);
            t_counting = false;
            ++callbacks_;
            const auto us = static_cast<uint64_t>(ms(waited) * 1000.0);
            uint64_t seen = longest_wait_us_.load();
            while (us > seen && !longest_wait_us_.compare_exchange_weak(seen, us)) {
            }
            next += period;
            std::this_thread::sleep_until(next);
        }
    }

    AudioOutput audio_;
    std::vector<float> stream_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> longest_wait_us_{0};
    std::atomic<uint64_t> callbacks_{0};
    std::thread thread_;
};

// The stream sizes its scratch buffer when it starts; do the same here.
void CallbackThread::prepare_scratch(AudioOutput& audio) {
    audio_output_prepare_scratch(audio);
}

bool load_or_exit(Player& player, const std::string& path) {
    if (!load_song(player, path.c_str())) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), player.status_text);
        std::exit(1);
    }
    return true;
}

} // namespace

int main() {
    constexpr uint32_t kBigEvents = 5000000;
    const std::string big = temp_song("big", song_gen::many_events_song(kBigEvents));
    const std::string longer = temp_song("long", song_gen::dense_song(600));
    auto player = std::make_unique<Player>();
    synth_init(*player, kRate);
    load_or_exit(*player, longer);
    start_playback(*player);

    double idle = 0.0, loading = 0.0, seeking = 0.0;
    double load_time = 0.0;
    uint64_t callbacks = 0;
    {
        CallbackThread callback(*player);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        idle = callback.take_longest_wait_ms();

        constexpr int kLoads = 3;
        for (int i = 0; i < kLoads; ++i) {
            const auto start = Clock::now();
            load_or_exit(*player, big);
            load_time = std::max(load_time, ms(Clock::now() - start));
            start_playback(*player); // the callback renders the big song between loads
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        loading = callback.take_longest_wait_ms();

        load_or_exit(*player, longer);
        start_playback(*player);
        callback.take_longest_wait_ms();
        song_gen::Lcg rng{99};
        for (int i = 0; i < 100; ++i) {
            seek_fraction(*player, static_cast<double>(rng.next() % 1000000) / 1e6);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        seeking = callback.take_longest_wait_ms();
        callbacks = callback.callbacks();
    }
    std::remove(big.c_str());
    std::remove(longer.c_str());

    std::printf("audio callback against the main thread, %d Hz, one callback per %u frames\n",
                kRate, kPeriodFrames);
    std::printf("longest wait for the Player lock:\n");
    std::printf("  nothing else running:                  %8.3f ms\n", idle);
    std::printf("  load_song of %u events (%.0f ms each): %8.3f ms\n", kBigEvents, load_time,
                loading);
    std::printf("  100 seeks in a 10-minute song:         %8.3f ms\n", seeking);
    std::printf("heap calls inside the callback over %llu callbacks of 256-4096 frames:\n",
                static_cast<unsigned long long>(callbacks));
    std::printf("  malloc/calloc/realloc %llu, operator new %llu\n",
                static_cast<unsigned long long>(g_c_calls.load()),
                static_cast<unsigned long long>(g_new_calls.load()));
    return 0;
}
