#include "shell/play_queue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <unordered_set>
#include <utility>

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "shell/app_state.h"
#include "shell/resources.h"
#include "song/midi_reader.h"
#include "song/song.h"

struct SongInfo {
    std::string title;
    double length_seconds = 0.0;
};

// The worker writes `songs` before `listed` and each info before moving `infos_done` past it;
// the main thread reads them only after seeing those.
struct QueueScan {
    std::vector<std::string> paths;
    QueueOpen how;
    int32_t rate = 0;
    std::vector<std::string> songs;
    std::vector<SongInfo> infos;
    std::atomic<bool> listed{false};
    std::atomic<size_t> infos_done{0};
    std::atomic<bool> done{false};
    std::atomic<bool> cancel{false};
    std::thread worker;
    // Main thread only.
    bool taken = false;
    bool superseded = false;
    uint64_t first_id = 0;
    size_t infos_taken = 0;
};

namespace {

// Often enough that the panel fills in smoothly; runs only while scans exist.
constexpr guint kScanPollMs = 30;
// Infos taken per poll, so that a large folder never holds the main loop for long.
constexpr size_t kInfosPerPoll = 2000;
constexpr int32_t kInfoRate = 44100;
constexpr size_t kTitleBytes = 64 * 1024;
constexpr off_t kInfoMaxBytes = 16 * 1024 * 1024;

bool ends_with_case(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    name.remove_prefix(name.size() - suffix.size());
    for (size_t n = 0; n < suffix.size(); ++n)
        if (std::tolower(static_cast<unsigned char>(name[n])) != suffix[n]) return false;
    return true;
}

struct FolderKey {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderKey&) const = default;
};
struct FolderKeyHash {
    size_t operator()(const FolderKey& key) const {
        return std::hash<uint64_t>()(static_cast<uint64_t>(key.inode) * 31u +
                                     static_cast<uint64_t>(key.device));
    }
};

void list_folder(const std::string& folder, std::unordered_set<FolderKey, FolderKeyHash>& visited,
                 std::vector<std::string>& out, const std::atomic<bool>* cancel) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return;
    if (!visited.insert({info.st_dev, info.st_ino}).second) return;
    GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
    if (dir == nullptr) return;
    std::vector<std::string> names;
    while (const gchar* name = g_dir_read_name(dir))
        if (name[0] != '.') names.emplace_back(name);
    g_dir_close(dir);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return natural_compare(a, b) < 0; });
    for (const std::string& name : names) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return;
        std::string path = folder + G_DIR_SEPARATOR_S + name;
        struct stat entry {};
        if (stat(path.c_str(), &entry) != 0) continue;
        if (S_ISDIR(entry.st_mode))
            list_folder(path, visited, out, cancel);
        else if (S_ISREG(entry.st_mode) && is_song_name(name) && path.size() < kPathCapacity)
            out.push_back(std::move(path));
    }
}

uint32_t read_vlq(const uint8_t*& at, const uint8_t* end, bool& ok) {
    uint32_t value = 0;
    for (int n = 0; n < 4; ++n) {
        if (at >= end) break;
        const uint8_t byte = *at++;
        value = (value << 7) | (byte & 0x7Fu);
        if ((byte & 0x80u) == 0) return value;
    }
    ok = false;
    return 0;
}

