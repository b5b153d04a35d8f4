// Press regions at the edges of every region, the view transform and arrow-key seeking.
#include <gtest/gtest.h>

#include <vector>

#include "ui/layout.h"
#include "ui/regions.h"

using regions::Region;

namespace {

struct Case {
    double sx;
    double sy;
    Region region;
    int channel = -1;
};

constexpr double kJustBelow = 0.01; // a press just short of an excluded upper bound

std::vector<Case> boundary_cases() {
    const double e = kJustBelow;
    // clang-format off
    std::vector<Case> cases = {
        // Title strip: the top 5 units move the window even above the window buttons.
        {0, 0, Region::kMoveWindow}, {620, 5 - e, Region::kMoveWindow},
        {581, 5, Region::kMinimise}, {599 - e, 23 - e, Region::kMinimise},
        {599, 5, Region::kMaximise}, {615 - e, 23 - e, Region::kMaximise},
        {615, 5, Region::kClose}, {631 - e, 23 - e, Region::kClose},
        {631, 5, Region::kMoveWindow}, {581 - e, 22, Region::kMoveWindow},
        {581 - e, 22.5, Region::kNone}, {639, 22.5, Region::kNone},
        // Left margin below the strip.
        {62 - e, 23, Region::kNone}, {62 - e, 430, Region::kNone}, {62 - e, 75, Region::kNone},
        // Seek bar.
        {62, 426, Region::kSeekBar}, {298 - e, 441 - e, Region::kSeekBar},
        {298, 430, Region::kNone}, {100, 441, Region::kNone}, {100, 426 - e, Region::kNone},
        {639 - e, 470 - e, Region::kNone},
    };
    // clang-format on
    const Region buttons[] = {Region::kPlay,  Region::kOpen,      Region::kStop,
                              Region::kPause, Region::kWavExport, Region::kPreferences};
    for (int b = 0; b < layout::kTransportButtonCount; ++b) {
        const double left = 132 + 40 * b;
        cases.push_back({left, 42, buttons[b]});
        cases.push_back({left + 35 - e, 64 - e, buttons[b]});
        cases.push_back({left + 35, 50, Region::kNone}); // gap to the next button
        cases.push_back({left, 42 - e, Region::kNone});
        cases.push_back({left, 64, Region::kNone});
    }
    for (int n = 0; n < 16; ++n) {
        const double left = 62 + 36 * n;
        cases.push_back({left, 72, Region::kMute, n});
        cases.push_back({left + 33 - e, 86 - e, Region::kMute, n});
        cases.push_back({left + 33, 80, Region::kNone}); // the 3-unit gap
        cases.push_back({left, 72 - e, Region::kNone});
        cases.push_back({left, 86, Region::kNone});
    }
    return cases;
}

} // namespace

TEST(Regions, EveryRegionAtItsEdges) {
    for (const Case& c : boundary_cases()) {
        const regions::Hit hit = regions::hit_region({c.sx, c.sy});
        EXPECT_EQ(hit.region, c.region) << "at " << c.sx << ", " << c.sy;
        if (c.region == Region::kMute) {
            EXPECT_EQ(hit.channel, c.channel) << "at " << c.sx;
        }
    }
}

TEST(Regions, ViewTransformCountsOnlyDrawnSkin) {
    struct {
        double x, y, scale, offset_x, offset_y;
        bool counts;
        double sx, sy;
    } cases[] = {
        {100, 100, 0.0, 0, 0, false, 0, 0}, // before the first frame
        {0, 0, 1.5, 0, 0, true, 0, 0},
        {959.9, 704.9, 1.5, 0, 0, true, 639.93, 469.93},
        {960, 300, 1.5, 0, 0, false, 0, 0},
        {300, 705, 1.5, 0, 0, false, 0, 0},
        {10, 20, 2.0, 10, 20, true, 0, 0},
        {9.9, 300, 2.0, 10, 20, false, 0, 0}, // the letterbox margin
    };
    for (const auto& c : cases) {
        const auto point = regions::to_skin(c.x, c.y, c.scale, c.offset_x, c.offset_y);
        ASSERT_EQ(point.has_value(), c.counts) << c.x << ", " << c.y << " at scale " << c.scale;
        if (!point) continue;
        EXPECT_NEAR(point->x, c.sx, 0.01);
        EXPECT_NEAR(point->y, c.sy, 0.01);
    }
    EXPECT_DOUBLE_EQ(regions::seek_bar_fraction(62), 0.0);
    EXPECT_DOUBLE_EQ(regions::seek_bar_fraction(180), 0.5);
    EXPECT_DOUBLE_EQ(regions::seek_bar_fraction(298), 1.0);
}

TEST(Regions, ArrowKeysStepTenSecondsWithinTheSong) {
    constexpr uint64_t kLength = 1'000'000;
    struct {
        uint64_t position, length;
        int32_t rate;
        bool forward;
        std::optional<uint64_t> target;
    } cases[] = {
        {0, kLength, 22050, true, 220500},
        {300000, kLength, 22050, false, 79500},
        {kLength - 220500, kLength, 22050, true, kLength}, // last 10 s: to the end
        {kLength - 1, kLength, 22050, true, kLength},
        {kLength + 5, kLength, 22050, true, kLength},
        {220500, kLength, 22050, false, 0}, // first 10 s: to the start
        {1, kLength, 44100, false, 0},
        {100, 0, 44100, true, std::nullopt}, // no song
        {100, kLength, 0, false, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(regions::arrow_seek_target(c.position, c.length, c.rate, c.forward), c.target)
            << c.position << (c.forward ? " forward" : " back") << " at " << c.rate;
}
