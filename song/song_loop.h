// Playing a song's marked loop more than once: the played Song is the written one unrolled.
#pragma once

#include <cstdint>

struct Song;

inline constexpr uint32_t kLoopFadeSeconds = 8;

// Rewrites `song` to play its marked loop `extra_passes` more times and then, still looping,
// fade out over kLoopFadeSeconds; the song ends with the fade. Controllers are not re-sent at
// the jump back, as on the machines this music was written for. Events at the loop's end
// belong to the loop only when they end notes. Returns false, leaving the song as written,
// when it marks no loop, `extra_passes` is 0 or less, or the unrolled song would be unreasonably
// large. Never throws.
bool unroll_song_loop(Song& song, int32_t extra_passes) noexcept;
