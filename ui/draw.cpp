#include "ui/draw.h"

#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "base/clock_text.h"
#include "shell/app_state.h"
#include "ui/queue_panel.h"

namespace {

using namespace layout;

struct Colour {
    double red;
    double green;
    double blue;
};
constexpr Colour kPanelColour = {223 / 255.0, 130 / 255.0, 95 / 255.0};
constexpr Colour kLightColour = {255 / 255.0, 210 / 255.0, 162 / 255.0};
constexpr Colour kAmberColour = {255 / 255.0, 176 / 255.0, 88 / 255.0};
constexpr Colour kDimTextColour = {176 / 255.0, 124 / 255.0, 86 / 255.0};
constexpr Colour kHintColour = {116 / 255.0, 119 / 255.0, 130 / 255.0};
constexpr Colour kCurrentRowColour = {74 / 255.0, 44 / 255.0, 28 / 255.0};
// The skin's face of the queue and the display, painted again where the words cover the keys.
constexpr Colour kDisplayFaceColour = {24 / 255.0, 24 / 255.0, 28 / 255.0};

constexpr const char* kTextFamily = "Sans";

// A sixty-fourth of a skin unit: far below the third of a unit between samples at scale 1.5.
constexpr double kTieNudge = 1.0 / 64;

// Pan and bend both map 0..127 onto the 17 indicator frames.
constexpr double kIndicatorFrameScale = 0.1328197635808208;

// The skin scaled for the last view, kept on the skin surface itself so it lives and dies with
// the skin: scaling 640 x 470 pixels with the nearest filter costs more than all the sprites
// together, while a copy at 1:1 is cheap. The pixels are those of scaling on every draw, since
// the view offsets are whole pixels.
struct ScaledSkin {
    double scale;
    cairo_surface_t* surface;
};
cairo_user_data_key_t scaled_skin_key; // only its address is used

void destroy_scaled_skin(void* data) {
    auto* scaled = static_cast<ScaledSkin*>(data);
    cairo_surface_destroy(scaled->surface);
    delete scaled;
}

// Null when the scaled copy cannot be made; the caller then scales the skin itself.
cairo_surface_t* scaled_skin(cairo_surface_t* skin, double scale) {
    auto* cached = static_cast<ScaledSkin*>(cairo_surface_get_user_data(skin, &scaled_skin_key));
    if (cached != nullptr && cached->scale == scale) return cached->surface;
    const int width = static_cast<int>(std::ceil(kSkinWidth * scale));
    const int height = static_cast<int>(std::ceil(kSkinHeight * scale));
    cairo_surface_t* surface = cairo_surface_create_similar_image(
        skin, cairo_image_surface_get_format(skin), width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, skin, -kTieNudge, -kTieNudge); // the sprites' rounding
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    auto* entry = new ScaledSkin{scale, surface};
    if (cairo_surface_set_user_data(skin, &scaled_skin_key, entry, destroy_scaled_skin) !=
        CAIRO_STATUS_SUCCESS) {
        destroy_scaled_skin(entry);
        return nullptr;
    }
    return surface;
}

void fill(cairo_t* cr, Colour colour, double x, double y, double width, double height) {
    cairo_set_source_rgb(cr, colour.red, colour.green, colour.blue);
    cairo_rectangle(cr, x, y, width, height);
    cairo_fill(cr);
}

Point frame_of(Point origin, int step, int k) {
    return {origin.x + step * k, origin.y};
}

void add_key(std::string& key, int value) {
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
}
void add_key(std::string& key, const std::string& text) {
    add_key(key, static_cast<int>(text.size()));
    key += text;
}

void draw_digit(cairo_t* cr, cairo_surface_t* atlas, int digit, int x, int y) {
    blit_sprite(cr, atlas, {x, y, kDigitWidth, kDigitHeight},
                frame_of(kDigitOrigin, kDigitStep, digit));
}

int bar_frame(int32_t value) {
    return std::min(kBarFrames - 1, std::max(0, value) / 8);
}

int indicator_frame(double value) {
    return std::clamp(static_cast<int>(std::floor(value * kIndicatorFrameScale)), 0,
                      kIndicatorFrames - 1);
}

void draw_waveform(cairo_t* cr, const int8_t (&wave)[kWaveLength], int left) {
    fill(cr, kPanelColour, left, kWaveBox.y, kWaveBoxWidth, kWaveBoxHeight);
    cairo_set_source_rgb(cr, kLightColour.red, kLightColour.green, kLightColour.blue);
    for (int i = 0; i < kWaveLength; ++i) {
        const int v = wave[i] / 17; // -7 to 7, truncated toward zero
        if (v >= 1) {
            cairo_rectangle(cr, left + i, kWaveCentreRow - v, 1, v + 1);
        } else {
            cairo_rectangle(cr, left + i, kWaveCentreRow, 1, 1 - v);
        }
    }
    cairo_fill(cr);
}

// A channel strip's parts, each painted on its own so that a frame repaints only the parts that
// changed; they do not overlap.
enum class StripPart { kMute, kBars, kIndicators, kProgram, kFrequency, kWave, kSustain, kVoices };
constexpr StripPart kStripParts[] = {
    StripPart::kMute,      StripPart::kBars, StripPart::kIndicators, StripPart::kProgram,
    StripPart::kFrequency, StripPart::kWave, StripPart::kSustain,    StripPart::kVoices};

Rect strip_part_bounds(StripPart part, int n) {
    const int dx = kChannelPitch * n;
    switch (part) {
    case StripPart::kMute:
        return {kMuteButton.x + dx, kMuteButton.y, kMuteWidth, kMuteHeight};
    case StripPart::kBars:
        return {kVolumeBar.x + dx, kVolumeBar.y, kLevelMeter.x + kMeterWidth - kVolumeBar.x,
                kBarHeight};
    case StripPart::kIndicators:
        return {kBendIndicator.x + dx, kBendIndicator.y, kIndicatorWidth,
                kPanIndicator.y + kIndicatorHeight - kBendIndicator.y};
    case StripPart::kProgram:
        return {kProgramDigits.x + dx, kProgramDigits.y, 3 * kDigitWidth,
                kBankDigits.y + kDigitHeight - kProgramDigits.y};
    case StripPart::kFrequency:
        return {kFrequencyDigits.x + dx, kFrequencyDigits.y, 5 * kDigitWidth, kDigitHeight};
    case StripPart::kWave:
        return {kWaveBox.x + dx, kWaveBox.y, kWaveBoxWidth, kWaveBoxHeight};
    case StripPart::kSustain:
        return {kSustain.x + dx, kSustain.y, kSmallSpriteWidth, kSmallSpriteHeight};
    case StripPart::kVoices:
        return {layout::kVoiceCount.x + dx, layout::kVoiceCount.y, kSmallSpriteWidth,
                kSmallSpriteHeight};
    }
    return {};
}

double bend_value(const ChannelView& view) {
    return (view.bend + 8192) * 0.0078125;
}

void draw_strip_part(cairo_t* cr, cairo_surface_t* atlas, const ChannelView& view, int n,
                     StripPart part) {
    const int dx = kChannelPitch * n;
    if (atlas == nullptr && part != StripPart::kWave) return;
    switch (part) {
    case StripPart::kMute:
        blit_sprite(cr, atlas, {kMuteButton.x + dx, kMuteButton.y, kMuteWidth, kMuteHeight},
                    view.mute != 0 ? kMutedSprite : kUnmutedSprite);
        return;
    case StripPart::kBars: {
        const Point bars[3] = {kVolumeBar, kExpressionBar, kEnvelopeBar};
        const int32_t values[3] = {view.volume, view.expression, view.envelope};
        for (int i = 0; i < 3; ++i) {
            blit_sprite(cr, atlas, {bars[i].x + dx, bars[i].y, kNarrowBarWidth, kBarHeight},
                        frame_of(kNarrowBarOrigin, kNarrowBarStep, bar_frame(values[i])));
        }
        blit_sprite(cr, atlas, {kLevelMeter.x + dx, kLevelMeter.y, kMeterWidth, kBarHeight},
                    frame_of(kMeterOrigin, kMeterStep, bar_frame(view.level)));
        return;
    }
    case StripPart::kIndicators:
        blit_sprite(cr, atlas,
                    {kPanIndicator.x + dx, kPanIndicator.y, kIndicatorWidth, kIndicatorHeight},
                    frame_of(kIndicatorOrigin, kIndicatorStep, indicator_frame(view.pan)));
        blit_sprite(cr, atlas,
                    {kBendIndicator.x + dx, kBendIndicator.y, kIndicatorWidth, kIndicatorHeight},
                    frame_of(kIndicatorOrigin, kIndicatorStep, indicator_frame(bend_value(view))));
        return;
    case StripPart::kProgram:
        draw_digits3(cr, atlas, view.program + 1, kProgramDigits.x + dx, kProgramDigits.y);
        draw_digits3(cr, atlas, view.bank, kBankDigits.x + dx, kBankDigits.y);
        return;
    case StripPart::kFrequency: {
        int frequency = std::clamp(view.frequency, 0, 99999);
        for (int place = 4; place >= 0; --place) { // units first
            draw_digit(cr, atlas, frequency % 10, kFrequencyDigits.x + dx + kDigitWidth * place,
                       kFrequencyDigits.y);
            frequency /= 10;
        }
        return;
    }
    case StripPart::kWave:
        if (view.drum != 0) {
            blit_sprite(cr, atlas, {kWaveBox.x + dx, kWaveBox.y, kWaveBoxWidth, kWaveBoxHeight},
                        kDrumIconSprite);
        } else {
            draw_waveform(cr, view.wave, kWaveBox.x + dx);
        }
        return;
    case StripPart::kSustain:
        blit_sprite(cr, atlas, {kSustain.x + dx, kSustain.y, kSmallSpriteWidth, kSmallSpriteHeight},
                    view.sustain != 0 ? kSustainOnSprite : kSustainOffSprite);
        return;
    case StripPart::kVoices: {
        const int voices = std::clamp(view.voice_count, 0, kVoiceCountFrames - 1);
        blit_sprite(cr, atlas,
                    {layout::kVoiceCount.x + dx, layout::kVoiceCount.y, kSmallSpriteWidth,
                     kSmallSpriteHeight},
                    frame_of(kVoiceCountOrigin, kVoiceCountStep, voices));
        return;
    }
    }
}

// What a strip part shows, as the key of its picture.
void add_strip_key(std::string& key, const ChannelView& view, StripPart part) {
    switch (part) {
    case StripPart::kMute:
        return add_key(key, view.mute != 0);
    case StripPart::kBars:
        add_key(key, bar_frame(view.volume));
        add_key(key, bar_frame(view.expression));
        add_key(key, bar_frame(view.envelope));
        return add_key(key, bar_frame(view.level));
    case StripPart::kIndicators:
        add_key(key, indicator_frame(view.pan));
        return add_key(key, indicator_frame(bend_value(view)));
    case StripPart::kProgram:
        add_key(key, std::clamp(view.program + 1, 0, 999));
        return add_key(key, std::clamp(view.bank, 0, 999));
    case StripPart::kFrequency:
        return add_key(key, std::clamp(view.frequency, 0, 99999));
    case StripPart::kWave:
        add_key(key, view.drum != 0);
        if (view.drum == 0) key.append(reinterpret_cast<const char*>(view.wave), kWaveLength);
        return;
    case StripPart::kSustain:
        return add_key(key, view.sustain != 0);
    case StripPart::kVoices:
        return add_key(key, std::clamp(view.voice_count, 0, kVoiceCountFrames - 1));
    }
}

// Called in skin units; `unscaled` is the same space before the view's scale. The skin is scaled
// once to device pixels (the view's scale times the device's), so at a whole product every skin
// pixel covers whole device pixels.
void draw_background(cairo_t* cr, cairo_surface_t* skin, double scale, double device_scale,
                     const cairo_matrix_t& unscaled) {
    if (skin == nullptr) {
        fill(cr, kPanelColour, 0, 0, kSkinWidth, kSkinHeight);
        return;
    }
    cairo_surface_t* scaled = scaled_skin(skin, scale * device_scale);
    cairo_save(cr);
    if (scaled != nullptr) {
        cairo_set_matrix(cr, &unscaled); // exactly 1:1, so the copy takes the plain path
        if (device_scale != 1.0) cairo_scale(cr, 1.0 / device_scale, 1.0 / device_scale);
        skin = scaled;
    }
    cairo_set_source_surface(cr, skin, 0.0, 0.0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
}

double elapsed_seconds(const DrawSnapshot& snapshot) {
    return std::clamp(snapshot.position, 0.0, snapshot.length) / snapshot.rate;
}

// The played part's right edge in skin units; the left edge without a song.
int seek_bar_edge(double position, double length) {
    if (!(length > 0.0)) return kSeekBar.x;
    const double fraction = std::clamp(position / length, 0.0, 1.0);
    return std::clamp(static_cast<int>(std::floor(kSeekBar.x + kSeekBar.width * fraction)),
                      kSeekBar.x, kSeekBar.x + kSeekBar.width);
}

// The played part lights up; the rest shows the skin's dark scale.
void draw_seek_bar(cairo_t* cr, double position, double length) {
    if (!(length > 0.0)) return;
    const int edge = seek_bar_edge(position, length);
    fill(cr, kLightColour, kSeekBar.x, kSeekBar.y, edge - kSeekBar.x, kSeekBar.height);
}

struct TextStyle {
    double size; // skin units
    bool bold;
    Colour colour;
};
constexpr TextStyle kTitleStyle = {10.0, true, kLightColour};
constexpr TextStyle kCopyrightStyle = {7.5, false, kDimTextColour};
constexpr TextStyle kStatusStyle = {9.5, false, kLightColour};
constexpr TextStyle kLyricStyle = {13.0, true, kDimTextColour};
constexpr Colour kSungColour = kLightColour;
constexpr TextStyle kNextLyricStyle = {10.5, false, kDimTextColour};
constexpr TextStyle kRowStyle = {8.5, false, kDimTextColour};
constexpr TextStyle kCurrentRowStyle = {8.5, true, kLightColour};
constexpr TextStyle kHintStyle = {9.0, false, kHintColour};

enum class Align { kLeft, kRight, kCentre };

guint16 colour16(double component) {
    return static_cast<guint16>(std::lround(component * 65535.0));
}

// One line of `text` (valid UTF-8, any script) with Pango, cut with an ellipsis where it is
// wider than `width`; `x` is its left, right or centre by `align`. The first `sung` bytes are
// drawn in the sung colour.
void draw_text(cairo_t* cr, const std::string& text, int x, int baseline, int width,
               const TextStyle& style, Align align = Align::kLeft, size_t sung = 0) {
    if (text.empty()) return;
    cairo_save(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, kTextFamily);
    pango_font_description_set_weight(font, style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(font, style.size * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_width(layout, width * PANGO_SCALE);
    pango_layout_set_alignment(layout, align == Align::kLeft    ? PANGO_ALIGN_LEFT
                                       : align == Align::kRight ? PANGO_ALIGN_RIGHT
                                                                : PANGO_ALIGN_CENTER);
    pango_layout_set_text(layout, text.c_str(), -1);
    if (sung > 0) {
        PangoAttrList* attributes = pango_attr_list_new();
        PangoAttribute* bright = pango_attr_foreground_new(
            colour16(kSungColour.red), colour16(kSungColour.green), colour16(kSungColour.blue));
        bright->start_index = 0;
        bright->end_index = static_cast<guint>(std::min(sung, text.size()));
        pango_attr_list_insert(attributes, bright);
        pango_layout_set_attributes(layout, attributes);
        pango_attr_list_unref(attributes);
    }
    const int left = align == Align::kLeft ? x : align == Align::kRight ? x - width : x - width / 2;
    cairo_set_source_rgb(cr, style.colour.red, style.colour.green, style.colour.blue);
    cairo_move_to(cr, left, baseline - pango_layout_get_baseline(layout) / double(PANGO_SCALE));
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    cairo_restore(cr);
}

void draw_counters(cairo_t* cr, cairo_surface_t* atlas, const DrawSnapshot& snapshot) {
    const double tick = std::min(std::max(0.0, snapshot.tick), 999999999.0);
    const auto count = static_cast<int64_t>(std::floor(tick));
    draw_digits3(cr, atlas, static_cast<int>(count / 1000000), kTickGroupX[0], kCounterRowY);
    draw_digits3(cr, atlas, static_cast<int>(count / 1000 % 1000), kTickGroupX[1], kCounterRowY);
    draw_digits3(cr, atlas, static_cast<int>(count % 1000), kTickGroupX[2], kCounterRowY);
    draw_digits3(cr, atlas, snapshot.bpm_shown, kTempoDigitsX, kCounterRowY);
    draw_digits3(cr, atlas, snapshot.division_shown, kDivisionDigitsX, kCounterRowY);
}

void draw_transport_lights(cairo_t* cr, cairo_surface_t* atlas, const DrawSnapshot& snapshot) {
    if (atlas == nullptr) return;
    const auto light = [&](int button, Point sprite) {
        blit_sprite(cr, atlas,
                    {transport_button_left(button), kTransportTop, kButtonWidth, kButtonHeight},
                    sprite);
    };
    if (snapshot.active != 0 && snapshot.paused == 0) light(kPlayButton, kLitPlaySprite);
    if (snapshot.active == 0) light(kStopButton, kLitStopSprite);
    if (snapshot.paused != 0) light(kPauseButton, kLitPauseSprite);
}

// Elapsed and total time.
void draw_clock_texts(cairo_t* cr, cairo_surface_t* atlas, const DrawSnapshot& snapshot) {
    if (snapshot.length > 0.0 && snapshot.rate > 0) {
        const ClockText elapsed = clock_text(elapsed_seconds(snapshot));
        const ClockText total = clock_text(snapshot.length / snapshot.rate);
        draw_clock(cr, atlas, elapsed.text, kElapsedClockRight - clock_width(elapsed.text),
                   kClockTop);
        blit_sprite(cr, atlas, {kClockSlashX, kClockTop, kClockDigitWidth, kClockGlyphHeight},
                    kClockSlashSprite);
        draw_clock(cr, atlas, total.text, kTotalClockLeft, kClockTop);
    }
}

int volume_percent(double volume) {
    return static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100.0));
}

// The volume in per cent with its meter.
void draw_volume(cairo_t* cr, cairo_surface_t* atlas, double volume) {
    const int percent = volume_percent(volume);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%3d", percent);
    draw_clock(cr, atlas, digits, kVolumeDigitsX, kClockTop);
    blit_sprite(
        cr, atlas,
        {kVolumeDigitsX + 3 * kClockDigitStep, kClockTop, kClockDigitWidth, kClockGlyphHeight},
        kClockPercentSprite);
    fill(cr, kAmberColour, kVolumeMeter.x, kVolumeMeter.y,
         std::floor(kVolumeMeter.width * percent / 100.0), kVolumeMeter.height);
}

void draw_song_text(cairo_t* cr, const FrameText& text, const DrawSnapshot& snapshot) {
    const std::string title =
        text.title.empty() ? display_file_name(snapshot.song_path) : text.title;
    draw_text(cr, title, kTitleBaseline.x, kTitleBaseline.y, kSongTextWidth, kTitleStyle);
    draw_text(cr, text.copyright, kCopyrightBaseline.x, kCopyrightBaseline.y, kSongTextWidth,
              kCopyrightStyle);
    if (!text.has_words) return;
    fill(cr, kDisplayFaceColour, kWordsArea.x, kWordsArea.y, kWordsArea.width, kWordsArea.height);
    draw_text(cr, text.lyric, kLyricBaseline.x, kLyricBaseline.y, kLyricWidth, kLyricStyle,
              Align::kLeft, text.lyric_sung);
    draw_text(cr, text.next_lyric, kNextLyricBaseline.x, kNextLyricBaseline.y, kLyricWidth,
              kNextLyricStyle);
}

void draw_queue(cairo_t* cr, cairo_surface_t* atlas, const FrameText& text) {
    blit_sprite(cr, atlas, {kRepeatToggle.x, kRepeatToggle.y, kToggleWidth, kToggleHeight},
                frame_of(kRepeatOrigin, kToggleStep, std::clamp(text.repeat, 0, 2)));
    blit_sprite(cr, atlas, {kShuffleToggle.x, kShuffleToggle.y, kToggleWidth, kToggleHeight},
                frame_of(kShuffleOrigin, kToggleStep, text.shuffle ? 1 : 0));
    const Rect& list = kQueueList;
    if (text.queue.empty()) {
        draw_text(cr, "Drop songs or folders here", list.x + list.width / 2, list.y + 64,
                  list.width - 16, kHintStyle, Align::kCentre);
        return;
    }
    const int left = list.x + kQueueTextInset, right = list.x + list.width - kQueueTextInset;
    const int length_width = 34;
    const int rows = std::min<int>(kQueueRows, static_cast<int>(text.queue.size()));
    for (int i = 0; i < rows; ++i) {
        const QueueRow& row = text.queue[i];
        const int top = list.y + 1 + i * kQueueRowHeight;
        if (row.current) fill(cr, kCurrentRowColour, list.x + 1, top, list.width - 2, 12);
        if (row.selected) {
            cairo_set_source_rgb(cr, kAmberColour.red, kAmberColour.green, kAmberColour.blue);
            cairo_rectangle(cr, list.x + 1.5, top + 0.5, list.width - 3, 11);
            cairo_set_line_width(cr, 1.0);
            cairo_stroke(cr);
        }
        const TextStyle& style = row.current ? kCurrentRowStyle : kRowStyle;
        draw_text(cr, row.title, left, top + 9, right - left - length_width - 4, style);
        draw_text(cr, row.length, right, top + 9, length_width, style, Align::kRight);
    }
}

} // namespace

ViewTransform view_transform(int width, int height, double device_scale) {
    double scale = std::min(width / static_cast<double>(kSkinWidth),
                            height / static_cast<double>(kSkinHeight));
    if (!(scale > 0.0)) scale = 1.0;
    if (!(device_scale > 0.0)) device_scale = 1.0;
    // The offsets on whole device pixels, so the prescaled skin is copied 1:1.
    const auto offset = [&](int extent, int skin) {
        return std::floor((extent - skin * scale) / 2.0 * device_scale) / device_scale;
    };
    return {scale, offset(width, kSkinWidth), offset(height, kSkinHeight)};
}

void blit_sprite(cairo_t* cr, cairo_surface_t* atlas, Rect dest, Point frame) {
    if (atlas == nullptr) return;
    cairo_save(cr);
    cairo_rectangle(cr, dest.x, dest.y, dest.width, dest.height);
    cairo_clip(cr);
    // Where a device pixel's centre falls exactly between two atlas pixels (every other one at
    // scale 1.5) the filter's fixed-point steps would pick one by the target's origin, which
    // differs between a whole frame and a repainted part: a nudge picks the later one everywhere,
    // as the prescaled skin does, so sprites and skin share one grid.
    cairo_set_source_surface(cr, atlas, dest.x - frame.x - kTieNudge, dest.y - frame.y - kTieNudge);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
}

void draw_digits3(cairo_t* cr, cairo_surface_t* atlas, int value, int x, int y) {
    if (atlas == nullptr) return;
    const int shown = std::clamp(value, 0, 999);
    draw_digit(cr, atlas, shown % 10, x + 2 * kDigitWidth, y);
    draw_digit(cr, atlas, shown / 10 % 10, x + kDigitWidth, y);
    draw_digit(cr, atlas, shown / 100, x, y);
}

std::vector<PictureElement> picture_elements(const DrawSnapshot& snapshot, const DrawImages& images,
                                             const FrameText& text) {
    std::vector<PictureElement> elements;
    elements.reserve(8 + layout::kChannelCount * std::size(kStripParts));
    cairo_surface_t* atlas = images.atlas;
    const auto add = [&](Rect bounds, std::string key, std::function<void(cairo_t*)> paint) {
        elements.push_back({bounds, std::move(key), std::move(paint)});
    };
    const bool playing = snapshot.active != 0 && snapshot.paused == 0;
    add(kPlayingBar, playing ? "1" : "0", [playing](cairo_t* cr) {
        if (playing) {
            fill(cr, kLightColour, kPlayingBar.x, kPlayingBar.y, kPlayingBar.width,
                 kPlayingBar.height);
        }
    });
    std::string key;
    add_key(key, seek_bar_edge(snapshot.position, snapshot.length));
    add(kSeekBar, key, [&](cairo_t* cr) { draw_seek_bar(cr, snapshot.position, snapshot.length); });
    for (int n = 0; n < layout::kChannelCount; ++n) {
        const ChannelView& view = snapshot.channels[n];
        for (StripPart part : kStripParts) {
            key.clear();
            add_strip_key(key, view, part);
            add(strip_part_bounds(part, n), key, [atlas, &view, n, part](cairo_t* cr) {
                draw_strip_part(cr, atlas, view, n, part);
            });
        }
    }
    // Everything draw_song_text reads.
    key.clear();
    add_key(key, text.title.empty() ? display_file_name(snapshot.song_path) : text.title);
    add_key(key, text.copyright);
    add_key(key, text.has_words);
    if (text.has_words) {
        add_key(key, text.lyric);
        add_key(key, text.next_lyric);
        add_key(key, static_cast<int>(text.lyric_sung));
    }
    // Two places, each painting only its own part, so that neither covers the queue.
    for (const Rect& area : {kSongBox, kWordsArea}) {
        add(area, key, [&, area](cairo_t* cr) {
            cairo_save(cr);
            cairo_rectangle(cr, area.x, area.y, area.width, area.height);
            cairo_clip(cr);
            draw_song_text(cr, text, snapshot);
            cairo_restore(cr);
        });
    }
    std::string status = valid_utf8(snapshot.status_text);
    add(kStatusPanel, status, [status](cairo_t* cr) {
        draw_text(cr, status, kStatusBaseline.x, kStatusBaseline.y, kStatusTextWidth, kStatusStyle);
    });
    key.clear();
    add_key(key, static_cast<int>(std::floor(std::min(std::max(0.0, snapshot.tick), 999999999.0))));
    add_key(key, snapshot.bpm_shown);
    add_key(key, snapshot.division_shown);
    add({kTickGroupX[0], kCounterRowY, kDivisionDigitsX + 3 * kDigitWidth - kTickGroupX[0],
         kDigitHeight},
        key, [&, atlas](cairo_t* cr) { draw_counters(cr, atlas, snapshot); });
    key.clear();
    add_key(key, snapshot.active != 0);
    add_key(key, snapshot.paused != 0);
    add({transport_button_left(kPlayButton), kTransportTop,
         transport_button_left(kPauseButton) + kButtonWidth - transport_button_left(kPlayButton),
         kButtonHeight},
        key, [&, atlas](cairo_t* cr) { draw_transport_lights(cr, atlas, snapshot); });
    key.clear();
    if (snapshot.length > 0.0 && snapshot.rate > 0) {
        add_key(key, clock_text(elapsed_seconds(snapshot)).text);
        add_key(key, clock_text(snapshot.length / snapshot.rate).text);
    }
    add({kDisplayPanel.x, kClockTop, kVolumeDigitsX - kDisplayPanel.x, kClockGlyphHeight}, key,
        [&, atlas](cairo_t* cr) { draw_clock_texts(cr, atlas, snapshot); });
    key.clear();
    add_key(key, volume_percent(text.volume));
    add({kVolumeDigitsX, kClockTop, kVolumeMeter.width,
         kVolumeMeter.y + kVolumeMeter.height - kClockTop},
        key, [&, atlas](cairo_t* cr) { draw_volume(cr, atlas, text.volume); });
    // Everything draw_queue reads.
    key.clear();
    add_key(key, text.repeat);
    add_key(key, text.shuffle);
    for (const QueueRow& row : text.queue) {
        add_key(key, row.title);
        add_key(key, row.length);
        add_key(key, row.current * 2 + row.selected);
    }
    add({kQueueList.x, kRepeatToggle.y, kQueueList.width,
         kQueueList.y + kQueueList.height - kRepeatToggle.y},
        key, [&, atlas](cairo_t* cr) { draw_queue(cr, atlas, text); });
    return elements;
}

cairo_matrix_t enter_skin_space(cairo_t* cr, const ViewTransform& view) {
    cairo_translate(cr, view.offset_x, view.offset_y);
    cairo_matrix_t unscaled;
    cairo_get_matrix(cr, &unscaled);
    cairo_scale(cr, view.scale, view.scale);
    // Sprites at scale 1.5 start on half pixels: whole-pixel edges keep the nearest-neighbour
    // look and let every blit take the unmasked path, several times faster.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    return unscaled;
}

void paint_skin(cairo_t* cr, cairo_surface_t* skin, const ViewTransform& view,
                double device_scale) {
    cairo_save(cr);
    const cairo_matrix_t unscaled = enter_skin_space(cr, view);
    draw_background(cr, skin, view.scale, device_scale, unscaled);
    cairo_restore(cr);
}

ViewTransform paint_frame(cairo_t* cr, int width, int height, const DrawSnapshot& snapshot,
                          const DrawImages& images, const FrameText& text, double device_scale) {
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);

