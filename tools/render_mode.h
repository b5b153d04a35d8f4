#pragma once

#include <cstdint>
#include <string>

struct RenderOptions {
    int32_t rate = 44100;
    int32_t instrument_set = 0;
    uint32_t block_frames = 1024;
    bool seek_given = false;
    double seek_fraction = 0.0;
    double max_seconds = 900.0;
    std::string input_path;
    std::string output_path; // "-" for standard output
};

// Renders input_path to a 16-bit stereo WAV file. Returns the process exit status:
// 0 done, 2 the song did not load (message on stderr), 3 the output could not be written.
int render_to_wav(const RenderOptions& options);
