#pragma once

#include <cstdint>

struct Player;

// Each takes the Player lock itself.
void start_playback(Player& player);
void stop_playback(Player& player);
void toggle_pause(Player& player);
// Renders its pre-roll between two short holds of the lock (sequencer/seek.h).
void seek_fraction(Player& player, double fraction);
// Caller holds the Player lock.
void seek_frame(Player& player, uint64_t target);
