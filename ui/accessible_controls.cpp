#include "ui/accessible_controls.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "base/clock_text.h"
#include "sequencer/draw_snapshot.h"
#include "shell/app_state.h"
#include "ui/actions.h"
#include "ui/draw.h"
#include "ui/queue_panel.h"
#include "ui/style_sheet.h"

namespace {

using regions::Hit;
using regions::Region;

// Nothing of the widgets is drawn but the focus ring, in the skin's amber. The toolkit's minimum
// sizes go too, so that a control fits its region at any scale.
constexpr const char* kStyleSheet =
    ".velta-control, .velta-control * {  background: none;  border: none;  box-shadow: none;  "
    "outline: none;  margin: 0;  padding: 0;  min-width: 0;  min-height: 0;  color: transparent;  "
    "font-size: 1px;  -gtk-icon-size: 0;}"
    ".velta-control:focus-visible {  outline: 1px solid #ffb058;  outline-offset: -1px;}";

constexpr guint kUpdateIntervalMs = 200;

struct TransportControl {
    layout::TransportButton button;
    Region region;
    const char* name;
    const char* action;
    const char* key_action;
};

// Left to right on the skin, which is also the order Tab visits them.
constexpr TransportControl kTransport[layout::kTransportButtonCount] = {
    {layout::kPlayButton, Region::kPlay, "Play", "play", "app.play-pause"},
    {layout::kOpenButton, Region::kOpen, "Open MIDI", "open", "app.open"},
    {layout::kStopButton, Region::kStop, "Stop", "stop", "app.stop"},
    {layout::kPauseButton, Region::kPause, "Pause", "pause", "app.play-pause"},
    {layout::kWavButton, Region::kWavExport, "Export WAV", "export", "app.export"},
    {layout::kPrefsButton, Region::kPreferences, "Preferences", "preferences", "app.preferences"},
    {layout::kPreviousButton, Region::kPrevious, "Previous", "previous", "app.previous"},
    {layout::kNextButton, Region::kNext, "Next", "next", "app.next"},
};

struct Controls {
    AppState* app = nullptr;
    GtkWidget* overlay = nullptr;
    std::array<GtkWidget*, layout::kTransportButtonCount> transport = {};
    std::array<GtkWidget*, layout::kChannelCount> mute = {};
    std::array<GtkWidget*, layout::kChannelCount> solo = {};
    GtkWidget* seek = nullptr;
    GtkWidget* volume = nullptr;
    GtkWidget* repeat = nullptr;
    GtkWidget* shuffle = nullptr;
    GtkWidget* queue = nullptr;
    std::array<GtkWidget*, layout::kQueueRows> rows = {};
    GtkWidget* title = nullptr;
    GtkWidget* words = nullptr;
    GtkWidget* status = nullptr;
    guint timer = 0;
    bool updating = false; // the sliders' values are being set from the Player
    // What the widgets last said, so that a screen reader hears only changes.
    std::array<int, layout::kTransportButtonCount> pressed = {};
    std::array<int, layout::kChannelCount> muted = {};
    std::array<int, layout::kChannelCount> soloed = {};
    std::array<std::string, layout::kQueueRows> row_text = {};
    std::array<int, layout::kQueueRows> row_current = {};
    std::string seek_text;
    std::string volume_text;
    std::string repeat_text;
    std::string title_text;
    std::string words_text;
    std::string status_text;
    int shuffled = -1;
};

// Where each overlay widget sits, in skin units (GObject data of the widget).
constexpr const char* kRectKey = "velta-skin-rect";

void place(GtkWidget* widget, layout::Rect rect) {
    auto* copy = g_new(layout::Rect, 1);
    *copy = rect;
    g_object_set_data_full(G_OBJECT(widget), kRectKey, copy, g_free);
}

gboolean on_child_position(GtkOverlay* overlay, GtkWidget* widget, GdkRectangle* allocation,
                           gpointer) {
    const auto* rect =
        static_cast<const layout::Rect*>(g_object_get_data(G_OBJECT(widget), kRectKey));
    if (rect == nullptr) return FALSE;
    // The same transform as the picture's, from the size the picture is given.
    const ViewTransform view = view_transform(gtk_widget_get_width(GTK_WIDGET(overlay)),
                                              gtk_widget_get_height(GTK_WIDGET(overlay)));
    int height = rect->height;
    if (g_object_get_data(G_OBJECT(widget), "velta-queue") != nullptr) {
        // The list is as tall as its songs; its rows share it evenly.
        int shown = 0;
        for (GtkWidget* row = gtk_widget_get_first_child(widget); row != nullptr;
             row = gtk_widget_get_next_sibling(row))
            shown += gtk_widget_get_visible(row) ? 1 : 0;
        height = shown * layout::kQueueRowHeight;
    }
    const double x = view.offset_x + rect->x * view.scale;
    const double y = view.offset_y + rect->y * view.scale;
    allocation->x = static_cast<int>(std::lround(x));
    allocation->y = static_cast<int>(std::lround(y));
    allocation->width =
        std::max(1, static_cast<int>(std::lround(x + rect->width * view.scale)) - allocation->x);
    allocation->height =
        std::max(1, static_cast<int>(std::lround(y + height * view.scale)) - allocation->y);
    return TRUE;
}

void set_label(GtkWidget* widget, const std::string& text) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   text.c_str(), -1);
}

