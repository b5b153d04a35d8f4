// The window's snapshot and painting, without a display: frames are painted into image surfaces
// and probed. The test atlas encodes each pixel's own position in its colour, so a probe tells
// which atlas frame landed where.
#include <glib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sequencer/draw_snapshot.h"
#include "synth/synth.h"
#include "ui/draw.h"
#include "ui/layout.h"

namespace {

using layout::Point;

struct Surface {
    cairo_surface_t* surface;
    Surface(int width, int height)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)) {}
    ~Surface() { cairo_surface_destroy(surface); }
    uint32_t* row(int y) const {
        cairo_surface_flush(surface);
        return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface) +
                                           y * cairo_image_surface_get_stride(surface));
    }
};

constexpr uint32_t rgb(int red, int green, int blue) {
    return 0xFF000000u | (red << 16) | (green << 8) | blue;
}
constexpr uint32_t kPanel = rgb(223, 130, 95), kPlayed = rgb(178, 89, 63);
constexpr uint32_t kLight = rgb(255, 210, 162);
// The test atlas's colour at atlas position (x, y).
constexpr uint32_t coded(int x, int y) {
    return rgb(x & 255, (x >> 8) | ((y & 63) << 2), y >> 6);
}
constexpr uint32_t frame(Point origin, int step, int n) {
    return coded(origin.x + step * n, origin.y);
}
constexpr uint32_t digit(int n) {
    return frame(layout::kDigitOrigin, layout::kDigitStep, n);
}
constexpr uint32_t indicator(int n) {
    return frame(layout::kIndicatorOrigin, 34, n);
}

const Surface& coded_atlas() {
    static Surface atlas(layout::kAtlasWidth, layout::kAtlasHeight);
    for (int y = 0; y < layout::kAtlasHeight; ++y) {
        for (int x = 0; x < layout::kAtlasWidth; ++x)
            atlas.row(y)[x] = coded(x, y);
    }
    cairo_surface_mark_dirty(atlas.surface);
    return atlas;
}

std::unique_ptr<Surface> paint(const DrawSnapshot& snapshot, DrawImages images, int width = 640,
                               int height = 470) {
    auto frame = std::make_unique<Surface>(width, height);
    cairo_t* cr = cairo_create(frame->surface);
    paint_frame(cr, width, height, snapshot, images);
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    cairo_destroy(cr);
    return frame;
}

} // namespace

TEST(DrawSnapshotTest, TickAndTempoFromTheTempoMap) {
    Song song;
    song.rate = 44100;
    song.division = 480;
    song.length_frames = 441000;
    song.tempo_map = {{0, 0, 500000}, {88200, 1920, 250000}};
    Song zero_tempo = song, no_rate = song;
    zero_tempo.tempo_map = {{1000, 7, 0}};
    no_rate.rate = 0;
    const struct {
        const Song* song;
        double position, tick, bpm;
    } cases[] = {
        {&song, 22050, 480, 120},       {&song, 99225, 2400, 240},  {&song, 1e12, 17280, 240},
        {&zero_tempo, 500, 7, 120},     {&zero_tempo, 23050, 487, 120}, // tempo 0 counts as 120
        {&no_rate, 22050, 0, 0},
    };
    for (const auto& c : cases) {
        const TickAndTempo now = tick_and_tempo_at(*c.song, c.position);
        EXPECT_EQ(now.tick, c.tick) << c.position;
        EXPECT_DOUBLE_EQ(now.tempo_bpm, c.bpm) << c.position;
    }
}

