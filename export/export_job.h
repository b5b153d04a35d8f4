// A WAV export running beside playback: its own player on a worker thread at a lower priority,
// reading the song file itself. The owner thread starts, cancels and polls it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "synth/channel_state.h"

struct Player;

// What an export needs from the playing player; nothing else of it is shared.
struct ExportRequest {
    std::string song_path;
    std::string output_path;
    int32_t rate = 44100;
    int32_t instrument_set = 0;
    bool auto_detune = true;
    int32_t song_loops = 0; // extra passes of a marked loop, then a fade
    std::array<bool, kChannelCount> muted = {};
};

// Copies the song path, output frequency, instrument set, loop setting and mute flags under the
// player's lock. False when no song file is loaded.
bool export_request_from_player(Player& player, ExportRequest& request);

struct ExportJob {
    std::thread worker;
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    std::atomic<int32_t> percent{0};
    std::string output_name; // shown in the texts
    std::string result_text; // written by the worker before `finished`

    ExportJob() = default;
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;
    ~ExportJob(); // cancels a running export and waits for it
};

inline constexpr const char* kExportWriteFailedText = "Could not write WAV file.";
inline constexpr const char* kExportCancelledText = "Export cancelled";

// True from the start until export_job_poll has collected the result.
bool export_job_busy(const ExportJob& job);
// Starts the worker. False (nothing started) while another export is busy.
bool export_job_start(ExportJob& job, ExportRequest request);
// Asks the worker to stop; it removes its temporary file and ends with "Export cancelled".
void export_job_cancel(ExportJob& job);
// The text to show now: "Exporting NAME: 42 %" while it runs, the final text once when it has
// ended (the worker is then joined). False when there is nothing to show.
bool export_job_poll(ExportJob& job, std::string& text);

// Puts the calling thread at nice +10, below the audio and the window (background renders).
void lower_thread_priority();

// The whole export on the calling thread (the worker's body): renders to a temporary file in
// the target folder that replaces `output_path` only when complete. An output that is the song
// itself is refused before anything is written. Returns the final text.
std::string run_export(const ExportRequest& request, const std::atomic<bool>& cancel,
                       std::atomic<int32_t>& percent);
