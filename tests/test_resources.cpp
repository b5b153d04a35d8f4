#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/initial_song.h"
#include "app/resources.h"
#include "synth/synth.h"

namespace {

const std::string kDemoSong = std::string(VELTA_SOURCE_DIR) + "/resources/final-bowser.mid";

void touch(const std::string& path) {
    gchar* dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    ASSERT_TRUE(g_file_set_contents(path.c_str(), "x", 1, nullptr)) << path;
}

void copy_file(const std::string& from, const std::string& to) {
    gchar* data = nullptr;
    gsize length = 0;
    ASSERT_TRUE(g_file_get_contents(from.c_str(), &data, &length, nullptr)) << from;
    gchar* dir = g_path_get_dirname(to.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    EXPECT_TRUE(g_file_set_contents(to.c_str(), data, static_cast<gssize>(length), nullptr));
    g_free(data);
}

std::string status_of(AppState& app) {
    std::lock_guard<std::mutex> guard(app.player.lock);
    return app.player.status_text;
}

std::string song_path_of(AppState& app) {
    std::lock_guard<std::mutex> guard(app.player.lock);
    return app.player.song_path;
}

// Runs each test inside <tmp>/work, so that the relative candidates "../x" and "../../x"
// stay inside the temporary tree.
class ResourceDir : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* system_dir : {"/usr/share/velta", "/usr/local/share/velta"}) {
            const std::string skin = std::string(system_dir) + "/" + kSkinFile;
            if (access(skin.c_str(), R_OK) == 0) GTEST_SKIP() << "installed skin in " << system_dir;
        }
        ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
        gchar* dir = g_dir_make_tmp("velta-res-XXXXXX", nullptr);
        ASSERT_NE(dir, nullptr);
        char* real = realpath(dir, nullptr);
        g_free(dir);
        tmp_ = real;
        root_ = tmp_ + "/top";
        free(real);
        work_ = root_ + "/work";
        ASSERT_EQ(g_mkdir_with_parents(work_.c_str(), 0755), 0);
        ASSERT_EQ(chdir(work_.c_str()), 0);
        g_unsetenv(kResourceDirEnv);
    }
    void TearDown() override {
        g_unsetenv(kResourceDirEnv);
        if (old_cwd_[0] == '\0') return;
        EXPECT_EQ(chdir(old_cwd_), 0);
        gchar* quoted = g_shell_quote(tmp_.c_str());
        const std::string command = std::string("rm -rf ") + quoted;
        g_free(quoted);
        EXPECT_EQ(system(command.c_str()), 0);
    }
    std::string locate(const char* argv0) {
        char dir[kPathCapacity];
        memset(dir, 'z', sizeof dir);
        locate_resource_dir(dir, argv0);
        return dir;
    }

    char old_cwd_[PATH_MAX] = {};
    std::string tmp_;
    std::string root_; // <tmp>/top
    std::string work_; // <tmp>/top/work, the working directory
};

TEST_F(ResourceDir, CandidatesAreTriedInOrderAndDotIsLast) {
    // Each candidate gets a skin; removing the winner's skin exposes the next one.
    const std::string env = root_ + "/env";
    const std::string candidates[][2] = {
        {env, env},
        {"../share/velta", root_ + "/share/velta"},
        {"./share/velta", work_ + "/share/velta"},
        {"./shared/resources", work_ + "/shared/resources"},
        {"../../shared/resources", tmp_ + "/shared/resources"},
    };
    for (const auto& candidate : candidates)
        touch(candidate[1] + "/" + kSkinFile);
    g_setenv(kResourceDirEnv, env.c_str(), TRUE);
    for (const auto& candidate : candidates) {
        EXPECT_EQ(locate(nullptr), candidate[0]);
        ASSERT_EQ(unlink((candidate[1] + "/" + kSkinFile).c_str()), 0);
    }
    EXPECT_EQ(locate(nullptr), ".");
}

TEST_F(ResourceDir, EnvironmentDirectoryNeedsTheSkinImage) {
    const std::string env = root_ + "/env";
    touch(env + "/" + kAtlasFile);
    touch(env + "/" + kDemoSongFile);
    touch(work_ + "/share/velta/" + kSkinFile);
    g_setenv(kResourceDirEnv, env.c_str(), TRUE);
    EXPECT_EQ(locate(nullptr), "./share/velta");

    // A value so long that the probe path would not fit is skipped, not cut.
    const std::string long_env = env + "/" + std::string(4080, 'd');
    g_setenv(kResourceDirEnv, long_env.c_str(), TRUE);
    EXPECT_EQ(locate(nullptr), "./share/velta");
}

