#include "audio/pipewire_output.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/props.h>

#include "audio/audio_status.h"
#include "sequencer/event_loop.h"
#include "sequencer/player.h"

#ifdef VELTA_AUDIO_PROBE
#include <unistd.h>

#include "audio/audio_probe.h"

AudioProbe& audio_probe() noexcept {
    static AudioProbe probe;
    return probe;
}

namespace {
void probe_callback_edge(bool entering) {
    AudioProbe& probe = audio_probe();
    int phase = probe.phase.load();
    if (entering) {
        probe.callbacks++;
        probe.callback_tid = static_cast<int>(gettid());
        if (phase == kProbeLoopStopped) probe.after_loop_stop++;
    }
    if (phase == kProbeStopReturned) probe.late++;
}
void probe_set_phase(int phase) {
    audio_probe().phase = phase;
}
} // namespace
#define PROBE(statement) statement
#else
#define PROBE(statement)
#endif

namespace {

constexpr uint32_t kStreamFrameBytes = 8;  // two float samples
constexpr uint32_t kScratchFrameBytes = 4; // two int16 samples
constexpr float kSampleScale = 1.0f / 32768.0f;

// Under the loop's lock. Both channels alike: the volume is the whole output's.
void send_volume(AudioOutput& audio) {
    float values[2] = {audio.volume, audio.volume};
    audio.volume_sent[audio.volume_sent_next] = audio.volume;
    audio.volume_sent_next = (audio.volume_sent_next + 1) % std::size(audio.volume_sent);
    audio.volume_given = 1;
    pw_stream_set_control(audio.stream, SPA_PROP_channelVolumes, 2, values, 0);
}

// PipeWire thread: a changed channel volume; ours come back here too and are told apart by
// value. The louder channel stands for both.
void on_control_info(void* data, uint32_t id, const pw_stream_control* control) {
    auto& audio = *static_cast<AudioOutput*>(data);
    if (id != SPA_PROP_channelVolumes || control == nullptr || control->n_values == 0 ||
        audio.volume_given == 0)
        return;
    float volume = 0.0f;
    for (uint32_t n = 0; n < control->n_values; ++n)
        volume = std::max(volume, control->values[n]);
    volume = std::clamp(volume, 0.0f, 1.0f);
    for (const float sent : audio.volume_sent)
        if (std::fabs(sent - volume) < 1e-4f) return;
    audio.volume = volume;
    std::atomic_ref<float>(audio.volume_reported).store(volume);
    std::atomic_ref<int32_t>(audio.volume_report_waiting).store(1);
}

void on_state_changed(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto& audio = *static_cast<AudioOutput*>(data);
    // Once connected, the stream gets our volume, whatever was remembered for its name.
    if ((state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) &&
        audio.volume_given == 0)
        send_volume(audio);
    // A daemon that goes away leaves the stream unconnected with an error, not in the error
    // state; either way the sound has stopped and the status must not say otherwise.
    bool lost = state == PW_STREAM_STATE_ERROR ||
                (state == PW_STREAM_STATE_UNCONNECTED && error != nullptr);
    if (!lost) return;
    std::atomic_ref<int32_t>(audio.lost).store(1);
    if (audio.player == nullptr) return;
    std::lock_guard guard(audio.player->lock);
    set_status_locked(*audio.player, kAudioLostText);
}

void on_process(void* data) {
    auto& audio = *static_cast<AudioOutput*>(data);
    PROBE(probe_callback_edge(true));
    std::atomic_ref<uint64_t>(audio.blocks).fetch_add(1, std::memory_order_relaxed);
    pw_buffer* buffer = pw_stream_dequeue_buffer(audio.stream);
    if (buffer != nullptr) {
        spa_buffer* spa = buffer->buffer;
        if (spa != nullptr && spa->n_datas != 0 && spa->datas[0].data != nullptr &&
            spa->datas[0].chunk != nullptr) {
            spa_data& block = spa->datas[0];
            AudioBlockTarget target{static_cast<float*>(block.data), block.maxsize,
                                    buffer->requested};
            uint32_t frames = audio_fill_block(audio, target, synth_render);
            if (frames != 0) {
                block.chunk->offset = 0;
                block.chunk->stride = kStreamFrameBytes;
                block.chunk->size = frames * kStreamFrameBytes;
            }
        }
        pw_stream_queue_buffer(audio.stream, buffer);
    }
    PROBE(probe_callback_edge(false));
}

constexpr pw_stream_events make_stream_events() {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = on_state_changed;
    events.process = on_process;
    events.control_info = on_control_info;
    return events;
}

constexpr pw_stream_events kStreamEvents = make_stream_events();

// Converts with the levelling gain, one step of the ramp per frame until it reaches the target.
void convert_with_gain(AudioOutput& audio, const int16_t* in, float* out, uint32_t frames) {
    const float target = std::atomic_ref<float>(audio.gain_target).load(std::memory_order_relaxed);
    if (target != audio.ramp_to) {
        audio.ramp_to = target;
        audio.ramp_step = (target - audio.gain) / static_cast<float>(audio.ramp_frames);
    }
    for (uint32_t frame = 0; frame < frames; frame++) {
        if (audio.gain != audio.ramp_to) {
            const float before = audio.gain;
            audio.gain += audio.ramp_step;
            // Past the target, or a step too small to move the gain at all: there.
            const bool past =
                audio.ramp_step > 0 ? audio.gain > audio.ramp_to : audio.gain < audio.ramp_to;
            if (past || audio.gain == before) audio.gain = audio.ramp_to;
        }
        out[2 * frame] = static_cast<float>(in[2 * frame]) * kSampleScale * audio.gain;
        out[2 * frame + 1] = static_cast<float>(in[2 * frame + 1]) * kSampleScale * audio.gain;
    }
}

} // namespace

