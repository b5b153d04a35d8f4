// The engine: one golden table locks whole renders sample for sample; the small cases below it
// point at the rule that broke when a checksum changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/clock_text.h"
#include "sequencer/dispatch.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/seek.h"
#include "sequencer/transport.h"
#include "synth/noise.h"
#include "synth/tables.h"
#include "synth/voice.h"
#include "tests/support/engine_support.h"
#include "tests/support/song_gen.h"

namespace {

std::vector<int16_t> render(Player& player, uint32_t frames) {
    std::vector<int16_t> out(size_t{frames} * 2, 0);
    synth_render(player, out.data(), frames);
    return out;
}

void add_sysex(Song& song, uint64_t time, std::vector<uint8_t> bytes) {
    song.events.push_back({time, song.sysex_data.size(), bytes.size(), 0xF0});
    song.sysex_data.insert(song.sysex_data.end(), bytes.begin(), bytes.end());
}

// Installs the song as a successful load would: stopped at frame 0, channels reset.
void install(Player& player, Song song) {
    song.length_frames = song.events.back().time + 4 * 44100;
    player.song = std::move(song);
    stop_playback(player);
}

const Voice* first_voice(const Player& player, int32_t channel) {
    for (const Voice& voice : player.synth.voices)
        if (voice.active != 0 && voice.channel == channel) return &voice;
    return nullptr;
}

struct Golden {
    const char* song; // "scene": events placed on frames directly, see play()
    int32_t rate;
    double seek; // < 0: from the start
    uint32_t block;
    uint64_t skip, frames, fnv; // frames rendered unhashed, then hashed; FNV-1a 64 of the PCM
    bool finishes;              // the song ends with the last block
    // The upper half of FNV-1a 64 of each second of the hashed PCM, so a mismatch is placed.
    std::initializer_list<uint32_t> seconds;
};

// clang-format off
constexpr Golden kGoldens[] = {
    // Every voice sounding with bends, expression and pan moving; a dense song with drums and
    // tempo changes; straight and after seeks.
    {"stress", 22050, -1, 1024, 0, 8 * 22050, 0xdf7920444d2c5365ull, false,
     {0xfb7981f8, 0xa8dd79af, 0x6bf09804, 0x30e78a5d, 0xc13a3b5d, 0x6a11a2c7, 0xdc95285f,
      0x3a0518c7}},
    {"stress", 44100, -1, 1024, 0, 8 * 44100, 0x850d01adee245597ull, false,
     {0x7468cae7, 0xdbb8233e, 0xe396bc9d, 0x80a8c61c, 0x5cc5fe32, 0xf933b793, 0xd6cdcc3c,
      0x88afac8d}},
    {"stress", 48000, -1, 1024, 0, 8 * 48000, 0x0e8a2402c0f6ab9aull, false,
     {0xb964baf8, 0x17ecab84, 0x731c82f4, 0x80970812, 0x9195b259, 0x9ada6397, 0x18262659,
      0x2e7689f7}},
    {"dense", 22050, -1, 1024, 0, 12 * 22050, 0xe00c7dd173e88d09ull, false,
     {0xc463d009, 0x208b09a7, 0xf97e6340, 0x9f1e1b5b, 0xa8030310, 0x3b17a564, 0x219a05e7,
      0x28291b27, 0xdcf3d427, 0x8627a3b5, 0x60caffca, 0x73a6cfe3}},
    {"dense", 44100, -1, 1024, 0, 12 * 44100, 0x2c157de6d016d449ull, false,
     {0xe84fde4b, 0xbdf2f754, 0xb783e79b, 0xadafde6a, 0xcf8617aa, 0x43b1ca69, 0x715599c4,
      0x6afb40ea, 0x8ecdd088, 0xe4efbcac, 0x8b1115e4, 0xa87c72b7}},
    {"dense", 48000, -1, 1024, 0, 12 * 48000, 0x0311d7a8ad87a9f2ull, false,
     {0x4b152fe5, 0xd1a00138, 0x332e3aef, 0xa0acde20, 0xd98c60c3, 0x8115fcbc, 0x5836b9e6,
      0x91dee97a, 0x865c4591, 0x8501f296, 0xdd5b6a79, 0xaa10c34f}},
    {"stress", 44100, 0.5, 333, 0, 2 * 44100, 0x04847e55f8b7c5cfull, false,
     {0x7e01eb8b, 0x1c2c0f80}},
    {"dense", 48000, 0.37, 333, 0, 3 * 48000, 0x32356f97c7edd5b3ull, false,
     {0x2b63a26b, 0x2583db4c, 0xceba24e8}},
    {"dense", 22050, 0.811, 4096, 0, 3 * 22050, 0x51d19bf9ea87c05aull, false,
     {0xdfb1e0f0, 0x77ab7ed1, 0x41e1b73c}},
    // The same samples however the audio thread slices the stream into blocks.
    {"dense", 44100, 0.25, 1, 0, 2 * 44100, 0xf755a02089442afdull, false,
     {0xc31f5a26, 0x70413be8}},
    {"dense", 44100, 0.25, 1000, 0, 2 * 44100, 0xf755a02089442afdull, false,
     {0xc31f5a26, 0x70413be8}},
    {"dense", 44100, 0.25, 4096, 0, 2 * 44100, 0xf755a02089442afdull, false,
     {0xc31f5a26, 0x70413be8}},
    // A user waveform replaced twice while two notes play it.
    {"upload", 44100, -1, 1024, 0, 3 * 44100, 0xedd9ca2cfb6193f3ull, false,
     {0x502eff77, 0x8e0b8452, 0x544cb33a}},
    // Held notes past 2^24 samples, where the counters stop being exact as floats.
    {"held", 44100, -1, 4410, 380 * 44100, 5 * 44100, 0x14658ed61ddf2527ull, false,
     {0x05d68405, 0xe862e3a6, 0x6d85406d, 0x91263abf, 0xda8f95bf}},
    // The small test songs played to their end, as velta-render writes them.
    {"melodic", 22050, -1, 1024, 0, 86016, 0xb6ef8615ebfe9e23ull, true,
     {0x1b572710, 0x6dbb6bd1, 0xa252945d, 0x114cf65b}},
    {"melodic", 44100, -1, 1024, 0, 168960, 0x88241159366177b6ull, true,
     {0x36f117a5, 0xc16424ed, 0x94abe580, 0x65191e5e}},
    {"melodic", 48000, -1, 1024, 0, 184320, 0x7b7859865994da29ull, true,
     {0x30e656e5, 0xeb76cb7f, 0x6d0b2a52, 0xfbf12745}},
    {"drums", 22050, -1, 1024, 0, 82944, 0xb4d182567b1adaa9ull, true,
     {0x88681d13, 0x092e69e8, 0x6c848a52, 0x3d9b6871}},
    {"drums", 44100, -1, 1024, 0, 165888, 0x5da2520a0096d529ull, true,
     {0x738a20f1, 0x0ef52717, 0x080cedd6, 0x745e883e}},
    {"drums", 48000, -1, 1024, 0, 180224, 0x2062746e0807d899ull, true,
     {0xbd7c45e8, 0xe9885434, 0xc95ec48f, 0x798e41c4}},
    {"waves", 22050, -1, 1024, 0, 112640, 0x2bddcca7fd4d0e41ull, true,
     {0x04ebbd05, 0xa458bcea, 0x6d86f09a, 0xeef3e639, 0x38e05078, 0x214fac4f}},
    {"waves", 44100, -1, 1024, 0, 223232, 0x3b84ceda615c5638ull, true,
     {0xdc59d3bb, 0xdf77c894, 0xe31cc93d, 0x52dd209c, 0x021b0b86, 0x35006fce}},
    {"waves", 48000, -1, 1024, 0, 242688, 0x00ce4db2d6bba55bull, true,
     {0x72d0683e, 0xeab27dee, 0xed8121ea, 0x9ebf9a6e, 0xc1f5a5e7, 0x077f0903}},
    {"scene", 44100, -1, 333, 0, 82 * 333, 0x9b58b3e24ea834b4ull, true, {0x9b58b3e2}},
    {"scene", 22050, -1, 333, 0, 82 * 333, 0xa8f07567c1561517ull, true, {0xbe19aaf2, 0xc5097898}},
};
// Every sound path in a few frames: melodic sets, bends, pan and expression, the sustain pedal
// and every drum family, events inside the blocks.
constexpr uint32_t kScene[][4] = {
    {0, 0xC1, 16, 0}, {0, 0xB0, 10, 20}, {0, 0x90, 69, 110}, {0, 0x91, 52, 90}, {0, 0x99, 36, 127},
    {300, 0xB0, 11, 60}, {700, 0xE0, 0, 96}, {900, 0x99, 38, 100}, {1500, 0xB1, 64, 127},
    {1600, 0x81, 52, 0}, {1800, 0x99, 42, 80}, {2200, 0x99, 46, 80}, {2600, 0x99, 49, 90},
    {3000, 0x99, 45, 120}, {3100, 0x99, 51, 70}, {3300, 0x93, 90, 127}, {5000, 0x80, 69, 0},
    {6000, 0x83, 90, 0}};
// clang-format on

std::vector<uint8_t> song_bytes(const std::string& name) {
    for (const auto& [test_song, make] : song_gen::kTestSongs)
        if (name == test_song) return make();
    return name == "stress"  ? song_gen::stress_song()
           : name == "dense" ? song_gen::dense_song()
           : name == "held"  ? song_gen::held_song(400)
                             : song_gen::wave_upload_song();
}

std::vector<int16_t> play(const Golden& take, Player& player) {
    if (std::string(take.song) == "scene") {
        add_events(player.song, kScene);
        player.song.length_frames = 9000;
        player.active = true;
    } else {
        const std::vector<uint8_t> bytes = song_bytes(take.song);
        EXPECT_TRUE(load_song_from_memory(player, bytes.data(), bytes.size()));
        start_playback(player);
        if (take.seek >= 0) seek_fraction(player, take.seek);
    }
    std::vector<int16_t> pcm;
    for (uint64_t done = 0; done < take.skip + take.frames; done += take.block) {
        const auto n = uint32_t(std::min<uint64_t>(take.block, take.skip + take.frames - done));
        const std::vector<int16_t> block = render(player, n);
        if (done >= take.skip) pcm.insert(pcm.end(), block.begin(), block.end());
    }
    return pcm;
}

} // namespace

