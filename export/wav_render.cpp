#include "export/wav_render.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "synth/synth.h"

namespace {

constexpr uint32_t kWavHeaderBytes = 44;
constexpr uint32_t kBytesPerFrame = 4;
// The RIFF size fields are 32-bit: never write more PCM than they can describe.
constexpr uint64_t kMaxWavFrames = (UINT32_MAX - (kWavHeaderBytes - 8)) / kBytesPerFrame;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

void put_u16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void put_u32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// The size fields are kUnknownSize when `frames` is not known yet.
void wav_header(uint8_t* out, uint32_t rate, uint64_t frames, bool sizes_known) {
    const auto data_bytes = static_cast<uint32_t>(frames * kBytesPerFrame);
    std::memcpy(out, "RIFF", 4);
    put_u32(out + 4, sizes_known ? data_bytes + kWavHeaderBytes - 8 : kUnknownSize);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put_u32(out + 16, 16); // fmt chunk size
    put_u16(out + 20, 1);  // PCM
    put_u16(out + 22, 2);  // channels
    put_u32(out + 24, rate);
    put_u32(out + 28, rate * kBytesPerFrame);
    put_u16(out + 32, kBytesPerFrame);
    put_u16(out + 34, 16); // bits per sample
    std::memcpy(out + 36, "data", 4);
    put_u32(out + 40, sizes_known ? data_bytes : kUnknownSize);
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

// Where the PCM goes, as it is rendered.
struct WavSink {
    FILE* file = nullptr;
    long header_at = -1; // where the header starts, when the output can seek back there
    int error_number = 0;
    std::vector<char> buffer;
};

long seekable_position(FILE* file) {
    const int fd = fileno(file);
    struct stat info = {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (fcntl(fd, F_GETFL) & O_APPEND) != 0) {
        return -1;
    }
    return std::ftell(file);
}

bool sink_failed(const WavSink& sink) {
    return sink.error_number != 0;
}

void sink_fail(WavSink& sink) {
    sink.error_number = errno != 0 ? errno : EIO;
}

void sink_open(WavSink& sink, FILE* file, uint32_t rate) {
    sink.file = file;
    sink.buffer.resize(1 << 20);
    std::setvbuf(sink.file, sink.buffer.data(), _IOFBF, sink.buffer.size());
    sink.header_at = seekable_position(sink.file);
    uint8_t header[kWavHeaderBytes];
    wav_header(header, rate, 0, false);
    errno = 0;
    if (std::fwrite(header, 1, sizeof header, sink.file) != sizeof header) {
        sink_fail(sink);
    }
}

void sink_write(WavSink& sink, const int16_t* samples, size_t bytes) {
    errno = 0;
    if (!sink_failed(sink) && std::fwrite(samples, 1, bytes, sink.file) != bytes) {
        sink_fail(sink);
    }
}

// Writes the final sizes where the output can seek back and flushes it. False on any error.
bool sink_finish(WavSink& sink, uint32_t rate, uint64_t frames) {
    errno = 0;
    if (!sink_failed(sink) && std::fflush(sink.file) != 0) {
        sink_fail(sink);
    }
    if (!sink_failed(sink) && sink.header_at >= 0) {
        uint8_t header[kWavHeaderBytes];
        wav_header(header, rate, frames, true);
        if (std::fseek(sink.file, sink.header_at, SEEK_SET) != 0 ||
            std::fwrite(header, 1, sizeof header, sink.file) != sizeof header ||
            std::fflush(sink.file) != 0) {
            sink_fail(sink);
        }
    }
    std::fflush(sink.file);
    std::setvbuf(sink.file, nullptr, _IONBF, 0); // the buffer goes away with the sink
    sink.file = nullptr;
    return !sink_failed(sink);
}

// As the synthesizer's own conversion to PCM: clip to +-32767, round to nearest even.
void apply_gain(int16_t* samples, size_t count, float gain) {
    for (size_t i = 0; i < count; ++i) {
        const float value = std::clamp(static_cast<float>(samples[i]) * gain, -32767.0f, 32767.0f);
        samples[i] = static_cast<int16_t>(std::lrintf(value));
    }
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

bool wav_render_load(WavRenderer& renderer, const WavRenderSettings& settings, const char* path,
                     int& error_number) {
    Player& player = *renderer.player;
    synth_init(player, settings.rate);
    player_set_song_loops(player, settings.song_loops);
    {
        std::lock_guard guard(player.lock);
        synth_select_instrument_set(player.synth, settings.instrument_set);
        synth_set_auto_detune(player.synth, settings.auto_detune);
        // Mute flags survive loading and every synthesizer reset, as in the window.
        for (int channel = 0; channel < kChannelCount; ++channel) {
            player.synth.channels[channel].mute = settings.muted[channel] ? 1 : 0;
        }
    }
    error_number = 0;
    if (!load_song(player, path, &error_number)) {
        return false;
    }
    start_playback(player);
    if (settings.seek_given) {
        seek_fraction(player, settings.seek_fraction);
    }
    std::lock_guard guard(player.lock);
    renderer.rate = static_cast<uint32_t>(player.synth.sample_rate);
    renderer.limit_frames = frame_limit(settings.max_seconds, renderer.rate);
    renderer.song_frames = player.song.length_frames;
    renderer.block_frames = std::max<uint32_t>(settings.block_frames, 1);
    return true;
}

WavRenderOutcome wav_render_write(WavRenderer& renderer, FILE* out,
                                  const WavRenderControl& control) {
    Player& player = *renderer.player;
    const uint32_t rate = renderer.rate;
    const uint32_t block_frames = renderer.block_frames;
    const uint64_t limit = renderer.limit_frames;
    // Percentages count from where the transport starts (a seek may have moved it).
    uint64_t start_position = 0;
    {
        std::lock_guard guard(player.lock);
        start_position = player.position;
    }
    const uint64_t expected =
        std::min(limit, renderer.song_frames - std::min(renderer.song_frames, start_position));

    WavRenderOutcome outcome;
    WavSink sink;
    sink_open(sink, out, rate);
    std::vector<int16_t> block(static_cast<size_t>(block_frames) * 2);
    uint64_t written = 0;
    uint64_t next_progress = 0;
    while (written < limit && !sink_failed(sink)) {
        if (control.cancel != nullptr && control.cancel->load(std::memory_order_relaxed)) {
            outcome.result = WavRenderResult::kCancelled;
            break;
        }
        std::fill(block.begin(), block.end(), 0);
        bool rendered = false;
        bool finished = false;
        {
            std::lock_guard guard(player.lock);
            rendered = synth_render(player, block.data(), block_frames);
            finished = !player.active;
        }
        if (!rendered) {
            break;
        }
        const uint64_t frames = std::min<uint64_t>(block_frames, limit - written);
        if (control.gain != 1.0f) apply_gain(block.data(), frames * 2, control.gain);
        to_little_endian(block.data(), frames * 2);
        sink_write(sink, block.data(), frames * kBytesPerFrame);
        written += frames;
        if (control.percent != nullptr && expected > 0) {
            const auto percent =
                static_cast<int32_t>(std::min<uint64_t>(written * 100 / expected, 99));
            control.percent->store(percent, std::memory_order_relaxed);
        }
        if (control.on_progress && written >= next_progress) {
            control.on_progress(written);
            next_progress = written + rate;
        }
        if (finished) {
            break;
        }
    }
    if (control.on_progress) {
        control.on_progress(written);
    }
    outcome.frames = written;
    if (!sink_finish(sink, rate, written) && outcome.result != WavRenderResult::kCancelled) {
        outcome.result = WavRenderResult::kWriteFailed;
        outcome.error_number = sink.error_number;
    }
    return outcome;
}