    const ViewTransform view = view_transform(width, height, device_scale);
    paint_skin(cr, images.skin, view, device_scale);
    cairo_save(cr);
    enter_skin_space(cr, view);
    for (const PictureElement& element : picture_elements(snapshot, images, text))
        element.paint(cr);
    cairo_restore(cr);
    return view;
}

int clock_width(const char* text) {
    int width = 0;
    for (const char* c = text; *c != '\0'; ++c)
        width += *c == ':' ? kClockColonStep : kClockDigitStep;
    return width > 0 ? width - (kClockDigitStep - kClockDigitWidth) : 0;
}

int draw_clock(cairo_t* cr, cairo_surface_t* atlas, const char* text, int x, int y) {
    int at = x;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == ':') {
            blit_sprite(cr, atlas, {at, y, kClockColonWidth, kClockGlyphHeight}, kClockColonSprite);
            at += kClockColonStep;
            continue;
        }
        if (*c >= '0' && *c <= '9') {
            blit_sprite(cr, atlas, {at, y, kClockDigitWidth, kClockGlyphHeight},
                        frame_of(kClockDigitOrigin, kClockDigitStep, *c - '0'));
        }
        at += kClockDigitStep; // a space keeps a digit's place
    }
    return clock_width(text);
}

std::string display_file_name(const char* path) {
    if (path == nullptr || path[0] == '\0' || g_str_has_suffix(path, "/")) return {};
    gchar* name = g_filename_display_basename(path);
    std::string result = name != nullptr ? name : "";
    g_free(name);
    return result;
}

std::string valid_utf8(const char* text) {
    gchar* valid = g_utf8_make_valid(text, -1);
    std::string result = valid;
    g_free(valid);
    return result;
}

FrameText frame_text(const AppState& app, const DrawSnapshot& snapshot) {
    FrameText text;
    text.volume = app.volume;
    text.title = app.words.title;
    text.copyright = app.words.copyright;
    if (!app.words.lines.empty()) {
        LyricView lines = lyric_lines_at(app.words, snapshot.position);
        text.has_words = true;
        text.lyric = std::move(lines.current);
        text.next_lyric = std::move(lines.next);
        text.lyric_sung = lines.sung;
    }
    text.repeat = static_cast<int>(app.queue.repeat);
    text.shuffle = app.queue.shuffle;
    text.queue = queue_rows(app);
    if (text.queue.empty() && snapshot.length > 0.0) { // a song opened from outside the queue
        QueueRow row;
        row.title = text.title.empty() ? display_file_name(snapshot.song_path) : text.title;
        row.length = snapshot.rate > 0 ? clock_text(snapshot.length / snapshot.rate).text : "";
        row.current = true;
        text.queue.push_back(std::move(row));
    }
    return text;
}
