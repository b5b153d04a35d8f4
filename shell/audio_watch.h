// Keeps the sound going across a PipeWire daemon that dies, restarts or starts late: a
// main-loop timer notices the loss and starts the output again until it succeeds.
#pragma once

#include <cstdint>

struct AppState;

constexpr const char* kAudioRestoredText = "PipeWire output restored";
constexpr const char* kPlayingWithoutOutputText = "Playing (no PipeWire output)";
constexpr uint32_t kAudioRetryIntervalMs = 2000;
// A playing stream that has asked for no block for this long is reported as not responding.
constexpr int64_t kAudioStallUs = 2000000;

// Starts the output at the preferred rate; on failure sets audio_failed and the status text.
// Returns whether it started. Main thread, without the Player lock.
bool start_audio(AppState& app);

// One look at the output: a lost stream is reported and torn down; a missing one is started
// again. Starting never waits for the daemon, so this never blocks the main loop for long.
void audio_watch_tick(AppState& app);

// After a Play: with no output running the transport runs all the same (the song sounds once
// the output returns), and "Playing" becomes kPlayingWithoutOutputText.
void note_play_without_output(AppState& app);

// Runs audio_watch_tick every kAudioRetryIntervalMs on the default main context.
void start_audio_watch(AppState& app);
void stop_audio_watch(AppState& app);
