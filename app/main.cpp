#include <memory>

#include "app/application.h"
#include "shell/app_state.h"
#include "shell/audio_watch.h"
#include "shell/remembered_state.h"
#include "shell/resources.h"
#include "ui/redraw_timer.h"
#include "ui/skin.h"

int main(int argc, char** argv) {
    // Value-initialised on the heap: the record is large and holds a mutex.
    auto app = std::make_unique<AppState>();
    locate_resource_dir(app->resource_dir, argc > 0 ? argv[0] : nullptr);
    app->skin = load_png(app->resource_dir, kSkinFile);
    app->atlas = load_png(app->resource_dir, kAtlasFile);
    app->prefs = prefs_load();

    // The synthesizer and audio start inside the run, once the command line is accepted.
    const int status = run_application(*app, argc, argv);

    // Before the song goes: what it was and where it stood.
    save_remembered_state(*app);
    stop_redraw_timer(*app);
    stop_audio_watch(*app);
    audio_output_stop(app->audio);
    if (app->skin != nullptr) cairo_surface_destroy(app->skin);
    if (app->atlas != nullptr) cairo_surface_destroy(app->atlas);
    app->skin = nullptr;
    app->atlas = nullptr;
    player_release_song(app->player);
    return status;
}