std::vector<uint32_t> second_hashes(const Golden& take, const std::vector<int16_t>& pcm) {
    std::vector<uint32_t> hashes;
    const size_t second = size_t(take.rate) * 2;
    for (size_t at = 0; at < pcm.size(); at += second) {
        const size_t samples = std::min(second, pcm.size() - at);
        hashes.push_back(uint32_t(fnv1a(pcm.data() + at, samples * 2) >> 32));
    }
    return hashes;
}

// Names the first second that differs from the table, writes the PCM where it can be heard or
// compared, and gives the row's checksums as they are now.
std::string explain_mismatch(size_t row, const Golden& take, const std::vector<int16_t>& pcm,
                             const std::vector<uint32_t>& seconds, uint64_t hash,
                             const std::string& raw_path) {
    std::ostringstream what;
    what << "row " << row << ": " << take.song << " at " << take.rate << " Hz, seek " << take.seek
         << ", block " << take.block << "\n";
    const std::vector<uint32_t> stored(take.seconds);
    size_t first = 0;
    while (first < seconds.size() && first < stored.size() && seconds[first] == stored[first])
        ++first;
    if (first < seconds.size() || first < stored.size()) {
        const uint64_t from = take.skip + first * uint64_t(take.rate);
        what << "first differing second: " << first << " (frames " << from << " to "
             << std::min(from + take.rate, take.skip + take.frames) - 1
             << " of the render, counted from the start or the seek)";
    } else {
        what << "every second matches: the whole-render checksum in the table is wrong";
    }
    if (hash == take.fnv) what << "; the whole render matches: the table's seconds are wrong";
    std::filesystem::create_directories(std::filesystem::path(raw_path).parent_path());
    std::ofstream(raw_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(pcm.size() * 2));
    what << "\nPCM written to " << raw_path << " (aplay -f S16_LE -c 2 -r " << take.rate << ")"
         << "\nnow: 0x" << std::hex << std::setfill('0') << std::setw(16) << hash << "ull, {";
    for (size_t i = 0; i < seconds.size(); ++i)
        what << (i ? ", " : "") << "0x" << std::setw(8) << seconds[i];
    what << "}";
    return what.str();
}

