// The window's snapshot and painting, without a display: frames are painted into image surfaces
// and probed. The test atlas encodes each pixel's own position in its colour, so a probe tells
// which atlas frame landed where.
#include <glib.h>
#include <gtest/gtest.h>

#include <cmath>
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

constexpr uint32_t kPanel = 0xFFDF825F, kLight = 0xFFFFD2A2, kAmber = 0xFFFFB058,
                   kFace = 0xFF18181C;
// The test atlas's colour at its position (x, y), and at frame n of a sprite strip.
constexpr uint32_t coded(layout::Point p, int step = 0, int n = 0) {
    const int x = p.x + step * n;
    return 0xFF000000u | (x & 255) << 16 | ((x >> 8) | ((p.y & 63) << 2)) << 8 | p.y >> 6;
}

Surface paint(const DrawSnapshot& snapshot, DrawImages images, const FrameText& text = {}) {
    Surface frame = image(640, 470);
    cairo_t* cr = cairo_create(frame.get());
    paint_frame(cr, 640, 470, snapshot, images, text);
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

Surface coded_atlas() {
    Surface atlas = image(layout::kAtlasWidth, layout::kAtlasHeight);
    for (int y = 0; y < layout::kAtlasHeight; ++y) {
        for (int x = 0; x < layout::kAtlasWidth; ++x)
            at(atlas, x, y) = coded({x, y});
    }
    cairo_surface_mark_dirty(atlas.get());
    return atlas;
}

struct Probe {
    int x, y;
    uint32_t colour;
};

void expect_probes(const Surface& painted, const std::vector<Probe>& probes,
                   const std::string& what) {
    for (const Probe& p : probes)
        EXPECT_EQ(at(painted, p.x, p.y), p.colour) << what << " at " << p.x << ", " << p.y;
}

// Pixels in a band that differ from `ground`: where text was drawn.
int inked(const Surface& painted, layout::Rect band, uint32_t ground) {
    int count = 0;
    for (int y = band.y; y < band.y + band.height; ++y) {
        for (int x = band.x; x < band.x + band.width; ++x)
            count += at(painted, x, y) != ground;
    }
    return count;
}

TEST(DrawPaint, SpritesDigitsBarsAndWaves) {
    const Surface atlas = coded_atlas();
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
    // clang-format off
    const std::vector<Probe> stopped_probes = {
        {63, 446, digit(0)}, {75, 446, digit(1)}, {84, 446, digit(2)}, {117, 446, digit(7)}, // counters
        {170, 446, digit(8)},
        {176, 446, digit(7)}, {203, 446, digit(4)}, {215, 446, digit(0)}, {112, 171, digit(1)},
        {124, 171, digit(8)}, {88, 171, digit(1)}, {124, 182, digit(9)}, {113, 74, voices(6)},
        {77, 74, voices(0)}, {100, 212, digit(1)}, {124, 212, digit(5)}, {64, 212, digit(0)},
        {61, 147, indicator(8)}, {97, 147, indicator(16)}, {97, 158, indicator(16)}, {133, 147, indicator(0)},
        {133, 72, coded(layout::kMutedSprite)}, {61, 72, coded(layout::kUnmutedSprite)},
        {212, 42, coded(layout::kLitStopSprite)}, {120, 430, kLight}, {121, 430, kPanel},
        {62, 192, kPanel}, {62, 193, kLight}, {63, 208, kPanel}, {64, 199, kPanel}, {64, 200, kLight}}; // waves
    const std::vector<Probe> playing_probes = {
        {132, 42, coded(layout::kLitPlaySprite)}, {460, 58, kLight}, {62, 430, kLight},
        {297, 430, kLight}, {117, 446, digit(5)}};
    // clang-format on
    expect_probes(paint(stopped, {nullptr, atlas.get()}), stopped_probes, "stopped");
    expect_probes(paint(playing, {nullptr, atlas.get()}), playing_probes, "playing");
    EXPECT_EQ(at(paint(playing, {}), 117, 446), kPanel) << "without images: no digits";
    DrawSnapshot paused = playing;
    paused.paused = 1;
    const Surface painted = paint(paused, {nullptr, atlas.get()});
    EXPECT_EQ(at(painted, 252, 42), coded(layout::kLitPauseSprite));
    EXPECT_NE(at(painted, 132, 42), coded(layout::kLitPlaySprite));
    EXPECT_NE(at(painted, 460, 58), kLight) << "the PLAYING lamp is out while paused";
}

// The clock right-aligns the elapsed time before the slash and starts the total after it.
TEST(DrawPaint, ClockVolumeAndToggles) {
    const Surface atlas = coded_atlas();
    const auto digit = [](int n) { return coded(layout::kClockDigitOrigin, 12, n); };
    const uint32_t colon = coded(layout::kClockColonSprite);
    DrawSnapshot shot = {.length = 44100 * 3723.9, .rate = 44100};
    FrameText text;
    text.volume = 0.5;
    text.repeat = 2;
    text.shuffle = true;
    const struct {
        double seconds;
        std::vector<Probe> probes;
    } clocks[] = {
        {0, {{354, 262, digit(0)}, {366, 262, colon}, {372, 262, digit(0)}, {384, 262, digit(0)}}},
        {65.5,
         {{354, 262, digit(1)}, {366, 262, colon}, {372, 262, digit(0)}, {384, 262, digit(5)}}},
        {3723,
         {{324, 262, digit(1)},
          {336, 262, colon},
          {342, 262, digit(0)},
          {354, 262, digit(2)},
          {366, 262, colon},
          {372, 262, digit(0)},
          {384, 262, digit(3)}}}};
    for (const auto& clock : clocks) {
        shot.position = clock.seconds * 44100;
        expect_probes(paint(shot, {nullptr, atlas.get()}, text), clock.probes,
                      std::to_string(clock.seconds) + " s");
    }
    expect_probes(paint(shot, {nullptr, atlas.get()}, text),
                  {{402, 262, coded(layout::kClockSlashSprite)},
                   {420, 262, digit(1)},
                   {432, 262, colon},
                   {480, 262, digit(3)}, // the total, 1:02:03
                   {534, 262, kPanel},
                   {546, 262, digit(5)},
                   {558, 262, digit(0)},
                   {570, 262, coded(layout::kClockPercentSprite)},
                   {576, 280, kAmber},
                   {577, 280, kPanel}, // volume 50 %, the meter lit to half its 86 units
                   {214, 241, coded(layout::kRepeatOrigin, 44, 2)},
                   {260, 241, coded(layout::kShuffleOrigin, 44, 1)}},
                  "total, volume and toggles");
    EXPECT_EQ(at(paint({}, {nullptr, atlas.get()}), 354, 262), kPanel) << "no song, no clock";
}

// The words cover the keys' place with the display's face and show two lines; without words
// the place is left to the skin.
TEST(DrawPaint, LyricLines) {
    const layout::Rect lyric_band = {layout::kLyricBaseline.x, layout::kLyricBaseline.y - 12, 292,
                                     15};
    const layout::Rect next_band = {layout::kNextLyricBaseline.x, layout::kNextLyricBaseline.y - 10,
                                    292, 13};
    FrameText words;
    words.lyric = "Twinkle, twinkle";
    words.lyric_sung = 8;
    words.next_lyric = "little star";
    words.has_words = true;
    const Surface sung = paint({}, {}, words);
    EXPECT_EQ(at(sung, layout::kWordsArea.x, layout::kWordsArea.y), kFace);
    EXPECT_GT(inked(sung, lyric_band, kFace), 40);
    EXPECT_GT(inked(sung, next_band, kFace), 20);
    words.lyric = "\xe3\x81\x8d\xe3\x82\x89\xe3\x81\x8d\xe3\x82\x89"; // any script
    words.next_lyric.clear();
    const Surface other = paint({}, {}, words);
    EXPECT_EQ(inked(other, next_band, kFace), 0);
    words.has_words = false;
    EXPECT_EQ(at(paint({}, {}, words), layout::kWordsArea.x, layout::kWordsArea.y), kPanel);
}

TEST(DrawText, NamesAreValidText) {
    EXPECT_TRUE(g_utf8_validate(display_file_name("/a/\xff\xfe.mid").c_str(), -1, nullptr));
    EXPECT_EQ(valid_utf8("ok \xe2\x82").rfind("ok \xef\xbf\xbd", 0), 0u);
}

namespace {

// A skin whose every pixel has its own colour, so a probe tells which skin pixel landed where.
Surface coded_skin() {
    Surface skin = image(layout::kSkinWidth, layout::kSkinHeight);
    for (int y = 0; y < layout::kSkinHeight; ++y) {
        for (int x = 0; x < layout::kSkinWidth; ++x)
            at(skin, x, y) = 0xFF000000u | x << 12 | y;
    }
    cairo_surface_mark_dirty(skin.get());
    return skin;
}

DrawSnapshot busy_snapshot() {
    DrawSnapshot shot = {.position = 123456,
                         .length = 441000,
                         .tick = 98765,
                         .rate = 44100,
                         .active = 1,
                         .bpm_shown = 120,
                         .division_shown = 480};
    for (int n = 0; n < layout::kChannelCount; ++n) {
        ChannelView& view = shot.channels[n];
        view = {.mute = n % 5 == 0,
                .drum = n == 9,
                .program = 7 * n,
                .volume = 8 * n,
                .expression = 127 - 8 * n,
                .envelope = 5 * n,
                .level = 9 * n,
                .bank = n,
                .pan = 8 * n,
                .sustain = n % 2,
                .bend = 1000 * n - 8000,
                .frequency = 110 * n,
                .voice_count = n % 7};
        for (int i = 0; i < kWaveLength; ++i)
            view.wave[i] = static_cast<int8_t>((i * 37 + n * 11) % 256 - 128);
    }
    return shot;
}

} // namespace

// A frame built from separately painted elements, each in a target of its own with its own
// origin (as the toolkit repaints only the changed ones), has the pixels of one whole frame. (At
// odd scales a sprite's edge may still differ by a pixel: there samples fall anywhere near a
// boundary and the filter's rounding decides.)
TEST(DrawPaint, ElementsRepaintedAloneMatchTheWholeFrame) {
    const Surface skin = coded_skin(), atlas = coded_atlas();
    const DrawImages images{skin.get(), atlas.get()};
    const DrawSnapshot shot = busy_snapshot();
    FrameText text;
    text.volume = 0.37;
    text.repeat = 1;
    for (const auto& [width, height] :
         {std::pair{960, 705}, {1000, 705}, {640, 470}, {1280, 940}}) {
        Surface whole = image(width, height);
        cairo_t* cr = cairo_create(whole.get());
        const ViewTransform view = paint_frame(cr, width, height, shot, images, text);
        cairo_destroy(cr);
        int differ = 0;
        for (const PictureElement& element : picture_elements(shot, images, text)) {
            const layout::Rect& b = element.bounds;
            const int left = static_cast<int>(std::floor(b.x * view.scale + view.offset_x));
            const int top = static_cast<int>(std::floor(b.y * view.scale + view.offset_y));
            const int w =
                static_cast<int>(std::ceil((b.x + b.width) * view.scale + view.offset_x)) - left;
            const int h =
                static_cast<int>(std::ceil((b.y + b.height) * view.scale + view.offset_y)) - top;
            Surface part = image(w, h);
            cairo_surface_set_device_offset(part.get(), -left, -top);
            cr = cairo_create(part.get());
            paint_skin(cr, images.skin, view, 1.0);
            enter_skin_space(cr, view);
            element.paint(cr);
            cairo_destroy(cr);
            int here = 0;
            for (int y = 0; y < h && top + y < height; ++y) {
                for (int x = 0; x < w && left + x < width; ++x)
                    here += at(part, x, y) != at(whole, left + x, top + y);
            }
            differ += here;
        }
        EXPECT_EQ(differ, 0) << width << " x " << height;
    }
}

// A change repaints only the elements that show it.
TEST(DrawPaint, KeysChangeOnlyWithWhatTheElementShows) {
    const Surface atlas = coded_atlas();
    const DrawSnapshot shot = busy_snapshot();
    const auto keys = [&](const DrawSnapshot& s, const FrameText& text = {}) {
        std::vector<std::string> out;
        for (const PictureElement& element : picture_elements(s, {nullptr, atlas.get()}, text))
            out.push_back(element.key);
        return out;
    };
    const auto changed = [&](const DrawSnapshot& s, const FrameText& text = {}) {
        const std::vector<std::string> before = keys(shot), after = keys(s, text);
        int count = 0;
        for (size_t i = 0; i < before.size(); ++i)
            count += before[i] != after[i];
        return count;
    };
    DrawSnapshot next = shot;
    next.position += 10;         // the same seek-bar pixel and clock second
    next.channels[3].level += 1; // the same meter frame
    EXPECT_EQ(changed(next), 0);
    next.channels[3].level += 8;
    EXPECT_EQ(changed(next), 1) << "the level meter";
    next.tick += 1;
    next.channels[12].wave[5] ^= 0x40;
    EXPECT_EQ(changed(next), 3) << "and the counters and a wave";
    std::strcpy(next.status_text, "Loading");
    FrameText louder;
    louder.volume = 0.5;
    EXPECT_EQ(changed(next, louder), 5) << "and the status line and the volume";
}

// The skin is scaled once to device pixels: at a whole number of device pixels per skin pixel
// every skin pixel is a square of them, whatever the device scale.
TEST(DrawPaint, SkinPrescaledToDevicePixels) {
    const Surface skin = coded_skin();
    const struct {
        int width, height; // the drawing area's
        int device_scale;
        int per_pixel;
    } cases[] = {{640, 470, 1, 1}, {640, 470, 2, 2}, {960, 705, 2, 3}, {1280, 940, 1, 2}};
    for (const auto& c : cases) {
        Surface frame = image(c.width * c.device_scale, c.height * c.device_scale);
        cairo_surface_set_device_scale(frame.get(), c.device_scale, c.device_scale);
        cairo_t* cr = cairo_create(frame.get());
        paint_skin(cr, skin.get(), view_transform(c.width, c.height, c.device_scale),
                   c.device_scale);
        cairo_destroy(cr);
        int wrong = 0;
        for (int y = 0; y < layout::kSkinHeight * c.per_pixel; ++y) {
            for (int x = 0; x < layout::kSkinWidth * c.per_pixel; ++x)
                wrong += at(frame, x, y) != at(skin, x / c.per_pixel, y / c.per_pixel);
        }
        EXPECT_EQ(wrong, 0) << c.width << " x " << c.height << " at scale " << c.device_scale;
    }
}
