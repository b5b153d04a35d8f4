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
#include "pw_harness.h"
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

// One quarter-note melody on channel 0 for `beats` beats at 120 bpm, division 96.
std::string write_melody(const std::string& dir, int beats) {
    std::vector<uint8_t> track = {0x00, 0xC0, 0x05};
    for (int beat = 0; beat < beats; beat++) {
        uint8_t note = static_cast<uint8_t>(60 + beat % 12);
        track.insert(track.end(), {0x00, 0x90, note, 100, 0x50, 0x80, note, 0, 0x10, 0xB0, 7, 100});
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0,  0,   0,   6,   0,
                                 0,   0,   1,   0,   96, 'M', 'T', 'r', 'k'};
    auto size = static_cast<uint32_t>(track.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        file.push_back((size >> shift) & 0xFF);
    file.insert(file.end(), track.begin(), track.end());
    std::string path = dir + "/melody.mid";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path;
}

TEST(AudioThreads, CallbackRunsOffTheLoopThreadAndNeverAfterStop) {
    if (!pwh::tools_present()) GTEST_SKIP() << "pipewire/wireplumber tools not installed";
    pwh::SessionGuard guard;
    ASSERT_TRUE(pwh::session_start(guard.session, 48000));
    std::string song = write_melody(guard.session.dir, 64);
    AudioProbe& probe = audio_probe();

    uint64_t after_loop_stop = 0;
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
            std::string name = thread_name(callback_tid);
            printf("callback thread: tid %d \"%s\"; thread loop \"velta-audio\": tid %d; "
                   "process %d\n",
                   callback_tid, name.c_str(), loop_tid, static_cast<int>(getpid()));
            RecordProperty("callback_thread", name);
            EXPECT_NE(loop_tid, 0);
            EXPECT_NE(callback_tid, loop_tid) << "real-time processing runs on the data loop";
        }
        audio_output_stop(audio);
        player.reset();
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(probe.late.load(), 0u);
        after_loop_stop += probe.after_loop_stop.exchange(0);
    }
    printf("callbacks entered after the thread loop stopped, before stop returned: %llu\n",
           static_cast<unsigned long long>(after_loop_stop));
}

} // namespace
