// Where a press lands on the skin. Plain arithmetic on the
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
    kPrevious,
    kNext,
    kMute,
    kRepeat,
    kShuffle,
    kVolume,
    kQueueRow,
    kResizeGrip,
};

struct Hit {
    Region region = Region::kNone;
    int channel = -1; // kMute only
    int row = -1;     // kQueueRow only: the row in view, 0 at the top
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

// The volume a press at skin x sets: 0 to 1 along the meter, limited to that range.
double volume_fraction(double skin_x);

// The window's size at start for a work area of width x height logical pixels at `scale` device
// pixels each: the default 960 x 705 or the largest of the skin's aspect that fits, never below
// the skin's own size. At scale 2 and more the view's scale is rounded down to whole device pixels
// per skin pixel, which there still leaves a large picture.
struct WindowSize {
    int width;
    int height;
};
WindowSize fitted_window_size(int width, int height, int scale);

} // namespace regions
