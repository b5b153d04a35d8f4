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
    player.ended = false;
    player.output_rate = rate;
    player.solo_channel = -1;
    player.mutes_before_solo = 0;
    ++player.generation;
    std::fill(std::begin(player.song_path), std::end(player.song_path), '\0');
    std::fill(std::begin(player.status_text), std::end(player.status_text), '\0');
    synth_setup(player.synth, rate);
    set_status_locked(player, "Ready (VELTA236 synth tables loaded)");
}

void set_status_locked(Player& player, const char* text) noexcept {
    copy_bounded(player.status_text, text);
}

TransportState player_transport(Player& player) {
    TransportState state;
    std::lock_guard guard(player.lock);
    state.loaded = !player.song.events.empty();
    state.active = player.active;
    state.paused = player.paused;
    state.ended = player.ended;
    state.position = player.position;
    state.length_frames = player.song.length_frames;
    state.rate = player.output_rate;
    state.path = player.song_path;
    state.status = player.status_text;
    return state;
}

void player_set_status(Player& player, const char* text) {
    std::lock_guard guard(player.lock);
    set_status_locked(player, text);
}

bool player_toggle_mute(Player& player, int32_t channel) {
    if (channel < 0 || channel >= kChannelCount) return false;
    std::lock_guard guard(player.lock);
    int32_t& mute = player.synth.channels[channel].mute;
    mute = mute == 0 ? 1 : 0;
    player.solo_channel = -1;
    return true;
}

namespace {

uint16_t mutes_locked(const Player& player) {
    uint16_t mutes = 0;
    for (int n = 0; n < kChannelCount; ++n)
        if (player.synth.channels[n].mute != 0) mutes = static_cast<uint16_t>(mutes | 1u << n);
    return mutes;
}

void set_mutes_locked(Player& player, uint16_t mutes) {
    for (int n = 0; n < kChannelCount; ++n)
        player.synth.channels[n].mute = (mutes >> n & 1u) != 0 ? 1 : 0;
}

} // namespace

uint16_t player_mutes(Player& player) {
    std::lock_guard guard(player.lock);
    return mutes_locked(player);
}

void player_set_mutes(Player& player, uint16_t mutes) {
    std::lock_guard guard(player.lock);
    set_mutes_locked(player, mutes);
    player.solo_channel = -1;
}

bool player_solo(Player& player, int32_t channel) {
    if (channel < 0 || channel >= kChannelCount) return false;
    std::lock_guard guard(player.lock);
    if (player.solo_channel == channel) {
        set_mutes_locked(player, player.mutes_before_solo);
        player.solo_channel = -1;
        return true;
    }
    // From one soloed channel to another, the mutes from before the first stay remembered.
    if (player.solo_channel < 0) player.mutes_before_solo = mutes_locked(player);
    set_mutes_locked(player, static_cast<uint16_t>(~(1u << channel)));
    player.solo_channel = channel;
    return true;
}

int32_t player_select_instrument_set(Player& player, int32_t set_number) {
    std::lock_guard guard(player.lock);
    return synth_select_instrument_set(player.synth, set_number);
}

void player_set_auto_detune(Player& player, bool on) {
    std::lock_guard guard(player.lock);
    synth_set_auto_detune(player.synth, on);
}

void player_release_song(Player& player) {
    Song old;
    {
        std::lock_guard guard(player.lock);
        old = std::move(player.song);
        player.song = Song{};
        player.position = 0;
        player.cursor = 0;
        player.active = false;
        player.paused = false;
        player.ended = false;
        player.song_path[0] = '\0';
        ++player.generation;
    }
}

void player_set_song_loops(Player& player, int32_t extra_passes) {
    std::lock_guard guard(player.lock);
    player.song_loops = extra_passes < 0 ? 0 : extra_passes;
}

int32_t player_song_loops(Player& player) {
    std::lock_guard guard(player.lock);
    return player.song_loops;
}
