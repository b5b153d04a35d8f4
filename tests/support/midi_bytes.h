// Builds Standard MIDI File bytes for the tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes be32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

inline Bytes vlq(uint32_t v) {
    Bytes out{uint8_t(v & 0x7F)};
    while (v >>= 7)
        out.insert(out.begin(), uint8_t(0x80 | (v & 0x7F)));
    return out;
}

// An MThd chunk of the given length, padded with zeros (or cut) after the six standard bytes.
inline Bytes header(uint16_t tracks, uint16_t division, uint32_t length = 6) {
    Bytes h =
        Bytes{'M', 'T', 'h', 'd'} + be32(length) +
        Bytes{
            0, 1, uint8_t(tracks >> 8), uint8_t(tracks), uint8_t(division >> 8), uint8_t(division)};
    h.resize(8 + std::min<uint32_t>(length, 64), 0);
    return h;
}

inline Bytes chunk(const Bytes& data, const char* type = "MTrk") {
    return Bytes(type, type + 4) + be32(uint32_t(data.size())) + data;
}

// A file of the given division holding one chunk per track.
inline Bytes smf(uint16_t division, const std::vector<Bytes>& tracks) {
    Bytes file = header(uint16_t(tracks.size()), division);
    for (const Bytes& t : tracks)
        file = file + chunk(t);
    return file;
}

inline Bytes tempo_event(uint32_t delta, uint32_t tempo) {
    return vlq(delta) +
           Bytes{0xFF, 0x51, 3, uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)};
}

inline Bytes note_on(uint32_t delta, uint8_t key, uint8_t channel = 0) {
    return vlq(delta) + Bytes{uint8_t(0x90 | channel), key, 100};
}

inline const Bytes kEndOfTrack{0, 0xFF, 0x2F, 0};

inline std::string write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

// `beats` quarter notes at 120 bpm on channels 0 and 1 with a bend on each beat. No drums: their
// noise would depend on what the Player played before.
inline Bytes melody(int beats) {
    Bytes track{0, 0xC0, 10, 0, 0xC1, 80, 0, 0xB1, 10, 20};
    for (int beat = 0; beat < beats; ++beat) {
        const uint8_t note = uint8_t(60 + beat % 12), bass = uint8_t(note - 12);
        track = track + note_on(0, note) + note_on(0, bass, 1) +
                Bytes{48, 0xE1, 0, uint8_t(0x40 + beat % 16), 12, 0x80, note, 0, 36, 0x81, bass, 0};
    }
    return smf(96, {track + kEndOfTrack});
}