TEST(Golden, WholeRendersUnchanged) {
    for (size_t row = 0; row < std::size(kGoldens); ++row) {
        const Golden& take = kGoldens[row];
        char name[64];
        std::snprintf(name, sizeof name, "%02zu-%s-%d.raw", row, take.song, take.rate);
        const std::string raw_path = VELTA_BINARY_DIR "/tests/golden-failures/" + std::string(name);
        std::filesystem::remove(raw_path); // only failures of this run are left there
        auto player = make_player(take.rate);
        const std::vector<int16_t> pcm = play(take, *player);
        const uint64_t hash = fnv1a(pcm.data(), pcm.size() * 2);
        const std::vector<uint32_t> seconds = second_hashes(take, pcm);
        if (hash != take.fnv || seconds != std::vector<uint32_t>(take.seconds))
            ADD_FAILURE() << explain_mismatch(row, take, pcm, seconds, hash, raw_path);
        if (take.finishes) render(*player, take.block); // the call after the end reports it
        EXPECT_FALSE(take.finishes && player->active) << take.song << " at " << take.rate;
    }
}

// ---- synthesizer ------------------------------------------------------------------------------

TEST(Synth, InstrumentSetClampsAndRetunesSoundingMelodicVoicesOnly) {
    auto player = make_player();
    SynthState& synth = player->synth;
    EXPECT_EQ(synth_select_instrument_set(synth, 12), 9);
    EXPECT_EQ(synth_select_instrument_set(synth, -3), 0);
    for (int i : {0, 1, 2}) // program masked to 5, not read past the set
        synth.voices[i] = {.active = i != 1, .program = 133, .kind = i == 2 ? kVoiceToneDrum : 1};
    synth_select_instrument_set(synth, 3);
    EXPECT_EQ(synth.voices[0].wave, synth.wave_bank[kInstrumentSets[3][5]]);
    EXPECT_EQ(synth.voices[1].wave, nullptr) << "silent";
    EXPECT_EQ(synth.voices[2].wave, nullptr) << "a drum";
}

