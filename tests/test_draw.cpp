// The window's snapshot, view transform and painting, without a display: frames are painted
// into image surfaces and probed. The atlas used here encodes each pixel's own position in its
// colour, so a probe tells which atlas frame landed where.
#include <glib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "sequencer/draw_snapshot.h"
#include "tests/support/engine_support.h"
#include "ui/draw.h"
#include "ui/layout.h"

namespace {

using layout::Point;

struct Surface {
    cairo_surface_t* surface;
    explicit Surface(int width, int height)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)) {}
    ~Surface() { cairo_surface_destroy(surface); }
    uint32_t pixel(int x, int y) const {
        cairo_surface_flush(surface);
        const unsigned char* row =
            cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const uint32_t*>(row)[x];
    }
};

uint32_t rgb(int red, int green, int blue) {
    return 0xFF000000u | (red << 16) | (green << 8) | blue;
}
const uint32_t kPanel = rgb(223, 130, 95);
const uint32_t kPlayed = rgb(178, 89, 63);
const uint32_t kLight = rgb(255, 210, 162);

std::unique_ptr<Surface> coded_atlas() {
    auto atlas = std::make_unique<Surface>(layout::kAtlasWidth, layout::kAtlasHeight);
    cairo_surface_flush(atlas->surface);
    unsigned char* data = cairo_image_surface_get_data(atlas->surface);
    const int stride = cairo_image_surface_get_stride(atlas->surface);
    for (int y = 0; y < layout::kAtlasHeight; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < layout::kAtlasWidth; ++x) {
            row[x] = rgb(x & 255, (x >> 8) | ((y & 63) << 2), y >> 6);
        }
    }
    cairo_surface_mark_dirty(atlas->surface);
    return atlas;
}

// The atlas position whose pixel was copied to (x, y) of a frame painted at scale 1.
Point atlas_source(const Surface& frame, int x, int y) {
    const uint32_t p = frame.pixel(x, y);
    const int red = (p >> 16) & 255, green = (p >> 8) & 255, blue = p & 255;
    return {red | ((green & 3) << 8), (green >> 2) | (blue << 6)};
}

// Frame index of a sprite family at (x, y), or -1 when something else is there.
int frame_at(const Surface& frame, int x, int y, Point origin, int step) {
    const Point source = atlas_source(frame, x, y);
    if (source.y != origin.y || (source.x - origin.x) % step != 0) return -1;
    return (source.x - origin.x) / step;
}

int digit_at(const Surface& frame, int x, int y) {
    return frame_at(frame, x, y, layout::kDigitOrigin, layout::kDigitStep);
}

std::unique_ptr<Surface> paint(const DrawSnapshot& snapshot, cairo_surface_t* skin,
                               cairo_surface_t* atlas, int width = 640, int height = 470) {
    auto frame = std::make_unique<Surface>(width, height);
    cairo_t* cr = cairo_create(frame->surface);
    paint_frame(cr, width, height, snapshot, {skin, atlas});
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    cairo_destroy(cr);
    return frame;
}

Song tempo_song() {
    Song song;
    song.rate = 44100;
    song.division = 480;
    song.length_frames = 441000;
    song.tempo_map = {{0, 0, 500000}, {88200, 1920, 250000}};
    return song;
}

} // namespace

TEST(DrawView, ScaleAndOffsets) {
    const struct {
        int width, height;
        double scale, x, y;
    } cases[] = {
        {960, 705, 1.5, 0, 0}, {1920, 1000, 1000.0 / 470.0, 279, 0}, {0, 0, 1, -320, -235}};
    for (const auto& c : cases) {
        const ViewTransform view = view_transform(c.width, c.height);
        EXPECT_DOUBLE_EQ(view.scale, c.scale) << c.width << "x" << c.height;
        EXPECT_EQ(view.offset_x, c.x) << c.width << "x" << c.height;
        EXPECT_EQ(view.offset_y, c.y) << c.width << "x" << c.height;
    }
}

