#include "ui/draw.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "shell/app_state.h"

namespace {

using namespace layout;

struct Colour {
    double red;
    double green;
    double blue;
};
constexpr Colour kPanelColour = {223 / 255.0, 130 / 255.0, 95 / 255.0};
constexpr Colour kPlayedColour = {178 / 255.0, 89 / 255.0, 63 / 255.0};
constexpr Colour kLightColour = {255 / 255.0, 210 / 255.0, 162 / 255.0};

constexpr const char* kTextFont = "monospace";
constexpr double kTextSize = 10.0;
constexpr const char* kEllipsis = "\xE2\x80\xA6";

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
    cairo_set_source_surface(cr, skin, 0.0, 0.0);
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

void draw_channel(cairo_t* cr, cairo_surface_t* atlas, const ChannelView& view, int n) {
    const int dx = kChannelPitch * n;
    if (atlas != nullptr) {
        blit_sprite(cr, atlas, {kMuteButton.x + dx, kMuteButton.y, kMuteWidth, kMuteHeight},
                    view.mute != 0 ? kMutedSprite : kUnmutedSprite);
        const Point bars[3] = {kVolumeBar, kExpressionBar, kEnvelopeBar};
        const int32_t values[3] = {view.volume, view.expression, view.envelope};
        for (int i = 0; i < 3; ++i) {
            blit_sprite(cr, atlas, {bars[i].x + dx, bars[i].y, kNarrowBarWidth, kBarHeight},
                        frame_of(kNarrowBarOrigin, kNarrowBarStep, bar_frame(values[i])));
        }
        blit_sprite(cr, atlas, {kLevelMeter.x + dx, kLevelMeter.y, kMeterWidth, kBarHeight},
                    frame_of(kMeterOrigin, kMeterStep, bar_frame(view.level)));
        blit_sprite(cr, atlas,
                    {kPanIndicator.x + dx, kPanIndicator.y, kIndicatorWidth, kIndicatorHeight},
                    frame_of(kIndicatorOrigin, kIndicatorStep, indicator_frame(view.pan)));
        const double bend = (view.bend + 8192) * 0.0078125;
        blit_sprite(cr, atlas,
                    {kBendIndicator.x + dx, kBendIndicator.y, kIndicatorWidth, kIndicatorHeight},
                    frame_of(kIndicatorOrigin, kIndicatorStep, indicator_frame(bend)));
        draw_digits3(cr, atlas, view.program + 1, kProgramDigits.x + dx, kProgramDigits.y);
        draw_digits3(cr, atlas, view.bank, kBankDigits.x + dx, kBankDigits.y);
        int frequency = std::clamp(view.frequency, 0, 99999);
        for (int place = 4; place >= 0; --place) { // units first
            draw_digit(cr, atlas, frequency % 10, kFrequencyDigits.x + dx + kDigitWidth * place,
                       kFrequencyDigits.y);
            frequency /= 10;
        }
    }
    if (view.drum != 0) {
        blit_sprite(cr, atlas, {kWaveBox.x + dx, kWaveBox.y, kWaveBoxWidth, kWaveBoxHeight},
                    kDrumIconSprite);
    } else {
        draw_waveform(cr, view.wave, kWaveBox.x + dx);
    }
    if (atlas == nullptr) return;
    blit_sprite(cr, atlas, {kSustain.x + dx, kSustain.y, kSmallSpriteWidth, kSmallSpriteHeight},
                view.sustain != 0 ? kSustainOnSprite : kSustainOffSprite);
    const int voices = std::clamp(view.voice_count, 0, kVoiceCountFrames - 1);
    blit_sprite(
        cr, atlas,
        {layout::kVoiceCount.x + dx, layout::kVoiceCount.y, kSmallSpriteWidth, kSmallSpriteHeight},
        frame_of(kVoiceCountOrigin, kVoiceCountStep, voices));
}

// Called in skin units; `unscaled` is the same space before the view's scale.
void draw_background(cairo_t* cr, cairo_surface_t* skin, double scale,
                     const cairo_matrix_t& unscaled) {
    if (skin == nullptr) {
        fill(cr, kPanelColour, 0, 0, kSkinWidth, kSkinHeight);
        return;
    }
    cairo_surface_t* scaled = scaled_skin(skin, scale);
    cairo_save(cr);
    if (scaled != nullptr) {
        cairo_set_matrix(cr, &unscaled); // exactly 1:1, so the copy takes the plain path
        skin = scaled;
    }
    cairo_set_source_surface(cr, skin, 0.0, 0.0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
}

void draw_seek_bar(cairo_t* cr, double position, double length) {
    if (!(length > 0.0)) return;
    const double fraction = std::clamp(position / length, 0.0, 1.0);
    const int left = kSeekBar.x;
    const int right = kSeekBar.x + kSeekBar.width;
    const int edge =
        std::clamp(static_cast<int>(std::floor(left + kSeekBar.width * fraction)), left, right);
    fill(cr, kPlayedColour, left, kSeekBar.y, edge - left, kSeekBar.height);
    fill(cr, kPanelColour, edge, kSeekBar.y, right - edge, kSeekBar.height);
}

// One line of toy-API text in the light colour; `text` must be valid UTF-8.
void draw_text_line(cairo_t* cr, const std::string& text, Point baseline, double max_width,
                    bool ellipsis) {
    if (text.empty()) return;
    cairo_save(cr);
    cairo_select_font_face(cr, kTextFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kTextSize);
    const auto width_of = [cr](std::string_view part) {
        const std::string copy(part);
        cairo_text_extents_t extents;
        cairo_text_extents(cr, copy.c_str(), &extents);
        return extents.x_advance;
    };
    const std::string shown = fit_text(text, max_width, width_of, ellipsis);
    if (!shown.empty()) {
        cairo_set_source_rgb(cr, kLightColour.red, kLightColour.green, kLightColour.blue);
        cairo_move_to(cr, baseline.x, baseline.y);
        cairo_show_text(cr, shown.c_str());
    }
    cairo_restore(cr);
}

void draw_counters(cairo_t* cr, cairo_surface_t* atlas, const DrawSnapshot& snapshot) {
    const double tick = std::max(0.0, snapshot.tick);
    const auto thousands = static_cast<int64_t>(std::floor(tick / 1000.0));
    const auto units = static_cast<int>(std::floor(std::fmod(tick, 1000.0)));
    draw_digits2(cr, atlas, static_cast<int>((thousands / 10000) % 100), kTickGroupX[0]);
    draw_digits2(cr, atlas, static_cast<int>((thousands / 100) % 100), kTickGroupX[1]);
    draw_digits2(cr, atlas, static_cast<int>(thousands % 100), kTickGroupX[2]);
    draw_digits3(cr, atlas, units, kTickGroupX[3], kCounterRowY);
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

} // namespace

ViewTransform view_transform(int width, int height) {
    double scale = std::min(width / static_cast<double>(kSkinWidth),
                            height / static_cast<double>(kSkinHeight));
    if (!(scale > 0.0)) scale = 1.0;
    return {scale, std::floor((width - kSkinWidth * scale) / 2.0),
            std::floor((height - kSkinHeight * scale) / 2.0)};
}

void blit_sprite(cairo_t* cr, cairo_surface_t* atlas, Rect dest, Point frame) {
    if (atlas == nullptr) return;
    cairo_save(cr);
    cairo_rectangle(cr, dest.x, dest.y, dest.width, dest.height);
    cairo_clip(cr);
    cairo_set_source_surface(cr, atlas, dest.x - frame.x, dest.y - frame.y);
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

void draw_digits2(cairo_t* cr, cairo_surface_t* atlas, int value, int x) {
    if (atlas == nullptr) return;
    const int shown = std::max(0, value);
    draw_digit(cr, atlas, shown % 10, x + kDigitWidth, kCounterRowY);
    draw_digit(cr, atlas, shown / 10 % 10, x, kCounterRowY);
}

ViewTransform paint_frame(cairo_t* cr, int width, int height, const DrawSnapshot& snapshot,
                          const DrawImages& images) {
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);

    const ViewTransform view = view_transform(width, height);
    cairo_save(cr);
    cairo_translate(cr, view.offset_x, view.offset_y);
    cairo_matrix_t unscaled;
    cairo_get_matrix(cr, &unscaled);
    cairo_scale(cr, view.scale, view.scale);
    // Sprites at scale 1.5 start on half pixels: whole-pixel edges keep the nearest-neighbour
    // look and let every blit take the unmasked path, several times faster.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);

    draw_background(cr, images.skin, view.scale, unscaled);
    if (snapshot.active != 0 && snapshot.paused == 0) {
        fill(cr, kLightColour, kPlayingBar.x, kPlayingBar.y, kPlayingBar.width, kPlayingBar.height);
    }
    draw_seek_bar(cr, snapshot.position, snapshot.length);
    for (int n = 0; n < layout::kChannelCount; ++n)
        draw_channel(cr, images.atlas, snapshot.channels[n], n);
    draw_text_line(cr, display_file_name(snapshot.song_path), kFileNameBaseline, kFileNameWidth,
                   false);
    draw_text_line(cr, valid_utf8(snapshot.status_text), kStatusBaseline, kStatusTextWidth, true);
    draw_counters(cr, images.atlas, snapshot);
    draw_transport_lights(cr, images.atlas, snapshot);
    cairo_restore(cr);
    return view;
}

std::string fit_text(std::string_view text, double max_width,
                     const std::function<double(std::string_view)>& width_of, bool ellipsis) {
    if (text.empty() || width_of(text) <= max_width) return std::string(text);
    // Cut points: every character start after the first character, and the end.
    std::vector<size_t> cuts;
    for (size_t i = 1; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) cuts.push_back(i);
    }
    const std::string_view tail = ellipsis ? std::string_view(kEllipsis) : std::string_view();
    const auto fits = [&](size_t cut) {
        return width_of(std::string(text.substr(0, cut)).append(tail)) <= max_width;
    };
    // Widths grow with every character added: find the last cut that still fits.
    size_t low = 0;
    size_t high = cuts.size();
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (fits(cuts[middle])) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == 0) return ellipsis && width_of(tail) <= max_width ? std::string(tail) : "";
    return std::string(text.substr(0, cuts[low - 1])).append(tail);
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

void on_draw(GtkDrawingArea*, cairo_t* cr, int width, int height, void* app_state) {
    auto& app = *static_cast<AppState*>(app_state);
    DrawSnapshot snapshot;
    take_draw_snapshot(app.player, snapshot);
    const ViewTransform view = paint_frame(cr, width, height, snapshot, {app.skin, app.atlas});
    app.view_scale = view.scale;
    app.view_offset_x = view.offset_x;
    app.view_offset_y = view.offset_y;
}
