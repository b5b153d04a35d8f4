// The loaded song: every track merged into one frame-timed event list, plus the tempo map.
#pragma once

#include <cstdint>
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

// An empty Song has every field zero and both arrays empty.
struct Song {
    std::vector<MidiEvent> events;
    uint64_t length_frames = 0;
    uint16_t division = 0;
    uint32_t rate = 0;
    std::vector<TempoPoint> tempo_map;
    // Payloads of all SysEx events, back to back; each starts with its introducing byte.
    std::vector<uint8_t> sysex_data;
    SongLoop loop;
    // The fade-out that ends an unrolled song, 0 for none: the gain falls from 1 at
    // length_frames - fade_frames to 0 at length_frames, where the song stops.
    uint64_t fade_frames = 0;
};

inline const uint8_t* song_event_sysex(const Song& song, const MidiEvent& event) {
    return event.sysex_length == 0 ? nullptr : song.sysex_data.data() + event.sysex_offset;
}
