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

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
Surface image(int width, int height) {
    return {cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), cairo_surface_destroy};
}
uint32_t& at(const Surface& surface, int x, int y) {
    cairo_surface_flush(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface.get()) + y * stride)[x];
}

constexpr uint32_t kPanel = 0xFFDF825F, kPlayed = 0xFFB2593F, kLight = 0xFFFFD2A2;
// The test atlas's colour at its position (x, y), and at frame n of a sprite strip.
constexpr uint32_t coded(layout::Point p, int step = 0, int n = 0) {
    const int x = p.x + step * n;
    return 0xFF000000u | (x & 255) << 16 | ((x >> 8) | ((p.y & 63) << 2)) << 8 | p.y >> 6;
}

Surface paint(const DrawSnapshot& snapshot, DrawImages images) {
    Surface frame = image(640, 470);
    cairo_t* cr = cairo_create(frame.get());
    paint_frame(cr, 640, 470, snapshot, images);
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    cairo_destroy(cr);
    return frame;
}

} // namespace

TEST(DrawSnapshotTest, ValuesAreLimitedToWhatTheWindowShows) {
    auto player = std::make_unique<Player>();
    Player& p = *player;
    synth_init(p, 44100);
    p.song.rate = 44100;
    p.song.division = 1200; // shown as 999
    p.song.length_frames = 441000;
    p.song.tempo_map = {{0, 0, 500000}, {88200, 4800, 250000}};
    p.position = 1'000'000'000; // beyond the end: the end, 32 beats at 240 after the change
    ChannelState& melodic = p.synth.channels[0];
    melodic.program = 130;
    melodic.volume = 200;
    melodic.pan = -5;
    melodic.bend = 9000;
    p.synth.channels[1].bend = -9000;
    for (int i = 0; i < 8; ++i) // eight voices on channel 0 (one stray), the last one loud
        p.synth.voices[i] = {.active = 1,
                             .channel = i == 7 ? 16 : 0,
                             .frequency = i == 6 ? 440.4f : 1e9f,
                             .level = 126.6f,
                             .env_level = i == 6 ? kEnvFullLevel : 0};
    DrawSnapshot shot;
    take_draw_snapshot(p, shot);
    ASSERT_TRUE(p.lock.try_lock()) << "the lock was left held";
    p.lock.unlock();
    const ChannelView& view = shot.channels[0];
    EXPECT_EQ(std::vector<int>({view.program, view.volume, view.pan, view.bend,
                                shot.channels[1].bend, view.voice_count, view.level, view.frequency,
                                shot.division_shown, int(shot.tick), shot.bpm_shown}),
              std::vector<int>(
                  {2, 127, 0, 8191, -8192, 6, (127 * 127 * 127) >> 14, 440, 999, 43200, 240}));
    const int wave = p.synth.set_table[p.synth.instrument_set][2] & 127;
    EXPECT_EQ(0, std::memcmp(view.wave, p.synth.wave_bank_bytes[wave], kWaveLength));
    // In user-waveform mode the strip shows the wave a sounding voice plays, not its program's.
    p.synth.custom_wave_mode = p.synth.custom_waves_present = 1;
    p.synth.channels[2].program = 5;
    p.synth.custom_wave_bytes[9][3] = 77;
    p.synth.voices[10] = {.active = 1, .channel = 2, .wave = p.synth.custom_wave_bank[9]};
    take_draw_snapshot(p, shot);
    EXPECT_EQ(0, std::memcmp(shot.channels[2].wave, p.synth.custom_wave_bytes[9], kWaveLength));
}

