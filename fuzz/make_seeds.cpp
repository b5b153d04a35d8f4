// Writes the fuzzers' seed songs into a folder: the test songs and the benchmark's generated
// songs, shortened, each also with a three-byte tail that gives the engine target a seek
// fraction and a block size.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/song_gen.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 1;
    }
    std::vector<std::pair<std::string, std::vector<uint8_t>>> songs = {
        {"stress", song_gen::stress_song(2)},
        {"dense", song_gen::dense_song(6)},
        {"held", song_gen::held_song(1)},
        {"wave-upload", song_gen::wave_upload_song()}};
    for (const auto& [name, make] : song_gen::kTestSongs)
        songs.emplace_back(name, make());
    // None, then seek fraction, block size low and high byte.
    const std::vector<uint8_t> tails[] = {{}, {0x00, 0xFF, 0x03}, {0x80, 0x3F, 0x00}, {0xF0, 0, 0}};
    for (const auto& [name, bytes] : songs) {
        for (size_t i = 0; i < std::size(tails); ++i) {
            std::vector<uint8_t> seed = bytes;
            seed.insert(seed.end(), tails[i].begin(), tails[i].end());
            const std::string path = std::string(argv[1]) + "/" + name + "-" + std::to_string(i);
            if (!song_gen::write_file(path + ".mid", seed)) return 1;
        }
    }
    return 0;
}
