#include "tools/render_mode.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"

namespace {

constexpr uint32_t kWavHeaderBytes = 44;
constexpr uint32_t kBytesPerFrame = 4;
// The RIFF size fields are 32-bit: never write more PCM than they can describe.
constexpr uint64_t kMaxWavFrames = (UINT32_MAX - (kWavHeaderBytes - 8)) / kBytesPerFrame;

void put_u16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void put_u32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void wav_header(uint8_t* out, uint32_t rate, uint64_t frames) {
    const auto data_bytes = static_cast<uint32_t>(frames * kBytesPerFrame);
    std::memcpy(out, "RIFF", 4);
    put_u32(out + 4, data_bytes + kWavHeaderBytes - 8);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put_u32(out + 16, 16); // fmt chunk size
    put_u16(out + 20, 1);  // PCM
    put_u16(out + 22, 2);  // channels
    put_u32(out + 24, rate);
    put_u32(out + 28, rate * kBytesPerFrame);
    put_u16(out + 32, kBytesPerFrame);
    put_u16(out + 34, 16); // bits per sample
    std::memcpy(out + 36, "data", 4);
    put_u32(out + 40, data_bytes);
}

// Samples become little-endian in place; a no-op on the hosts we build for.
void to_little_endian(int16_t* samples, size_t count) {
    if constexpr (std::endian::native == std::endian::big) {
        for (size_t i = 0; i < count; ++i) {
            const auto value = static_cast<uint16_t>(samples[i]);
            samples[i] = static_cast<int16_t>(static_cast<uint16_t>((value << 8) | (value >> 8)));
        }
    } else {
        (void)samples;
        (void)count;
    }
}

// Where the PCM goes: a seekable file is streamed and its header patched at the end; standard
// output may be a pipe, so everything is kept in memory and written once with exact sizes.
struct WavSink {
    FILE* file = nullptr;
    bool to_stdout = false;
    bool failed = false;
    std::vector<uint8_t> memory;
    std::vector<char> file_buffer;
};

bool sink_open(WavSink& sink, const std::string& path) {
    if (path == "-") {
        sink.to_stdout = true;
        sink.file = stdout;
        return true;
    }
    sink.file = std::fopen(path.c_str(), "wb");
    if (sink.file == nullptr) {
        return false;
    }
    sink.file_buffer.resize(1 << 20);
    std::setvbuf(sink.file, sink.file_buffer.data(), _IOFBF, sink.file_buffer.size());
    uint8_t header[kWavHeaderBytes] = {};
    if (std::fwrite(header, 1, sizeof header, sink.file) != sizeof header) {
        sink.failed = true;
    }
    return true;
}

void sink_write(WavSink& sink, const int16_t* samples, size_t bytes) {
    if (sink.failed) {
        return;
    }
    if (sink.to_stdout) {
        const auto* begin = reinterpret_cast<const uint8_t*>(samples);
        sink.memory.insert(sink.memory.end(), begin, begin + bytes);
    } else if (std::fwrite(samples, 1, bytes, sink.file) != bytes) {
        sink.failed = true;
    }
}

// Writes the header with the final sizes and closes the output. False on any write error.
bool sink_finish(WavSink& sink, uint32_t rate, uint64_t frames) {
    uint8_t header[kWavHeaderBytes];
    wav_header(header, rate, frames);
    if (sink.to_stdout) {
        bool ok =
            std::fwrite(header, 1, sizeof header, stdout) == sizeof header &&
            std::fwrite(sink.memory.data(), 1, sink.memory.size(), stdout) == sink.memory.size();
        return std::fflush(stdout) == 0 && ok;
    }
    bool ok = !sink.failed && std::fflush(sink.file) == 0 &&
              std::fseek(sink.file, 0, SEEK_SET) == 0 &&
              std::fwrite(header, 1, sizeof header, sink.file) == sizeof header;
    ok = std::fclose(sink.file) == 0 && ok;
    sink.file = nullptr;
    return ok;
}

void show_progress(uint64_t frames, uint32_t rate) {
    std::fprintf(stderr, "\rvelta-render: %.1f s", static_cast<double>(frames) / rate);
    std::fflush(stderr);
}

// floor(seconds × rate) frames, saturating at what a WAV file can hold.
uint64_t frame_limit(double seconds, uint32_t rate) {
    const double frames = std::floor(seconds * rate);
    if (!(frames > 0.0)) {
        return 0;
    }
    if (frames >= static_cast<double>(kMaxWavFrames)) {
        return kMaxWavFrames;
    }
    return static_cast<uint64_t>(frames);
}

} // namespace

int render_to_wav(const RenderOptions& options) {
    auto player = std::make_unique<Player>();
    synth_init(*player, options.rate);
    {
        std::lock_guard guard(player->lock);
        synth_select_instrument_set(player->synth, options.instrument_set);
    }
    if (!load_song(*player, options.input_path.c_str())) {
        std::lock_guard guard(player->lock);
        std::fprintf(stderr, "velta-render: %s\n", player->status_text);
        return 2;
    }
    start_playback(*player);
    if (options.seek_given) {
        seek_fraction(*player, options.seek_fraction);
    }

    const auto rate = static_cast<uint32_t>(player->synth.sample_rate);
    const uint64_t limit = frame_limit(options.max_seconds, rate);
    const uint32_t block_frames = std::max<uint32_t>(options.block_frames, 1);

    WavSink sink;
    if (!sink_open(sink, options.output_path)) {
        std::fprintf(stderr, "velta-render: cannot write %s: %s\n", options.output_path.c_str(),
                     std::strerror(errno));
        return 3;
    }
    const bool progress = isatty(STDERR_FILENO) != 0;
    std::vector<int16_t> block(static_cast<size_t>(block_frames) * 2);
    uint64_t written = 0;
    uint64_t next_progress = 0;
    while (written < limit && !sink.failed) {
        std::fill(block.begin(), block.end(), 0);
        bool rendered = false;
        bool finished = false;
        {
            std::lock_guard guard(player->lock);
            rendered = synth_render(*player, block.data(), block_frames);
            finished = player->active == 0;
        }
        if (!rendered) {
            break;
        }
        const uint64_t frames = std::min<uint64_t>(block_frames, limit - written);
        to_little_endian(block.data(), frames * 2);
        sink_write(sink, block.data(), frames * kBytesPerFrame);
        written += frames;
        if (progress && written >= next_progress) {
            show_progress(written, rate);
            next_progress = written + rate;
        }
        if (finished) {
            break;
        }
    }
    if (progress) {
        show_progress(written, rate);
        std::fputc('\n', stderr);
    }
    if (!sink_finish(sink, rate, written)) {
        std::fprintf(stderr, "velta-render: cannot write %s\n", options.output_path.c_str());
        return 3;
    }
    return 0;
}
