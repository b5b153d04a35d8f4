// The MIDI reader: parsing rules, ordering, timing, failures, and loading real files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sequencer/player.h"
#include "song/midi_parse.h"
#include "song/midi_reader.h"
#include "song/song.h"
#include "synth/synth.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes be32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

Bytes vlq(uint32_t v) {
    Bytes out{uint8_t(v & 0x7F)};
    while (v >>= 7)
        out.insert(out.begin(), uint8_t(0x80 | (v & 0x7F)));
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes header(uint16_t tracks, uint16_t division, uint32_t length = 6) {
    Bytes h =
        Bytes{'M', 'T', 'h', 'd'} + be32(length) +
        Bytes{
            0, 1, uint8_t(tracks >> 8), uint8_t(tracks), uint8_t(division >> 8), uint8_t(division)};
    h.resize(8 + std::min<uint32_t>(length, 64), 0);
    return h;
}

Bytes chunk(const Bytes& data, const char* type = "MTrk") {
    return Bytes(type, type + 4) + be32(uint32_t(data.size())) + data;
}

// A file of the given division holding one chunk per track.
Bytes smf(uint16_t division, const std::vector<Bytes>& tracks) {
    Bytes file = header(uint16_t(tracks.size()), division);
    for (const Bytes& t : tracks)
        file = file + chunk(t);
    return file;
}

Bytes tempo_event(uint32_t delta, uint32_t tempo) {
    return vlq(delta) +
           Bytes{0xFF, 0x51, 3, uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)};
}

Bytes note_on(uint32_t delta, uint8_t key, uint8_t channel = 0) {
    return vlq(delta) + Bytes{uint8_t(0x90 | channel), key, 100};
}

const Bytes kEndOfTrack{0, 0xFF, 0x2F, 0};

Song parse_ok(const Bytes& file, int32_t rate = 44100) {
    Song song;
    const char* failure = parse_song(file.data(), file.size(), rate, song);
    EXPECT_EQ(failure, nullptr) << failure;
    EXPECT_EQ(song.event_count, song.events.size());
    EXPECT_EQ(song.tempo_count, song.tempo_map.size());
    return song;
}

std::string parse_failure(const Bytes& file, int32_t rate = 44100) {
    Song song;
    const char* failure = parse_song(file.data(), file.size(), rate, song);
    EXPECT_TRUE(song.events.empty() && song.tempo_map.empty() && song.event_count == 0);
    return failure ? failure : "loaded";
}

const std::set<std::string> kFailureTexts = {"Could not open MIDI file.",
                                             "Could not seek MIDI file.",
                                             "MIDI file is empty.",
                                             "Could not rewind MIDI file.",
                                             "Out of memory loading MIDI.",
                                             "Could not read MIDI file.",
                                             "Invalid MIDI header.",
                                             "Invalid MIDI header length.",
                                             "SMPTE time-division MIDI is not supported.",
                                             "MIDI has no events.",
                                             "Invalid MIDI track chunk.",
                                             "Truncated MIDI track.",
                                             "Could not parse MIDI track.",
                                             "Out of memory scheduling MIDI."};