TEST(DrawSnapshotTest, TickAndTempoFromTheTempoMap) {
    const Song song = tempo_song();
    Song zero_tempo = song;
    zero_tempo.tempo_map = {{1000, 7, 0}};
    Song no_rate = song, no_division = song, no_map = song;
    no_rate.rate = 0;
    no_division.division = 0;
    no_map.tempo_map.clear();
    const struct {
        const Song* song;
        double position, tick, bpm;
    } cases[] = {
        {&song, 0, 0, 120},
        {&song, 22050, 480, 120}, // one beat at 120
        {&song, 88200, 1920, 240},
        {&song, 99225, 2400, 240},      // one beat at 240
        {&song, 1e12, 17280, 240},      // beyond the end: the end
        {&zero_tempo, 500, 7, 120},     // before the first point
        {&zero_tempo, 23050, 487, 120}, // tempo 0 counts as 120
        {&no_rate, 22050, 0, 0},
        {&no_division, 22050, 0, 0},
        {&no_map, 22050, 0, 0},
    };
    for (const auto& c : cases) {
        const TickAndTempo now = tick_and_tempo_at(*c.song, c.position);
        EXPECT_EQ(now.tick, c.tick) << c.position;
        EXPECT_DOUBLE_EQ(now.tempo_bpm, c.bpm) << c.position;
    }
}

TEST(DrawSnapshotTest, CopiesChannelsVoicesAndTransport) {
    auto player = make_player();
    Player& p = *player;
    p.song = tempo_song();
    p.song.division = 1200; // shown as 999
    p.position = 22050;
    p.active = 1;
    std::strcpy(p.song_path, "/music/song.mid");
    std::strcpy(p.status_text, "Loaded");
    ChannelState& melodic = p.synth.channels[0];
    melodic.program = 130; // low 7 bits: 2
    melodic.volume = 200;
    melodic.expression = 127;
    melodic.pan = -5;
    melodic.bend = 9000;
    p.synth.channels[9].drum = 5;
    for (int i = 0; i < 7; ++i) { // seven voices on channel 0, the last one louder
        Voice& voice = p.synth.voices[i];
        voice.active = 1;
        voice.channel = 0;
        voice.env_level = i == 6 ? kEnvFullLevel : 0;
        voice.level = 126.6f;
        voice.frequency = i == 6 ? 440.4f : 1e9f;
    }
    p.synth.voices[10] = Voice{};
    p.synth.voices[10].active = 1;
    p.synth.voices[10].channel = 16; // not a MIDI channel: ignored

    DrawSnapshot snapshot;
    take_draw_snapshot(p, snapshot);
    ASSERT_TRUE(p.lock.try_lock()) << "the lock was left held";
    p.lock.unlock();

    const ChannelView& view = snapshot.channels[0];
    EXPECT_EQ(view.program, 2);
    EXPECT_EQ(view.volume, 127);
    EXPECT_EQ(view.pan, 0);
    EXPECT_EQ(view.bend, 8191);
    EXPECT_EQ(view.voice_count, 6);
    EXPECT_EQ(view.envelope, 127);
    EXPECT_EQ(view.level, (127 * 127 * 127) >> 14);
    EXPECT_EQ(view.frequency, 440);
    const int wave = p.synth.set_table[p.synth.instrument_set][2] & 127;
    EXPECT_EQ(0, std::memcmp(view.wave, p.synth.wave_bank_bytes[wave], sizeof view.wave));

    const ChannelView& quiet = snapshot.channels[1];
    EXPECT_EQ(quiet.voice_count + quiet.envelope + quiet.level + quiet.frequency, 0);
    const ChannelView& drums = snapshot.channels[9];
    EXPECT_EQ(drums.drum, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(drums.wave), kWaveLength),
              std::string(kWaveLength, '\0'));

    EXPECT_EQ(snapshot.position, 22050);
    EXPECT_EQ(snapshot.length, 441000);
    EXPECT_EQ(snapshot.active, 1);
    EXPECT_EQ(snapshot.bpm_shown, 120);
    EXPECT_EQ(snapshot.division_shown, 999);
    EXPECT_EQ(snapshot.tick, 1200);
    EXPECT_STREQ(snapshot.song_path, "/music/song.mid");
    EXPECT_STREQ(snapshot.status_text, "Loaded");
}

