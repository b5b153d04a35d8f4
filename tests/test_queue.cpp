// The play queue's model: name order, moving through it with repeat and shuffle, removing
// entries, the folder listing and the queue in the state file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "shell/play_queue.h"
#include "shell/remembered_state.h"

namespace fs = std::filesystem;

namespace {

const std::string kRoot = VELTA_BINARY_DIR "/tests/queue-test";

std::vector<std::string> names(int count) {
    std::vector<std::string> out;
    for (int n = 0; n < count; ++n)
        out.push_back("/songs/" + std::to_string(n) + ".mid");
    return out;
}

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "MThd";
}

TEST(NaturalOrder, NumbersByValueLettersWithoutCase) {
    const std::vector<std::string> sorted = {
        "",         "01 intro.mid",    "1 intro.mid", "2.mid",  "10.mid",
        "Ab.mid",   "ab.mid",          "abc.mid",     "b2.mid", "b10.mid",
        "b10a.mid", "track 007 x.mid", "track 8.mid"};
    for (size_t i = 0; i < sorted.size(); ++i)
        for (size_t j = 0; j < sorted.size(); ++j) {
            const int c = natural_compare(sorted[i], sorted[j]);
            EXPECT_EQ(c < 0, i < j) << '"' << sorted[i] << "\" vs \"" << sorted[j] << '"';
            EXPECT_EQ(c == 0, i == j) << '"' << sorted[i] << "\" vs \"" << sorted[j] << '"';
        }
    // Digit runs longer than any integer still compare by value.
    EXPECT_LT(natural_compare("x99999999999999999999999", "x100000000000000000000000"), 0);
    EXPECT_TRUE(is_song_name("a.MID") && is_song_name("b.midi") && is_song_name("c.Kar"));
    EXPECT_FALSE(is_song_name("mid") || is_song_name("a.mid.txt") || is_song_name("a.mi"));
}

TEST(PlayQueue, NextAndPreviousAtTheEndsWithEachRepeatMode) {
    PlayQueue queue;
    EXPECT_FALSE(queue_next(queue, false) || queue_previous(queue, 0.0)) << "empty";
    EXPECT_EQ(queue_add(queue, names(3), false), 0);
    EXPECT_EQ(queue_current(queue), -1);
    queue_set_current(queue, 0);
    EXPECT_TRUE(queue_can_go_next(queue));
    EXPECT_FALSE(queue_can_go_previous(queue));
    // Previous: the song before within its first 3 s, the song itself later; the first song
    // only starts again.
    EXPECT_EQ(queue_previous(queue, 1.0), 0);
    EXPECT_EQ(queue_step(queue, true, false), 1);
    EXPECT_EQ(queue_previous(queue, 2.9), 0);
    EXPECT_EQ(queue_previous(queue, 3.1), 1);
    EXPECT_EQ(queue_step(queue, true, true), 2);
    EXPECT_FALSE(queue_can_go_next(queue));
    EXPECT_FALSE(queue_step(queue, true, true)) << "the end of a queue without repeat";
    EXPECT_EQ(queue_current(queue), 2);

    queue_set_repeat(queue, RepeatMode::kQueue);
    EXPECT_TRUE(queue_can_go_next(queue));
    EXPECT_EQ(queue_step(queue, true, true), 0);
    EXPECT_EQ(queue_previous(queue, 0.0), 2) << "back over the start when repeating";

    // Repeat one: the song's end plays it again, Next still moves on.
    queue_set_repeat(queue, RepeatMode::kOne);
    EXPECT_EQ(queue_step(queue, true, true), 0);
    EXPECT_EQ(queue_step(queue, true, false), 1);
    EXPECT_EQ(repeat_mode_after(repeat_mode_after(repeat_mode_after(RepeatMode::kOff))),
              RepeatMode::kOff);
    for (RepeatMode mode : {RepeatMode::kOff, RepeatMode::kQueue, RepeatMode::kOne})
        EXPECT_EQ(repeat_mode_from_name(repeat_mode_name(mode)), mode);
    EXPECT_FALSE(repeat_mode_from_name("all"));
}

TEST(PlayQueue, ShufflePlaysEachSongOncePerPassInNewOrders) {
    PlayQueue queue;
    queue.random.seed(7);
    queue_add(queue, names(12), false);
    queue_set_current(queue, 5);
    queue_set_shuffle(queue, true);
    EXPECT_EQ(queue_current(queue), 5) << "turning shuffle on keeps the song";
    queue_set_repeat(queue, RepeatMode::kQueue);
    std::vector<std::vector<int32_t>> passes(3);
    passes[0].push_back(5);
    for (auto& pass : passes) {
        while (pass.size() < 12) {
            const auto next = queue_step(queue, true, true);
            ASSERT_TRUE(next);
            pass.push_back(*next);
        }
        if (&pass != &passes.back()) {
            const auto first = queue_step(queue, true, true); // the next pass begins
            ASSERT_TRUE(first);
            EXPECT_NE(*first, pass.back()) << "a pass starts with another song than the last";
            (&pass + 1)->push_back(*first);
        }
    }
    for (const auto& pass : passes)
        EXPECT_EQ(std::set<int32_t>(pass.begin(), pass.end()).size(), 12u);
    EXPECT_NE(passes[1], passes[2]);
    // Off again: the queue's own order from the current song on.
    const int32_t current = queue_current(queue);
    queue_set_shuffle(queue, false);
    queue_set_repeat(queue, RepeatMode::kOff);
    EXPECT_EQ(queue_current(queue), current);
    if (current < 11) {
        EXPECT_EQ(queue_next(queue, false), current + 1);
    }
}

