// Everything the audio thread shares with the main thread, guarded by `lock`.
#pragma once

#include <cstdint>
#include <mutex>

#include "song/song.h"
#include "synth/synth_state.h"

constexpr size_t kPathCapacity = 4096;
constexpr size_t kStatusCapacity = 256;

struct Player {
    std::mutex lock; // built once; lives as long as the Player
    SynthState synth;
    Song song;
    uint64_t position = 0; // next frame to render
    uint64_t cursor = 0;   // next event to dispatch
    int32_t active = 0;
    int32_t paused = 0;
    int32_t output_rate = 0;
    char song_path[kPathCapacity] = {};
    char status_text[kStatusCapacity] = {};
};

// Replaces the status text, cutting it at 255 characters. Caller holds `lock`.
void player_set_status(Player& player, const char* text) noexcept;