TEST(DrawSnapshotTest, CustomWaveFollowsTheSoundingVoice) {
    auto player = make_player();
    SynthState& synth = player->synth;
    synth.custom_wave_mode = 1;
    synth.custom_waves_present = 1;
    synth.channels[2].program = 5;
    synth.custom_wave_bytes[5][0] = 11;
    synth.custom_wave_bytes[40][0] = 99;
    synth.voices[3].active = 1;
    synth.voices[3].channel = 2;
    DrawSnapshot snapshot;
    take_draw_snapshot(*player, snapshot);
    EXPECT_EQ(snapshot.channels[2].wave[0], 11); // from the program
    synth.voices[3].wave = synth.custom_wave_bank[40];
    take_draw_snapshot(*player, snapshot);
    EXPECT_EQ(snapshot.channels[2].wave[0], 99); // from the voice
}

TEST(DrawPaint, SpriteFramesAndCounters) {
    const auto atlas = coded_atlas();
    DrawSnapshot snapshot;
    snapshot.tick = 1234567;
    snapshot.bpm_shown = 87;
    snapshot.division_shown = 480;
    const struct {
        int program, bend, pan, voices;
        int program_digits[3], bend_frame, pan_frame;
    } channels[] = {
        {0, 0, 64, 0, {0, 0, 1}, 8, 8},
        {127, 8191, 127, 6, {1, 2, 8}, 16, 16},
        {41, -8192, 0, 3, {0, 4, 2}, 0, 0},
    };
    for (int n = 0; n < 3; ++n) {
        snapshot.channels[n].program = channels[n].program;
        snapshot.channels[n].bend = channels[n].bend;
        snapshot.channels[n].pan = channels[n].pan;
        snapshot.channels[n].voice_count = channels[n].voices;
    }
    snapshot.channels[1].frequency = 12345;
    snapshot.channels[1].bank = 1234; // shown as 999
    snapshot.channels[2].bank = 7;
    snapshot.channels[2].mute = 1;
    const auto frame = paint(snapshot, nullptr, atlas->surface);

    const int counter[9] = {0, 0, 1, 2, 3, 4, 5, 6, 7};
    const int counter_x[9] = {63, 69, 81, 87, 99, 105, 117, 123, 129};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(digit_at(*frame, counter_x[i], 446), counter[i]) << i;
    const int tempo[6] = {0, 8, 7, 4, 8, 0};
    const int tempo_x[6] = {164, 170, 176, 203, 209, 215};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(digit_at(*frame, tempo_x[i], 446), tempo[i]) << i;

    for (int n = 0; n < 3; ++n) {
        const int dx = 36 * n;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(digit_at(*frame, 76 + dx + 6 * i, 171), channels[n].program_digits[i]);
        }
        EXPECT_EQ(frame_at(*frame, 61 + dx, 147, layout::kIndicatorOrigin, 34),
                  channels[n].bend_frame);
        EXPECT_EQ(frame_at(*frame, 61 + dx, 158, layout::kIndicatorOrigin, 34),
                  channels[n].pan_frame);
        EXPECT_EQ(frame_at(*frame, 77 + dx, 74, layout::kVoiceCountOrigin, 18), channels[n].voices);
    }
    const int banks[2][3] = {{9, 9, 9}, {0, 0, 7}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(digit_at(*frame, 76 + 36 + 6 * i, 182), banks[0][i]);
        EXPECT_EQ(digit_at(*frame, 76 + 72 + 6 * i, 182), banks[1][i]);
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(digit_at(*frame, 64 + 36 + 6 * i, 212), i + 1);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(digit_at(*frame, 64 + 6 * i, 212), 0); // no voice
    EXPECT_EQ(atlas_source(*frame, 61 + 72, 72).x, layout::kMutedSprite.x);
    EXPECT_EQ(atlas_source(*frame, 61, 72).x, layout::kUnmutedSprite.x);
    const Point stop = atlas_source(*frame, 212, 42); // stopped: the stop light
    EXPECT_EQ(stop.x, layout::kLitStopSprite.x);
    EXPECT_EQ(stop.y, layout::kLitStopSprite.y);
}

