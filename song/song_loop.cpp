#include "song/song_loop.h"

#include <cstddef>
#include <exception>
#include <utility>
#include <vector>

#include "song/song.h"

namespace {

// Past this the fade alone would be a flood of copies (a loop of a few frames) or the times
// could overflow; such songs play as written.
constexpr uint64_t kMaxFrame = uint64_t{1} << 52;
constexpr uint64_t kExtraEventAllowance = uint64_t{1} << 20;

bool ends_note(const MidiEvent& e) {
    const uint8_t type = e.status & 0xF0;
    return type == 0x80 || (type == 0x90 && e.data2 == 0);
}

bool before_loop_end(const MidiEvent& e, uint64_t end) {
    return e.time < end || (e.time == end && ends_note(e));
}

// The last tempo point at or before `frame` (the map always starts at frame 0).
const TempoPoint& tempo_at(const std::vector<TempoPoint>& map, uint64_t frame) {
    size_t found = 0;
    for (size_t i = 0; i < map.size() && map[i].frame <= frame; ++i)
        found = i;
    return map[found];
}

} // namespace

bool unroll_song_loop(Song& song, int32_t extra_passes) noexcept {
    const SongLoop loop = song.loop;
    if (extra_passes <= 0 || !loop.marked || loop.end_frame <= loop.start_frame ||
        loop.end_frame > kMaxFrame || song.rate == 0)
        return false;
    const uint64_t period = loop.end_frame - loop.start_frame;
    const uint64_t fade_frames = uint64_t{kLoopFadeSeconds} * song.rate;
    const uint64_t passes_before_fade = static_cast<uint64_t>(extra_passes);
    if (passes_before_fade > kMaxFrame / period) return false;
    const uint64_t fade_start = loop.end_frame + passes_before_fade * period;
    if (fade_start > kMaxFrame) return false;
    const uint64_t fade_end = fade_start + fade_frames;
    // Pass k (the written one is 0) starts at start_frame + k * period; the last starts before
    // the fade ends.
    const uint64_t last_pass = (fade_end - 1 - loop.start_frame) / period;

    std::vector<MidiEvent> stretch;
    size_t first_part = 0;
    for (const MidiEvent& e : song.events) {
        if (!before_loop_end(e, loop.end_frame)) continue;
        ++first_part;
    }
    try {
        for (const MidiEvent& e : song.events)
            if (e.time >= loop.start_frame && before_loop_end(e, loop.end_frame))
                stretch.push_back(e);
        const uint64_t bound =
            (passes_before_fade + 2) * uint64_t{song.events.size()} + kExtraEventAllowance;
        if (stretch.size() != 0 && last_pass > (bound - first_part) / stretch.size()) return false;

        std::vector<MidiEvent> events;
        events.reserve(first_part + static_cast<size_t>(last_pass) * stretch.size());
        for (const MidiEvent& e : song.events)
            if (before_loop_end(e, loop.end_frame)) events.push_back(e);
        for (uint64_t k = 1; k <= last_pass; ++k) {
            for (MidiEvent e : stretch) {
                e.time += k * period;
                if (e.time >= fade_end) break;
                events.push_back(e);
            }
        }

        // The tempo map follows, so the tick and tempo shown keep counting through the passes.
        std::vector<TempoPoint> map;
        const TempoPoint at_start = tempo_at(song.tempo_map, loop.start_frame);
        const uint32_t period_ticks = loop.end_tick - loop.start_tick;
        for (const TempoPoint& point : song.tempo_map)
            if (point.frame < loop.end_frame) map.push_back(point);
        for (uint64_t k = 1; k <= last_pass; ++k) {
            const auto tick_shift = static_cast<uint32_t>(k * period_ticks);
            map.push_back(
                {loop.start_frame + k * period, loop.start_tick + tick_shift, at_start.tempo});
            for (const TempoPoint& point : song.tempo_map) {
                if (point.frame <= loop.start_frame || point.frame >= loop.end_frame) continue;
                const uint64_t frame = point.frame + k * period;
                if (frame >= fade_end) break;
                map.push_back({frame, point.tick + tick_shift, point.tempo});
            }
        }
        // The words go round too, so lyrics come back with their notes.
        std::vector<SongText> texts;
        for (const SongText& text : song.texts)
            if (text.time < loop.end_frame) texts.push_back(text);
        for (uint64_t k = 1; k <= last_pass; ++k) {
            for (const SongText& text : song.texts) {
                if (text.time < loop.start_frame || text.time >= loop.end_frame) continue;
                SongText copy = text;
                copy.time += k * period;
                if (copy.time >= fade_end) break;
                texts.push_back(copy);
            }
        }
        song.events = std::move(events);
        song.tempo_map = std::move(map);
        song.texts = std::move(texts);
    } catch (const std::exception&) {
        return false; // no room: the song plays as written
    }
    song.length_frames = fade_end;
    song.fade_frames = fade_frames;
    return true;
}
