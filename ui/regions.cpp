#include "ui/regions.h"

#include "ui/layout.h"

namespace regions {

namespace {

bool within(double value, int low, int high_exclusive) {
    return value >= low && value < high_exclusive;
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
    if (sx < kControlsLeft) return {};
    if (within(sy, kSeekBar.y, kSeekBar.y + kSeekBar.height) &&
        within(sx, kSeekBar.x, kSeekBar.x + kSeekBar.width))
        return {Region::kSeekBar};
    if (within(sy, kTransportTop, kTransportBottom)) {
        static constexpr Region kButtons[kTransportButtonCount] = {
            Region::kPlay,  Region::kOpen,      Region::kStop,
            Region::kPause, Region::kWavExport, Region::kPreferences};
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

} // namespace regions
