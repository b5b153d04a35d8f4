// The MIDI reader: parsing rules, ordering, timing, failures, and loading real files.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "song/midi_parse.h"
#include "song/midi_reader.h"
#include "synth/synth.h"
#include "tests/support/midi_bytes.h"

namespace fs = std::filesystem;

namespace {

Song parse_ok(const Bytes& file, int32_t rate = 44100) {
    Song song;
    const char* failure = parse_song(file.data(), file.size(), rate, song);
    EXPECT_EQ(failure, nullptr) << failure;
    return song;
}

std::string parse_failure(const Bytes& file) {
    Song song;
    const char* failure = parse_song(file.data(), file.size(), 44100, song);
    EXPECT_TRUE(song.events.empty() && song.tempo_map.empty());
    return failure ? failure : "loaded";
}

const std::set<std::string> kFailureTexts = {
    "Could not open MIDI file.",     "Could not seek MIDI file.",
    "MIDI file is empty.",           "Out of memory loading MIDI.",
    "Could not read MIDI file.",     "Invalid MIDI header.",
    "Invalid MIDI header length.",   "SMPTE time-division MIDI is not supported.",
    "MIDI has no events.",           "Invalid MIDI track chunk.",
    "Truncated MIDI track.",         "Could not parse MIDI track.",
    "Out of memory scheduling MIDI."};

TEST(MidiParse, EachFailureNamesTheFirstFailingStep) {
    const Bytes one_note = note_on(0, 60) + kEndOfTrack;
    const Bytes good = smf(96, {one_note});
    const Bytes mtrk{'M', 'T', 'r', 'k'};
    const std::string kParse = "Could not parse MIDI track.";
    const struct {
        const char* what;
        Bytes file;
        std::string message;
    } cases[] = {
        {"13 bytes", Bytes(good.begin(), good.begin() + 13), "Invalid MIDI header."},
        {"wrong magic", Bytes{'M', 'T', 'h', 'x'} + Bytes(good.begin() + 4, good.end()),
         "Invalid MIDI header."},
        {"header length 5", header(1, 96, 5) + chunk(one_note), "Invalid MIDI header length."},
        {"header past the file", header(1, 96, 100) + chunk(one_note),
         "Invalid MIDI header length."},
        {"header length + 8 wraps in 32 bits",
         Bytes{'M', 'T', 'h', 'd'} + be32(0xFFFFFFF8) + Bytes{0, 1, 0, 1, 0, 96} + chunk(one_note),
         "Invalid MIDI header length."},
        {"SMPTE", smf(0xE728, {one_note}), "SMPTE time-division MIDI is not supported."},
        {"no tracks", header(0, 96), "MIDI has no events."},
        {"only text meta events", smf(96, {Bytes{0, 0xFF, 0x01, 2, 'h', 'i'} + kEndOfTrack}),
         "MIDI has no events."},
        {"fewer chunks than tracks", header(2, 96) + chunk(one_note), "Invalid MIDI track chunk."},
        {"chunk header cut short", header(1, 96) + Bytes{'M', 'T', 'r', 'k', 0, 0},
         "Invalid MIDI track chunk."},
        {"foreign chunk", header(2, 96) + chunk(one_note, "XFIH") + chunk(one_note),
         "Invalid MIDI track chunk."},
        {"chunk one byte too long", header(1, 96) + mtrk + be32(9) + one_note,
         "Truncated MIDI track."},
        {"chunk length near 2^32", header(1, 96) + mtrk + be32(0xFFFFFFF8) + one_note,
         "Truncated MIDI track."},
        {"chunk length 2^32 - 1", header(1, 96) + mtrk + be32(0xFFFFFFFF) + one_note,
         "Truncated MIDI track."},
        // Each chunk is parsed before the next one is looked at.
        {"bad events before a bad chunk", header(2, 96) + chunk(Bytes{0, 0x3C, 0x40}) + Bytes{1},
         kParse},
        {"data byte after a meta event", smf(96, {note_on(0, 60) + Bytes{0, 0xFF, 1, 0, 0, 62, 1}}),
         kParse},
        {"data byte after a system byte", smf(96, {note_on(0, 60) + Bytes{0, 0xF8, 0, 62, 1}}),
         kParse},
        {"delta runs off the chunk", smf(96, {note_on(0, 60) + Bytes{0x81}}), kParse},
        {"five-byte quantity", smf(96, {Bytes{0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}}), kParse},
        {"note missing its velocity", smf(96, {Bytes{0, 0x90, 60}}), kParse},
        {"meta data one byte past the chunk",
         smf(96, {note_on(0, 60) + Bytes{0, 0xFF, 0x51, 3, 7, 0xA1}}), kParse},
        {"SysEx data past the chunk", smf(96, {Bytes{0, 0xF0, 4, 1, 2, 0xF7}}), kParse},
        {"undefined 0xF4", smf(96, {note_on(0, 60) + Bytes{0, 0xF4} + kEndOfTrack}), kParse},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_failure(c.file), c.message) << c.what;

    // Whatever follows the counted chunks is ignored, even junk.
    EXPECT_EQ(parse_ok(good + chunk(Bytes{1, 2, 3}, "JUNK") + Bytes{0xFF}).events.size(), 1u);
}

TEST(MidiParse, RunningStatusSystemBytesAndEndOfTrack) {
    const Bytes track = Bytes{0, 0x91, 60, 100} +                    // running status 0x91
                        Bytes{0, 0xF0, 3, 0x7E, 0x09, 0xF7} +        // SysEx keeps it
                        Bytes{0, 61, 90} + Bytes{0, 0xC2, 5, 0, 7} + // two under running status
                        Bytes{0, 0xD3, 9, 0, 10} + // channel pressure: one data byte
                        Bytes{0, 0xF1, 0x12, 0, 0xF2, 1, 2, 0, 0xF3, 3} + // tolerated, skipped
                        Bytes{0, 0xF6, 0, 0xFA, 0, 0xFB, 0, 0xFC, 0, 0xFE} +
                        Bytes{0, 0xF7, 2, 0x43, 0x12} + Bytes{0, 0xFF, 0x2F, 0} + // ends here
                        Bytes{0, 0x3C, 0x40, 0xF4, 0xFF};                         // never parsed
    Song song = parse_ok(smf(96, {track}));
    ASSERT_EQ(song.events.size(), 8u);
    // SysEx sorts after the channel messages of its tick and keeps its introducer.
    const uint8_t expected[][3] = {{0x91, 60, 100}, {0x91, 61, 90}, {0xC2, 5, 0}, {0xC2, 7, 0},
                                   {0xD3, 9, 0},    {0xD3, 10, 0},  {0xF0, 0, 0}, {0xF0, 0, 0}};
    for (size_t i = 0; i < 8; ++i) {
        const MidiEvent& e = song.events[i];
        EXPECT_EQ(Bytes({e.status, e.data1, e.data2}), Bytes(expected[i], expected[i] + 3)) << i;
    }
    const MidiEvent& f7 = song.events[7];
    EXPECT_EQ(Bytes(song_event_sysex(song, f7), song_event_sysex(song, f7) + f7.sysex_length),
              Bytes({0xF7, 0x43, 0x12}));
}

TEST(MidiParse, TracksMergeByTickThenKindThenFileOrder) {
    const Bytes track1 = Bytes{0, 0xF0, 1, 0xF7} + note_on(0, 10) + note_on(96, 11) + kEndOfTrack;
    const Bytes track2 =
        note_on(0, 20) + tempo_event(96, 250000) + note_on(0, 21) + note_on(48, 22) + kEndOfTrack;
    Song song = parse_ok(smf(96, {track1, track2}), 1000);
    ASSERT_EQ(song.events.size(), 6u);
    // tick 0: channel notes in file order, then the SysEx; tick 96: the tempo first.
    const uint8_t keys[] = {10, 20, 0, 11, 21, 22};
    const uint64_t times[] = {0, 0, 0, 500, 500, 625};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(song.events[i].data1, keys[i]) << i;
        EXPECT_EQ(song.events[i].time, times[i]) << i;
    }
}

