// Export speed: the window's background export (worker thread at a lower priority, temporary
// file, fsync, rename) against the same render straight into a file as velta-render does it.
//   bench_export SONG.mid OUT_FOLDER     best of 3 runs each
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "export/export_job.h"
#include "export/wav_render.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double time_direct(const std::string& song, const std::string& out) {
    const auto start = std::chrono::steady_clock::now();
    WavRenderer renderer;
    int error_number = 0;
    if (!wav_render_load(renderer, WavRenderSettings{}, song.c_str(), error_number)) return -1;
    FILE* file = std::fopen(out.c_str(), "wb");
    if (file == nullptr) return -1;
    wav_render_write(renderer, file, WavRenderControl{});
    std::fclose(file);
    return seconds_since(start);
}

double time_job(const std::string& song, const std::string& out) {
    ExportRequest request;
    request.song_path = song;
    request.output_path = out;
    const auto start = std::chrono::steady_clock::now();
    ExportJob job;
    export_job_start(job, request);
    std::string text;
    while (!export_job_poll(job, text) || export_job_busy(job)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return seconds_since(start);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: bench_export SONG.mid OUT_FOLDER\n", stderr);
        return 1;
    }
    const std::string song = argv[1];
    const std::string folder = argv[2];
    double direct = 1e9;
    double job = 1e9;
    for (int run = 0; run < 3; ++run) {
        direct = std::min(direct, time_direct(song, folder + "/bench-direct.wav"));
        job = std::min(job, time_job(song, folder + "/bench-job.wav"));
    }
    std::remove((folder + "/bench-direct.wav").c_str());
    std::remove((folder + "/bench-job.wav").c_str());
    std::printf("render straight to a file (velta-render's path): %.3f s\n", direct);
    std::printf("background export job (nice +10, temp file, fsync, rename): %.3f s\n", job);
    return 0;
}