TEST(DrawPaint, SpritesDigitsBarsAndWaves) {
    const Surface atlas = image(layout::kAtlasWidth, layout::kAtlasHeight);
    for (int y = 0; y < layout::kAtlasHeight; ++y) {
        for (int x = 0; x < layout::kAtlasWidth; ++x)
            at(atlas, x, y) = coded({x, y});
    }
    cairo_surface_mark_dirty(atlas.get());
    const auto digit = [](int n) { return coded(layout::kDigitOrigin, layout::kDigitStep, n); };
    const auto indicator = [](int n) { return coded(layout::kIndicatorOrigin, 34, n); };
    const auto voices = [](int n) { return coded(layout::kVoiceCountOrigin, 18, n); };
    // 59.236 of 236 pixels: the played part of the seek bar ends on the last whole one.
    DrawSnapshot stopped = {
        .position = 251, .length = 1000, .tick = 1234567, .bpm_shown = 87, .division_shown = 480};
    ChannelView* channels = stopped.channels;
    channels[0].pan = 64;
    std::memcpy(channels[0].wave, "\x7f\x80\x10", 3);
    // clang-format off
    channels[1] = {.program = 127, .bank = 1234, .pan = 127, .bend = 8191, .frequency = 12345,
                   .voice_count = 6};
    // clang-format on
    channels[2].bend = -8192;
    channels[2].mute = 1;
    DrawSnapshot playing = {.position = 5000, .length = 1000, .tick = 5, .active = 1};
    // Text that is not UTF-8 must neither break the text nor anything drawn after it.
    std::strcpy(playing.song_path, "/x/\xff\xfe\xe2\x82.mid");
    std::strcpy(playing.status_text, "Could not open \xe2\x82");
    struct Probe {
        int x, y;
        uint32_t colour;
    };
    // clang-format off
    const std::vector<Probe> stopped_probes = {
        {63, 446, digit(0)}, {81, 446, digit(1)}, {129, 446, digit(7)}, {170, 446, digit(8)}, // counters
        {176, 446, digit(7)}, {203, 446, digit(4)}, {215, 446, digit(0)}, {112, 171, digit(1)},
        {124, 171, digit(8)}, {88, 171, digit(1)}, {124, 182, digit(9)}, {113, 74, voices(6)},
        {77, 74, voices(0)}, {100, 212, digit(1)}, {124, 212, digit(5)}, {64, 212, digit(0)},
        {61, 147, indicator(8)}, {97, 147, indicator(16)}, {97, 158, indicator(16)}, {133, 147, indicator(0)},
        {133, 72, coded(layout::kMutedSprite)}, {61, 72, coded(layout::kUnmutedSprite)},
        {212, 42, coded(layout::kLitStopSprite)}, {120, 430, kPlayed}, {121, 430, kPanel},
        {62, 192, kPanel}, {62, 193, kLight}, {63, 208, kPanel}, {64, 199, kPanel}, {64, 200, kLight}}; // waves
    const std::vector<Probe> playing_probes = {
        {132, 42, coded(layout::kLitPlaySprite)}, {420, 58, kLight}, {62, 430, kPlayed},
        {297, 430, kPlayed}, {129, 446, digit(5)}};
    // clang-format on
    for (const auto& [snapshot, probes] :
         {std::pair{&stopped, &stopped_probes}, {&playing, &playing_probes}}) {
        const Surface painted = paint(*snapshot, {nullptr, atlas.get()});
        for (const Probe& p : *probes)
            EXPECT_EQ(at(painted, p.x, p.y), p.colour) << p.x << ", " << p.y;
    }
    EXPECT_EQ(at(paint(playing, {}), 129, 446), kPanel) << "without images: no digits";
    DrawSnapshot paused = playing;
    paused.paused = 1;
    const Surface painted = paint(paused, {nullptr, atlas.get()});
    EXPECT_EQ(at(painted, 252, 42), coded(layout::kLitPauseSprite));
    EXPECT_NE(at(painted, 132, 42), coded(layout::kLitPlaySprite));
    EXPECT_NE(at(painted, 420, 58), kLight) << "the PLAYING lamp is out while paused";
}

TEST(DrawText, CutsOnCharacterBoundaries) {
    const auto width_of = [](std::string_view text) { // 6 units per character
        return 6.0 * g_utf8_strlen(std::string(text).c_str(), -1);
    };
    // clang-format off
    const struct { const char* text; double width; bool ellipsis; const char* shown; } cases[] = {
        {"\xc3\xa9t\xc3\xa9.mid", 18, false, "\xc3\xa9t\xc3\xa9"}, {"abc", 5, true, ""},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 12, true, "\xe6\x97\xa5\xe2\x80\xa6"}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(fit_text(c.text, c.width, width_of, c.ellipsis), c.shown) << c.text;
    EXPECT_TRUE(g_utf8_validate(display_file_name("/a/\xff\xfe.mid").c_str(), -1, nullptr));
    EXPECT_EQ(valid_utf8("ok \xe2\x82").rfind("ok \xef\xbf\xbd", 0), 0u);
}
