#pragma once

#include <cstdint>

struct Player;

// Applies every song event due at or before `frame`. Caller holds the Player lock.
void dispatch_events(Player& player, uint64_t frame) noexcept;
