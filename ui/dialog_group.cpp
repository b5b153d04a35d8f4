#include "ui/dialog_group.h"

#include <gtk/gtk.h>

#include "shell/app_state.h"

namespace {

void on_toplevels_changed(GListModel* toplevels, guint position, guint, guint added,
                          gpointer data) {
    for (guint n = position; n < position + added; ++n) {
        auto* window = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, n));
        join_application(*static_cast<AppState*>(data), window);
        g_object_unref(window);
    }
}

} // namespace

void join_application(AppState& app, GtkWindow* dialog) {
    if (app.application == nullptr || dialog == nullptr) return;
    if (gtk_window_get_application(dialog) != nullptr) return;
    gtk_window_set_application(dialog, app.application);
    // The application's keys would reach a dialog before its widgets (Space would play instead
    // of typing a space in a file name, Up would change the volume in a drop-down): there they
    // come after the widgets, as the keys a widget leaves. The controller stays, since the window
    // keeps using it.
    GListModel* controllers = gtk_widget_observe_controllers(GTK_WIDGET(dialog));
    for (guint n = 0; n < g_list_model_get_n_items(controllers); ++n) {
        auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers, n));
        if (GTK_IS_SHORTCUT_CONTROLLER(controller) &&
            gtk_shortcut_controller_get_scope(GTK_SHORTCUT_CONTROLLER(controller)) ==
                GTK_SHORTCUT_SCOPE_GLOBAL) {
            gtk_shortcut_controller_set_scope(GTK_SHORTCUT_CONTROLLER(controller),
                                              GTK_SHORTCUT_SCOPE_LOCAL);
            gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_BUBBLE);
        }
        g_object_unref(controller);
    }
    g_object_unref(controllers);
}

void adopting_toolkit_windows(AppState& app, const std::function<void()>& open) {
    GListModel* toplevels = gtk_window_get_toplevels();
    const gulong handler =
        g_signal_connect(toplevels, "items-changed", G_CALLBACK(on_toplevels_changed), &app);
    open();
    g_signal_handler_disconnect(toplevels, handler);
}
