// The MIDI reader: parsing rules, ordering, timing, failures, and loading real files.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
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

std::string parse(const Bytes& file, Song& song, int32_t rate = 44100, uint64_t budget = ~0ull) {
    const char* failure = parse_song(file.data(), file.size(), rate, song, budget);
    EXPECT_TRUE(failure == nullptr || (song.events.empty() && song.tempo_map.empty()));
    return failure ? failure : "loaded";
}

Song parse_ok(const Bytes& file, int32_t rate = 44100) {
    Song song;
    EXPECT_EQ(parse(file, song, rate), "loaded");
    return song;
}

TEST(MidiParse, EachFailureNamesTheFirstFailingStep) {
    const Bytes note = note_on(0, 60), one = note + kEndOfTrack, good = smf(96, {one});
    const Bytes mtrk{'M', 'T', 'r', 'k'};
    auto track = [](const Bytes& events) { return smf(96, {events}); };
    const std::string kHeader = "Invalid MIDI header.", kLength = "Invalid MIDI header length.";
    const std::string kNone = "MIDI has no events.", kChunk = "Invalid MIDI track chunk.";
    const std::string kCut = "Truncated MIDI track.", kParse = "Could not parse MIDI track.";
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes(good.begin(), good.begin() + 13), kHeader},
        {Bytes{'M', 'T', 'h', 'x'} + Bytes(good.begin() + 4, good.end()), kHeader},
        {header(1, 96, 5) + chunk(one), kLength},
        {header(1, 96, 100) + chunk(one), kLength}, // past the file
        // length + 8 wraps in 32 bits
        {Bytes{'M', 'T', 'h', 'd'} + be32(0xFFFFFFF8) + Bytes{0, 1, 0, 1, 0, 96} + chunk(one),
         kLength},
        {smf(0xE728, {one}), "SMPTE time-division MIDI is not supported."},
        {header(0, 96), kNone},
        {track(Bytes{0, 0xFF, 0x01, 2, 'h', 'i'} + kEndOfTrack), kNone}, // only a text event
        {header(1, 96) + Bytes{'M', 'T', 'r', 'k', 0, 0}, kChunk},       // chunk header cut short
        {header(2, 96) + chunk(one, "XFIH") + chunk(one), kChunk},
        {header(1, 96) + mtrk + be32(9) + one, kCut}, // one byte too long
        {header(1, 96) + mtrk + be32(0xFFFFFFFF) + one, kCut},
        // Each chunk is parsed before the next one is looked at.
        {header(2, 96) + chunk(Bytes{0, 0x3C, 0x40}) + Bytes{1}, kParse},
        {track(note + Bytes{0, 0xFF, 1, 0, 0, 62, 1}), kParse}, // data byte after a meta event
        {track(note + Bytes{0, 0xF8, 0, 62, 1}), kParse},       // data byte after a system byte
        {track(note + Bytes{0x81}), kParse},                    // delta runs off the chunk
        {track(Bytes{0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}), kParse}, // five-byte quantity
        {track(Bytes{0, 0x90, 60}), kParse},
        {track(note + Bytes{0, 0xFF, 0x51, 3, 7, 0xA1}), kParse}, // meta data past the chunk
        {track(Bytes{0, 0xF0, 4, 1, 2, 0xF7}), kParse},
        {track(note + Bytes{0, 0xF4} + kEndOfTrack), kParse}, // undefined status
    };
    for (const auto& [file, message] : cases) {
        Song song;
        EXPECT_EQ(parse(file, song), message) << testing::PrintToString(file);
    }
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
    // SysEx sorts after the channel messages of its tick and keeps its introducer.
    Bytes got;
    for (const MidiEvent& e : song.events)
        got = got + Bytes{e.status, e.data1, e.data2};
    ASSERT_EQ(got, (Bytes{0x91, 60, 100, 0x91, 61, 90, 0xC2, 5, 0, 0xC2, 7, 0,
                          0xD3, 9,  0,   0xD3, 10, 0,  0xF0, 0, 0, 0xF0, 0, 0}));
    const MidiEvent& f7 = song.events.back();
    EXPECT_EQ(Bytes(song_event_sysex(song, f7), song_event_sysex(song, f7) + f7.sysex_length),
              Bytes({0xF7, 0x43, 0x12}));
}

