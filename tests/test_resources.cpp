// Resource location, the song named on the command line and the first song loaded.
#include <unistd.h>

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/initial_song.h"
#include "app/resources.h"
#include "synth/synth.h"

namespace {

void put(const std::string& path, const std::string& data = "x") {
    gchar* dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    ASSERT_TRUE(g_file_set_contents(path.c_str(), data.data(), gssize(data.size()), nullptr));
}

// Runs each test inside <tmp>/top/work, so that the relative candidates "../x" and "../../x"
// stay inside the temporary tree.
class ResourceDir : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* system_dir : {"/usr/share/velta", "/usr/local/share/velta"}) {
            if (access((std::string(system_dir) + "/" + kSkinFile).c_str(), R_OK) == 0)
                GTEST_SKIP() << "installed skin in " << system_dir;
        }
        ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
        gchar* dir = g_dir_make_tmp("velta-res-XXXXXX", nullptr);
        char* real = realpath(dir, nullptr);
        g_free(dir);
        tmp_ = real;
        free(real);
        root_ = tmp_ + "/top";
        work_ = root_ + "/work";
        ASSERT_EQ(g_mkdir_with_parents(work_.c_str(), 0755), 0);
        ASSERT_EQ(chdir(work_.c_str()), 0);
        g_unsetenv(kResourceDirEnv);
    }
    void TearDown() override {
        if (old_cwd_[0] == '\0') return;
        EXPECT_EQ(chdir(old_cwd_), 0);
        EXPECT_EQ(system(("rm -rf '" + tmp_ + "'").c_str()), 0);
    }
    std::string locate(const char* argv0) {
        char dir[kPathCapacity];
        locate_resource_dir(dir, argv0);
        return dir;
    }
    char old_cwd_[PATH_MAX] = {};
    std::string tmp_, root_, work_;
};

TEST_F(ResourceDir, CandidatesAreTriedInOrderAndDotIsLast) {
    // The environment directory counts only with the skin image in it.
    const std::string env = root_ + "/env";
    put(env + "/" + kDemoSongFile);
    put(work_ + "/share/velta/" + kSkinFile);
    g_setenv(kResourceDirEnv, env.c_str(), TRUE);
    EXPECT_EQ(locate(nullptr), "./share/velta");

    // Each candidate gets a skin; removing the winner's skin exposes the next one.
    const std::string candidates[][2] = {
        {env, env},
        {"../share/velta", root_ + "/share/velta"},
        {"./share/velta", work_ + "/share/velta"},
        {"./shared/resources", work_ + "/shared/resources"},
        {"../../shared/resources", tmp_ + "/shared/resources"},
    };
    for (const auto& candidate : candidates)
        put(candidate[1] + "/" + kSkinFile);
    for (const auto& candidate : candidates) {
        EXPECT_EQ(locate(nullptr), candidate[0]);
        ASSERT_EQ(unlink((candidate[1] + "/" + kSkinFile).c_str()), 0);
    }
    EXPECT_EQ(locate(nullptr), ".");

    // Beside the executable, found only through a name with a slash (links resolved).
    const std::string bin = root_ + "/opt/bin";
    put(bin + "/velta");
    put(root_ + "/opt/share/velta/" + kSkinFile);
    ASSERT_EQ(symlink((bin + "/velta").c_str(), "velta"), 0);
    EXPECT_EQ(locate("./velta"), bin + "/../share/velta");
    EXPECT_EQ(locate("velta"), ".") << "a bare name is looked up on PATH";
}

// Activation's first load, with a resource directory that holds the demo song.
TEST_F(ResourceDir, FirstSongIsTheNamedOneOrTheDemoAndKeepsTheAudioFailure) {
    gchar* song = nullptr;
    gsize length = 0;
    ASSERT_TRUE(
        g_file_get_contents(VELTA_BINARY_DIR "/tests/songs/melodic.mid", &song, &length, nullptr));
    put(root_ + "/res/" + kDemoSongFile, std::string(song, length));
    g_free(song);
    auto first_load = [&](const char* resources, const std::string& named, int audio_failed) {
        auto app = std::make_unique<AppState>();
        synth_init(app->player, 44100);
        app->audio_failed = audio_failed;
        snprintf(app->resource_dir, kPathCapacity, "%s/%s", root_.c_str(), resources);
        if (!named.empty()) {
            GFile* file = g_file_new_for_path(named.c_str());
            remember_initial_song(*app, file);
            g_object_unref(file);
        }
        load_first_song(*app);
        return std::string(app->player.song_path) + " | " + app->player.status_text;
    };
    const std::string demo = root_ + "/res/" + kDemoSongFile;
    const std::string none = " | ";
    EXPECT_EQ(first_load("res", "", 0), demo + " | Loaded MIDI");
    EXPECT_EQ(first_load("res", "", 1), demo + " | " + kAudioFailedText);
    EXPECT_EQ(first_load("nothing", "", 1), none + kAudioFailedText);
    // A named song that fails keeps its own message, with no fallback to the demo song.
    EXPECT_EQ(first_load("res", root_ + "/absent.mid", 1), none + kMidiOpenFailedText);
    EXPECT_EQ(first_load("res", root_ + "/" + std::string(5000, 'h'), 1),
              none + kMidiOpenFailedText);
}

TEST(SongArgument, PathsThatDoNotFitAreRejectedWhole) {
    char out[kPathCapacity];
    const std::string longest = "/" + std::string(4094, 'p');
    EXPECT_TRUE(copy_song_path(out, longest.c_str()));
    EXPECT_EQ(out, longest);
    EXPECT_FALSE(copy_song_path(out, (longest + "p").c_str()));
    EXPECT_STREQ(out, "");
}

} // namespace
