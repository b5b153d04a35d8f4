// Press regions at their edges, pointer to skin units, seek targets, every action from every
// transport state, and the input handlers called as the toolkit would, without a display.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "shell/app_state.h"
#include "synth/synth.h"
#include "ui/actions.h"
#include "ui/input.h"
#include "ui/layout.h"
#include "ui/queue_panel.h"
#include "ui/regions.h"

using regions::Region;

namespace {
// The drops below add to the desktop's recent files: never the user's own.
const bool kPrivateData = [] {
    return g_setenv("XDG_DATA_HOME", "/nonexistent/velta-test-data", TRUE);
}();
} // namespace

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
    for (const auto& [region, left, top, right, bottom] :
         {std::tuple{Region::kRepeat, 214, 241, 256, 253}, {Region::kShuffle, 260, 241, 302, 253},
          {Region::kVolume, 530, 258, 624, 284}, {Region::kQueueRow, 12, 257, 302, 377}})
        boxes.push_back({double(code(region)), double(left), double(top), double(right), double(bottom)});
    for (int b = 0; b < 8; ++b) // play, open, stop, pause, WAV export, preferences, previous, next
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

TEST(Regions, QueueRowsAndVolume) {
    EXPECT_EQ(regions::hit_region({20, 257}).row, 0);
    EXPECT_EQ(regions::hit_region({20, 268.9}).row, 0);
    EXPECT_EQ(regions::hit_region({20, 376.9}).row, 9);
    EXPECT_EQ(regions::volume_fraction(534 + 43), 0.5);
    EXPECT_EQ(regions::volume_fraction(530), 0.0);
    EXPECT_EQ(regions::volume_fraction(623), 1.0);
}

TEST(Regions, ResizeGripInTheCorner) {
    EXPECT_EQ(regions::hit_region({604, 449}).region, Region::kResizeGrip);
    EXPECT_EQ(regions::hit_region({639.9, 469.9}).region, Region::kResizeGrip);
    EXPECT_NE(regions::hit_region({603.9, 460}).region, Region::kResizeGrip);
    EXPECT_NE(regions::hit_region({620, 448.9}).region, Region::kResizeGrip);
    // At twice the skin's size the corner's last window pixel still lands on it.
    const auto corner = regions::to_skin(1279, 939, 2.0, 0, 0);
    ASSERT_TRUE(corner.has_value());
    EXPECT_EQ(regions::hit_region(*corner).region, Region::kResizeGrip);
}

// The window at start: 960 x 705 where it fits, else the largest of the skin's aspect, at least
// the skin's size; on a scale 2 screen a whole number of device pixels per skin pixel.
TEST(Regions, WindowSizeFitsTheScreen) {
    const auto size = [](int width, int height, int scale) {
        const regions::WindowSize s = regions::fitted_window_size(width, height, scale);
        return std::pair{s.width, s.height};
    };
    EXPECT_EQ(size(1232, 976, 1), std::pair(960, 705));
    EXPECT_EQ(size(1232, 672, 1), std::pair(915, 672));  // 1280 x 720 less the panels' margin
    EXPECT_EQ(size(912, 492, 2), std::pair(640, 470));   // 1920 x 1080 at scale 2
    EXPECT_EQ(size(1232, 752, 2), std::pair(960, 705));  // 2560 x 1600 at scale 2
    EXPECT_EQ(size(3792, 2112, 1), std::pair(960, 705)); // larger screens: the default
    EXPECT_EQ(size(500, 400, 1), std::pair(640, 470));   // never below the skin
}

TEST(Regions, SkinPoints) {
    // Window points in skin units, or none outside the skin (the letterbox margin included).
    EXPECT_NEAR(regions::to_skin(959.9, 704.9, 1.5, 0, 0).value().y, 469.93, 0.01);
    for (const double x : {980.0, 19.9})
        EXPECT_FALSE(regions::to_skin(x, 300, 1.5, 20, 0).has_value()) << x;
}

