#include "ui/file_dialog.h"

#include <gtk/gtk.h>

#include "shell/app_state.h"
#include "ui/dialog_group.h"
#include "ui/input.h"

namespace {

constexpr const char* kDialogTitle = "Open MIDI";

GtkFileFilter* new_midi_filter() {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "MIDI files");
    gtk_file_filter_add_pattern(filter, "*.mid");
    gtk_file_filter_add_pattern(filter, "*.midi");
    gtk_file_filter_add_pattern(filter, "*.kar");
    return filter;
}

// The chosen files replace the queue, as a drop on the window does.
void load_chosen_files(AppState& app, GListModel* files) {
    if (files == nullptr) return;
    GSList* list = nullptr;
    for (guint n = g_list_model_get_n_items(files); n > 0; --n)
        list = g_slist_prepend(list, g_list_model_get_item(files, n - 1));
    open_files(app, list, false);
    g_slist_free_full(list, g_object_unref);
    g_object_unref(files);
}

#if GTK_CHECK_VERSION(4, 10, 0)

void on_open_dialog_done(GObject* source, GAsyncResult* result, gpointer data) {
    // Cancelling reports an error too; neither says anything to the user.
    GListModel* files =
        gtk_file_dialog_open_multiple_finish(GTK_FILE_DIALOG(source), result, nullptr);
    load_chosen_files(*static_cast<AppState*>(data), files);
}

void show_dialog(AppState& app) {
    GtkFileDialog* dialog = gtk_file_dialog_new();
    GtkFileFilter* filter = new_midi_filter();
    GListStore* filters = g_list_store_new(GTK_TYPE_FILE_FILTER);
    gtk_file_dialog_set_title(dialog, kDialogTitle);
    g_list_store_append(filters, filter);
    gtk_file_dialog_set_filters(dialog, G_LIST_MODEL(filters));
    gtk_file_dialog_set_default_filter(dialog, filter);
    gtk_file_dialog_open_multiple(dialog, app.window != nullptr ? GTK_WINDOW(app.window) : nullptr,
                                  nullptr, on_open_dialog_done, &app);
    g_object_unref(filters);
    g_object_unref(filter);
    g_object_unref(dialog);
}

#else

// GTK before 4.10 has no GtkFileDialog. Only an accepted chooser counts: Escape answers with a
// response other than "cancel" while the chooser still reports the highlighted file.
void on_open_dialog_done(GtkNativeDialog* dialog, int response, gpointer data) {
    if (response == GTK_RESPONSE_ACCEPT)
        load_chosen_files(*static_cast<AppState*>(data),
                          gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog)));
    g_object_unref(dialog); // the reference show_dialog kept for the open dialog
}

void show_dialog(AppState& app) {
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
        kDialogTitle, app.window != nullptr ? GTK_WINDOW(app.window) : nullptr,
        GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    GtkFileFilter* filter = new_midi_filter();
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
    gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(dialog), filter);
    g_object_unref(filter);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), TRUE);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    g_signal_connect(dialog, "response", G_CALLBACK(on_open_dialog_done), &app);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

#endif

} // namespace

void open_file_dialog(AppState& app) {
    adopting_toolkit_windows(app, [&app] { show_dialog(app); });
}