TEST(DrawSnapshotTest, ValuesAreLimitedToWhatTheWindowShows) {
    auto player = std::make_unique<Player>();
    Player& p = *player;
    synth_init(p, 44100);
    p.song.division = 1200;
    ChannelState& melodic = p.synth.channels[0];
    melodic.program = 130;
    melodic.volume = 200;
    melodic.pan = -5;
    melodic.bend = 9000;
    p.synth.channels[1].bend = -9000;
    p.synth.channels[9].drum = 5;
    for (int i = 0; i < 8; ++i) { // eight voices on channel 0 (one stray), the last one loud
        Voice& voice = p.synth.voices[i];
        voice.active = 1;
        voice.channel = i == 7 ? 16 : 0;
        voice.env_level = i == 6 ? kEnvFullLevel : 0;
        voice.level = 126.6f;
        voice.frequency = i == 6 ? 440.4f : 1e9f;
    }
    DrawSnapshot snapshot;
    take_draw_snapshot(p, snapshot);
    ASSERT_TRUE(p.lock.try_lock()) << "the lock was left held";
    p.lock.unlock();

    const ChannelView& view = snapshot.channels[0];
    EXPECT_EQ(view.program, 2);
    EXPECT_EQ(view.volume, 127);
    EXPECT_EQ(view.pan, 0);
    EXPECT_EQ(view.bend, 8191);
    EXPECT_EQ(snapshot.channels[1].bend, -8192);
    EXPECT_EQ(view.voice_count, 6);
    EXPECT_EQ(view.level, (127 * 127 * 127) >> 14);
    EXPECT_EQ(view.frequency, 440);
    EXPECT_EQ(snapshot.division_shown, 999);
    const int wave = p.synth.set_table[p.synth.instrument_set][2] & 127;
    EXPECT_EQ(0, std::memcmp(view.wave, p.synth.wave_bank_bytes[wave], sizeof view.wave));
    const int8_t silent[kWaveLength] = {};
    EXPECT_EQ(0, std::memcmp(snapshot.channels[9].wave, silent, kWaveLength)) << "drums";

    // With uploaded waves a sounding voice shows its own wave, not its program's.
    SynthState& synth = p.synth;
    synth.custom_wave_mode = synth.custom_waves_present = 1;
    synth.custom_wave_bytes[2][0] = 11;
    synth.custom_wave_bytes[40][0] = 99;
    take_draw_snapshot(p, snapshot);
    EXPECT_EQ(snapshot.channels[0].wave[0], 11);
    synth.voices[6].wave = synth.custom_wave_bank[40];
    take_draw_snapshot(p, snapshot);
    EXPECT_EQ(snapshot.channels[0].wave[0], 99);
}

