// A song's integrated loudness and true peak (EBU R128 / ITU-R BS.1770), measured by rendering
// it with a player of its own, and the gain that brings it to the levelling target.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "export/wav_render.h"

// ReplayGain 2.0's reference loudness.
inline constexpr double kLoudnessTargetLufs = -18.0;

struct LoudnessResult {
    // -infinity for a silent song; the true peak in dB relative to full scale (0 dBTP = 32768).
    double integrated_lufs = -INFINITY;
    double true_peak_db = -INFINITY;
    uint64_t frames = 0;
};

enum class LoudnessOutcome { kDone, kLoadFailed, kCancelled, kFailed };

// Renders `path` as wav_render_write would write it (same settings, same samples) and measures
// it. On kLoadFailed `error_number` and `status` hold the loader's reason.
LoudnessOutcome measure_loudness(const WavRenderSettings& settings, const char* path,
                                 const std::atomic<bool>* cancel, LoudnessResult& result,
                                 int& error_number, std::string& status);

// The gain in dB that brings `result` to the target, lowered so the true peak stays at or below
// 0 dBTP. 0 for a silent song (nothing to measure).
double loudness_gain_db(const LoudnessResult& result);

inline float gain_from_db(double db) {
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

// One measurement on a worker thread at a lower priority, as the export runs. The owner thread
// starts it and polls `finished`; the destructor cancels and joins.
struct LoudnessJob {
    std::thread worker;
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    // Written by the worker before `finished`.
    LoudnessOutcome outcome = LoudnessOutcome::kFailed;
    LoudnessResult result;

    LoudnessJob() = default;
    LoudnessJob(const LoudnessJob&) = delete;
    LoudnessJob& operator=(const LoudnessJob&) = delete;
    ~LoudnessJob();
};

// `after` runs on the worker once the measurement is done (the cache write), before `finished`.
// False (nothing started) while the job is busy.
bool loudness_job_start(LoudnessJob& job, WavRenderSettings settings, std::string path,
                        std::function<void(LoudnessJob&)> after);
bool loudness_job_busy(const LoudnessJob& job);
// Joins a finished job; true when one was collected.
bool loudness_job_collect(LoudnessJob& job);
