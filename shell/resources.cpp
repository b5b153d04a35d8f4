#include "shell/resources.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "shell/app_state.h"
#include "sequencer/load_song.h"

namespace {

constexpr const char* kFixedCandidates[] = {
    "../share/velta",         "./share/velta",    "./shared/resources",
    "../../shared/resources", "/usr/share/velta", "/usr/local/share/velta",
};

bool holds_skin(const char* dir) {
    char probe[kPathCapacity];
    return resource_path(probe, dir, kSkinFile) && access(probe, R_OK) == 0;
}

// X/../share/velta for the executable's directory X, left unsimplified.
bool dir_beside_executable(char (&out)[kPathCapacity], const char* argv0) {
    if (argv0 == nullptr || strchr(argv0, '/') == nullptr) return false;
    char* resolved = realpath(argv0, nullptr);
    if (resolved == nullptr) return false;
    char* slash = strrchr(resolved, '/');
    if (slash != nullptr) *slash = '\0';
    const bool usable = join_path(out, resolved, "../share/velta");
    free(resolved);
    return usable;
}

} // namespace

bool resource_path(char (&out)[kPathCapacity], const char* dir, const char* name) {
    return join_path(out, dir, name);
}

void locate_resource_dir(char (&resource_dir)[kPathCapacity], const char* argv0) {
    const char* env = getenv(kResourceDirEnv);
    if (env != nullptr && holds_skin(env)) {
        copy_bounded(resource_dir, env);
        return;
    }
    for (const char* candidate : kFixedCandidates) {
        if (holds_skin(candidate)) {
            copy_bounded(resource_dir, candidate);
            return;
        }
    }
    char beside[kPathCapacity];
    if (dir_beside_executable(beside, argv0) && holds_skin(beside)) {
        copy_bounded(resource_dir, beside);
        return;
    }
    copy_bounded(resource_dir, ".");
}

bool demo_song_path(char (&out)[kPathCapacity], const char* resource_dir) {
    return resource_path(out, resource_dir, kDemoSongFile) && access(out, R_OK) == 0;
}

bool load_default_song(AppState& app) {
    char path[kPathCapacity];
    return !demo_song_path(path, app.resource_dir) || load_song(app.player, path);
}