TEST(SeekBy, StopsAtTheStartAndTheEnd) {
    // Position, length, rate, seconds and target; the last and first 10 s go to the end and
    // the start; no song, no rate or a NaN: none.
    constexpr uint64_t kLength = 1'000'000, kNone = ~0ull;
    const double nan = std::nan("");
    // clang-format off
    const std::tuple<uint64_t, uint64_t, int32_t, double, uint64_t> seeks[] = {
        {300000, kLength, 22050, 10, 520500}, {300000, kLength, 22050, -10, 79500},
        {kLength - 220500, kLength, 22050, 10, kLength}, {220500, kLength, 22050, -10, 0},
        {300000, kLength, 44100, 0.5, 322050}, {300000, kLength, 44100, -1e300, 0},
        {100, 0, 44100, 10, kNone}, {100, kLength, 0, -10, kNone}, {100, kLength, 44100, nan, kNone}};
    // clang-format on
    for (const auto& [from, length, rate, seconds, to] : seeks)
        EXPECT_EQ(seek_by_target(from, length, rate, seconds).value_or(kNone), to)
            << from << " by " << seconds << " at " << rate;
}

namespace {

// An application record whose actions live in a plain group, as the window's do on the
// application.
struct ActionHarness {
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    GSimpleActionGroup* group = g_simple_action_group_new();

    explicit ActionHarness(int32_t rate = 22050) {
        synth_init(app->player, rate);
        install_actions(G_ACTION_MAP(group), *app);
    }
    ~ActionHarness() { g_object_unref(group); }

    void render(uint64_t frames) {
        std::vector<int16_t> block(2 * 4096);
        for (uint64_t done = 0; done < frames && player_transport(app->player).active;) {
            const auto piece = static_cast<uint32_t>(std::min<uint64_t>(frames - done, 4096));
            std::lock_guard guard(app->player.lock);
            synth_render(app->player, block.data(), piece);
            done += piece;
        }
    }
};

enum class State { kNoSong, kStopped, kSought, kPlaying, kPaused, kFinished, kFinishedBack };
enum class Place { kTop, kSame, kAhead, kBack, kHalf, kEnd };

} // namespace

