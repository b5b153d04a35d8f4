#include "sequencer/load_song.h"

#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "sequencer/player.h"
#include "song/midi_parse.h"
#include "song/midi_reader.h"
#include "song/song.h"
#include "song/song_loop.h"
#include "synth/synth.h"

namespace {

struct ReadSettings {
    int32_t rate = 0;
    int32_t song_loops = 0;
};

ReadSettings read_settings_of(Player& player) {
    std::lock_guard guard(player.lock);
    return {player.output_rate, player.song_loops};
}

} // namespace

bool install_song(Player& player, Song&& song, const char* failure, const char* path,
                  OnFailure on_failure) {
    if (failure != nullptr && on_failure == OnFailure::kKeepSong) {
        const char* slash = std::strrchr(path, '/');
        const std::string text = std::string(slash != nullptr ? slash + 1 : path) + ": " + failure;
        std::lock_guard guard(player.lock);
        set_status_locked(player, text.c_str());
        return false;
    }
    Song old;
    {
        std::lock_guard guard(player.lock);
        old = std::move(player.song);
        player.song = Song{};
        ++player.generation;
        // Either way the transport stops at the top: a failed load must not leave it playing
        // an empty song.
        player.position = 0;
        player.cursor = 0;
        player.active = false;
        player.paused = false;
        reset_synth(player.synth);
        if (failure != nullptr) {
            player.song_path[0] = '\0';
            set_status_locked(player, failure);
        } else {
            player.song = std::move(song);
            copy_bounded(player.song_path, path);
            set_status_locked(player, "Loaded MIDI");
        }
    }
    return failure == nullptr;
}

bool load_song(Player& player, const char* path, int* error_number) {
    Song song;
    int system_error = 0;
    const ReadSettings settings = read_settings_of(player);
    const char* failure = read_song_file(path, settings.rate, song, system_error);
    if (failure == nullptr) unroll_song_loop(song, settings.song_loops);
    if (error_number != nullptr) {
        *error_number = system_error;
    }
    return install_song(player, std::move(song), failure, path);
}

bool load_song_from_memory(Player& player, const uint8_t* data, size_t size) {
    Song song;
    const ReadSettings settings = read_settings_of(player);
    const char* failure = parse_song(data, size, settings.rate, song);
    if (failure == nullptr) unroll_song_loop(song, settings.song_loops);
    return install_song(player, std::move(song), failure, "");
}
