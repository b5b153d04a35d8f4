#include "sequencer/event_loop.h"

#include <algorithm>

#include "sequencer/dispatch.h"
#include "sequencer/player.h"
#include "sequencer/playhead.h"
#include "song/song.h"
#include "synth/render.h"

namespace {

constexpr uint64_t kNoEventTime = UINT64_MAX;

bool applied_sysex(const Song& song, uint64_t from, uint64_t to) noexcept {
    for (uint64_t e = from; e < to && e < song.events.size(); ++e) {
        if (song.events[e].status == 0xF0) {
            return true;
        }
    }
    return false;
}

// The song's closing fade over `frames` frames rendered from `position`: exact integer steps,
// reaching silence at the song's end.
void apply_fade(const Song& song, uint64_t position, int16_t* out, uint64_t frames) noexcept {
    const uint64_t end = song.length_frames;
    const uint64_t start = end - song.fade_frames;
    for (uint64_t i = 0; i < frames; ++i) {
        const uint64_t p = position + i;
        if (p < start) continue;
        const int64_t left = p < end ? static_cast<int64_t>(end - p) : 0;
        const auto scale = static_cast<int64_t>(song.fade_frames);
        for (int c = 0; c < 2; ++c) {
            int16_t& sample = out[i * 2 + c];
            sample = static_cast<int16_t>(int64_t{sample} * left / scale);
        }
    }
}

} // namespace

RenderOutcome playhead_render(const Playhead& head, int16_t* out, uint32_t frames) noexcept {
    uint32_t done = 0;
    bool processed = false;
    // A SysEx message may upload a wave into a table an oscillator carries.
    OscillatorCache oscillators;
    for (;;) {
        const uint64_t cursor = head.cursor;
        dispatch_events(head, head.position);
        const Song& song = head.song;
        if (applied_sysex(song, cursor, head.cursor)) {
            oscillators.forget();
        }
        uint64_t n = frames - done;
        const bool event_left = head.cursor < song.events.size();
        const uint64_t t = event_left ? song.events[head.cursor].time : kNoEventTime;
        if (t != kNoEventTime) {
            // Dispatch leaves only later events; the guard keeps a stray one from stalling us.
            const uint64_t gap = t > head.position ? t - head.position : 1;
            n = gap < n ? gap : n;
        } else if (!synth_any_voice_active(head.synth)) {
            break;
        }
        const bool fading = song.fade_frames != 0;
        if (fading) {
            // A faded song stops at its end, whatever still sounds.
            if (head.position >= song.length_frames) break;
            n = std::min(n, song.length_frames - head.position);
        }
        int16_t* const block = out + static_cast<size_t>(done) * 2;
        synth_render_voices(head.synth, head.noise, oscillators, block, n);
        if (fading) apply_fade(song, head.position, block, n);
        head.position += n;
        done += static_cast<uint32_t>(n);
        processed = true;
        if (done >= frames) {
            break;
        }
    }
    if (processed && head.position < head.song.length_frames) {
        return {true, false};
    }
    if (head.song.fade_frames != 0) {
        return {processed, true};
    }
    if (processed && synth_any_voice_active(head.synth)) {
        return {true, false};
    }
    return {processed, true};
}

bool synth_render(Player& player, int16_t* out, uint32_t frames) noexcept {
    const RenderOutcome outcome = playhead_render(playhead_of(player), out, frames);
    if (outcome.finished) {
        set_status_locked(player, "Finished");
        player.active = false;
        player.paused = false;
        player.ended = true;
    }
    return outcome.processed;
}
