// Press regions at their edges, pointer to skin units, arrow-key targets, and the input handlers
// called as the toolkit would, without a display.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "app/app_state.h"
#include "synth/synth.h"
#include "ui/input.h"
#include "ui/regions.h"

using regions::Region;

TEST(Regions, EveryRegionAtItsEdges) {
    struct Box {
        Region region;
        int channel;
        double left, top, right, bottom; // right and bottom excluded
    };
    std::vector<Box> boxes = {{Region::kMinimise, -1, 581, 5, 599, 23},
                              {Region::kMaximise, -1, 599, 5, 615, 23},
                              {Region::kClose, -1, 615, 5, 631, 23},
                              {Region::kSeekBar, -1, 62, 426, 298, 441}};
    const Region buttons[] = {Region::kPlay,  Region::kOpen,      Region::kStop,
                              Region::kPause, Region::kWavExport, Region::kPreferences};
    for (int b = 0; b < 6; ++b)
        boxes.push_back({buttons[b], -1, 132.0 + 40 * b, 42, 167.0 + 40 * b, 64});
    for (int n = 0; n < 16; ++n)
        boxes.push_back({Region::kMute, n, 62.0 + 36 * n, 72, 95.0 + 36 * n, 86});
    const double e = 0.01;
    for (const Box& box : boxes) {
        const double mid_x = (box.left + box.right) / 2, mid_y = (box.top + box.bottom) / 2;
        for (const regions::SkinPoint in : {regions::SkinPoint{box.left, box.top},
                                            regions::SkinPoint{box.right - e, box.bottom - e}}) {
            const regions::Hit hit = regions::hit_region(in);
            EXPECT_TRUE(hit.region == box.region && hit.channel == box.channel)
                << int(box.region) << " at " << in.x << ", " << in.y;
        }
        for (const regions::SkinPoint out :
             {regions::SkinPoint{box.right, mid_y}, regions::SkinPoint{mid_x, box.bottom},
              regions::SkinPoint{box.left - e, mid_y}, regions::SkinPoint{mid_x, box.top - e}}) {
            const regions::Hit hit = regions::hit_region(out);
            EXPECT_FALSE(hit.region == box.region && hit.channel == box.channel)
                << int(box.region) << " at " << out.x << ", " << out.y;
        }
    }
    // The title strip moves the window, except its last fraction of a unit.
    const struct {
        double x, y;
        Region region;
    } strip[] = {{0, 0, Region::kMoveWindow},    {620, 5 - e, Region::kMoveWindow},
                 {631, 5, Region::kMoveWindow},  {581 - e, 22, Region::kMoveWindow},
                 {581 - e, 22.5, Region::kNone}, {62 - e, 430, Region::kNone}};
    for (const auto& c : strip)
        EXPECT_EQ(regions::hit_region({c.x, c.y}).region, c.region) << c.x << ", " << c.y;
}

TEST(Regions, ViewTransformAndArrowKeys) {
    const struct {
        double x, y, scale, offset_x, offset_y;
        bool counts;
        double sx, sy;
    } points[] = {
        {100, 100, 0.0, 0, 0, false, 0, 0}, // before the first frame
        {959.9, 704.9, 1.5, 0, 0, true, 639.93, 469.93},
        {960, 300, 1.5, 0, 0, false, 0, 0},
        {300, 705, 1.5, 0, 0, false, 0, 0},
        {10, 20, 2.0, 10, 20, true, 0, 0},
        {9.9, 300, 2.0, 10, 20, false, 0, 0}, // the letterbox margin
    };
    for (const auto& c : points) {
        const auto point = regions::to_skin(c.x, c.y, c.scale, c.offset_x, c.offset_y);
        ASSERT_EQ(point.has_value(), c.counts) << c.x << ", " << c.y << " at scale " << c.scale;
        if (!point) continue;
        EXPECT_NEAR(point->x, c.sx, 0.01);
        EXPECT_NEAR(point->y, c.sy, 0.01);
    }
    EXPECT_DOUBLE_EQ(regions::seek_bar_fraction(180), 0.5);

    constexpr uint64_t kLength = 1'000'000;
    const struct {
        uint64_t position, length;
        int32_t rate;
        bool forward;
        std::optional<uint64_t> target;
    } arrows[] = {
        {300000, kLength, 22050, true, 520500},
        {300000, kLength, 22050, false, 79500},
        {kLength - 220500, kLength, 22050, true, kLength}, // last 10 s: to the end
        {kLength + 5, kLength, 22050, true, kLength},
        {220500, kLength, 22050, false, 0},  // first 10 s: to the start
        {100, 0, 44100, true, std::nullopt}, // no song
        {100, kLength, 0, false, std::nullopt},
    };
    for (const auto& c : arrows)
        EXPECT_EQ(regions::arrow_seek_target(c.position, c.length, c.rate, c.forward), c.target)
            << c.position << (c.forward ? " forward" : " back") << " at " << c.rate;
}

