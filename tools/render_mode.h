#pragma once

#include <cstdint>
#include <string>

#include "export/wav_render.h"

struct Player;

// The process exit status of velta-render.
enum ExitStatus : int { kExitDone = 0, kExitUsage = 1, kExitLoad = 2, kExitOutput = 3 };

struct RenderOptions {
    WavRenderSettings settings = {.max_seconds = 900.0};
    std::string input_path;
    std::string output_path; // "-" for standard output
    bool normalize = false;  // measure first, then write at the levelling target
};

// Prints "velta-render: NAME: MESSAGE (REASON)" on stderr; without a reason when
// `error_number` is 0.
void report_error(const std::string& name, const char* message, int error_number);

// Loads `path` into the player; on failure reports the status text and the reason.
bool load_or_report(Player& player, const std::string& path);

// Renders input_path to a 16-bit stereo WAV file and returns the exit status. Standard output
// is streamed: when it cannot seek back, the two size fields stay 0xFFFFFFFF ("unknown").
int render_to_wav(const RenderOptions& options);

// Prints "integrated -23.52 LUFS, true peak -1.20 dBTP" for the song as render_to_wav would
// write it ("-inf" for silence) and returns the exit status.
int print_loudness(const RenderOptions& options);