GtkWidget* new_widget(GType type, GtkAccessibleRole role, const std::string& name,
                      const std::string& tooltip) {
    GtkWidget* widget = GTK_WIDGET(g_object_new(type, "accessible-role", role, nullptr));
    gtk_widget_add_css_class(widget, "velta-control");
    gtk_widget_set_can_target(widget, FALSE);
    set_label(widget, name);
    if (!tooltip.empty()) {
        gtk_widget_set_tooltip_text(widget, tooltip.c_str());
        // Newer toolkits no longer pass the tooltip on as the description by themselves.
        gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                       tooltip.c_str(), -1);
    }
    return widget;
}

void add_over(Controls& controls, GtkWidget* widget, layout::Rect rect) {
    place(widget, rect);
    gtk_overlay_add_overlay(GTK_OVERLAY(controls.overlay), widget);
}

void update_controls(Controls& controls);

// A control's action, then its state at once rather than at the next update.
void activate(Controls& controls, const char* action, GVariant* parameter = nullptr) {
    activate_action(*controls.app, action, parameter);
    update_controls(controls);
}

void on_transport_clicked(GtkButton* button, gpointer data) {
    const auto* control =
        static_cast<const TransportControl*>(g_object_get_data(G_OBJECT(button), "velta-control"));
    activate(*static_cast<Controls*>(data), control->action);
}

int channel_of(GtkButton* button) {
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "velta-channel"));
}

void on_mute_clicked(GtkButton* button, gpointer data) {
    activate(*static_cast<Controls*>(data), "toggle-mute", g_variant_new_int32(channel_of(button)));
}

void on_solo_clicked(GtkButton* button, gpointer data) {
    activate(*static_cast<Controls*>(data), "solo", g_variant_new_int32(channel_of(button)));
}

// The repeat mode the `repeat` action holds: 0 off, 1 the queue, 2 one song; -1 without it.
int repeat_state(const AppState& app) {
    GVariant* state =
        app.actions != nullptr ? g_action_group_get_action_state(app.actions, "repeat") : nullptr;
    if (state == nullptr) return -1;
    int mode = -1;
    if (g_variant_is_of_type(state, G_VARIANT_TYPE_STRING)) {
        const char* name = g_variant_get_string(state, nullptr);
        mode = g_str_equal(name, "queue") ? 1 : g_str_equal(name, "one") ? 2 : 0;
    }
    g_variant_unref(state);
    return mode;
}

