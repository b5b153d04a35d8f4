// One song rendered into a 16-bit stereo WAV stream: the path velta-render and the window's
// export share, so the two cannot write different files for the same settings.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>

#include "sequencer/player.h"
#include "synth/channel_state.h"

struct WavRenderSettings {
    int32_t rate = 44100;
    int32_t instrument_set = 0;
    bool auto_detune = true; // false: no fixed detune per channel
    int32_t song_loops = 0;  // extra passes of a marked loop, then a fade; 0 as written
    uint32_t block_frames = 1024;
    bool seek_given = false;
    double seek_fraction = 0.0;
    // Infinity renders to the song's end (up to what a WAV file can hold).
    double max_seconds = std::numeric_limits<double>::infinity();
    // Index 0 is MIDI channel 1; a muted channel is silenced as the window's mute lamps do.
    std::array<bool, kChannelCount> muted = {};
};

// A player with the song loaded and the transport running at the requested place.
struct WavRenderer {
    std::unique_ptr<Player> player = std::make_unique<Player>();
    uint32_t rate = 0;
    uint64_t limit_frames = 0;
    uint64_t song_frames = 0;
    uint32_t block_frames = 1024;
};

// Loads `path` into a fresh player set up from `settings`. On failure the player's status text
// holds the reason and `error_number` the errno behind it (or 0).
bool wav_render_load(WavRenderer& renderer, const WavRenderSettings& settings, const char* path,
                     int& error_number);

struct WavRenderControl {
    const std::atomic<bool>* cancel = nullptr;
    // 0-99 while rendering; the caller says when it is complete.
    std::atomic<int32_t>* percent = nullptr;
    // Called about once per second of output with the frames written so far.
    std::function<void(uint64_t frames)> on_progress;
    // Scales the PCM as the synthesizer makes it (clipped to +-32767, rounded to nearest even);
    // 1 writes the rendered samples untouched.
    float gain = 1.0f;
};

enum class WavRenderResult { kDone, kWriteFailed, kCancelled };

struct WavRenderOutcome {
    WavRenderResult result = WavRenderResult::kDone;
    int error_number = 0; // behind kWriteFailed
    uint64_t frames = 0;
};

// Streams the WAV into `out` (left open). When `out` is a regular file it can seek back in,
// the header gets its final sizes; otherwise both size fields stay 0xFFFFFFFF ("unknown").
WavRenderOutcome wav_render_write(WavRenderer& renderer, FILE* out,
                                  const WavRenderControl& control);