TEST(MidiParse, HeaderAndChunkFailuresNameTheFirstFailingStep) {
    const Bytes one_note = note_on(0, 60) + kEndOfTrack;
    const Bytes good = smf(96, {one_note});
    struct Case {
        const char* what;
        Bytes file;
        const char* message;
    } cases[] = {
        {"13 bytes", Bytes(good.begin(), good.begin() + 13), "Invalid MIDI header."},
        {"wrong magic", Bytes{'M', 'T', 'h', 'x'} + Bytes(good.begin() + 4, good.end()),
         "Invalid MIDI header."},
        {"header length 5", header(1, 96, 5) + chunk(one_note), "Invalid MIDI header length."},
        {"header chunk past the file", header(1, 96, 100) + chunk(one_note),
         "Invalid MIDI header length."},
        {"header with no chunk after it", header(1, 96), "Invalid MIDI track chunk."},
        {"header length + 8 wraps in 32 bits",
         Bytes{'M', 'T', 'h', 'd'} + be32(0xFFFFFFF8) + Bytes{0, 1, 0, 1, 0, 96} + chunk(one_note),
         "Invalid MIDI header length."},
        {"SMPTE", smf(0xE728, {one_note}), "SMPTE time-division MIDI is not supported."},
        {"no tracks", header(0, 96), "MIDI has no events."},
        {"only text meta events", smf(96, {Bytes{0, 0xFF, 0x01, 2, 'h', 'i'} + kEndOfTrack}),
         "MIDI has no events."},
        {"empty chunk", smf(96, {Bytes{}}), "MIDI has no events."},
        {"fewer chunks than tracks", header(2, 96) + chunk(one_note), "Invalid MIDI track chunk."},
        {"chunk header cut short", header(1, 96) + Bytes{'M', 'T', 'r', 'k', 0, 0},
         "Invalid MIDI track chunk."},
        {"foreign chunk among tracks", header(2, 96) + chunk(one_note, "XFIH") + chunk(one_note),
         "Invalid MIDI track chunk."},
        {"chunk one byte too long", header(1, 96) + Bytes{'M', 'T', 'r', 'k'} + be32(9) + one_note,
         "Truncated MIDI track."},
        {"chunk length near 2^32",
         header(1, 96) + Bytes{'M', 'T', 'r', 'k'} + be32(0xFFFFFFF8) + one_note,
         "Truncated MIDI track."},
        {"chunk length 2^32 - 1",
         header(1, 96) + Bytes{'M', 'T', 'r', 'k'} + be32(0xFFFFFFFF) + one_note,
         "Truncated MIDI track."},
        // Each chunk is parsed before the next one is looked at.
        {"bad events before a bad chunk", header(2, 96) + chunk(Bytes{0, 0x3C, 0x40}) + Bytes{1},
         "Could not parse MIDI track."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse_failure(c.file), c.message) << c.what;

    // Whatever follows the counted chunks is ignored, even junk.
    EXPECT_EQ(parse_ok(good + chunk(Bytes{1, 2, 3}, "JUNK") + Bytes{0xFF}).event_count, 1u);
    EXPECT_EQ(parse_ok(header(1, 96, 10) + chunk(one_note)).event_count, 1u);
}

TEST(MidiParse, MalformedEventsFailTheTrack) {
    struct Case {
        const char* what;
        Bytes track;
    } cases[] = {
        {"data byte with no running status", Bytes{0, 0x3C, 0x40}},
        {"data byte after a meta event",
         note_on(0, 60) + Bytes{0, 0xFF, 0x01, 0} + Bytes{0, 62, 1}},
        {"data byte after a tolerated system byte", note_on(0, 60) + Bytes{0, 0xF8, 0, 62, 1}},
        {"delta at the end of the chunk", note_on(0, 60) + Bytes{0}},
        {"delta runs off the chunk", note_on(0, 60) + Bytes{0x81}},
        {"five-byte variable-length quantity", Bytes{0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}},
        {"note missing its velocity", Bytes{0, 0x90, 60}},
        {"program change missing its byte", Bytes{0, 0xC0}},
        {"0xFF as the last byte", note_on(0, 60) + Bytes{0, 0xFF}},
        {"meta without its length", note_on(0, 60) + Bytes{0, 0xFF, 0x01}},
        {"meta data past the chunk", note_on(0, 60) + Bytes{0, 0xFF, 0x01, 5, 'a'}},
        {"End of Track whose length runs past the chunk", note_on(0, 60) + Bytes{0, 0xFF, 0x2F, 2}},
        {"SysEx data past the chunk", Bytes{0, 0xF0, 4, 1, 2, 0xF7}},
        {"0xF2 missing a byte", note_on(0, 60) + Bytes{0, 0xF2, 1}},
        {"0xF4", note_on(0, 60) + Bytes{0, 0xF4} + kEndOfTrack},
        {"0xF5", note_on(0, 60) + Bytes{0, 0xF5} + kEndOfTrack},
        {"0xF9", note_on(0, 60) + Bytes{0, 0xF9} + kEndOfTrack},
        {"0xFD", note_on(0, 60) + Bytes{0, 0xFD} + kEndOfTrack},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse_failure(smf(96, {c.track})), "Could not parse MIDI track.") << c.what;
}

TEST(MidiParse, RunningStatusSystemBytesAndEndOfTrack) {
    const Bytes track =
        Bytes{0, 0x91, 60, 100} +                         // sets running status 0x91
        Bytes{0, 0xF0, 3, 0x7E, 0x09, 0xF7} +             // SysEx keeps it
        Bytes{0, 61, 90} +                                // note under running status
        Bytes{0, 0xC2, 5, 0, 7} +                         // program change, then running status
        Bytes{0, 0xF1, 0x12, 0, 0xF2, 1, 2, 0, 0xF3, 3} + // tolerated, with skipped bytes
        Bytes{0, 0xF6, 0, 0xFA, 0, 0xFB, 0, 0xFC, 0, 0xFE} +
        Bytes{0, 0xB3, 7, 0xFF} +         // data bytes are not checked
        Bytes{0, 0xFF, 0x2F, 0} +         // ends the track here
        Bytes{0, 0x3C, 0x40, 0xF4, 0xFF}; // never parsed
    Song song = parse_ok(smf(96, {track}));
    ASSERT_EQ(song.event_count, 6u);
    const uint8_t expected[][3] = {{0x91, 60, 100}, {0x91, 61, 90},  {0xC2, 5, 0},
                                   {0xC2, 7, 0},    {0xB3, 7, 0xFF}, {0xF0, 0, 0}};
    // The SysEx sorts after the channel messages of its tick.
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(song.events[i].status, expected[i][0]) << i;
        EXPECT_EQ(song.events[i].data1, expected[i][1]) << i;
        EXPECT_EQ(song.events[i].data2, expected[i][2]) << i;
    }
    EXPECT_EQ(song.events[4].sysex_length, 0u);
}