TEST(MidiParse, FrameTimesLengthAndTempoMap) {
    // 480 ticks per quarter at 120 bpm: half a second per quarter; 4 s of tail. Division 0
    // means 480; a trailing End of Track does not lengthen the song.
    for (uint16_t division : {480, 0}) {
        Song song = parse_ok(smf(division, {note_on(480, 60) + Bytes{0x83, 0x60, 0xFF, 0x2F, 0}}));
        EXPECT_EQ(song.events[0].time, 22050u);
        EXPECT_EQ(song.length_frames, 22050u + 176400u);
    }
    // At 1 Hz and 1 tick per quarter a tick is half a frame: halves round away from zero.
    Song halves = parse_ok(smf(1, {note_on(1, 1) + note_on(4, 3) + kEndOfTrack}), 1);
    EXPECT_EQ(halves.events[0].time * 10 + halves.events[1].time, 13u); // 0.5 -> 1, 2.5 -> 3
    // A tempo at tick 0 replaces the first point; two at one tick leave the later value; a
    // tempo of 0 keeps the tempo but still marks a point; a 0x51 of another length is ignored.
    const Bytes track = tempo_event(0, 400000) + tempo_event(96, 1000000) + tempo_event(0, 250000) +
                        tempo_event(96, 0) + vlq(0) + Bytes{0xFF, 0x51, 4, 0, 0, 1, 0} +
                        note_on(96, 60) + kEndOfTrack;
    Song tempo = parse_ok(smf(96, {track}), 1000000);
    std::vector<std::array<uint64_t, 3>> points;
    for (const TempoPoint& p : tempo.tempo_map)
        points.push_back({p.frame, p.tick, p.tempo});
    EXPECT_EQ(points, (std::vector<std::array<uint64_t, 3>>{
                          {0, 0, 400000}, {400000, 96, 250000}, {650000, 192, 250000}}));
    EXPECT_EQ(tempo.events[0].time, 900000u);
}

TEST(MidiParse, OutOfMemoryAtEachStage) {
    Bytes t1, t2; // two tracks, so the events need sorting
    for (int i = 0; i < 40; ++i) {
        t1 = t1 + note_on(10, uint8_t(i));
        t2 = t2 + note_on(10, uint8_t(i), 1);
    }
    const Bytes file = smf(96, {t1 + kEndOfTrack, t2 + kEndOfTrack});
    const uint64_t raw = 256 * 16, all = raw + 80 * sizeof(MidiEvent) + 16 * sizeof(TempoPoint);
    Song song;
    EXPECT_EQ(parse(file, song, 44100, raw - 1), "Could not parse MIDI track.");
    EXPECT_EQ(parse(file, song, 44100, all - 1), "Out of memory scheduling MIDI.");
    // Without room for the radix buffer the sort falls back to sorting in place.
    ASSERT_EQ(parse(file, song, 44100, all), "loaded");
    EXPECT_EQ(song.events[1].status, 0x91) << "the second track's first note, second";
}

Bytes meta(uint32_t delta, uint8_t type, const std::string& text) {
    return vlq(delta) + Bytes{0xFF, type} + vlq(uint32_t(text.size())) +
           Bytes(text.begin(), text.end());
}

std::vector<std::array<uint64_t, 4>> event_dump(const Song& song) {
    std::vector<std::array<uint64_t, 4>> out;
    for (const MidiEvent& e : song.events)
        out.push_back({e.time, e.status, e.data1, uint64_t{e.data2} << 32 | e.sysex_length});
    for (const TempoPoint& p : song.tempo_map)
        out.push_back({p.frame, p.tick, p.tempo, 0});
    out.push_back({song.length_frames, song.division, song.rate, song.sysex_data.size()});
    return out;
}