// The first track name (meta event 3) of the first track, before its first note.
std::string first_track_name(const char* path) {
    // The name comes before the first note: the file's start is enough, however large it is.
    std::string name;
    std::vector<char> data(kTitleBytes);
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return name;
    const size_t size = fread(data.data(), 1, data.size(), file);
    fclose(file);
    const auto* at = reinterpret_cast<const uint8_t*>(data.data());
    const uint8_t* end = at + size;
    // Past the header chunk to the first track's.
    if (size >= 22 && memcmp(at, "MThd", 4) == 0) {
        const uint32_t header =
            (uint32_t{at[4]} << 24) | (uint32_t{at[5]} << 16) | (uint32_t{at[6]} << 8) | at[7];
        if (header <= size - 8 - 8 && memcmp(at + 8 + header, "MTrk", 4) == 0) {
            const uint8_t* track = at + 8 + header + 8;
            const uint32_t length = (uint32_t{track[-4]} << 24) | (uint32_t{track[-3]} << 16) |
                                    (uint32_t{track[-2]} << 8) | track[-1];
            const uint8_t* stop = track + std::min<size_t>(length, end - track);
            bool ok = true;
            uint8_t running = 0;
            for (at = track; ok && at < stop;) {
                read_vlq(at, stop, ok);
                if (!ok || at >= stop) break;
                uint8_t status = *at;
                if (status & 0x80u)
                    ++at;
                else
                    status = running;
                if (status == 0xFF) {
                    if (at >= stop) break;
                    const uint8_t type = *at++;
                    const uint32_t bytes = read_vlq(at, stop, ok);
                    if (!ok || bytes > static_cast<size_t>(stop - at)) break;
                    if (type == 0x03 && bytes > 0) {
                        name.assign(reinterpret_cast<const char*>(at), bytes);
                        break;
                    }
                    at += bytes;
                } else if (status == 0xF0 || status == 0xF7) {
                    const uint32_t bytes = read_vlq(at, stop, ok);
                    if (!ok || bytes > static_cast<size_t>(stop - at)) break;
                    at += bytes;
                } else if (status >= 0x80 && status < 0xF0) {
                    if ((status & 0xF0) == 0x90) break; // a note: the name would have come
                    running = status;
                    at += (status & 0xE0) == 0xC0 ? 1 : 2;
                } else {
                    break;
                }
            }
        }
    }
    // Names are often Latin-1; a title must be UTF-8.
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
        name.pop_back();
    if (!g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) {
        gchar* text = g_convert(name.data(), static_cast<gssize>(name.size()), "UTF-8",
                                "ISO-8859-1", nullptr, nullptr, nullptr);
        name = text != nullptr ? text : "";
        g_free(text);
    }
    return name;
}

void scan_in_background(QueueScan& scan) {
    // Its own copy: the main thread takes `songs` once it is listed.
    const std::vector<std::string> songs =
        list_songs(scan.paths, scan.how.drop_missing, &scan.cancel);
    scan.songs = songs;
    scan.infos.resize(songs.size());
    scan.listed.store(true, std::memory_order_release);
    for (size_t n = 0; n < songs.size(); ++n) {
        if (scan.cancel.load(std::memory_order_relaxed)) break;
        SongInfo& info = scan.infos[n];
        if (!read_song_info(songs[n].c_str(), scan.rate, info.title, info.length_seconds))
            info.title = display_title(songs[n]);
        scan.infos_done.store(n + 1, std::memory_order_release);
    }
    scan.done.store(true, std::memory_order_release);
}

gboolean on_scan_poll(gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    collect_queue_scans(app);
    if (!app.queue.scans.empty()) return G_SOURCE_CONTINUE;
    app.queue.poll_id = 0;
    return G_SOURCE_REMOVE;
}

int32_t position_of(const PlayQueue& queue, int32_t index) {
    const auto found = std::find(queue.order.begin(), queue.order.end(), index);
    return found == queue.order.end() ? -1 : static_cast<int32_t>(found - queue.order.begin());
}

// A new order: entry `first` (if any) leads, the rest shuffled when shuffling.
void draw_order(PlayQueue& queue, int32_t first) {
    const auto count = static_cast<int32_t>(queue.entries.size());
    queue.order.resize(static_cast<size_t>(count));
    for (int32_t n = 0; n < count; ++n)
        queue.order[static_cast<size_t>(n)] = n;
    if (!queue.shuffle) {
        queue.position = first;
        return;
    }
    std::shuffle(queue.order.begin(), queue.order.end(), queue.random);
    if (first >= 0) {
        std::iter_swap(queue.order.begin(), queue.order.begin() + position_of(queue, first));
        queue.position = 0;
    } else {
        queue.position = -1;
    }
}

bool music_playing(AppState& app) {
    const TransportState transport = player_transport(app.player);
    return (transport.active && !transport.paused) || pending_plays(app);
}

void request_entry(AppState& app, int32_t index, AfterLoad after, bool automatic,
                   bool activation = false, LoadOptions options = {}) {
    PlayQueue& queue = app.queue;
    queue_set_current(queue, index);
    options.queue_entry = queue.entries[static_cast<size_t>(index)].id;
    options.skip_on_failure = automatic;
    request_song(app, queue.entries[static_cast<size_t>(index)].path.c_str(), after, activation,
                 options);
}

void load_demo(AppState& app, AfterLoad after) {
    char demo[kPathCapacity];
    if (demo_song_path(demo, app.resource_dir)) request_song(app, demo, after, true);
}

