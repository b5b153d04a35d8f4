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

// An empty Song has every field zero and both arrays empty.
struct Song {
    std::vector<MidiEvent> events;
    uint64_t length_frames = 0;
    uint16_t division = 0;
    uint32_t rate = 0;
    std::vector<TempoPoint> tempo_map;
    // Payloads of all SysEx events, back to back; each starts with its introducing byte.
    std::vector<uint8_t> sysex_data;
};

inline const uint8_t* song_event_sysex(const Song& song, const MidiEvent& event) {
    return event.sysex_length == 0 ? nullptr : song.sysex_data.data() + event.sysex_offset;
}
