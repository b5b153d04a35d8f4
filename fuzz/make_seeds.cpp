// Writes the fuzzers' seed songs into a folder: the benchmark's generated songs, shortened,
// each also with a three-byte tail that gives the engine target a seek fraction and a block
// size.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/song_gen.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 1;
    }
    const std::string dir = argv[1];
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } songs[] = {
        {"stress", song_gen::stress_song(2)},
        {"dense", song_gen::dense_song(6)},
        {"held", song_gen::held_song(1)},
        {"wave-upload", song_gen::wave_upload_song()},
    };
    // Seek fraction, then block size low and high byte.
    const std::vector<uint8_t> tails[] = {
        {0x00, 0xFF, 0x03}, {0x80, 0x3F, 0x00}, {0xF0, 0x00, 0x00}};
    for (const auto& song : songs) {
        if (!song_gen::write_file(dir + "/" + song.name + ".mid", song.bytes)) return 1;
        for (size_t i = 0; i < std::size(tails); ++i) {
            std::vector<uint8_t> bytes = song.bytes;
            bytes.insert(bytes.end(), tails[i].begin(), tails[i].end());
            const std::string path = dir + "/" + song.name + "-tail" + std::to_string(i) + ".mid";
            if (!song_gen::write_file(path, bytes)) return 1;
        }
    }
    return 0;
}