// Seven "PULSE SQUARE 50%" voices sum far above 32767, fourteen squares far below -32767: both
// channels clip symmetrically, through the four-frame conversion and the frame-by-frame tail.
TEST(Synth, SymmetricClipOnBothSides) {
    for (int voices : {7, 14}) {
        for (int pan : {0, 127}) {
            auto player = make_player();
            synth_select_instrument_set(player->synth, voices == 7 ? 7 : 0);
            player->synth.channels[0].volume = 127;
            player->synth.channels[0].pan = pan;
            for (int i = 0; i < voices; ++i)
                synth_note_on(player->synth, 0, 60, 127);
            const auto out = render(*player, 203);
            const auto [low, high] = std::minmax_element(out.begin(), out.end());
            EXPECT_EQ(voices == 7 ? *high : *low, voices == 7 ? 32767 : -32767) << pan;
        }
    }
}

TEST(Synth, StealsOldestThenLowerIndexFromAFullPool) {
    auto player = make_player();
    SynthState& synth = player->synth;
    for (int i = 0; i < kVoiceCount; ++i)
        synth_note_on(synth, 0, 40 + i % 40, 100);
    synth.voices[7].age = synth.voices[30].age = 500;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[7]);
    synth.voices[3].note = -1; // released: beats the held candidate of the moment...
    synth.voices[3].age = 5;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[7]); // ...but an older held one wins
    synth.voices[7].age = synth.voices[30].age = 4;
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[3]);
    synth.voices[3].age = 0x80000000u; // ages compare signed: wrapped is youngest
    EXPECT_EQ(&voice_allocate(synth), &synth.voices[7]);
}