// A scan just listed: its songs join the queue and the first of them loads as asked.
void take_listing(AppState& app, QueueScan& scan) {
    PlayQueue& queue = app.queue;
    scan.taken = true;
    const QueueOpen& how = scan.how;
    if (scan.songs.empty()) {
        if (how.activation)
            load_demo(app,
                      how.first_song == FirstSong::kPlay ? AfterLoad::kPlay : AfterLoad::kStay);
        return;
    }
    // Whether music plays is decided before the old song could be touched.
    const bool playing = how.first_song == FirstSong::kPlay ||
                         (how.first_song == FirstSong::kAsPlaying && music_playing(app));
    scan.first_id = queue.next_id;
    const int32_t first = queue_add(queue, std::move(scan.songs), how.append);
    if (how.first_song == FirstSong::kNothing) return;
    int32_t start = first;
    if (!how.start_path.empty()) {
        start = -1;
        for (size_t n = 0; n < queue.entries.size(); ++n)
            if (queue.entries[n].path == how.start_path) start = static_cast<int32_t>(n);
        if (start < 0) {
            // Not among the songs: the remembered song on its own, the demo song if it is gone.
            request_song(app, how.start_path.c_str(), playing ? AfterLoad::kPlay : AfterLoad::kStay,
                         how.activation, {how.start_seconds, true});
            return;
        }
    }
    if (!how.append && queue.shuffle) draw_order(queue, start);
    LoadOptions options;
    options.start_seconds = how.start_seconds;
    options.demo_on_failure = how.drop_missing;
    request_entry(app, start, playing ? AfterLoad::kPlay : AfterLoad::kStay, false, how.activation,
                  options);
}

void take_infos(PlayQueue& queue, QueueScan& scan, size_t budget) {
    const size_t ready =
        std::min(scan.infos_done.load(std::memory_order_acquire), scan.infos_taken + budget);
    if (ready == scan.infos_taken) return;
    int32_t index = queue_index_of(queue, scan.first_id + scan.infos_taken);
    for (; scan.infos_taken < ready; ++scan.infos_taken) {
        const uint64_t id = scan.first_id + scan.infos_taken;
        // Ids ascend with the entries, so the next one is usually the next entry.
        if (index < 0 || static_cast<size_t>(index) >= queue.entries.size() ||
            queue.entries[static_cast<size_t>(index)].id != id)
            index = queue_index_of(queue, id);
        if (index < 0) continue;
        QueueEntry& entry = queue.entries[static_cast<size_t>(index)];
        SongInfo& info = scan.infos[scan.infos_taken];
        entry.title = std::move(info.title);
        entry.length_seconds = info.length_seconds;
        entry.info_ready = true;
        ++index;
    }
    ++queue.revision;
}

} // namespace

PlayQueue::PlayQueue() = default;

PlayQueue::~PlayQueue() {
    if (poll_id != 0) g_source_remove(poll_id);
    for (auto& scan : scans)
        scan->cancel.store(true);
    for (auto& scan : scans)
        if (scan->worker.joinable()) scan->worker.join();
}

int natural_compare(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (std::isdigit(ca) && std::isdigit(cb)) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            // By value: leading zeros aside, the longer run is the larger number.
            size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0')
                ++si;
            while (sj + 1 < ej && b[sj] == '0')
                ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            if (const int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj)); c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const int la = std::tolower(ca), lb = std::tolower(cb);
        if (la != lb) return la < lb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool is_song_name(std::string_view name) {
    return ends_with_case(name, ".mid") || ends_with_case(name, ".midi") ||
           ends_with_case(name, ".kar");
}

std::vector<std::string> list_songs(const std::vector<std::string>& paths, bool drop_missing,
                                    const std::atomic<bool>* cancel) {
    std::vector<std::string> out;
    std::unordered_set<FolderKey, FolderKeyHash> visited;
    for (const std::string& path : paths) {
        if (path.empty() || path.size() >= kPathCapacity) continue;
        if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
            list_folder(path, visited, out, cancel);
        } else if (!drop_missing || (access(path.c_str(), R_OK) == 0 &&
                                     g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR))) {
            out.push_back(path); // named on its own: whatever its name, it is tried
        }
    }
    return out;
}