// The words are kept beside the events: the same file without them has the same event list,
// down to the rounding of every frame time.
TEST(MidiParse, KeepsTitleCopyrightAndTextsWithoutTouchingTheEvents) {
    // Division 7 and an odd tempo: a text that split a delta would change the sums.
    Bytes plain0, words0, plain1, words1;
    for (int i = 0; i < 50; ++i) {
        const uint32_t delta = uint32_t(3 + i % 5);
        plain0 = plain0 + note_on(delta, uint8_t(40 + i));
        words0 = words0 + meta(delta - 1, 0x05, "la") + note_on(1, uint8_t(40 + i));
        plain1 = plain1 + note_on(delta + 1, uint8_t(60 + i), 1);
        words1 = words1 + meta(delta, 0x01, "x") + note_on(1, uint8_t(60 + i), 1);
    }
    const Bytes tempo = tempo_event(0, 333331) + tempo_event(17, 777773);
    const Bytes head = meta(0, 0x03, "First") + meta(0, 0x02, "(C) Us") + meta(0, 0x03, "Second");
    const Song plain =
        parse_ok(smf(7, {tempo + plain0 + kEndOfTrack, plain1 + kEndOfTrack}), 44100);
    const Song words = parse_ok(
        smf(7, {head + tempo + words0 + kEndOfTrack, meta(0, 0x03, "Bass") + words1 + kEndOfTrack}),
        44100);
    EXPECT_EQ(event_dump(words), event_dump(plain));
    EXPECT_EQ(words.title, "First");
    EXPECT_EQ(words.copyright, "(C) Us");
    EXPECT_FALSE(words.karaoke);
    ASSERT_EQ(words.texts.size(), 100u);
    for (const SongText& t : words.texts) {
        const bool is_lyric = t.type == kMetaLyric;
        EXPECT_EQ(song_text_bytes(words, t), is_lyric ? "la" : "x");
        EXPECT_EQ(t.track, is_lyric ? 0 : 1);
    }
    // The first text is a tick before the first note, at 333331 us per 7 ticks and 44100 Hz.
    EXPECT_EQ(words.texts[0].time, 6300u);
    EXPECT_EQ(words.events[0].time, 8400u);
    EXPECT_TRUE(std::is_sorted(words.texts.begin(), words.texts.end(),
                               [](auto& a, auto& b) { return a.time < b.time; }));
}

TEST(MidiParse, TextFramesFollowTheTempoMapAndKaraokeIsMarked) {
    // 480 ticks per quarter: 120 bpm, then 60 bpm from tick 480; a text at the tempo's own
    // tick already takes the new tempo; texts after the last event still get their times.
    const Bytes track = meta(0, 0x01, "@KMIDI KARAOKE FILE") + meta(240, 0x05, "a") +
                        note_on(240, 60) + tempo_event(0, 1000000) + meta(0, 0x01, "b") +
                        meta(240, 0x05, "c") + note_on(240, 62) + meta(480, 0x01, "end") +
                        kEndOfTrack;
    const Song song = parse_ok(smf(480, {track}));
    std::vector<std::pair<uint64_t, std::string>> got;
    for (const SongText& t : song.texts)
        got.emplace_back(t.time, std::string(song_text_bytes(song, t)));
    EXPECT_EQ(got, (std::vector<std::pair<uint64_t, std::string>>{{0, "@KMIDI KARAOKE FILE"},
                                                                  {11025, "a"},
                                                                  {22050, "b"},
                                                                  {44100, "c"},
                                                                  {110250, "end"}}));
    EXPECT_TRUE(song.karaoke);
    EXPECT_EQ(song.events[1].time, 66150u);
    EXPECT_EQ(song.length_frames, 66150u + 4 * 44100u) << "texts do not lengthen the song";
}

// A hostile file loses words, never memory: each text is cut, and so is their number.
TEST(MidiParse, WordsAreBoundedPerTextAndInNumber) {
    const std::string huge(5000, 'w');
    Bytes track = meta(0, 0x03, huge) + meta(0, 0x02, huge) + meta(0, 0x05, huge);
    for (uint32_t i = 0; i < kSongTextCount + 10; ++i)
        track.insert(track.end(), {0, 0xFF, 0x05, 1, 'z'});
    const Song song = parse_ok(smf(96, {track + note_on(0, 60) + kEndOfTrack}));
    EXPECT_EQ(song.title.size(), kSongTextBytes);
    EXPECT_EQ(song.copyright.size(), kSongTextBytes);
    ASSERT_EQ(song.texts.size(), kSongTextCount);
    EXPECT_EQ(song.texts[0].length, kSongTextBytes);
    EXPECT_EQ(song.text_data.size(), kSongTextBytes + kSongTextCount - 1);
    EXPECT_EQ(song.events.size(), 1u);
}

