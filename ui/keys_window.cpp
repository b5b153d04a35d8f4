#include "ui/keys_window.h"

#include <gtk/gtk.h>

#include <string>

#include "shell/app_state.h"
#include "ui/actions.h"
#include "ui/dialog_group.h"

namespace {

constexpr const char* kOpenWindowKey = "velta-keys-window";

struct Listing {
    GtkApplication* application;
    GtkGrid* grid;
    int row;
};

// The keys the application has now, so a key changed elsewhere is listed as it is.
void add_row(const char* detailed_action, const char* title, void* data) {
    auto& listing = *static_cast<Listing*>(data);
    gchar** accels = gtk_application_get_accels_for_action(listing.application, detailed_action);
    std::string keys;
    for (gchar** accel = accels; accel != nullptr && *accel != nullptr; ++accel) {
        guint key = 0;
        GdkModifierType mods = GdkModifierType(0);
        if (!gtk_accelerator_parse(*accel, &key, &mods)) continue;
        gchar* label = gtk_accelerator_get_label(key, mods);
        if (!keys.empty()) keys += ", ";
        keys += label;
        g_free(label);
    }
    g_strfreev(accels);
    if (keys.empty()) return;
    GtkWidget* key_label = gtk_label_new(keys.c_str());
    gtk_label_set_xalign(GTK_LABEL(key_label), 0.0f);
    gtk_widget_add_css_class(key_label, "dim-label");
    GtkWidget* what = gtk_label_new(title != nullptr ? title : detailed_action);
    gtk_label_set_xalign(GTK_LABEL(what), 0.0f);
    gtk_grid_attach(listing.grid, key_label, 0, listing.row, 1, 1);
    gtk_grid_attach(listing.grid, what, 1, listing.row, 1, 1);
    ++listing.row;
}

gboolean on_escape(GtkWidget* widget, GVariant*, gpointer) {
    gtk_window_close(GTK_WINDOW(widget));
    return TRUE;
}

void on_destroy(GtkWidget*, gpointer data) {
    auto* app = static_cast<AppState*>(data);
    if (app->window != nullptr) g_object_set_data(G_OBJECT(app->window), kOpenWindowKey, nullptr);
}

} // namespace

void keys_window_open(AppState& app) {
    if (app.application == nullptr) return;
    if (app.window != nullptr) {
        if (auto* open =
                static_cast<GtkWindow*>(g_object_get_data(G_OBJECT(app.window), kOpenWindowKey))) {
            gtk_window_present(open);
            return;
        }
    }
    GtkWidget* window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), "Keys");
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    if (app.window != nullptr) {
        gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(app.window));
        gtk_window_set_destroy_with_parent(GTK_WINDOW(window), TRUE);
        g_object_set_data(G_OBJECT(app.window), kOpenWindowKey, window);
    }
    join_application(app, GTK_WINDOW(window));

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 24);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_widget_set_margin_top(grid, 16);
    gtk_widget_set_margin_bottom(grid, 16);
    gtk_widget_set_margin_start(grid, 16);
    gtk_widget_set_margin_end(grid, 16);
    Listing listing{app.application, GTK_GRID(grid), 0};
    list_keys(add_row, &listing);
    gtk_window_set_child(GTK_WINDOW(window), grid);

    GtkEventController* shortcuts = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(shortcuts),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                         gtk_callback_action_new(on_escape, nullptr, nullptr)));
    gtk_widget_add_controller(window, shortcuts);
    g_signal_connect(window, "destroy", G_CALLBACK(on_destroy), &app);
    gtk_window_present(GTK_WINDOW(window));
}