// Program 50 splits the kit: up to note 59 the bass drum, above it the snare.
TEST(Synth, DrumKitSplit) {
    for (int note : {59, 60}) {
        auto player = make_player();
        player->synth.channels[9].program = 50;
        synth_note_on(player->synth, 9, note, 100);
        EXPECT_EQ(player->synth.voices[0].pending_pitch_note, note == 59 ? 38 : 140) << note;
    }
}

TEST(Synth, EndOfSongIsReportedByTheBlockThatReachesIt) {
    auto empty = make_player();
    empty->active = true;
    std::vector<int16_t> out(2048, 7);
    EXPECT_FALSE(synth_render(*empty, out.data(), 32) || empty->active);
    EXPECT_EQ(out[0], 7) << "nothing to play: nothing written";
    // A releasing voice keeps the song alive past its length until it is freed; the block
    // that frees it at the length itself finishes the song.
    for (uint64_t length : {20, 2048}) {
        auto player = make_player();
        add_events(player->song, {{0, 0x90, 60, 100}, {10, 0x80, 60, 0}});
        player->song.length_frames = length;
        player->active = true;
        EXPECT_TRUE(synth_render(*player, out.data(), 1024) && player->active);
        EXPECT_TRUE(synth_render(*player, out.data(), 1024)) << "the release ends in this one";
        EXPECT_FALSE(player->active) << length;
        EXPECT_FALSE(synth_render(*player, out.data(), 1024));
    }
}

// Moving the generator on without drawing, and looking ahead, give what drawing gives: across
// the ring's edges (3, 31, 34 words) and far beyond.
TEST(Synth, NoiseSkipAndPeekMatchDrawing) {
    NoiseGenerator start;
    for (int i = 0; i < 5; ++i) // off the ring's first slot
        start.next();
    for (uint64_t draws : {0, 1, 2, 3, 30, 31, 33, 34, 35, 1000, 123457}) {
        NoiseGenerator drawn = start;
        int32_t last = -1;
        for (uint64_t i = 0; i < draws; ++i)
            last = drawn.next();
        auto plan = std::make_unique<NoiseGenerator::Skip>();
        NoiseGenerator::plan_skip(draws, *plan);
        NoiseGenerator skipped = start;
        skipped.skip(*plan);
        EXPECT_TRUE(skipped == drawn) << draws;
        if (draws > 0) {
            EXPECT_EQ(start.peek(NoiseGenerator::leap(draws)), last) << draws;
        }
    }
}

// ---- dispatch ---------------------------------------------------------------------------------

TEST(Dispatch, BendRangeRoundingAndResetAllControllers) {
    auto player = make_player();
    Song song;
    const uint32_t events[][4] = {
        {0, 0x91, 60, 127},    {0, 0xB0, 6, 5},       // no parameter selected: ignored
        {1, 0xE0, 0x7F, 0x7F}, {1, 0xE9, 0x7F, 0x7F}, // 8191 at range 2: 199.98; drums: ignored
        {2, 0xB0, 101, 0},     {2, 0xB0, 100, 0},     {2, 0xB0, 6, 1},   {2, 0xB0, 6, 25}, // > 24
        {3, 0xE0, 0, 72},      {4, 0xB0, 100, 1},     {4, 0xB0, 6, 12}, // fine tuning: no range
        {4, 0xE0, 0, 56},      {5, 0xB1, 7, 30},      {5, 0xB1, 121, 0}, {5, 0xB0, 100, 0},
        {5, 0xB0, 6, 24},      {5, 0xE0, 0x7F, 0x7F}, {6, 0xB0, 121, 0}};
    add_events(song, events);
    install(*player, std::move(song));
    const ChannelState& ch = player->synth.channels[0];
    // +-1024 at range 1 is +-12.5 cents; reset all controllers drops the bend, keeps the range.
    const int32_t expected[][3] = {{1, 2, 200}, {2, 1, 200},   {3, 1, 13},
                                   {4, 1, -13}, {5, 24, 2400}, {6, 24, 0}};
    for (const auto& [frame, range, cents] : expected) {
        dispatch_events(*player, uint64_t(frame));
        EXPECT_EQ(std::pair(ch.bend_range, ch.bend_cents), std::pair(range, cents)) << frame;
    }
    EXPECT_EQ(player->synth.channels[9].bend_cents, 0);
    EXPECT_EQ(player->synth.channels[1].volume, 30) << "121 keeps the volume";
    EXPECT_EQ(first_voice(*player, 1)->pending_expression, 127) << "deferred to the voice";
}

