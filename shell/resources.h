// Where the skin images and the demo song live, and loading the demo song.
#pragma once

#include "base/asset_names.h"
#include "sequencer/player.h"

struct AppState;

constexpr const char* kResourceDirEnv = "VELTA_RESOURCE_DIR";

// Formats "dir/name" into `out`. False, with `out` empty, when the result would be empty or
// longer than 4095 characters: such a path is never used cut short.
bool resource_path(char (&out)[kPathCapacity], const char* dir, const char* name);

// Picks the first candidate directory holding a readable skin image; "." when none does.
// `argv0` may be null.
void locate_resource_dir(char (&resource_dir)[kPathCapacity], const char* argv0);

// The demo song's path in `resource_dir` when it is readable there.
bool demo_song_path(char (&out)[kPathCapacity], const char* resource_dir);

// Loads the demo song from the resource directory if it is readable there. Takes the Player
// lock through load_song, so call it without holding it. False only when the file was there
// but did not load (the loader has then written its own status text).
bool load_default_song(AppState& app);