TEST(Actions, EachCommandFromEachTransportState) {
    constexpr int32_t kRate = 22050;
    constexpr uint64_t kPlayed = 15 * kRate; // where the playing and paused states stand
    const std::string song = VELTA_BINARY_DIR "/tests/songs/minute.mid";
    struct Row {
        State state;
        const char* action;
        double seconds; // seek-by's and seek-to's parameter
        bool active, paused;
        Place place;
        const char* status;
    };
    using S = State;
    using P = Place;
    // clang-format off
    const Row rows[] = {
        {S::kNoSong, "play", 0, false, false, P::kTop, "No MIDI loaded"},
        {S::kNoSong, "pause", 0, false, false, P::kTop, "Ready (VELTA236 synth tables loaded)"},
        {S::kNoSong, "play-pause", 0, false, false, P::kTop, "No MIDI loaded"},
        {S::kNoSong, "stop", 0, false, false, P::kTop, "Stopped"},
        {S::kNoSong, "seek-by", 10, false, false, P::kTop, "Ready (VELTA236 synth tables loaded)"},
        {S::kNoSong, "seek-to", 0.5, false, false, P::kTop, "Ready (VELTA236 synth tables loaded)"},
        {S::kStopped, "play", 0, true, false, P::kTop, "Playing"},
        {S::kStopped, "pause", 0, false, false, P::kTop, "Loaded MIDI"},
        {S::kStopped, "play-pause", 0, true, false, P::kTop, "Playing"},
        {S::kStopped, "stop", 0, false, false, P::kTop, "Stopped"},
        {S::kStopped, "seek-by", 10, false, false, P::kAhead, nullptr},
        {S::kStopped, "seek-to", 0.5, false, false, P::kHalf, nullptr},
        {S::kSought, "play", 0, true, false, P::kSame, "Playing"}, // stopped, sought to the middle
        {S::kSought, "play-pause", 0, true, false, P::kSame, "Playing"},
        {S::kSought, "stop", 0, false, false, P::kTop, "Stopped"},
        {S::kPlaying, "play", 0, true, false, P::kSame, "Playing"},
        {S::kPlaying, "pause", 0, true, true, P::kSame, "Paused"},
        {S::kPlaying, "play-pause", 0, true, true, P::kSame, "Paused"},
        {S::kPlaying, "stop", 0, false, false, P::kTop, "Stopped"},
        {S::kPlaying, "seek-by", 10, true, false, P::kAhead, nullptr},
        {S::kPlaying, "seek-by", -10, true, false, P::kBack, nullptr},
        {S::kPlaying, "seek-to", 0.5, true, false, P::kHalf, nullptr},
        {S::kPaused, "play", 0, true, false, P::kSame, "Playing"},
        {S::kPaused, "pause", 0, true, false, P::kSame, "Resumed"},
        {S::kPaused, "play-pause", 0, true, false, P::kSame, "Resumed"},
        {S::kPaused, "stop", 0, false, false, P::kTop, "Stopped"},
        {S::kPaused, "seek-by", 10, true, true, P::kAhead, nullptr},
        {S::kPaused, "seek-to", 0.5, true, true, P::kHalf, nullptr},
        {S::kFinished, "play", 0, true, false, P::kTop, "Playing"},
        {S::kFinished, "pause", 0, false, false, P::kSame, "Finished"},
        {S::kFinished, "play-pause", 0, true, false, P::kTop, "Playing"},
        {S::kFinished, "stop", 0, false, false, P::kTop, "Stopped"},
        {S::kFinished, "seek-by", -10, false, false, P::kBack, nullptr},
        {S::kFinishedBack, "play", 0, true, false, P::kSame, "Playing"}, // finished, 10 s back
    };
    // clang-format on
    for (const Row& row : rows) {
        ActionHarness harness(kRate);
        AppState& app = *harness.app;
        if (row.state != S::kNoSong) {
            ASSERT_TRUE(load_song(app.player, song.c_str()));
        }
        if (row.state == S::kPlaying || row.state == S::kPaused) {
            start_playback(app.player);
            harness.render(kPlayed);
        }
        if (row.state == S::kPaused) toggle_pause(app.player);
        if (row.state == S::kFinished || row.state == S::kFinishedBack) {
            start_playback(app.player);
            harness.render(UINT64_MAX);
        }
        if (row.state == S::kFinishedBack) {
            ASSERT_TRUE(seek_by(app.player, -10));
        }
        if (row.state == S::kSought) seek_fraction(app.player, 0.5);
        const TransportState before = player_transport(app.player);
        GVariant* parameter = std::string(row.action).starts_with("seek")
                                  ? g_variant_new_double(row.seconds)
                                  : nullptr;
        g_action_group_activate_action(G_ACTION_GROUP(harness.group), row.action, parameter);

        const TransportState after = player_transport(app.player);
        const uint64_t length = before.length_frames, step = 10 * kRate;
        uint64_t place = 0;
        switch (row.place) {
        case P::kTop:
            place = 0;
            break;
        case P::kSame:
            place = before.position;
            break;
        case P::kAhead:
            place = before.position + step;
            break;
        case P::kBack:
            place = before.position - step;
            break;
        case P::kHalf:
            place = static_cast<uint64_t>(length * 0.5);
            break;
        case P::kEnd:
            place = length;
            break;
        }
        const std::string where =
            std::string(row.action) + " from state " + std::to_string(int(row.state));
        EXPECT_EQ(after.active, row.active) << where;
        EXPECT_EQ(after.paused, row.paused) << where;
        EXPECT_EQ(after.position, place) << where;
        const std::string status = row.status != nullptr ? row.status : "Position: ";
        EXPECT_TRUE(after.status.starts_with(status)) << where << ": " << after.status;
    }
}

