// The in-memory core of the MIDI reader: bytes of a Standard MIDI File in, a Song out.
#pragma once

#include <cstddef>
#include <cstdint>

struct Song;

// Parses a whole file image into `out` (which should be empty) with frame times for
// `output_rate`. Returns nullptr on success, else the user-facing failure text; `out` is
// left empty on failure. Never throws.
const char* parse_song(const uint8_t* data, size_t size, int32_t output_rate, Song& out);

// The same, but every allocation the parse makes is charged against `allocation_budget`
// bytes and fails once the budget is spent: lets tests reach each out-of-memory path.
const char* parse_song(const uint8_t* data, size_t size, int32_t output_rate, Song& out,
                       uint64_t allocation_budget);
