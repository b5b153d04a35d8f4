// What the event loop moves through a song: the synthesizer, its noise and the place in the
// song. The audio thread works on the Player's own; a seek renders its pre-roll on copies.
#pragma once

#include <cstdint>

#include "sequencer/player.h"

struct Playhead {
    SynthState& synth;
    NoiseGenerator& noise;
    const Song& song;
    uint64_t& position; // next frame to render
    uint64_t& cursor;   // next event to dispatch
};

inline Playhead playhead_of(Player& player) noexcept {
    return {player.synth, player.noise, player.song, player.position, player.cursor};
}
