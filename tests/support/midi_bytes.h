// Builds Standard MIDI File bytes for the tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/song_gen.h"

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes be32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

inline Bytes vlq(uint32_t v) {
    Bytes out;
    song_gen::put_vlq(out, v);
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
    song_gen::write_file(path, bytes);
    return path;
}