TEST(MidiParse, FrameTimesLengthAndTempoMap) {
    // 480 ticks per quarter at 120 bpm: half a second per quarter; 4 s of tail.
    Song song = parse_ok(smf(480, {note_on(480, 60) + kEndOfTrack}));
    EXPECT_EQ(song.events[0].time, 22050u);
    EXPECT_EQ(song.length_frames, 22050u + 176400u);
    // Division 0 means 480; a trailing End of Track does not lengthen the song.
    Song zero = parse_ok(smf(0, {note_on(480, 60) + Bytes{0x83, 0x60, 0xFF, 0x2F, 0}}));
    EXPECT_EQ(zero.division, 480);
    EXPECT_EQ(zero.length_frames, 22050u + 176400u);
    // At 1 Hz and 1 tick per quarter a tick is half a frame: halves round away from zero.
    Song halves =
        parse_ok(smf(1, {note_on(1, 1) + note_on(1, 2) + note_on(3, 3) + kEndOfTrack}), 1);
    EXPECT_EQ(halves.events[0].time, 1u); // 0.5
    EXPECT_EQ(halves.events[2].time, 3u); // 2.5
    EXPECT_EQ(halves.length_frames, 3u + 4u);

    // A tempo at tick 0 replaces the first point; two at one tick leave the later value; a
    // tempo of 0 keeps the tempo but still marks a point; a 0x51 of another length is ignored.
    const Bytes track = tempo_event(0, 400000) + tempo_event(96, 1000000) + tempo_event(0, 250000) +
                        tempo_event(96, 0) + vlq(0) + Bytes{0xFF, 0x51, 4, 0, 0, 1, 0} +
                        note_on(96, 60) + kEndOfTrack;
    Song tempo = parse_ok(smf(96, {track}), 1000000);
    ASSERT_EQ(tempo.tempo_map.size(), 3u);
    const uint64_t points[][3] = {{0, 0, 400000}, {400000, 96, 250000}, {650000, 192, 250000}};
    for (size_t i = 0; i < 3; ++i) {
        const TempoPoint& p = tempo.tempo_map[i];
        EXPECT_EQ((std::vector<uint64_t>{p.frame, p.tick, p.tempo}),
                  std::vector<uint64_t>(points[i], points[i] + 3))
            << i;
    }
    EXPECT_EQ(tempo.events[0].time, 900000u);
}

