// The demo song the build generates from its score: it loads, has the length and the features
// it is meant to show, and stays byte for byte what the score produced when it was checked in.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "engine_support.h"
#include "sequencer/load_song.h"

namespace {

// Change on purpose together with resources/demo/final-bowser.score or make_song.py.
constexpr uint64_t kDemoSongFnv1a = 0xce0a87512ebc0a44ull;

uint64_t fnv1a(const std::vector<char>& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (char byte : bytes) {
        hash ^= uint8_t(byte);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

bool sysex_starts_with(const Song& song, const MidiEvent& event, std::vector<uint8_t> prefix) {
    const uint8_t* data = song_event_sysex(song, event);
    return data && event.sysex_length >= prefix.size() &&
           std::memcmp(data, prefix.data(), prefix.size()) == 0;
}

} // namespace

TEST(DemoSong, GeneratedFileLoadsAndShowsTheSynthesizer) {
    const std::string path = VELTA_BINARY_DIR "/share/velta/final-bowser.mid";
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path << " was not generated";
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(fnv1a(bytes), kDemoSongFnv1a) << std::hex << fnv1a(bytes);

    auto player = make_player(44100);
    ASSERT_TRUE(load_song(*player, path.c_str())) << player->status_text;
    std::lock_guard guard(player->lock);
    const Song& song = player->song;
    const double seconds = double(song.length_frames) / song.rate;
    EXPECT_GE(seconds, 60.0);
    EXPECT_LE(seconds, 120.0);

    struct Feature {
        const char* name;
        bool (*found)(const Song&, const MidiEvent&);
    };
    const Feature features[] = {
        {"user waveform upload",
         [](const Song& s, const MidiEvent& e) {
             return e.sysex_length >= 40 &&
                    sysex_starts_with(s, e, {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF1});
         }},
        {"user waveform mode on",
         [](const Song& s, const MidiEvent& e) {
             return sysex_starts_with(s, e, {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF0, 0, 0, 1});
         }},
        {"user waveform mode off",
         [](const Song& s, const MidiEvent& e) {
             return sysex_starts_with(s, e, {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF0, 0, 0, 0});
         }},
        {"drum note",
         [](const Song&, const MidiEvent& e) { return e.status == 0x99 && e.data2 > 0; }},
        {"pitch bend", [](const Song&, const MidiEvent& e) { return (e.status & 0xF0) == 0xE0; }},
    };
    for (const Feature& feature : features) {
        bool found = false;
        for (uint64_t i = 0; i < song.events.size() && !found; ++i)
            found = feature.found(song, song.events[i]);
        EXPECT_TRUE(found) << feature.name;
    }
    EXPECT_GE(song.tempo_map.size(), 3u) << "no tempo change";
}
