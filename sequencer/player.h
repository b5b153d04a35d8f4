// Everything the audio thread shares with the main thread, guarded by `lock`.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "base/bounded_text.h"
#include "song/song.h"
#include "synth/noise.h"
#include "synth/synth_state.h"

constexpr size_t kStatusCapacity = 256;

struct Player {
    std::mutex lock; // built once; lives as long as the Player
    SynthState synth;
    // Built with the Player and never reset, so one engine plays exactly the noise it always
    // has, and two engines do not disturb each other's.
    NoiseGenerator noise;
    Song song;
    uint64_t position = 0; // next frame to render
    uint64_t cursor = 0;   // next event to dispatch
    bool active = false;
    bool paused = false;
    bool ended = false; // stopped by the end of the song: the next Play starts from the top
    int32_t output_rate = 0;
    // Extra passes of a marked loop, then a fade, for the songs loaded from now on (0: as
    // written). A setting like the mutes: synth_init leaves it.
    int32_t song_loops = 0;
    // Bumped whenever a song is installed or released (load_song, free_song, synth_init). A
    // seek reads `song` without the lock between taking its copy and swapping the result in,
    // and drops the result when this has changed. That is safe because songs are installed
    // and freed only on the main thread, where the seek runs from start to swap: a loader on
    // another thread may parse, but must leave the swap to the main thread.
    uint64_t generation = 0;
    // While a channel is soloed: which (0 to 15, else -1), and the mutes from before, which a
    // second solo of it restores. Any other change of the mutes forgets them.
    int32_t solo_channel = -1;
    uint16_t mutes_before_solo = 0;
    char song_path[kPathCapacity] = {};
    char status_text[kStatusCapacity] = {};
};

// Clears everything but the lock, the noise generator and song_loops, then sets up the synthesizer
// for `rate`. Called without the lock while no audio thread runs.
void synth_init(Player& player, int32_t rate);

// Replaces the status text, cutting it at 255 characters. Caller holds `lock`.
void set_status_locked(Player& player, const char* text) noexcept;

// What the layers above the engine read of the Player: one copy taken under the lock, so
// none of them touches its fields.
struct TransportState {
    bool loaded = false; // a song with events is installed
    bool active = false;
    bool paused = false;
    bool ended = false;         // stopped by the song's end
    uint64_t position = 0;      // frames
    uint64_t length_frames = 0; // the loaded song's length
    int32_t rate = 0;           // the output rate the synthesizer runs at
    std::string path;           // empty for a song from memory or none
    std::string status;
};

// The operations of the layers above. Each takes `lock` itself: call them without it.
TransportState player_transport(Player& player);
void player_set_status(Player& player, const char* text);
// Inverts the mute flag of MIDI channel `channel` (0 to 15); false for another number.
bool player_toggle_mute(Player& player, int32_t channel);
// Every channel's mute flag, bit n for channel n; and setting them all from such a mask.
uint16_t player_mutes(Player& player);
// Mutes every channel but `channel` (0 to 15), remembering the mutes; for the soloed channel
// again, puts the remembered ones back. False for another number.
bool player_solo(Player& player, int32_t channel);
void player_set_mutes(Player& player, uint16_t mutes);
// The instrument set to use, by the preferences' number; returns the set in effect.
int32_t player_select_instrument_set(Player& player, int32_t set_number);
// The channels' fixed detune on or off, from the next note on (the preference "Auto Detune").
void player_set_auto_detune(Player& player, bool on);
// The extra passes of a marked loop for the songs loaded from now on (the preference "Song
// loops"); the song playing stays as it was loaded.
void player_set_song_loops(Player& player, int32_t extra_passes);
int32_t player_song_loops(Player& player);
// Releases the song, leaving the transport stopped with none.
void player_release_song(Player& player);
