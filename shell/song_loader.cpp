#include "shell/song_loader.h"

#include <atomic>
#include <string>
#include <system_error>
#include <thread>

#include <glib.h>

#include "audio/audio_status.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "shell/app_state.h"
#include "shell/audio_watch.h"
#include "shell/loudness_level.h"
#include "shell/play_queue.h"
#include "shell/resources.h"
#include "shell/song_words.h"
#include "song/midi_reader.h"
#include "song/song.h"
#include "song/song_loop.h"

// One file read on its own thread. The worker writes the result fields, then `done`; the main
// thread reads them only after seeing `done` and joining.
struct LoadTask {
    uint64_t ticket = 0;
    std::string path;
    int32_t rate = 0;
    int32_t song_loops = 0;
    AfterLoad after = AfterLoad::kStay;
    bool first = false;
    LoadOptions options;
    Song song;
    const char* failure = nullptr;
    std::atomic<bool> done{false};
    std::thread worker;
};

namespace {

// Often enough that a load feels immediate; the timer runs only while a task exists.
constexpr guint kPollIntervalMs = 15;

gboolean on_poll(gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    collect_loaded_songs(app);
    if (!app.loader.tasks.empty()) return G_SOURCE_CONTINUE;
    app.loader.poll_id = 0;
    return G_SOURCE_REMOVE;
}

void read_in_background(LoadTask& task) {
    int error_number = 0;
    task.failure = read_song_file(task.path.c_str(), task.rate, task.song, error_number);
    if (task.failure == nullptr) unroll_song_loop(task.song, task.song_loops);
    task.done.store(true, std::memory_order_release);
}

void install(AppState& app, LoadTask& task) {
    // An engine restarted for another rate meanwhile needs the song timed anew.
    if (player_transport(app.player).rate != task.rate) {
        request_song(app, task.path.c_str(), task.after, task.first, task.options);
        return;
    }
    char demo[kPathCapacity];
    if (task.failure != nullptr && task.options.demo_on_failure &&
        demo_song_path(demo, app.resource_dir)) {
        request_song(app, demo, task.after, task.first);
        return;
    }
    // A file the user opens and that fails leaves the song before it alone; the first song has
    // none before it and keeps the reader's bare text.
    const bool loaded =
        install_song(app.player, std::move(task.song), task.failure, task.path.c_str(),
                     task.first ? OnFailure::kClearSong : OnFailure::kKeepSong);
    refresh_song_words(app);
    if (loaded) loudness_level_song(app);
    if (loaded && task.after == AfterLoad::kPlay) {
        start_playback(app.player);
        note_play_without_output(app);
    }
    if (loaded && task.options.start_seconds > 0.0) {
        // Where it stood is no news: the status stays the load's.
        const std::string status = player_transport(app.player).status;
        seek_by(app.player, task.options.start_seconds);
        player_set_status(app.player, status.c_str());
    }
    if (loaded && task.first && app.audio_failed != 0)
        player_set_status(app.player, kAudioFailedText);
    queue_load_done(app, task.options.queue_entry, loaded, task.options.skip_on_failure);
    if (app.loaded_hook != nullptr) app.loaded_hook(app);
}

} // namespace

SongLoader::SongLoader() = default;

SongLoader::~SongLoader() {
    if (poll_id != 0) g_source_remove(poll_id);
    for (auto& task : tasks)
        if (task->worker.joinable()) task->worker.join();
}

void request_song(AppState& app, const char* path, AfterLoad after, bool first,
                  LoadOptions options) {
    auto task = std::make_unique<LoadTask>();
    task->ticket = ++app.loader.newest;
    task->path = path;
    task->rate = player_transport(app.player).rate;
    task->song_loops = player_song_loops(app.player);
    task->after = after;
    task->first = first;
    task->options = options;
    LoadTask& running = *task;
    app.loader.tasks.push_back(std::move(task));
    try {
        running.worker = std::thread(read_in_background, std::ref(running));
    } catch (const std::system_error&) {
        read_in_background(running); // no thread to be had: read it here rather than not at all
    }
    if (app.loader.poll_id == 0) app.loader.poll_id = g_timeout_add(kPollIntervalMs, on_poll, &app);
}

bool song_load_pending(const AppState& app) {
    return !app.loader.tasks.empty();
}

bool set_pending_after(AppState& app, AfterLoad after) {
    for (auto& task : app.loader.tasks) {
        if (task->ticket != app.loader.newest) continue;
        task->after = after;
        return true;
    }
    return false;
}

bool pending_plays(const AppState& app) {
    for (const auto& task : app.loader.tasks)
        if (task->ticket == app.loader.newest) return task->after == AfterLoad::kPlay;
    return false;
}

void collect_loaded_songs(AppState& app) {
    auto& tasks = app.loader.tasks;
    for (size_t n = 0; n < tasks.size();) {
        LoadTask& task = *tasks[n];
        if (!task.done.load(std::memory_order_acquire)) {
            ++n;
            continue;
        }
        if (task.worker.joinable()) task.worker.join();
        std::unique_ptr<LoadTask> finished = std::move(tasks[n]);
        tasks.erase(tasks.begin() + static_cast<std::ptrdiff_t>(n));
        if (finished->ticket == app.loader.newest) install(app, *finished);
    }
}
