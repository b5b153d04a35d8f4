// Reader plus engine: load the input, play, seek, render a short stretch, stop. Besides the
// sanitizers' reports, a loaded song without a tempo map, with events or texts out of order or
// texts outside their bounds, and a seek that leaves the position past the song's length, abort.
//
// The input is the song; its last three bytes also choose the seek fraction and the render
// block size, and whether a marked loop is unrolled (the fraction's lowest bit). The reader
// ignores bytes after the last track, so a valid file with a three-byte tail appended stays
// valid and the fuzzer can vary the tail on its own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "song/song.h"

namespace {

constexpr uint32_t kStretchFrames = 1024; // about 0.05 s at 22050 Hz
constexpr uint32_t kMaxBlockFrames = 1024;

// Set up once: building the synthesizer's tables costs far more than a typical input.
struct Engine {
    Player player;
    SynthState fresh;
    int16_t scratch[kMaxBlockFrames * 2];
    Engine() {
        synth_init(player, 22050);
        fresh = player.synth;
    }
};

// What every loaded song promises the engine: a tempo map to seek by, events in play order.
void check_loaded(const Song& song) {
    if (song.tempo_map.empty()) __builtin_trap();
    for (size_t i = 1; i < song.events.size(); ++i)
        if (song.events[i].time < song.events[i - 1].time) __builtin_trap();
    // The words: bounded, in time order, each inside the text pool.
    if (song.texts.size() > kSongTextCount || song.title.size() > kSongTextBytes ||
        song.copyright.size() > kSongTextBytes)
        __builtin_trap();
    for (size_t i = 0; i < song.texts.size(); ++i) {
        const SongText& text = song.texts[i];
        if (text.length > kSongTextBytes ||
            text.offset + uint64_t{text.length} > song.text_data.size())
            __builtin_trap();
        if (i > 0 && text.time < song.texts[i - 1].time) __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Engine* engine = new Engine;
    Player& player = engine->player;
    // Every input starts from the same synthesizer and noise, so a find replays on its own.
    player.synth = engine->fresh;
    player.noise = NoiseGenerator{};
    const uint8_t* tail = size >= 3 ? data + size - 3 : nullptr;
    const uint32_t block = tail ? 1 + (tail[1] | uint32_t{tail[2]} << 8) % kMaxBlockFrames : 256;
    player.song_loops = tail && (tail[0] & 1) != 0 ? 2 : 0;
    if (load_song_from_memory(player, data, size)) {
        check_loaded(player.song);
        start_playback(player);
        seek_fraction(player, tail ? tail[0] / 255.0 : 0.0);
        if (player.position > player.song.length_frames) __builtin_trap();
        for (uint32_t done = 0; done < kStretchFrames; done += block) {
            std::memset(engine->scratch, 0, sizeof engine->scratch);
            if (player.active && !player.paused)
                synth_render(player, engine->scratch, std::min(block, kStretchFrames - done));
        }
        stop_playback(player);
    }
    free_song(player.song);
    return 0;
}
