#include "ui/regions.h"

#include <algorithm>
#include <cmath>

#include "ui/layout.h"

namespace regions {

namespace {

bool within(double value, int low, int high_exclusive) {
    return value >= low && value < high_exclusive;
}

bool inside(SkinPoint point, layout::Rect rect) {
    return within(point.x, rect.x, rect.x + rect.width) &&
           within(point.y, rect.y, rect.y + rect.height);
}

} // namespace

std::optional<SkinPoint> to_skin(double x, double y, double view_scale, double offset_x,
                                 double offset_y) {
    if (!(view_scale > 0.0)) return std::nullopt;
    const SkinPoint point{(x - offset_x) / view_scale, (y - offset_y) / view_scale};
    if (!within(point.x, 0, layout::kSkinWidth) || !within(point.y, 0, layout::kSkinHeight))
        return std::nullopt;
    return point;
}

Hit hit_region(SkinPoint point) {
    using namespace layout;
    const double sx = point.x;
    const double sy = point.y;
    if (sy < kTitleStripTop) return {Region::kMoveWindow};
    if (sy < kTitleStripBottom) {
        if (within(sx, kMinimiseLeft, kMaximiseLeft)) return {Region::kMinimise};
        if (within(sx, kMaximiseLeft, kCloseLeft)) return {Region::kMaximise};
        if (within(sx, kCloseLeft, kCloseRight)) return {Region::kClose};
        // The strip's last fraction of a unit belongs to nothing.
        return {sy <= kTitleMoveBottom ? Region::kMoveWindow : Region::kNone};
    }
    if (inside(point, {kRepeatToggle.x, kRepeatToggle.y, kToggleWidth, kToggleHeight}))
        return {Region::kRepeat};
    if (inside(point, {kShuffleToggle.x, kShuffleToggle.y, kToggleWidth, kToggleHeight}))
        return {Region::kShuffle};
    if (inside(point, kVolumeRegion)) return {Region::kVolume};
    if (inside(point,
               {kQueueList.x, kQueueList.y + 1, kQueueList.width, kQueueRows * kQueueRowHeight})) {
        return {Region::kQueueRow, -1, static_cast<int>((sy - kQueueList.y - 1) / kQueueRowHeight)};
    }
    if (inside(point, kResizeGrip)) return {Region::kResizeGrip};
    if (sx < kControlsLeft) return {};
    if (within(sy, kSeekBar.y, kSeekBar.y + kSeekBar.height) &&
        within(sx, kSeekBar.x, kSeekBar.x + kSeekBar.width))
        return {Region::kSeekBar};
    if (within(sy, kTransportTop, kTransportBottom)) {
        static constexpr Region kButtons[kTransportButtonCount] = {
            Region::kPlay,      Region::kOpen,        Region::kStop,     Region::kPause,
            Region::kWavExport, Region::kPreferences, Region::kPrevious, Region::kNext};
        for (int button = 0; button < kTransportButtonCount; ++button) {
            const int left = transport_button_left(button);
            if (within(sx, left, left + kButtonWidth)) return {kButtons[button]};
        }
    }
    if (within(sy, kMuteRegionTop, kMuteRegionBottom)) {
        for (int channel = 0; channel < kChannelCount; ++channel) {
            const int left = kMuteRegionLeft + kChannelPitch * channel;
            if (within(sx, left, left + kMuteRegionWidth)) return {Region::kMute, channel};
        }
    }
    return {};
}

double seek_bar_fraction(double skin_x) {
    return (skin_x - layout::kSeekBar.x) / layout::kSeekBar.width;
}

double volume_fraction(double skin_x) {
    return std::clamp((skin_x - layout::kVolumeMeter.x) / layout::kVolumeMeter.width, 0.0, 1.0);
}

WindowSize fitted_window_size(int width, int height, int scale) {
    using namespace layout;
    const double largest = static_cast<double>(kWindowWidth) / kSkinWidth;
    double view = std::min({largest, static_cast<double>(width) / kSkinWidth,
                            static_cast<double>(height) / kSkinHeight});
    if (scale >= 2) view = std::floor(view * scale) / scale;
    view = std::max(view, 1.0);
    return {static_cast<int>(std::floor(kSkinWidth * view)),
            static_cast<int>(std::floor(kSkinHeight * view))};
}

} // namespace regions
