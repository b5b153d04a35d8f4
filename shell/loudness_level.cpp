#include "shell/loudness_level.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include "audio/pipewire_output.h"
#include "base/atomic_file.h"
#include "export/loudness.h"
#include "shell/app_state.h"

namespace {

// Often enough that a measured gain arrives soon after the worker ends.
constexpr guint kPollIntervalMs = 100;
// A song of hours would keep the worker busy for minutes; its first half hour is gain enough.
constexpr double kMeasureSeconds = 1800.0;

bool same_request(const LoudnessEntry& a, const LoudnessEntry& b) {
    return a.path == b.path && a.size == b.size && a.mtime_ns == b.mtime_ns && a.rate == b.rate &&
           a.instrument_set == b.instrument_set;
}

bool file_identity(const std::string& path, int64_t& size, int64_t& mtime_ns) {
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0) return false;
    size = info.st_size;
    mtime_ns = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

std::string cache_path(const LoudnessLevel& level) {
    if (!level.cache_path.empty()) return level.cache_path;
    gchar* path = g_build_filename(g_get_user_state_dir(), "velta", "loudness.ini", nullptr);
    std::string result = path;
    g_free(path);
    return result;
}

gboolean on_poll(gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    loudness_level_poll(app);
    if (loudness_level_busy(app)) return G_SOURCE_CONTINUE;
    app.loudness.poll_id = 0;
    return G_SOURCE_REMOVE;
}

// The worker measures with a copy of the cache and saves it with the new entry, so the file
// work stays off the main thread; the main thread takes the copy once the job is collected.
void start_job(AppState& app, const LoudnessEntry& request) {
    LoudnessLevel& level = app.loudness;
    level.job = std::make_unique<LoudnessJob>();
    level.running = request;
    WavRenderSettings settings;
    settings.rate = request.rate;
    settings.instrument_set = request.instrument_set;
    settings.max_seconds = kMeasureSeconds;
    auto cache = std::make_shared<LoudnessCache>(level.cache);
    level.job_cache = cache;
    std::string file = cache_path(level);
    loudness_job_start(*level.job, settings, request.path,
                       [request, cache, file](LoudnessJob& job) {
                           if (job.outcome != LoudnessOutcome::kDone) return;
                           LoudnessEntry entry = request;
                           entry.gain_db = loudness_gain_db(job.result);
                           loudness_cache_put(*cache, entry);
                           int error_number = 0;
                           loudness_cache_save_to(file.c_str(), *cache, error_number);
                       });
}

} // namespace

const LoudnessEntry* loudness_cache_find(const LoudnessCache& cache, const std::string& path,
                                         int64_t size, int64_t mtime_ns) {
    for (const LoudnessEntry& entry : cache.entries)
        if (entry.path == path && entry.size == size && entry.mtime_ns == mtime_ns) return &entry;
    return nullptr;
}

void loudness_cache_put(LoudnessCache& cache, LoudnessEntry entry) {
    auto& entries = cache.entries;
    std::erase_if(entries, [&](const LoudnessEntry& old) { return old.path == entry.path; });
    entries.push_back(std::move(entry));
    if (entries.size() > kLoudnessCacheLimit)
        entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(
                                                             entries.size() - kLoudnessCacheLimit));
}

LoudnessCache loudness_cache_load_from(const char* path) {
    LoudnessCache cache;
    GKeyFile* file = g_key_file_new();
    if (g_key_file_load_from_file(file, path, G_KEY_FILE_NONE, nullptr)) {
        gchar** groups = g_key_file_get_groups(file, nullptr);
        for (gchar** group = groups; *group != nullptr; ++group) {
            GError* error = nullptr;
            LoudnessEntry entry;
            gchar* song = g_key_file_get_string(file, *group, "path", &error);
            if (song != nullptr) entry.path = song;
            g_free(song);
            if (error == nullptr) entry.size = g_key_file_get_int64(file, *group, "size", &error);
            if (error == nullptr)
                entry.mtime_ns = g_key_file_get_int64(file, *group, "mtime_ns", &error);
            if (error == nullptr) entry.rate = g_key_file_get_integer(file, *group, "rate", &error);
            if (error == nullptr)
                entry.instrument_set = g_key_file_get_integer(file, *group, "set", &error);
            if (error == nullptr)
                entry.gain_db = g_key_file_get_double(file, *group, "gain_db", &error);
            if (error != nullptr || entry.path.empty() || !(entry.gain_db >= -120.0) ||
                !(entry.gain_db <= 120.0)) {
                g_clear_error(&error);
                continue;
            }
            loudness_cache_put(cache, std::move(entry));
        }
        g_strfreev(groups);
    }
    g_key_file_free(file);
    return cache;
}

