// The sound output's watch against a private daemon that dies and comes back, or that only
// appears after start-up: the main loop reconnects and the song plays on from where it was.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <glib.h>
#include <memory>
#include <mutex>
#include <thread>

#include "app/app_state.h"
#include "app/audio_watch.h"
#include "app/initial_song.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "synth/synth.h"
#include "tests/support/midi_bytes.h"
#include "tests/support/pw_harness.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr uint32_t kRate = 44100;

class AudioWatch : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!pwh::tools_present()) GTEST_SKIP() << "pipewire/wireplumber tools not installed";
        char tmpl[] = "/tmp/velta-watch-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        song = write_file(dir + "/song.mid", melody(120)); // a minute
        session = pwh::session_start(kRate);
        ASSERT_FALSE(session.empty());
        app->prefs.output_frequency_hz = kRate;
        synth_init(app->player, kRate);
    }
    void TearDown() override {
        stop_audio_watch(*app);
        audio_output_stop(app->audio);
        pwh::capture_stop(capture);
        pwh::session_stop(session);
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
    // Runs the default main loop (the watch's timer) until `pred` holds or `limit` passes.
    template <typename Pred> bool pump_until(Pred pred, std::chrono::milliseconds limit) {
        for (auto end = Clock::now() + limit; Clock::now() < end && !pred();) {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            std::this_thread::sleep_for(10ms);
        }
        return pred();
    }
    std::string status() {
        std::lock_guard guard(app->player.lock);
        return app->player.status_text;
    }
    uint64_t position() {
        std::lock_guard guard(app->player.lock);
        return app->player.position;
    }
    // Whether the sink carries sound within `limit`, as captured from its monitor.
    bool sink_sounds(std::chrono::milliseconds limit) {
        const std::string path = dir + "/cap.wav";
        capture = pwh::capture_start(path, kRate);
        if (capture.empty()) return false;
        pump_until([] { return false; }, limit);
        pwh::capture_stop(capture);
        pwh::Wav cap;
        return pwh::read_wav(path, cap) &&
               pwh::first_sounding_frame(cap.samples) < cap.samples.size() / 2;
    }

    std::string dir, song, session, capture;
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
};

TEST_F(AudioWatch, RestartedDaemonIsReconnectedAndPlayingGoesOn) {
    ASSERT_TRUE(start_audio(*app));
    start_audio_watch(*app);
    ASSERT_TRUE(load_song(app->player, song.c_str()));
    start_playback(app->player);
    ASSERT_TRUE(pump_until([&] { return position() > kRate / 2; }, 5000ms));

    const pid_t daemon = pwh::session_daemon_pid(session);
    ASSERT_GT(daemon, 0);
    ASSERT_EQ(kill(daemon, SIGKILL), 0);
    EXPECT_TRUE(pump_until([&] { return app->audio_failed != 0; }, 5000ms));
    EXPECT_EQ(status(), kAudioFailedText);
    // Without a daemon the window's side keeps working: the transport seeks and pauses.
    seek_fraction(app->player, 0.25);
    const uint64_t resumed_at = position();
    toggle_pause(app->player);
    toggle_pause(app->player);
    EXPECT_EQ(status(), "Resumed");
    // A retry against the dead daemon's leftover socket fails and changes nothing.
    pump_until([] { return false; }, 2500ms);
    EXPECT_EQ(app->audio_failed, 1);
    EXPECT_EQ(position(), resumed_at);

    ASSERT_TRUE(pwh::session_down(session));
    ASSERT_TRUE(pwh::session_up(session));
    ASSERT_TRUE(pump_until([&] { return status() == kAudioRestoredText; }, 10000ms)) << status();
    EXPECT_EQ(app->audio_failed, 0);
    // Plays on from the position it had, not from the top.
    EXPECT_TRUE(pump_until([&] { return position() > resumed_at; }, 5000ms));
    EXPECT_TRUE(sink_sounds(1000ms));
}

TEST_F(AudioWatch, DaemonAbsentAtStartIsPickedUpWhenItAppears) {
    ASSERT_TRUE(pwh::session_down(session));
    EXPECT_FALSE(start_audio(*app));
    EXPECT_EQ(status(), kAudioFailedText);
    start_audio_watch(*app);
    // Loading and playing work without sound; the song waits at the top.
    ASSERT_TRUE(load_song(app->player, song.c_str()));
    start_playback(app->player);
    pump_until([] { return false; }, 2500ms); // at least one failed retry
    EXPECT_EQ(app->audio_failed, 1);
    EXPECT_EQ(position(), 0u);

    ASSERT_TRUE(pwh::session_up(session));
    ASSERT_TRUE(pump_until([&] { return status() == kAudioRestoredText; }, 10000ms)) << status();
    EXPECT_TRUE(pump_until([&] { return position() > 0; }, 10000ms));
    EXPECT_TRUE(sink_sounds(1000ms));
}

} // namespace
