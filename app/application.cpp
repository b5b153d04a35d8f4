#include "app/application.h"

#include <csignal>
#include <cstdio>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <vector>

#include "app/mpris.h"
#include "shell/app_state.h"
#include "shell/audio_watch.h"
#include "shell/initial_song.h"
#include "ui/actions.h"
#include "ui/export_dialog.h"
#include "ui/input.h"
#include "ui/redraw_timer.h"
#include "ui/window.h"

namespace {

const GOptionEntry kOptions[] = {
    {"version", '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr, "Show the program version",
     nullptr},
    {"play", '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr,
     "Start playing the first FILE at once (in the running window, if there is one)", nullptr},
    {"enqueue", '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr,
     "Add the FILEs to the end of the running window's queue", nullptr},
    {G_OPTION_REMAINING, '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_FILENAME_ARRAY, nullptr, nullptr,
     nullptr},
    {nullptr, '\0', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
};

// Start-up steps that need the synthesizer and the sound server; they run only once the
// command line has been accepted, in the instance that will show the window.
void start_engine(AppState& app) {
    synth_init(app.player, app.prefs.output_frequency_hz);
    player_select_instrument_set(app.player, app.prefs.instrument_set);
    player_set_auto_detune(app.player, app.prefs.auto_detune_mode != 0);
    player_set_song_loops(app.player, app.prefs.song_loops);
    start_audio(app);
    // Also when the start failed: a daemon that appears later is picked up.
    start_audio_watch(app);
}

// The desktop does not suspend while a song plays, as it would not during a film.
void keep_awake_while_playing(AppState& app) {
    const TransportState state = player_transport(app.player);
    const bool playing = state.active && !state.paused;
    if (playing == (app.inhibit_asked != 0) || app.application == nullptr) return;
    app.inhibit_asked = playing ? 1 : 0;
    if (playing) {
        app.inhibit_cookie = gtk_application_inhibit(
            app.application, app.window != nullptr ? GTK_WINDOW(app.window) : nullptr,
            GTK_APPLICATION_INHIBIT_SUSPEND, "Playing music");
    } else if (app.inhibit_cookie != 0) {
        gtk_application_uninhibit(app.application, app.inhibit_cookie);
        app.inhibit_cookie = 0;
    }
}

// Main-thread work that follows the redraw timer: the export's progress and the desktop's
// media controls.
void on_tick(AppState& app) {
    export_poll(app);
    float mixer_volume = 0.0f;
    if (audio_output_take_volume(app.audio, mixer_volume) && app.actions != nullptr)
        g_action_group_change_action_state(app.actions, "volume",
                                           g_variant_new_double(mixer_volume));
    queue_watch_end(app);
    mpris_poll(app);
    watch_remembered_state(app);
    keep_awake_while_playing(app);
}

// A song swapped in or refused: show it and tell the desktop at once.
void on_song_loaded(AppState& app) {
    if (app.surface != nullptr) gtk_widget_queue_draw(GTK_WIDGET(app.surface));
    mpris_poll(app);
}

// --play and --enqueue travel to a running instance as the open hint.
constexpr const char* kPlayHint = "play";
constexpr const char* kEnqueueHint = "enqueue";

// File names are taken here rather than by the default handling, so that a second launch can
// send --play along with them as the open hint.
gint on_handle_local_options(GApplication* application, GVariantDict* options, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    if (g_variant_dict_contains(options, "version")) {
        printf("velta %s\n", VELTA_VERSION);
        return 0;
    }
    const bool play = g_variant_dict_contains(options, "play");
    const bool enqueue = g_variant_dict_contains(options, "enqueue");
    if (play) app.play_on_open = 1;
    const gchar** names = nullptr;
    if (!g_variant_dict_lookup(options, G_OPTION_REMAINING, "^a&ay", &names)) return -1;
    if (names == nullptr || names[0] == nullptr ||
        !g_application_register(application, nullptr, nullptr)) {
        g_free(names);
        return -1;
    }
    std::vector<GFile*> files;
    for (const gchar** name = names; *name != nullptr; ++name)
        files.push_back(g_file_new_for_commandline_arg(*name));
    g_free(names);
    const auto count = static_cast<int>(files.size());
    if (!g_application_get_is_remote(application)) {
        // The first instance: activation queues them.
        remember_initial_files(app, files.data(), count);
    } else {
        g_application_open(application, files.data(), count,
                           enqueue ? kEnqueueHint
                           : play  ? kPlayHint
                                   : "");
    }
    for (GFile* file : files)
        g_object_unref(file);
    return g_application_get_is_remote(application) ? 0 : -1;
}

// A signal, a logout (the session bus gone) or a lost display: quit as Ctrl+Q does, so that the
// export's temporary file goes and the sound stops, with a clean exit status.
gboolean on_quit_signal(gpointer data) {
    activate_action(*static_cast<AppState*>(data), "quit");
    return G_SOURCE_CONTINUE;
}

void on_bus_closed(GDBusConnection*, gboolean, GError*, gpointer data) {
    on_quit_signal(data);
}

void on_display_closed(GdkDisplay*, gboolean, gpointer data) {
    on_quit_signal(data);
}

void quit_on_lost_session(GApplication* application, AppState& app) {
    if (GDBusConnection* bus = g_application_get_dbus_connection(application); bus != nullptr) {
        // By default the process would exit at once, leaving the export's temporary behind.
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        g_signal_connect(bus, "closed", G_CALLBACK(on_bus_closed), &app);
    }
    if (GdkDisplay* display = gdk_display_get_default(); display != nullptr)
        g_signal_connect(display, "closed", G_CALLBACK(on_display_closed), &app);
}

void on_startup(GApplication* application, gpointer data) {
    auto& app = *static_cast<AppState*>(data);
    start_engine(app);
    install_actions(G_ACTION_MAP(application), app);
    install_accelerators(GTK_APPLICATION(application));
    quit_on_lost_session(application, app);
}

// Files handed over once the window is up: the same as dropping them on the window, or on
// the queue with --enqueue; --play plays the first of them.
void open_later_files(AppState& app, GFile** files, int count, const gchar* hint) {
    GSList* list = nullptr;
    for (int n = count - 1; n >= 0; --n)
        list = g_slist_prepend(list, files[n]);
    const bool enqueue = g_strcmp0(hint, kEnqueueHint) == 0;
    open_files(app, list, enqueue,
               enqueue                           ? FirstSong::kNothing
               : g_strcmp0(hint, kPlayHint) == 0 ? FirstSong::kPlay
                                                 : FirstSong::kAsPlaying);
    g_slist_free(list);
}

void on_open(GApplication* application, GFile** files, gint n_files, const gchar* hint,
             gpointer data) {
    auto* app = static_cast<AppState*>(data);
    if (app->window == nullptr) {
        if (n_files > 0) remember_initial_files(*app, files, n_files);
        g_application_activate(application);
        return;
    }
    if (n_files > 0) open_later_files(*app, files, n_files, hint);
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
    build_main_window(application, *app);

    app->loaded_hook = on_song_loaded;
    restore_remembered_state(*app);
    show_volume(*app);
    show_queue_modes(*app);
    if (app->initial_song_path[0] != '\0') add_recent_song(app->initial_song_path);
    load_first_song(*app, app->play_on_open != 0 ? AfterLoad::kPlay : AfterLoad::kStay);
    app->tick_hook = on_tick;
    restart_redraw_timer(*app);
    mpris_start(*app);
}

int run_application(AppState& app, int argc, char** argv) {
    GtkApplication* application = gtk_application_new(kApplicationId, G_APPLICATION_HANDLES_OPEN);
    g_application_add_main_option_entries(G_APPLICATION(application), kOptions);
    g_application_set_option_context_parameter_string(G_APPLICATION(application), "[FILE…]");
    g_application_set_option_context_summary(
        G_APPLICATION(application),
        "Plays Standard MIDI Files on a chiptune synthesizer. A folder queues its songs.");
    g_signal_connect(application, "handle-local-options", G_CALLBACK(on_handle_local_options),
                     &app);
    g_signal_connect(application, "startup", G_CALLBACK(on_startup), &app);
    g_signal_connect(application, "activate", G_CALLBACK(on_activate), &app);
    g_signal_connect(application, "open", G_CALLBACK(on_open), &app);
    const guint signal_sources[] = {g_unix_signal_add(SIGTERM, on_quit_signal, &app),
                                    g_unix_signal_add(SIGINT, on_quit_signal, &app),
                                    g_unix_signal_add(SIGHUP, on_quit_signal, &app)};
    const int status = g_application_run(G_APPLICATION(application), argc, argv);
    for (const guint source : signal_sources)
        g_source_remove(source);
    mpris_stop(app);
    g_object_unref(application);
    return status;
}
