#include "sequencer/seek.h"

#include <algorithm>
#include <array>

#include "sequencer/dispatch.h"
#include "sequencer/event_loop.h"
#include "sequencer/player.h"
#include "sequencer/playhead.h"
#include "song/song.h"
#include "synth/synth.h"
#include "synth/voice.h"

namespace {

constexpr uint32_t kSeekBlockFrames = 1024;

} // namespace

void seek_begin(Player& player, uint64_t target, bool preroll, SeekJob& job) noexcept {
    job.synth = player.synth;
    job.noise = player.noise;
    job.noise_start = player.noise.drawn();
    job.song = &player.song;
    job.generation = player.generation;
    job.target =
        player.song.length_frames != 0 ? std::min(target, player.song.length_frames) : target;
    job.preroll = preroll;
}

void seek_render(SeekJob& job) noexcept {
    const Song& song = *job.song;
    reset_synth(job.synth);
    job.position = 0;
    job.cursor = 0;
    job.finished = false;
    const Playhead head{job.synth, job.noise, song, job.position, job.cursor};

    // Half a second of real rendering before the target gives sounding notes natural envelopes;
    // everything earlier is only dispatched.
    const uint64_t target = job.target;
    const int32_t rate = job.synth.sample_rate;
    const uint64_t preroll = rate > 0 ? static_cast<uint64_t>(rate / 2) : 22050;
    const uint64_t start = target - std::min(preroll, target);
    if (start > 0) {
        dispatch_events(head, start);
        job.position = start;
    }
    std::array<int16_t, kSeekBlockFrames * 2> scratch;
    bool running = job.preroll && !song.events.empty();
    while (running && job.position < target) {
        scratch.fill(0);
        const auto frames =
            static_cast<uint32_t>(std::min<uint64_t>(target - job.position, kSeekBlockFrames));
        const RenderOutcome outcome = playhead_render(head, scratch.data(), frames);
        job.finished = job.finished || outcome.finished;
        running = !outcome.finished && outcome.processed;
    }
    dispatch_events(head, target);
    job.position = target;

    // The waves a reset keeps and the noise the audio thread goes on drawing meanwhile are
    // taken at the swap: work out here what it needs for them.
    std::fill(std::begin(job.uploaded), std::end(job.uploaded), false);
    for (uint64_t e = 0; e < job.cursor; ++e) {
        const int32_t slot = sysex_wave_slot(song, song.events[e]);
        if (slot >= 0) {
            job.uploaded[slot] = true;
        }
    }
    NoiseGenerator::plan_skip(job.noise.drawn() - job.noise_start, job.noise_skip);
    for (int v = 0; v < kVoiceCount; ++v) {
        const uint64_t draw = job.synth.voices[v].noise_draw;
        job.voice_draw[v] = draw > job.noise_start ? draw - job.noise_start : 0;
        if (job.voice_draw[v] != 0) {
            job.voice_leap[v] = NoiseGenerator::leap(job.voice_draw[v]);
        }
    }
}

bool seek_finish(Player& player, const SeekJob& job) noexcept {
    if (player.generation != job.generation) {
        return false;
    }
    SynthState& live = player.synth;
    const SynthState& seek = job.synth;
    for (int n = 0; n < kChannelCount; ++n) {
        const int32_t mute = live.channels[n].mute;
        live.channels[n] = seek.channels[n];
        live.channels[n].mute = mute;
    }
    synth_take_voices(live, seek);
    live.custom_wave_mode = seek.custom_wave_mode;
    live.custom_waves_present = seek.custom_waves_present;
    // A reset keeps uploaded waves: the slots the seek's events did not write keep whatever
    // the audio thread has uploaded since seek_begin.
    for (int slot = 0; slot < kWaveSlots; ++slot) {
        if (job.uploaded[slot]) {
            std::copy(std::begin(seek.custom_wave_bank[slot]),
                      std::end(seek.custom_wave_bank[slot]), live.custom_wave_bank[slot]);
            std::copy(std::begin(seek.custom_wave_bytes[slot]),
                      std::end(seek.custom_wave_bytes[slot]), live.custom_wave_bytes[slot]);
        }
    }
    // The pre-roll's draws come after the audio thread's, as they would have under the lock.
    for (int v = 0; v < kVoiceCount; ++v) {
        if (job.voice_draw[v] != 0) {
            Voice& voice = live.voices[v];
            voice.noise_value = noise_sample(player.noise.peek(job.voice_leap[v]));
            voice.noise_draw = player.noise.drawn() + job.voice_draw[v];
        }
    }
    player.noise.skip(job.noise_skip);
    player.position = job.position;
    player.cursor = job.cursor;
    return true;
}
