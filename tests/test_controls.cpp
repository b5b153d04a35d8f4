// The controls laid over the skin for the keyboard and screen readers: where they sit against the
// press regions, what they are called and which keys their tooltips name.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <set>
#include <string>
#include <vector>

#include "ui/accessible_controls.h"
#include "ui/actions.h"
#include "ui/layout.h"
#include "ui/regions.h"

namespace {

using regions::Hit;
using regions::Region;

std::vector<Hit> every_control() {
    std::vector<Hit> hits;
    for (Region region :
         {Region::kPlay, Region::kOpen, Region::kStop, Region::kPause, Region::kWavExport,
          Region::kPreferences, Region::kPrevious, Region::kNext, Region::kSeekBar, Region::kVolume,
          Region::kRepeat, Region::kShuffle, Region::kMinimise, Region::kMaximise, Region::kClose})
        hits.push_back({region});
    for (int channel = 0; channel < layout::kChannelCount; ++channel)
        hits.push_back({Region::kMute, channel});
    return hits;
}

// A control drawn anywhere but over its region would send a screen reader's user to the wrong
// place: every corner of each control's rectangle presses that control.
TEST(Controls, EachSitsOnItsOwnRegion) {
    std::set<std::string> names;
    for (const Hit& hit : every_control()) {
        const layout::Rect rect = control_rect(hit);
        const std::string name = control_name(hit).name;
        ASSERT_GT(rect.width, 0) << name;
        ASSERT_GT(rect.height, 0) << name;
        EXPECT_TRUE(names.insert(name).second) << "two controls called " << name;
        const double inset = 0.01;
        for (double x : {rect.x + inset, rect.x + rect.width - inset}) {
            for (double y : {rect.y + inset, rect.y + rect.height - inset}) {
                const Hit pressed = regions::hit_region({x, y});
                EXPECT_EQ(pressed.region, hit.region) << name << " at " << x << "," << y;
                EXPECT_EQ(pressed.channel, hit.channel) << name << " at " << x << "," << y;
            }
        }
    }
    // Each queue row of the list's rectangle is a row of the panel, top first.
    const layout::Rect list = control_rect({Region::kQueueRow, -1, 0});
    for (int row = 0; row < layout::kQueueRows; ++row) {
        const Hit pressed =
            regions::hit_region({list.x + 1.0, list.y + (row + 0.5) * layout::kQueueRowHeight});
        EXPECT_EQ(pressed.region, Region::kQueueRow);
        EXPECT_EQ(pressed.row, row);
    }
    EXPECT_TRUE(control_name({Region::kNone}).name.empty());
    EXPECT_TRUE(control_name({Region::kMute, layout::kChannelCount}).name.empty());
    EXPECT_EQ(control_rect({Region::kMute, -1}).width, 0);
}

TEST(Controls, SeekValueText) {
    EXPECT_EQ(seek_value_text(83.9, 296.0), "1:23 of 4:56");
    EXPECT_EQ(seek_value_text(0.0, 3725.0), "0:00 of 1:02:05");
    EXPECT_EQ(seek_value_text(5.0, 0.0), "No song");
}

// The keys named come from the application, so a key moved in the table moves in the tooltip.
TEST(Controls, TooltipsNameTheApplicationsKeys) {
    GtkApplication* application = gtk_application_new(nullptr, G_APPLICATION_DEFAULT_FLAGS);
    install_accelerators(application);
    auto tooltip = [&](Hit hit) { return control_tooltip(application, control_name(hit)); };
    EXPECT_EQ(tooltip({Region::kPlay}), "Play (Space)");
    EXPECT_EQ(tooltip({Region::kNext}), "Next (Page Down)");
    EXPECT_EQ(tooltip({Region::kOpen}), "Open MIDI (Ctrl+O)");
    EXPECT_EQ(tooltip({Region::kSeekBar}), "Position (Left, Right)");
    EXPECT_EQ(tooltip({Region::kVolume}), "Volume (Up, Down)");
    EXPECT_EQ(tooltip({Region::kShuffle}), "Shuffle");
    EXPECT_EQ(control_tooltip(nullptr, control_name({Region::kPlay})), "Play");
    const char* keys[] = {"F5", nullptr};
    gtk_application_set_accels_for_action(application, "app.play-pause", keys);
    EXPECT_EQ(tooltip({Region::kPause}), "Pause (F5)");
    g_object_unref(application);
}

// The keys window lists every key in words.
TEST(Controls, EveryKeyHasATitle) {
    int count = 0;
    list_keys(
        [](const char* action, const char* title, void* data) {
            EXPECT_NE(title, nullptr) << action;
            ++*static_cast<int*>(data);
        },
        &count);
    EXPECT_GE(count, 13);
    EXPECT_STREQ(action_title("app.keys"), "Keys");
    EXPECT_EQ(action_title("app.toggle-mute"), nullptr);
}

} // namespace