TEST(DrawPaint, SeekBarWaveformAndFallbacks) {
    const auto atlas = coded_atlas();
    DrawSnapshot snapshot;
    snapshot.position = 5000;
    snapshot.length = 1000; // beyond the end: all played
    snapshot.active = 1;
    snapshot.tick = 5;
    snapshot.channels[0].wave[0] = 127;
    snapshot.channels[0].wave[1] = -128;
    snapshot.channels[0].wave[2] = 16;
    // Not UTF-8: must neither break the text nor anything drawn after it.
    std::strcpy(snapshot.song_path, "/x/\xff\xfe\xe2\x82.mid");
    std::strcpy(snapshot.status_text, "Could not open \xe2\x82");

    for (const bool with_atlas : {true, false}) {
        const auto frame = paint(snapshot, nullptr, with_atlas ? atlas->surface : nullptr);
        EXPECT_EQ(frame->pixel(2, 2), kPanel) << "missing skin: panel colour";
        EXPECT_EQ(frame->pixel(62, 430), kPlayed);
        EXPECT_EQ(frame->pixel(297, 430), kPlayed);
        EXPECT_EQ(frame->pixel(420, 58), kLight) << "playing bar";
        const struct {
            int column, top, bottom;
        } waves[] = {{0, 193, 200}, {1, 200, 207}, {2, 200, 200}};
        for (const auto& w : waves) {
            for (int y = 192; y < 208; ++y) {
                const bool lit = y >= w.top && y <= w.bottom;
                EXPECT_EQ(frame->pixel(62 + w.column, y), lit ? kLight : kPanel)
                    << "column " << w.column << " row " << y;
            }
        }
        if (with_atlas) {
            EXPECT_EQ(digit_at(*frame, 129, 446), 5) << "counters drawn after the text";
            EXPECT_EQ(atlas_source(*frame, 132, 42).x, layout::kLitPlaySprite.x);
        } else {
            EXPECT_EQ(frame->pixel(129, 446), kPanel) << "no atlas: no digits";
        }
    }
    // The played part ends on the last whole pixel the position reaches: 59.236 of 236.
    snapshot.position = 251;
    const auto partly = paint(snapshot, nullptr, nullptr);
    EXPECT_EQ(partly->pixel(120, 430), kPlayed);
    EXPECT_EQ(partly->pixel(121, 430), kPanel);
    // A skin is painted scaled by the view transform.
    Surface skin(640, 470);
    cairo_t* cr = cairo_create(skin.surface);
    cairo_set_source_rgb(cr, 0, 0, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
    const auto large = paint(DrawSnapshot{}, skin.surface, nullptr, 1920, 1000);
    EXPECT_EQ(large->pixel(278, 500), 0u) << "left of the skin stays transparent";
    EXPECT_EQ(large->pixel(279, 500), rgb(0, 0, 255));
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
        {"song.mid", 47, false, "song.mi"},
        {"\xc3\xa9t\xc3\xa9.mid", 18, false, "\xc3\xa9t\xc3\xa9"},
        {"Could not open", 30, true, "Coul\xe2\x80\xa6"},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 12, true, "\xe6\x97\xa5\xe2\x80\xa6"},
        {"abc", 5, true, ""},
        {"abc", 5, false, ""},
    };
    for (const auto& c : cases) {
        const std::string shown = fit_text(c.text, c.width, width_of, c.ellipsis);
        EXPECT_EQ(shown, c.shown) << c.text << " in " << c.width;
        EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr));
    }
    // A 255-byte status text of two-byte characters, cut to the status line.
    std::string long_text;
    while (long_text.size() < 254)
        long_text += "\xc3\xa9";
    const std::string shown = fit_text(long_text, layout::kStatusTextWidth, width_of, true);
    EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr));
    EXPECT_LE(width_of(shown), layout::kStatusTextWidth);
    EXPECT_GT(width_of(shown), layout::kStatusTextWidth - 6);

    EXPECT_EQ(display_file_name("/a/b/song.mid"), "song.mid");
    EXPECT_EQ(display_file_name("song.mid"), "song.mid");
    EXPECT_EQ(display_file_name("/a/b/"), "");
    EXPECT_EQ(display_file_name(""), "");
    EXPECT_TRUE(g_utf8_validate(display_file_name("/a/\xff\xfe.mid").c_str(), -1, nullptr));
    EXPECT_EQ(valid_utf8("ok \xe2\x82").rfind("ok \xef\xbf\xbd", 0), 0u);
}
