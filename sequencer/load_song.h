// Loading a song into the Player.
#pragma once

#include <cstddef>
#include <cstdint>

struct Player;
struct Song;

// Replaces the Player's song with the file at `path`, its marked loop unrolled as the Player's
// song_loops asks. Reads and parses without the Player lock
// and takes it only to swap the song in, so the audio callback never waits on the file.
// Returns true on success; the status text holds "Loaded MIDI" or the failure's message, and
// `error_number` (when given) the errno behind a failure, or 0. Either way the transport ends
// stopped at the top. Callers must not hold the lock.
bool load_song(Player& player, const char* path, int* error_number = nullptr);

// What a failed load does to the song before it.
enum class OnFailure {
    kClearSong, // no song, stopped at the top, the failure's text (velta-render, the export)
    kKeepSong,  // the song and transport as they were; "NAME: TEXT" with the file's base name
};

// The second half of load_song, for a song read elsewhere (on a worker thread): swaps `song` in
// under the lock, or on a `failure` text does what `on_failure` says; the old song is freed
// after the lock is released. Callers must not hold the lock.
bool install_song(Player& player, Song&& song, const char* failure, const char* path,
                  OnFailure on_failure = OnFailure::kClearSong);

// The same for a file image already in memory (tests, fuzzing); the song path becomes empty.
bool load_song_from_memory(Player& player, const uint8_t* data, size_t size);