void on_repeat_clicked(GtkButton*, gpointer data) {
    auto& controls = *static_cast<Controls*>(data);
    // Off, the queue, one song, off again: what a click on the skin's toggle does.
    static constexpr const char* kNext[] = {"queue", "one", "off"};
    const int mode = repeat_state(*controls.app);
    if (mode < 0)
        activate(controls, "repeat-cycle");
    else
        activate(controls, "repeat", g_variant_new_string(kNext[mode]));
}

void on_shuffle_clicked(GtkButton*, gpointer data) {
    activate(*static_cast<Controls*>(data), "shuffle");
}

// A row of the view: the entry is the view's first one plus the row.
void on_row_clicked(GtkButton* button, gpointer data) {
    auto& controls = *static_cast<Controls*>(data);
    const int row = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "velta-row"));
    activate(controls, "play-entry", g_variant_new_int32(queue_panel_top(*controls.app) + row));
}

void on_seek_changed(GtkRange* range, gpointer data) {
    auto& controls = *static_cast<Controls*>(data);
    if (controls.updating) return;
    const double upper = gtk_adjustment_get_upper(gtk_range_get_adjustment(range));
    if (!(upper > 0.0)) return;
    activate(controls, "seek-to", g_variant_new_double(gtk_range_get_value(range) / upper));
}

void on_volume_changed(GtkRange* range, gpointer data) {
    auto& controls = *static_cast<Controls*>(data);
    if (controls.updating || controls.app->actions == nullptr) return;
    g_action_group_change_action_state(controls.app->actions, "volume",
                                       g_variant_new_double(gtk_range_get_value(range) / 100.0));
    update_controls(controls);
}

void set_checked(GtkWidget* widget, int& last, bool on) {
    if (last == static_cast<int>(on)) return;
    last = on;
    gtk_accessible_update_state(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_STATE_CHECKED,
                                on ? GTK_ACCESSIBLE_TRISTATE_TRUE : GTK_ACCESSIBLE_TRISTATE_FALSE,
                                -1);
}

void set_pressed(GtkWidget* widget, int& last, bool on) {
    if (last == static_cast<int>(on) + 1) return;
    last = static_cast<int>(on) + 1;
    gtk_accessible_update_state(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_STATE_PRESSED,
                                on ? GTK_ACCESSIBLE_TRISTATE_TRUE : GTK_ACCESSIBLE_TRISTATE_FALSE,
                                -1);
}

void set_text(GtkWidget* widget, std::string& last, const std::string& text) {
    if (last == text) return;
    last = text;
    set_label(widget, text);
}

void set_value_text(GtkWidget* widget, std::string& last, const std::string& text) {
    if (last == text) return;
    last = text;
    // Also in the description: not every bridge passes the value text on (GTK 4.8's does not).
    const char* tooltip = gtk_widget_get_tooltip_text(widget);
    const std::string description = std::string(tooltip != nullptr ? tooltip : "") + ": " + text;
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_VALUE_TEXT,
                                   text.c_str(), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                   description.c_str(), -1);
}

void set_range(GtkWidget* widget, double upper, double value) {
    GtkAdjustment* adjustment = gtk_range_get_adjustment(GTK_RANGE(widget));
    if (gtk_adjustment_get_upper(adjustment) != upper) gtk_adjustment_set_upper(adjustment, upper);
    if (std::fabs(gtk_range_get_value(GTK_RANGE(widget)) - value) >= 0.5)
        gtk_range_set_value(GTK_RANGE(widget), value);
}

std::string with_prefix(const char* prefix, const std::string& text) {
    return text.empty() ? std::string(prefix) : std::string(prefix) + ": " + text;
}

