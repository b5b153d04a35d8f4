// Everything the main window shows, copied out of the Player in one short locked pass so that
// painting never holds the lock.
#pragma once

#include <cstdint>

#include "sequencer/player.h"
#include "synth/channel_state.h"
#include "synth/tables.h"

constexpr int32_t kMaxVoicesShown = 6;

struct ChannelView {
    int32_t mute = 0;
    int32_t drum = 0;       // 0 or 1
    int32_t program = 0;    // 0 to 127
    int32_t volume = 0;     // 0 to 127
    int32_t expression = 0; // 0 to 127
    int32_t envelope = 0;   // 0 to 127, from the channel's last active voice
    int32_t level = 0;      // 0 to 127, from the channel's last active voice
    int32_t bank = 0;
    int32_t pan = 0; // 0 to 127
    int32_t sustain = 0;
    int32_t bend = 0;        // -8192 to 8191
    int32_t frequency = 0;   // Hz, 0 to 99999
    int32_t voice_count = 0; // 0 to kMaxVoicesShown
    int8_t wave[kWaveLength] = {};
    bool operator==(const ChannelView&) const = default;
};

struct DrawSnapshot {
    double position = 0.0; // frames
    double length = 0.0;   // frames; 0 without a song
    double tick = 0.0;
    double tempo_bpm = 0.0;
    int32_t rate = 0; // output frames per second
    int32_t active = 0;
    int32_t paused = 0;
    int32_t bpm_shown = 0;      // 0 to 999
    int32_t division_shown = 0; // 0 to 999
    char song_path[kPathCapacity] = {};
    char status_text[kStatusCapacity] = {};
    ChannelView channels[kChannelCount] = {};
    // Equal snapshots paint equal pictures.
    bool operator==(const DrawSnapshot&) const = default;
};

// Overwrites `out` entirely. Takes and releases `player.lock` itself; the caller must not hold it.
void take_draw_snapshot(Player& player, DrawSnapshot& out) noexcept;

// Song position in ticks and the tempo in force at `position` (frames), from the tempo map.
// Both are 0 without a tempo map, with a rate of 0 or a division of 0.
struct TickAndTempo {
    double tick = 0.0;
    double tempo_bpm = 0.0;
};
TickAndTempo tick_and_tempo_at(const Song& song, double position) noexcept;
