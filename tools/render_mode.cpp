#include "tools/render_mode.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <signal.h>
#include <unistd.h>

#include "base/atomic_file.h"
#include "export/loudness.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"

namespace {

constexpr const char* kOutputIsInputText = "The output file is the input song.";
constexpr const char* kCannotWriteText = "cannot write";
constexpr const char* kCannotMeasureText = "could not measure the loudness";
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The named temporary that a signal must remove, empty while there is none. Changed only while
// the signals are blocked, so the handler never sees half a name.
char g_temporary[kPathCapacity];

extern "C" void remove_temporary_and_end(int signal_number) {
    if (g_temporary[0] != '\0') unlink(g_temporary);
    // Ends the process the signal's own way once the handler returns: 128 + N to a shell.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigaction(signal_number, &action, nullptr);
    raise(signal_number);
}

// Holds the cleanup signals back for its lifetime; one that arrived meanwhile comes after.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal_number : kCleanupSignals)
            sigaddset(&held, signal_number);
        sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

// A signal that was ignored at start (nohup, a background job) stays ignored.
void remove_temporary_on_signals() {
    for (int signal_number : kCleanupSignals) {
        struct sigaction current = {};
        if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = remove_temporary_and_end;
        sigemptyset(&action.sa_mask);
        for (int other : kCleanupSignals)
            sigaddset(&action.sa_mask, other);
        sigaction(signal_number, &action, nullptr);
    }
}

// The song measured as it would be rendered; the exit status, kExitDone when `result` is good.
int measure_or_report(const RenderOptions& options, LoudnessResult& result) {
    int error_number = 0;
    std::string status;
    switch (measure_loudness(options.settings, options.input_path.c_str(), nullptr, result,
                             error_number, status)) {
    case LoudnessOutcome::kDone:
        return kExitDone;
    case LoudnessOutcome::kLoadFailed:
        report_error(options.input_path, status.c_str(), error_number);
        return kExitLoad;
    case LoudnessOutcome::kCancelled:
    case LoudnessOutcome::kFailed:
        break;
    }
    report_error(options.input_path, kCannotMeasureText, 0);
    return kExitOutput;
}

} // namespace

int print_loudness(const RenderOptions& options) {
    LoudnessResult result;
    if (const int status = measure_or_report(options, result); status != kExitDone) return status;
    std::printf("integrated %.2f LUFS, true peak %.2f dBTP\n", result.integrated_lufs,
                result.true_peak_db);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kExitDone : kExitOutput;
}

void report_error(const std::string& name, const char* message, int error_number) {
    if (error_number != 0) {
        std::fprintf(stderr, "velta-render: %s: %s (%s)\n", name.c_str(), message,
                     std::strerror(error_number));
    } else {
        std::fprintf(stderr, "velta-render: %s: %s\n", name.c_str(), message);
    }
}

bool load_or_report(Player& player, const std::string& path) {
    int error_number = 0;
    if (load_song(player, path.c_str(), &error_number)) {
        return true;
    }
    std::lock_guard guard(player.lock);
    report_error(path, player.status_text, error_number);
    return false;
}

int render_to_wav(const RenderOptions& options) {
    const bool to_stdout = options.output_path == "-";
    const char* output_path = options.output_path.c_str();
    if (!to_stdout && same_file(output_path, options.input_path.c_str())) {
        report_error(options.output_path, kOutputIsInputText, 0);
        return kExitUsage;
    }
    // A first pass measures, the second writes the song at the levelling target.
    float gain = 1.0f;
    if (options.normalize) {
        LoudnessResult result;
        if (const int status = measure_or_report(options, result); status != kExitDone)
            return status;
        gain = gain_from_db(loudness_gain_db(result));
    }
    WavRenderer renderer;
    int error_number = 0;
    if (!wav_render_load(renderer, options.settings, options.input_path.c_str(), error_number)) {
        std::lock_guard guard(renderer.player->lock);
        report_error(options.input_path, renderer.player->status_text, error_number);
        return kExitLoad;
    }
    // Opened only once the song has loaded; the old output stays until the new one is whole.
    AtomicFile file;
    FILE* out = stdout;
    if (!to_stdout) {
        SignalsHeld held;
        if (!atomic_file_open(file, output_path, error_number) ||
            (out = atomic_file_stream(file, error_number)) == nullptr) {
            atomic_file_abandon(file);
            report_error(options.output_path, kCannotWriteText, error_number);
            return kExitOutput;
        }
        copy_bounded(g_temporary, file.temporary);
        if (g_temporary[0] != '\0') remove_temporary_on_signals();
    }
    WavRenderControl control;
    control.gain = gain;
    const uint32_t rate = renderer.rate;
    const bool progress = isatty(STDERR_FILENO) != 0;
    if (progress) {
        control.on_progress = [rate](uint64_t frames) {
            std::fprintf(stderr, "\rvelta-render: %.1f s", static_cast<double>(frames) / rate);
            std::fflush(stderr);
        };
    }
    WavRenderOutcome outcome = wav_render_write(renderer, out, control);
    if (progress) {
        std::fputc('\n', stderr);
    }
    errno = 0;
    if (out != stdout && std::fclose(out) != 0 && outcome.result == WavRenderResult::kDone) {
        outcome.result = WavRenderResult::kWriteFailed;
        outcome.error_number = errno != 0 ? errno : EIO;
    }
    if (!to_stdout) {
        // Between its link and its rename even an anonymous temporary has a name.
        SignalsHeld held;
        if (outcome.result == WavRenderResult::kDone &&
            !atomic_file_commit(file, outcome.error_number)) {
            outcome.result = WavRenderResult::kWriteFailed;
        }
        atomic_file_abandon(file);
        g_temporary[0] = '\0';
    }
    if (outcome.result != WavRenderResult::kDone) {
        report_error(options.output_path, kCannotWriteText, outcome.error_number);
        return kExitOutput;
    }
    return kExitDone;
}
