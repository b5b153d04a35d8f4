// Times loading a large song (read, parse, sort, schedule) and measures the peak memory it
// takes. Usage: bench_reader [--keep FILE.mid]  (--keep leaves the generated file behind, e.g.
// for timing `velta-render --dump FILE.mid > /dev/null`).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "bench/many_events.h"
#include "tests/support/song_gen.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "song/midi_parse.h"
#include "song/midi_reader.h"
#include "song/song.h"
#include "synth/synth.h"

// Counts live heap bytes so the peak of a load can be measured exactly.
namespace {
std::atomic<size_t> g_live{0};
std::atomic<size_t> g_peak{0};
constexpr size_t kHeader = 16; // keeps the user block 16-byte aligned

void* counted_alloc(size_t size) noexcept {
    void* block = std::malloc(size + kHeader);
    if (block == nullptr) return nullptr;
    *static_cast<size_t*>(block) = size;
    size_t live = g_live.fetch_add(size) + size;
    size_t peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char*>(block) + kHeader;
}

void counted_free(void* p) noexcept {
    if (p == nullptr) return;
    void* block = static_cast<char*>(p) - kHeader;
    g_live.fetch_sub(*static_cast<size_t*>(block));
    std::free(block);
}
} // namespace

void* operator new(size_t size) {
    if (void* p = counted_alloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    if (void* p = counted_alloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return counted_alloc(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return counted_alloc(size);
}
void operator delete(void* p) noexcept {
    counted_free(p);
}
void operator delete[](void* p) noexcept {
    counted_free(p);
}
void operator delete(void* p, size_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, size_t) noexcept {
    counted_free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    counted_free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    counted_free(p);
}

namespace {

using Bytes = std::vector<uint8_t>;

double milliseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char** argv) {
    constexpr uint32_t kEvents = 1000000;
    constexpr int kRuns = 7;
    std::string keep = argc == 3 && std::string(argv[1]) == "--keep" ? argv[2] : "";

    Bytes file = song_gen::many_events_song(kEvents);
    std::filesystem::path path =
        keep.empty() ? std::filesystem::temp_directory_path() /
                           ("velta-bench-reader-" + std::to_string(getpid()) + ".mid")
                     : std::filesystem::path(keep);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));

    auto player = std::make_unique<Player>();
    synth_init(*player, 44100);

    std::vector<double> load_ms, parse_ms;
    size_t load_peak = 0;
    for (int run = 0; run < kRuns; ++run) {
        {
            std::lock_guard<std::mutex> guard(player->lock);
            free_song(player->song);
        }
        size_t baseline = g_live.load();
        g_peak.store(baseline);
        auto start = std::chrono::steady_clock::now();
        bool ok = load_song(*player, path.c_str());
        load_ms.push_back(milliseconds_since(start));
        load_peak = g_peak.load() - baseline;
        if (!ok) {
            std::fprintf(stderr, "bench_reader: load failed: %s\n", player->status_text);
            return 1;
        }

        Song song;
        start = std::chrono::steady_clock::now();
        parse_song(file.data(), file.size(), 44100, song);
        parse_ms.push_back(milliseconds_since(start));
    }
    std::sort(load_ms.begin(), load_ms.end());
    std::sort(parse_ms.begin(), parse_ms.end());

    const Song& song = player->song;
    size_t song_bytes = song.events.capacity() * sizeof(MidiEvent) +
                        song.tempo_map.capacity() * sizeof(TempoPoint) + song.sysex_data.capacity();
    double median_load = load_ms[kRuns / 2];
    std::printf("reader: %u channel events in 16 tracks, %zu tempo points, file %.1f MB\n",
                unsigned(song.events.size()), size_t(song.tempo_map.size()), file.size() / 1e6);
    std::printf("  load_song (read+parse+sort+schedule): median %.1f ms, best %.1f ms, "
                "%.1f M events/s\n",
                median_load, load_ms[0], song.events.size() / median_load / 1000.0);
    std::printf("  parse_song from memory:               median %.1f ms, best %.1f ms\n",
                parse_ms[kRuns / 2], parse_ms[0]);
    std::printf("  peak heap during load_song: %.1f MB; final Song %.1f MB; file %.1f MB\n",
                load_peak / 1e6, song_bytes / 1e6, file.size() / 1e6);
    std::printf("  peak / (4 x Song + file) = %.2f (goal < 1), load goal 150 ms: %s\n",
                double(load_peak) / double(4 * song_bytes + file.size()),
                median_load < 150.0 ? "met" : "MISSED");
    if (keep.empty())
        std::filesystem::remove(path);
    else
        std::printf("  kept %s\n", path.c_str());
    return 0;
}