TEST(MidiParse, OutOfMemoryAtEachStage) {
    Bytes t1, t2; // two tracks, so the events need sorting
    for (int i = 0; i < 40; ++i) {
        t1 = t1 + note_on(10, uint8_t(i));
        t2 = t2 + note_on(10, uint8_t(i), 1);
    }
    const Bytes file = smf(96, {t1 + kEndOfTrack, t2 + kEndOfTrack});
    auto with_budget = [&](const Bytes& f, uint64_t budget, Song& song) {
        const char* failure = parse_song(f.data(), f.size(), 44100, song, budget);
        return std::string(failure ? failure : "loaded");
    };
    const uint64_t raw = 256 * 16, events = 80 * sizeof(MidiEvent), tempo = 16 * sizeof(TempoPoint);
    Song song;
    EXPECT_EQ(with_budget(file, raw - 1, song), "Could not parse MIDI track.");
    EXPECT_EQ(with_budget(file, raw, song), "Out of memory scheduling MIDI.");
    EXPECT_EQ(with_budget(file, raw + events + tempo - 1, song), "Out of memory scheduling MIDI.");
    // Without room for the radix buffer the sort falls back to sorting in place.
    ASSERT_EQ(with_budget(file, raw + events + tempo, song), "loaded");
    Song unlimited = parse_ok(file);
    for (size_t i = 0; i < song.events.size(); ++i) {
        EXPECT_EQ(song.events[i].data1, unlimited.events[i].data1);
        EXPECT_EQ(song.events[i].time, unlimited.events[i].time);
    }
    // A SysEx payload that cannot be stored fails the track.
    const Bytes sysex = smf(96, {Bytes{0, 0xF0, 0x82, 0x00} + Bytes(256, 0x11) + kEndOfTrack});
    EXPECT_EQ(with_budget(sysex, raw + 16 * 16 + 100, song), "Could not parse MIDI track.");
}

class LoadSong : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("velta-reader-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        synth_init(*player_, 44100);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string write(const std::string& name, const Bytes& bytes) {
        return write_file((dir_ / name).string(), bytes);
    }
    std::string load(const std::string& path) {
        bool ok = load_song(*player_, path.c_str());
        std::lock_guard<std::mutex> guard(player_->lock);
        EXPECT_EQ(ok, std::string(player_->status_text) == "Loaded MIDI");
        return player_->status_text;
    }
    fs::path dir_;
    std::unique_ptr<Player> player_ = std::make_unique<Player>();
};

