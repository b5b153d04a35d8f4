// Where a press lands on the skin, and where the arrow keys seek to. Plain arithmetic on the
// constants of layout.h, so it is tested without a display.
#pragma once

#include <cstdint>
#include <optional>

namespace regions {

enum class Region {
    kNone,
    kMoveWindow,
    kMinimise,
    kMaximise,
    kClose,
    kSeekBar,
    kPlay,
    kOpen,
    kStop,
    kPause,
    kWavExport,
    kPreferences,
    kMute,
};

struct Hit {
    Region region = Region::kNone;
    int channel = -1; // kMute only
};

struct SkinPoint {
    double x = 0.0;
    double y = 0.0;
};

// Drawing-area pixels to skin units with the last drawn view transform. Empty before the first
// frame (scale 0) and outside the skin.
std::optional<SkinPoint> to_skin(double x, double y, double view_scale, double offset_x,
                                 double offset_y);

// The first region of the press table that contains the skin point.
Hit hit_region(SkinPoint point);

// Seek bar fraction for a skin x coordinate; not clamped (seeking clamps it).
double seek_bar_fraction(double skin_x);

// Frame an arrow key seeks to: 10 seconds back or forward, stopping at the start or the end.
// Empty when there is nothing to seek in (no song, or no output rate).
std::optional<uint64_t> arrow_seek_target(uint64_t position, uint64_t length_frames,
                                          int32_t output_rate, bool forward);

} // namespace regions