TEST(Actions, PlayWithNoOutputRunsTheTransportAndSaysSo) {
    ActionHarness harness;
    AppState& app = *harness.app;
    app.audio_failed = 1;
    ASSERT_TRUE(load_song(app.player, VELTA_BINARY_DIR "/tests/songs/minute.mid"));
    // Each action, then whether it left the transport running and its status.
    const std::tuple<const char*, bool, const char*> steps[] = {
        {"play", true, "Playing (no PipeWire output)"},
        {"pause", false, "Paused"},
        {"play-pause", true, "Resumed"},
        {"stop", false, "Stopped"},
        {"play-pause", true, "Playing (no PipeWire output)"}};
    for (const auto& [action, running, status] : steps) {
        g_action_group_activate_action(G_ACTION_GROUP(harness.group), action, nullptr);
        const TransportState state = player_transport(app.player);
        EXPECT_EQ(state.active && !state.paused, running) << action;
        EXPECT_EQ(state.status, status) << action;
    }
}

TEST(Actions, PlayWhileASongIsReadPlaysItOnArrivalUnlessStopped) {
    for (const bool stop : {false, true}) {
        ActionHarness harness;
        AppState& app = *harness.app;
        request_song(app, VELTA_BINARY_DIR "/tests/songs/melodic.mid", AfterLoad::kStay);
        g_action_group_activate_action(G_ACTION_GROUP(harness.group), "play-pause", nullptr);
        if (stop) g_action_group_activate_action(G_ACTION_GROUP(harness.group), "stop", nullptr);
        EXPECT_FALSE(player_transport(app.player).loaded) << "nothing installed until collected";
        while (song_load_pending(app)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            collect_loaded_songs(app);
        }
        const TransportState state = player_transport(app.player);
        EXPECT_TRUE(state.loaded);
        EXPECT_EQ(state.active, !stop) << state.status;
    }
}

TEST(Actions, SoloMutesTheOthersAndAgainRestoresTheMutes) {
    ActionHarness harness;
    Player& player = harness.app->player;
    const auto act = [&](const char* action, int32_t channel) {
        g_action_group_activate_action(G_ACTION_GROUP(harness.group), action,
                                       g_variant_new_int32(channel));
        return player_mutes(player);
    };
    act("toggle-mute", 3);
    EXPECT_EQ(act("solo", 0), 1u << 2) << "no channel 0";
    EXPECT_EQ(act("solo", 17), 1u << 2);
    EXPECT_EQ(act("solo", 1), 0xFFFEu);
    EXPECT_EQ(act("solo", 16), 0x7FFFu) << "another solo";
    EXPECT_EQ(act("solo", 16), 1u << 2) << "the mutes from before the first solo";
    act("solo", 5);
    act("toggle-mute", 5);
    EXPECT_EQ(act("solo", 5), 0xFFEFu) << "a mute changed since: a new solo";
}

TEST(Actions, ToggleMuteTakesMidiChannelNumbers) {
    ActionHarness harness;
    Player& player = harness.app->player;
    const auto mute = [&](int32_t channel) {
        g_action_group_activate_action(G_ACTION_GROUP(harness.group), "toggle-mute",
                                       g_variant_new_int32(channel));
    };
    for (const int32_t outside : {0, 17, -1})
        mute(outside);
    mute(1);
    mute(16);
    mute(16);
    for (int channel = 0; channel < kChannelCount; ++channel)
        EXPECT_EQ(player.synth.channels[channel].mute, channel == 0 ? 1 : 0) << channel;
}

