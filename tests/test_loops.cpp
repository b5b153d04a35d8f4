// Songs that mark a loop, unrolled for "loop twice, then fade": the reader's marks, the unrolled
// events and tempo map, the fade on the output, and songs that must play exactly as written.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "export/export_job.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "sequencer/transport.h"
#include "song/midi_parse.h"
#include "song/song.h"
#include "song/song_loop.h"
#include "tests/support/midi_bytes.h"

namespace {

constexpr int32_t kRate = 48000; // a quarter note (480 ticks at 120 bpm) is 24000 frames

Bytes event(uint32_t delta, Bytes bytes) {
    return vlq(delta) + bytes;
}

Bytes marker(uint32_t delta, const std::string& text) {
    return vlq(delta) + Bytes{0xFF, 0x06, uint8_t(text.size())} + Bytes(text.begin(), text.end());
}

// A quarter of C as the intro; from tick 480 (CC 111) E, sung, for two quarters, then a rest to
// the end of the track at tick 1920.
Bytes cc111_song() {
    return smf(480,
               {event(0, {0x90, 60, 100}) + event(480, {0x80, 60, 0}) + event(0, {0xB0, 111, 0}) +
                event(0, {0xFF, 0x05, 2, 'l', 'a'}) + event(0, {0x90, 64, 100}) +
                event(960, {0x80, 64, 0}) + event(480, {0xFF, 0x2F, 0})});
}

// Markers on their own track with a tempo change inside the loop; at the loop's end (tick 1440)
// one note ends and the next, which only follows the loop, starts.
Bytes marker_song(const std::string& start = "loopStart", const std::string& end = "LoopEnd",
                  bool with_markers = true) {
    Bytes marks = with_markers ? marker(480, start) + tempo_event(480, 250000) + marker(480, end)
                               : tempo_event(960, 250000);
    return smf(480, {marks + kEndOfTrack,
                     event(0, {0x90, 60, 100}) + event(480, {0x80, 60, 0}) +
                         event(0, {0x90, 62, 100}) + event(960, {0x80, 62, 0}) +
                         event(0, {0x90, 67, 100}) + event(480, {0x80, 67, 0}) + kEndOfTrack});
}

Song parse(const Bytes& bytes) {
    Song song;
    EXPECT_EQ(parse_song(bytes.data(), bytes.size(), kRate, song), nullptr);
    return song;
}

std::vector<uint64_t> times(const Song& song) {
    std::vector<uint64_t> out;
    for (const MidiEvent& e : song.events)
        out.push_back(e.time);
    return out;
}

// The whole song through the audio thread's render, in blocks, until the transport stops or
// `limit` frames are done.
std::vector<int16_t> render_all(Player& player, uint64_t& end_position,
                                uint64_t limit = 100 * kRate) {
    std::vector<int16_t> out;
    start_playback(player);
    std::vector<int16_t> block(2 * 4096);
    while (out.size() < 2 * limit) {
        std::fill(block.begin(), block.end(), 0);
        std::lock_guard lock(player.lock);
        const uint64_t before = player.position;
        synth_render(player, block.data(), 4096);
        out.insert(out.end(), block.begin(), block.begin() + 2 * (player.position - before));
        if (!player.active) break;
    }
    end_position = player.position;
    return out;
}

std::unique_ptr<Player> player_with(const Bytes& bytes, int32_t song_loops) {
    auto player = std::make_unique<Player>();
    synth_init(*player, kRate);
    player_set_song_loops(*player, song_loops);
    EXPECT_TRUE(load_song_from_memory(*player, bytes.data(), bytes.size()));
    return player;
}

} // namespace

