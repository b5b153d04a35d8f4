// The PipeWire output: the block rules through the seam (no daemon), then the real stream
// against a private daemon, captured from the null sink's monitor.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/pipewire_output.h"
#include "pw_harness.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- the block seam ----------------------------------------------------------------------

struct FakeRender {
    int calls = 0;
    uint32_t last_frames = 0;
    uint32_t fill_frames = 0; // frames written with the pattern below
    bool result = true;
};
FakeRender fake;

int16_t pattern(size_t i) {
    static constexpr int16_t kValues[] = {-32768, 32767, 1, -1, 12345, -4321, 0, 256};
    return kValues[i % std::size(kValues)];
}

bool fake_render(Player&, int16_t* out, uint32_t frames) noexcept {
    fake.calls++;
    fake.last_frames = frames;
    for (size_t i = 0; i < size_t{fake.fill_frames} * 2 && i < size_t{frames} * 2; i++)
        out[i] = pattern(i);
    return fake.result;
}

class AudioBlock : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = FakeRender{};
        audio.player = player.get();
        player->active = 1;
        player->song.event_count = 1;
    }
    void TearDown() override { free(audio.scratch); }

    // Fills a buffer of `maxsize` bytes surrounded by guard values; returns frames written.
    uint32_t fill(uint32_t maxsize, uint64_t requested) {
        buffer.assign(maxsize / 4 + 64, kGuard);
        return audio_fill_block(audio, AudioBlockTarget{buffer.data(), maxsize, requested},
                                fake_render);
    }
    size_t guards_from(size_t index) const {
        size_t n = 0;
        for (size_t i = index; i < buffer.size(); i++)
            n += buffer[i] == kGuard;
        return n;
    }

    static constexpr float kGuard = 7.5f;
    std::unique_ptr<Player> player = std::make_unique<Player>();
    AudioOutput audio;
    std::vector<float> buffer;
};

TEST_F(AudioBlock, SizeFollowsRequestCappedAtCapacity) {
    fake.fill_frames = 1u << 20;
    EXPECT_EQ(fill(8 * 100, 0), 100u) << "no request: the whole block";
    EXPECT_EQ(fill(8 * 100, 40), 40u);
    EXPECT_EQ(guards_from(80), buffer.size() - 80) << "nothing past the requested frames";
    EXPECT_EQ(fill(8 * 100 + 7, 5000), 100u) << "a request beyond the block is capped";
    EXPECT_EQ(fake.last_frames, 100u);
    EXPECT_EQ(guards_from(200), buffer.size() - 200) << "nothing written past maxsize";
    EXPECT_EQ(fill(8 * 100, (uint64_t{1} << 32) + 16), 16u) << "only the low 32 bits count";
    EXPECT_EQ(fill(8 * 100, uint64_t{1} << 32), 100u) << "low 32 bits zero: no request";
}

TEST_F(AudioBlock, BlockBelowOneFrameGoesBackUntouched) {
    for (uint64_t requested : {uint64_t{0}, uint64_t{4}}) {
        EXPECT_EQ(fill(7, requested), 0u);
        EXPECT_EQ(guards_from(0), buffer.size());
    }
    EXPECT_EQ(fake.calls, 0);
    EXPECT_EQ(audio.scratch, nullptr) << "no allocation for an unusable block";
}

TEST_F(AudioBlock, ScratchGrowsToLargestBlockAndNeverShrinks) {
    fill(8 * 64, 0);
    EXPECT_EQ(audio.scratch_frames, 64u);
    const int16_t* first = audio.scratch;
    fill(8 * 16, 0);
    EXPECT_EQ(audio.scratch_frames, 64u);
    EXPECT_EQ(audio.scratch, first);
    fill(8 * 4096, 0);
    EXPECT_EQ(audio.scratch_frames, 4096u);
    fill(8 * 64, 0);
    EXPECT_EQ(audio.scratch_frames, 4096u);
}

