// Draws VELTA's skin, sprite atlas and application icon from the layout constants.
//
//     velta-make-artwork ASSET_DIR ICON_PATH
//
// Every shape is a whole-pixel rectangle painted without antialiasing, shading is computed in
// integers and the noise comes from a fixed-seed generator, so the PNG bytes come out the same on
// every machine. Labels use the pixel fonts below, never a system font.
#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/asset_names.h"
#include "ui/layout.h"

namespace {

using namespace layout;

struct Rgb {
    int r;
    int g;
    int b;
};

constexpr Rgb mix(Rgb a, Rgb b, int num, int den) {
    return {a.r + (b.r - a.r) * num / den, a.g + (b.g - a.g) * num / den,
            a.b + (b.b - a.b) * num / den};
}
constexpr Rgb shade(Rgb c, int delta) {
    auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    return {clamp(c.r + delta), clamp(c.g + delta), clamp(c.b + delta)};
}

// Palette. The seek bar, playing bar and waveform box are painted by the program in its own
// orange tones; the displays here glow in the same amber so the two belong together.
constexpr Rgb kChassisTop = {62, 64, 72};
constexpr Rgb kChassisBottom = {40, 41, 47};
constexpr Rgb kRimLight = {112, 115, 126};
constexpr Rgb kBezelDark = {10, 10, 12};
constexpr Rgb kBezelLight = {96, 98, 108};
constexpr Rgb kLcd = {26, 17, 13};
constexpr Rgb kLcdGrid = {33, 22, 17};
constexpr Rgb kUnlit = {66, 38, 26};
constexpr Rgb kAmber = {255, 176, 88};
constexpr Rgb kAmberHot = {255, 226, 150};
constexpr Rgb kAmberDim = {150, 92, 52};
constexpr Rgb kRed = {255, 72, 48};
constexpr Rgb kLabel = {176, 180, 192};
constexpr Rgb kLabelDim = {116, 119, 130};
constexpr Rgb kKeyTop = {96, 98, 108};
constexpr Rgb kKeyBottom = {58, 60, 67};
constexpr Rgb kKeyLitTop = {128, 92, 58};
constexpr Rgb kKeyLitBottom = {86, 56, 36};
constexpr Rgb kIcon = {214, 217, 226};
constexpr Rgb kPanel = {223, 130, 95};  // the program's waveform box colour
constexpr Rgb kLight = {255, 210, 162}; // the program's waveform trace colour

struct Canvas {
    cairo_surface_t* surface;
    cairo_t* cr;
};

Canvas make_canvas(int width, int height, cairo_format_t format) {
    Canvas c;
    c.surface = cairo_image_surface_create(format, width, height);
    c.cr = cairo_create(c.surface);
    cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_NONE);
    return c;
}

void fill(Canvas& c, int x, int y, int w, int h, Rgb colour) {
    if (w <= 0 || h <= 0) return;
    cairo_set_source_rgb(c.cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
    cairo_rectangle(c.cr, x, y, w, h);
    cairo_fill(c.cr);
}

void dot(Canvas& c, int x, int y, Rgb colour) {
    fill(c, x, y, 1, 1, colour);
}

void vgradient(Canvas& c, int x, int y, int w, int h, Rgb top, Rgb bottom) {
    for (int row = 0; row < h; ++row)
        fill(c, x, y + row, w, 1, mix(top, bottom, row, h > 1 ? h - 1 : 1));
}

// Raised (light top-left) or sunken (dark top-left) one-pixel edges around a rectangle.
void bevel(Canvas& c, int x, int y, int w, int h, Rgb top_left, Rgb bottom_right) {
    fill(c, x, y, w, 1, top_left);
    fill(c, x, y, 1, h, top_left);
    fill(c, x, y + h - 1, w, 1, bottom_right);
    fill(c, x + w - 1, y, 1, h, bottom_right);
}

// A recessed window: a shadowed outer edge, then the face.
void well(Canvas& c, int x, int y, int w, int h, Rgb face) {
    bevel(c, x - 2, y - 2, w + 4, h + 4, shade(kChassisBottom, -16), kBezelLight);
    bevel(c, x - 1, y - 1, w + 2, h + 2, kBezelDark, shade(kBezelDark, 24));
    fill(c, x, y, w, h, face);
}

// Fixed-seed noise for the brushed finish.
struct Noise {
    uint32_t state = 0x2545f491u;
    int next(int span) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 16) % static_cast<uint32_t>(span));
    }
};

// Adds horizontal streaks to a rectangle already painted: each row gets a slight brightness
// offset and each pixel a smaller one, computed in integers on the surface bytes.
void brush(Canvas& c, int x0, int y0, int w, int h, Noise& noise) {
    cairo_surface_flush(c.surface);
    unsigned char* data = cairo_image_surface_get_data(c.surface);
    const int stride = cairo_image_surface_get_stride(c.surface);
    for (int y = y0; y < y0 + h; ++y) {
        const int row_offset = noise.next(5) - 2;
        for (int x = x0; x < x0 + w; ++x) {
            const int delta = row_offset + noise.next(3) - 1;
            auto* px = reinterpret_cast<uint32_t*>(data + y * stride) + x;
            const uint32_t v = *px;
            int channels[3] = {static_cast<int>((v >> 16) & 255), static_cast<int>((v >> 8) & 255),
                               static_cast<int>(v & 255)};
            for (int& ch : channels)
                ch = ch + delta < 0 ? 0 : ch + delta > 255 ? 255 : ch + delta;
            *px = (v & 0xff000000u) | (static_cast<uint32_t>(channels[0]) << 16) |
                  (static_cast<uint32_t>(channels[1]) << 8) | static_cast<uint32_t>(channels[2]);
        }
    }
    cairo_surface_mark_dirty(c.surface);
}