void update_controls(Controls& controls) {
    AppState& app = *controls.app;
    DrawSnapshot snapshot;
    take_draw_snapshot(app.player, snapshot);
    const FrameText text = frame_text(app, snapshot);
    controls.updating = true;

    const bool loaded = snapshot.length > 0.0;
    const bool playing = snapshot.active != 0 && snapshot.paused == 0;
    set_pressed(controls.transport[layout::kPlayButton], controls.pressed[layout::kPlayButton],
                playing);
    set_pressed(controls.transport[layout::kPauseButton], controls.pressed[layout::kPauseButton],
                snapshot.active != 0 && snapshot.paused != 0);
    set_pressed(controls.transport[layout::kStopButton], controls.pressed[layout::kStopButton],
                snapshot.active == 0);

    int muted_count = 0;
    for (int channel = 0; channel < layout::kChannelCount; ++channel)
        muted_count += snapshot.channels[channel].mute != 0 ? 1 : 0;
    for (int channel = 0; channel < layout::kChannelCount; ++channel) {
        const bool muted = snapshot.channels[channel].mute != 0;
        set_checked(controls.mute[channel], controls.muted[channel], muted);
        // Soloed: the one channel heard.
        set_checked(controls.solo[channel], controls.soloed[channel],
                    !muted && muted_count == layout::kChannelCount - 1);
    }

    const double rate = snapshot.rate > 0 ? snapshot.rate : 1.0;
    const double length = loaded ? snapshot.length / rate : 0.0;
    const double position = loaded ? std::clamp(snapshot.position / rate, 0.0, length) : 0.0;
    set_range(controls.seek, std::max(length, 1.0), position);
    set_value_text(controls.seek, controls.seek_text, seek_value_text(position, length));

    const int percent = static_cast<int>(std::lround(std::clamp(text.volume, 0.0, 1.0) * 100.0));
    set_range(controls.volume, 100.0, percent);
    char volume_text[16];
    std::snprintf(volume_text, sizeof volume_text, "%d %%", percent);
    set_value_text(controls.volume, controls.volume_text, volume_text);

    static constexpr const char* kRepeatModes[] = {"off", "the queue", "one song"};
    const int repeat = repeat_state(app);
    set_text(controls.repeat, controls.repeat_text,
             std::string("Repeat: ") +
                 kRepeatModes[std::clamp(repeat < 0 ? text.repeat : repeat, 0, 2)]);
    bool shuffle = text.shuffle;
    if (GVariant* state = app.actions != nullptr
                              ? g_action_group_get_action_state(app.actions, "shuffle")
                              : nullptr) {
        if (g_variant_is_of_type(state, G_VARIANT_TYPE_BOOLEAN))
            shuffle = g_variant_get_boolean(state) != FALSE;
        g_variant_unref(state);
    }
    set_checked(controls.shuffle, controls.shuffled, shuffle);

    bool rows_changed = false;
    for (int row = 0; row < layout::kQueueRows; ++row) {
        GtkWidget* widget = controls.rows[row];
        const bool shown = row < static_cast<int>(text.queue.size());
        if (gtk_widget_get_visible(widget) != shown) {
            gtk_widget_set_visible(widget, shown);
            rows_changed = true;
        }
        if (!shown) continue;
        const QueueRow& entry = text.queue[row];
        set_text(widget, controls.row_text[row],
                 entry.length.empty() ? entry.title : entry.title + ", " + entry.length);
        if (controls.row_current[row] != static_cast<int>(entry.current) + 1) {
            controls.row_current[row] = static_cast<int>(entry.current) + 1;
            gtk_accessible_update_state(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_STATE_SELECTED,
                                        entry.current ? TRUE : FALSE, -1);
        }
    }
    if (rows_changed) gtk_widget_queue_allocate(controls.overlay);

    set_text(controls.title, controls.title_text,
             with_prefix("Song",
                         text.title.empty() ? display_file_name(snapshot.song_path) : text.title));
    set_text(controls.words, controls.words_text,
             with_prefix("Words", text.has_words ? text.lyric : std::string()));
    set_text(controls.status, controls.status_text,
             with_prefix("Status", valid_utf8(snapshot.status_text)));
    controls.updating = false;
}

