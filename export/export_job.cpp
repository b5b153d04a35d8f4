#include "export/export_job.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

#include "base/atomic_file.h"
#include "export/wav_render.h"
#include "sequencer/player.h"

namespace {

// Far enough below the audio and the window that an export never takes their time.
constexpr int kExportNiceIncrement = 10;

std::string base_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string with_reason(const char* message, int error_number) {
    std::string text = message;
    if (error_number != 0) {
        text += " (";
        text += std::strerror(error_number);
        text += ")";
    }
    return text;
}

} // namespace

void lower_thread_priority() {
    // On Linux the nice value belongs to the thread named by its id.
    const auto thread = static_cast<id_t>(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno == 0) setpriority(PRIO_PROCESS, thread, current + kExportNiceIncrement);
}

bool export_request_from_player(Player& player, ExportRequest& request) {
    std::lock_guard guard(player.lock);
    if (player.song.events.empty() || player.song_path[0] == '\0') return false;
    request.song_path = player.song_path;
    request.rate = player.synth.sample_rate;
    request.instrument_set = player.synth.instrument_set;
    request.auto_detune = player.synth.auto_detune != 0;
    request.song_loops = player.song_loops;
    for (int channel = 0; channel < kChannelCount; ++channel) {
        request.muted[channel] = player.synth.channels[channel].mute != 0;
    }
    return true;
}

std::string run_export(const ExportRequest& request, const std::atomic<bool>& cancel,
                       std::atomic<int32_t>& percent) {
    // Checked before anything is read or written: the replace question did not say so.
    if (same_file(request.output_path.c_str(), request.song_path.c_str()))
        return "Export refused: " + base_name(request.output_path) + " is the song being played.";
    WavRenderSettings settings;
    settings.rate = request.rate;
    settings.instrument_set = request.instrument_set;
    settings.auto_detune = request.auto_detune;
    settings.song_loops = request.song_loops;
    settings.muted = request.muted;
    WavRenderer renderer;
    int error_number = 0;
    if (!wav_render_load(renderer, settings, request.song_path.c_str(), error_number)) {
        std::lock_guard guard(renderer.player->lock);
        return with_reason(renderer.player->status_text, error_number);
    }
    AtomicFile file;
    if (!atomic_file_open(file, request.output_path.c_str(), error_number))
        return with_reason(kExportWriteFailedText, error_number);
    FILE* out = atomic_file_stream(file, error_number);
    if (out == nullptr) {
        atomic_file_abandon(file);
        return with_reason(kExportWriteFailedText, error_number);
    }

    WavRenderControl control;
    control.cancel = &cancel;
    control.percent = &percent;
    WavRenderOutcome outcome = wav_render_write(renderer, out, control);
    errno = 0;
    if (std::fclose(out) != 0 && outcome.result == WavRenderResult::kDone) {
        outcome.result = WavRenderResult::kWriteFailed;
        outcome.error_number = errno != 0 ? errno : EIO;
    }
    if (outcome.result == WavRenderResult::kDone &&
        !atomic_file_commit(file, outcome.error_number)) {
        outcome.result = WavRenderResult::kWriteFailed;
    }
    atomic_file_abandon(file);
    switch (outcome.result) {
    case WavRenderResult::kDone:
        percent.store(100, std::memory_order_relaxed);
        return "Exported " + base_name(request.output_path);
    case WavRenderResult::kCancelled:
        return kExportCancelledText;
    case WavRenderResult::kWriteFailed:
        break;
    }
    return with_reason(kExportWriteFailedText, outcome.error_number);
}

ExportJob::~ExportJob() {
    cancel.store(true);
    if (worker.joinable()) worker.join();
}

bool export_job_busy(const ExportJob& job) {
    return job.worker.joinable();
}

bool export_job_start(ExportJob& job, ExportRequest request) {
    if (export_job_busy(job)) return false;
    job.cancel.store(false);
    job.finished.store(false);
    job.percent.store(0);
    job.output_name = base_name(request.output_path);
    job.result_text.clear();
    job.worker = std::thread([&job, request = std::move(request)] {
        lower_thread_priority();
        std::string text = run_export(request, job.cancel, job.percent);
        job.result_text = std::move(text);
        job.finished.store(true, std::memory_order_release);
    });
    return true;
}

void export_job_cancel(ExportJob& job) {
    job.cancel.store(true);
}

bool export_job_poll(ExportJob& job, std::string& text) {
    if (!export_job_busy(job)) return false;
    if (job.finished.load(std::memory_order_acquire)) {
        job.worker.join();
        text = job.result_text;
        return true;
    }
    // Once cancelled, the old progress would only contradict the coming "Export cancelled".
    if (job.cancel.load()) return false;
    text = "Exporting " + job.output_name + ": " + std::to_string(job.percent.load()) + " %";
    return true;
}