std::string display_title(const std::string& path) {
    gchar* name = g_filename_display_basename(path.c_str());
    std::string out = name;
    g_free(name);
    return out;
}

bool read_song_info(const char* path, int32_t rate, std::string& title, double& length_seconds) {
    // A huge song would be read twice at once when it is also the one loading; its length comes
    // when it is loaded instead.
    struct stat info {};
    if (stat(path, &info) == 0 && info.st_size > kInfoMaxBytes) {
        length_seconds = 0.0;
        title = first_track_name(path);
        if (title.empty()) title = display_title(path);
        return true;
    }
    Song song;
    int error_number = 0;
    if (rate <= 0) rate = kInfoRate;
    if (read_song_file(path, rate, song, error_number) != nullptr) return false;
    length_seconds = static_cast<double>(song.length_frames) / rate;
    title = first_track_name(path);
    if (title.empty()) title = display_title(path);
    return true;
}

int32_t queue_add(PlayQueue& queue, std::vector<std::string> paths, bool append) {
    if (!append) queue_clear(queue);
    if (paths.empty()) return -1;
    const auto first = static_cast<int32_t>(queue.entries.size());
    queue.entries.reserve(queue.entries.size() + paths.size());
    for (std::string& path : paths) {
        QueueEntry entry;
        entry.id = queue.next_id++;
        entry.title = display_title(path);
        entry.path = std::move(path);
        queue.entries.push_back(std::move(entry));
    }
    const auto count = static_cast<int32_t>(queue.entries.size());
    const size_t old_order = queue.order.size();
    for (int32_t n = first; n < count; ++n)
        queue.order.push_back(n);
    // Appended songs join the pass under way, after the current one.
    if (queue.shuffle)
        std::shuffle(queue.order.begin() + static_cast<std::ptrdiff_t>(old_order),
                     queue.order.end(), queue.random);
    ++queue.revision;
    return first;
}

void queue_clear(PlayQueue& queue) {
    queue.entries.clear();
    queue.order.clear();
    queue.position = -1;
    queue.detached = false;
    queue.loaded_id = 0;
    ++queue.revision;
}

bool queue_remove(PlayQueue& queue, int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= queue.entries.size()) return false;
    const int32_t at = position_of(queue, index);
    const bool was_current = at == queue.position && !queue.detached;
    queue.entries.erase(queue.entries.begin() + index);
    queue.order.erase(queue.order.begin() + at);
    for (int32_t& entry : queue.order)
        if (entry > index) --entry;
    if (was_current) {
        queue.detached = true;
    } else if (at < queue.position) {
        --queue.position;
    }
    if (queue.entries.empty()) queue.position = -1;
    ++queue.revision;
    return true;
}

int32_t queue_current(const PlayQueue& queue) {
    if (queue.detached || queue.position < 0 ||
        static_cast<size_t>(queue.position) >= queue.order.size())
        return -1;
    return queue.order[static_cast<size_t>(queue.position)];
}

void queue_set_current(PlayQueue& queue, int32_t index) {
    const int32_t old = queue_current(queue);
    if (index < 0 || static_cast<size_t>(index) >= queue.entries.size()) {
        queue.position = -1;
    } else {
        queue.position = position_of(queue, index);
    }
    queue.detached = false;
    if (queue_current(queue) != old) ++queue.revision;
}

int32_t queue_index_of(const PlayQueue& queue, uint64_t id) {
    const auto found = std::lower_bound(
        queue.entries.begin(), queue.entries.end(), id,
        [](const QueueEntry& entry, uint64_t wanted) { return entry.id < wanted; });
    if (found == queue.entries.end() || found->id != id) return -1;
    return static_cast<int32_t>(found - queue.entries.begin());
}

std::optional<int32_t> queue_next(const PlayQueue& queue, bool automatic) {
    const auto count = static_cast<int32_t>(queue.order.size());
    if (count == 0 || queue.position < 0) return std::nullopt;
    if (automatic && queue.repeat == RepeatMode::kOne && !queue.detached)
        return queue_current(queue);
    // Detached, the entry at `position` took the removed one's place and comes next.
    const int32_t next = queue.detached ? queue.position : queue.position + 1;
    if (next < count) return queue.order[static_cast<size_t>(next)];
    if (queue.repeat == RepeatMode::kOff) return std::nullopt;
    // A new pass; a shuffled one is drawn by queue_step, here only the fact counts.
    return queue.order[0];
}

