#include "export/loudness.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include <ebur128.h>

#include "export/export_job.h"
#include "sequencer/event_loop.h"
#include "sequencer/player.h"

namespace {

struct MeterDeleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};

double to_db(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -INFINITY;
}

} // namespace

LoudnessOutcome measure_loudness(const WavRenderSettings& settings, const char* path,
                                 const std::atomic<bool>* cancel, LoudnessResult& result,
                                 int& error_number, std::string& status) {
    result = LoudnessResult{};
    WavRenderer renderer;
    if (!wav_render_load(renderer, settings, path, error_number)) {
        std::lock_guard guard(renderer.player->lock);
        status = renderer.player->status_text;
        return LoudnessOutcome::kLoadFailed;
    }
    std::unique_ptr<ebur128_state, MeterDeleter> meter(
        ebur128_init(2, renderer.rate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
    if (!meter) return LoudnessOutcome::kFailed;

    Player& player = *renderer.player;
    std::vector<int16_t> block(size_t{renderer.block_frames} * 2);
    uint64_t done = 0;
    while (done < renderer.limit_frames) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return LoudnessOutcome::kCancelled;
        std::fill(block.begin(), block.end(), 0);
        bool rendered = false;
        bool finished = false;
        {
            std::lock_guard guard(player.lock);
            rendered = synth_render(player, block.data(), renderer.block_frames);
            finished = !player.active;
        }
        if (!rendered) break;
        const auto frames = static_cast<size_t>(
            std::min<uint64_t>(renderer.block_frames, renderer.limit_frames - done));
        if (ebur128_add_frames_short(meter.get(), block.data(), frames) != EBUR128_SUCCESS)
            return LoudnessOutcome::kFailed;
        done += frames;
        if (finished) break;
    }
    double loudness = -HUGE_VAL;
    if (ebur128_loudness_global(meter.get(), &loudness) != EBUR128_SUCCESS)
        return LoudnessOutcome::kFailed;
    double peak = 0.0;
    for (unsigned channel = 0; channel < 2; ++channel) {
        double channel_peak = 0.0;
        if (ebur128_true_peak(meter.get(), channel, &channel_peak) != EBUR128_SUCCESS)
            return LoudnessOutcome::kFailed;
        peak = std::max(peak, channel_peak);
    }
    result.integrated_lufs = std::isfinite(loudness) ? loudness : -INFINITY;
    result.true_peak_db = to_db(peak);
    result.frames = done;
    return LoudnessOutcome::kDone;
}

double loudness_gain_db(const LoudnessResult& result) {
    if (!std::isfinite(result.integrated_lufs)) return 0.0;
    const double gain = kLoudnessTargetLufs - result.integrated_lufs;
    return std::isfinite(result.true_peak_db) ? std::min(gain, -result.true_peak_db) : gain;
}

LoudnessJob::~LoudnessJob() {
    cancel.store(true);
    if (worker.joinable()) worker.join();
}

bool loudness_job_busy(const LoudnessJob& job) {
    return job.worker.joinable();
}

bool loudness_job_start(LoudnessJob& job, WavRenderSettings settings, std::string path,
                        std::function<void(LoudnessJob&)> after) {
    if (loudness_job_busy(job)) return false;
    job.cancel.store(false);
    job.finished.store(false);
    job.outcome = LoudnessOutcome::kFailed;
    job.result = LoudnessResult{};
    job.worker = std::thread([&job, settings, path = std::move(path), after = std::move(after)] {
        lower_thread_priority();
        int error_number = 0;
        std::string status;
        job.outcome =
            measure_loudness(settings, path.c_str(), &job.cancel, job.result, error_number, status);
        if (after) after(job);
        job.finished.store(true, std::memory_order_release);
    });
    return true;
}

bool loudness_job_collect(LoudnessJob& job) {
    if (!loudness_job_busy(job) || !job.finished.load(std::memory_order_acquire)) return false;
    job.worker.join();
    return true;
}
