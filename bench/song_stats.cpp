// Plays a song through the engine one frame at a time, as velta-render does at 44100 Hz, and
// prints the figures that say whether it mixes well: length, peak, RMS, clipped samples, the
// longest near-silent stretch before the last event, and the most voices sounding at once.
// Usage: song_stats FILE.mid
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "synth/synth.h"

namespace {
constexpr int32_t kRate = 44100;
constexpr int kSilence = 64; // below about -54 dBFS on both sides counts as silent
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: song_stats FILE.mid\n");
        return 1;
    }
    auto player = std::make_unique<Player>();
    synth_init(*player, kRate);
    if (!load_song(*player, argv[1])) {
        std::fprintf(stderr, "song_stats: %s\n", player->status_text);
        return 2;
    }
    start_playback(*player);
    const Song& song = player->song;
    const uint64_t last_event = !song.events.empty() ? song.events.back().time : 0;

    uint64_t frames = 0, clipped = 0, gap = 0, longest_gap = 0, longest_gap_end = 0;
    int peak = 0, most_voices = 0;
    double sum_of_squares = 0.0;
    for (;;) {
        int16_t frame[2] = {0, 0};
        std::lock_guard guard(player->lock);
        if (!synth_render(*player, frame, 1)) break;
        int voices = 0;
        for (const Voice& voice : player->synth.voices)
            voices += voice.active ? 1 : 0;
        most_voices = std::max(most_voices, voices);
        bool silent = true;
        for (int16_t sample : frame) {
            const int magnitude = std::abs(int(sample));
            peak = std::max(peak, magnitude);
            clipped += magnitude >= 32767 ? 1 : 0;
            sum_of_squares += double(sample) * sample;
            silent = silent && magnitude < kSilence;
        }
        ++frames;
        gap = silent ? gap + 1 : 0;
        if (gap > longest_gap && frames <= last_event) {
            longest_gap = gap;
            longest_gap_end = frames;
        }
        if (player->active == 0) break;
    }
    std::printf("length %.2f s (%llu frames at %d Hz; last event at %.2f s)\n",
                double(frames) / kRate, static_cast<unsigned long long>(frames), kRate,
                double(last_event) / kRate);
    std::printf("peak %d (%.2f dBFS), clipped samples %llu\n", peak,
                20.0 * std::log10(std::max(peak, 1) / 32767.0),
                static_cast<unsigned long long>(clipped));
    const double rms = std::sqrt(sum_of_squares / std::max<double>(1.0, 2.0 * frames));
    std::printf("rms %.0f (%.2f dBFS)\n", rms, 20.0 * std::log10(std::max(rms, 1.0) / 32767.0));
    std::printf("longest silence before the last event %.3f s (ending at %.2f s)\n",
                double(longest_gap) / kRate, double(longest_gap_end) / kRate);
    std::printf("most voices at once %d of 46\n", most_voices);
    return 0;
}
