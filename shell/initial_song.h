// The song named on the command line, and the first load at activation.
#pragma once

#include <cstdint>

#include "audio/pipewire_output.h"
#include "sequencer/player.h"
#include "shell/song_loader.h"
#include "song/midi_reader.h"

struct AppState;
typedef struct _GFile GFile;

// Copies `path` into `out` when it fits in 4095 characters. False, with `out` empty, for a
// null, empty or longer path: a cut path would name some other file.
bool copy_song_path(char (&out)[kPathCapacity], const char* path);

// The local path of `file` into `out`; false when there is none or it does not fit.
bool song_path_from_file(char (&out)[kPathCapacity], GFile* file);

// Records the file named before the window exists: either a usable initial_song_path or the
// mark that it was unusable.
void remember_initial_song(AppState& app, GFile* file);
// The same for all the files named: the usable ones become the first queue; none usable is
// the mark above.
void remember_initial_files(AppState& app, GFile** files, int count);

// Activation's first load, on the loader's worker: the named songs (queued, the first loaded),
// else the remembered queue and song, else the demo song, then
// `after`. Without sound, the audio message comes back once it has loaded; a load's own
// failure stays instead.
void load_first_song(AppState& app, AfterLoad after);

// Redraw timeout interval for `fps` redraws per second, fps taken as 1 to 60.
int32_t redraw_interval_ms(int32_t fps);
