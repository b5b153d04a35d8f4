#include "sequencer/player.h"

#include <algorithm>

#include "synth/synth.h"

void synth_init(Player& player, int32_t rate) {
    // The mutex is built with the Player and outlives every re-initialisation, so everything
    // but the lock is reset member by member instead of wiping the record's bytes.
    player.song = Song{};
    player.position = 0;
    player.cursor = 0;
    player.active = false;
    player.paused = false;
    player.output_rate = rate;
    ++player.generation;
    std::fill(std::begin(player.song_path), std::end(player.song_path), '\0');
    std::fill(std::begin(player.status_text), std::end(player.status_text), '\0');
    synth_setup(player.synth, rate);
    player_set_status(player, "Ready (VELTA236 synth tables loaded)");
}

void player_set_status(Player& player, const char* text) noexcept {
    copy_bounded(player.status_text, text);
}