TEST_F(AudioBlock, StoppedPausedSonglessOrUnrenderedBlocksAreFullSilence) {
    fake.fill_frames = 1u << 20;
    auto expect_silent_block = [&](const char* what, int render_calls) {
        fake.calls = 0;
        ASSERT_EQ(fill(8 * 256, 0), 256u) << what;
        for (size_t i = 0; i < 512; i++)
            ASSERT_EQ(buffer[i], 0.0f) << what << " sample " << i;
        EXPECT_EQ(guards_from(512), buffer.size() - 512) << what;
        EXPECT_EQ(fake.calls, render_calls) << what;
    };
    player->active = 0;
    expect_silent_block("stopped", 0);
    player->active = 1;
    player->paused = 1;
    expect_silent_block("paused", 0);
    player->paused = 0;
    player->song.event_count = 0;
    expect_silent_block("no song", 0);
    player->song.event_count = 1;
    fake.result = false;
    expect_silent_block("render produced nothing", 1);
}

TEST_F(AudioBlock, ConvertsEverySampleExactlyAndClearsStaleScratch) {
    fake.fill_frames = 300;
    ASSERT_EQ(fill(8 * 300, 0), 300u);
    for (size_t i = 0; i < 600; i++)
        ASSERT_EQ(buffer[i], static_cast<float>(pattern(i)) / 32768.0f) << i;
    EXPECT_EQ(buffer[0], -1.0f);
    // A render that fills only the start of a block leaves the rest silent, not stale.
    fake.fill_frames = 10;
    ASSERT_EQ(fill(8 * 300, 0), 300u);
    for (size_t i = 0; i < 20; i++)
        ASSERT_EQ(buffer[i], static_cast<float>(pattern(i)) / 32768.0f);
    for (size_t i = 20; i < 600; i++)
        ASSERT_EQ(buffer[i], 0.0f) << i;
}

TEST_F(AudioBlock, RendersUnderThePlayerLockAndReleasesIt) {
    // Marks the block only if another thread finds the lock taken while rendering.
    static Player* shared;
    shared = player.get();
    auto render = [](Player&, int16_t* out, uint32_t) noexcept {
        bool held = false;
        std::thread([&] {
            held = !shared->lock.try_lock();
            if (!held) shared->lock.unlock();
        }).join();
        out[0] = held ? 16384 : 0;
        return true;
    };
    buffer.assign(64, 0.0f);
    EXPECT_EQ(audio_fill_block(audio, AudioBlockTarget{buffer.data(), 8 * 16, 0}, render), 16u);
    EXPECT_EQ(buffer[0], 0.5f);
    EXPECT_TRUE(player->lock.try_lock());
    player->lock.unlock();
}

TEST(AudioOutputLifecycle, StopIsSafeOnEmptyRecordAndTwice) {
    AudioOutput audio;
    audio_output_stop(audio);
    audio_output_stop(audio);
    EXPECT_EQ(audio.loop, nullptr);
    EXPECT_EQ(audio.scratch_frames, 0u);
}

// ---- songs -------------------------------------------------------------------------------

void put_vlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (n > 1)
        out.push_back(bytes[--n] | 0x80);
    out.push_back(bytes[0]);
}

