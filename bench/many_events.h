// A large many-track file for timing the reader and the load under the audio lock.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/song_gen.h"

namespace song_gen {

// 16 tracks of notes, controllers and pitch bends with running status, tempo changes in the
// first track: `channel_events` channel messages in all. A large file for timing the reader.
inline std::vector<uint8_t> many_events_song(uint32_t channel_events) {
    constexpr int kTracks = 16;
    std::mt19937 random(2024);
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, kTracks, 0x01, 0xE0};
    for (int track = 0; track < kTracks; ++track) {
        std::vector<uint8_t> data;
        const uint32_t count = channel_events / kTracks + (track < int(channel_events % kTracks));
        const auto channel = static_cast<uint8_t>(track);
        uint8_t running = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (track == 0 && i % 500 == 0) {
                data.push_back(0);
                const uint32_t tempo = 300000 + random() % 400000;
                for (uint8_t byte : {0xFF, 0x51, 3})
                    data.push_back(byte);
                for (int shift = 16; shift >= 0; shift -= 8)
                    data.push_back(static_cast<uint8_t>(tempo >> shift));
                running = 0;
            }
            put_vlq(data, random() % 4 == 0 ? 0 : random() % 240);
            const uint32_t pick = random() % 10;
            uint8_t status = pick < 7 ? (i % 2 ? 0x80 : 0x90) : pick < 9 ? 0xB0 : 0xE0;
            status |= channel;
            if (status != running) data.push_back(status);
            running = status;
            data.push_back(static_cast<uint8_t>(random() % 128));
            data.push_back(static_cast<uint8_t>(random() % 128));
        }
        for (uint8_t byte : {0, 0xFF, 0x2F, 0})
            data.push_back(byte);
        for (uint8_t byte : {'M', 'T', 'r', 'k'})
            file.push_back(byte);
        for (int shift = 24; shift >= 0; shift -= 8)
            file.push_back(static_cast<uint8_t>(data.size() >> shift));
        file.insert(file.end(), data.begin(), data.end());
    }
    return file;
}

} // namespace song_gen
