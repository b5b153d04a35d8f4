#include "ui/redraw_timer.h"

#include <gtk/gtk.h>

#include "shell/app_state.h"
#include "shell/initial_song.h"
#include "ui/picture.h"

namespace {

gboolean on_redraw_tick(gpointer data) {
    auto* app = static_cast<AppState*>(data);
    if (app->tick_hook != nullptr) app->tick_hook(*app);
    // A repaint only when something changed: a still picture costs nothing.
    if (app->surface != nullptr) picture_tick(GTK_WIDGET(app->surface));
    return G_SOURCE_CONTINUE;
}

} // namespace

void stop_redraw_timer(AppState& app) {
    if (app.redraw_timer_id == 0) return;
    g_source_remove(app.redraw_timer_id);
    app.redraw_timer_id = 0;
}

void restart_redraw_timer(AppState& app) {
    stop_redraw_timer(app);
    const int32_t interval = redraw_interval_ms(app.prefs.redraw_timing_fps);
    app.redraw_timer_id = g_timeout_add(static_cast<guint>(interval), on_redraw_tick, &app);
}
