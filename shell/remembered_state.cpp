#include "shell/remembered_state.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>

#include "audio/pipewire_output.h"
#include "base/atomic_file.h"
#include "sequencer/player.h"
#include "shell/app_state.h"
#include "shell/play_queue.h"

namespace {

constexpr const char* kGroup = "State";
// A change is written this long after it, unless another follows.
constexpr guint kWriteDelayMs = 1000;
// While playing, a position further than this from where playing alone would have taken it is
// a seek.
constexpr double kSeekSlackSeconds = 1.5;

std::string key_file_text(const RememberedState& state) {
    GKeyFile* file = g_key_file_new();
    // As a URI: the key file wants UTF-8, a file name need not be.
    gchar* uri = state.song_path.empty()
                     ? nullptr
                     : g_filename_to_uri(state.song_path.c_str(), nullptr, nullptr);
    g_key_file_set_string(file, kGroup, "song", uri != nullptr ? uri : "");
    g_key_file_set_double(file, kGroup, "position_seconds", state.position_seconds);
    g_key_file_set_integer(file, kGroup, "mutes", state.mutes);
    g_key_file_set_double(file, kGroup, "volume", state.volume);
    std::vector<gchar*> uris;
    for (const std::string& path : state.queue)
        if (gchar* entry = g_filename_to_uri(path.c_str(), nullptr, nullptr); entry != nullptr)
            uris.push_back(entry);
    g_key_file_set_string_list(file, kGroup, "queue", uris.data(), uris.size());
    for (gchar* entry : uris)
        g_free(entry);
    g_key_file_set_string(file, kGroup, "repeat", state.repeat.c_str());
    g_key_file_set_boolean(file, kGroup, "shuffle", state.shuffle);
    gsize length = 0;
    gchar* text = g_key_file_to_data(file, &length, nullptr);
    std::string out = text != nullptr ? std::string(text, length) : std::string();
    g_free(text);
    g_free(uri);
    g_key_file_free(file);
    return out;
}

bool write_text(const char* path, const std::string& text, int& error_number) {
    gchar* dir = g_path_get_dirname(path);
    bool saved = false;
    if (g_mkdir_with_parents(dir, 0700) != 0)
        error_number = errno != 0 ? errno : EIO;
    else
        saved = write_file_atomically(path, text.data(), text.size(), error_number);
    g_free(dir);
    return saved;
}

void join_writer(StateKeeper& keeper) {
    if (keeper.writer.joinable()) keeper.writer.join();
}

// A failed write says nothing: the state is a convenience, and the next change tries again.
void write_in_background(AppState& app) {
    StateKeeper& keeper = app.state_keeper;
    join_writer(keeper);
    const RememberedState state = current_state(app);
    if (state.song_path.empty()) return;
    keeper.writing.store(true);
    std::string text = key_file_text(state);
    std::string path = remembered_state_file();
    try {
        keeper.writer = std::thread([&keeper, text = std::move(text), path = std::move(path)] {
            int error_number = 0;
            write_text(path.c_str(), text, error_number);
            keeper.writing.store(false);
        });
    } catch (const std::system_error&) {
        keeper.writing.store(false);
    }
}

gboolean on_write_due(gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    StateKeeper& keeper = app.state_keeper;
    // A slow disk still busy with the last one: this one follows it.
    if (keeper.writing.load()) return G_SOURCE_CONTINUE;
    keeper.timer_id = 0;
    write_in_background(app);
    return G_SOURCE_REMOVE;
}

} // namespace

StateKeeper::~StateKeeper() {
    if (timer_id != 0) g_source_remove(timer_id);
    join_writer(*this);
}

std::string remembered_state_file() {
    gchar* path = g_build_filename(g_get_user_state_dir(), "velta", "state.ini", nullptr);
    std::string out = path;
    g_free(path);
    return out;
}

RememberedState remembered_state_read(const char* path) {
    RememberedState state;
    GKeyFile* file = g_key_file_new();
    if (g_key_file_load_from_file(file, path, G_KEY_FILE_NONE, nullptr)) {
        gchar* uri = g_key_file_get_string(file, kGroup, "song", nullptr);
        gchar* song = uri != nullptr ? g_filename_from_uri(uri, nullptr, nullptr) : nullptr;
        if (song != nullptr && song[0] != '\0' && strlen(song) < kPathCapacity)
            state.song_path = song;
        g_free(song);
        g_free(uri);
        GError* error = nullptr;
        const double position = g_key_file_get_double(file, kGroup, "position_seconds", &error);
        if (error == nullptr && std::isfinite(position) && position > 0.0)
            state.position_seconds = position;
        g_clear_error(&error);
        const gint mutes = g_key_file_get_integer(file, kGroup, "mutes", &error);
        if (error == nullptr && mutes >= 0 && mutes <= 0xFFFF)
            state.mutes = static_cast<uint16_t>(mutes);
        g_clear_error(&error);
        const double volume = g_key_file_get_double(file, kGroup, "volume", &error);
        if (error == nullptr && volume >= 0.0 && volume <= 1.0) state.volume = volume;
        g_clear_error(&error);
        gsize count = 0;
        if (gchar** uris = g_key_file_get_string_list(file, kGroup, "queue", &count, nullptr)) {
            for (gsize n = 0; n < count; ++n) {
                gchar* entry = g_filename_from_uri(uris[n], nullptr, nullptr);
                if (entry != nullptr && entry[0] != '\0' && strlen(entry) < kPathCapacity)
                    state.queue.emplace_back(entry);
                g_free(entry);
            }
            g_strfreev(uris);
        }
        gchar* repeat = g_key_file_get_string(file, kGroup, "repeat", nullptr);
        if (repeat != nullptr && repeat_mode_from_name(repeat)) state.repeat = repeat;
        g_free(repeat);
        const gboolean shuffle = g_key_file_get_boolean(file, kGroup, "shuffle", &error);
        if (error == nullptr) state.shuffle = shuffle != FALSE;
        g_clear_error(&error);
    }
    g_key_file_free(file);
    return state;
}