TEST(DrawPaint, SpritesDigitsBarsAndWaves) {
    using Tweak = void (*)(DrawSnapshot&);
    struct Probe {
        int x, y;
        uint32_t colour;
    };
    struct Case {
        const char* what;
        Tweak tweak;
        std::vector<Probe> probes;
        bool atlas = true;
    };
    // clang-format off
    const Case cases[] = {
        {"counters", [](DrawSnapshot& s) { s.tick = 1234567; s.bpm_shown = 87; s.division_shown = 480; },
         {{63, 446, digit(0)}, {81, 446, digit(1)}, {129, 446, digit(7)}, {170, 446, digit(8)},
          {176, 446, digit(7)}, {203, 446, digit(4)}, {215, 446, digit(0)}}},
        {"program, bank, voices and frequency", [](DrawSnapshot& s) {
             s.channels[1].program = 127; s.channels[1].bank = 1234; s.channels[1].voice_count = 6;
             s.channels[1].frequency = 12345; },
         {{112, 171, digit(1)}, {124, 171, digit(8)}, {76, 171, digit(0)}, {88, 171, digit(1)},
          {124, 182, digit(9)}, {113, 74, frame(layout::kVoiceCountOrigin, 18, 6)},
          {77, 74, frame(layout::kVoiceCountOrigin, 18, 0)}, {100, 212, digit(1)},
          {124, 212, digit(5)}, {64, 212, digit(0)}}},
        {"bend and pan", [](DrawSnapshot& s) {
             s.channels[0].pan = 64; s.channels[1].bend = 8191; s.channels[1].pan = 127;
             s.channels[2].bend = -8192; },
         {{61, 147, indicator(8)}, {61, 158, indicator(8)}, {97, 147, indicator(16)},
          {97, 158, indicator(16)}, {133, 147, indicator(0)}, {133, 158, indicator(0)}}},
        {"mute and stop lamps", [](DrawSnapshot& s) { s.channels[2].mute = 1; },
         {{133, 72, coded(layout::kMutedSprite.x, layout::kMutedSprite.y)},
          {61, 72, coded(layout::kUnmutedSprite.x, layout::kUnmutedSprite.y)},
          {212, 42, coded(layout::kLitStopSprite.x, layout::kLitStopSprite.y)}}},
        // Text that is not UTF-8 must neither break the text nor anything drawn after it.
        {"playing past the end", [](DrawSnapshot& s) {
             s.active = 1; s.position = 5000; s.length = 1000; s.tick = 5;
             std::strcpy(s.song_path, "/x/\xff\xfe\xe2\x82.mid");
             std::strcpy(s.status_text, "Could not open \xe2\x82"); },
         {{132, 42, coded(layout::kLitPlaySprite.x, layout::kLitPlaySprite.y)},
          {420, 58, kLight}, {62, 430, kPlayed}, {297, 430, kPlayed}, {129, 446, digit(5)}}},
        // The played part ends on the last whole pixel the position reaches: 59.236 of 236.
        {"seek bar part played", [](DrawSnapshot& s) { s.position = 251; s.length = 1000; },
         {{120, 430, kPlayed}, {121, 430, kPanel}}},
        {"waves, no atlas", [](DrawSnapshot& s) {
             s.tick = 5; s.channels[0].wave[0] = 127; s.channels[0].wave[1] = -128;
             s.channels[0].wave[2] = 16; },
         {{2, 2, kPanel}, {129, 446, kPanel}, {62, 192, kPanel}, {62, 193, kLight},
          {62, 200, kLight}, {62, 201, kPanel}, {63, 199, kPanel}, {63, 200, kLight},
          {63, 207, kLight}, {63, 208, kPanel}, {64, 199, kPanel}, {64, 200, kLight},
          {64, 201, kPanel}}, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        DrawSnapshot snapshot;
        c.tweak(snapshot);
        const auto painted = paint(snapshot, {nullptr, c.atlas ? coded_atlas().surface : nullptr});
        for (const Probe& p : c.probes)
            EXPECT_EQ(painted->row(p.y)[p.x], p.colour) << c.what << " at " << p.x << ", " << p.y;
    }
    // A skin is painted scaled and centred.
    Surface skin(640, 470);
    cairo_t* cr = cairo_create(skin.surface);
    cairo_set_source_rgb(cr, 0, 0, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
    const auto large = paint(DrawSnapshot{}, {skin.surface, nullptr}, 1920, 1000);
    EXPECT_EQ(large->row(500)[278], 0u) << "left of the skin stays transparent";
    EXPECT_EQ(large->row(500)[279], rgb(0, 0, 255));
}

TEST(DrawText, CutsOnCharacterBoundaries) {
    const auto width_of = [](std::string_view text) { // 6 units per character
        return 6.0 * g_utf8_strlen(std::string(text).c_str(), -1);
    };
    const struct {
        const char* text;
        double width;
        bool ellipsis;
        const char* shown;
    } cases[] = {
        {"song.mid", 48, false, "song.mid"},
        {"\xc3\xa9t\xc3\xa9.mid", 18, false, "\xc3\xa9t\xc3\xa9"},
        {"Could not open", 30, true, "Coul\xe2\x80\xa6"},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 12, true, "\xe6\x97\xa5\xe2\x80\xa6"},
        {"abc", 5, true, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fit_text(c.text, c.width, width_of, c.ellipsis), c.shown) << c.text;
    EXPECT_EQ(display_file_name("/a/b/song.mid"), "song.mid");
    EXPECT_EQ(display_file_name("/a/b/"), "");
    EXPECT_TRUE(g_utf8_validate(display_file_name("/a/\xff\xfe.mid").c_str(), -1, nullptr));
    EXPECT_EQ(valid_utf8("ok \xe2\x82").rfind("ok \xef\xbf\xbd", 0), 0u);
}
