#include "ui/prefs_dialog.h"

#include <gtk/gtk.h>

#include "prefs/prefs_apply.h"
#include "shell/app_state.h"
#include "shell/engine_restart.h"
#include "ui/dialog_group.h"
#include "ui/redraw_timer.h"

namespace {

constexpr int kOptionListCapacity = 8; // longest option table, instrument sets

// Fields 0 to 3 in the left pair of columns, the rest in the right pair.
constexpr int kLeftColumnFields = 4;

void close_dialog(PrefsDialog* record) {
    if (record != nullptr && record->dialog != nullptr) {
        gtk_window_destroy(record->dialog);
    }
}

void on_cancel(GtkWidget*, gpointer data) {
    close_dialog(static_cast<PrefsDialog*>(data));
}

gboolean on_escape(GtkWidget*, GVariant*, gpointer data) {
    close_dialog(static_cast<PrefsDialog*>(data));
    return TRUE;
}

void on_destroy(GtkWidget*, gpointer data) {
    delete static_cast<PrefsDialog*>(data);
}

// The tooltip says what the selected row does.
void show_hint(GtkDropDown* drop_down, PrefField field, int32_t rate) {
    char hint[kPrefsSummaryCapacity];
    format_prefs_hint(hint, field, static_cast<int32_t>(gtk_drop_down_get_selected(drop_down)),
                      rate);
    gtk_widget_set_tooltip_text(GTK_WIDGET(drop_down), hint[0] != '\0' ? hint : nullptr);
}

void on_block_selected(GObject* drop_down, GParamSpec*, gpointer data) {
    show_hint(GTK_DROP_DOWN(drop_down), PrefField::buffer_block_tenths,
              static_cast<PrefsDialog*>(data)->app->prefs.output_frequency_hz);
}

void on_ok(GtkWidget* button, gpointer data) {
    prefs_dialog_apply(button, static_cast<PrefsDialog*>(data));
}

GtkWidget* make_drop_down(PrefField field, int32_t current_value) {
    const PrefFieldInfo& info = pref_field_info(field);
    const char* labels[kOptionListCapacity + 1] = {};
    for (size_t row = 0; row < info.options.size() && row < kOptionListCapacity; ++row) {
        labels[row] = info.options[row].label;
    }
    GtkWidget* drop_down = gtk_drop_down_new_from_strings(labels);
    gtk_drop_down_set_selected(GTK_DROP_DOWN(drop_down),
                               static_cast<guint>(pref_option_index(field, current_value)));
    gtk_widget_set_hexpand(drop_down, TRUE);
    return drop_down;
}

} // namespace

void prefs_dialog_open(AppState& app) {
    auto* record = new PrefsDialog{};
    record->app = &app;

    GtkWidget* window = gtk_window_new();
    record->dialog = GTK_WINDOW(window);
    gtk_window_set_title(record->dialog, "Preferences");
    if (app.window != nullptr) gtk_window_set_transient_for(record->dialog, GTK_WINDOW(app.window));
    join_application(app, record->dialog);
    gtk_window_set_modal(record->dialog, TRUE);
    gtk_window_set_destroy_with_parent(record->dialog, TRUE);
    gtk_window_set_resizable(record->dialog, FALSE);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 14);
    gtk_widget_set_margin_top(box, 16);
    gtk_widget_set_margin_bottom(box, 16);
    gtk_widget_set_margin_start(box, 16);
    gtk_widget_set_margin_end(box, 16);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 18);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 10);
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        const auto field = PrefField(n);
        const bool left = n < kLeftColumnFields;
        const int column = left ? 0 : 2;
        const int row = left ? n : n - kLeftColumnFields;
        GtkWidget* label = gtk_label_new(pref_field_info(field).label);
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_grid_attach(GTK_GRID(grid), label, column, row, 1, 1);
        GtkWidget* drop_down = make_drop_down(field, pref_field(app.prefs, field));
        gtk_grid_attach(GTK_GRID(grid), drop_down, column + 1, row, 1, 1);
        record->drop_downs[n] = GTK_DROP_DOWN(drop_down);
        if (const char* unused = prefs_unused_text(field)) {
            gtk_widget_set_sensitive(drop_down, FALSE);
            gtk_widget_set_tooltip_text(drop_down, unused);
            gtk_widget_set_tooltip_text(label, unused);
        }
        if (field == PrefField::buffer_block_tenths) {
            show_hint(GTK_DROP_DOWN(drop_down), field, app.prefs.output_frequency_hz);
            g_signal_connect(drop_down, "notify::selected", G_CALLBACK(on_block_selected), record);
        }
    }

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_halign(buttons, GTK_ALIGN_END);
    GtkWidget* cancel = gtk_button_new_with_mnemonic("_Cancel");
    GtkWidget* ok = gtk_button_new_with_mnemonic("_OK");
    gtk_box_append(GTK_BOX(buttons), cancel);
    gtk_box_append(GTK_BOX(buttons), ok);
    gtk_box_append(GTK_BOX(box), grid);
    gtk_box_append(GTK_BOX(box), buttons);
    gtk_window_set_child(record->dialog, box);

    // Escape dismisses the dialog as Cancel does.
    GtkEventController* shortcuts = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(shortcuts),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                         gtk_callback_action_new(on_escape, record, nullptr)));
    gtk_widget_add_controller(window, shortcuts);

    g_signal_connect(window, "destroy", G_CALLBACK(on_destroy), record);
    g_signal_connect(cancel, "clicked", G_CALLBACK(on_cancel), record);
    g_signal_connect(ok, "clicked", G_CALLBACK(on_ok), record);
    gtk_window_present(record->dialog);
}

void prefs_dialog_apply(GtkWidget*, PrefsDialog* record) {
    if (record == nullptr || record->app == nullptr) return;
    AppState& app = *record->app;

    PrefsSelection selection;
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        // GTK_INVALID_LIST_POSITION turns negative, which picks the first row.
        if (record->drop_downs[n] != nullptr) {
            selection[n] = static_cast<int32_t>(gtk_drop_down_get_selected(record->drop_downs[n]));
        }
    }
    const PrefsApplyPlan plan = plan_prefs_apply(app.prefs, selection);
    apply_preferences(app, plan);
    if (plan.rearm_timer) restart_redraw_timer(app);
    if (app.surface != nullptr) gtk_widget_queue_draw(GTK_WIDGET(app.surface));
    close_dialog(record);
}