TEST(LoadSong, FailuresLeaveNoSongAndAStoppedTransport) {
    const fs::path dir =
        fs::path(testing::TempDir()) / ("velta-reader-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto player = std::make_unique<Player>();
    synth_init(*player, 44100);
    const Bytes good = smf(480, {note_on(480, 60) + kEndOfTrack});
    const std::string path = write_file((dir / "good.mid").string(), good);
    ASSERT_TRUE(load_song(*player, path.c_str()));
    EXPECT_STREQ(player->song_path, path.c_str());
    player->active = player->paused = true;
    player->position = 5000;
    // load_song and load_song_from_memory clear the song on a failure (velta-render and the
    // export rely on it); the window's loader keeps it (tests/test_input.cpp, the drop).
    EXPECT_FALSE(load_song_from_memory(*player, good.data(), 10)) << "a failure after a success";
    EXPECT_STREQ(player->status_text, "Invalid MIDI header.");
    EXPECT_TRUE(player->song.events.empty() && player->song.length_frames == 0);
    EXPECT_FALSE(player->active || player->paused || player->position != 0);
    EXPECT_STREQ(player->song_path, "");

    const std::string fifo = (dir / "fifo.mid").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string overlong = std::string(kPathCapacity, '/') + path; // never cut short
    for (const auto& [file, error] :
         {std::pair{fifo, 0}, std::pair{dir.string(), EISDIR},
          std::pair{(dir / "none.mid").string(), ENOENT}, std::pair{overlong, ENAMETOOLONG}}) {
        int error_number = -1;
        EXPECT_FALSE(load_song(*player, file.c_str(), &error_number)); // a FIFO must not block
        EXPECT_STREQ(player->status_text, "Could not open MIDI file.") << file;
        EXPECT_EQ(error_number, error) << file;
    }
    EXPECT_FALSE(load_song(*player, write_file((dir / "empty.mid").string(), {}).c_str()));
    EXPECT_STREQ(player->status_text, "MIDI file is empty.");
    fs::remove_all(dir);
}

TEST(LoadSong, AKarFileIsKaraokeByItsName) {
    const Bytes file = smf(96, {meta(0, 0x01, "Hello") + note_on(0, 60) + kEndOfTrack});
    const std::string base = testing::TempDir() + "/velta-words-" + std::to_string(getpid());
    for (const auto& [suffix, karaoke] :
         {std::pair{std::string(".KAR"), true}, std::pair{std::string(".kar.mid"), false}}) {
        const std::string path = write_file(base + suffix, file);
        Song song;
        int error_number = 0;
        EXPECT_EQ(read_song_file(path.c_str(), 44100, song, error_number), nullptr);
        EXPECT_EQ(song.karaoke, karaoke) << suffix;
        fs::remove(path);
    }
}

// A file that is not MIDI costs a few bytes whatever its size: nothing of it read or allocated.
TEST(LoadSong, AHugeFileThatIsNotMidiIsRefusedByItsHeader) {
    const fs::path path =
        fs::path(testing::TempDir()) / ("velta-reader-huge-" + std::to_string(getpid()) + ".mid");
    write_file(path.string(), Bytes{'R', 'I', 'F', 'F'});
    fs::resize_file(path, uint64_t{2} << 30); // sparse
    rusage before = {};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    Song song;
    int error_number = -1;
    const std::string failure = read_song_file(path.c_str(), 44100, song, error_number);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    rusage after = {};
    getrusage(RUSAGE_SELF, &after);
    fs::remove(path);
    EXPECT_EQ(failure, "Invalid MIDI header.");
    EXPECT_EQ(error_number, 0);
    EXPECT_LT(elapsed, std::chrono::milliseconds(500));
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "KB of peak memory";
}

TEST(MidiCorpus, EveryFileLoadsOrFailsWithAKnownText) {
    const fs::path corpus = fs::path(VELTA_SOURCE_DIR) / ".." / "shared" / "corpus";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    const std::set<std::string> failures = {
        "Could not open MIDI file.",     "Could not seek MIDI file.",
        "MIDI file is empty.",           "Out of memory loading MIDI.",
        "Could not read MIDI file.",     "Invalid MIDI header.",
        "Invalid MIDI header length.",   "SMPTE time-division MIDI is not supported.",
        "MIDI has no events.",           "Invalid MIDI track chunk.",
        "Truncated MIDI track.",         "Could not parse MIDI track.",
        "Out of memory scheduling MIDI."};
    auto player = std::make_unique<Player>();
    synth_init(*player, 48000);
    int loaded = 0;
    for (const char* group : {"valid", "invalid"}) {
        for (const auto& entry : fs::directory_iterator(corpus / group)) {
            const bool ok = load_song(*player, entry.path().c_str());
            const std::string status = player->status_text;
            EXPECT_TRUE(ok ? status == "Loaded MIDI" : failures.count(status) == 1)
                << entry.path() << ": " << status;
            loaded += ok;
            const auto& events = player->song.events;
            EXPECT_TRUE(std::is_sorted(events.begin(), events.end(), [](auto& a, auto& b) {
                return a.time < b.time;
            })) << entry.path();
        }
    }
    EXPECT_GT(loaded, 0);
}

} // namespace