TEST(MidiParse, SysexPayloadsKeepTheirIntroducer) {
    const Bytes track = Bytes{0, 0xF0, 3, 0x7E, 0x7F, 0xF7} + Bytes{10, 0xF7, 2, 0x43, 0x12} +
                        Bytes{10, 0xF0, 0} + kEndOfTrack;
    Song song = parse_ok(smf(96, {track}));
    ASSERT_EQ(song.event_count, 3u);
    const Bytes payloads[] = {{0xF0, 0x7E, 0x7F, 0xF7}, {0xF7, 0x43, 0x12}, {0xF0}};
    for (size_t i = 0; i < 3; ++i) {
        const MidiEvent& e = song.events[i];
        EXPECT_EQ(e.status, 0xF0);
        EXPECT_EQ(e.data1 | e.data2, 0);
        ASSERT_EQ(e.sysex_length, payloads[i].size());
        EXPECT_EQ(Bytes(song_event_sysex(song, e), song_event_sysex(song, e) + e.sysex_length),
                  payloads[i]);
    }
}

TEST(MidiParse, TracksMergeByTickThenKindThenFileOrder) {
    const Bytes track1 = Bytes{0, 0xF0, 1, 0xF7} + note_on(0, 10) + note_on(96, 11) + kEndOfTrack;
    const Bytes track2 =
        note_on(0, 20) + tempo_event(96, 250000) + note_on(0, 21) + note_on(48, 22) + kEndOfTrack;
    Song song = parse_ok(smf(96, {track1, track2}), 1000);
    ASSERT_EQ(song.event_count, 6u);
    // tick 0: both channel notes in file order, then the SysEx of track 1.
    // tick 96: the tempo change first, then notes in file order; tick 144: the last note.
    const uint8_t keys[] = {10, 20, 0, 11, 21, 22};
    const uint64_t times[] = {0, 0, 0, 500, 500, 625};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(song.events[i].data1, keys[i]) << i;
        EXPECT_EQ(song.events[i].time, times[i]) << i;
    }
    EXPECT_EQ(song.events[2].status, 0xF0);
}

TEST(MidiParse, TicksWrapWithinATrack) {
    // Sixteen deltas of 2^28 - 1 put the second note at tick 2^32 - 16; the third wraps to 16
    // and therefore sorts first.
    Bytes track = note_on(0, 1);
    for (int i = 0; i < 15; ++i)
        track = track + vlq(0x0FFFFFFF) + Bytes{0xFF, 0x01, 0};
    track = track + note_on(0x0FFFFFFF, 2) + note_on(32, 3) + kEndOfTrack;
    Song song = parse_ok(smf(1, {track}), 1);
    ASSERT_EQ(song.event_count, 3u);
    EXPECT_EQ(song.events[0].data1, 1);
    EXPECT_EQ(song.events[1].data1, 3);
    EXPECT_EQ(song.events[1].time, 8u);
    EXPECT_EQ(song.events[2].data1, 2);
}

