// Standard MIDI Files from disk into Songs.
#pragma once

#include <cstdint>

struct Song;

inline constexpr const char* kMidiOpenFailedText = "Could not open MIDI file.";

// Reads and parses the file at `path` into `out` (which should be empty) with frame times for
// `output_rate`. Returns nullptr on success, else the user-facing failure text, with `out` left
// empty and `error_number` the errno of the system call that failed (0 when none did). A file
// named .kar is marked karaoke.
const char* read_song_file(const char* path, int32_t output_rate, Song& out, int& error_number);
void free_song(Song& song) noexcept;
