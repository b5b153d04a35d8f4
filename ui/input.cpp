#include "ui/input.h"

#include <mutex>

#include "app/app_state.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "ui/export_dialog.h"
#include "ui/file_dialog.h"
#include "ui/prefs_dialog.h"
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

void toggle_maximised(AppState& app) {
    GtkWindow* window = GTK_WINDOW(app.window);
    if (gtk_window_is_maximized(window))
        gtk_window_unmaximize(window);
    else
        gtk_window_maximize(window);
}

void toggle_mute(AppState& app, int channel) {
    std::lock_guard<std::mutex> guard(app.player.lock);
    int32_t& mute = app.player.synth.channels[channel].mute;
    mute = mute == 0 ? 1 : 0;
}

bool player_active(AppState& app) {
    std::lock_guard<std::mutex> guard(app.player.lock);
    return app.player.active;
}

bool arrow_seek(AppState& app, bool forward) {
    uint64_t length = 0;
    std::optional<uint64_t> target;
    {
        std::lock_guard<std::mutex> guard(app.player.lock);
        length = app.player.song.length_frames;
        target = regions::arrow_seek_target(app.player.position, length, app.player.output_rate,
                                            forward);
    }
    if (!target) return false;
    seek_fraction(app.player, static_cast<double>(*target) / static_cast<double>(length));
    redraw(app);
    return true;
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
    case Region::kMinimise:
        if (app.window != nullptr) gtk_window_minimize(GTK_WINDOW(app.window));
        return;
    case Region::kMaximise:
        if (app.window != nullptr) toggle_maximised(app);
        return;
    case Region::kClose:
        if (app.window != nullptr) gtk_window_close(GTK_WINDOW(app.window));
        return;
    case Region::kSeekBar:
        app.seek_drag_active = 1;
        seek_fraction(app.player, regions::seek_bar_fraction(point->x));
        break;
    case Region::kPlay:
        start_playback(app.player);
        break;
    case Region::kOpen:
        open_file_dialog(app);
        break;
    case Region::kStop:
        stop_playback(app.player);
        break;
    case Region::kPause:
        toggle_pause(app.player);
        break;
    case Region::kWavExport:
        export_wav_button(app);
        break;
    case Region::kPreferences:
        prefs_dialog_open(app);
        break;
    case Region::kMute:
        toggle_mute(app, hit.channel);
        break;
    }
    redraw(app);
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
    seek_fraction(app.player, regions::seek_bar_fraction(point->x));
    redraw(app);
}

bool load_local_file(AppState& app, GFile* file) {
    gchar* path = g_file_get_path(file);
    if (path == nullptr) return false;
    if (path[0] != '\0') load_song(app.player, path);
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

gboolean on_key_pressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                        gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    // The window has no menu: the usual shortcuts for opening a file and quitting.
    if ((state & GDK_CONTROL_MASK) != 0 && (keyval == GDK_KEY_o || keyval == GDK_KEY_O)) {
        open_file_dialog(app);
        redraw(app);
        return TRUE;
    }
    if ((state & GDK_CONTROL_MASK) != 0 && (keyval == GDK_KEY_q || keyval == GDK_KEY_Q)) {
        if (app.window != nullptr) gtk_window_close(GTK_WINDOW(app.window));
        return TRUE;
    }
    switch (keyval) {
    case GDK_KEY_space:
        // toggle_pause checks `active` again under the lock.
        if (player_active(app))
            toggle_pause(app.player);
        else
            start_playback(app.player);
        redraw(app);
        return TRUE;
    case GDK_KEY_Left:
        return arrow_seek(app, false) ? TRUE : FALSE;
    case GDK_KEY_Right:
        return arrow_seek(app, true) ? TRUE : FALSE;
    default:
        return FALSE;
    }
}
