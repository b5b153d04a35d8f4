// The background WAV export, without a display: the same bytes as velta-render, and nothing
// left behind when it is cancelled or cannot write.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "export/export_job.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSong = VELTA_BINARY_DIR "/tests/songs/melodic.mid";

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Polls as the window's redraw tick does, until the final text arrives.
std::string wait_for_result(ExportJob& job) {
    std::string text;
    for (int tick = 0; tick < 6000; ++tick) {
        if (export_job_poll(job, text) && !export_job_busy(job)) return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "timed out";
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("velta-export-" + std::to_string(getpid()));
        fs::create_directories(dir_ / "out");
    }
    void TearDown() override {
        fs::permissions(dir_ / "out", fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    std::string run(ExportRequest r, const fs::path& output) {
        r.output_path = output.string();
        ExportJob job;
        EXPECT_TRUE(export_job_start(job, r));
        return wait_for_result(job);
    }
    size_t files_out() const {
        return size_t(std::distance(fs::directory_iterator(dir_ / "out"), {}));
    }
    fs::path dir_;
};

TEST_F(ExportTest, WritesTheBytesVeltaRenderWritesAndSilenceWhenAllIsMuted) {
    const struct {
        int32_t rate, set;
        int muted; // MIDI channel, 0 for none
    } cases[] = {{44100, 0, 0}, {22050, 9, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        ExportRequest r;
        r.song_path = kSong;
        r.rate = c.rate;
        r.instrument_set = c.set;
        if (c.muted > 0) r.muted[c.muted - 1] = true;
        EXPECT_EQ(run(r, dir_ / "out" / "song.wav"), "Exported song.wav");
        const std::string reference = (dir_ / "reference.wav").string();
        const std::string command = std::string("'") + VELTA_RENDER_PATH + "' --rate " +
                                    std::to_string(c.rate) + " --set " + std::to_string(c.set) +
                                    (c.muted > 0 ? " --mute " + std::to_string(c.muted) : "") +
                                    " '" + kSong + "' '" + reference + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::string exported = read_all(dir_ / "out" / "song.wav");
        EXPECT_GT(exported.size(), 44u);
        EXPECT_TRUE(exported == read_all(reference)) << "differs from " << command;
        EXPECT_EQ(files_out(), 1u) << "the temporary file was renamed";
        fs::remove(dir_ / "out" / "song.wav");
    }
    ExportRequest r;
    r.song_path = kSong;
    r.muted.fill(true);
    ASSERT_EQ(run(r, dir_ / "out" / "silent.wav"), "Exported silent.wav");
    const std::string data = read_all(dir_ / "out" / "silent.wav").substr(44);
    EXPECT_FALSE(data.empty());
    EXPECT_EQ(data.find_first_not_of('\0'), std::string::npos);
}

TEST_F(ExportTest, CancelLeavesNoFileAndTheOldOneAlone) {
    // One note held for an hour.
    const std::string song("MThd\0\0\0\6\0\0\0\1\1\xE0"
                           "MTrk\0\0\0\x0F\0\x90\x3C\x64\x81\xD2\xF8\0\x80\x3C\0\0\xFF\x2F\0",
                           37);
    std::ofstream((dir_ / "long.mid").string(), std::ios::binary) << song;
    std::ofstream((dir_ / "out" / "long.wav").string(), std::ios::binary) << "old";
    ExportRequest r;
    r.song_path = (dir_ / "long.mid").string();
    r.output_path = (dir_ / "out" / "long.wav").string();
    ExportJob job;
    ASSERT_TRUE(export_job_start(job, r));
    EXPECT_FALSE(export_job_start(job, r)) << "a second export while one runs";
    while (job.percent.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    export_job_cancel(job);
    EXPECT_EQ(wait_for_result(job), "Export cancelled");
    EXPECT_EQ(read_all(dir_ / "out" / "long.wav"), "old");
    EXPECT_EQ(files_out(), 1u);
}

TEST_F(ExportTest, FailuresLeaveNoFileAndSayWhy) {
    // Root may write into a folder without write permission; sysfs refuses new files to anyone.
    const bool root = geteuid() == 0;
    fs::permissions(dir_ / "out", fs::perms::owner_read | fs::perms::owner_exec);
    const struct {
        fs::path output;
        std::string song, text;
    } cases[] = {
        {root ? fs::path("/sys/velta-export-test.wav") : dir_ / "out" / "song.wav", kSong,
         "Could not write WAV file. (Permission denied)"},
        {dir_ / "vanished" / "song.wav", kSong,
         "Could not write WAV file. (No such file or directory)"},
        {dir_ / "song.wav", (dir_ / "absent.mid").string(),
         "Could not open MIDI file. (No such file or directory)"},
    };
    for (const auto& c : cases) {
        ExportRequest r;
        r.song_path = c.song;
        EXPECT_EQ(run(r, c.output), c.text) << c.output;
        EXPECT_FALSE(fs::exists(c.output));
    }
    EXPECT_EQ(files_out(), 0u);
}

} // namespace
