// Loading a song into the Player.
#pragma once

#include <cstddef>
#include <cstdint>

struct Player;
struct Song;

// Replaces the Player's song with the file at `path`. Reads and parses without the Player lock
// and takes it only to swap the song in, so the audio callback never waits on the file.
// Returns true on success; the status text holds "Loaded MIDI" or the failure's message, and
// `error_number` (when given) the errno behind a failure, or 0. Either way the transport ends
// stopped at the top. Callers must not hold the lock.
bool load_song(Player& player, const char* path, int* error_number = nullptr);

// The second half of load_song, for a song read elsewhere (on a worker thread): swaps `song` in
// under the lock, or on a `failure` text leaves no song and that text; the old song is freed
// after the lock is released. Callers must not hold the lock.
bool install_song(Player& player, Song&& song, const char* failure, const char* path);

// The same for a file image already in memory (tests, fuzzing); the song path becomes empty.
bool load_song_from_memory(Player& player, const uint8_t* data, size_t size);
