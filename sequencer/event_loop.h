#pragma once

#include <cstdint>

struct Player;
struct Playhead;

// Renders up to `frames` stereo int16 frames into `out` (zeroed by the caller), dispatching
// song events on their exact frames between rendered stretches. Returns true when any frames
// were processed; stops the transport with "Finished" at the end of the song.
// Caller holds the Player lock. Never allocates, locks or does I/O.
bool synth_render(Player& player, int16_t* out, uint32_t frames) noexcept;

struct RenderOutcome {
    bool processed = false; // any frames rendered
    bool finished = false;  // the song is over: synth_render stops the transport
};
// The same on any playhead, leaving the transport to the caller.
RenderOutcome playhead_render(const Playhead& head, int16_t* out, uint32_t frames) noexcept;
