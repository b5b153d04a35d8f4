// Where the process callback runs, and that none runs once audio_output_stop has returned,
// observed through the instrumented build of the output against a private daemon.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "audio/audio_probe.h"
#include "audio/pipewire_output.h"
#include "tests/support/midi_bytes.h"
#include "tests/support/pw_harness.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"

namespace {

using namespace std::chrono_literals;

std::string thread_name(int tid) {
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

int thread_named(const std::string& name) {
    int found = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* entry = readdir(tasks)) {
        int tid = atoi(entry->d_name);
        if (tid > 0 && thread_name(tid) == name) found = tid;
    }
    closedir(tasks);
    return found;
}

template <typename Pred> bool wait_for(Pred pred, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end && !pred())
        std::this_thread::sleep_for(5ms);
    return pred();
}

TEST(AudioThreads, CallbackRunsOffTheLoopThreadAndNeverAfterStop) {
    if (!pwh::tools_present()) GTEST_SKIP() << "pipewire/wireplumber tools not installed";
    struct Session {
        std::string dir = pwh::session_start(48000);
        ~Session() { pwh::session_stop(dir); }
    } session;
    ASSERT_FALSE(session.dir.empty());
    const std::string song = write_file(session.dir + "/melody.mid", melody(64));
    AudioProbe& probe = audio_probe();

    for (int round = 0; round < 8; round++) {
        SCOPED_TRACE(round);
        // Fresh Player each round, freed right after stop as shutdown does: a late callback
        // would touch freed memory (caught under AddressSanitizer) or count as late below.
        auto player = std::make_unique<Player>();
        synth_init(*player, 48000);
        ASSERT_TRUE(load_song(*player, song.c_str()));
        start_playback(*player);
        AudioOutput audio;
        ASSERT_TRUE(audio_output_start(audio, *player, 48000));
        uint64_t before = probe.callbacks;
        ASSERT_TRUE(wait_for([&] { return probe.callbacks > before + 3; }, 5000ms));
        if (round == 0) {
            int callback_tid = probe.callback_tid;
            int loop_tid = thread_named("velta-audio");
            printf("callback thread: \"%s\"\n", thread_name(callback_tid).c_str());
            EXPECT_NE(loop_tid, 0);
            EXPECT_NE(callback_tid, loop_tid) << "real-time processing runs on the data loop";
        }
        audio_output_stop(audio);
        player.reset();
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(probe.late.load(), 0u);
    }
}

} // namespace
