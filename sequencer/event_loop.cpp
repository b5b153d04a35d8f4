#include "sequencer/event_loop.h"

#include "sequencer/dispatch.h"
#include "sequencer/player.h"
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

bool synth_render(Player& player, int16_t* out, uint32_t frames) noexcept {
    uint32_t done = 0;
    bool processed = false;
    // A SysEx message may upload a wave into a table an oscillator carries.
    OscillatorCache oscillators;
    for (;;) {
        const uint64_t cursor = player.cursor;
        dispatch_events(player, player.position);
        const Song& song = player.song;
        if (applied_sysex(song, cursor, player.cursor)) {
            oscillators.forget();
        }
        uint64_t n = frames - done;
        const bool event_left = player.cursor < song.events.size();
        const uint64_t t = event_left ? song.events[player.cursor].time : kNoEventTime;
        if (t != kNoEventTime) {
            // Dispatch leaves only later events; the guard keeps a stray one from stalling us.
            const uint64_t gap = t > player.position ? t - player.position : 1;
            n = gap < n ? gap : n;
        } else if (!synth_any_voice_active(player.synth)) {
            break;
        }
        synth_render_voices(player.synth, player.noise, oscillators,
                            out + static_cast<size_t>(done) * 2, n);
        player.position += n;
        done += static_cast<uint32_t>(n);
        processed = true;
        if (done >= frames) {
            break;
        }
    }
    if (processed && player.position < player.song.length_frames) {
        return true;
    }
    if (processed && synth_any_voice_active(player.synth)) {
        return true;
    }
    set_status_locked(player, "Finished");
    player.active = false;
    player.paused = false;
    return processed;
}
