// Helpers shared by the engine tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sequencer/player.h"
#include "song/song.h"
#include "synth/synth.h"

inline std::unique_ptr<Player> make_player(int32_t rate = 44100) {
    auto player = std::make_unique<Player>();
    synth_init(*player, rate);
    return player;
}

inline void add_event(Song& song, uint64_t time, uint8_t status, uint8_t data1, uint8_t data2 = 0) {
    MidiEvent event;
    event.time = time;
    event.status = status;
    event.data1 = data1;
    event.data2 = data2;
    song.events.push_back(event);
}

// FNV-1a 64 over the samples as little-endian bytes: the golden checksums' hash.
inline uint64_t pcm_fnv1a(const std::vector<int16_t>& samples) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (int16_t sample : samples) {
        const auto value = static_cast<uint16_t>(sample);
        for (uint8_t byte : {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)}) {
            hash = (hash ^ byte) * 0x100000001b3ull;
        }
    }
    return hash;
}