gboolean on_update_tick(gpointer data) {
    update_controls(*static_cast<Controls*>(data));
    return G_SOURCE_CONTINUE;
}

void on_overlay_destroy(GtkWidget*, gpointer data) {
    auto* controls = static_cast<Controls*>(data);
    if (controls->timer != 0) g_source_remove(controls->timer);
    delete controls;
}

gboolean on_query_tooltip(GtkWidget* widget, int x, int y, gboolean keyboard, GtkTooltip* tooltip,
                          gpointer data) {
    const AppState& app = *static_cast<Controls*>(data)->app;
    if (keyboard) return FALSE;
    const ViewTransform view =
        view_transform(gtk_widget_get_width(widget), gtk_widget_get_height(widget));
    const auto point = regions::to_skin(x, y, view.scale, view.offset_x, view.offset_y);
    if (!point) return FALSE;
    const Hit hit = regions::hit_region(*point);
    const ControlName name = control_name(hit);
    if (name.name.empty()) return FALSE;
    gtk_tooltip_set_text(tooltip, control_tooltip(app.application, name).c_str());
    // A new tooltip once the pointer leaves the region.
    const layout::Rect rect = control_rect(hit);
    GdkRectangle area = {
        static_cast<int>(view.offset_x + rect.x * view.scale),
        static_cast<int>(view.offset_y + rect.y * view.scale),
        std::max(1, static_cast<int>(rect.width * view.scale)),
        std::max(1, static_cast<int>(rect.height * view.scale)),
    };
    gtk_tooltip_set_tip_area(tooltip, &area);
    return TRUE;
}

GtkWidget* new_button(Controls& controls, GtkAccessibleRole role, regions::Hit hit) {
    const ControlName name = control_name(hit);
    GtkWidget* button = new_widget(GTK_TYPE_BUTTON, role, name.name,
                                   control_tooltip(controls.app->application, name));
    add_over(controls, button, control_rect(hit));
    return button;
}

GtkWidget* new_slider(Controls& controls, regions::Hit hit, double step,
                      void (*on_changed)(GtkRange*, gpointer)) {
    const ControlName name = control_name(hit);
    GtkWidget* scale = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0.0, 1.0, 1.0);
    gtk_range_set_increments(GTK_RANGE(scale), step, step * 2);
    gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
    gtk_widget_add_css_class(scale, "velta-control");
    gtk_widget_set_can_target(scale, FALSE);
    set_label(scale, name.name);
    gtk_widget_set_tooltip_text(scale, control_tooltip(controls.app->application, name).c_str());
    g_signal_connect(scale, "value-changed", G_CALLBACK(on_changed), &controls);
    add_over(controls, scale, control_rect(hit));
    return scale;
}

GtkWidget* new_text(Controls& controls, GtkAccessibleRole role, layout::Rect rect,
                    const char* tooltip) {
    // No text of its own to draw: the name carries it.
    GtkWidget* label = new_widget(GTK_TYPE_LABEL, role, "", tooltip);
    add_over(controls, label, rect);
    return label;
}

void build_queue(Controls& controls) {
    using namespace layout;
    GtkWidget* list = new_widget(GTK_TYPE_BOX, GTK_ACCESSIBLE_ROLE_LIST, "Queue", "Queue");
    gtk_orientable_set_orientation(GTK_ORIENTABLE(list), GTK_ORIENTATION_VERTICAL);
    gtk_box_set_homogeneous(GTK_BOX(list), TRUE);
    g_object_set_data(G_OBJECT(list), "velta-queue", GINT_TO_POINTER(1));
    for (int row = 0; row < kQueueRows; ++row) {
        GtkWidget* button = new_widget(GTK_TYPE_BUTTON, GTK_ACCESSIBLE_ROLE_LIST_ITEM, "",
                                       "A song of the queue (Enter plays it)");
        g_object_set_data(G_OBJECT(button), "velta-row", GINT_TO_POINTER(row));
        g_signal_connect(button, "clicked", G_CALLBACK(on_row_clicked), &controls);
        gtk_widget_set_visible(button, FALSE);
        gtk_box_append(GTK_BOX(list), button);
        controls.rows[row] = button;
    }
    controls.queue = list;
    add_over(controls, list, control_rect({Region::kQueueRow, -1, 0}));
}

} // namespace