TEST(PlayQueue, RemovingAndAppendingKeepTheCurrentSong) {
    PlayQueue queue;
    queue_add(queue, names(4), false);
    queue_set_current(queue, 2);
    const uint64_t revision = queue.revision;
    EXPECT_TRUE(queue_remove(queue, 0));
    EXPECT_GT(queue.revision, revision);
    EXPECT_EQ(queue.entries[static_cast<size_t>(queue_current(queue))].path, "/songs/2.mid");
    // The current one removed: nothing is lit, Next is the song that followed it.
    EXPECT_TRUE(queue_remove(queue, 1));
    EXPECT_EQ(queue_current(queue), -1);
    EXPECT_EQ(queue_next(queue, false), 1);
    EXPECT_EQ(queue.entries[1].path, "/songs/3.mid");
    EXPECT_EQ(queue_previous(queue, 10.0), 0) << "nothing to restart: the song before";
    EXPECT_FALSE(queue_remove(queue, 2) || queue_remove(queue, -1));
    EXPECT_EQ(queue_add(queue, {"/x.mid"}, true), 2);
    EXPECT_EQ(queue.entries.size(), 3u);
    for (size_t n = 1; n < queue.entries.size(); ++n)
        EXPECT_LT(queue.entries[n - 1].id, queue.entries[n].id);
    EXPECT_EQ(queue_index_of(queue, queue.entries[2].id), 2);
    EXPECT_EQ(queue.entries[2].title, "x.mid") << "the file name until the song is read";
}

// Hidden files and folders stay out, a link back to a folder already listed is not entered
// again, names are in natural order and files named on their own are kept whatever they are.
TEST(ListSongs, FoldersInNameOrderWithoutHiddenOrVisitedOnes) {
    fs::remove_all(kRoot);
    const fs::path top = kRoot + "/music";
    for (const char* name : {"b 10.mid", "b 2.MID", "a.kar", ".hidden.mid", "notes.txt",
                             ".secret/x.mid", "sub/c.midi", "sub/deeper/d.mid"})
        touch(top / name);
    fs::create_directory_symlink(top, top / "sub" / "loop");
    fs::create_directory_symlink(top / "sub", top / "z link");
    const std::string t = top.string();
    const std::vector<std::string> want = {t + "/a.kar", t + "/b 2.MID", t + "/b 10.mid",
                                           t + "/sub/c.midi", t + "/sub/deeper/d.mid"};
    EXPECT_EQ(list_songs({t}, false), want);
    // The folder twice: its songs once. A missing file is kept for its error unless asked.
    std::vector<std::string> with_missing = want;
    with_missing.push_back(t + "/gone.mid");
    EXPECT_EQ(list_songs({t, t + "/sub", t + "/gone.mid"}, false), with_missing);
    EXPECT_EQ(list_songs({t + "/gone.mid", t + "/notes.txt"}, true),
              std::vector<std::string>{t + "/notes.txt"});
}

TEST(RememberedState, TheQueueRepeatAndShuffleRoundTrip) {
    const std::string path = kRoot + "/state/velta/state.ini";
    RememberedState written;
    written.song_path = "/music/b.mid";
    written.queue = {"/music/a.mid", "/music/b.mid", "/music/caf\xe9 c.mid"};
    written.repeat = "one";
    written.shuffle = true;
    int error_number = 0;
    ASSERT_TRUE(remembered_state_write(path.c_str(), written, error_number)) << error_number;
    EXPECT_EQ(remembered_state_read(path.c_str()), written);
    std::ofstream(path) << "[State]\nsong=file:///a.mid\nqueue=file:///a.mid;not a uri;\n"
                           "repeat=sometimes\nshuffle=perhaps\n";
    const RememberedState odd = remembered_state_read(path.c_str());
    EXPECT_EQ(odd.queue, std::vector<std::string>{"/a.mid"});
    EXPECT_EQ(odd.repeat, "off");
    EXPECT_FALSE(odd.shuffle);
}

} // namespace

namespace {

// The first track's name before its first note is the title; a Latin-1 name becomes UTF-8; a
// song without one is known by its file name; a file that is no song has no info.
TEST(SongInfo, TitleFromTheTrackNameElseTheFileName) {
    const auto song = [](const std::string& path, const std::string& name) {
        std::string track;
        if (!name.empty())
            track += std::string("\x00\xff\x03", 3) + static_cast<char>(name.size()) + name;
        track += std::string("\x00\x90\x3c\x60\x83\x60\x80\x3c\x00\x00\xff\x2f\x00", 13);
        std::string file("MThd\0\0\0\6\0\0\0\1\1\xe0MTrk\0\0\0", 21);
        file += static_cast<char>(track.size());
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << file << track;
    };
    const std::string dir = kRoot + "/info";
    song(dir + "/named.mid", "Caf\xe9 tune  ");
    song(dir + "/plain.mid", "");
    std::string title;
    double seconds = 0.0;
    ASSERT_TRUE(read_song_info((dir + "/named.mid").c_str(), 44100, title, seconds));
    EXPECT_EQ(title, "Caf\xc3\xa9 tune");
    EXPECT_GE(seconds, 0.5) << "one beat at 120 beats a minute, and the release after it";
    EXPECT_LT(seconds, 10.0);
    ASSERT_TRUE(read_song_info((dir + "/plain.mid").c_str(), 44100, title, seconds));
    EXPECT_EQ(title, "plain.mid");
    std::ofstream(dir + "/broken.mid") << "MThd but not a song";
    EXPECT_FALSE(read_song_info((dir + "/broken.mid").c_str(), 44100, title, seconds));
}

} // namespace