// Rhythm part 0 is channel 10, parts 1-9 channels 1-9, part 10 channel 11.
TEST(Dispatch, SysExRhythmParts) {
    auto player = make_player();
    Song song;
    for (uint8_t part : {0x11, 0x19, 0x1A, 0x10})
        add_sysex(song, 0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, part, 0x15, part != 0x10, 0, 0xF7});
    add_sysex(song, 0, {0xF0, 0x41, 0x11, 0x42, 0x12, 0x40, 0x12, 0x15, 0x01, 0x00}); // device 17
    install(*player, std::move(song));
    dispatch_events(*player, 0);
    std::string drums;
    for (const ChannelState& ch : player->synth.channels)
        drums += ch.drum != 0 ? 'D' : '-';
    EXPECT_EQ(drums, "D-------D-D-----");
}

// ---- transport --------------------------------------------------------------------------------

// 14 s at 44100 Hz: volume and a short note at 0, one note from 5 s to 10 s, channel 1 volume
// changes at 1 s and 8 s; fraction 0.5 is exactly 7 s.
std::unique_ptr<Player> seek_player() {
    auto player = make_player();
    Song song;
    const uint32_t events[][4] = {
        {0, 0xB0, 7, 50},        {0, 0x92, 60, 100},    {20000, 0x82, 60, 0}, {44100, 0xB1, 7, 30},
        {220500, 0x90, 60, 100}, {352800, 0xB1, 7, 90}, {441000, 0x80, 60, 0}};
    add_events(song, events);
    install(*player, std::move(song));
    return player;
}

TEST(Transport, PlayResumesAPausedSongInPlace) {
    auto player = seek_player();
    start_playback(*player);
    render(*player, 3000);
    toggle_pause(*player);
    start_playback(*player);
    EXPECT_EQ(player->position, 3000u);
    EXPECT_TRUE(player->active && !player->paused);
}

// The rules themselves are the action table's (tests/test_input.cpp); here what Play keeps of
// the synthesizer, and an end that comes before the song's length.
TEST(Transport, PlayAfterAStoppedSeekKeepsItsNotesAndAfterTheEndStartsFromTheTop) {
    auto player = seek_player();
    seek_fraction(*player, 0.5);
    start_playback(*player);
    EXPECT_EQ(player->position, 308700u);
    ASSERT_NE(first_voice(*player, 0), nullptr);
    EXPECT_EQ(first_voice(*player, 0)->age, 22050u) << "the seek's pre-roll, not reset";
    while (player->active)
        render(*player, 4096);
    EXPECT_STREQ(player->status_text, "Finished");
    EXPECT_LT(player->position, player->song.length_frames) << "silence after the last note";
    start_playback(*player);
    EXPECT_EQ(player->position, 0u);
    EXPECT_EQ(first_voice(*player, 0), nullptr);
}