ControlName control_name(Hit hit) {
    for (const TransportControl& control : kTransport)
        if (control.region == hit.region) return {control.name, control.key_action, nullptr};
    switch (hit.region) {
    case Region::kSeekBar:
        return {"Position", "app.seek-by(-10.0)", "app.seek-by(10.0)"};
    case Region::kVolume:
        return {"Volume", "app.volume-by(0.05)", "app.volume-by(-0.05)"};
    case Region::kRepeat:
        return {"Repeat", "app.repeat-cycle"};
    case Region::kShuffle:
        return {"Shuffle", "app.shuffle"};
    case Region::kQueueRow:
        return {"Queue", nullptr};
    case Region::kMute:
        if (hit.channel < 0 || hit.channel >= layout::kChannelCount) return {};
        return {"Channel " + std::to_string(hit.channel + 1) + " mute (Shift+click: solo)",
                nullptr};
    case Region::kMinimise:
        return {"Minimise", nullptr};
    case Region::kMaximise:
        return {"Maximise", nullptr};
    case Region::kClose:
        return {"Quit", "app.quit"};
    default:
        return {};
    }
}

layout::Rect control_rect(Hit hit) {
    using namespace layout;
    for (const TransportControl& control : kTransport) {
        if (control.region == hit.region)
            return {transport_button_left(control.button), kTransportTop, kButtonWidth,
                    kTransportBottom - kTransportTop};
    }
    switch (hit.region) {
    case Region::kSeekBar:
        return kSeekBar;
    case Region::kVolume:
        return kVolumeRegion;
    case Region::kRepeat:
        return {kRepeatToggle.x, kRepeatToggle.y, kToggleWidth, kToggleHeight};
    case Region::kShuffle:
        return {kShuffleToggle.x, kShuffleToggle.y, kToggleWidth, kToggleHeight};
    case Region::kQueueRow:
        return {kQueueList.x, kQueueList.y + 1, kQueueList.width, kQueueRows * kQueueRowHeight};
    case Region::kMute:
        if (hit.channel < 0 || hit.channel >= layout::kChannelCount) return {};
        return {layout::kMuteRegionLeft + layout::kChannelPitch * hit.channel, kMuteRegionTop,
                kMuteRegionWidth, kMuteRegionBottom - kMuteRegionTop};
    case Region::kMinimise:
        return {kMinimiseLeft, kTitleStripTop, kMaximiseLeft - kMinimiseLeft,
                kTitleStripBottom - kTitleStripTop};
    case Region::kMaximise:
        return {kMaximiseLeft, kTitleStripTop, kCloseLeft - kMaximiseLeft,
                kTitleStripBottom - kTitleStripTop};
    case Region::kClose:
        return {kCloseLeft, kTitleStripTop, kCloseRight - kCloseLeft,
                kTitleStripBottom - kTitleStripTop};
    default:
        return {};
    }
}

std::string control_tooltip(GtkApplication* application, const ControlName& name) {
    std::string keys;
    for (const char* action : {name.key_action, name.other_key_action}) {
        if (application == nullptr || action == nullptr) continue;
        gchar** accels = gtk_application_get_accels_for_action(application, action);
        guint key = 0;
        GdkModifierType mods = GdkModifierType(0);
        if (accels != nullptr && accels[0] != nullptr &&
            gtk_accelerator_parse(accels[0], &key, &mods)) {
            gchar* label = gtk_accelerator_get_label(key, mods);
            if (!keys.empty()) keys += ", ";
            keys += label;
            g_free(label);
        }
        g_strfreev(accels);
    }
    return keys.empty() ? name.name : name.name + " (" + keys + ")";
}