bool remembered_state_write(const char* path, const RememberedState& state, int& error_number) {
    return write_text(path, key_file_text(state), error_number);
}

void restore_remembered_state(AppState& app) {
    StateKeeper& keeper = app.state_keeper;
    keeper.restored = remembered_state_read(remembered_state_file().c_str());
    keeper.enabled = true;
    player_set_mutes(app.player, keeper.restored.mutes);
    app.volume = keeper.restored.volume;
    audio_output_set_volume(app.audio, static_cast<float>(app.volume));
    queue_set_repeat(app.queue, *repeat_mode_from_name(keeper.restored.repeat));
    queue_set_shuffle(app.queue, keeper.restored.shuffle);
}

bool load_remembered_song(AppState& app, AfterLoad after) {
    const RememberedState& state = app.state_keeper.restored;
    const bool song_there = !state.song_path.empty() &&
                            access(state.song_path.c_str(), R_OK) == 0 &&
                            g_file_test(state.song_path.c_str(), G_FILE_TEST_IS_REGULAR);
    if (!state.queue.empty()) {
        QueueOpen how;
        how.first_song = !song_there                 ? FirstSong::kNothing
                         : after == AfterLoad::kPlay ? FirstSong::kPlay
                                                     : FirstSong::kStay;
        how.activation = true;
        how.drop_missing = true;
        if (song_there) how.start_path = state.song_path;
        how.start_seconds = state.position_seconds;
        queue_open(app, state.queue, how);
        return song_there;
    }
    if (state.song_path.empty() || access(state.song_path.c_str(), R_OK) != 0 ||
        !g_file_test(state.song_path.c_str(), G_FILE_TEST_IS_REGULAR))
        return false;
    request_song(app, state.song_path.c_str(), after, true, {state.position_seconds, true});
    return true;
}

RememberedState current_state(AppState& app, bool with_queue) {
    const TransportState transport = player_transport(app.player);
    RememberedState state;
    if (transport.loaded) state.song_path = transport.path;
    if (transport.rate > 0)
        state.position_seconds = static_cast<double>(transport.position) / transport.rate;
    state.mutes = player_mutes(app.player);
    state.volume = app.volume;
    if (with_queue)
        for (const QueueEntry& entry : app.queue.entries)
            state.queue.push_back(entry.path);
    state.repeat = repeat_mode_name(app.queue.repeat);
    state.shuffle = app.queue.shuffle;
    state.queue_revision = app.queue.revision;
    return state;
}

void watch_remembered_state(AppState& app) {
    StateKeeper& keeper = app.state_keeper;
    if (!keeper.enabled) return;
    const TransportState transport = player_transport(app.player);
    const bool playing = transport.active && !transport.paused;
    const int64_t now_us = g_get_monotonic_time();
    RememberedState now = current_state(app, false);
    // Playing moves the position on its own; only a jump counts then.
    double expected = keeper.last.position_seconds;
    if (playing && keeper.last_playing) expected += (now_us - keeper.last_look_us) / 1e6;
    const bool seeked =
        std::fabs(now.position_seconds - expected) > (playing ? kSeekSlackSeconds : 1e-6);
    RememberedState compare = now;
    compare.position_seconds = keeper.last.position_seconds;
    const bool first_look = keeper.last_look_us == 0;
    const bool changed =
        !first_look && (seeked || compare != keeper.last || playing != keeper.last_playing ||
                        transport.active != keeper.last_active);
    keeper.last = now;
    keeper.last_playing = playing;
    keeper.last_active = transport.active;
    keeper.last_look_us = now_us;
    if (!changed) return;
    if (keeper.timer_id != 0) g_source_remove(keeper.timer_id);
    keeper.timer_id = g_timeout_add(kWriteDelayMs, on_write_due, &app);
}

void save_remembered_state(AppState& app) {
    StateKeeper& keeper = app.state_keeper;
    if (!keeper.enabled) return;
    if (keeper.timer_id != 0) g_source_remove(keeper.timer_id);
    keeper.timer_id = 0;
    join_writer(keeper);
    const RememberedState state = current_state(app);
    int error_number = 0;
    if (!state.song_path.empty())
        remembered_state_write(remembered_state_file().c_str(), state, error_number);
}
