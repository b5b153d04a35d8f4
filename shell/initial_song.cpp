#include "shell/initial_song.h"

#include <cmath>
#include <cstring>
#include <gio/gio.h>

#include "audio/audio_status.h"
#include "shell/app_state.h"
#include "shell/play_queue.h"
#include "shell/resources.h"
#include "sequencer/load_song.h"

bool copy_song_path(char (&out)[kPathCapacity], const char* path) {
    out[0] = '\0';
    if (path == nullptr) return false;
    const size_t length = strnlen(path, kPathCapacity);
    if (length == 0 || length >= kPathCapacity) return false;
    copy_bounded(out, path);
    return true;
}

bool song_path_from_file(char (&out)[kPathCapacity], GFile* file) {
    out[0] = '\0';
    if (file == nullptr) return false;
    gchar* path = g_file_get_path(file);
    const bool usable = copy_song_path(out, path);
    g_free(path);
    return usable;
}

void remember_initial_song(AppState& app, GFile* file) {
    app.initial_song_unusable = song_path_from_file(app.initial_song_path, file) ? 0 : 1;
}

void remember_initial_files(AppState& app, GFile** files, int count) {
    app.initial_files.clear();
    char path[kPathCapacity];
    for (int n = 0; n < count; ++n) {
        if (!song_path_from_file(path, files[n])) continue;
        if (app.initial_files.empty()) copy_bounded(app.initial_song_path, path);
        app.initial_files.emplace_back(path);
    }
    app.initial_song_unusable = count > 0 && app.initial_files.empty() ? 1 : 0;
}

void load_first_song(AppState& app, AfterLoad after) {
    if (app.initial_song_unusable != 0) {
        player_set_status(app.player, kMidiOpenFailedText);
        return;
    }
    if (!app.initial_files.empty()) {
        QueueOpen how;
        how.first_song = after == AfterLoad::kPlay ? FirstSong::kPlay : FirstSong::kStay;
        how.activation = true;
        queue_open(app, app.initial_files, how);
        return;
    }
    if (app.initial_song_path[0] == '\0' && load_remembered_song(app, after)) return;
    char demo[kPathCapacity];
    const char* path = app.initial_song_path;
    if (path[0] == '\0') path = demo_song_path(demo, app.resource_dir) ? demo : nullptr;
    if (path != nullptr) request_song(app, path, after, true);
}

int32_t redraw_interval_ms(int32_t fps) {
    if (fps > 60) fps = 60;
    if (fps < 1) fps = 1;
    long interval = std::lround(1000.0 / fps);
    if (interval < 1) interval = 1;
    if (interval > 1000) interval = 1000;
    return static_cast<int32_t>(interval);
}
