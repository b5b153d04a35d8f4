#include "tools/render_mode.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <unistd.h>

#include "sequencer/load_song.h"
#include "sequencer/player.h"

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
    WavRenderer renderer;
    int error_number = 0;
    if (!wav_render_load(renderer, options.settings, options.input_path.c_str(), error_number)) {
        std::lock_guard guard(renderer.player->lock);
        report_error(options.input_path, renderer.player->status_text, error_number);
        return kExitLoad;
    }
    // Opened only once the song has loaded, so a bad song leaves no output file behind.
    FILE* out = stdout;
    if (options.output_path != "-") {
        errno = 0;
        out = std::fopen(options.output_path.c_str(), "wb");
        if (out == nullptr) {
            report_error(options.output_path, "cannot write", errno != 0 ? errno : EIO);
            return kExitOutput;
        }
    }
    WavRenderControl control;
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
    if (out != stdout && std::fclose(out) != 0 && outcome.result == WavRenderResult::kDone) {
        outcome.result = WavRenderResult::kWriteFailed;
        outcome.error_number = errno != 0 ? errno : EIO;
    }
    if (outcome.result != WavRenderResult::kDone) {
        report_error(options.output_path, "cannot write", outcome.error_number);
        return kExitOutput;
    }
    return kExitDone;
}