TEST(LoopMarks, TheReaderFindsThemAndLeavesTheEventsAsTheyWere) {
    const Song cc = parse(cc111_song());
    EXPECT_TRUE(cc.loop.marked);
    EXPECT_EQ(std::vector<uint64_t>(
                  {cc.loop.start_tick, cc.loop.end_tick, cc.loop.start_frame, cc.loop.end_frame}),
              std::vector<uint64_t>({480, 1920, 24000, 96000}))
        << "CC 111 to the end of the track";
    const Song marked = parse(marker_song());
    EXPECT_EQ(std::vector<uint64_t>({marked.loop.start_frame, marked.loop.end_frame}),
              std::vector<uint64_t>({24000, 60000}))
        << "markers, the end after the faster tempo";
    // The marks are no events: times, length and tempo map are those of the file without them.
    const Song plain = parse(marker_song("", "", false));
    EXPECT_FALSE(plain.loop.marked);
    EXPECT_EQ(times(marked), times(plain));
    EXPECT_EQ(marked.length_frames, plain.length_frames);
    EXPECT_EQ(marked.tempo_map.size(), plain.tempo_map.size());

    // Spellings: either case, with an underscore; anything else is just a marker.
    EXPECT_TRUE(parse(marker_song("LOOP_START", "loop_end")).loop.marked);
    EXPECT_FALSE(parse(marker_song("loopStarts", "loopEnd")).loop.marked);
    EXPECT_FALSE(parse(marker_song("loop", "loopEnd")).loop.marked) << "an end alone";
    // An end before the start is not the loop's: the loop runs to the end of the song.
    const Song backwards = parse(smf(
        480, {marker(0, "loopEnd") + marker(480, "loopStart") + note_on(480, 60) + kEndOfTrack}));
    EXPECT_EQ(std::vector<uint64_t>({backwards.loop.start_frame, backwards.loop.end_frame}),
              std::vector<uint64_t>({24000, 48000}));
}

TEST(LoopUnroll, PassesFollowTheLoopUntilTheFadeEnds) {
    Song song = parse(cc111_song());
    const Song written = song;
    EXPECT_FALSE(unroll_song_loop(song, 0));
    EXPECT_EQ(times(song), times(written));
    ASSERT_TRUE(unroll_song_loop(song, 2));
    // The fade starts after two more passes of 72000 frames and lasts 8 seconds.
    const uint64_t fade_start = 96000 + 2 * 72000;
    EXPECT_EQ(song.fade_frames, 8u * kRate);
    EXPECT_EQ(song.length_frames, fade_start + 8 * kRate);
    // Written part, then passes at +72000 each; in the eighth only what starts before the end.
    std::vector<uint64_t> expected = {0, 24000, 24000, 24000, 72000};
    for (uint64_t k = 1; k <= 8; ++k)
        for (uint64_t t : {24000, 24000, 24000, 72000})
            if (t + k * 72000 < song.length_frames) expected.push_back(t + k * 72000);
    EXPECT_EQ(times(song), expected);
    std::vector<uint64_t> sung;
    for (const SongText& text : song.texts)
        sung.push_back(text.time);
    EXPECT_EQ(sung, std::vector<uint64_t>(
                        {24000, 96000, 168000, 240000, 312000, 384000, 456000, 528000, 600000}))
        << "the lyric comes back with every pass";
    for (size_t i = 5; i < song.events.size(); ++i) {
        const MidiEvent& e = song.events[i];
        const MidiEvent& original = written.events[1 + (i - 5) % 4];
        EXPECT_EQ(std::vector<int>({e.status, e.data1, e.data2}),
                  std::vector<int>({original.status, original.data1, original.data2}))
            << "event " << i;
    }

    // At the loop's end the ending note belongs to the loop and the next one does not.
    Song marked = parse(marker_song());
    ASSERT_TRUE(unroll_song_loop(marked, 2));
    const std::vector<uint64_t> marked_times = times(marked);
    EXPECT_EQ(std::vector<uint64_t>(marked_times.begin(), marked_times.begin() + 7),
              std::vector<uint64_t>({0, 24000, 24000, 60000, 60000, 60000, 96000}));
    EXPECT_EQ(marked.events[3].status, 0x80);
    EXPECT_EQ(marked.events[4].data1, 60) << "the next pass begins: C ends, D starts";
    for (const MidiEvent& e : marked.events)
        EXPECT_NE(e.data1, 67) << "the note after the loop never plays";
    // The tempo map goes round with the loop, ticks counting on.
    ASSERT_GE(marked.tempo_map.size(), 5u);
    const TempoPoint second_pass = marked.tempo_map[2], faster = marked.tempo_map[3];
    EXPECT_EQ(std::vector<uint64_t>({second_pass.frame, second_pass.tick, second_pass.tempo,
                                     faster.frame, faster.tick, faster.tempo}),
              std::vector<uint64_t>({60000, 1440, 500000, 84000, 1920, 250000}));
}