std::string seek_value_text(double position_seconds, double length_seconds) {
    if (!(length_seconds > 0.0)) return "No song";
    return std::string(clock_text(position_seconds).text) + " of " +
           clock_text(length_seconds).text;
}

GtkWidget* build_accessible_controls(AppState& app, GtkWidget* picture) {
    add_style_sheet(kStyleSheet, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    auto* controls = new Controls{};
    controls->app = &app;
    controls->muted.fill(-1);
    controls->soloed.fill(-1);
    GtkWidget* overlay = gtk_overlay_new();
    controls->overlay = overlay;
    gtk_overlay_set_child(GTK_OVERLAY(overlay), picture);
    g_signal_connect(overlay, "get-child-position", G_CALLBACK(on_child_position), nullptr);
    g_signal_connect(overlay, "destroy", G_CALLBACK(on_overlay_destroy), controls);

    for (const TransportControl& control : kTransport) {
        GtkWidget* button = new_button(*controls, GTK_ACCESSIBLE_ROLE_BUTTON, {control.region});
        g_object_set_data(G_OBJECT(button), "velta-control",
                          const_cast<TransportControl*>(&control));
        g_signal_connect(button, "clicked", G_CALLBACK(on_transport_clicked), controls);
        controls->transport[control.button] = button;
    }
    controls->seek = new_slider(*controls, {Region::kSeekBar}, 10.0, on_seek_changed);
    controls->volume = new_slider(*controls, {Region::kVolume}, 5.0, on_volume_changed);
    controls->repeat = new_button(*controls, GTK_ACCESSIBLE_ROLE_BUTTON, {Region::kRepeat});
    g_signal_connect(controls->repeat, "clicked", G_CALLBACK(on_repeat_clicked), controls);
    controls->shuffle = new_button(*controls, GTK_ACCESSIBLE_ROLE_CHECKBOX, {Region::kShuffle});
    g_signal_connect(controls->shuffle, "clicked", G_CALLBACK(on_shuffle_clicked), controls);
    build_queue(*controls);
    for (int channel = 0; channel < layout::kChannelCount; ++channel) {
        const Hit hit{Region::kMute, channel};
        const std::string number = std::to_string(channel + 1);
        GtkWidget* mute = new_widget(GTK_TYPE_BUTTON, GTK_ACCESSIBLE_ROLE_CHECKBOX,
                                     "Channel " + number + " mute", control_name(hit).name);
        GtkWidget* solo =
            new_widget(GTK_TYPE_BUTTON, GTK_ACCESSIBLE_ROLE_CHECKBOX, "Channel " + number + " solo",
                       "Channel " + number + " solo (Shift+click)");
        for (GtkWidget* widget : {mute, solo}) {
            g_object_set_data(G_OBJECT(widget), "velta-channel", GINT_TO_POINTER(channel + 1));
            add_over(*controls, widget, control_rect(hit));
        }
        g_signal_connect(mute, "clicked", G_CALLBACK(on_mute_clicked), controls);
        g_signal_connect(solo, "clicked", G_CALLBACK(on_solo_clicked), controls);
        controls->mute[channel] = mute;
        controls->solo[channel] = solo;
    }
    controls->title = new_text(*controls, GTK_ACCESSIBLE_ROLE_LABEL, layout::kSongBox, "Song");
    controls->words = new_text(*controls, GTK_ACCESSIBLE_ROLE_LABEL, layout::kWordsArea, "Words");
    controls->status =
        new_text(*controls, GTK_ACCESSIBLE_ROLE_LABEL, layout::kStatusPanel, "Status");

    gtk_widget_set_has_tooltip(picture, TRUE);
    g_signal_connect(picture, "query-tooltip", G_CALLBACK(on_query_tooltip), controls);
    update_controls(*controls);
    controls->timer = g_timeout_add(kUpdateIntervalMs, on_update_tick, controls);
    return overlay;
}
