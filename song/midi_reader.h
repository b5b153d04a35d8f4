#pragma once

struct Player;
struct Song;

// Replaces the Player's song with the file at `path`. Takes the Player lock itself.
// Returns true on success; the status text holds "Loaded MIDI" or the failure's message.
bool load_song(Player& player, const char* path);
void free_song(Song& song) noexcept;