std::optional<int32_t> queue_previous(const PlayQueue& queue, double position_seconds) {
    const auto count = static_cast<int32_t>(queue.order.size());
    if (count == 0 || queue.position < 0) return std::nullopt;
    if (!queue.detached && position_seconds > kRestartAfterSeconds) return queue_current(queue);
    if (queue.position > 0) return queue.order[static_cast<size_t>(queue.position - 1)];
    if (queue.repeat != RepeatMode::kOff && count > 1)
        return queue.order[static_cast<size_t>(count - 1)];
    // The first song: it starts again.
    if (queue.detached) return std::nullopt;
    return queue_current(queue);
}

std::optional<int32_t> queue_step(PlayQueue& queue, bool forward, bool automatic,
                                  double position_seconds) {
    if (!forward) {
        const auto target = queue_previous(queue, position_seconds);
        if (target) queue_set_current(queue, *target);
        return target;
    }
    if (automatic && queue.repeat == RepeatMode::kOne && !queue.detached)
        return queue_next(queue, true);
    const auto target = queue_next(queue, automatic);
    if (!target) return target;
    const int32_t next = queue.detached ? queue.position : queue.position + 1;
    if (next >= static_cast<int32_t>(queue.order.size()) && queue.shuffle) {
        // Each pass in a new order, not starting with the song that ended the last one.
        const int32_t last = queue_current(queue);
        std::shuffle(queue.order.begin(), queue.order.end(), queue.random);
        if (queue.order.size() > 1 && queue.order[0] == last)
            std::swap(queue.order[0], queue.order.back());
        queue.position = 0;
        queue.detached = false;
        ++queue.revision;
        return queue.order[0];
    }
    queue_set_current(queue, *target);
    return target;
}

bool queue_can_go_next(const PlayQueue& queue) {
    return queue_next(queue, false).has_value();
}

bool queue_can_go_previous(const PlayQueue& queue) {
    const auto target = queue_previous(queue, 0.0);
    return target.has_value() && *target != queue_current(queue);
}

void queue_set_shuffle(PlayQueue& queue, bool on) {
    if (queue.shuffle == on) return;
    queue.shuffle = on;
    // The current song stays current; the rest of the pass follows the new order.
    draw_order(queue, queue_current(queue));
    ++queue.revision;
}

void queue_set_repeat(PlayQueue& queue, RepeatMode mode) {
    if (queue.repeat == mode) return;
    queue.repeat = mode;
    ++queue.revision;
}

const char* repeat_mode_name(RepeatMode mode) {
    switch (mode) {
    case RepeatMode::kQueue:
        return "queue";
    case RepeatMode::kOne:
        return "one";
    case RepeatMode::kOff:
        break;
    }
    return "off";
}

std::optional<RepeatMode> repeat_mode_from_name(std::string_view name) {
    if (name == "off") return RepeatMode::kOff;
    if (name == "queue") return RepeatMode::kQueue;
    if (name == "one") return RepeatMode::kOne;
    return std::nullopt;
}

RepeatMode repeat_mode_after(RepeatMode mode) {
    switch (mode) {
    case RepeatMode::kOff:
        return RepeatMode::kQueue;
    case RepeatMode::kQueue:
        return RepeatMode::kOne;
    case RepeatMode::kOne:
        break;
    }
    return RepeatMode::kOff;
}

void queue_open(AppState& app, std::vector<std::string> paths, const QueueOpen& how) {
    PlayQueue& queue = app.queue;
    // A new queue makes what was still being listed for the old one moot.
    if (!how.append)
        for (auto& scan : queue.scans) {
            scan->superseded = true;
            scan->cancel.store(true);
        }
    auto scan = std::make_unique<QueueScan>();
    scan->paths = std::move(paths);
    scan->how = how;
    scan->rate = player_transport(app.player).rate;
    QueueScan& running = *scan;
    queue.scans.push_back(std::move(scan));
    try {
        running.worker = std::thread(scan_in_background, std::ref(running));
    } catch (const std::system_error&) {
        scan_in_background(running);
    }
    if (queue.poll_id == 0) queue.poll_id = g_timeout_add(kScanPollMs, on_scan_poll, &app);
}

bool queue_scan_pending(const AppState& app) {
    return !app.queue.scans.empty();
}