// The volume's state stays within 0 to 1 however it is reached: set, stepped, by keys and wheel.
TEST(Actions, VolumeStaysBetweenSilenceAndFull) {
    ActionHarness harness;
    AppState& app = *harness.app;
    GActionGroup* group = G_ACTION_GROUP(harness.group);
    const auto state = [&] {
        GVariant* value = g_action_group_get_action_state(group, "volume");
        const double volume = g_variant_get_double(value);
        g_variant_unref(value);
        EXPECT_EQ(volume, app.volume);
        EXPECT_EQ(static_cast<float>(volume), app.audio.volume);
        return volume;
    };
    const auto by = [&](double step) {
        g_action_group_activate_action(group, "volume-by", g_variant_new_double(step));
        return state();
    };
    EXPECT_EQ(state(), 1.0);
    EXPECT_EQ(by(0.05), 1.0);
    EXPECT_STRNE(app.player.status_text, "Volume: 100 %") << "no change, no word";
    g_action_group_change_action_state(group, "volume", g_variant_new_double(0.5));
    EXPECT_EQ(state(), 0.5);
    EXPECT_STREQ(app.player.status_text, "Volume: 50 %");
    EXPECT_EQ(by(-2.0), 0.0);
    EXPECT_EQ(by(NAN), 0.0);
    g_action_group_activate_action(group, "volume", g_variant_new_double(7.0));
    EXPECT_EQ(state(), 1.0);
    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_Down, 0, GdkModifierType(0), &app));
    EXPECT_NEAR(state(), 1.0 - kVolumeStep, 1e-12);
    EXPECT_TRUE(on_scroll(nullptr, 0.0, 2.0, &app)) << "two notches down";
    EXPECT_NEAR(state(), 1.0 - 3 * kVolumeStep, 1e-12);
    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_Up, 0, GdkModifierType(0), &app));
    EXPECT_NEAR(state(), 1.0 - 2 * kVolumeStep, 1e-12);
    EXPECT_STREQ(app.player.status_text, "Volume: 90 %");
}

// The queue's and the loader's timers, without a main loop.
void settle(AppState& app) {
    while (queue_scan_pending(app) || song_load_pending(app)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        collect_queue_scans(app);
        collect_loaded_songs(app);
    }
}

TEST(InputHandlers, DropsPressesAndKeys) {
    ActionHarness harness;
    AppState& app = *harness.app;
    const auto drop = [&](GFile* file) {
        GValue value = G_VALUE_INIT;
        g_value_init(&value, G_TYPE_FILE);
        g_value_take_object(&value, file);
        const gboolean taken = on_drop(nullptr, &value, 0, 0, &app);
        g_value_unset(&value);
        settle(app);
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
    // Space and the play region reach the same action; Shift does not change Space.
    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_space, 0, GDK_SHIFT_MASK, &app));
    EXPECT_STREQ(app.player.status_text, "Playing");
    on_press(nullptr, 1, 260 * 1.5, 50 * 1.5, &app); // pause
    EXPECT_STREQ(app.player.status_text, "Paused");
    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_Right, 0, GdkModifierType(0), &app));
    const TransportState sought = player_transport(app.player);
    EXPECT_EQ(sought.position, sought.length_frames) << "a song shorter than the step: its end";
    // A failed load is still a taken drop; the song and its paused transport stay as they were
    // and the status names the file.
    EXPECT_TRUE(drop(g_file_new_for_path("/nonexistent/broken.mid")));
    EXPECT_STREQ(app.player.status_text, "broken.mid: Could not open MIDI file.");
    const TransportState kept = player_transport(app.player);
    EXPECT_TRUE(kept.loaded && kept.active && kept.paused);
    EXPECT_EQ(kept.position, sought.position);
    EXPECT_EQ(kept.path, VELTA_BINARY_DIR "/tests/songs/melodic.mid");
}

namespace {

std::string copy_song(const std::string& from, const std::string& to) {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    return to;
}

std::vector<int16_t> render_frames(AppState& app, uint32_t frames) {
    std::vector<int16_t> out(2 * frames);
    std::lock_guard guard(app.player.lock);
    synth_render(app.player, out.data(), frames);
    return out;
}

} // namespace