// A melodic song of `beats` quarter notes at 120 bpm, division 96, on channels 0-2 only: no
// drums, whose noise would depend on rand() calls made earlier in this process.
std::string write_song(const std::filesystem::path& dir, int beats) {
    struct Ev {
        uint32_t tick;
        std::vector<uint8_t> bytes;
    };
    std::vector<Ev> events = {{0, {0xC0, 10}},
                              {0, {0xC1, 80}},
                              {0, {0xC2, 33}},
                              {0, {0xB0, 7, 110}},
                              {0, {0xB1, 10, 20}}};
    static constexpr uint8_t kMelody[] = {60, 64, 67, 72, 71, 67, 64, 62};
    for (int beat = 0; beat < beats; beat++) {
        uint32_t t = static_cast<uint32_t>(beat) * 96;
        uint8_t note = kMelody[beat % 8];
        events.push_back({t, {0x90, note, 100}});
        events.push_back({t + 60, {0x80, note, 0}});
        if (beat % 2 == 0) {
            events.push_back({t, {0x91, static_cast<uint8_t>(note - 12), 90}});
            events.push_back({t + 150, {0x81, static_cast<uint8_t>(note - 12), 0}});
        }
        events.push_back({t + 24, {0x92, static_cast<uint8_t>(note + 7), 70}});
        events.push_back({t + 48, {0xE2, 0x00, static_cast<uint8_t>(0x40 + beat % 16)}});
        events.push_back({t + 90, {0x82, static_cast<uint8_t>(note + 7), 0}});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Ev& a, const Ev& b) { return a.tick < b.tick; });
    std::vector<uint8_t> track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
    uint32_t now = 0;
    for (const Ev& e : events) {
        put_vlq(track, e.tick - now);
        now = e.tick;
        track.insert(track.end(), e.bytes.begin(), e.bytes.end());
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0,  0,   0,   6,   0,
                                 0,   0,   1,   0,   96, 'M', 'T', 'r', 'k'};
    uint32_t size = static_cast<uint32_t>(track.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        file.push_back((size >> shift) & 0xFF);
    file.insert(file.end(), track.begin(), track.end());
    std::string path = (dir / ("song" + std::to_string(beats) + ".mid")).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path;
}

// ---- against a real daemon ---------------------------------------------------------------

class AudioDaemon : public ::testing::Test {
  public:
    void SetUp() override {
        if (!pwh::tools_present()) GTEST_SKIP() << "pipewire/wireplumber tools not installed";
        char tmpl[] = "/tmp/velta-audio-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        audio_output_stop(audio);
        pwh::capture_stop(capture);
        pwh::session_stop(session);
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }

    void start_session(uint32_t rate) { ASSERT_TRUE(pwh::session_start(session, rate)); }