TEST(Transport, SeekRebuildsControllersAndSoundingNotes) {
    auto player = seek_player();
    start_playback(*player);
    seek_fraction(*player, 0.5);
    EXPECT_EQ(player->synth.channels[1].volume, 30) << "a change before the target is in force";
    ASSERT_NE(first_voice(*player, 0), nullptr);
    EXPECT_EQ(first_voice(*player, 0)->age, 22050u) << "only the pre-roll advanced the note";
    seek_fraction(*player, 0.05); // backwards, before the change: rebuilt from the start
    EXPECT_EQ(player->synth.channels[1].volume, 100);
    EXPECT_EQ(first_voice(*player, 0), nullptr);
    seek_frame(*player, 10000); // inside the first half second: pre-roll from frame 0
    ASSERT_NE(first_voice(*player, 2), nullptr);
    EXPECT_EQ(first_voice(*player, 2)->age, 10000u) << "events at frame 0 applied, then rendered";
}

TEST(Transport, SeekKeepsThePauseAndTakesNaNAsTheStart) {
    auto player = seek_player();
    start_playback(*player);
    render(*player, 3000);
    toggle_pause(*player);
    seek_fraction(*player, std::nan(""));
    EXPECT_TRUE(player->active && player->paused);
    EXPECT_EQ(player->position, 0u);
}

TEST(Transport, PositionStatusSaysTheTime) {
    auto player = seek_player();
    seek_fraction(*player, 0.5);
    EXPECT_STREQ(player->status_text, "Position: 0:07 of 0:14");
    seek_to_frame(*player, 44100 * 3 - 1);
    EXPECT_STREQ(player->status_text, "Position: 0:02 of 0:14") << "a second counts once passed";
    const std::pair<double, const char*> clocks[] = {{0, "0:00"},       {65.9, "1:05"},
                                                     {3723, "1:02:03"}, {-1, "0:00"},
                                                     {NAN, "0:00"},     {1e300, "999:59:59"}};
    for (const auto& [seconds, shown] : clocks)
        EXPECT_STREQ(clock_text(seconds).text, shown) << seconds;
}

// Drums all along (a ride's noise value lasts some samples); channel 1 plays user wave 6, which is
// uploaded only at 3.3 s, long after the seek target; channel 0 plays wave 5, uploaded at 0.
Song interleave_song() {
    Song song;
    add_sysex(song, 0, {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF0, 0x00, 0x00, 0x01, 0xF7});
    for (auto [slot, time] : {std::pair(5, 0), std::pair(6, 145530)}) {
        std::vector<uint8_t> upload = {0xF0, 0x77, 0x10, 0x42, 0x12, 0xF1, uint8_t(slot), 0x00};
        for (int i = 0; i < kWaveLength; ++i)
            upload.push_back(uint8_t((i < 16) == (slot == 5) ? 0x60 : 0xA0));
        upload.push_back(0xF7);
        add_sysex(song, uint64_t(time), upload);
    }
    const uint32_t programs[][4] = {{0, 0xC0, 5, 0}, {0, 0xC1, 6, 0}};
    add_events(song, programs);
    for (uint32_t k = 0; k < 160; ++k) {
        const uint32_t hats[][4] = {{k * 2205, 0x99, 38u + k % 3 * 2, 100},
                                    {k * 2205, 0x99, 51, 90}};
        add_events(song, hats);
        if (k % 10 == 0) {
            const uint32_t notes[][4] = {{k * 2205, 0x90, 60 + k % 12, 100},
                                         {k * 2205 + 20000, 0x80, 60 + k % 12, 0},
                                         {k * 2205, 0x91, 48 + k % 7, 100},
                                         {k * 2205 + 20000, 0x81, 48 + k % 7, 0}};
            add_events(song, notes);
        }
    }
    std::stable_sort(song.events.begin(), song.events.end(),
                     [](const MidiEvent& a, const MidiEvent& b) { return a.time < b.time; });
    return song;
}