TEST(MidiParse, FrameTimesAndLength) {
    // 44100 Hz, 480 ticks per quarter, 120 bpm: half a second per quarter note.
    Song song = parse_ok(smf(480, {note_on(480, 60) + kEndOfTrack}));
    ASSERT_EQ(song.event_count, 1u);
    EXPECT_EQ(song.events[0].time, 22050u);
    EXPECT_EQ(song.length_frames, 22050u + 176400u);
    EXPECT_EQ(song.division, 480);
    EXPECT_EQ(song.rate, 44100u);

    // A division of 0 means 480; a trailing End of Track does not lengthen the song.
    Song zero = parse_ok(smf(0, {note_on(480, 60) + Bytes{0x83, 0x60, 0xFF, 0x2F, 0}}));
    EXPECT_EQ(zero.division, 480);
    EXPECT_EQ(zero.events[0].time, 22050u);
    EXPECT_EQ(zero.length_frames, 22050u + 176400u);

    // One tick is half a frame at 1 Hz and 1 tick per quarter: halves round away from zero.
    Song halves =
        parse_ok(smf(1, {note_on(1, 1) + note_on(1, 2) + note_on(3, 3) + kEndOfTrack}), 1);
    EXPECT_EQ(halves.events[0].time, 1u); // 0.5
    EXPECT_EQ(halves.events[1].time, 1u); // 1.0
    EXPECT_EQ(halves.events[2].time, 3u); // 2.5
    EXPECT_EQ(halves.length_frames, 3u + 4u);

    // A negative rate is stored as 0 and every time becomes 0.
    Song silent = parse_ok(smf(96, {note_on(960, 60) + kEndOfTrack}), -5);
    EXPECT_EQ(silent.rate, 0u);
    EXPECT_EQ(silent.events[0].time, 0u);
    EXPECT_EQ(silent.length_frames, 0u);
}

TEST(MidiParse, TempoMapRules) {
    // A tempo at tick 0 replaces the first point; two at one tick leave the later value; a
    // tempo of 0 keeps the tempo but still marks a point; a 0x51 of another length is ignored.
    const Bytes track = tempo_event(0, 400000) + tempo_event(96, 1000000) + tempo_event(0, 250000) +
                        tempo_event(96, 0) + vlq(0) + Bytes{0xFF, 0x51, 4, 0, 0, 1, 0} +
                        note_on(96, 60) + kEndOfTrack;
    Song song = parse_ok(smf(96, {track}), 1000000);
    ASSERT_EQ(song.tempo_count, 3u);
    EXPECT_EQ(song.tempo_map[0].frame, 0u);
    EXPECT_EQ(song.tempo_map[0].tick, 0u);
    EXPECT_EQ(song.tempo_map[0].tempo, 400000u);
    EXPECT_EQ(song.tempo_map[1].frame, 400000u);
    EXPECT_EQ(song.tempo_map[1].tick, 96u);
    EXPECT_EQ(song.tempo_map[1].tempo, 250000u);
    EXPECT_EQ(song.tempo_map[2].frame, 650000u);
    EXPECT_EQ(song.tempo_map[2].tick, 192u);
    EXPECT_EQ(song.tempo_map[2].tempo, 250000u);
    EXPECT_EQ(song.events[0].time, 900000u);

    // Only tempo changes: the song loads with no events and a default first point stays.
    Song tempo_only = parse_ok(smf(96, {tempo_event(96, 600000) + kEndOfTrack}), 1000);
    EXPECT_EQ(tempo_only.event_count, 0u);
    ASSERT_EQ(tempo_only.tempo_count, 2u);
    EXPECT_EQ(tempo_only.tempo_map[0].tempo, 500000u);
    EXPECT_EQ(tempo_only.tempo_map[1].frame, 500u);
    EXPECT_EQ(tempo_only.length_frames, 500u + 4000u);

    // At rate 0 every frame is 0, so points at different ticks are still separate.
    EXPECT_EQ(parse_ok(smf(96, {track}), 0).tempo_count, 3u);
}