// The default plays every song exactly as written; the setting changes only songs with a loop.
TEST(LoopRender, FadesToSilenceAndLeavesUnmarkedSongsAlone) {
    uint64_t end = 0;
    const auto looped = player_with(cc111_song(), 2);
    const Song& song = looped->song;
    const uint64_t fade_start = song.length_frames - song.fade_frames;
    const std::vector<int16_t> faded = render_all(*looped, end);
    EXPECT_EQ(end, song.length_frames) << "stops at the end, though E still sounds";
    EXPECT_STREQ(looped->status_text, "Finished");
    // Unfaded, the same events sound the same: the fade only scales, down to nothing.
    auto unfaded_player = player_with(cc111_song(), 2);
    unfaded_player->song.fade_frames = 0;
    uint64_t unfaded_end = 0;
    const std::vector<int16_t> unfaded =
        render_all(*unfaded_player, unfaded_end, song.length_frames);
    ASSERT_GE(unfaded.size(), faded.size());
    EXPECT_TRUE(std::equal(faded.begin(), faded.begin() + 2 * fade_start, unfaded.begin()));
    int16_t loudest_unfaded = 0, last_quarter_second = 0;
    for (uint64_t i = 2 * fade_start; i < faded.size(); ++i) {
        EXPECT_LE(std::abs(faded[i]), std::abs(unfaded[i])) << "frame " << i / 2;
        loudest_unfaded = std::max<int16_t>(loudest_unfaded, std::abs(unfaded[i]));
        if (i >= faded.size() - 2 * kRate / 4)
            last_quarter_second = std::max<int16_t>(last_quarter_second, std::abs(faded[i]));
    }
    EXPECT_GT(loudest_unfaded, 300) << "the loop plays through the fade";
    EXPECT_LE(last_quarter_second, loudest_unfaded / 30);
    EXPECT_EQ(faded[faded.size() - 1], 0);

    // A song without marks: the same events and the same samples with the setting on.
    const Bytes plain = marker_song("", "", false);
    const auto once = player_with(plain, 0), twice = player_with(plain, 2);
    EXPECT_EQ(times(once->song), times(twice->song));
    EXPECT_EQ(twice->song.fade_frames, 0u);
    uint64_t once_end = 0, twice_end = 0;
    EXPECT_EQ(render_all(*once, once_end), render_all(*twice, twice_end));
    EXPECT_EQ(once_end, twice_end);
}

TEST(LoopExport, TheExportPlaysTheLoopsThePlayerIsSetTo) {
    const std::string dir = ::testing::TempDir();
    const std::string song = write_file(dir + "/loops.mid", cc111_song());
    auto player = std::make_unique<Player>();
    synth_init(*player, kRate);
    player_set_song_loops(*player, 2);
    ASSERT_TRUE(load_song(*player, song.c_str()));
    ExportRequest request;
    ASSERT_TRUE(export_request_from_player(*player, request));
    EXPECT_EQ(request.song_loops, 2);
    std::atomic<bool> cancel{false};
    std::atomic<int32_t> percent{0};
    for (int32_t loops : {0, 2}) {
        request.song_loops = loops;
        request.output_path = dir + "/loops.wav";
        EXPECT_EQ(run_export(request, cancel, percent), "Exported loops.wav");
        FILE* file = std::fopen(request.output_path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        std::fseek(file, 0, SEEK_END);
        const long frames = (std::ftell(file) - 44) / 4;
        std::fclose(file);
        // As written it ends when the last note has died away; unrolled, with the fade, in
        // whole render blocks.
        if (loops == 0) {
            EXPECT_LT(frames, 96000);
        } else {
            EXPECT_EQ(frames, (240000 + 8 * kRate + 1023) / 1024 * 1024);
        }
    }
}
