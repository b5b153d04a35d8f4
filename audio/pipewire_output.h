// The PipeWire playback stream that carries the synthesizer's output.
#pragma once

#include <cstdint>

#include <pipewire/pipewire.h>

struct Player;

struct AudioOutput {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook stream_listener = {};
    Player* player = nullptr;
    uint32_t rate = 0;
    int16_t* scratch = nullptr;
    uint64_t scratch_frames = 0;
};

// Main thread only, without the Player lock held.
bool audio_output_start(AudioOutput& audio, Player& player, uint32_t rate);
void audio_output_stop(AudioOutput& audio);
