// The play queue: an ordered list of songs, the one playing, the order a shuffled pass takes
// and what happens at a song's end. Folders are listed and the songs' titles and lengths read
// on worker threads; the main thread takes the results from a short timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "shell/song_loader.h"

struct AppState;
struct QueueScan;

enum class RepeatMode { kOff, kQueue, kOne };

struct QueueEntry {
    uint64_t id = 0;   // unique within the queue; entries are in ascending order of it
    std::string path;  // local file name
    std::string title; // the first track name, else the file's display name
    double length_seconds = 0.0;
    bool info_ready = false; // title and length read (until then the title is the file name)
};

struct PlayQueue {
    std::vector<QueueEntry> entries;
    // Entry indices in playing order: 0, 1, 2... unshuffled; one shuffled pass otherwise.
    std::vector<int32_t> order;
    int32_t position = -1; // where in `order` the current song is; -1: none
    // The current song was removed: `position` names the one that took its place.
    bool detached = false;
    RepeatMode repeat = RepeatMode::kOff;
    bool shuffle = false;
    uint64_t next_id = 1;
    uint64_t revision = 0; // moves on every change the panel would show
    std::mt19937 random{std::random_device{}()};

    // Folder scans in request order; each is taken once listed, its infos as they come.
    std::vector<std::unique_ptr<QueueScan>> scans;
    uint32_t poll_id = 0;
    bool end_handled = false; // the song's end has been acted on
    uint64_t loaded_id = 0;   // the entry that is the Player's song; 0: none or another
    int32_t failed_run = 0;   // songs skipped in a row, so that a queue of bad files ends

    PlayQueue();
    PlayQueue(const PlayQueue&) = delete;
    PlayQueue& operator=(const PlayQueue&) = delete;
    ~PlayQueue(); // stops and joins the scans
};

// --- The model alone (no application record): what the tests drive. ---

// Names compared as people read them: runs of digits by value ("2" before "10"), letters
// without regard to case, then byte order to break ties. Negative, zero or positive.
int natural_compare(std::string_view a, std::string_view b);

bool is_song_name(std::string_view name); // .mid, .midi or .kar, any case

// The songs `paths` name, in order: a file as it is, a folder's songs recursively in natural
// name order, without hidden files and folders, never entering a folder already visited.
// `drop_missing`: files that cannot be read are left out rather than kept for their error.
// `cancel`, when given, ends the listing early once set.
std::vector<std::string> list_songs(const std::vector<std::string>& paths, bool drop_missing,
                                    const std::atomic<bool>* cancel = nullptr);

std::string display_title(const std::string& path);

// Entries for `paths` replace the queue (nothing current) or are appended to it. Returns the
// index of the first new entry, or -1 when there were none.
int32_t queue_add(PlayQueue& queue, std::vector<std::string> paths, bool append);
void queue_clear(PlayQueue& queue);
// Removes entry `index`; false for an index out of range.
bool queue_remove(PlayQueue& queue, int32_t index);
// The current entry's index, or -1.
int32_t queue_current(const PlayQueue& queue);
// Makes entry `index` current (a negative one: none).
void queue_set_current(PlayQueue& queue, int32_t index);
int32_t queue_index_of(const PlayQueue& queue, uint64_t id);

// The entry that Next goes to; `automatic` at a song's end, where repeat one stays on it and
// the end of a pass ends the queue unless it repeats. Empty when there is none. A new shuffled
// pass is only drawn by queue_step.
std::optional<int32_t> queue_next(const PlayQueue& queue, bool automatic);
// Previous within the first seconds of a song is the song before; later it is the song itself.
inline constexpr double kRestartAfterSeconds = 3.0;
std::optional<int32_t> queue_previous(const PlayQueue& queue, double position_seconds);
// Moves the queue to what queue_next/queue_previous gave, drawing a new shuffled pass when
// Next wraps around. Returns the entry now current.
std::optional<int32_t> queue_step(PlayQueue& queue, bool forward, bool automatic,
                                  double position_seconds = 0.0);
bool queue_can_go_next(const PlayQueue& queue);
bool queue_can_go_previous(const PlayQueue& queue);

void queue_set_shuffle(PlayQueue& queue, bool on);
void queue_set_repeat(PlayQueue& queue, RepeatMode mode);
const char* repeat_mode_name(RepeatMode mode); // "off", "queue", "one"
std::optional<RepeatMode> repeat_mode_from_name(std::string_view name);
RepeatMode repeat_mode_after(RepeatMode mode); // the skin toggle's cycle

// A song's title and length as the queue shows them: the first track name meta event, else
// the file name. False when the file is no song. A file over 16 MB is not read whole: its
// length stays 0 until it is loaded.
bool read_song_info(const char* path, int32_t rate, std::string& title, double& length_seconds);

// --- With the application. ---

// What the first new song does once the queue has it.
enum class FirstSong {
    kNothing,   // appended: the current song goes on
    kStay,      // loaded stopped
    kPlay,      // playing
    kAsPlaying, // playing if music was playing, else loaded stopped
};

struct QueueOpen {
    bool append = false;
    FirstSong first_song = FirstSong::kStay;
    bool activation = false;   // the activation's first load (request_song's `first`)
    bool drop_missing = false; // a remembered queue: gone files go without a word
    // A remembered queue: the song to load instead of the first, and where it stood.
    std::string start_path;
    double start_seconds = 0.0;
};

// Lists `paths` on a worker; the queue takes them on the main thread as `how` says.
void queue_open(AppState& app, std::vector<std::string> paths, const QueueOpen& how);
// True while a scan has not been taken whole (listing or reading infos).
bool queue_scan_pending(const AppState& app);
// Main thread: takes what the scans have ready. Its timer calls it; tests call it too.
void collect_queue_scans(AppState& app);

// Loads entry `index` (user's choice: a failure keeps the song playing), playing when `play`.
bool queue_play_entry(AppState& app, int32_t index, bool play);
// Next and Previous as the user asks them: the song plays if music was playing.
bool queue_go(AppState& app, bool forward);
// Main thread, every tick: a song that reached its end is followed by the next one.
void queue_watch_end(AppState& app);
// From the loader, once a request has been swapped in or refused. `entry_id` 0: a song from
// outside the queue. A song the queue advanced to by itself that failed is skipped (its text
// is shown already); one the user chose leaves the current entry on the song still playing.
void queue_load_done(AppState& app, uint64_t entry_id, bool loaded, bool skip_on_failure);