bool loudness_cache_save_to(const char* path, const LoudnessCache& cache, int& error_number) {
    GKeyFile* file = g_key_file_new();
    for (size_t n = 0; n < cache.entries.size(); ++n) {
        const LoudnessEntry& entry = cache.entries[n];
        const std::string group = "song " + std::to_string(n);
        g_key_file_set_string(file, group.c_str(), "path", entry.path.c_str());
        g_key_file_set_int64(file, group.c_str(), "size", entry.size);
        g_key_file_set_int64(file, group.c_str(), "mtime_ns", entry.mtime_ns);
        g_key_file_set_integer(file, group.c_str(), "rate", entry.rate);
        g_key_file_set_integer(file, group.c_str(), "set", entry.instrument_set);
        g_key_file_set_double(file, group.c_str(), "gain_db", entry.gain_db);
    }
    gsize length = 0;
    gchar* text = g_key_file_to_data(file, &length, nullptr);
    g_key_file_free(file);
    gchar* dir = g_path_get_dirname(path);
    bool saved = false;
    if (g_mkdir_with_parents(dir, 0700) != 0) {
        error_number = errno != 0 ? errno : EIO;
    } else {
        saved = write_file_atomically(path, text, length, error_number);
    }
    g_free(dir);
    g_free(text);
    return saved;
}

LoudnessLevel::LoudnessLevel() = default;

LoudnessLevel::~LoudnessLevel() {
    if (poll_id != 0) g_source_remove(poll_id);
}

void loudness_level_song(AppState& app) {
    LoudnessLevel& level = app.loudness;
    const TransportState transport = player_transport(app.player);
    LoudnessEntry request;
    request.path = transport.path;
    request.rate = transport.rate;
    request.instrument_set = app.prefs.instrument_set;
    const bool known_file = app.prefs.loudness_levelling != 0 && transport.loaded &&
                            !request.path.empty() &&
                            file_identity(request.path, request.size, request.mtime_ns);
    if (!known_file) {
        audio_output_set_gain(app.audio, 1.0f);
        level.pending = false;
        if (level.job) level.job->cancel.store(true);
        return;
    }
    if (!level.cache_loaded) {
        level.cache = loudness_cache_load_from(cache_path(level).c_str());
        level.cache_loaded = true;
    }
    const LoudnessEntry* known =
        loudness_cache_find(level.cache, request.path, request.size, request.mtime_ns);
    audio_output_set_gain(app.audio, known != nullptr ? gain_from_db(known->gain_db) : 1.0f);
    const bool busy = level.job && loudness_job_busy(*level.job);
    if (busy && same_request(level.running, request) && !level.job->cancel.load()) {
        level.pending = false;
        return;
    }
    if (busy) level.job->cancel.store(true);
    level.pending = false;
    if (known != nullptr && same_request(*known, request)) return;
    // A cancelled job ends within a block; the new one starts when it has.
    if (busy) {
        level.wanted = request;
        level.pending = true;
    } else {
        start_job(app, request);
    }
    if (level.poll_id == 0) level.poll_id = g_timeout_add(kPollIntervalMs, on_poll, &app);
}

void loudness_level_poll(AppState& app) {
    LoudnessLevel& level = app.loudness;
    if (level.job && loudness_job_collect(*level.job)) {
        LoudnessJob& job = *level.job;
        if (job.outcome == LoudnessOutcome::kDone) {
            level.cache = std::move(*level.job_cache);
            if (!level.pending && !job.cancel.load())
                audio_output_set_gain(app.audio, gain_from_db(loudness_gain_db(job.result)));
        }
        level.job.reset();
        level.job_cache.reset();
    }
    if (!level.job && level.pending) {
        level.pending = false;
        start_job(app, level.wanted);
    }
}

bool loudness_level_busy(const AppState& app) {
    return app.loudness.job != nullptr || app.loudness.pending;
}