void collect_queue_scans(AppState& app) {
    PlayQueue& queue = app.queue;
    size_t budget = kInfosPerPoll;
    for (size_t n = 0; n < queue.scans.size();) {
        QueueScan& scan = *queue.scans[n];
        if (!scan.superseded) {
            // Later scans wait for this one's listing, so that they join in request order.
            if (!scan.taken && !scan.listed.load(std::memory_order_acquire)) break;
            if (!scan.taken) take_listing(app, scan);
            const size_t before = scan.infos_taken;
            take_infos(queue, scan, budget);
            budget -= std::min(budget, scan.infos_taken - before);
        }
        const bool finished = scan.done.load(std::memory_order_acquire) &&
                              (scan.superseded || scan.infos_taken == scan.infos.size());
        if (!finished) {
            ++n;
            continue;
        }
        if (scan.worker.joinable()) scan.worker.join();
        queue.scans.erase(queue.scans.begin() + static_cast<std::ptrdiff_t>(n));
    }
}

bool queue_play_entry(AppState& app, int32_t index, bool play) {
    if (index < 0 || static_cast<size_t>(index) >= app.queue.entries.size()) return false;
    request_entry(app, index, play ? AfterLoad::kPlay : AfterLoad::kStay, false);
    return true;
}

bool queue_go(AppState& app, bool forward) {
    PlayQueue& queue = app.queue;
    const TransportState transport = player_transport(app.player);
    const double seconds =
        transport.rate > 0 ? static_cast<double>(transport.position) / transport.rate : 0.0;
    const int32_t before = queue_current(queue);
    const bool playing = music_playing(app);
    const auto target = queue_step(queue, forward, false, seconds);
    if (!target) return false;
    if (*target == before && !forward && transport.loaded &&
        queue.entries[static_cast<size_t>(*target)].id == queue.loaded_id) {
        // Later in the song, Previous starts it again.
        seek_to_frame(app.player, 0);
        return true;
    }
    request_entry(app, *target, playing ? AfterLoad::kPlay : AfterLoad::kStay, false);
    return true;
}

void queue_watch_end(AppState& app) {
    PlayQueue& queue = app.queue;
    const TransportState transport = player_transport(app.player);
    if (!transport.ended) {
        queue.end_handled = false;
        return;
    }
    if (queue.end_handled || song_load_pending(app)) return;
    queue.end_handled = true;
    // Only the queue's own song goes on to the next.
    const int32_t current = queue_current(queue);
    const bool ours =
        queue.detached ||
        (current >= 0 && queue.entries[static_cast<size_t>(current)].id == queue.loaded_id);
    if (!ours) return;
    const auto target = queue_step(queue, true, true);
    if (target) request_entry(app, *target, AfterLoad::kPlay, true);
}

void queue_load_done(AppState& app, uint64_t entry_id, bool loaded, bool skip_on_failure) {
    PlayQueue& queue = app.queue;
    if (loaded) {
        queue.loaded_id = entry_id;
        queue.failed_run = 0;
        queue.end_handled = false;
        if (entry_id != 0) {
            const int32_t index = queue_index_of(queue, entry_id);
            queue_set_current(queue, index);
            const TransportState transport = player_transport(app.player);
            if (index >= 0 && transport.rate > 0) {
                QueueEntry& entry = queue.entries[static_cast<size_t>(index)];
                entry.length_seconds =
                    static_cast<double>(transport.length_frames) / transport.rate;
                ++queue.revision;
            }
        } else {
            // A song from outside the queue: none of its entries is playing.
            queue_set_current(queue, -1);
        }
        return;
    }
    if (entry_id == 0) return;
    if (!skip_on_failure) {
        // The song before goes on playing and stays the current one.
        const int32_t playing = queue_index_of(queue, queue.loaded_id);
        if (playing >= 0) queue_set_current(queue, playing);
        return;
    }
    const int32_t failed = queue_index_of(queue, entry_id);
    if (failed < 0 || ++queue.failed_run >= static_cast<int32_t>(queue.entries.size())) return;
    queue_set_current(queue, failed);
    // Repeating the one bad song would only fail again.
    const RepeatMode repeat = queue.repeat;
    if (repeat == RepeatMode::kOne) queue.repeat = RepeatMode::kQueue;
    const auto target = queue_step(queue, true, true);
    queue.repeat = repeat;
    if (target) request_entry(app, *target, AfterLoad::kPlay, true);
}