namespace {

struct InputTest : ::testing::Test {
    static constexpr double kScale = 1.5;
    AppState app;
    void SetUp() override { synth_init(app.player, 22050); }
    void press(double sx, double sy, int count = 1) {
        on_press(nullptr, count, sx * kScale, sy * kScale, &app);
    }
    std::string status() { return app.player.status_text; }
    gboolean drop(GFile* file) {
        GValue value = G_VALUE_INIT;
        g_value_init(&value, G_TYPE_FILE);
        g_value_take_object(&value, file);
        const gboolean taken = on_drop(nullptr, &value, 0, 0, &app);
        g_value_unset(&value);
        return taken;
    }
};

TEST_F(InputTest, DropsLoadLocalFilesAndRefuseOthers) {
    const std::string initial_status = status();
    EXPECT_FALSE(on_drop(nullptr, nullptr, 0, 0, &app));
    EXPECT_FALSE(drop(g_file_new_for_uri("http://example.invalid/song.mid"))); // no local path
    EXPECT_EQ(status(), initial_status);

    EXPECT_TRUE(drop(g_file_new_for_path(VELTA_BINARY_DIR "/tests/songs/melodic.mid")));
    EXPECT_EQ(status(), "Loaded MIDI");
    EXPECT_GT(app.player.song.length_frames, 0u);
    // A failed load is still a taken drop; it leaves its message and no song.
    EXPECT_TRUE(drop(g_file_new_for_path("/nonexistent/broken.mid")));
    EXPECT_NE(status(), "Loaded MIDI");
    EXPECT_EQ(app.player.song.events.size(), 0u);
}

TEST_F(InputTest, PressesActOnlyOnceOnDrawnRegions) {
    // Unhandled keys reach the toolkit.
    for (guint keyval : {GDK_KEY_Left, GDK_KEY_Right, GDK_KEY_a})
        EXPECT_FALSE(on_key_pressed(nullptr, keyval, 0, GdkModifierType(0), &app)) << keyval;
    auto& mute = app.player.synth.channels[3].mute;
    const double mute_x = 62 + 36 * 3 + 10, mute_y = 80;
    const std::string initial_status = status();
    press(mute_x, mute_y); // before the first frame
    EXPECT_EQ(mute, 0);
    app.view_scale = kScale;
    press(mute_x, mute_y);
    EXPECT_EQ(mute, 1);
    press(mute_x, mute_y, 2); // second press of a double click
    EXPECT_EQ(mute, 1);
    press(mute_x, mute_y);
    EXPECT_EQ(mute, 0);

    press(62 + 36 * 3 + 34, mute_y); // gap after channel 3
    press(700, mute_y);              // right of the skin
    press(260, 50);                  // pause while stopped
    for (const auto& channel : app.player.synth.channels)
        EXPECT_EQ(channel.mute, 0);
    EXPECT_EQ(status(), initial_status);
    press(300, 50);
    EXPECT_EQ(status(), "No song loaded"); // the WAV button
}

} // namespace