TEST(MidiParse, RunsOutOfMemoryAtEachStage) {
    // Two tracks so the events need sorting.
    Bytes t1, t2;
    for (int i = 0; i < 40; ++i)
        t1 = t1 + note_on(10, uint8_t(i));
    for (int i = 0; i < 40; ++i)
        t2 = t2 + note_on(10, uint8_t(i), 1);
    const Bytes file = smf(96, {t1 + kEndOfTrack, t2 + kEndOfTrack});
    auto with_budget = [&](uint64_t budget) {
        Song song;
        const char* failure = parse_song(file.data(), file.size(), 44100, song, budget);
        EXPECT_TRUE(failure != nullptr || song.event_count == 80);
        return std::string(failure ? failure : "loaded");
    };
    const uint64_t raw = 256 * 16, events = 80 * sizeof(MidiEvent), tempo = 16 * sizeof(TempoPoint);
    EXPECT_EQ(with_budget(raw - 1), "Could not parse MIDI track.");
    EXPECT_EQ(with_budget(raw), "Out of memory scheduling MIDI.");
    EXPECT_EQ(with_budget(raw + events + tempo - 1), "Out of memory scheduling MIDI.");
    // Without room for the radix buffer the sort falls back to sorting in place.
    Song unlimited = parse_ok(file);
    Song tight;
    ASSERT_EQ(parse_song(file.data(), file.size(), 44100, tight, raw + events + tempo), nullptr);
    ASSERT_EQ(tight.event_count, unlimited.event_count);
    for (size_t i = 0; i < tight.events.size(); ++i) {
        EXPECT_EQ(tight.events[i].status, unlimited.events[i].status);
        EXPECT_EQ(tight.events[i].data1, unlimited.events[i].data1);
        EXPECT_EQ(tight.events[i].time, unlimited.events[i].time);
    }

    // A SysEx payload that cannot be stored fails the track.
    const Bytes sysex = smf(96, {Bytes{0, 0xF0, 0x82, 0x00} + Bytes(256, 0x11) + kEndOfTrack});
    Song song;
    EXPECT_STREQ(parse_song(sysex.data(), sysex.size(), 44100, song, raw + 16 * 16 + 100),
                 "Could not parse MIDI track.");
}

TEST(MidiParse, RandomBytesNeverCrash) {
    std::mt19937 random(1234);
    const Bytes base = smf(96, {note_on(0, 60) + Bytes{0, 0xF0, 2, 1, 0xF7} + tempo_event(5, 9) +
                                note_on(3, 61) + kEndOfTrack});
    for (int round = 0; round < 3000; ++round) {
        Bytes file = base;
        for (int flips = 1 + int(random() % 4); flips > 0; --flips)
            file[random() % file.size()] = uint8_t(random());
        file.resize(file.size() - random() % 3);
        Song song;
        const char* failure = parse_song(file.data(), file.size(), 48000, song);
        if (failure) {
            EXPECT_TRUE(kFailureTexts.count(failure)) << failure;
        }
    }
}

class LoadSong : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("velta-reader-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        player_ = std::make_unique<Player>();
        synth_init(*player_, 44100);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    // Loads and returns the status text.
    std::string load(const std::string& path) {
        bool ok = load_song(*player_, path.c_str());
        std::lock_guard<std::mutex> guard(player_->lock);
        EXPECT_EQ(ok, std::string(player_->status_text) == "Loaded MIDI");
        return player_->status_text;
    }
    void expect_no_song() {
        std::lock_guard<std::mutex> guard(player_->lock);
        EXPECT_EQ(player_->song.event_count, 0u);
        EXPECT_TRUE(player_->song.events.empty());
        EXPECT_TRUE(player_->song.tempo_map.empty());
        EXPECT_EQ(player_->song.length_frames, 0u);
        EXPECT_STREQ(player_->song_path, "");
        EXPECT_EQ(player_->position, 0u);
        EXPECT_EQ(player_->cursor, 0u);
        EXPECT_EQ(player_->active, 0);
        EXPECT_EQ(player_->paused, 0);
    }
    fs::path dir_;
    std::unique_ptr<Player> player_;
};

