// What comes back at the next start: the last song and where it stood (when no file is named),
// the mutes and the volume. A key file in the user's state folder, written a second after a
// change and at quit, on a worker so that the disk never stalls the window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "shell/song_loader.h"

struct AppState;

struct RememberedState {
    std::string song_path; // empty: none
    double position_seconds = 0.0;
    uint16_t mutes = 0; // channel 0 lowest
    double volume = 1.0;
    // The queue in its order (the song above is its current one), repeat and shuffle.
    std::vector<std::string> queue;
    std::string repeat = "off";
    bool shuffle = false;
    // Not written: lets a look compare the queue without copying it.
    uint64_t queue_revision = 0;

    bool operator==(const RememberedState&) const = default;
};

// $XDG_STATE_HOME/velta/state.ini
std::string remembered_state_file();
// What `file` holds; any value missing or out of range keeps its default, an unreadable file
// gives all of them.
RememberedState remembered_state_read(const char* file);
bool remembered_state_write(const char* file, const RememberedState& state, int& error_number);

// The keeper's own record, in AppState.
struct StateKeeper {
    bool enabled = false;  // the window's instance restored from it; others never write it
    uint32_t timer_id = 0; // the pending write
    RememberedState last;  // what was seen at the last look
    bool last_playing = false;
    bool last_active = false;
    int64_t last_look_us = 0;
    RememberedState restored; // read at activation
    std::thread writer;
    std::atomic<bool> writing{false};

    StateKeeper() = default;
    StateKeeper(const StateKeeper&) = delete;
    StateKeeper& operator=(const StateKeeper&) = delete;
    ~StateKeeper(); // waits for a write in flight
};

// Activation: reads the file and puts the mutes, the volume, repeat and shuffle into effect; the
// song comes with load_first_song. From here on the instance keeps the file.
void restore_remembered_state(AppState& app);
// The remembered queue and song, if there is one that can be read, loading at its position;
// gone songs are left out. False when the demo song is to be loaded instead.
bool load_remembered_song(AppState& app, AfterLoad after);
// What the file would hold now; empty song when none is loaded from a file. The queue's
// paths only `with_queue`.
RememberedState current_state(AppState& app, bool with_queue = true);
// Main thread, often (the redraw tick): a changed song, transport, mute, volume or a seek arms
// the write for a second later; a later change moves it on. Playing alone changes nothing.
void watch_remembered_state(AppState& app);
// At quit: writes now and waits for it.
void save_remembered_state(AppState& app);
