// The input handlers called as the toolkit would, without a display (no window, no surface).
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "app/app_state.h"
#include "tests/support/midi_bytes.h"
#include "synth/synth.h"
#include "ui/input.h"

namespace {

constexpr double kScale = 1.5;

struct InputTest : ::testing::Test {
    AppState app;
    std::string dir;

    void SetUp() override {
        synth_init(app.player, 22050);
        char templ[] = "/tmp/velta-input.XXXXXX";
        dir = g_mkdtemp(templ);
    }
    void TearDown() override {
        for (const char* name : {"song.mid", "broken.mid"})
            g_remove((dir + "/" + name).c_str());
        g_rmdir(dir.c_str());
    }
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
    gboolean key(guint keyval) {
        return on_key_pressed(nullptr, keyval, 0, GdkModifierType(0), &app);
    }
};

TEST_F(InputTest, DropsLoadLocalFilesAndRefuseOthers) {
    const std::string song = write_file(dir + "/song.mid", melody(8));
    const std::string broken = write_file(dir + "/broken.mid", Bytes{'M', 'T', 'h', 'x'});

    const std::string initial_status = status();
    EXPECT_FALSE(on_drop(nullptr, nullptr, 0, 0, &app));
    GValue text = G_VALUE_INIT;
    g_value_init(&text, G_TYPE_STRING);
    g_value_set_string(&text, song.c_str());
    EXPECT_FALSE(on_drop(nullptr, &text, 0, 0, &app));
    g_value_unset(&text);
    EXPECT_FALSE(drop(g_file_new_for_uri("http://example.invalid/song.mid"))); // no local path
    EXPECT_EQ(status(), initial_status);

    EXPECT_TRUE(drop(g_file_new_for_path(song.c_str())));
    EXPECT_EQ(status(), "Loaded MIDI");
    EXPECT_GT(app.player.song.length_frames, 0u);

    // A failed load is still a taken drop; it leaves its message and no song.
    EXPECT_TRUE(drop(g_file_new_for_path(broken.c_str())));
    EXPECT_NE(status(), "Loaded MIDI");
    EXPECT_NE(status(), initial_status);
    EXPECT_EQ(app.player.song.length_frames, 0u);
    EXPECT_EQ(app.player.song.events.size(), 0u);
}

// Unhandled keys reach the toolkit; playing with the keys is covered under Xvfb.
TEST_F(InputTest, ArrowKeysWithoutASongAreNotHandled) {
    for (guint keyval : {GDK_KEY_Left, GDK_KEY_Right, GDK_KEY_KP_Left, GDK_KEY_a})
        EXPECT_FALSE(key(keyval)) << keyval;
    EXPECT_EQ(app.player.position, 0u);
}

TEST_F(InputTest, PressesActOnlyOnceOnDrawnRegions) {
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
