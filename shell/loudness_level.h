// Loudness levelling: each song loaded is measured in the background at the current settings
// and played at the gain that brings it to -18 LUFS; until then at the gain measured before for
// the same file (a cache in the user's state folder) or at unity.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AppState;
struct LoudnessJob;

// One measured file: which file (its path, size and modification time) at which settings.
struct LoudnessEntry {
    std::string path;
    int64_t size = 0;
    int64_t mtime_ns = 0;
    int32_t rate = 0;
    int32_t instrument_set = 0;
    double gain_db = 0.0;
};

inline constexpr size_t kLoudnessCacheLimit = 1000;

// Oldest first; one entry per path.
struct LoudnessCache {
    std::vector<LoudnessEntry> entries;
};

// The entry for this very file (same path, size and modification time), or null.
const LoudnessEntry* loudness_cache_find(const LoudnessCache& cache, const std::string& path,
                                         int64_t size, int64_t mtime_ns);
// Replaces the path's entry, as the newest; the oldest go beyond kLoudnessCacheLimit.
void loudness_cache_put(LoudnessCache& cache, LoudnessEntry entry);
// A missing or unreadable file is an empty cache; broken groups are skipped.
LoudnessCache loudness_cache_load_from(const char* path);
bool loudness_cache_save_to(const char* path, const LoudnessCache& cache, int& error_number);

// The request being measured, and the finished measurements shared with the worker.
struct LoudnessLevel {
    LoudnessCache cache;
    bool cache_loaded = false;
    std::string cache_path; // empty: <user state dir>/velta/loudness.ini
    std::unique_ptr<LoudnessJob> job;
    std::shared_ptr<LoudnessCache> job_cache; // the worker's copy, with its entry once done
    LoudnessEntry running;                    // what the job measures
    LoudnessEntry wanted;                     // what should be measured next, when `pending`
    bool pending = false;
    uint32_t poll_id = 0;

    LoudnessLevel();
    LoudnessLevel(const LoudnessLevel&) = delete;
    LoudnessLevel& operator=(const LoudnessLevel&) = delete;
    ~LoudnessLevel(); // cancels and waits for the measurement
};

// Main thread, after a song is swapped in or the settings changed: with levelling on, sets the
// gain known for the loaded song (or unity) and measures it unless that gain was measured at
// the current settings; with levelling off, back to unity.
void loudness_level_song(AppState& app);

// Main thread: takes a finished measurement and starts the one waiting. The poll timer calls
// it; tests call it until loudness_level_busy is false.
void loudness_level_poll(AppState& app);
bool loudness_level_busy(const AppState& app);
