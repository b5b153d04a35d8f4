// Measures the synthesizer on one thread: render speed with all 46 voices sounding, render
// speed of a dense ordinary song, the time of one seek in a ten-minute song, and the time the
// audio callback body takes per block. Songs come from song_gen.h.
// Usage: bench_engine [--runs N] [--write-stress FILE.mid] [--write-dense FILE.mid]
//                     [--write-long FILE.mid] [--write-held FILE.mid] [--write-waves FILE.mid]
// With a --write option it only writes the song(s) and exits.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/pipewire_output.h"
#include "tests/support/song_gen.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kRate = 44100;
constexpr uint32_t kBlock = 1024;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of this thread: unlike the wall clock, it does not count time other processes take
// on a busy machine.
double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Speed {
    double wall; // times faster than real time by the wall clock
    double cpu;  // the same by this thread's CPU time
};

std::string temp_song(const char* name, const std::vector<uint8_t>& bytes) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                       "/velta_bench_" + name + ".mid";
    if (!song_gen::write_file(path, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    return path;
}

std::unique_ptr<Player> load(const std::string& path) {
    auto player = std::make_unique<Player>();
    synth_init(*player, kRate);
    if (!load_song(*player, path.c_str())) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), player->status_text);
        std::exit(1);
    }
    return player;
}

