// A folder of 10,000 songs queued as a drop would: the time to the first song playing, to the
// whole queue read (titles and lengths), and the main loop's longest stall meanwhile.
//   bench_queue [SONGS]    (default 10000, in a temporary folder that is removed afterwards)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <glib.h>

#include "sequencer/player.h"
#include "shell/app_state.h"
#include "shell/play_queue.h"
#include "synth/synth.h"

namespace {

// One track: a name, then sixty-four short notes (a few kilobytes, as typical songs are).
std::string small_song(int number) {
    std::string track;
    const std::string name = "Song number " + std::to_string(number);
    track += std::string("\x00\xff\x03", 3) + static_cast<char>(name.size()) + name;
    for (int n = 0; n < 64; ++n) {
        const char note = static_cast<char>(48 + n % 24);
        track += std::string("\x00\x90", 2) + note + '\x60';
        track += std::string("\x83\x60\x80", 3) + note + '\x00';
    }
    track += std::string("\x00\xff\x2f\x00", 4);
    std::string file("MThd\0\0\0\6\0\0\0\1\1\xe0MTrk", 18);
    for (int shift = 24; shift >= 0; shift -= 8)
        file += static_cast<char>((track.size() >> shift) & 0xff);
    return file + track;
}

struct Watch {
    AppState* app;
    GMainLoop* loop;
    int64_t start_us;
    int64_t last_us;
    int64_t worst_gap_us = 0;
    int64_t first_playing_us = -1;
};

gboolean on_tick(gpointer data) {
    auto& watch = *static_cast<Watch*>(data);
    const int64_t now = g_get_monotonic_time();
    if (now - watch.last_us > watch.worst_gap_us) watch.worst_gap_us = now - watch.last_us;
    watch.last_us = now;
    if (watch.first_playing_us < 0 && player_transport(watch.app->player).active)
        watch.first_playing_us = now - watch.start_us;
    if (watch.first_playing_us >= 0 && !queue_scan_pending(*watch.app)) {
        g_main_loop_quit(watch.loop);
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    gchar* temp = g_dir_make_tmp("velta-bench-queue-XXXXXX", nullptr);
    if (temp == nullptr || count <= 0) return 1;
    const std::filesystem::path folder = temp;
    g_free(temp);
    // A hundred folders of a hundred songs, as a music collection would be.
    for (int n = 0; n < count; ++n) {
        const std::filesystem::path dir = folder / ("album " + std::to_string(n / 100));
        std::filesystem::create_directories(dir);
        std::ofstream(dir / ("track " + std::to_string(n % 100 + 1) + ".mid"), std::ios::binary)
            << small_song(n);
    }
    auto app = std::make_unique<AppState>();
    synth_init(app->player, 44100);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    Watch watch{app.get(), loop, g_get_monotonic_time(), g_get_monotonic_time()};
    QueueOpen how;
    how.first_song = FirstSong::kPlay;
    queue_open(*app, {folder.string()}, how);
    const int64_t asked_us = g_get_monotonic_time() - watch.start_us;
    g_timeout_add(1, on_tick, &watch);
    g_main_loop_run(loop);
    const int64_t whole_us = g_get_monotonic_time() - watch.start_us;
    size_t ready = 0;
    for (const QueueEntry& entry : app->queue.entries)
        ready += entry.info_ready ? 1 : 0;
    printf("songs queued          %zu (%zu read)\n", app->queue.entries.size(), ready);
    printf("queue_open returned   %.1f ms\n", asked_us / 1000.0);
    printf("first song playing    %.1f ms\n", watch.first_playing_us / 1000.0);
    printf("whole queue read      %.1f ms\n", whole_us / 1000.0);
    printf("longest main-loop gap %.1f ms\n", watch.worst_gap_us / 1000.0);
    g_main_loop_unref(loop);
    app.reset();
    std::filesystem::remove_all(folder);
    return 0;
}