uint32_t audio_fill_block(AudioOutput& audio, const AudioBlockTarget& target,
                          AudioRenderFn render) noexcept {
    // PipeWire's request is a hint: it is not promised to fit the mapped block.
    uint32_t capacity = target.maxsize_bytes / kStreamFrameBytes;
    uint32_t frames = static_cast<uint32_t>(target.requested);
    if (frames == 0 || frames > capacity) frames = capacity;
    if (frames == 0) return 0;

    if (audio.scratch == nullptr || audio.scratch_frames == 0) return 0;
    memset(target.data, 0, size_t{frames} * kStreamFrameBytes);

    // A block larger than the scratch buffer goes in pieces, each rendered under the lock as a
    // block of its own would be.
    Player& player = *audio.player;
    for (uint32_t done = 0; done < frames;) {
        const auto piece =
            static_cast<uint32_t>(std::min<uint64_t>(frames - done, audio.scratch_frames));
        std::unique_lock guard(player.lock);
        memset(audio.scratch, 0, size_t{piece} * kScratchFrameBytes);
        bool rendered = false;
        if (player.active && !player.paused && !player.song.events.empty())
            rendered = render(player, audio.scratch, piece);
        guard.unlock();
        if (!rendered) break;
        const int16_t* in = audio.scratch;
        float* out = target.data + size_t{done} * 2;
        // Levelling off (or settled at unity): the samples exactly as they always were.
        if (audio.gain == 1.0f &&
            std::atomic_ref<float>(audio.gain_target).load(std::memory_order_relaxed) == 1.0f) {
            for (size_t i = 0; i < size_t{piece} * 2; i++)
                out[i] = static_cast<float>(in[i]) * kSampleScale;
        } else {
            convert_with_gain(audio, in, out, piece);
        }
        done += piece;
    }
    return frames;
}

bool audio_output_prepare_scratch(AudioOutput& audio) {
    if (audio.scratch != nullptr) return true;
    audio.scratch = static_cast<int16_t*>(malloc(size_t{kScratchFrames} * kScratchFrameBytes));
    audio.scratch_frames = audio.scratch != nullptr ? kScratchFrames : 0;
    return audio.scratch != nullptr;
}

namespace {

// The stream, connected and listened to, on a thread loop that is not running yet; the caller
// holds the loop's lock. False at the first step that fails; what was made is left for
// audio_output_stop.
bool connect_stream(AudioOutput& audio, uint32_t rate, uint32_t latency_frames) {
    audio.context = pw_context_new(pw_thread_loop_get_loop(audio.loop), nullptr, 0);
    if (audio.context == nullptr) return false;
    audio.core = pw_context_connect(audio.context, nullptr, 0);
    if (audio.core == nullptr) return false;

    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
        PW_KEY_APP_NAME, "VELTA", PW_KEY_NODE_NAME, "velta", nullptr);
    if (props != nullptr && latency_frames != 0)
        pw_properties_setf(props, PW_KEY_NODE_LATENCY, "%u/%u", latency_frames, rate);
    audio.stream = pw_stream_new(audio.core, "VELTA", props);
    if (audio.stream == nullptr) return false;
    audio.stream_listener = new spa_hook{};
    pw_stream_add_listener(audio.stream, audio.stream_listener, &kStreamEvents, &audio);

