// Helpers shared by the engine tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sequencer/player.h"
#include "song/song.h"
#include "synth/synth.h"

inline std::unique_ptr<Player> make_player(int32_t rate = 44100) {
    auto player = std::make_unique<Player>();
    synth_init(*player, rate);
    return player;
}

// Appends channel messages given as {frame, status, data1, data2}.
template <size_t N> void add_events(Song& song, const uint32_t (&rows)[N][4]) {
    for (const auto& [time, status, data1, data2] : rows)
        song.events.push_back({time, 0, 0, uint8_t(status), uint8_t(data1), uint8_t(data2)});
}

// FNV-1a 64, the golden checksums' hash (over PCM: little-endian samples).
inline uint64_t fnv1a(const void* data, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ static_cast<const uint8_t*>(data)[i]) * 0x100000001b3ull;
    return hash;
}