// A folder dropped on the window: its three songs in name order, the first loaded; Next,
// Previous, a song's end followed by the next one playing, a bad song on the way skipped, an
// append leaving the song alone; and a song reached through the queue sounds as opened alone.
TEST(Queue, DroppedFolderPlaysThrough) {
    const std::string songs = VELTA_BINARY_DIR "/tests/songs";
    const std::string folder = VELTA_BINARY_DIR "/tests/queue-drop";
    std::filesystem::remove_all(folder);
    const std::string a = copy_song(songs + "/melodic.mid", folder + "/song 1.mid");
    const std::string b = copy_song(songs + "/drums.mid", folder + "/song 2.mid");
    const std::string c = copy_song(songs + "/waves.mid", folder + "/song 10.mid");
    copy_song(songs + "/waves.mid", folder + "/.hidden.mid");
    ActionHarness harness;
    AppState& app = *harness.app;
    const auto act = [&](const char* action, GVariant* parameter = nullptr) {
        g_action_group_activate_action(G_ACTION_GROUP(harness.group), action, parameter);
        settle(app);
    };
    const auto loaded = [&] { return player_transport(app.player).path; };

    GFile* dropped = g_file_new_for_path(folder.c_str());
    GSList* one = g_slist_prepend(nullptr, dropped);
    GdkFileList* list = gdk_file_list_new_from_list(one);
    GValue value = G_VALUE_INIT;
    g_value_init(&value, GDK_TYPE_FILE_LIST);
    g_value_take_boxed(&value, list);
    EXPECT_TRUE(on_drop(nullptr, &value, 0, 0, &app));
    g_value_unset(&value);
    settle(app);
    ASSERT_EQ(app.queue.entries.size(), 3u);
    EXPECT_EQ(app.queue.entries[0].path, a);
    EXPECT_EQ(app.queue.entries[1].path, b);
    EXPECT_EQ(app.queue.entries[2].path, c);
    for (const QueueEntry& entry : app.queue.entries) {
        EXPECT_TRUE(entry.info_ready);
        EXPECT_GT(entry.length_seconds, 0.5) << entry.path;
    }
    EXPECT_EQ(loaded(), a);
    EXPECT_FALSE(player_transport(app.player).active) << "nothing was playing";
    EXPECT_EQ(queue_current(app.queue), 0);

    act("next");
    EXPECT_EQ(loaded(), b);
    EXPECT_FALSE(player_transport(app.player).active);
    act("previous");
    EXPECT_EQ(loaded(), a);
    // Later than 3 s into a song, Previous starts it again.
    act("next");
    act("seek-by", g_variant_new_double(4.0));
    act("previous");
    EXPECT_EQ(loaded(), b);
    EXPECT_EQ(player_transport(app.player).position, 0u);

    // Played to its end, the song is followed by the next one, playing.
    act("play");
    harness.render(uint64_t{22050} * 600);
    EXPECT_TRUE(player_transport(app.player).ended);
    queue_watch_end(app);
    settle(app);
    EXPECT_EQ(loaded(), c);
    EXPECT_TRUE(player_transport(app.player).active);
    // The same song opened alone sounds the same.
    const std::vector<int16_t> queued = render_frames(app, 22050);
    ActionHarness alone;
    ASSERT_TRUE(load_song(alone.app->player, c.c_str()));
    start_playback(alone.app->player);
    EXPECT_TRUE(render_frames(*alone.app, 22050) == queued);

    // Appended songs leave the current one alone; a bad one reached at a song's end is skipped
    // with its text shown, and repeating the queue goes round to the first.
    const std::string bad = folder + "/more/broken.mid";
    std::filesystem::create_directories(folder + "/more");
    { std::ofstream(bad) << "MThd but not a song"; }
    GFile* more = g_file_new_for_path((folder + "/more").c_str());
    GSList* appended = g_slist_prepend(nullptr, more);
    EXPECT_TRUE(open_files(app, appended, true));
    g_slist_free_full(appended, g_object_unref);
    settle(app);
    ASSERT_EQ(app.queue.entries.size(), 4u);
    EXPECT_EQ(loaded(), c);
    EXPECT_EQ(queue_current(app.queue), 2);
    act("repeat", g_variant_new_string("queue"));
    EXPECT_EQ(app.queue.repeat, RepeatMode::kQueue);
    harness.render(uint64_t{22050} * 600);
    queue_watch_end(app);
    settle(app);
    EXPECT_EQ(loaded(), a);
    EXPECT_TRUE(player_transport(app.player).active);
    EXPECT_EQ(queue_current(app.queue), 0);

    // The panel's commands: a song played by its index, one removed.
    act("play-entry", g_variant_new_int32(1));
    EXPECT_EQ(loaded(), b);
    EXPECT_TRUE(player_transport(app.player).active);
    act("remove-entry", g_variant_new_int32(3));
    EXPECT_EQ(app.queue.entries.size(), 3u);
    act("shuffle");
    EXPECT_TRUE(app.queue.shuffle);
    EXPECT_EQ(queue_current(app.queue), 1);
    g_slist_free_full(one, g_object_unref);
}

