#include "app/application.h"

#include <algorithm>
#include <cstdio>
#include <gtk/gtk.h>

#include "app/app_state.h"
#include "app/audio_watch.h"
#include "app/initial_song.h"
#include "song/midi_reader.h"
#include "synth/synth.h"

namespace {

constexpr const char* kApplicationId = "io.github.velta.Velta";
constexpr int kWindowWidth = 960;
constexpr int kWindowHeight = 705;
constexpr double kSkinWidth = 640.0;
constexpr double kSkinHeight = 470.0;

const GOptionEntry kOptions[] = {
    {"version", '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr, "Show the program version",
     nullptr},
    {nullptr, '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
};

// Start-up steps that need the synthesizer and the sound server; they run only once the
// command line has been accepted, in the instance that will show the window.
void start_engine(AppState& app) {
    synth_init(app.player, app.prefs.output_frequency_hz);
    {
        std::lock_guard<std::mutex> guard(app.player.lock);
        synth_select_instrument_set(app.player.synth, app.prefs.instrument_set);
    }
    start_audio(app);
    // Also when the start failed: a daemon that appears later is picked up.
    start_audio_watch(app);
}

gint on_handle_local_options(GApplication*, GVariantDict* options, gpointer) {
    if (g_variant_dict_contains(options, "version")) {
        printf("velta %s\n", VELTA_VERSION);
        return 0;
    }
    return -1;
}

void on_startup(GApplication*, gpointer data) {
    start_engine(*static_cast<AppState*>(data));
}

void on_window_destroy(GtkWidget*, gpointer data) {
    auto* app = static_cast<AppState*>(data);
    app->window = nullptr;
    app->surface = nullptr;
}

void on_draw(GtkDrawingArea*, cairo_t* cr, int width, int height, gpointer data) {
    auto* app = static_cast<AppState*>(data);
    const double scale = std::min(width / kSkinWidth, height / kSkinHeight);
    app->view_scale = scale;
    app->view_offset_x = (width - kSkinWidth * scale) / 2.0;
    app->view_offset_y = (height - kSkinHeight * scale) / 2.0;

    cairo_set_source_rgb(cr, 18 / 255.0, 18 / 255.0, 24 / 255.0);
    cairo_paint(cr);
    if (app->skin == nullptr) return;
    cairo_save(cr);
    cairo_translate(cr, app->view_offset_x, app->view_offset_y);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, app->skin, 0.0, 0.0);
    cairo_paint(cr);
    cairo_restore(cr);
}

gboolean on_redraw_tick(gpointer data) {
    auto* app = static_cast<AppState*>(data);
    if (app->surface != nullptr) gtk_widget_queue_draw(GTK_WIDGET(app->surface));
    return G_SOURCE_CONTINUE;
}

// A file handed over once the window is up: the same as dropping it on the window.
void open_later_file(AppState& app, GFile* file) {
    gchar* path = file != nullptr ? g_file_get_path(file) : nullptr;
    if (path != nullptr && path[0] != '\0') load_song(app.player, path);
    g_free(path);
    if (app.surface != nullptr) gtk_widget_queue_draw(GTK_WIDGET(app.surface));
}

void on_open(GApplication* application, GFile** files, gint n_files, const gchar*, gpointer data) {
    auto* app = static_cast<AppState*>(data);
    if (app->window == nullptr) {
        if (n_files > 0) remember_initial_song(*app, files[0]);
        g_application_activate(application);
        return;
    }
    if (n_files > 0) open_later_file(*app, files[0]);
    gtk_window_present(GTK_WINDOW(app->window));
}

} // namespace

void restart_redraw_timer(AppState& app) {
    if (app.redraw_timer_id != 0) {
        g_source_remove(app.redraw_timer_id);
        app.redraw_timer_id = 0;
    }
    const int32_t interval = redraw_interval_ms(app.prefs.redraw_timing_fps);
    app.redraw_timer_id = g_timeout_add(static_cast<guint>(interval), on_redraw_tick, &app);
}

void on_activate(GtkApplication* application, AppState* app) {
    // A second launch without a file only brings the existing window forward.
    if (app->window != nullptr) {
        gtk_window_present(GTK_WINDOW(app->window));
        return;
    }
    app->application = application;

    GtkWidget* window = gtk_application_window_new(application);
    app->window = GTK_APPLICATION_WINDOW(window);
    gtk_window_set_title(GTK_WINDOW(window), "VELTA");
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window), kWindowWidth, kWindowHeight);
    gtk_widget_add_css_class(window, "velta-window");
    g_signal_connect(window, "destroy", G_CALLBACK(on_window_destroy), app);

    GtkWidget* area = gtk_drawing_area_new();
    app->surface = GTK_DRAWING_AREA(area);
    gtk_widget_set_focusable(area, TRUE);
    gtk_drawing_area_set_content_width(app->surface, kWindowWidth);
    gtk_drawing_area_set_content_height(app->surface, kWindowHeight);
    gtk_drawing_area_set_draw_func(app->surface, on_draw, app, nullptr);
    gtk_widget_add_css_class(area, "velta-surface");

    gtk_window_set_child(GTK_WINDOW(window), area);
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_grab_focus(area);

    load_first_song(*app);
    restart_redraw_timer(*app);
}

int run_application(AppState& app, int argc, char** argv) {
    GtkApplication* application = gtk_application_new(kApplicationId, G_APPLICATION_HANDLES_OPEN);
    g_application_add_main_option_entries(G_APPLICATION(application), kOptions);
    g_application_set_option_context_parameter_string(G_APPLICATION(application), "[FILE]");
    g_application_set_option_context_summary(
        G_APPLICATION(application), "Plays a Standard MIDI File on a chiptune synthesizer.");
    g_signal_connect(application, "handle-local-options", G_CALLBACK(on_handle_local_options),
                     &app);
    g_signal_connect(application, "startup", G_CALLBACK(on_startup), &app);
    g_signal_connect(application, "activate", G_CALLBACK(on_activate), &app);
    g_signal_connect(application, "open", G_CALLBACK(on_open), &app);
    const int status = g_application_run(G_APPLICATION(application), argc, argv);
    g_object_unref(application);
    return status;
}
