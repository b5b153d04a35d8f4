#include "app/application.h"

#include <algorithm>
#include <cstdio>
#include <gtk/gtk.h>

#include "app/app_state.h"
#include "app/audio_watch.h"
#include "app/initial_song.h"
#include "app/mpris.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"
#include "ui/draw.h"
#include "ui/export_dialog.h"
#include "ui/input.h"
#include "ui/redraw_timer.h"

namespace {

constexpr const char* kApplicationId = "io.github.velta.Velta";
constexpr int kWindowWidth = 960;
constexpr int kWindowHeight = 705;
// Every element is painted by on_draw: window, its children and the drawing area stay transparent.
constexpr const char* kStyleSheet =
    "window.velta-window, window.velta-window > *, .velta-surface {  background: transparent;  "
    "background-color: transparent;}";

const GOptionEntry kOptions[] = {
    {"version", '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr, "Show the program version",
     nullptr},
    {"play", '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr,
     "Start playing FILE at once (in the running window, if there is one)", nullptr},
    {G_OPTION_REMAINING, '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_FILENAME_ARRAY, nullptr, nullptr,
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

// Main-thread work that follows the redraw timer: the export's progress and the desktop's
// media controls.
void on_tick(AppState& app) {
    export_poll(app);
    mpris_poll(app);
}

// --play travels to a running instance as the open hint, so the file plays there too.
constexpr const char* kPlayHint = "play";

// File names are taken here rather than by the default handling, so that a second launch can
// send --play along with them as the open hint.
gint on_handle_local_options(GApplication* application, GVariantDict* options, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    if (g_variant_dict_contains(options, "version")) {
        printf("velta %s\n", VELTA_VERSION);
        return 0;
    }
    const bool play = g_variant_dict_contains(options, "play");
    if (play) app.play_on_open = 1;
    const gchar** names = nullptr;
    if (!g_variant_dict_lookup(options, G_OPTION_REMAINING, "^a&ay", &names)) return -1;
    if (names == nullptr || names[0] == nullptr ||
        !g_application_register(application, nullptr, nullptr)) {
        g_free(names);
        return -1;
    }
    GFile* file = g_file_new_for_commandline_arg(names[0]);
    g_free(names);
    if (!g_application_get_is_remote(application)) {
        // The first instance: activation loads it.
        remember_initial_song(app, file);
        g_object_unref(file);
        return -1;
    }
    g_application_open(application, &file, 1, play ? kPlayHint : "");
    g_object_unref(file);
    return 0;
}

// Starts the song just loaded; a failed load keeps its message.
void play_if_loaded(AppState& app) {
    bool loaded = false;
    {
        std::lock_guard<std::mutex> guard(app.player.lock);
        loaded = !app.player.song.events.empty();
    }
    if (loaded) start_playback(app.player);
}

void on_startup(GApplication*, gpointer data) {
    start_engine(*static_cast<AppState*>(data));
}

void on_window_destroy(GtkWidget*, gpointer data) {
    auto* app = static_cast<AppState*>(data);
    // No timer tick may queue a draw on the destroyed area.
    stop_redraw_timer(*app);
    app->window = nullptr;
    app->surface = nullptr;
}

// A file handed over once the window is up: the same as dropping it on the window.
void open_later_file(AppState& app, GFile* file, bool play) {
    gchar* path = file != nullptr ? g_file_get_path(file) : nullptr;
    if (path != nullptr && path[0] != '\0' && load_song(app.player, path) && play)
        start_playback(app.player);
    g_free(path);
    if (app.surface != nullptr) gtk_widget_queue_draw(GTK_WIDGET(app.surface));
}

void on_open(GApplication* application, GFile** files, gint n_files, const gchar* hint,
             gpointer data) {
    auto* app = static_cast<AppState*>(data);
    if (app->window == nullptr) {
        if (n_files > 0) remember_initial_song(*app, files[0]);
        g_application_activate(application);
        return;
    }
    if (n_files > 0) open_later_file(*app, files[0], g_strcmp0(hint, kPlayHint) == 0);
    gtk_window_present(GTK_WINDOW(app->window));
}

} // namespace

void on_activate(GtkApplication* application, AppState* app) {
    // A second launch without a file only brings the existing window forward.
    if (app->window != nullptr) {
        gtk_window_present(GTK_WINDOW(app->window));
        return;
    }
    app->application = application;

    if (GdkDisplay* display = gdk_display_get_default(); display != nullptr) {
        GtkCssProvider* css = gtk_css_provider_new();
#if GTK_CHECK_VERSION(4, 12, 0)
        gtk_css_provider_load_from_string(css, kStyleSheet);
#else
        gtk_css_provider_load_from_data(css, kStyleSheet, -1);
#endif
        gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(css),
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(css);
    }
    GtkWidget* window = gtk_application_window_new(application);
    app->window = GTK_APPLICATION_WINDOW(window);
    gtk_window_set_title(GTK_WINDOW(window), "VELTA");
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    // Undecorated, so only the title strip's maximise button changes the size.
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
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

    GtkGesture* click = gtk_gesture_click_new();
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), GDK_BUTTON_PRIMARY);
    g_signal_connect(click, "pressed", G_CALLBACK(on_press), app);
    g_signal_connect(click, "released", G_CALLBACK(on_release), app);
    gtk_widget_add_controller(area, GTK_EVENT_CONTROLLER(click));
    GtkEventController* motion = gtk_event_controller_motion_new();
    g_signal_connect(motion, "motion", G_CALLBACK(on_motion), app);
    gtk_widget_add_controller(area, motion);
    GtkDropTarget* drop = gtk_drop_target_new(G_TYPE_FILE, GDK_ACTION_COPY);
    g_signal_connect(drop, "drop", G_CALLBACK(on_drop), app);
    gtk_widget_add_controller(area, GTK_EVENT_CONTROLLER(drop));
    GtkEventController* keys = gtk_event_controller_key_new();
    g_signal_connect(keys, "key-pressed", G_CALLBACK(on_key_pressed), app);
    gtk_widget_add_controller(area, keys);

    gtk_window_set_child(GTK_WINDOW(window), area);
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_grab_focus(area);

    load_first_song(*app);
    if (app->play_on_open != 0) play_if_loaded(*app);
    app->tick_hook = on_tick;
    restart_redraw_timer(*app);
    mpris_start(*app);
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
    mpris_stop(app);
    g_object_unref(application);
    return status;
}