// ---- Pixel fonts -------------------------------------------------------------------------------

struct Glyph {
    char ch;
    const char* rows[7];
};

// 5 x 7 capitals, digits and a little punctuation.
constexpr Glyph kFont5x7[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#..", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
    {'/', {".....", "....#", "...#.", "..#..", ".#...", "#....", "....."}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'<', {"...#.", "..#..", ".#...", "#....", ".#...", "..#..", "...#."}},
    {'>', {".#...", "..#..", "...#.", "....#", "...#.", "..#..", ".#..."}},
    {'+', {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
    {',', {".....", ".....", ".....", ".....", ".##..", "..#..", ".#..."}},
    {'%', {"##...", "##..#", "...#.", "..#..", ".#...", "#..##", "...##"}},
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
};

// 3 x 5 capitals and digits for the smallest labels.
constexpr Glyph kFont3x5[] = {
    {'A', {".#.", "#.#", "###", "#.#", "#.#"}}, {'B', {"##.", "#.#", "##.", "#.#", "##."}},
    {'C', {".##", "#..", "#..", "#..", ".##"}}, {'D', {"##.", "#.#", "#.#", "#.#", "##."}},
    {'E', {"###", "#..", "##.", "#..", "###"}}, {'F', {"###", "#..", "##.", "#..", "#.."}},
    {'G', {".##", "#..", "#.#", "#.#", ".##"}}, {'H', {"#.#", "#.#", "###", "#.#", "#.#"}},
    {'I', {"###", ".#.", ".#.", ".#.", "###"}}, {'K', {"#.#", "#.#", "##.", "#.#", "#.#"}},
    {'L', {"#..", "#..", "#..", "#..", "###"}}, {'M', {"#.#", "###", "###", "#.#", "#.#"}},
    {'N', {"##.", "#.#", "#.#", "#.#", "#.#"}}, {'O', {".#.", "#.#", "#.#", "#.#", ".#."}},
    {'P', {"##.", "#.#", "##.", "#..", "#.."}}, {'R', {"##.", "#.#", "##.", "#.#", "#.#"}},
    {'S', {".##", "#..", ".#.", "..#", "##."}}, {'T', {"###", ".#.", ".#.", ".#.", ".#."}},
    {'U', {"#.#", "#.#", "#.#", "#.#", "###"}}, {'V', {"#.#", "#.#", "#.#", ".#.", ".#."}},
    {'W', {"#.#", "#.#", "###", "###", "#.#"}}, {'X', {"#.#", "#.#", ".#.", "#.#", "#.#"}},
    {'Y', {"#.#", "#.#", ".#.", ".#.", ".#."}}, {'Z', {"###", "..#", ".#.", "#..", "###"}},
    {'0', {"###", "#.#", "#.#", "#.#", "###"}}, {'1', {".#.", "##.", ".#.", ".#.", "###"}},
    {'2', {"##.", "..#", ".#.", "#..", "###"}}, {'3', {"##.", "..#", ".#.", "..#", "##."}},
    {'4', {"#.#", "#.#", "###", "..#", "..#"}}, {'5', {"###", "#..", "##.", "..#", "##."}},
    {'6', {".##", "#..", "###", "#.#", "###"}}, {'7', {"###", "..#", ".#.", ".#.", ".#."}},
    {'8', {"###", "#.#", "###", "#.#", "###"}}, {'9', {"###", "#.#", "###", "..#", "##."}},
    {'-', {"...", "...", "###", "...", "..."}}, {' ', {"...", "...", "...", "...", "..."}},
};

// The counter digits: 5 x 6 in a 6 x 6 cell, the sixth column left as spacing.
constexpr const char* kDigit5x6[10][6] = {
    {".###.", "#...#", "#...#", "#...#", "#...#", ".###."},
    {"..#..", ".##..", "..#..", "..#..", "..#..", ".###."},
    {".###.", "#...#", "...#.", "..#..", ".#...", "#####"},
    {"####.", "....#", ".###.", "....#", "....#", "####."},
    {"#..#.", "#..#.", "#####", "...#.", "...#.", "...#."},
    {"#####", "#....", "####.", "....#", "....#", "####."},
    {".###.", "#....", "####.", "#...#", "#...#", ".###."},
    {"#####", "....#", "...#.", "..#..", "..#..", "..#.."},
    {".###.", "#...#", ".###.", "#...#", "#...#", ".###."},
    {".###.", "#...#", "#...#", ".####", "....#", ".###."},
};

struct Font {
    const Glyph* glyphs;
    int count;
    int width;
    int height;
};
constexpr Font kBig = {kFont5x7, sizeof kFont5x7 / sizeof kFont5x7[0], 5, 7};
constexpr Font kSmall = {kFont3x5, sizeof kFont3x5 / sizeof kFont3x5[0], 3, 5};

void bitmap(Canvas& c, int x, int y, const char* const* rows, int height, int scale, Rgb colour) {
    for (int row = 0; row < height; ++row)
        for (int col = 0; rows[row][col] != '\0'; ++col)
            if (rows[row][col] == '#')
                fill(c, x + col * scale, y + row * scale, scale, scale, colour);
}

int text_width(const Font& font, const std::string& text, int scale = 1) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * (font.width + 1) * scale - scale;
}

// Top-left at (x, y); unknown characters are left blank.
void text(Canvas& c, const Font& font, int x, int y, const std::string& s, Rgb colour,
          int scale = 1) {
    for (char ch : s) {
        for (int i = 0; i < font.count; ++i)
            if (font.glyphs[i].ch == ch)
                bitmap(c, x, y, font.glyphs[i].rows, font.height, scale, colour);
        x += (font.width + 1) * scale;
    }
}

// Text with a one-pixel drop shadow, for labels printed on the chassis.
void engraved(Canvas& c, const Font& font, int x, int y, const std::string& s, Rgb colour) {
    text(c, font, x, y + 1, s, shade(kChassisBottom, -22));
    text(c, font, x, y, s, colour);
}

// ---- Sprites, drawn the same way into the skin (resting state) and the atlas
// ---------------------

void digit(Canvas& c, int x, int y, int value) {
    fill(c, x, y, kDigitWidth, kDigitHeight, kLcd);
    bitmap(c, x, y, kDigit5x6[value], 6, 1, kAmber);
}

void lcd_digits_blank(Canvas& c, int x, int y, int count) {
    fill(c, x, y, kDigitWidth * count, kDigitHeight, kLcd);
}

enum class Icon { kPlay, kOpen, kStop, kPause, kWav, kPrefs, kPrevious, kNext };

void icon(Canvas& c, Icon which, int cx, int cy, Rgb colour) {
    switch (which) {
    case Icon::kPlay:
        for (int col = 0; col < 6; ++col)
            fill(c, cx - 3 + col, cy - 5 + col, 1, 11 - 2 * col, colour);
        break;
    case Icon::kOpen: // eject: a triangle over a bar
        for (int row = 0; row < 5; ++row)
            fill(c, cx - row, cy - 5 + row, 2 * row + 1, 1, colour);
        fill(c, cx - 5, cy + 2, 11, 2, colour);
        break;
    case Icon::kStop:
        fill(c, cx - 4, cy - 4, 9, 9, colour);
        break;
    case Icon::kPause:
        fill(c, cx - 4, cy - 4, 3, 9, colour);
        fill(c, cx + 2, cy - 4, 3, 9, colour);
        break;
    case Icon::kWav: { // one period of a square-ish chip wave
        static const int heights[] = {0, -2, -3, -4, -4, -3, -2, 0, 2, 3, 4, 4, 3, 2, 0};
        for (int i = 0; i < 15; ++i) {
            const int h = heights[i];
            fill(c, cx - 7 + i, h < 0 ? cy + h : cy, 1, (h < 0 ? -h : h) + 1, colour);
        }
        break;
    }
    case Icon::kPrevious: // a bar and a triangle pointing left
        fill(c, cx - 5, cy - 4, 2, 9, colour);
        for (int col = 0; col < 5; ++col)
            fill(c, cx + 3 - col, cy - 4 + col, 1, 9 - 2 * col, colour);
        break;
    case Icon::kNext:
        for (int col = 0; col < 5; ++col)
            fill(c, cx - 4 + col, cy - 4 + col, 1, 9 - 2 * col, colour);
        fill(c, cx + 2, cy - 4, 2, 9, colour);
        break;
    case Icon::kPrefs: // three sliders
        for (int i = 0; i < 3; ++i) {
            const int x = cx - 5 + i * 5;
            fill(c, x, cy - 5, 1, 11, colour);
            const int knob = (i == 0) ? -2 : (i == 1) ? 2 : -1;
            fill(c, x - 1, cy + knob - 1, 3, 3, colour);
        }
        break;
    }
}

// A transport key, 35 x 22: dark outline, moulded face, icon; lit keys glow amber with their lamp
// on.
void transport_key(Canvas& c, int x, int y, Icon which, bool lit) {
    const int w = kButtonWidth, h = kButtonHeight;
    fill(c, x, y, w, h, kBezelDark);
    vgradient(c, x + 1, y + 1, w - 2, h - 2, lit ? kKeyLitTop : kKeyTop,
              lit ? kKeyLitBottom : kKeyBottom);
    fill(c, x + 1, y + 1, w - 2, 1, lit ? Rgb{176, 130, 86} : Rgb{140, 143, 154});
    fill(c, x + 1, y + h - 2, w - 2, 1, lit ? Rgb{60, 36, 22} : Rgb{36, 37, 42});
    // Lamp in the top-left corner.
    fill(c, x + 3, y + 3, 4, 2, lit ? kAmberHot : Rgb{34, 30, 30});
    const int cx = x + w / 2 + 1, cy = y + h / 2;
    if (lit) {
        icon(c, which, cx + 1, cy + 1, Rgb{70, 36, 16});
        icon(c, which, cx, cy, kAmberHot);
    } else {
        icon(c, which, cx + 1, cy + 1, Rgb{28, 29, 33});
        icon(c, which, cx, cy, kIcon);
    }
}

// The mute lamp, 11 x 14, at the left end of each channel key: a speaker, amber when the
// channel sounds, red and crossed out when it is muted.
void mute_lamp(Canvas& c, int x, int y, bool muted) {
    fill(c, x, y, kMuteWidth, kMuteHeight, kBezelDark);
    if (muted) {
        vgradient(c, x + 1, y + 1, kMuteWidth - 2, kMuteHeight - 2, Rgb{214, 46, 30},
                  Rgb{150, 24, 16});
        fill(c, x + 1, y + 1, kMuteWidth - 2, 1, Rgb{255, 140, 110});
    } else {
        fill(c, x + 1, y + 1, kMuteWidth - 2, kMuteHeight - 2, kLcd);
    }
    const Rgb body = muted ? Rgb{70, 10, 6} : kAmber;
    fill(c, x + 2, y + 5, 2, 4, body);
    for (int i = 0; i < 3; ++i)
        fill(c, x + 4 + i, y + 4 - i, 1, 6 + 2 * i, body);
    if (muted) {
        for (int i = 0; i < 3; ++i) {
            dot(c, x + 7 + i % 3, y + 4 + i, Rgb{255, 230, 210});
            dot(c, x + 9 - i, y + 4 + i, Rgb{255, 230, 210});
        }
    } else {
        dot(c, x + 8, y + 6, kAmberDim);
        dot(c, x + 8, y + 7, kAmberDim);
        fill(c, x + 9, y + 4, 1, 6, kAmberDim);
    }
}

// Voices sounding on a channel, 16 x 10: six pips in two rows, filled left to right, top row first.
void voice_pips(Canvas& c, int x, int y, int count) {
    fill(c, x, y, kSmallSpriteWidth, kSmallSpriteHeight, kLcd);
    for (int i = 0; i < 6; ++i) {
        const int px = x + 1 + (i % 3) * 5, py = y + 1 + (i / 3) * 4;
        const bool on = i < count;
        fill(c, px, py, 4, 4 - 1, on ? kAmber : kUnlit);
        if (on) fill(c, px, py, 4, 1, kAmberHot);
    }
}

void sustain_lamp(Canvas& c, int x, int y, bool on) {
    fill(c, x, y, kSmallSpriteWidth, kSmallSpriteHeight, kLcd);
    if (on) {
        fill(c, x + 1, y + 1, 14, 8, kAmber);
        fill(c, x + 1, y + 1, 14, 1, kAmberHot);
        text(c, kSmall, x + 3, y + 3, "SUS", kLcd);
    } else {
        bevel(c, x + 1, y + 1, 14, 8, kUnlit, kUnlit);
        text(c, kSmall, x + 3, y + 3, "SUS", kUnlit);
    }
}

// Segmented bars: 15 segments of two lit rows and one dark row, from the bottom up.
constexpr int kSegments = 15;
Rgb segment_colour(int segment, bool meter) {
    if (meter && segment >= 13) return kRed;
    if (meter && segment >= 10) return Rgb{255, 214, 96};
    return mix(Rgb{232, 128, 58}, kAmber, segment, kSegments - 1);
}

void segment_bar(Canvas& c, int x, int y, int width, int lit, bool meter) {
    fill(c, x, y, width, kBarHeight, kLcd);
    for (int s = 0; s < kSegments; ++s) {
        const int top = y + kBarHeight - 3 - 3 * s;
        const bool on = s < lit;
        fill(c, x, top, width, 2, on ? segment_colour(s, meter) : kUnlit);
        if (on && width > 4) fill(c, x, top, width, 1, shade(segment_colour(s, meter), 40));
    }
}

// Pan and pitch bend, 33 x 9: a track with a centre mark, a fill from the centre and a needle.
void indicator(Canvas& c, int x, int y, int frame) {
    const int w = kIndicatorWidth;
    fill(c, x, y, w, kIndicatorHeight, kLcd);
    fill(c, x + 1, y + 4, w - 2, 1, kUnlit);
    for (int t = 0; t <= 4; ++t)
        fill(c, x + t * 8, y + (t == 2 ? 1 : 3), 1, t == 2 ? 7 : 3, kUnlit);
    const int needle = 2 * frame; // 0 to 32, centre 16
    const int from = needle < 16 ? needle : 16, to = needle < 16 ? 16 : needle;
    fill(c, x + from, y + 3, to - from + 1, 3, kAmberDim);
    const int left = needle - 1 < 0 ? 0 : needle - 1,
              right = needle + 1 > w - 1 ? w - 1 : needle + 1;
    fill(c, x + left, y + 1, right - left + 1, 7, kAmber);
    fill(c, x + needle, y + 1, 1, 7, kAmberHot);
}

void drum_icon(Canvas& c, int x, int y) {
    fill(c, x, y, kWaveBoxWidth, kWaveBoxHeight, kPanel);
    const Rgb dark = {96, 42, 26};
    // A snare seen from the side, with two sticks.
    fill(c, x + 9, y + 6, 14, 1, kLight);
    fill(c, x + 8, y + 7, 16, 6, dark);
    fill(c, x + 9, y + 13, 14, 1, dark);
    for (int i = 0; i < 4; ++i)
        fill(c, x + 10 + 4 * i, y + 8, 1, 4, kLight);
    fill(c, x + 8, y + 7, 16, 1, kLight);
    for (int i = 0; i < 5; ++i) {
        dot(c, x + 5 + i, y + 1 + i, kLight);
        dot(c, x + 26 - i, y + 1 + i, kLight);
    }
}

// ---- The skin ----------------------------------------------------------------------------------

void screw(Canvas& c, int x, int y) {
    fill(c, x, y + 1, 5, 3, Rgb{30, 31, 35});
    fill(c, x + 1, y, 3, 5, Rgb{30, 31, 35});
    fill(c, x + 1, y + 1, 3, 3, Rgb{120, 123, 134});
    fill(c, x + 1, y + 2, 3, 1, Rgb{46, 47, 53});
}

void window_key(Canvas& c, int left, int right, int kind) {
    const int x = left + 1, y = kTitleStripTop + 2, w = right - left - 2, h = 14;
    fill(c, x, y, w, h, kBezelDark);
    const Rgb top = kind == 2 ? Rgb{150, 62, 50} : kKeyTop;
    const Rgb bottom = kind == 2 ? Rgb{104, 36, 30} : kKeyBottom;
    vgradient(c, x + 1, y + 1, w - 2, h - 2, top, bottom);
    fill(c, x + 1, y + 1, w - 2, 1, shade(top, 40));
    const int cx = x + w / 2, cy = y + h / 2;
    if (kind == 0) {
        fill(c, cx - 3, cy + 2, 7, 2, kIcon);
    } else if (kind == 1) {
        bevel(c, cx - 3, cy - 3, 7, 7, kIcon, kIcon);
        fill(c, cx - 3, cy - 2, 7, 1, kIcon);
    } else {
        for (int i = 0; i < 7; ++i) {
            fill(c, cx - 3 + i, cy - 3 + i, 1, 1, kIcon);
            fill(c, cx + 3 - i, cy - 3 + i, 1, 1, kIcon);
            fill(c, cx - 2 + i, cy - 3 + i, 1, 1, shade(kIcon, -60));
        }
    }
}

void draw_title_strip(Canvas& c) {
    const int top = kTitleStripTop, height = kTitleStripBottom - kTitleStripTop;
    vgradient(c, 0, top, kSkinWidth, height, Rgb{30, 31, 36}, Rgb{22, 22, 26});
    fill(c, 0, top, kSkinWidth, 1, Rgb{16, 16, 19});
    fill(c, 0, kTitleStripBottom - 1, kSkinWidth, 1, kRimLight);
    text(c, kBig, kTitleText.x + 1, kTitleText.y + 1, "VELTA", shade(kAmber, -120));
    text(c, kBig, kTitleText.x, kTitleText.y, "VELTA", kAmber);
    engraved(c, kBig, kTitleCaption.x, kTitleCaption.y, "CHIPTUNE MIDI PLAYER", kLabelDim);
    // Grip ridges: the strip moves the window.
    for (int x = kTitleGripLeft; x < kMinimiseLeft - 8; x += 3) {
        fill(c, x, top + 6, 1, 6, Rgb{52, 54, 61});
        fill(c, x + 1, top + 6, 1, 6, Rgb{14, 14, 17});
    }
    window_key(c, kMinimiseLeft, kMaximiseLeft, 0);
    window_key(c, kMaximiseLeft, kCloseLeft, 1);
    window_key(c, kCloseLeft, kCloseRight, 2);
}

void draw_transport(Canvas& c) {
    static const char* const labels[] = {"PLAY", "OPEN",  "STOP", "PAUSE",
                                         "WAV",  "PREFS", "PREV", "NEXT"};
    static_assert(sizeof labels / sizeof labels[0] == kTransportButtonCount);
    // Brand block left of the keys.
    const Rect& brand = kBrandPanel;
    const int bx = brand.x, by = brand.y;
    well(c, bx, by, brand.width, brand.height, Rgb{22, 22, 26});
    text(c, kBig, bx + 7, by + 6, "VELTA", Rgb{90, 50, 26}, 2);
    text(c, kBig, bx + 6, by + 5, "VELTA", kAmber, 2);
    fill(c, bx + 6, by + 19, 59, 1, Rgb{120, 70, 40});
    text(c, kBig, bx + 76, by + 7, "16CH", kLabel);
    text(c, kBig, bx + 76, by + 18, "SYNTH", kLabelDim);
    for (int b = 0; b < kTransportButtonCount; ++b) {
        const int x = transport_button_left(b);
        engraved(c, kBig, x + (kButtonWidth - text_width(kBig, labels[b])) / 2, kTransportTop - 10,
                 labels[b], kLabel);
        fill(c, x - 1, kTransportTop - 1, kButtonWidth + 2, kButtonHeight + 2, Rgb{20, 20, 24});
        transport_key(c, x, kTransportTop, static_cast<Icon>(b), false);
    }
    // The playing lamp strip.
    const Rect& bar = kPlayingBar;
    engraved(c, kBig, bar.x, bar.y - 12, "PLAYING", kLabel);
    well(c, bar.x, bar.y, bar.width, bar.height, kLcd);
    for (int x = bar.x + 3; x < bar.x + bar.width; x += 4)
        fill(c, x, bar.y, 1, bar.height, kLcdGrid);
}

int column_x(int channel) {
    return kChannelPitch * channel;
}

void draw_channels(Canvas& c) {
    const int top = kMuteButton.y - 3, bottom = kSustain.y + kSmallSpriteHeight + 2;
    const int left = kMuteButton.x - 1, right = kMuteButton.x + kChannelPitch * kChannelCount - 2;
    well(c, left, top, right - left, bottom - top, kBezelDark);

    // Row legend on the chassis to the left.
    struct Legend {
        const char* label;
        int y;
    };
    const Legend legend[] = {
        {"MUTE", kMuteButton.y},        {"VOICE", kMuteButton.y + 8},
        {"VOL", kVolumeBar.y + 1},      {"EXP", kVolumeBar.y + 12},
        {"ENV", kVolumeBar.y + 23},     {"LEVEL", kVolumeBar.y + 34},
        {"BEND", kBendIndicator.y + 1}, {"PAN", kPanIndicator.y + 1},
        {"PROG", kProgramDigits.y - 1}, {"BANK", kBankDigits.y - 1},
        {"WAVE", kWaveBox.y + 4},       {"FREQ", kFrequencyDigits.y - 1},
        {"SUS", kSustain.y + 1},
    };
    for (const Legend& l : legend)
        engraved(c, kBig, kLegendX, l.y, l.label, kLabel);

    for (int n = 0; n < kChannelCount; ++n) {
        const int X = column_x(n);
        const int x0 = kMuteButton.x - 1 + X, w = kChannelPitch - 1;
        // The channel key: the mute region plus the lamp's first column.
        const int key_bottom = kMuteRegionBottom + 1;
        fill(c, x0, top, w, key_bottom - top, kBezelDark);
        vgradient(c, x0 + 1, top + 1, w - 2, key_bottom - top - 2, kKeyTop, kKeyBottom);
        fill(c, x0 + 1, top + 1, w - 2, 1, Rgb{140, 143, 154});
        mute_lamp(c, kMuteButton.x + X, kMuteButton.y, false);
        fill(c, kVoiceCount.x + X - 1, kVoiceCount.y - 1, kSmallSpriteWidth + 2,
             kSmallSpriteHeight + 2, kBezelDark);
        voice_pips(c, kVoiceCount.x + X, kVoiceCount.y, 0);

        // The display below it.
        const int lcd_top = key_bottom + 1;
        fill(c, x0, lcd_top, w, bottom - lcd_top, kLcd);
        fill(c, x0 + w, top, 1, bottom - top, Rgb{46, 47, 53});
        segment_bar(c, kVolumeBar.x + X, kVolumeBar.y, kNarrowBarWidth, 0, false);
        segment_bar(c, kExpressionBar.x + X, kExpressionBar.y, kNarrowBarWidth, 0, false);
        segment_bar(c, kEnvelopeBar.x + X, kEnvelopeBar.y, kNarrowBarWidth, 0, false);
        segment_bar(c, kLevelMeter.x + X, kLevelMeter.y, kMeterWidth, 0, true);
        indicator(c, kBendIndicator.x + X, kBendIndicator.y, 8);
        indicator(c, kPanIndicator.x + X, kPanIndicator.y, 8);
        text(c, kSmall, kBendIndicator.x + X + 1, kProgramDigits.y, "PG", kAmberDim);
        text(c, kSmall, kBendIndicator.x + X + 1, kBankDigits.y, "BK", kAmberDim);
        lcd_digits_blank(c, kProgramDigits.x + X, kProgramDigits.y, 3);
        lcd_digits_blank(c, kBankDigits.x + X, kBankDigits.y, 3);
        bevel(c, kWaveBox.x + X - 1, kWaveBox.y - 1, kWaveBoxWidth + 2, kWaveBoxHeight + 2,
              Rgb{96, 42, 26}, Rgb{96, 42, 26});
        fill(c, kWaveBox.x + X, kWaveBox.y, kWaveBoxWidth, kWaveBoxHeight, kPanel);
        fill(c, kWaveBox.x + X, kWaveCentreRow, kWaveBoxWidth, 1, kLight);
        lcd_digits_blank(c, kFrequencyDigits.x + X, kFrequencyDigits.y, 5);
        sustain_lamp(c, kSustain.x + X, kSustain.y, false);
        char number[3];
        std::snprintf(number, sizeof number, "%02d", n + 1);
        text(c, kBig, kSustain.x + X + kSmallSpriteWidth + 3, kSustain.y + 1, number, kAmber);
    }
}

// The face of the queue and the display; the program paints it again over what it covers.
constexpr Rgb kDisplayFace = {24, 24, 28};

// A small key above the queue: a lamp and a label in the small font.
void toggle_key(Canvas& c, int x, int y, const char* label, bool lit) {
    const int w = kToggleWidth, h = kToggleHeight;
    fill(c, x, y, w, h, kBezelDark);
    vgradient(c, x + 1, y + 1, w - 2, h - 2, lit ? kKeyLitTop : kKeyTop,
              lit ? kKeyLitBottom : kKeyBottom);
    fill(c, x + 1, y + 1, w - 2, 1, lit ? Rgb{176, 130, 86} : Rgb{140, 143, 154});
    fill(c, x + 3, y + 5, 3, 2, lit ? kAmberHot : Rgb{34, 30, 30});
    text(c, kSmall, x + 8, y + 4, label, lit ? kAmberHot : kIcon);
}

void draw_queue_panel(Canvas& c) {
    engraved(c, kBig, kQueueLabel.x, kQueueLabel.y, "QUEUE", kLabel);
    toggle_key(c, kRepeatToggle.x, kRepeatToggle.y, "REPEAT", false);
    toggle_key(c, kShuffleToggle.x, kShuffleToggle.y, "SHUFFLE", false);
    const Rect& list = kQueueList;
    well(c, list.x, list.y, list.width, list.height, kDisplayFace);
    for (int row = 1; row < kQueueRows; ++row)
        fill(c, list.x + 2, list.y + row * kQueueRowHeight + 2, list.width - 4, 1, Rgb{30, 30, 35});
}

void draw_display_panel(Canvas& c) {
    engraved(c, kBig, kTimeLabel.x, kTimeLabel.y, "TIME", kLabel);
    engraved(c, kBig, kVolumeLabel.x, kVolumeLabel.y, "VOLUME", kLabel);
    const Rect& panel = kDisplayPanel;
    well(c, panel.x, panel.y, panel.width, panel.height, kDisplayFace);
    fill(c, panel.x + 6, kDisplayDividerY, panel.width - 12, 1, Rgb{56, 58, 66});
    fill(c, kVolumeRegion.x - 3, panel.y + 4, 1, kDisplayDividerY - panel.y - 8, Rgb{56, 58, 66});
    // The volume meter's scale: a tick every tenth.
    const Rect& meter = kVolumeMeter;
    fill(c, meter.x, meter.y, meter.width, meter.height, kUnlit);
    for (int i = 0; i <= 10; ++i)
        fill(c, meter.x + (meter.width - 1) * i / 10, meter.y + meter.height, 1, 2, kLabelDim);
    // The keys, shown where the words of a song without words would be.
    struct Line {
        const char* key;
        const char* action;
    };
    const Line guide[] = {
        {"SPACE", "PLAY / PAUSE"}, {"< >", "SEEK 10 S"}, {"PGUP PGDN", "PREV / NEXT"},
        {"DROP", "OPEN SONGS"},    {"+ -", "VOLUME"},    {"CTRL+O", "OPEN"},
        {"CTRL+,", "PREFS"},       {"CTRL+Q", "QUIT"},
    };
    for (int i = 0; i < 8; ++i) {
        const Line& line = guide[i];
        const int x = kWordsArea.x + 4 + (i / 4) * 150, y = kWordsArea.y + 10 + (i % 4) * 19;
        const int kw = text_width(kBig, line.key) + 6;
        fill(c, x, y - 2, kw, 11, Rgb{58, 60, 67});
        fill(c, x, y - 2, kw, 1, Rgb{110, 112, 122});
        text(c, kBig, x + 3, y, line.key, kIcon);
        text(c, kBig, x + (i < 4 ? 66 : 48), y, line.action, kLabel);
    }
}

void draw_song_panel(Canvas& c) {
    // The song's title and copyright above the seek bar.
    well(c, kSongBox.x, kSongBox.y, kSongBox.width, kSongBox.height, kLcd);
    engraved(c, kBig, kLegendX, kSongBox.y + 4, "SONG", kLabel);
    // Seek bar well with a scale.
    well(c, kSeekBar.x, kSeekBar.y, kSeekBar.width, kSeekBar.height, kLcd);
    for (int i = 0; i <= 16; ++i) {
        const int x = kSeekBar.x + (kSeekBar.width - 1) * i / 16;
        fill(c, x, kSeekBar.y + (i % 4 == 0 ? 3 : 6), 1, i % 4 == 0 ? 9 : 3, kUnlit);
    }
    // Counters.
    const int row = kCounterRowY;
    const int counters_right = kDivisionDigitsX + 3 * kDigitWidth + 2;
    well(c, kTickGroupX[0] - 2, row - 2, counters_right - kTickGroupX[0] + 2, kDigitHeight + 4,
         kLcd);
    for (int group : kTickGroupX)
        lcd_digits_blank(c, group, row, 3);
    lcd_digits_blank(c, kTempoDigitsX, row, 3);
    lcd_digits_blank(c, kDivisionDigitsX, row, 3);
    const int label_y = row + kDigitHeight + 5;
    engraved(c, kBig, kTickGroupX[0], label_y, "TICK", kLabel);
    engraved(c, kBig, kTempoDigitsX, label_y, "BPM", kLabel);
    engraved(c, kBig, kDivisionDigitsX, label_y, "DIV", kLabel);
    // Separators between the counter groups.
    fill(c, kTempoDigitsX - 12, row - 1, 1, kDigitHeight + 2, kUnlit);
    fill(c, kDivisionDigitsX - 11, row - 1, 1, kDigitHeight + 2, kUnlit);
    // Status line.
    const Rect& s = kStatusPanel;
    engraved(c, kBig, s.x, s.y - 12, "STATUS", kLabel);
    well(c, s.x, s.y, s.width, s.height, kLcd);
    engraved(c, kSmall, s.x + s.width - text_width(kSmall, "VT-236"), s.y + s.height + 6, "VT-236",
             kLabelDim);
}

Canvas draw_skin() {
    Canvas c = make_canvas(kSkinWidth, kSkinHeight, CAIRO_FORMAT_RGB24);
    vgradient(c, 0, 0, kSkinWidth, kSkinHeight, kChassisTop, kChassisBottom);
    Noise noise;
    brush(c, 0, 0, kSkinWidth, kSkinHeight, noise);
    bevel(c, 0, 0, kSkinWidth, kSkinHeight, kRimLight, Rgb{14, 14, 16});
    draw_title_strip(c);
    draw_transport(c);
    draw_channels(c);
    draw_queue_panel(c);
    draw_display_panel(c);
    draw_song_panel(c);
    for (const Point& at : kScrews)
        screw(c, at.x, at.y);
    return c;
}

// ---- The atlas ---------------------------------------------------------------------------------

// The lit keys are drawn in transport order; the program finds some of them by name.
constexpr bool lit_key_at(Point sprite, int button) {
    return sprite.x == kLitPlaySprite.x + kButtonWidth * button && sprite.y == kLitPlaySprite.y;
}
static_assert(lit_key_at(kLitStopSprite, kStopButton) && lit_key_at(kLitPauseSprite, kPauseButton));
static_assert(lit_key_at(kLitPreviousSprite, kPreviousButton) &&
              lit_key_at(kLitNextSprite, kNextButton));

Canvas draw_atlas() {
    // Transparent where there is no sprite.
    Canvas c = make_canvas(kAtlasWidth, kAtlasHeight, CAIRO_FORMAT_ARGB32);
    for (int k = 0; k < 10; ++k)
        digit(c, kDigitOrigin.x + kDigitStep * k, kDigitOrigin.y, k);
    // Every key lit, in transport order.
    for (int b = 0; b < kTransportButtonCount; ++b)
        transport_key(c, kLitPlaySprite.x + kButtonWidth * b, kLitPlaySprite.y,
                      static_cast<Icon>(b), true);
    mute_lamp(c, kMutedSprite.x, kMutedSprite.y, true);
    mute_lamp(c, kUnmutedSprite.x, kUnmutedSprite.y, false);
    for (int k = 0; k < kVoiceCountFrames; ++k)
        voice_pips(c, kVoiceCountOrigin.x + kVoiceCountStep * k, kVoiceCountOrigin.y, k);
    sustain_lamp(c, kSustainOnSprite.x, kSustainOnSprite.y, true);
    sustain_lamp(c, kSustainOffSprite.x, kSustainOffSprite.y, false);
    for (int k = 0; k < kBarFrames; ++k) {
        segment_bar(c, kNarrowBarOrigin.x + kNarrowBarStep * k, kNarrowBarOrigin.y, kNarrowBarWidth,
                    k, false);
        segment_bar(c, kMeterOrigin.x + kMeterStep * k, kMeterOrigin.y, kMeterWidth, k, true);
    }
    for (int k = 0; k < kIndicatorFrames; ++k)
        indicator(c, kIndicatorOrigin.x + kIndicatorStep * k, kIndicatorOrigin.y, k);
    drum_icon(c, kDrumIconSprite.x, kDrumIconSprite.y);
    // The clock's glyphs on a clear ground, so they light the display's face.
    for (int k = 0; k < 10; ++k)
        text(c, kBig, kClockDigitOrigin.x + kClockDigitStep * k, kClockDigitOrigin.y,
             std::string(1, static_cast<char>('0' + k)), kAmber, 2);
    text(c, kBig, kClockColonSprite.x - 2, kClockColonSprite.y, ":", kAmber, 2);
    text(c, kBig, kClockSlashSprite.x, kClockSlashSprite.y, "/", kAmberDim, 2);
    text(c, kBig, kClockPercentSprite.x, kClockPercentSprite.y, "%", kAmber, 2);
    const char* const repeat_labels[] = {"REPEAT", "REPEAT", "REPEAT 1"};
    for (int k = 0; k < 3; ++k)
        toggle_key(c, kRepeatOrigin.x + kToggleStep * k, kRepeatOrigin.y, repeat_labels[k], k > 0);
    for (int k = 0; k < 2; ++k)
        toggle_key(c, kShuffleOrigin.x + kToggleStep * k, kShuffleOrigin.y, "SHUFFLE", k > 0);
    return c;
}

// ---- The icon ----------------------------------------------------------------------------------

const char* const kIconSvg = R"svg(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 128 128">
  <defs>
    <linearGradient id="case" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#45474f"/>
      <stop offset="1" stop-color="#26272c"/>
    </linearGradient>
  </defs>
  <rect x="8" y="8" width="112" height="112" rx="18" fill="url(#case)"/>
  <rect x="8.5" y="8.5" width="111" height="111" rx="17.5" fill="none" stroke="#70737e"/>
  <rect x="20" y="22" width="88" height="54" rx="4" fill="#1a110d" stroke="#0a0a0c" stroke-width="2"/>
  <path d="M28 62 h8 v-26 h8 v26 h8 v-18 h8 v18 h8 v-32 h8 v32 h8 v-12 h8 v12"
        fill="none" stroke="#ffb058" stroke-width="4" stroke-linejoin="miter"/>
  <g fill="#dfe0e6">
    <path d="M24 88 h10 l8 20 l8 -20 h10 l-13 26 h-10 z"/>
  </g>
  <g fill="#ffb058">
    <rect x="68" y="90" width="8" height="20" rx="2"/>
    <rect x="80" y="84" width="8" height="26" rx="2"/>
    <rect x="92" y="94" width="8" height="16" rx="2"/>
  </g>
</svg>
)svg";

bool write_png(Canvas& c, const std::string& path) {
    cairo_surface_flush(c.surface);
    const bool ok = cairo_surface_write_to_png(c.surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    if (!ok) std::fprintf(stderr, "velta-make-artwork: cannot write %s\n", path.c_str());
    cairo_destroy(c.cr);
    cairo_surface_destroy(c.surface);
    return ok;
}

bool write_text(const std::string& path, const char* content) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "velta-make-artwork: cannot write %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fputs(content, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: velta-make-artwork ASSET_DIR ICON_PATH\n");
        return 2;
    }
    const std::string dir = argv[1];
    Canvas skin = draw_skin();
    Canvas atlas = draw_atlas();
    bool ok = write_png(skin, dir + "/" + kSkinFile);
    ok = write_png(atlas, dir + "/" + kAtlasFile) && ok;
    ok = write_text(argv[2], kIconSvg) && ok;
    cairo_debug_reset_static_data();
    return ok ? 0 : 1;
}
