// Instrumentation compiled into the output only when VELTA_AUDIO_PROBE is defined (tests):
// where and when the process callback runs relative to audio_output_stop.
#pragma once

#include <atomic>
#include <cstdint>

enum AudioProbePhase : int { kProbeRunning = 0, kProbeLoopStopped = 1, kProbeStopReturned = 2 };

struct AudioProbe {
    std::atomic<int> phase{kProbeRunning};
    std::atomic<uint64_t> callbacks{0};
    std::atomic<uint64_t> after_loop_stop{0}; // entered between loop stop and stop's return
    std::atomic<uint64_t> late{0};            // entered, or still running, after stop returned
    std::atomic<int> callback_tid{0};         // kernel thread id of the latest callback
};

AudioProbe& audio_probe() noexcept;