    template <typename Pred> bool wait_for(Pred pred, std::chrono::milliseconds limit) {
        auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (pred()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return pred();
    }
    template <typename T, typename F> T under_lock(F f) {
        std::lock_guard guard(player->lock);
        return f(*player);
    }
    std::string status() {
        return under_lock<std::string>([](Player& p) { return std::string(p.status_text); });
    }
    uint64_t position() {
        return under_lock<uint64_t>([](Player& p) { return p.position; });
    }
    // Waits until the daemon shows the node "velta" running at `rate`, float stereo.
    bool node_running_at(uint32_t rate) {
        std::string want = "running F32LE " + std::to_string(rate) + " 2\n";
        return wait_for([&] { return pwh::velta_node_format() == want; }, 5000ms);
    }

    std::filesystem::path dir;
    pwh::Session session;
    pwh::Capture capture;
    std::unique_ptr<Player> player = std::make_unique<Player>();
    AudioOutput audio;
};

// Plays `song` from the start to "Finished" into a fresh capture; returns the capture.
pwh::Wav play_and_capture(AudioDaemon& t, const std::string& song, uint32_t rate, int attempt);

TEST_F(AudioDaemon, PlayedSongReachesTheSinkAsRendered) {
    constexpr uint32_t kRate = 44100;
    start_session(kRate);
    std::string song = write_song(dir, 4);
    std::string ref_path = (dir / "ref.wav").string();
    int rc = 0;
    pwh::run(std::string("'") + VELTA_BINARY_DIR + "/tools/velta-render' --rate " +
                 std::to_string(kRate) + " '" + song + "' '" + ref_path + "' 2>&1",
             &rc);
    ASSERT_EQ(rc, 0);
    pwh::Wav ref;
    ASSERT_TRUE(pwh::read_wav(ref_path, ref));
    size_t ref_start = pwh::first_sounding_frame(ref.samples);
    size_t frames = pwh::last_sounding_frame_end(ref.samples) - ref_start;
    ASSERT_GT(frames, kRate / 2);

    synth_init(*player, kRate);
    ASSERT_TRUE(load_song(*player, song.c_str())) << status();
    ASSERT_TRUE(audio_output_start(audio, *player, kRate));
    ASSERT_TRUE(node_running_at(kRate));
    // A graph cycle missed under load shifts the capture by a quantum. That is the machine,
    // not the output: a wrong block or conversion fails every attempt, so allow three.
    std::string last_failure;
    for (int attempt = 0; attempt < 3; attempt++) {
        pwh::Wav cap = play_and_capture(*this, song, kRate, attempt);
        if (HasFatalFailure()) return;
        size_t cap_start = pwh::first_sounding_frame(cap.samples);
        size_t cap_frames = pwh::last_sounding_frame_end(cap.samples) - cap_start;
        ASSERT_GT(cap_frames, 0u) << "nothing reached the sink";
        ASSERT_GE(cap.samples.size() / 2 - cap_start, frames) << "capture too short";
#if VELTA_SANITIZED
        // Instrumented builds miss cycles more often: check the sound is there, about as long.
        EXPECT_NEAR(static_cast<double>(cap_frames), static_cast<double>(frames),
                    0.1 * static_cast<double>(frames));
        return;
#else
        size_t mismatches = 0, first_mismatch = 0;
        for (size_t i = 0; i < frames * 2; i++) {
            if (cap.samples[cap_start * 2 + i] != ref.samples[ref_start * 2 + i] &&
                mismatches++ == 0)
                first_mismatch = i;
        }
        if (mismatches == 0 && cap_frames == frames) return;
        last_failure = std::to_string(mismatches) + " of " + std::to_string(frames * 2) +
                       " samples differ, first at " + std::to_string(first_mismatch) +
                       "; sounding frames " + std::to_string(cap_frames) + " vs " +
                       std::to_string(frames);
        printf("attempt %d: %s\n", attempt + 1, last_failure.c_str());
#endif
    }
    ADD_FAILURE() << last_failure;
}

pwh::Wav play_and_capture(AudioDaemon& t, const std::string& song, uint32_t rate, int attempt) {
    pwh::Wav cap;
    std::string cap_path = (t.dir / ("cap" + std::to_string(attempt) + ".wav")).string();
    EXPECT_TRUE(load_song(*t.player, song.c_str()));
    if (!pwh::capture_start(t.capture, cap_path, rate)) {
        ADD_FAILURE() << "capture did not start";
        return cap;
    }
    start_playback(*t.player);
    bool finished = t.wait_for(
        [&] { return t.under_lock<bool>([](Player& p) { return !p.active; }); }, 10000ms);
    EXPECT_TRUE(finished);
    EXPECT_EQ(t.status(), "Finished");
    std::this_thread::sleep_for(300ms); // the last queued quanta still have to play
    pwh::capture_stop(t.capture);
    EXPECT_TRUE(pwh::read_wav(cap_path, cap));
    EXPECT_EQ(cap.rate, rate);
    return cap;
}

TEST_F(AudioDaemon, NoSongStoppedOrPausedStaysSilentAndStill) {
    constexpr uint32_t kRate = 48000;
    start_session(kRate);
    synth_init(*player, kRate);
    ASSERT_TRUE(audio_output_start(audio, *player, kRate));
    ASSERT_TRUE(node_running_at(kRate));
    std::string cap_path = (dir / "cap.wav").string();
    ASSERT_TRUE(pwh::capture_start(capture, cap_path, kRate));
    std::this_thread::sleep_for(200ms); // no song

    std::string song = write_song(dir, 4);
    ASSERT_TRUE(load_song(*player, song.c_str()));
    std::this_thread::sleep_for(200ms); // loaded, stopped
    {
        std::lock_guard guard(player->lock); // playing but paused before the first block
        player->active = 1;
        player->paused = 1;
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(position(), 0u);
    pwh::capture_stop(capture);

    pwh::Wav cap;
    ASSERT_TRUE(pwh::read_wav(cap_path, cap));
    EXPECT_GT(cap.samples.size() / 2, kRate / 4) << "the capture ran";
    EXPECT_EQ(pwh::first_sounding_frame(cap.samples), cap.samples.size() / 2);

    toggle_pause(*player); // resumes: now the song moves
    EXPECT_TRUE(wait_for([&] { return position() > 0; }, 2000ms));
}

TEST_F(AudioDaemon, StreamRunsAtEachOutputRateAndRestartsAtAnother) {
    for (uint32_t rate : {22050u, 44100u, 48000u}) {
        SCOPED_TRACE(rate);
        start_session(rate);
        synth_init(*player, static_cast<int32_t>(rate));
        ASSERT_TRUE(audio_output_start(audio, *player, rate));
        EXPECT_TRUE(node_running_at(rate)) << pwh::velta_node_format();
        audio_output_stop(audio);
        EXPECT_NE(status(), "PipeWire output could not be started") << "a normal stop is no fault";
        pwh::session_stop(session);
    }
    // Restart on one daemon: stop, start at a new rate, the node follows.
    start_session(48000);
    ASSERT_TRUE(audio_output_start(audio, *player, 48000));
    ASSERT_TRUE(node_running_at(48000));
    audio_output_stop(audio);
    audio_output_stop(audio);
    EXPECT_EQ(audio.loop, nullptr);
    EXPECT_EQ(audio.player, nullptr);
    ASSERT_TRUE(audio_output_start(audio, *player, 22050));
    EXPECT_TRUE(node_running_at(22050)) << pwh::velta_node_format();
}

TEST_F(AudioDaemon, StartWithoutDaemonFailsFastAndStopCleansUp) {
    std::filesystem::create_directory(dir / "run");
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    setenv("PIPEWIRE_RUNTIME_DIR", (dir / "run").c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    synth_init(*player, 44100);
    auto begin = Clock::now();
    EXPECT_FALSE(audio_output_start(audio, *player, 44100));
    auto took = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    RecordProperty("start_failure_ms", std::to_string(took));
    printf("start without daemon failed after %.2f ms\n", took);
    EXPECT_LT(took, 1000.0);
    EXPECT_NE(audio.loop, nullptr) << "a failed start leaves its objects for stop";
    EXPECT_EQ(audio.core, nullptr);
    audio_output_stop(audio);
    EXPECT_EQ(audio.loop, nullptr);
    EXPECT_EQ(audio.context, nullptr);
    EXPECT_EQ(audio.player, nullptr);
    audio_output_stop(audio);
}

TEST_F(AudioDaemon, DaemonKilledWhilePlayingIsReportedAndStopCompletes) {
    constexpr uint32_t kRate = 44100;
    start_session(kRate);
    std::string song = write_song(dir, 40);
    synth_init(*player, kRate);
    ASSERT_TRUE(load_song(*player, song.c_str()));
    ASSERT_TRUE(audio_output_start(audio, *player, kRate));
    start_playback(*player);
    ASSERT_TRUE(wait_for([&] { return position() > kRate / 10; }, 5000ms));
    EXPECT_EQ(status(), "Playing");

    pid_t daemon = pwh::session_daemon_pid(session);
    ASSERT_GT(daemon, 0);
    auto killed = Clock::now();
    ASSERT_EQ(kill(daemon, SIGKILL), 0);
    EXPECT_TRUE(
        wait_for([&] { return status() == "PipeWire output could not be started"; }, 3000ms))
        << status();
    printf("status changed %.1f ms after the daemon was killed\n",
           std::chrono::duration<double, std::milli>(Clock::now() - killed).count());
    uint64_t frozen = position();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(position(), frozen) << "no callbacks without a daemon";

    auto begin = Clock::now();
    audio_output_stop(audio);
    auto took = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    printf("stop after the daemon died took %.2f ms\n", took);
    EXPECT_EQ(audio.stream, nullptr);
}

} // namespace
