#pragma once

#include <cstdint>
#include <optional>

struct Player;

// Each takes the Player lock itself.
// A stopped transport plays from where it was sought to, from the top after "Finished" or Stop.
void start_playback(Player& player);
void stop_playback(Player& player);
void toggle_pause(Player& player);
// Renders its pre-roll between two short holds of the lock (sequencer/seek.h).
void seek_fraction(Player& player, double fraction);
// The same to a frame (limited to the song's length), leaving the status text alone.
void seek_to_frame(Player& player, uint64_t frame);
// The Space key's and the desktop's play/pause: pauses or resumes a running transport,
// starts a stopped one.
void play_or_pause(Player& player);
// Seeks `seconds` from the current position (negative: back), stopping at the start or the
// end. False, doing nothing, without a song or for a NaN.
bool seek_by(Player& player, double seconds);
// The frame `seconds` away from `position`, limited to 0 and `length_frames`; empty when there
// is nothing to seek in (no length, no rate, a NaN step).
std::optional<uint64_t> seek_by_target(uint64_t position, uint64_t length_frames, int32_t rate,
                                       double seconds);
// Caller holds the Player lock.
void seek_frame(Player& player, uint64_t target);