    uint8_t pod_buffer[1024];
    spa_pod_builder builder{};
    builder.data = pod_buffer;
    builder.size = sizeof pod_buffer;
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32_LE;
    info.rate = rate;
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};

    auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    return pw_stream_connect(audio.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) >= 0;
}

} // namespace

void audio_output_set_gain(AudioOutput& audio, float gain) noexcept {
    std::atomic_ref<float>(audio.gain_target).store(gain, std::memory_order_relaxed);
}

float audio_output_gain(AudioOutput& audio) noexcept {
    return std::atomic_ref<float>(audio.gain_target).load(std::memory_order_relaxed);
}

bool audio_output_start(AudioOutput& audio, Player& player, uint32_t rate,
                        uint32_t latency_frames) {
    const float gain = audio_output_gain(audio);
    const float volume = audio.volume;
    audio = AudioOutput{};
    audio.gain_target = audio.gain = audio.ramp_to = gain;
    audio.ramp_frames = std::max<uint32_t>(rate / 20, 1);
    audio.volume = volume;
    audio.player = &player;
    PROBE(probe_set_phase(kProbeRunning));
    if (!audio_output_prepare_scratch(audio)) return false;

    pw_init(nullptr, nullptr);
    audio.loop = pw_thread_loop_new("velta-audio", nullptr);
    bool started = audio.loop != nullptr;
    if (started) {
        pw_thread_loop_lock(audio.loop);
        started = connect_stream(audio, rate, latency_frames);
        pw_thread_loop_unlock(audio.loop);
    }
    if (started) started = pw_thread_loop_start(audio.loop) == 0;
    if (!started) audio_output_stop(audio);
    return started;
}

uint64_t audio_output_blocks(AudioOutput& audio) noexcept {
    return std::atomic_ref<uint64_t>(audio.blocks).load(std::memory_order_relaxed);
}

bool audio_output_lost(AudioOutput& audio) noexcept {
    return std::atomic_ref<int32_t>(audio.lost).load() != 0;
}

void audio_output_set_volume(AudioOutput& audio, float volume) {
    volume = std::isnan(volume) ? 1.0f : std::clamp(volume, 0.0f, 1.0f);
    if (audio.loop == nullptr) {
        audio.volume = volume;
        return;
    }
    pw_thread_loop_lock(audio.loop);
    audio.volume = volume;
    // Before it is connected the stream is given it on the way (on_state_changed).
    if (audio.stream != nullptr && audio.volume_given != 0) send_volume(audio);
    pw_thread_loop_unlock(audio.loop);
}

bool audio_output_take_volume(AudioOutput& audio, float& volume) noexcept {
    if (std::atomic_ref<int32_t>(audio.volume_report_waiting).exchange(0) == 0) return false;
    volume = std::atomic_ref<float>(audio.volume_reported).load();
    return true;
}

void audio_output_stop(AudioOutput& audio) {
    if (audio.loop != nullptr) {
        pw_thread_loop_stop(audio.loop);
        PROBE(probe_set_phase(kProbeLoopStopped));
        pw_thread_loop_lock(audio.loop);
    }
    if (audio.stream != nullptr) {
        // The process callback runs on the context's data loop, which outlives the thread
        // loop; disconnecting takes the node out of that loop and waits until it has left.
        pw_stream_disconnect(audio.stream);
        if (audio.stream_listener != nullptr) spa_hook_remove(audio.stream_listener);
        pw_stream_destroy(audio.stream);
    }
    delete audio.stream_listener;
    if (audio.core != nullptr) pw_core_disconnect(audio.core);
    if (audio.context != nullptr) pw_context_destroy(audio.context);
    if (audio.loop != nullptr) {
        pw_thread_loop_unlock(audio.loop);
        pw_thread_loop_destroy(audio.loop);
    }
    free(audio.scratch);
    const float gain = audio_output_gain(audio);
    const float volume = audio.volume;
    audio = AudioOutput{};
    audio.gain_target = audio.gain = audio.ramp_to = gain;
    audio.volume = volume;
    PROBE(probe_set_phase(kProbeStopReturned));
}
