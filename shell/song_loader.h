// Songs read on worker threads and swapped into the Player on the main thread, so that no file,
// however large, stalls the window or the sound. The newest request wins: a song still being
// read when another is asked for is dropped once it is done.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct AppState;
struct LoadTask;

enum class AfterLoad { kStay, kPlay };

// How a remembered song comes back: where it stood, and the demo song instead, without a word,
// when it no longer loads.
struct LoadOptions {
    double start_seconds = 0.0;
    bool demo_on_failure = false;
    // The queue entry being loaded (0: a song from outside the queue), and whether a failure
    // skips on to the next entry rather than keeping the song before.
    uint64_t queue_entry = 0;
    bool skip_on_failure = false;
};

struct SongLoader {
    std::vector<std::unique_ptr<LoadTask>> tasks; // in flight or done, not yet collected
    uint64_t newest = 0;                          // ticket of the latest request
    uint32_t poll_id = 0;                         // main-loop timer while tasks exist

    SongLoader();
    SongLoader(const SongLoader&) = delete;
    SongLoader& operator=(const SongLoader&) = delete;
    ~SongLoader(); // waits for the workers and drops their songs
};

// Starts reading `path` for the Player's output rate. `first`: the activation's first song,
// which puts the sound output's failure back on the status line once it has loaded.
void request_song(AppState& app, const char* path, AfterLoad after, bool first = false,
                  LoadOptions options = {});

// True while a requested song has not been swapped in (or refused) yet.
bool song_load_pending(const AppState& app);

// What the newest pending request does once it has loaded: Play pressed while a song is still
// being read plays it when it arrives, Stop takes that back. False when nothing is pending.
bool set_pending_after(AppState& app, AfterLoad after);

// True when the newest pending request plays once loaded.
bool pending_plays(const AppState& app);

// Main thread: swaps in the newest finished song, if it is still the newest request, and
// frees what is stale. The loader's timer calls it; tests call it until nothing is pending.
void collect_loaded_songs(AppState& app);
