#include "ui/actions.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sequencer/transport.h"
#include "shell/app_state.h"
#include "shell/audio_watch.h"
#include "shell/play_queue.h"
#include "synth/channel_state.h"
#include "ui/export_dialog.h"
#include "ui/file_dialog.h"
#include "ui/keys_window.h"
#include "ui/prefs_dialog.h"

namespace {

AppState& app_of(gpointer data) {
    return *static_cast<AppState*>(data);
}

void redraw(AppState& app) {
    if (app.surface != nullptr) gtk_widget_queue_draw(GTK_WIDGET(app.surface));
}

void seeked(AppState& app) {
    redraw(app);
    if (app.seeked_hook != nullptr) app.seeked_hook(app);
}

void on_play(GSimpleAction*, GVariant*, gpointer data) {
    if (!set_pending_after(app_of(data), AfterLoad::kPlay)) start_playback(app_of(data).player);
    note_play_without_output(app_of(data));
    redraw(app_of(data));
}

void on_pause(GSimpleAction*, GVariant*, gpointer data) {
    toggle_pause(app_of(data).player);
    redraw(app_of(data));
}

void on_play_pause(GSimpleAction*, GVariant*, gpointer data) {
    AppState& app = app_of(data);
    if (player_transport(app.player).active || !set_pending_after(app, AfterLoad::kPlay))
        play_or_pause(app.player);
    note_play_without_output(app);
    redraw(app);
}

void on_stop(GSimpleAction*, GVariant*, gpointer data) {
    set_pending_after(app_of(data), AfterLoad::kStay);
    stop_playback(app_of(data).player);
    redraw(app_of(data));
}

void on_seek_by(GSimpleAction*, GVariant* parameter, gpointer data) {
    if (seek_by(app_of(data).player, g_variant_get_double(parameter))) seeked(app_of(data));
}

void on_seek_to(GSimpleAction*, GVariant* parameter, gpointer data) {
    AppState& app = app_of(data);
    if (!player_transport(app.player).loaded) return;
    seek_fraction(app.player, g_variant_get_double(parameter));
    seeked(app);
}

void on_toggle_mute(GSimpleAction*, GVariant* parameter, gpointer data) {
    // MIDI channels are numbered 1 to 16 where a user names them.
    if (player_toggle_mute(app_of(data).player, g_variant_get_int32(parameter) - 1))
        redraw(app_of(data));
}

// The stream volume and the action's state become `volume`, limited to 0 to 1.
void set_volume(AppState& app, GSimpleAction* action, double volume) {
    volume = std::isnan(volume) ? app.volume : std::clamp(volume, 0.0, 1.0);
    const bool changed = volume != app.volume;
    app.volume = volume;
    audio_output_set_volume(app.audio, static_cast<float>(volume));
    g_simple_action_set_state(action, g_variant_new_double(volume));
    if (!changed) return;
    char text[32];
    snprintf(text, sizeof text, "Volume: %d %%", static_cast<int>(std::lround(volume * 100.0)));
    player_set_status(app.player, text);
    redraw(app);
}

// Also its activation with a value (gapplication action volume 0.5): the same as a new state.
void on_volume(GSimpleAction* action, GVariant* value, gpointer data) {
    set_volume(app_of(data), action, g_variant_get_double(value));
}

void on_volume_by(GSimpleAction*, GVariant* parameter, gpointer data) {
    AppState& app = app_of(data);
    const double step = g_variant_get_double(parameter);
    if (std::isnan(step) || app.actions == nullptr) return;
    g_action_group_change_action_state(app.actions, "volume",
                                       g_variant_new_double(app.volume + step));
}

void on_solo(GSimpleAction*, GVariant* parameter, gpointer data) {
    if (player_solo(app_of(data).player, g_variant_get_int32(parameter) - 1)) redraw(app_of(data));
}

void on_next(GSimpleAction*, GVariant*, gpointer data) {
    if (queue_go(app_of(data), true)) redraw(app_of(data));
}

void on_previous(GSimpleAction*, GVariant*, gpointer data) {
    if (queue_go(app_of(data), false)) seeked(app_of(data));
}

// Also its activation with a value: the same as a new state. An unknown name changes nothing.
void on_repeat(GSimpleAction* action, GVariant* value, gpointer data) {
    AppState& app = app_of(data);
    const auto mode = repeat_mode_from_name(g_variant_get_string(value, nullptr));
    if (!mode) return;
    queue_set_repeat(app.queue, *mode);
    g_simple_action_set_state(action, g_variant_new_string(repeat_mode_name(*mode)));
    redraw(app);
}

void set_shuffle(AppState& app, GSimpleAction* action, bool on) {
    queue_set_shuffle(app.queue, on);
    g_simple_action_set_state(action, g_variant_new_boolean(app.queue.shuffle));
    redraw(app);
}

void on_shuffle(GSimpleAction* action, GVariant* value, gpointer data) {
    set_shuffle(app_of(data), action, g_variant_get_boolean(value) != FALSE);
}

// Without a value, shuffle turns over.
void on_shuffle_activate(GSimpleAction* action, GVariant*, gpointer data) {
    set_shuffle(app_of(data), action, !app_of(data).queue.shuffle);
}

void on_play_entry(GSimpleAction*, GVariant* parameter, gpointer data) {
    AppState& app = app_of(data);
    if (queue_play_entry(app, g_variant_get_int32(parameter), true)) redraw(app);
}

void on_remove_entry(GSimpleAction*, GVariant* parameter, gpointer data) {
    if (queue_remove(app_of(data).queue, g_variant_get_int32(parameter))) redraw(app_of(data));
}

void on_open(GSimpleAction*, GVariant*, gpointer data) {
    open_file_dialog(app_of(data));
}

void on_preferences(GSimpleAction*, GVariant*, gpointer data) {
    prefs_dialog_open(app_of(data));
}

void on_export(GSimpleAction*, GVariant*, gpointer data) {
    export_wav_button(app_of(data));
    redraw(app_of(data));
}

void on_keys(GSimpleAction*, GVariant*, gpointer data) {
    keys_window_open(app_of(data));
}

void on_quit(GSimpleAction*, GVariant*, gpointer data) {
    AppState& app = app_of(data);
    if (app.window != nullptr) gtk_window_close(GTK_WINDOW(app.window));
    // Also with a dialog still open: the run ends and main tears everything down.
    if (app.application != nullptr) g_application_quit(G_APPLICATION(app.application));
}

// Every command, once. Parameters: seek-by seconds (negative: back), seek-to a fraction of the
// song from 0 to 1, toggle-mute and solo a MIDI channel from 1 to 16, volume-by a step of the
// volume, whose state runs from 0 to 1 (a linear amplitude); repeat "off", "queue" or "one";
// play-entry and remove-entry a queue entry's index from 0.
const GActionEntry kActions[] = {
    {"play", on_play, nullptr, nullptr, nullptr, {}},
    {"pause", on_pause, nullptr, nullptr, nullptr, {}},
    {"play-pause", on_play_pause, nullptr, nullptr, nullptr, {}},
    {"stop", on_stop, nullptr, nullptr, nullptr, {}},
    {"seek-by", on_seek_by, "d", nullptr, nullptr, {}},
    {"seek-to", on_seek_to, "d", nullptr, nullptr, {}},
    {"toggle-mute", on_toggle_mute, "i", nullptr, nullptr, {}},
    {"volume", on_volume, "d", "1.0", on_volume, {}},
    {"volume-by", on_volume_by, "d", nullptr, nullptr, {}},
    {"solo", on_solo, "i", nullptr, nullptr, {}},
    {"next", on_next, nullptr, nullptr, nullptr, {}},
    {"previous", on_previous, nullptr, nullptr, nullptr, {}},
    {"repeat", on_repeat, "s", "'off'", on_repeat, {}},
    {"shuffle", on_shuffle_activate, nullptr, "false", on_shuffle, {}},
    {"play-entry", on_play_entry, "i", nullptr, nullptr, {}},
    {"remove-entry", on_remove_entry, "i", nullptr, nullptr, {}},
    {"open", on_open, nullptr, nullptr, nullptr, {}},
    {"preferences", on_preferences, nullptr, nullptr, nullptr, {}},
    {"export", on_export, nullptr, nullptr, nullptr, {}},
    {"keys", on_keys, nullptr, nullptr, nullptr, {}},
    {"quit", on_quit, nullptr, nullptr, nullptr, {}},
};

struct Accelerator {
    const char* detailed_action;
    const char* keys[4];
};

// What each key does, as the keys window lists it.
struct ActionTitle {
    const char* detailed_action;
    const char* title;
};

// Space, Left, Right, Up and Down also reach the actions through the window's capture-phase
// keys, so that no focused widget takes them first; they are listed here for the desktop's help.
constexpr Accelerator kAccelerators[] = {
    {"app.play-pause", {"space", nullptr}},
    {"app.seek-by(-10.0)", {"Left", nullptr}},
    {"app.seek-by(10.0)", {"Right", nullptr}},
    {"app.volume-by(0.05)", {"Up", "plus", "KP_Add"}},
    {"app.volume-by(-0.05)", {"Down", "minus", "KP_Subtract"}},
    {"app.next", {"Page_Down", nullptr}},
    {"app.previous", {"Page_Up", nullptr}},
    {"app.open", {"<Control>o", nullptr}},
    {"app.preferences", {"<Control>comma", nullptr}},
    {"app.quit", {"<Control>q", nullptr}},
    {"app.stop", {"<Control>period", nullptr}},
    {"app.export", {"<Control>e", nullptr}},
    {"app.keys", {"F1", "<Control>question", nullptr}},
};

constexpr ActionTitle kTitles[] = {
    {"app.play-pause", "Play or pause"},
    {"app.stop", "Stop"},
    {"app.seek-by(-10.0)", "Back 10 seconds"},
    {"app.seek-by(10.0)", "On 10 seconds"},
    {"app.volume-by(0.05)", "Louder"},
    {"app.volume-by(-0.05)", "Quieter"},
    {"app.previous", "Previous song"},
    {"app.next", "Next song"},
    {"app.open", "Open MIDI"},
    {"app.export", "Export WAV"},
    {"app.preferences", "Preferences"},
    {"app.keys", "Keys"},
    {"app.quit", "Quit"},
};

} // namespace