// The panel keeps the current song in view, scrolls within the queue, and takes the keys only
// after a press on it.
TEST(QueuePanel, ViewClicksAndKeys) {
    ActionHarness harness;
    AppState& app = *harness.app;
    app.view_scale = 1.0;
    std::vector<std::string> paths;
    for (int i = 0; i < 25; ++i)
        paths.push_back("/nonexistent/song" + std::to_string(i) + ".mid");
    queue_add(app.queue, paths, false);
    queue_set_current(app.queue, 17);
    follow_current_song(app);
    std::vector<QueueRow> rows = queue_rows(app);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_TRUE(rows[9].current) << "the current song, 17, on the last row from 8";
    EXPECT_EQ(rows[0].title, "song8.mid");
    app.queue_panel.pointer_over = true; // the wheel over the panel scrolls it
    EXPECT_TRUE(on_scroll(nullptr, 0.0, -1.0, &app));
    EXPECT_EQ(queue_panel_top(app), 5);
    EXPECT_TRUE(on_scroll(nullptr, 0.0, 100.0, &app));
    EXPECT_EQ(queue_panel_top(app), 15);
    EXPECT_NEAR(app.volume, 1.0, 1e-9) << "the wheel over the panel leaves the volume";
    on_press(nullptr, 1, 200, 150, &app); // a press elsewhere: the view stays

    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_Down, 0, GdkModifierType(0), &app));
    EXPECT_NEAR(app.volume, 0.95, 1e-9) << "before a press on the panel, Down is the volume";
    const int row_y = layout::kQueueList.y + 1 + 2 * layout::kQueueRowHeight + 5;
    on_press(nullptr, 1, 40, row_y, &app); // the third row: entry 17
    EXPECT_TRUE(app.queue_panel.focused);
    EXPECT_EQ(app.queue_panel.selected, 17);
    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_Down, 0, GdkModifierType(0), &app));
    EXPECT_EQ(app.queue_panel.selected, 18);
    EXPECT_TRUE(queue_rows(app)[3].selected);
    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_Delete, 0, GdkModifierType(0), &app));
    ASSERT_EQ(app.queue.entries.size(), 24u);
    EXPECT_EQ(app.queue.entries[18].path, "/nonexistent/song19.mid");
    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_Escape, 0, GdkModifierType(0), &app));
    EXPECT_TRUE(on_key_pressed(nullptr, GDK_KEY_Down, 0, GdkModifierType(0), &app));
    EXPECT_NEAR(app.volume, 0.9, 1e-9) << "Escape gives the keys back";
    on_press(nullptr, 1, 40, row_y, &app);
    on_press(nullptr, 1, 200 * 1.0, 150 * 1.0, &app); // elsewhere on the skin
    EXPECT_FALSE(app.queue_panel.focused);
}
