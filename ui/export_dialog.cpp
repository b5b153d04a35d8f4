#include "ui/export_dialog.h"

#include <string>

#include <gtk/gtk.h>

#include "export/export_job.h"
#include "shell/app_state.h"
#include "ui/dialog_group.h"

namespace {

constexpr const char* kDialogTitle = "Export WAV";
// The transport's own text for the same state.
constexpr const char* kNoSongText = "No MIDI loaded";

// The song's name with ".wav", and its folder.
void proposed_target(const std::string& song_path, std::string& folder, std::string& name) {
    gchar* dir = g_path_get_dirname(song_path.c_str());
    gchar* base = g_path_get_basename(song_path.c_str());
    folder = dir;
    name = base;
    g_free(dir);
    g_free(base);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    name += ".wav";
}

// The mute flags and settings are taken now, when the user has chosen: what is heard then.
void start_export(AppState& app, GFile* file) {
    if (file == nullptr) return;
    gchar* path = g_file_get_path(file);
    g_object_unref(file);
    if (path == nullptr) return;
    ExportRequest request;
    if (!export_request_from_player(app.player, request)) {
        player_set_status(app.player, kNoSongText);
    } else if (!export_job_busy(app.export_job)) {
        request.output_path = path;
        export_job_start(app.export_job, std::move(request));
        export_poll(app);
    }
    g_free(path);
}

#if GTK_CHECK_VERSION(4, 10, 0)

void on_save_dialog_done(GObject* source, GAsyncResult* result, gpointer data) {
    // Cancelling reports an error too; neither says anything to the user.
    GFile* file = gtk_file_dialog_save_finish(GTK_FILE_DIALOG(source), result, nullptr);
    start_export(*static_cast<AppState*>(data), file);
}

void show_dialog(AppState& app, const std::string& folder, const std::string& name) {
    GtkFileDialog* dialog = gtk_file_dialog_new();
    gtk_file_dialog_set_title(dialog, kDialogTitle);
    GFile* initial_folder = g_file_new_for_path(folder.c_str());
    gtk_file_dialog_set_initial_folder(dialog, initial_folder);
    gtk_file_dialog_set_initial_name(dialog, name.c_str());
    g_object_unref(initial_folder);
    gtk_file_dialog_save(dialog, app.window != nullptr ? GTK_WINDOW(app.window) : nullptr, nullptr,
                         on_save_dialog_done, &app);
    g_object_unref(dialog);
}

#else

// The save chooser asks before replacing an existing file; only an accepted chooser counts.
void on_save_dialog_done(GtkNativeDialog* dialog, int response, gpointer data) {
    if (response == GTK_RESPONSE_ACCEPT)
        start_export(*static_cast<AppState*>(data),
                     gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog)));
    g_object_unref(dialog); // the reference show_dialog kept for the open dialog
}

void show_dialog(AppState& app, const std::string& folder, const std::string& name) {
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
        kDialogTitle, app.window != nullptr ? GTK_WINDOW(app.window) : nullptr,
        GTK_FILE_CHOOSER_ACTION_SAVE, nullptr, nullptr);
    GFile* initial_folder = g_file_new_for_path(folder.c_str());
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), initial_folder, nullptr);
    g_object_unref(initial_folder);
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), name.c_str());
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    g_signal_connect(dialog, "response", G_CALLBACK(on_save_dialog_done), &app);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

#endif

} // namespace

void export_wav_button(AppState& app) {
    if (export_job_busy(app.export_job)) {
        export_job_cancel(app.export_job);
        return;
    }
    const TransportState state = player_transport(app.player);
    const std::string song_path = state.loaded ? state.path : std::string();
    if (song_path.empty()) {
        player_set_status(app.player, kNoSongText);
        return;
    }
    std::string folder;
    std::string name;
    proposed_target(song_path, folder, name);
    adopting_toolkit_windows(app, [&] { show_dialog(app, folder, name); });
}

void export_poll(AppState& app) {
    std::string text;
    if (export_job_poll(app.export_job, text)) player_set_status(app.player, text.c_str());
}
