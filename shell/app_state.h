// The one application record, owned by main for the whole process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/pipewire_output.h"
#include "export/export_job.h"
#include "prefs/preferences.h"
#include "sequencer/player.h"
#include "shell/loudness_level.h"
#include "shell/play_queue.h"
#include "shell/remembered_state.h"
#include "shell/song_loader.h"
#include "shell/song_words.h"

// Same declarations as the toolkit's own headers, so this record needs none of them.
typedef struct _GtkApplication GtkApplication;
typedef struct _GtkApplicationWindow GtkApplicationWindow;
typedef struct _GtkDrawingArea GtkDrawingArea;
typedef struct _cairo_surface cairo_surface_t;
typedef struct _GActionGroup GActionGroup;

// The application's identity on the desktop and the session bus.
inline constexpr const char* kApplicationId = "io.github.velta.Velta";

// Large (Player, two path buffers): keep it in one place and never copy it.
struct AppState {
    GtkApplication* application = nullptr;
    GtkApplicationWindow* window = nullptr;
    GtkDrawingArea* surface = nullptr;
    GActionGroup* actions = nullptr; // where every command is activated (ui/actions.h)
    cairo_surface_t* skin = nullptr;
    cairo_surface_t* atlas = nullptr;
    Preferences prefs;
    Player player;
    AudioOutput audio;
    char resource_dir[kPathCapacity] = {};
    char initial_song_path[kPathCapacity] = {}; // empty when none was named
    // Set when the named song's path cannot be used (too long, not a local file): activation
    // then reports it instead of opening a cut path or falling back to the demo song.
    int32_t initial_song_unusable = 0;
    // Remembered so activation can repeat the message after its own load replaces it.
    int32_t audio_failed = 0;
    double view_scale = 0.0;
    double view_offset_x = 0.0;
    double view_offset_y = 0.0;
    int32_t seek_drag_active = 0;
    uint32_t redraw_timer_id = 0;
    // Work of the main thread that follows the redraw timer (progress texts, desktop
    // notifications); runs before each repaint is queued.
    void (*tick_hook)(AppState& app) = nullptr;
    // The background WAV export; it joins its worker when the record goes.
    ExportJob export_job;
    // Songs being read; declared after the Player, so it goes first and joins its workers.
    SongLoader loader;
    // The songs to play in turn; its scans are joined before the loader's.
    PlayQueue queue;
    // The files named on the command line of the first launch, for activation to queue.
    std::vector<std::string> initial_files;
    // Loudness levelling: its measurement and the cache of measured songs.
    LoudnessLevel loudness;
    // Set by --play: the first song starts playing once loaded.
    int32_t play_on_open = 0;
    struct MprisService* mpris = nullptr; // null without a session bus
    // Told by the seek actions once they have moved the position (the desktop's Seeked).
    void (*seeked_hook)(AppState& app) = nullptr;
    // Told on the main thread once a requested song has been swapped in or refused.
    void (*loaded_hook)(AppState& app) = nullptr;
    uint32_t audio_watch_id = 0; // retries the sound output while it is down
    // The watch's view of a running stream: blocks seen, when that count last moved (monotonic
    // microseconds), and whether the status says it has stopped asking.
    uint64_t audio_blocks_seen = 0;
    int64_t audio_blocks_moved_us = 0;
    int32_t audio_stalled = 0;
    // The master volume, a linear amplitude from 0 to 1 (the `volume` action's state).
    double volume = 1.0;
    // The desktop kept from suspending while a song plays: asked once per start of playing
    // (without a session manager the cookie stays 0).
    int32_t inhibit_asked = 0;
    uint32_t inhibit_cookie = 0;
    StateKeeper state_keeper;
    // The words of the Player's song, decoded; made anew whenever its song is swapped.
    SongWords words;

    AppState() = default;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;
};
