#include "ui/input.h"

#include <algorithm>
#include <cmath>

#include <string>
#include <vector>

#include "shell/app_state.h"
#include "ui/actions.h"
#include "ui/queue_panel.h"
#include "ui/regions.h"

namespace {

void redraw(AppState& app) {
    if (app.surface != nullptr) gtk_widget_queue_draw(GTK_WIDGET(app.surface));
}

std::optional<regions::SkinPoint> skin_point(const AppState& app, double x, double y) {
    return regions::to_skin(x, y, app.view_scale, app.view_offset_x, app.view_offset_y);
}

// Undecorated, the window is moved by dragging the skin and resized by its corner's grip; the
// toolkit asks the window manager to carry on the drag. `resize`: the grip's drag.
void begin_window_drag(AppState& app, GtkGestureClick* gesture, double x, double y, bool resize) {
    if (app.window == nullptr || gesture == nullptr) return;
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(app.window));
    if (surface == nullptr || !GDK_IS_TOPLEVEL(surface)) return;
    GdkDevice* device = gtk_gesture_get_device(GTK_GESTURE(gesture));
    if (device == nullptr) return;
    guint button = gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture));
    if (button == 0) button = 1;
    const guint32 time = gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(gesture));
    if (resize) {
        gdk_toplevel_begin_resize(GDK_TOPLEVEL(surface), GDK_SURFACE_EDGE_SOUTH_EAST, device,
                                  static_cast<int>(button), x, y, time);
    } else {
        gdk_toplevel_begin_move(GDK_TOPLEVEL(surface), device, static_cast<int>(button), x, y,
                                time);
    }
}

void toggle_maximised(AppState& app) {
    GtkWindow* window = GTK_WINDOW(app.window);
    if (gtk_window_is_maximized(window))
        gtk_window_unmaximize(window);
    else
        gtk_window_maximize(window);
}

bool over_queue(regions::SkinPoint point) {
    return regions::hit_region(point).region == regions::Region::kQueueRow;
}

void seek_to(AppState& app, double skin_x) {
    activate_action(app, "seek-to", g_variant_new_double(regions::seek_bar_fraction(skin_x)));
}

// A press on row `row` of the view: the panel takes the keys and that song plays; the rows
// below the last song play nothing.
void activate_queue_row(AppState& app, int row) {
    auto& panel = app.queue_panel;
    panel.focused = true;
    const int32_t index = queue_panel_top(app) + row;
    if (row < 0 || index >= static_cast<int32_t>(app.queue.entries.size())) return;
    panel.selected = index;
    activate_action(app, "play-entry", g_variant_new_int32(index));
}

// Keys while the panel has them: Up and Down choose, Enter plays, Delete removes, Escape
// gives the keys back. False for every other key, or when the panel does not have them.
bool queue_panel_key(AppState& app, unsigned keyval) {
    auto& panel = app.queue_panel;
    if (!panel.focused) return false;
    const int32_t count = static_cast<int32_t>(app.queue.entries.size());
    switch (keyval) {
    case GDK_KEY_Up:
    case GDK_KEY_Down: {
        if (count == 0) return true;
        const int32_t from = panel.selected >= 0 ? panel.selected : queue_current(app.queue);
        const int32_t step = keyval == GDK_KEY_Up ? -1 : 1;
        panel.selected = from < 0 ? 0 : std::clamp(from + step, 0, count - 1);
        show_queue_entry(app, panel.selected);
        return true;
    }
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        if (panel.selected >= 0 && panel.selected < count)
            activate_action(app, "play-entry", g_variant_new_int32(panel.selected));
        return true;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
        if (panel.selected >= 0 && panel.selected < count) {
            activate_action(app, "remove-entry", g_variant_new_int32(panel.selected));
            panel.selected =
                std::min(panel.selected, static_cast<int32_t>(app.queue.entries.size()) - 1);
        }
        return true;
    case GDK_KEY_Escape:
        panel.focused = false;
        return true;
    default:
        return false;
    }
}

} // namespace

