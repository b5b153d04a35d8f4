// The PipeWire playback stream that carries the synthesizer's output.
#pragma once

#include <cstdint>

// The PipeWire objects are only pointed to here, so that the records holding an AudioOutput
// need none of its headers.
struct Player;
struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_hook;

// The scratch buffer's size: PipeWire's largest quantum. A larger block is rendered in pieces.
constexpr uint32_t kScratchFrames = 8192;

struct AudioOutput {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook* stream_listener = nullptr;
    Player* player = nullptr;
    int16_t* scratch = nullptr; // sized before the stream starts; the callback never allocates
    uint64_t scratch_frames = 0;
    // Set on the PipeWire thread when the daemon goes away; read with audio_output_lost.
    int32_t lost = 0;
    // Process callbacks so far, counted on the PipeWire thread; read with audio_output_blocks.
    uint64_t blocks = 0;
    // Loudness levelling: the target is set with audio_output_set_gain and kept across a stop
    // and start; the callback alone moves `gain` towards it, linearly over `ramp_frames`.
    float gain_target = 1.0f;
    float gain = 1.0f;
    float ramp_to = 1.0f;
    float ramp_step = 0.0f;
    uint32_t ramp_frames = 2205; // 50 ms at the stream's rate
    // The stream's channel volume, a linear amplitude from 0 to 1. Kept across stop and start,
    // so the next stream gets it once it is connected; changed under the loop's lock.
    float volume = 1.0f;
    // PipeWire thread, under the loop's lock: the values lately set, so that their echoes are
    // not taken for the mixer's, and whether this stream has been given `volume` yet.
    float volume_sent[8] = {};
    uint32_t volume_sent_next = 0;
    int32_t volume_given = 0;
    // A volume set from elsewhere (the desktop's mixer), waiting for audio_output_take_volume.
    float volume_reported = 0.0f;
    int32_t volume_report_waiting = 0;
};

// Main thread only, without the Player lock held. On failure everything it made is gone again.
// `latency_frames` other than 0 asks the graph for that latency (node.latency), which it caps
// at its largest quantum; 0 leaves the block size to the graph.
bool audio_output_start(AudioOutput& audio, Player& player, uint32_t rate,
                        uint32_t latency_frames = 0);
// When this returns, no process callback is running or will run again.
void audio_output_stop(AudioOutput& audio);
// How many blocks the stream has asked for since it started. Main thread, any time.
uint64_t audio_output_blocks(AudioOutput& audio) noexcept;
// True once the running stream has lost its daemon: it will not play again until stopped
// and started anew. Main thread, any time.
bool audio_output_lost(AudioOutput& audio) noexcept;
// Main thread: the stream's channel volumes become `volume` (0 to 1, limited to that). At 1 the
// stream carries the samples unchanged.
void audio_output_set_volume(AudioOutput& audio, float volume);
// Main thread: true once, with `volume`, after the stream's volume was changed from outside.
bool audio_output_take_volume(AudioOutput& audio, float& volume) noexcept;

// The levelling gain the output ramps to (1: the samples exactly as rendered). Any thread.
void audio_output_set_gain(AudioOutput& audio, float gain) noexcept;
float audio_output_gain(AudioOutput& audio) noexcept;

// One mapped stream buffer as the process callback sees it: interleaved stereo float.
struct AudioBlockTarget {
    float* data = nullptr;
    uint32_t maxsize_bytes = 0;
    uint64_t requested = 0; // frames PipeWire asked for, 0 when it did not say
};

using AudioRenderFn = bool (*)(Player&, int16_t*, uint32_t) noexcept;

// Gives `audio` its scratch buffer of kScratchFrames frames unless it has one; false when out
// of memory. audio_output_start does this; tests that drive the callback body call it too.
bool audio_output_prepare_scratch(AudioOutput& audio);

// The body of the process callback: fills `target` from the Player (or with silence) and
// returns the number of frames written, or 0 when the buffer must go back unchanged (also when
// there is no scratch buffer).
// `render` is synth_render in the stream; tests substitute their own.
uint32_t audio_fill_block(AudioOutput& audio, const AudioBlockTarget& target,
                          AudioRenderFn render) noexcept;