TEST_F(ResourceDir, ExecutableDirectoryNeedsASlashInTheProgramName) {
    const std::string bin = root_ + "/opt/bin";
    touch(bin + "/velta");
    touch(root_ + "/opt/share/velta/" + kSkinFile);
    const std::string expected = bin + "/../share/velta";

    EXPECT_EQ(locate((bin + "/velta").c_str()), expected);
    ASSERT_EQ(symlink((bin + "/velta").c_str(), "velta"), 0);
    EXPECT_EQ(locate("./velta"), expected); // resolved through the link
    EXPECT_EQ(locate("velta"), ".");        // a bare name is looked up on PATH, not here
    EXPECT_EQ(locate((root_ + "/missing/velta").c_str()), ".");
    EXPECT_EQ(locate(nullptr), ".");
}

TEST(SongArgument, PathsThatDoNotFitAreRejectedWhole) {
    char out[kPathCapacity];
    const std::string longest = "/" + std::string(4094, 'p');
    EXPECT_TRUE(copy_song_path(out, longest.c_str()));
    EXPECT_EQ(out, longest);
    EXPECT_FALSE(copy_song_path(out, (longest + "p").c_str()));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(copy_song_path(out, ""));
    EXPECT_FALSE(copy_song_path(out, nullptr));
}

TEST(SongArgument, FileArgumentBecomesLocalPathOrUnusable) {
    char out[kPathCapacity];
    GFile* relative = g_file_new_for_commandline_arg("some dir/song.mid");
    EXPECT_TRUE(song_path_from_file(out, relative));
    gchar* cwd = g_get_current_dir();
    EXPECT_EQ(std::string(out), std::string(cwd) + "/some dir/song.mid");
    g_free(cwd);
    g_object_unref(relative);

    GFile* remote = g_file_new_for_uri("http://example.invalid/song.mid");
    EXPECT_FALSE(song_path_from_file(out, remote));
    g_object_unref(remote);

    GFile* huge = g_file_new_for_path(("/tmp/" + std::string(5000, 'h')).c_str());
    auto app = std::make_unique<AppState>();
    remember_initial_song(*app, huge);
    EXPECT_EQ(app->initial_song_unusable, 1);
    EXPECT_STREQ(app->initial_song_path, "");
    g_object_unref(huge);
}

// Activation's first load, with a resource directory that holds the demo song.
class FirstSong : public ResourceDir {
  protected:
    void SetUp() override {
        ResourceDir::SetUp();
        if (IsSkipped()) return;
        app_ = std::make_unique<AppState>();
        synth_init(app_->player, 44100);
        copy_file(kDemoSong, root_ + "/res/" + kDemoSongFile);
        snprintf(app_->resource_dir, kPathCapacity, "%s/res", root_.c_str());
    }
    std::unique_ptr<AppState> app_;
};

TEST_F(FirstSong, DemoSongLoadsWhenNoSongWasNamed) {
    load_first_song(*app_);
    EXPECT_EQ(song_path_of(*app_), root_ + "/res/" + kDemoSongFile);
    EXPECT_EQ(status_of(*app_), "Loaded MIDI");
}

TEST_F(FirstSong, MissingAudioIsReportedAgainAfterASuccessfulLoad) {
    app_->audio_failed = 1;
    load_first_song(*app_);
    EXPECT_FALSE(song_path_of(*app_).empty());
    EXPECT_EQ(status_of(*app_), kAudioFailedText);

    // Without a demo song nothing loads and nothing fails: the audio message stays.
    auto bare = std::make_unique<AppState>();
    synth_init(bare->player, 44100);
    bare->audio_failed = 1;
    snprintf(bare->resource_dir, kPathCapacity, "%s/nothing", root_.c_str());
    load_first_song(*bare);
    EXPECT_EQ(song_path_of(*bare), "");
    EXPECT_EQ(status_of(*bare), kAudioFailedText);
}

TEST_F(FirstSong, FailedLoadKeepsItsOwnMessage) {
    app_->audio_failed = 1;
    snprintf(app_->initial_song_path, kPathCapacity, "%s/absent.mid", root_.c_str());
    load_first_song(*app_);
    EXPECT_EQ(status_of(*app_), kCannotOpenText);
    EXPECT_EQ(song_path_of(*app_), ""); // no fallback to the demo song
}

TEST_F(FirstSong, UnusableNamedSongIsReportedWithoutOpeningAnything) {
    app_->audio_failed = 1;
    GFile* huge = g_file_new_for_path((root_ + "/" + std::string(5000, 'h')).c_str());
    remember_initial_song(*app_, huge);
    g_object_unref(huge);
    load_first_song(*app_);
    EXPECT_EQ(status_of(*app_), kCannotOpenText);
    EXPECT_EQ(song_path_of(*app_), "");
}

TEST(RedrawTimer, IntervalRoundsAndLimitsTheRate) {
    EXPECT_EQ(redraw_interval_ms(1), 1000);
    EXPECT_EQ(redraw_interval_ms(10), 100);
    EXPECT_EQ(redraw_interval_ms(25), 40);
    EXPECT_EQ(redraw_interval_ms(50), 20);
    EXPECT_EQ(redraw_interval_ms(0), 1000);
    EXPECT_EQ(redraw_interval_ms(100), 17);
}

} // namespace