TEST_F(LoadSong, InstallsTheSongAndStopsTheTransport) {
    std::string path = write("one.mid", smf(480, {note_on(480, 60) + kEndOfTrack}));
    player_->active = 1;
    player_->position = 777;
    EXPECT_EQ(load(path), "Loaded MIDI");
    std::lock_guard<std::mutex> guard(player_->lock);
    EXPECT_STREQ(player_->song_path, path.c_str());
    EXPECT_EQ(player_->song.event_count, 1u);
    EXPECT_EQ(player_->song.events[0].time, 22050u);
    EXPECT_EQ(player_->song.length_frames, 22050u + 176400u);
    EXPECT_EQ(player_->position, 0u);
    EXPECT_EQ(player_->active, 0);
}

TEST_F(LoadSong, FailedLoadAfterASuccessLeavesNoSongAndAStoppedTransport) {
    EXPECT_EQ(load(write("good.mid", smf(96, {note_on(0, 60) + kEndOfTrack}))), "Loaded MIDI");
    {
        std::lock_guard<std::mutex> guard(player_->lock);
        player_->active = 1;
        player_->paused = 1;
        player_->position = 5000;
        player_->cursor = 1;
    }
    EXPECT_EQ(load(write("bad.mid", smf(96, {Bytes{0, 0x3C, 1}}))), "Could not parse MIDI track.");
    expect_no_song();
}

TEST_F(LoadSong, RefusesWhatIsNotARegularReadableFile) {
    std::string fifo = (dir_ / "fifo.mid").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(load(fifo), "Could not open MIDI file."); // must not block
    EXPECT_EQ(load(dir_.string()), "Could not open MIDI file.");
    EXPECT_EQ(load("/dev/null"), "Could not open MIDI file.");
    EXPECT_EQ(load((dir_ / "missing.mid").string()), "Could not open MIDI file.");
    EXPECT_EQ(load(""), "Could not open MIDI file.");
    EXPECT_EQ(load(write("empty.mid", {})), "MIDI file is empty.");
    EXPECT_EQ(load(write("short.mid", {'M', 'T', 'h', 'd'})), "Invalid MIDI header.");
    // Too long to be a path of ours: never opened, never cut short.
    std::string overlong = write("x.mid", smf(96, {note_on(0, 60)}));
    overlong.insert(0, std::string(kPathCapacity, '/'));
    EXPECT_EQ(load(overlong), "Could not open MIDI file.");
    if (geteuid() != 0) {
        std::string locked = write("locked.mid", smf(96, {note_on(0, 60)}));
        fs::permissions(locked, fs::perms::none);
        EXPECT_EQ(load(locked), "Could not open MIDI file.");
    }
    expect_no_song();
}

TEST_F(LoadSong, LargeRandomFilesFailQuickly) {
    std::mt19937_64 random(99);
    Bytes noise(50 << 20);
    for (size_t i = 0; i + 8 <= noise.size(); i += 8) {
        uint64_t v = random();
        memcpy(noise.data() + i, &v, 8);
    }
    std::string failure = load(write("noise.mid", noise));
    EXPECT_TRUE(kFailureTexts.count(failure)) << failure;
    // The same noise as one huge track: the track parser walks it.
    Bytes as_track = header(1, 96) + Bytes{'M', 'T', 'r', 'k'} + be32(uint32_t(noise.size()));
    as_track.insert(as_track.end(), noise.begin(), noise.end());
    failure = load(write("noise-track.mid", as_track));
    EXPECT_TRUE(failure == "Loaded MIDI" || kFailureTexts.count(failure)) << failure;
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
            std::lock_guard<std::mutex> guard(player->lock);
            std::string status = player->status_text;
            EXPECT_TRUE(ok ? status == "Loaded MIDI" : kFailureTexts.count(status) == 1)
                << entry.path() << ": " << status;
            if (!ok) continue;
            ++loaded;
            const Song& song = player->song;
            for (size_t i = 1; i < song.events.size(); ++i)
                ASSERT_LE(song.events[i - 1].time, song.events[i].time) << entry.path();
            ASSERT_FALSE(song.tempo_map.empty());
            EXPECT_GE(song.length_frames, song.events.empty() ? 0 : song.events.back().time);
        }
    }
    EXPECT_GT(loaded, 0);
}

} // namespace