TEST_F(LoadSong, FailedLoadAfterASuccessLeavesNoSongAndAStoppedTransport) {
    std::string path = write("good.mid", smf(480, {note_on(480, 60) + kEndOfTrack}));
    player_->position = 777;
    EXPECT_EQ(load(path), "Loaded MIDI");
    EXPECT_STREQ(player_->song_path, path.c_str());
    EXPECT_EQ(player_->song.length_frames, 22050u + 176400u);
    EXPECT_EQ(player_->position, 0u);
    player_->active = player_->paused = 1;
    player_->position = 5000;
    player_->cursor = 1;
    EXPECT_EQ(load(write("bad.mid", smf(96, {Bytes{0, 0x3C, 1}}))), "Could not parse MIDI track.");
    const Player& p = *player_;
    EXPECT_TRUE(p.song.events.empty() && p.song.tempo_map.empty());
    EXPECT_EQ(p.song.length_frames + p.position + p.cursor, 0u);
    EXPECT_EQ(p.active + p.paused, 0);
    EXPECT_STREQ(p.song_path, "");
}

TEST_F(LoadSong, RefusesWhatIsNotARegularReadableFile) {
    std::string fifo = (dir_ / "fifo.mid").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(load(fifo), "Could not open MIDI file."); // must not block
    EXPECT_EQ(load(dir_.string()), "Could not open MIDI file.");
    EXPECT_EQ(load((dir_ / "missing.mid").string()), "Could not open MIDI file.");
    // The reason the system gave travels beside the status text.
    for (const auto& [path, expected] :
         {std::pair{(dir_ / "missing.mid").string(), ENOENT}, std::pair{dir_.string(), EISDIR}}) {
        int error_number = -1;
        EXPECT_FALSE(load_song(*player_, path.c_str(), &error_number));
        EXPECT_EQ(error_number, expected) << path;
    }
    EXPECT_EQ(load(write("empty.mid", {})), "MIDI file is empty.");
    // Too long to be a path of ours: never opened, never cut short.
    std::string overlong = write("x.mid", smf(96, {note_on(0, 60)}));
    EXPECT_EQ(load(std::string(kPathCapacity, '/') + overlong), "Could not open MIDI file.");
}

TEST_F(LoadSong, FromMemoryGivesTheFilesSongWithoutAPath) {
    const Bytes file = smf(480, {note_on(480, 60) + note_on(960, 64) + kEndOfTrack});
    ASSERT_EQ(load(write("good.mid", file)), "Loaded MIDI");
    const std::vector<MidiEvent> from_file = player_->song.events;
    ASSERT_TRUE(load_song_from_memory(*player_, file.data(), file.size()));
    EXPECT_STREQ(player_->status_text, "Loaded MIDI");
    EXPECT_STREQ(player_->song_path, "");
    ASSERT_EQ(player_->song.events.size(), from_file.size());
    for (size_t i = 0; i < from_file.size(); ++i)
        EXPECT_EQ(player_->song.events[i].time, from_file[i].time);
    EXPECT_FALSE(load_song_from_memory(*player_, file.data(), 10));
    EXPECT_STREQ(player_->status_text, "Invalid MIDI header.");
    EXPECT_TRUE(player_->song.events.empty());
}

TEST(MidiCorpus, EveryFileLoadsOrFailsWithAKnownText) {
    const fs::path corpus = fs::path(VELTA_SOURCE_DIR) / ".." / "shared" / "corpus";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    auto player = std::make_unique<Player>();
    synth_init(*player, 48000);
    int loaded = 0;
    for (const char* group : {"valid", "invalid"}) {
        for (const auto& entry : fs::directory_iterator(corpus / group)) {
            bool ok = load_song(*player, entry.path().c_str());
            std::string status = player->status_text;
            EXPECT_TRUE(ok ? status == "Loaded MIDI" : kFailureTexts.count(status) == 1)
                << entry.path() << ": " << status;
            if (!ok) continue;
            ++loaded;
            const Song& song = player->song;
            for (size_t i = 1; i < song.events.size(); ++i)
                ASSERT_LE(song.events[i - 1].time, song.events[i].time) << entry.path();
            EXPECT_GE(song.length_frames, song.events.empty() ? 0 : song.events.back().time);
        }
    }
    EXPECT_GT(loaded, 0);
}

} // namespace
