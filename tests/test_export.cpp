// The background WAV export, without a display: the same bytes as velta-render, and nothing
// left behind when it is cancelled or cannot write.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <ebur128.h>

#include "export/export_job.h"
#include "export/loudness.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSong = VELTA_BINARY_DIR "/tests/songs/melodic.mid";
const fs::path kDir = fs::temp_directory_path() / ("velta-export-" + std::to_string(getpid()));

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Polls as the window's redraw tick does, until the final text arrives.
std::string wait_for_result(ExportJob& job) {
    std::string text;
    for (int tick = 0; tick < 6000 && !(export_job_poll(job, text) && !export_job_busy(job));
         ++tick)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return text;
}

std::string run(ExportRequest r, const std::string& song, const fs::path& output) {
    r.song_path = song;
    r.output_path = output.string();
    ExportJob job;
    EXPECT_TRUE(export_job_start(job, r));
    return wait_for_result(job);
}

TEST(Export, TheBytesOfVeltaRenderAndNothingLeftWhenCancelled) {
    fs::create_directories(kDir);
    ExportRequest r;
    r.rate = 22050;
    r.instrument_set = 9;
    r.muted[1] = true;
    EXPECT_EQ(run(r, kSong, kDir / "song.wav"), "Exported song.wav");
    const std::string command = std::string("'") + VELTA_RENDER_PATH +
                                "' --rate 22050 --set 9 --mute 2 '" + kSong + "' '" +
                                (kDir / "reference.wav").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_GT(read_all(kDir / "song.wav").size(), 44u);
    EXPECT_TRUE(read_all(kDir / "song.wav") == read_all(kDir / "reference.wav")) << command;
    // "Auto Detune" none: the export follows it, as velta-render --detune none does.
    r.auto_detune = false;
    EXPECT_EQ(run(r, kSong, kDir / "plain.wav"), "Exported plain.wav");
    const std::string plain = std::string("'") + VELTA_RENDER_PATH +
                              "' --rate 22050 --set 9 --mute 2 --detune none '" + kSong + "' '" +
                              (kDir / "plain-reference.wav").string() + "'";
    ASSERT_EQ(std::system(plain.c_str()), 0) << plain;
    EXPECT_TRUE(read_all(kDir / "plain.wav") == read_all(kDir / "plain-reference.wav")) << plain;
    EXPECT_FALSE(read_all(kDir / "plain.wav") == read_all(kDir / "song.wav"));
    fs::remove(kDir / "plain.wav");
    fs::remove(kDir / "plain-reference.wav");
    r.auto_detune = true;
    r.muted.fill(true);
    ASSERT_EQ(run(r, kSong, kDir / "silent.wav"), "Exported silent.wav");
    const std::string data = read_all(kDir / "silent.wav").substr(44);
    EXPECT_FALSE(data.empty());
    EXPECT_EQ(data.find_first_not_of('\0'), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(kDir), {}), 3) << "temporary files renamed";

    // A cancelled export and a missing song leave nothing behind, and the old file alone.
    // One note held for an hour.
    const std::string song("MThd\0\0\0\6\0\0\0\1\1\xE0"
                           "MTrk\0\0\0\x0F\0\x90\x3C\x64\x81\xD2\xF8\0\x80\x3C\0\0\xFF\x2F\0",
                           37);
    fs::create_directories(kDir / "out");
    std::ofstream((kDir / "long.mid").string(), std::ios::binary) << song;
    std::ofstream((kDir / "out/long.wav").string(), std::ios::binary) << "old";
    r = ExportRequest{};
    r.song_path = (kDir / "long.mid").string();
    r.output_path = (kDir / "out/long.wav").string();
    ExportJob job;
    ASSERT_TRUE(export_job_start(job, r));
    EXPECT_FALSE(export_job_start(job, r)) << "a second export while one runs";
    while (job.percent.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    export_job_cancel(job);
    EXPECT_EQ(wait_for_result(job), "Export cancelled");
    EXPECT_EQ(read_all(kDir / "out/long.wav"), "old");
    fs::remove(kDir / "out/long.wav");
    EXPECT_EQ(run({}, (kDir / "absent.mid").string(), kDir / "out/b.wav"),
              "Could not open MIDI file. (No such file or directory)");
    EXPECT_EQ(run({}, kSong, kDir / "absent/b.wav"),
              "Could not write WAV file. (No such file or directory)");
    EXPECT_TRUE(fs::is_empty(kDir / "out")) << "nothing left behind";
    fs::remove_all(kDir);
}

// The file chooser's replace question does not say that the file is the song being played.
TEST(Export, RefusesToReplaceTheSongItPlays) {
    const fs::path dir = kDir / "own", song = dir / "song.mid";
    fs::create_directories(dir);
    fs::copy_file(kSong, song);
    fs::create_symlink("song.mid", dir / "link.mid");
    for (const char* name : {"song.mid", "link.mid"}) {
        EXPECT_EQ(run({}, song.string(), dir / name),
                  std::string("Export refused: ") + name + " is the song being played.");
    }
    EXPECT_TRUE(read_all(song) == read_all(kSong));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2) << "nothing written";
    fs::remove_all(kDir);
}

// velta-render --normalize measured again from its WAV: at the target, the true peak at or below
// 0 dBTP (the drums at 22050 Hz end 0.3 dB under it).
TEST(Loudness, ANormalizedWavMeasuresAtTheTarget) {
    fs::create_directories(kDir);
    for (const auto& [song, rate] : {std::pair("melodic", 44100), std::pair("drums", 22050)}) {
        const std::string in = VELTA_BINARY_DIR "/tests/songs/" + std::string(song) + ".mid";
        const fs::path out = kDir / "level.wav";
        const std::string command = std::string("'") + VELTA_RENDER_PATH + "' --normalize --rate " +
                                    std::to_string(rate) + " '" + in + "' '" + out.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::string wav = read_all(out);
        ebur128_state* meter =
            ebur128_init(2, unsigned(rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
        ebur128_add_frames_short(meter, reinterpret_cast<const short*>(wav.data() + 44),
                                 (wav.size() - 44) / 4);
        double lufs = 0, left = 0, right = 0;
        ebur128_loudness_global(meter, &lufs);
        ebur128_true_peak(meter, 0, &left);
        ebur128_true_peak(meter, 1, &right);
        ebur128_destroy(&meter);
        const double peak_db = 20 * std::log10(std::max(left, right));
        EXPECT_LE(peak_db, 0.05) << song;
        EXPECT_NEAR(lufs, kLoudnessTargetLufs, 0.5) << song;
    }
    // A measurement stops at once when cancelled: an hour-long note.
    const std::string song("MThd\0\0\0\6\0\0\0\1\1\xE0"
                           "MTrk\0\0\0\x0F\0\x90\x3C\x64\x81\xD2\xF8\0\x80\x3C\0\0\xFF\x2F\0",
                           37);
    std::ofstream((kDir / "long.mid").string(), std::ios::binary) << song;
    const std::atomic<bool> cancel{true};
    LoudnessResult result;
    int error_number = 0;
    std::string status;
    EXPECT_EQ(
        measure_loudness({}, (kDir / "long.mid").c_str(), &cancel, result, error_number, status),
        LoudnessOutcome::kCancelled);
    fs::remove_all(kDir);
}

} // namespace
