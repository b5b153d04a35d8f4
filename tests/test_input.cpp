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
    for (int b = 0; b < 6; ++b) // play, open, stop, pause, WAV export, preferences
        boxes.push_back(
            {Region(int(Region::kPlay) + b), -1, 132.0 + 40 * b, 42, 167.0 + 40 * b, 64});
    for (int n = 0; n < 16; ++n)
        boxes.push_back({Region::kMute, n, 62.0 + 36 * n, 72, 95.0 + 36 * n, 86});
    const double e = 0.01;
    for (const Box& box : boxes) {
        const double x = (box.left + box.right) / 2, y = (box.top + box.bottom) / 2;
        const regions::SkinPoint in[] = {{box.left, box.top}, {box.right - e, box.bottom - e}};
        const regions::SkinPoint out[] = {
            {box.right, y}, {x, box.bottom}, {box.left - e, y}, {x, box.top - e}};
        for (const auto& p : in)
            EXPECT_EQ(regions::hit_region(p).region, box.region) << p.x << ", " << p.y;
        EXPECT_EQ(regions::hit_region(in[1]).channel, box.channel);
        for (const auto& p : out) {
            const regions::Hit hit = regions::hit_region(p);
            EXPECT_FALSE(hit.region == box.region && hit.channel == box.channel)
                << p.x << ", " << p.y;
        }
    }
    // The title strip moves the window, except its last fraction of a unit.
    // clang-format off
    const struct { double x, y; Region region; } strip[] = {
        {0, 0, Region::kMoveWindow}, {620, 5 - e, Region::kMoveWindow}, {631, 5, Region::kMoveWindow},
        {581 - e, 22, Region::kMoveWindow}, {581 - e, 22.5, Region::kNone}, {62 - e, 430, Region::kNone}};
    // clang-format on
    for (const auto& c : strip)
        EXPECT_EQ(regions::hit_region({c.x, c.y}).region, c.region) << c.x << ", " << c.y;
}

TEST(Regions, ViewTransformAndArrowKeys) {
    // clang-format off
    const struct { double x, y, scale, offset; bool counts; double sx, sy; } points[] = {
        {100, 100, 0.0, 0, false, 0, 0}, // before the first frame
        {959.9, 704.9, 1.5, 0, true, 639.93, 469.93}, {960, 300, 1.5, 0, false, 0, 0},
        {300, 705, 1.5, 0, false, 0, 0}, {20, 20, 2.0, 20, true, 0, 0},
        {19.9, 300, 2.0, 20, false, 0, 0}}; // the letterbox margin
    // clang-format on
    for (const auto& c : points) {
        const auto point = regions::to_skin(c.x, c.y, c.scale, c.offset, c.offset);
        ASSERT_EQ(point.has_value(), c.counts) << c.x << ", " << c.y << " at scale " << c.scale;
        EXPECT_NEAR(point.value_or(regions::SkinPoint{}).x, c.sx, 0.01);
        EXPECT_NEAR(point.value_or(regions::SkinPoint{}).y, c.sy, 0.01);
    }
    EXPECT_DOUBLE_EQ(regions::seek_bar_fraction(180), 0.5);
    constexpr uint64_t kLength = 1'000'000, kNone = ~0ull;
    // clang-format off
    const struct { uint64_t position, length; int32_t rate; bool forward; uint64_t target; } arrows[] = {
        {300000, kLength, 22050, true, 520500}, {300000, kLength, 22050, false, 79500},
        {kLength - 220500, kLength, 22050, true, kLength}, // the last 10 s: to the end
        {kLength + 5, kLength, 22050, true, kLength}, {220500, kLength, 22050, false, 0},
        {100, 0, 44100, true, kNone}, {100, kLength, 0, false, kNone}}; // no song, no rate
    // clang-format on
    for (const auto& c : arrows)
        EXPECT_EQ(
            regions::arrow_seek_target(c.position, c.length, c.rate, c.forward).value_or(kNone),
            c.target)
            << c.position << (c.forward ? " forward" : " back") << " at " << c.rate;
}

TEST(InputHandlers, DropsPressesAndKeys) {
    AppState app;
    synth_init(app.player, 22050);
    const auto drop = [&](GFile* file) {
        GValue value = G_VALUE_INIT;
        g_value_init(&value, G_TYPE_FILE);
        g_value_take_object(&value, file);
        const gboolean taken = on_drop(nullptr, &value, 0, 0, &app);
        g_value_unset(&value);
        return taken;
    };
    const std::string initial_status = app.player.status_text;
    EXPECT_FALSE(on_drop(nullptr, nullptr, 0, 0, &app));
    EXPECT_FALSE(drop(g_file_new_for_uri("http://example.invalid/song.mid"))) << "no local path";
    for (guint keyval : {GDK_KEY_Left, GDK_KEY_Right, GDK_KEY_a}) // no song: to the toolkit
        EXPECT_FALSE(on_key_pressed(nullptr, keyval, 0, GdkModifierType(0), &app)) << keyval;
    // Presses act once per click and only on drawn regions (none before the first frame).
    const auto press = [&](double sx, double sy, int count = 1) {
        on_press(nullptr, count, sx * 1.5, sy * 1.5, &app);
    };
    auto& mute = app.player.synth.channels[3].mute;
    press(180, 80);
    EXPECT_EQ(mute, 0);
    app.view_scale = 1.5;
    press(180, 80);
    EXPECT_EQ(mute, 1);
    press(180, 80, 2); // second press of a double click
    EXPECT_EQ(mute, 1);
    press(180, 80);
    press(204, 80); // the gap after channel 3
    press(700, 80); // right of the skin
    press(260, 50); // pause while stopped
    for (const auto& channel : app.player.synth.channels)
        EXPECT_EQ(channel.mute, 0);
    EXPECT_EQ(app.player.status_text, initial_status);
    press(300, 50);
    EXPECT_STREQ(app.player.status_text, "No song loaded") << "the WAV button";

    EXPECT_TRUE(drop(g_file_new_for_path(VELTA_BINARY_DIR "/tests/songs/melodic.mid")));
    EXPECT_STREQ(app.player.status_text, "Loaded MIDI");
    // A failed load is still a taken drop; it leaves its message and no song.
    EXPECT_TRUE(drop(g_file_new_for_path("/nonexistent/broken.mid")));
    EXPECT_STRNE(app.player.status_text, "Loaded MIDI");
    EXPECT_EQ(app.player.song.events.size(), 0u);
}
