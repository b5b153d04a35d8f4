#include "sequencer/event_loop.h"

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
        synth_render_voices(head.synth, head.noise, oscillators,
                            out + static_cast<size_t>(done) * 2, n);
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
