// The MIDI reader on arbitrary bytes: any input either loads or fails with a message.
#include <cstddef>
#include <cstdint>

#include "song/midi_parse.h"
#include "song/song.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Song song;
    const char* failure = parse_song(data, size, 44100, song);
    if (failure != nullptr && !song.events.empty()) __builtin_trap();
    return 0;
}
