#include "ui/window.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

#include "shell/app_state.h"
#include "ui/accessible_controls.h"
#include "ui/draw.h"
#include "ui/input.h"
#include "ui/layout.h"
#include "ui/picture.h"
#include "ui/redraw_timer.h"
#include "ui/regions.h"
#include "ui/style_sheet.h"

namespace {

// Every element is painted by the picture: window, its children and the drawing area stay
// transparent.
constexpr const char* kStyleSheet =
    "window.velta-window, window.velta-window > *, .velta-surface {  background: transparent;  "
    "background-color: transparent;}";

void on_window_destroy(GtkWidget*, gpointer data) {
    auto* app = static_cast<AppState*>(data);
    // No timer tick may queue a draw on the destroyed area.
    stop_redraw_timer(*app);
    app->window = nullptr;
    app->surface = nullptr;
}

void connect_input(GtkWidget* window, GtkWidget* area, AppState& app) {
    GtkGesture* click = gtk_gesture_click_new();
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), GDK_BUTTON_PRIMARY);
    g_signal_connect(click, "pressed", G_CALLBACK(on_press), &app);
    g_signal_connect(click, "released", G_CALLBACK(on_release), &app);
    gtk_widget_add_controller(area, GTK_EVENT_CONTROLLER(click));
    GtkEventController* motion = gtk_event_controller_motion_new();
    g_signal_connect(motion, "motion", G_CALLBACK(on_motion), &app);
    g_signal_connect(motion, "leave", G_CALLBACK(on_leave), &app);
    gtk_widget_add_controller(area, motion);
    // Several files and folders come as a file list; a single file from some sources as a file.
    GtkDropTarget* drop = gtk_drop_target_new(G_TYPE_INVALID, GDK_ACTION_COPY);
    GType drop_types[] = {GDK_TYPE_FILE_LIST, G_TYPE_FILE};
    gtk_drop_target_set_gtypes(drop, drop_types, G_N_ELEMENTS(drop_types));
    g_signal_connect(drop, "drop", G_CALLBACK(on_drop), &app);
    gtk_widget_add_controller(area, GTK_EVENT_CONTROLLER(drop));
    GtkEventController* wheel =
        gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_VERTICAL);
    g_signal_connect(wheel, "scroll", G_CALLBACK(on_scroll), &app);
    gtk_widget_add_controller(area, wheel);
    // Space and the arrow keys act before any focused widget could take them; the other keys are
    // the actions' accelerators.
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(on_key_pressed), &app);
    gtk_widget_add_controller(window, keys);
}

// Room left for panels where the window manager does not say where they are.
constexpr int kPanelMargin = 48;

// The first monitor's work area (logical pixels) and scale; false without a monitor.
bool work_area(GdkDisplay* display, GdkRectangle& area, int& scale) {
    if (display == nullptr) return false;
    GListModel* monitors = gdk_display_get_monitors(display);
    auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, 0));
    if (monitor == nullptr) return false;
    gdk_monitor_get_geometry(monitor, &area);
    scale = gdk_monitor_get_scale_factor(monitor);
    bool known = false;
#ifdef GDK_WINDOWING_X11
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (GDK_IS_X11_DISPLAY(display) &&
        gdk_x11_screen_supports_net_wm_hint(gdk_x11_display_get_screen(display), "_NET_WORKAREA")) {
        gdk_x11_monitor_get_workarea(monitor, &area);
        known = true;
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
#endif
    if (!known) {
        area.width -= kPanelMargin;
        area.height -= kPanelMargin;
    }
    g_object_unref(monitor);
    return true;
}

} // namespace

void build_main_window(GtkApplication* application, AppState& app) {
    add_style_sheet(kStyleSheet, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    GtkWidget* window = gtk_application_window_new(application);
    app.window = GTK_APPLICATION_WINDOW(window);
    gtk_window_set_title(GTK_WINDOW(window), "VELTA");
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    // Undecorated: the title strip's maximise button and the grip in the corner change the size.
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
    GdkRectangle area;
    int scale = 1;
    regions::WindowSize size = {layout::kWindowWidth, layout::kWindowHeight};
    if (work_area(gtk_widget_get_display(window), area, scale))
        size = regions::fitted_window_size(area.width, area.height, scale);
    gtk_window_set_default_size(GTK_WINDOW(window), size.width, size.height);
    gtk_widget_add_css_class(window, "velta-window");
    g_signal_connect(window, "destroy", G_CALLBACK(on_window_destroy), &app);

    GtkWidget* picture = picture_new(app);
    app.surface = GTK_DRAWING_AREA(picture);
    // The skin at 1:1 is the smallest window.
    gtk_drawing_area_set_content_width(app.surface, layout::kSkinWidth);
    gtk_drawing_area_set_content_height(app.surface, layout::kSkinHeight);
    gtk_widget_add_css_class(picture, "velta-surface");
    connect_input(window, picture, app);

    // The keyboard focus goes to the controls laid over the picture, in reading order; the
    // picture itself takes none, and the window's capture-phase keys work with any focus.
    gtk_window_set_child(GTK_WINDOW(window), build_accessible_controls(app, picture));
    gtk_window_present(GTK_WINDOW(window));
}