void install_actions(GActionMap* map, AppState& app) {
    g_action_map_add_action_entries(map, kActions, G_N_ELEMENTS(kActions), &app);
    app.actions = G_ACTION_GROUP(map);
}

void install_accelerators(GtkApplication* application) {
    for (const Accelerator& accelerator : kAccelerators)
        gtk_application_set_accels_for_action(application, accelerator.detailed_action,
                                              accelerator.keys);
}

const char* action_title(const char* detailed_action) {
    for (const ActionTitle& title : kTitles)
        if (g_strcmp0(title.detailed_action, detailed_action) == 0) return title.title;
    return nullptr;
}

void list_keys(void (*each)(const char* detailed_action, const char* title, void* data),
               void* data) {
    for (const Accelerator& accelerator : kAccelerators)
        each(accelerator.detailed_action, action_title(accelerator.detailed_action), data);
}

void show_volume(AppState& app) {
    if (app.actions == nullptr) return;
    GAction* action = g_action_map_lookup_action(G_ACTION_MAP(app.actions), "volume");
    if (action != nullptr)
        g_simple_action_set_state(G_SIMPLE_ACTION(action), g_variant_new_double(app.volume));
}

void show_queue_modes(AppState& app) {
    if (app.actions == nullptr) return;
    auto* map = G_ACTION_MAP(app.actions);
    if (GAction* repeat = g_action_map_lookup_action(map, "repeat"); repeat != nullptr)
        g_simple_action_set_state(G_SIMPLE_ACTION(repeat),
                                  g_variant_new_string(repeat_mode_name(app.queue.repeat)));
    if (GAction* shuffle = g_action_map_lookup_action(map, "shuffle"); shuffle != nullptr)
        g_simple_action_set_state(G_SIMPLE_ACTION(shuffle),
                                  g_variant_new_boolean(app.queue.shuffle));
}

void activate_action(AppState& app, const char* name, GVariant* parameter) {
    if (app.actions != nullptr) {
        g_action_group_activate_action(app.actions, name, parameter);
    } else if (parameter != nullptr) {
        g_variant_unref(g_variant_ref_sink(parameter));
    }
}
