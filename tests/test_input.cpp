// Press regions at their edges, pointer to skin units, arrow-key targets, and the input handlers
// called as the toolkit would, without a display.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <array>
#include <string>

#include "app/app_state.h"
#include "synth/synth.h"
#include "ui/input.h"
#include "ui/regions.h"

using regions::Region;

TEST(Regions, EveryRegionAtItsEdges) {
    const auto hit = [](double x, double y) { // the region and, for a mute lamp, its channel
        const regions::Hit h = regions::hit_region({x, y});
        return int(h.region) * 100 + h.channel;
    };
    const auto code = [](Region region, int channel = -1) { return int(region) * 100 + channel; };
    // The region's code, left, top, right and bottom (right and bottom excluded).
    // clang-format off
    std::vector<std::array<double, 5>> boxes = {
        {double(code(Region::kMinimise)), 581, 5, 599, 23}, {double(code(Region::kMaximise)), 599, 5, 615, 23},
        {double(code(Region::kClose)), 615, 5, 631, 23}, {double(code(Region::kSeekBar)), 62, 426, 298, 441}};
    for (int b = 0; b < 6; ++b) // play, open, stop, pause, WAV export, preferences
        boxes.push_back({double(code(Region(int(Region::kPlay) + b))), 132.0 + 40 * b, 42, 167.0 + 40 * b, 64});
    for (int n = 0; n < 16; ++n)
        boxes.push_back({double(code(Region::kMute, n)), 62.0 + 36 * n, 72, 95.0 + 36 * n, 86});
    // clang-format on
    const double e = 0.01;
    for (const auto& [region, left, top, right, bottom] : boxes) {
        const double x = (left + right) / 2, y = (top + bottom) / 2;
        EXPECT_EQ(hit(left, top), region) << left << ", " << top;
        EXPECT_EQ(hit(right - e, bottom - e), region) << right << ", " << bottom;
        for (const auto& [out_x, out_y] :
             {std::pair{right, y}, {x, bottom}, {left - e, y}, {x, top - e}})
            EXPECT_NE(hit(out_x, out_y), region) << out_x << ", " << out_y;
    }
}

TEST(Regions, SkinPointsAndArrowKeys) {
    // Window points in skin units, or none outside the skin (the letterbox margin included).
    EXPECT_NEAR(regions::to_skin(959.9, 704.9, 1.5, 0, 0).value().y, 469.93, 0.01);
    for (const double x : {980.0, 19.9})
        EXPECT_FALSE(regions::to_skin(x, 300, 1.5, 20, 0).has_value()) << x;
    // Position, length, rate, forward and target of an arrow key; the last and first 10 s go
    // to the end and the start; no song or no rate: none.
    constexpr uint64_t kLength = 1'000'000, kNone = ~0ull;
    // clang-format off
    const uint64_t arrows[][5] = {{300000, kLength, 22050, 1, 520500}, {300000, kLength, 22050, 0, 79500},
        {kLength - 220500, kLength, 22050, 1, kLength}, {220500, kLength, 22050, 0, 0},
        {100, 0, 44100, 1, kNone}, {100, kLength, 0, 0, kNone}};
    // clang-format on
    for (const auto& [from, length, rate, forward, to] : arrows)
        EXPECT_EQ(regions::arrow_seek_target(from, length, int32_t(rate), forward).value_or(kNone),
                  to)
            << from << (forward ? " forward" : " back") << " at " << rate;
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
    EXPECT_FALSE(on_key_pressed(nullptr, GDK_KEY_Right, 0, GdkModifierType(0), &app)) << "no song";
    // Presses act once per click (the second press of a double click does nothing) and only on
    // drawn regions: none before the first frame, in the gap after channel 3, right of the skin.
    on_press(nullptr, 1, 180 * 1.5, 80 * 1.5, &app);
    app.view_scale = 1.5;
    const int presses[][4] = {
        {180, 80, 1, 1}, {180, 80, 2, 1}, {180, 80, 1, 0}, {204, 80, 1, 0}, {700, 80, 1, 0}};
    for (const auto& [x, y, count, muted] : presses) {
        on_press(nullptr, count, x * 1.5, y * 1.5, &app);
        EXPECT_EQ(app.player.synth.channels[3].mute, muted) << x << ", " << y << " x" << count;
    }
    EXPECT_EQ(app.player.status_text, initial_status);

    EXPECT_TRUE(drop(g_file_new_for_path(VELTA_BINARY_DIR "/tests/songs/melodic.mid")));
    EXPECT_STREQ(app.player.status_text, "Loaded MIDI");
    // A failed load is still a taken drop; it leaves its message and no song.
    EXPECT_TRUE(drop(g_file_new_for_path("/nonexistent/broken.mid")));
    EXPECT_STRNE(app.player.status_text, "Loaded MIDI");
    EXPECT_EQ(app.player.song.events.size(), 0u);
}
