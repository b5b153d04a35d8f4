// A seek in three steps, so its half-second pre-roll renders without the Player lock and the
// audio thread keeps playing the old place meanwhile. seek_fraction and seek_frame run all
// three; tests run them apart.
#pragma once

#include <cstdint>

#include "synth/noise.h"
#include "synth/synth_state.h"
#include "synth/tables.h"

struct Player;
struct Song;

// Large (some 70 KB): allocate it, and before taking the lock.
struct SeekJob {
    SynthState synth;
    NoiseGenerator noise;
    const Song* song = nullptr;
    uint64_t generation = 0;
    uint64_t target = 0;
    bool preroll = false;
    uint64_t position = 0;
    uint64_t cursor = 0;
    bool finished = false; // the pre-roll ran into the end of the song
    // For the swap: the generator's draws before the pre-roll, how to move the shared one on
    // past the pre-roll's draws, and for each voice the draw (1 = the pre-roll's first) that
    // gave its noise value, 0 if none did.
    uint64_t noise_start = 0;
    NoiseGenerator::Skip noise_skip;
    uint64_t voice_draw[kVoiceCount] = {};
    NoiseGenerator::Leap voice_leap[kVoiceCount];
    bool uploaded[kWaveSlots] = {}; // user-waveform slots the seek's events wrote
};

// Caller holds the lock. Copies what the seek starts from. `preroll` false only dispatches up
// to the target, as a transport that is not running does.
void seek_begin(Player& player, uint64_t target, bool preroll, SeekJob& job) noexcept;
// Without the lock: touches only the job and reads its song (see Player::generation).
void seek_render(SeekJob& job) noexcept;
// Caller holds the lock. Swaps the result in, leaving the transport's state and the status
// text alone, and returns true; or, when a song was installed or released since seek_begin,
// changes nothing and returns false. The result is what the whole seek done here at once
// would give, whatever the audio thread has rendered since seek_begin.
bool seek_finish(Player& player, const SeekJob& job) noexcept;
