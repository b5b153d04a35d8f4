#include <memory>
#include <mutex>

#include "app/app_state.h"
#include "app/application.h"
#include "app/audio_watch.h"
#include "app/resources.h"
#include "sequencer/load_song.h"
#include "song/midi_reader.h"
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

    stop_redraw_timer(*app);
    stop_audio_watch(*app);
    audio_output_stop(app->audio);
    if (app->skin != nullptr) cairo_surface_destroy(app->skin);
    if (app->atlas != nullptr) cairo_surface_destroy(app->atlas);
    app->skin = nullptr;
    app->atlas = nullptr;
    {
        std::lock_guard<std::mutex> guard(app->player.lock);
        free_song(app->player.song);
        ++app->player.generation;
    }
    return status;
}