void on_press(GtkGestureClick* gesture, int press_count, double x, double y, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    if (press_count != 1) return;
    const auto point = skin_point(app, x, y);
    if (!point) return;
    const regions::Hit hit = regions::hit_region(*point);
    using regions::Region;
    // Keys go back to the window once the pointer presses anywhere but the queue.
    if (hit.region != Region::kQueueRow) app.queue_panel.focused = false;
    switch (hit.region) {
    case Region::kNone:
        return;
    case Region::kMoveWindow:
        begin_window_drag(app, gesture, x, y, false);
        return;
    case Region::kResizeGrip:
        begin_window_drag(app, gesture, x, y, true);
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
        activate_action(
            app, "repeat",
            g_variant_new_string(repeat_mode_name(repeat_mode_after(app.queue.repeat))));
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
    const auto point = skin_point(app, x, y);
    app.queue_panel.pointer_over = point && over_queue(*point);
    // Outside the skin the drag stays active but does not seek.
    if (app.seek_drag_active == 0 || !point) return;
    seek_to(app, point->x);
}

void on_leave(GtkEventControllerMotion*, gpointer data) {
    static_cast<AppState*>(data)->queue_panel.pointer_over = false;
}

void add_recent_song(const char* path) {
    gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
    if (uri != nullptr) gtk_recent_manager_add_item(gtk_recent_manager_get_default(), uri);
    g_free(uri);
}

bool open_files(AppState& app, GSList* files, bool append, FirstSong first) {
    std::vector<std::string> paths;
    bool local = false;
    for (GSList* item = files; item != nullptr; item = item->next) {
        gchar* path = item->data != nullptr ? g_file_get_path(G_FILE(item->data)) : nullptr;
        if (path == nullptr) continue;
        local = true;
        if (path[0] != '\0') {
            if (!g_file_test(path, G_FILE_TEST_IS_DIR)) add_recent_song(path);
            paths.emplace_back(path);
        }
        g_free(path);
    }
    if (!paths.empty()) {
        QueueOpen how;
        how.append = append;
        how.first_song = append ? FirstSong::kNothing : first;
        queue_open(app, std::move(paths), how);
    }
    redraw(app);
    return local;
}

GSList* dropped_files(const GValue* value) {
    if (value == nullptr) return nullptr;
    if (G_VALUE_HOLDS(value, GDK_TYPE_FILE_LIST))
        return gdk_file_list_get_files(static_cast<GdkFileList*>(g_value_get_boxed(value)));
    if (G_VALUE_HOLDS(value, G_TYPE_FILE) && g_value_get_object(value) != nullptr)
        return g_slist_prepend(nullptr, g_value_get_object(value));
    return nullptr;
}

gboolean on_drop(GtkDropTarget*, const GValue* value, double x, double y, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    GSList* files = dropped_files(value);
    if (files == nullptr) return FALSE;
    // On the queue the songs join its end; anywhere else they replace it.
    const auto point = skin_point(app, x, y);
    const bool taken = open_files(app, files, point && over_queue(*point));
    g_slist_free(files);
    return taken ? TRUE : FALSE;
}

gboolean on_key_pressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType,
                        gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    if (queue_panel_key(app, keyval)) {
        redraw(app);
        return TRUE;
    }
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
    auto& app = *static_cast<AppState*>(data);
    if (dy == 0.0) return FALSE;
    if (app.queue_panel.pointer_over) { // a notch moves three rows
        scroll_queue_panel(app, static_cast<int>(dy > 0 ? std::ceil(dy * 3) : std::floor(dy * 3)));
        redraw(app);
        return TRUE;
    }
    // Up (a negative dy) is louder; a smooth wheel gives fractions of a notch.
    activate_action(app, "volume-by", g_variant_new_double(-dy * kVolumeStep));
    return TRUE;
}
