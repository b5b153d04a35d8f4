// Loudness levelling across songs: each song's integrated loudness as rendered and after the
// levelling gain (the bytes velta-render --normalize writes, measured again), the spread of
// both, and how long measuring took against the song's length.
//   loudness_table SONG.mid...     (bench/loudness_table.sh picks 20 corpus songs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <ebur128.h>

#include "export/loudness.h"
#include "export/wav_render.h"

namespace {

// The integrated loudness of a 16-bit stereo WAV as wav_render_write makes it.
double wav_loudness(FILE* file, uint32_t rate) {
    ebur128_state* meter = ebur128_init(2, rate, EBUR128_MODE_I);
    std::fseek(file, 44, SEEK_SET);
    std::vector<int16_t> block(8192 * 2);
    size_t frames = 0;
    while ((frames = std::fread(block.data(), 4, 8192, file)) > 0)
        ebur128_add_frames_short(meter, block.data(), frames);
    double loudness = -HUGE_VAL;
    ebur128_loudness_global(meter, &loudness);
    ebur128_destroy(&meter);
    return loudness;
}

} // namespace

int main(int argc, char** argv) {
    WavRenderSettings settings;
    settings.max_seconds = 900.0;      // as velta-render
    std::vector<double> off, on, free; // free: songs whose gain the true peak did not limit
    std::printf(
        "| song | length | off: LUFS | true peak | gain | on: LUFS | measuring | x real time |\n"
        "|---|---|---|---|---|---|---|---|\n");
    double total_length = 0.0, total_time = 0.0;
    for (int n = 1; n < argc; ++n) {
        const std::string path = argv[n];
        LoudnessResult result;
        int error_number = 0;
        std::string status;
        const auto start = std::chrono::steady_clock::now();
        if (measure_loudness(settings, path.c_str(), nullptr, result, error_number, status) !=
            LoudnessOutcome::kDone) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), status.c_str());
            continue;
        }
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double gain_db = loudness_gain_db(result);
        WavRenderer renderer;
        wav_render_load(renderer, settings, path.c_str(), error_number);
        FILE* file = std::tmpfile();
        WavRenderControl control;
        control.gain = gain_from_db(gain_db);
        wav_render_write(renderer, file, control);
        const double levelled = wav_loudness(file, renderer.rate);
        std::fclose(file);
        const double length = static_cast<double>(result.frames) / settings.rate;
        total_length += length;
        total_time += took;
        off.push_back(result.integrated_lufs);
        on.push_back(levelled);
        const std::string name = path.substr(path.rfind('/') + 1);
        const bool held = gain_db < kLoudnessTargetLufs - result.integrated_lufs;
        if (!held) free.push_back(levelled);
        std::printf("| %s | %.0f s | %.1f | %.1f dBTP | %+.1f dB%s | %.1f | %.2f s | %.0f x |\n",
                    name.c_str(), length, result.integrated_lufs, result.true_peak_db, gain_db,
                    held ? " (peak)" : "", levelled, took, length / took);
    }
    if (off.empty()) return 1;
    const auto spread = [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end());
    };
    std::printf(
        "\n%zu songs, %.0f s of music measured in %.1f s (%.0f x real time). "
        "Spread of integrated loudness: off %.1f LU, on %.1f LU; on, the %zu songs the true "
        "peak did not hold back: %.1f LU.\n",
        off.size(), total_length, total_time, total_length / total_time, spread(off), spread(on),
        free.size(), free.empty() ? 0.0 : spread(free));
    return 0;
}
