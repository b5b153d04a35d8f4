#include "sequencer/transport.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/clock_text.h"
#include "sequencer/player.h"
#include "sequencer/seek.h"
#include "synth/synth.h"

namespace {

// "Position: 1:23 of 4:56".
void set_position_status(Player& player) {
    const int64_t rate = player.output_rate;
    char text[80];
    std::snprintf(text, sizeof text, "Position: %s of %s",
                  clock_text(frames_to_seconds(player.position, rate)).text,
                  clock_text(frames_to_seconds(player.song.length_frames, rate)).text);
    set_status_locked(player, text);
}

// length × fraction, truncated; a product beyond the 64-bit range saturates instead of
// overflowing the conversion (seek_begin limits it to the song length anyway).
uint64_t fraction_to_frame(uint64_t length, double fraction) {
    const double target = static_cast<double>(length) * fraction;
    if (!(target > 0.0)) {
        return 0;
    }
    if (target >= 18446744073709551616.0) {
        return UINT64_MAX;
    }
    return static_cast<uint64_t>(target);
}

} // namespace

void start_playback(Player& player) {
    std::lock_guard guard(player.lock);
    if (player.song.events.empty()) {
        set_status_locked(player, "No MIDI loaded");
        return;
    }
    // A stopped transport starts where a seek left it (the seek rebuilt the synthesizer there);
    // after "Finished", or sought to the very end, from the top.
    if (!player.active && (player.ended || player.position >= player.song.length_frames)) {
        reset_synth(player.synth);
        player.position = 0;
        player.cursor = 0;
    }
    player.active = true;
    player.paused = false;
    player.ended = false;
    set_status_locked(player, "Playing");
}

void stop_playback(Player& player) {
    std::lock_guard guard(player.lock);
    player.position = 0;
    player.cursor = 0;
    player.active = false;
    player.paused = false;
    player.ended = false;
    reset_synth(player.synth);
    set_status_locked(player, "Stopped");
}

void toggle_pause(Player& player) {
    std::lock_guard guard(player.lock);
    if (!player.active) {
        return;
    }
    player.paused = !player.paused;
    set_status_locked(player, player.paused ? "Paused" : "Resumed");
}

namespace {

// `fraction` < 0: seek to `frame`; otherwise to that share of the song. The status line says
// where the seek landed.
void seek_unlocked(Player& player, double fraction, uint64_t frame) {
    // Allocated before the lock is taken; the pre-roll renders between the two locked steps.
    const auto job = std::make_unique<SeekJob>();
    {
        std::lock_guard guard(player.lock);
        if (player.song.length_frames == 0 || player.song.events.empty()) {
            return;
        }
        if (fraction >= 0.0) frame = fraction_to_frame(player.song.length_frames, fraction);
        // The pre-roll renders as on a running transport, whatever this one is doing.
        seek_begin(player, frame, true, *job);
    }
    seek_render(*job);
    std::lock_guard guard(player.lock);
    if (seek_finish(player, *job)) {
        player.ended = false;
        set_position_status(player);
    }
}

} // namespace

void seek_fraction(Player& player, double fraction) {
    if (std::isnan(fraction) || fraction < 0.0) {
        fraction = 0.0;
    } else if (fraction > 1.0) {
        fraction = 1.0;
    }
    seek_unlocked(player, fraction, 0);
}

void seek_to_frame(Player& player, uint64_t frame) {
    seek_unlocked(player, -1.0, frame);
}

void seek_frame(Player& player, uint64_t target) {
    const auto job = std::make_unique<SeekJob>();
    seek_begin(player, target, player.active && !player.paused, *job);
    seek_render(*job);
    if (seek_finish(player, *job)) player.ended = false;
    if (job->finished) {
        set_status_locked(player, "Finished");
        player.active = false;
        player.paused = false;
        player.ended = true;
    }
}

void play_or_pause(Player& player) {
    bool active = false;
    {
        std::lock_guard guard(player.lock);
        active = player.active;
    }
    // toggle_pause checks `active` again under the lock.
    if (active)
        toggle_pause(player);
    else
        start_playback(player);
}

std::optional<uint64_t> seek_by_target(uint64_t position, uint64_t length_frames, int32_t rate,
                                       double seconds) {
    if (length_frames == 0 || rate < 1 || std::isnan(seconds)) return std::nullopt;
    const double step = seconds * rate;
    // Whole steps stay exact integers; a fraction of a frame is dropped towards the start.
    const double target = static_cast<double>(position) + step;
    if (!(target > 0.0)) return 0;
    if (target >= static_cast<double>(length_frames)) return length_frames;
    return static_cast<uint64_t>(target);
}

bool seek_by(Player& player, double seconds) {
    std::optional<uint64_t> target;
    uint64_t length = 0;
    {
        std::lock_guard guard(player.lock);
        length = player.song.length_frames;
        if (!player.song.events.empty())
            target = seek_by_target(player.position, length, player.output_rate, seconds);
    }
    if (!target) return false;
    seek_fraction(player, static_cast<double>(*target) / static_cast<double>(length));
    return true;
}
