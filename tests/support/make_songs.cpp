// Writes the small test songs into a folder, all of them or the ones named.
//   make_songs DIR [NAME...]     NAME: melodic, drums, waves, minute
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/song_gen.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_songs DIR [NAME...]\n");
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    for (const auto& [name, make] : song_gen::kTestSongs) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i)
            wanted = wanted || name == std::string(argv[i]);
        if (wanted && !song_gen::write_file(std::string(argv[1]) + "/" + name + ".mid", make()))
            return 1;
    }
    return 0;
}
