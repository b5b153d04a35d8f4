// The preferences key file: what loads, what falls back to defaults, and what a save writes.
#include <sys/stat.h>

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "prefs/preferences.h"

namespace {

bool same(const Preferences& a, const Preferences& b) {
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        if (pref_field(a, PrefField(n)) != pref_field(b, PrefField(n))) return false;
    }
    return true;
}

class PrefsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        gchar* dir = g_dir_make_tmp("velta-prefs-XXXXXX", nullptr);
        ASSERT_NE(dir, nullptr);
        dir_ = dir;
        g_free(dir);
        path_ = dir_ + "/velta/preferences.ini";
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0); }
    Preferences load(const std::string& text) {
        g_mkdir_with_parents((dir_ + "/velta").c_str(), 0700);
        EXPECT_TRUE(g_file_set_contents(path_.c_str(), text.c_str(), -1, nullptr));
        return prefs_load_from(path_.c_str());
    }
    std::string read(const std::string& path) {
        gchar* text = nullptr;
        if (!g_file_get_contents(path.c_str(), &text, nullptr, nullptr)) return "<unreadable>";
        std::string result = text;
        g_free(text);
        return result;
    }
    std::string dir_, path_;
};

TEST_F(PrefsFile, UnusableFilesAndValuesGiveDefaults) {
    const Preferences defaults;
    EXPECT_TRUE(same(prefs_load_from(path_.c_str()), defaults));
    EXPECT_FALSE(g_file_test(path_.c_str(), G_FILE_TEST_EXISTS)) << "loading creates nothing";
    EXPECT_TRUE(same(load("this is not = a key file\n[[[\n\x01\x02"), defaults));
    EXPECT_TRUE(same(load("[Settings]\noutput_frequency_hz=22050\n"), defaults));
    EXPECT_TRUE(same(load("[Preferences]\noutput_frequency_hz=48001\nauto_detune_mode=2\n"
                          "redraw_timing_fps=0\nbuffer_block_tenths=15\ndrumset_mode=3\n"
                          "instrument_set=9\nequalizer_mode=1\n"),
                     defaults));
    EXPECT_TRUE(same(load("[Preferences]\noutput_frequency_hz=22050\nauto_detune_mode=0\n"
                          "redraw_timing_fps=50\nbuffer_block_tenths=1\ndrumset_mode=0\n"
                          "instrument_set=7\nequalizer_mode=5\n"),
                     Preferences{22050, 0, 50, 1, 0, 7, 5}));
    // A word for one key leaves only that key at its default.
    EXPECT_TRUE(same(load("[Preferences]\noutput_frequency_hz=22050\nredraw_timing_fps=fast\n"
                          "instrument_set=3\n"),
                     Preferences{22050, 1, 10, 20, 0, 3, 0}));
}

TEST_F(PrefsFile, SaveWritesExactlyTheSevenKeysInPrivateDirectories) {
    load("# my notes\n[Other]\nx=1\n[Preferences]\nequalizer_mode=5\nextra_key=7\n");
    prefs_save_to(path_.c_str(), Preferences{});
    EXPECT_EQ(read(path_), "[Preferences]\noutput_frequency_hz=44100\nauto_detune_mode=1\n"
                           "redraw_timing_fps=10\nbuffer_block_tenths=20\ndrumset_mode=0\n"
                           "instrument_set=0\nequalizer_mode=0\n");
    const std::string nested = dir_ + "/a/b/velta/preferences.ini";
    const Preferences changed{48000, 0, 25, 2, 0, 6, 5};
    prefs_save_to(nested.c_str(), changed);
    EXPECT_TRUE(same(prefs_load_from(nested.c_str()), changed));
    struct stat info = {};
    ASSERT_EQ(stat((dir_ + "/a/b/velta").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // The user-level pair finds its file under XDG_CONFIG_HOME (read once per process by GLib,
    // so this is the only test that touches it).
    g_setenv("XDG_CONFIG_HOME", dir_.c_str(), TRUE);
    prefs_save(changed);
    EXPECT_TRUE(same(prefs_load_from(path_.c_str()), changed));
    EXPECT_TRUE(same(prefs_load(), changed));
}

} // namespace