// The audio callback takes the lock and plays on while the pre-roll renders; the swap then
// gives what one locked seek at that moment gives: the audio thread's noise draws and the
// wave it uploaded meanwhile stay, the mute set meanwhile stays.
TEST(Seek, PreRollRendersWhileTheCallbackPlaysOn) {
    auto phased = make_player();
    auto locked = make_player();
    for (Player* player : {phased.get(), locked.get()}) {
        install(*player, interleave_song());
        start_playback(*player);
        render(*player, 3 * 44100); // the old place
    }
    auto job = std::make_unique<SeekJob>();
    {
        std::lock_guard guard(phased->lock);
        seek_begin(*phased, 44600, true, *job); // inside a ride
    }
    std::vector<int16_t> meanwhile;
    {
        // Held across the pre-roll, as a long callback would.
        std::unique_lock callback(phased->lock);
        meanwhile = render(*phased, 22050);
        seek_render(*job);
        const std::vector<int16_t> more = render(*phased, 22050);
        meanwhile.insert(meanwhile.end(), more.begin(), more.end());
        phased->synth.channels[0].mute = 1;
    }
    EXPECT_GT(phased->noise.drawn(), job->noise_start) << "the callback drew noise meanwhile";
    {
        std::lock_guard guard(phased->lock);
        ASSERT_TRUE(seek_finish(*phased, *job));
    }
    std::vector<int16_t> old_place = render(*locked, 22050);
    const std::vector<int16_t> more = render(*locked, 22050);
    old_place.insert(old_place.end(), more.begin(), more.end());
    EXPECT_EQ(old_place, meanwhile) << "the callback played the old place on";
    locked->synth.channels[0].mute = 1;
    seek_frame(*locked, 44600);

    EXPECT_NE(phased->synth.custom_wave_bank[6][0], 0) << "the upload of the old place stays";
    EXPECT_EQ(phased->position, locked->position);
    EXPECT_EQ(phased->cursor, locked->cursor);
    EXPECT_TRUE(phased->noise == locked->noise);
    EXPECT_EQ(render(*phased, 2 * 44100), render(*locked, 2 * 44100));
}

// A song installed or released between the copy and the swap drops the seek's result.
TEST(Seek, ASongReplacedMeanwhileDropsTheSeek) {
    const std::vector<uint8_t> bytes = song_gen::melodic_song();
    for (bool reload : {true, false}) {
        auto player = make_player();
        install(*player, interleave_song());
        start_playback(*player);
        auto job = std::make_unique<SeekJob>();
        seek_begin(*player, 3 * 44100, true, *job);
        seek_render(*job);
        if (reload)
            ASSERT_TRUE(load_song_from_memory(*player, bytes.data(), bytes.size()));
        else
            synth_init(*player, 44100);
        EXPECT_FALSE(seek_finish(*player, *job));
        EXPECT_EQ(player->position + player->cursor, 0u) << reload;
        EXPECT_FALSE(first_voice(*player, 0) || first_voice(*player, 9)) << reload;
    }
}

// ---- the demo song ----------------------------------------------------------------------------

// Change on purpose together with resources/demo/final-bowser.score or make_song.py.
TEST(DemoSong, GeneratedFileIsTheScoresAndShowsTheSynthesizer) {
    const std::string path = VELTA_BINARY_DIR "/share/velta/final-bowser.mid";
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(fnv1a(bytes.data(), bytes.size()), 0xce0a87512ebc0a44ull) << path;
    auto player = make_player();
    ASSERT_TRUE(load_song(*player, path.c_str())) << player->status_text;
    const Song& song = player->song;
    EXPECT_GE(song.tempo_map.size(), 3u) << "no tempo change";
    std::string seen;
    for (const MidiEvent& e : song.events) {
        const uint8_t* data = song_event_sysex(song, e);
        if (data != nullptr && e.sysex_length >= 9 &&
            std::memcmp(data, "\xF0\x77\x10\x42\x12", 5) == 0)
            seen += data[5] == 0xF1 ? 'U' : data[8] == 1 ? 'O' : 'o';
        if (e.status == 0x99 && e.data2 > 0) seen += 'D';
        if ((e.status & 0xF0) == 0xE0) seen += 'B';
    }
    for (char feature : std::string("UOoDB")) // upload, mode on/off, drums, bend
        EXPECT_NE(seen.find(feature), std::string::npos) << feature;
}
