#include "shell/initial_song.h"

#include <cmath>
#include <cstring>
#include <gio/gio.h>

#include "audio/audio_status.h"
#include "shell/app_state.h"
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

void load_first_song(AppState& app) {
    bool failed = false;
    if (app.initial_song_unusable != 0) {
        player_set_status(app.player, kMidiOpenFailedText);
        failed = true;
    } else if (app.initial_song_path[0] == '\0') {
        failed = !load_default_song(app);
    } else {
        failed = !load_song(app.player, app.initial_song_path);
    }
    if (app.audio_failed != 0 && !failed) player_set_status(app.player, kAudioFailedText);
}

int32_t redraw_interval_ms(int32_t fps) {
    if (fps > 60) fps = 60;
    if (fps < 1) fps = 1;
    long interval = std::lround(1000.0 / fps);
    if (interval < 1) interval = 1;
    if (interval > 1000) interval = 1000;
    return static_cast<int32_t>(interval);
}