int count_active(const Player& player) {
    int n = 0;
    for (const Voice& voice : player.synth.voices)
        n += voice.active != 0 ? 1 : 0;
    return n;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Renders up to `seconds` of the song (or to its end) in callback-sized blocks. `min_active`
// receives the fewest voices seen at a block end.
Speed render_speed(const std::string& path, double seconds, int* min_active) {
    auto player = load(path);
    start_playback(*player);
    const auto frames = static_cast<uint64_t>(seconds * kRate);
    std::vector<int16_t> block(kBlock * 2);
    uint64_t done = 0;
    int fewest = kVoiceCount;
    const auto start = Clock::now();
    const double cpu_start = thread_cpu_seconds();
    while (done < frames && player->active != 0) {
        std::fill(block.begin(), block.end(), 0);
        std::lock_guard guard(player->lock);
        synth_render(*player, block.data(), kBlock);
        done += kBlock;
        fewest = std::min(fewest, count_active(*player));
    }
    const double cpu = thread_cpu_seconds() - cpu_start;
    const double elapsed = seconds_since(start);
    if (min_active != nullptr) *min_active = fewest;
    const double audio = static_cast<double>(done) / kRate;
    return {audio / elapsed, audio / cpu};
}

// The process callback's own body (zeroing, render under the lock, float conversion), timed
// per block while every voice sounds. Fills mean and worst time as fractions of a block.
void callback_cost(const std::string& path, double seconds, double* mean, double* worst) {
    auto player = load(path);
    start_playback(*player);
    AudioOutput audio;
    audio.player = player.get();
    // As the stream does when it starts: without a scratch buffer the body returns at once.
    if (!audio_output_prepare_scratch(audio)) {
        std::fprintf(stderr, "no memory for the scratch buffer\n");
        std::exit(1);
    }
    std::vector<float> stream(kBlock * 2);
    const AudioBlockTarget target{stream.data(), kBlock * 8, kBlock};
    const double block_seconds = static_cast<double>(kBlock) / kRate;
    const auto blocks = static_cast<uint64_t>(seconds * kRate / kBlock);
    double total = 0.0;
    double longest = 0.0;
    for (uint64_t i = 0; i < blocks; ++i) {
        const auto start = Clock::now();
        audio_fill_block(audio, target, synth_render);
        const double elapsed = seconds_since(start);
        total += elapsed;
        longest = std::max(longest, elapsed);
    }
    std::free(audio.scratch);
    *mean = total / static_cast<double>(blocks) / block_seconds;
    *worst = longest / block_seconds;
}

// Seeks a playing transport to many positions; fills the worst and the median in seconds.
void seek_cost(const std::string& path, double* worst, double* middle) {
    auto player = load(path);
    start_playback(*player);
    std::vector<double> times;
    song_gen::Lcg rng{99};
    for (int i = 0; i <= 100; ++i) {
        const double evenly = i / 100.0;
        const double random = static_cast<double>(rng.next() % 1000000) / 1e6;
        for (double f : {evenly, random}) {
            const auto start = Clock::now();
            seek_fraction(*player, f);
            times.push_back(seconds_since(start));
        }
    }
    *worst = *std::max_element(times.begin(), times.end());
    *middle = median(times);
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    bool wrote = false;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--runs") == 0 && has_value) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--write-stress") == 0 && has_value) {
            wrote = song_gen::write_file(argv[++i], song_gen::stress_song()) || (std::exit(1), 0);
        } else if (std::strcmp(argv[i], "--write-dense") == 0 && has_value) {
            wrote = song_gen::write_file(argv[++i], song_gen::dense_song()) || (std::exit(1), 0);
        } else if (std::strcmp(argv[i], "--write-held") == 0 && has_value) {
            wrote = song_gen::write_file(argv[++i], song_gen::held_song(400)) || (std::exit(1), 0);
        } else if (std::strcmp(argv[i], "--write-waves") == 0 && has_value) {
            wrote =
                song_gen::write_file(argv[++i], song_gen::wave_upload_song()) || (std::exit(1), 0);
        } else if (std::strcmp(argv[i], "--write-long") == 0 && has_value) {
            wrote = song_gen::write_file(argv[++i], song_gen::dense_song(600)) || (std::exit(1), 0);
        } else {
            std::fprintf(stderr, "usage: bench_engine [--runs N] [--write-stress FILE] "
                                 "[--write-dense FILE] [--write-long FILE] [--write-held FILE] "
                                 "[--write-waves FILE]\n");
            return 2;
        }
    }
    if (wrote) return 0;

    const std::string stress = temp_song("stress", song_gen::stress_song());
    const std::string dense = temp_song("dense", song_gen::dense_song());
    const std::string longer = temp_song("long", song_gen::dense_song(600));
    std::printf("engine benchmark at %d Hz, one thread, best of %d runs\n", kRate, runs);

    std::vector<double> stress_speed, dense_speed, stress_cpu, dense_cpu;
    std::vector<double> cb_mean, cb_worst, seek_worst, seek_median;
    int fewest = kVoiceCount;
    for (int run = 0; run < runs; ++run) {
        int active = 0;
        const Speed stress_run = render_speed(stress, 60.0, &active);
        stress_speed.push_back(stress_run.wall);
        stress_cpu.push_back(stress_run.cpu);
        fewest = std::min(fewest, active);
        const Speed dense_run = render_speed(dense, 1e9, nullptr);
        dense_speed.push_back(dense_run.wall);
        dense_cpu.push_back(dense_run.cpu);
        double mean = 0, worst = 0;
        callback_cost(stress, 20.0, &mean, &worst);
        cb_mean.push_back(mean);
        cb_worst.push_back(worst);
        seek_cost(longer, &worst, &mean);
        seek_worst.push_back(worst);
        seek_median.push_back(mean);
    }
    auto best_max = [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    };
    auto best_min = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    std::printf("stress song, 46 voices, 60 s:   %8.1f x real time (%.1f x by CPU time; fewest "
                "voices %d)\n",
                best_max(stress_speed), best_max(stress_cpu), fewest);
    std::printf("dense song, to its end:         %8.1f x real time (%.1f x by CPU time)\n",
                best_max(dense_speed), best_max(dense_cpu));
    std::printf("seek in the 10-minute song:     %8.2f ms worst, %.2f ms median (202 seeks)\n",
                best_min(seek_worst) * 1e3, best_min(seek_median) * 1e3);
    std::printf("callback, %u frames, 46 voices: %8.3f %% of the block on average, %.3f %% worst\n",
                kBlock, best_min(cb_mean) * 100.0, best_min(cb_worst) * 100.0);
    return 0;
}
