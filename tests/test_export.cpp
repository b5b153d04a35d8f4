// The background WAV export, without a display: the same bytes as velta-render, and nothing
// left behind when it is cancelled or cannot write.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <unistd.h>

#include "export/export_job.h"
#include "tests/support/midi_bytes.h"

namespace fs = std::filesystem;

namespace {

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Polls as the window's redraw tick does, until the final text arrives.
std::string wait_for_result(ExportJob& job, std::string* progress_seen = nullptr) {
    std::string text;
    for (int tick = 0; tick < 6000; ++tick) {
        if (export_job_poll(job, text) && !export_job_busy(job)) return text;
        if (progress_seen != nullptr && !text.empty()) *progress_seen = text;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "timed out";
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("velta-export-" + std::to_string(getpid()));
        fs::create_directories(dir_ / "out");
        song_ = write_file((dir_ / "song.mid").string(), melody(24));
    }
    void TearDown() override {
        fs::permissions(dir_ / "out", fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    ExportRequest request(const fs::path& output) const {
        ExportRequest r;
        r.song_path = song_;
        r.output_path = output.string();
        return r;
    }
    bool folder_empty() const { return fs::is_empty(dir_ / "out"); }

    fs::path dir_;
    std::string song_;
};

TEST_F(ExportTest, WritesTheBytesVeltaRenderWrites) {
    struct Case {
        int32_t rate;
        int32_t set;
        std::vector<int> muted; // MIDI channel numbers
        const char* mute_option;
    };
    const Case cases[] = {
        {44100, 0, {}, ""}, {48000, 3, {1}, "--mute 1"}, {22050, 9, {1, 2}, "--mute 2,1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        ExportRequest r = request(dir_ / "out" / "song.wav");
        r.rate = c.rate;
        r.instrument_set = c.set;
        for (int channel : c.muted)
            r.muted[channel - 1] = true;
        ExportJob job;
        std::string progress;
        ASSERT_TRUE(export_job_start(job, r));
        EXPECT_EQ(wait_for_result(job, &progress), "Exported song.wav");
        if (!progress.empty()) {
            EXPECT_EQ(progress.rfind("Exporting song.wav: ", 0), 0u) << progress;
        }
        EXPECT_EQ(job.percent.load(), 100);

        const fs::path reference = dir_ / "reference.wav";
        const std::string command = std::string("'") + VELTA_RENDER_PATH +
                                    "' --max-seconds 100000 --rate " + std::to_string(c.rate) +
                                    " --set " + std::to_string(c.set) + " " + c.mute_option + " '" +
                                    song_ + "' '" + reference.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::string exported = read_all(dir_ / "out" / "song.wav");
        EXPECT_GT(exported.size(), 44u);
        EXPECT_TRUE(exported == read_all(reference)) << "differs from " << command;
        // Only the finished file: the temporary one was renamed.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 1);
        fs::remove(dir_ / "out" / "song.wav");
    }
}

TEST_F(ExportTest, MutedChannelsAreSilent) {
    ExportRequest r = request(dir_ / "out" / "silent.wav");
    r.muted.fill(true);
    ExportJob job;
    ASSERT_TRUE(export_job_start(job, r));
    ASSERT_EQ(wait_for_result(job), "Exported silent.wav");
    const std::string data = read_all(dir_ / "out" / "silent.wav").substr(44);
    EXPECT_FALSE(data.empty());
    EXPECT_EQ(data.find_first_not_of('\0'), std::string::npos);
}

TEST_F(ExportTest, CancelLeavesNoFileAndTheOldOneAlone) {
    write_file((dir_ / "long.mid").string(), melody(4000)); // over half an hour
    write_file((dir_ / "out" / "long.wav").string(), {1, 2, 3});
    ExportRequest r = request(dir_ / "out" / "long.wav");
    r.song_path = (dir_ / "long.mid").string();
    ExportJob job;
    ASSERT_TRUE(export_job_start(job, r));
    EXPECT_FALSE(export_job_start(job, r)) << "a second export while one runs";
    std::string text;
    while (job.percent.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    export_job_cancel(job);
    EXPECT_EQ(wait_for_result(job), "Export cancelled");
    EXPECT_EQ(read_all(dir_ / "out" / "long.wav"), std::string("\1\2\3"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 1);
}

TEST_F(ExportTest, FailuresLeaveNoFileAndSayWhy) {
    // Root may write into a folder without write permission; sysfs refuses new files to anyone.
    const bool root = geteuid() == 0;
    fs::permissions(dir_ / "out", fs::perms::owner_read | fs::perms::owner_exec);
    struct Case {
        fs::path output;
        std::string song;
        std::string text;
    };
    const Case cases[] = {
        {root ? fs::path("/sys/velta-export-test.wav") : dir_ / "out" / "song.wav", song_,
         "Could not write WAV file. (Permission denied)"},
        {dir_ / "vanished" / "song.wav", song_,
         "Could not write WAV file. (No such file or directory)"},
        {dir_ / "song.wav", (dir_ / "absent.mid").string(),
         "Could not open MIDI file. (No such file or directory)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output.string());
        ExportRequest r = request(c.output);
        r.song_path = c.song;
        ExportJob job;
        ASSERT_TRUE(export_job_start(job, r));
        EXPECT_EQ(wait_for_result(job), c.text);
        EXPECT_FALSE(fs::exists(c.output));
    }
    EXPECT_TRUE(folder_empty());
    EXPECT_FALSE(fs::exists(dir_ / "song.wav"));
}

} // namespace
