#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "prefs/preferences.h"

namespace {

constexpr const char* kDefaultsText = "[Preferences]\n"
                                      "output_frequency_hz=44100\n"
                                      "auto_detune_mode=1\n"
                                      "redraw_timing_fps=10\n"
                                      "buffer_block_tenths=20\n"
                                      "drumset_mode=0\n"
                                      "instrument_set=0\n"
                                      "equalizer_mode=0\n";

bool same(const Preferences& a, const Preferences& b) {
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        const auto field = static_cast<PrefField>(n);
        if (pref_field(a, field) != pref_field(b, field)) return false;
    }
    return true;
}

std::string read_text(const std::string& path) {
    gchar* text = nullptr;
    if (!g_file_get_contents(path.c_str(), &text, nullptr, nullptr)) return "<unreadable>";
    std::string result = text;
    g_free(text);
    return result;
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
    void TearDown() override {
        gchar* quoted = g_shell_quote(dir_.c_str());
        const std::string command = std::string("rm -rf ") + quoted;
        g_free(quoted);
        EXPECT_EQ(system(command.c_str()), 0);
    }
    void write(const std::string& text) {
        g_mkdir_with_parents((dir_ + "/velta").c_str(), 0700);
        ASSERT_TRUE(g_file_set_contents(path_.c_str(), text.c_str(), -1, nullptr));
    }

    std::string dir_;
    std::string path_;
};

TEST(PrefsModel, DefaultRowsMatchTheDefaultValues) {
    const Preferences defaults;
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        const auto field = static_cast<PrefField>(n);
        EXPECT_EQ(pref_option_value(field, pref_field_info(field).default_row),
                  pref_field(defaults, field))
            << pref_field_info(field).key;
    }
}

TEST(PrefsModel, OptionValueClampsTheRow) {
    EXPECT_EQ(pref_option_value(PrefField::output_frequency_hz, 5), 22050);
    EXPECT_EQ(pref_option_value(PrefField::output_frequency_hz, -1), 48000);
    EXPECT_EQ(pref_option_value(PrefField::buffer_block_tenths, 6), 1);
    EXPECT_EQ(pref_option_value(PrefField::drumset_mode, 1), 0);
}

TEST_F(PrefsFile, UnusableFilesGiveDefaultsAndCreateNothing) {
    const Preferences defaults;
    EXPECT_TRUE(same(prefs_load_from(path_.c_str()), defaults));
    EXPECT_FALSE(g_file_test(path_.c_str(), G_FILE_TEST_EXISTS));

    write("this is not = a key file\n[[[\n\x01\x02");
    EXPECT_TRUE(same(prefs_load_from(path_.c_str()), defaults));

    write("[Settings]\noutput_frequency_hz=22050\ninstrument_set=3\n");
    EXPECT_TRUE(same(prefs_load_from(path_.c_str()), defaults));
}

TEST_F(PrefsFile, ValuesOutsideTheirTablesLoadAsDefaults) {
    write("[Preferences]\noutput_frequency_hz=48001\nauto_detune_mode=2\nredraw_timing_fps=0\n"
          "buffer_block_tenths=15\ndrumset_mode=3\ninstrument_set=9\nequalizer_mode=1\n");
    EXPECT_TRUE(same(prefs_load_from(path_.c_str()), Preferences{}));

    write("[Preferences]\noutput_frequency_hz=22050\nauto_detune_mode=0\nredraw_timing_fps=50\n"
          "buffer_block_tenths=1\ndrumset_mode=0\ninstrument_set=7\nequalizer_mode=5\n");
    const Preferences loaded = prefs_load_from(path_.c_str());
    EXPECT_TRUE(same(loaded, Preferences{22050, 0, 50, 1, 0, 7, 5}));
}

TEST_F(PrefsFile, WordForOneKeyLeavesOnlyThatKeyAtDefault) {
    write("[Preferences]\noutput_frequency_hz=22050\nredraw_timing_fps=fast\ninstrument_set=3\n"
          "buffer_block_tenths=5\n");
    const Preferences loaded = prefs_load_from(path_.c_str());
    EXPECT_EQ(loaded.redraw_timing_fps, 10);
    EXPECT_EQ(loaded.output_frequency_hz, 22050);
    EXPECT_EQ(loaded.instrument_set, 3);
    EXPECT_EQ(loaded.buffer_block_tenths, 5);
    EXPECT_EQ(loaded.auto_detune_mode, 1);
}

TEST_F(PrefsFile, SaveWritesExactlyTheSevenKeysInOrder) {
    write("# my notes\n[Other]\nx=1\n[Preferences]\nequalizer_mode=5\nextra_key=7\n"
          "output_frequency_hz=48000\n");
    prefs_save_to(path_.c_str(), Preferences{});
    EXPECT_EQ(read_text(path_), kDefaultsText);

    const Preferences changed{48000, 0, 25, 2, 0, 6, 5};
    prefs_save_to(path_.c_str(), changed);
    EXPECT_TRUE(same(prefs_load_from(path_.c_str()), changed));
}

TEST_F(PrefsFile, SaveCreatesMissingDirectoriesPrivately) {
    const std::string nested = dir_ + "/a/b/velta/preferences.ini";
    prefs_save_to(nested.c_str(), Preferences{});
    EXPECT_EQ(read_text(nested), kDefaultsText);
    struct stat info = {};
    ASSERT_EQ(stat((dir_ + "/a/b/velta").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// The user-level pair finds its file under XDG_CONFIG_HOME (read once per process by GLib,
// so this is the only test that touches it).
TEST_F(PrefsFile, UserFileLivesInVeltaConfigDirectory) {
    g_setenv("XDG_CONFIG_HOME", dir_.c_str(), TRUE);
    EXPECT_TRUE(same(prefs_load(), Preferences{}));
    const Preferences changed{22050, 1, 1, 60, 0, 2, 0};
    prefs_save(changed);
    EXPECT_EQ(read_text(path_).rfind("[Preferences]\noutput_frequency_hz=22050\n", 0), 0u);
    EXPECT_TRUE(same(prefs_load(), changed));
}

} // namespace
