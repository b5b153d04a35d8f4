// The loaded song: every track merged into one frame-timed event list, the tempo map, and the
// words the file carries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct MidiEvent {
    uint64_t time = 0;         // output frames from the song start
    uint64_t sysex_offset = 0; // into Song::sysex_data, SysEx events only
    uint64_t sysex_length = 0; // 0 when the event carries no SysEx payload
    uint8_t status = 0;        // 0x80-0xEF, or 0xF0 for every SysEx event
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

struct TempoPoint {
    uint64_t frame = 0;
    uint32_t tick = 0;
    uint32_t tempo = 0; // microseconds per quarter note
};

// The stretch a file marks for repeating: from the first CC 111 or "loopStart" marker to a
// "loopEnd" marker, else to the end of the longest track.
struct SongLoop {
    bool marked = false;
    uint32_t start_tick = 0;
    uint32_t end_tick = 0;
    uint64_t start_frame = 0;
    uint64_t end_frame = 0;
};

// A text (0x01) or lyric (0x05) meta event, in the order it sounds; its bytes are as in the
// file, in whatever encoding that used.
struct SongText {
    uint64_t time = 0;   // output frames, as for a MidiEvent at its tick
    uint32_t offset = 0; // into Song::text_data
    uint32_t length = 0;
    uint16_t track = 0;
    uint8_t type = 0; // 0x01 text, 0x05 lyric
};

inline constexpr uint8_t kMetaText = 0x01;
inline constexpr uint8_t kMetaLyric = 0x05;
// What the reader keeps of a song's words; beyond these a hostile file only loses text.
inline constexpr uint32_t kSongTextBytes = 1024; // per text, title and copyright; longer is cut
inline constexpr uint32_t kSongTextCount = 32768;

// An empty Song has every field zero and all arrays and texts empty.
struct Song {
    std::vector<MidiEvent> events;
    uint64_t length_frames = 0;
    uint16_t division = 0;
    uint32_t rate = 0;
    std::vector<TempoPoint> tempo_map;
    // Payloads of all SysEx events, back to back; each starts with its introducing byte.
    std::vector<uint8_t> sysex_data;
    // The song's words, raw bytes: the first track's first track name, the first copyright.
    std::string title;
    std::string copyright;
    std::vector<SongText> texts;
    std::string text_data; // every kept text's bytes, back to back
    // A karaoke file: named .kar, or a text event opens with "@KMIDI KARAOKE FILE".
    bool karaoke = false;
    SongLoop loop;
    // The fade-out that ends an unrolled song, 0 for none: the gain falls from 1 at
    // length_frames - fade_frames to 0 at length_frames, where the song stops.
    uint64_t fade_frames = 0;
};

inline std::string_view song_text_bytes(const Song& song, const SongText& text) {
    return std::string_view(song.text_data).substr(text.offset, text.length);
}

inline const uint8_t* song_event_sysex(const Song& song, const MidiEvent& event) {
    return event.sysex_length == 0 ? nullptr : song.sysex_data.data() + event.sysex_offset;
}
