// The preferences: the key file, what confirming the dialog changes, and putting it into effect
// without a window (the engine restart included).
#include <sys/stat.h>

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/engine_restart.h"
#include "app/initial_song.h"
#include "prefs/preferences.h"
#include "prefs/prefs_apply.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "synth/synth.h"

namespace {

constexpr const char* kDefaultFile =
    "[Preferences]\noutput_frequency_hz=44100\nauto_detune_mode=1\n"
    "redraw_timing_fps=10\nbuffer_block_tenths=20\ndrumset_mode=0\n"
    "instrument_set=0\nequalizer_mode=0\n";
constexpr const char* kDefaultSummary =
    "Preferences: 44100Hz, 10fps, 2.0s block, wave set SCC like Full-Set (0)";

// GLib reads XDG_CONFIG_HOME once per process: point it at a private directory before any test
// runs. An empty runtime directory leaves PipeWire unreachable, so the output cannot start.
class PrivateDirs : public ::testing::Environment {
  public:
    void SetUp() override {
        gchar* dir = g_dir_make_tmp("velta-prefs-XXXXXX", nullptr);
        ASSERT_NE(dir, nullptr);
        root = dir;
        g_free(dir);
        g_setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), TRUE);
        g_mkdir_with_parents((root + "/run").c_str(), 0700);
        g_setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), TRUE);
        g_setenv("PIPEWIRE_RUNTIME_DIR", (root + "/run").c_str(), TRUE);
        g_unsetenv("PIPEWIRE_REMOTE");
        key_file = root + "/config/velta/preferences.ini";
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + root + "'").c_str()), 0); }
    static inline std::string root, key_file;
};
const auto* const kPrivateDirs = ::testing::AddGlobalTestEnvironment(new PrivateDirs);

std::string fields(const Preferences& prefs) {
    std::string text;
    for (int32_t n = 0; n < kPrefFieldCount; ++n)
        text += std::to_string(pref_field(prefs, PrefField(n))) + " ";
    return text;
}

std::string read(const std::string& path) {
    gchar* text = nullptr;
    if (!g_file_get_contents(path.c_str(), &text, nullptr, nullptr)) return "<unreadable>";
    std::string result = text;
    g_free(text);
    return result;
}

TEST(PrefsFile, UnusableValuesGiveDefaultsAndSaveWritesTheSevenKeys) {
    const std::string path = PrivateDirs::root + "/load.ini";
    EXPECT_EQ(fields(prefs_load_from(path.c_str())), fields(Preferences{})) << "no file";
    EXPECT_FALSE(g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) << "loading creates nothing";
    const struct {
        const char* text;
        Preferences expected;
    } cases[] = {
        {"this is not = a key file\n[[[\n\x01\x02", {}},
        {"[Settings]\noutput_frequency_hz=22050\n", {}},
        {"[Preferences]\noutput_frequency_hz=48001\nauto_detune_mode=2\nredraw_timing_fps=0\n"
         "buffer_block_tenths=15\ndrumset_mode=3\ninstrument_set=9\nequalizer_mode=1\n",
         {}},
        {"[Preferences]\noutput_frequency_hz=22050\nauto_detune_mode=0\nredraw_timing_fps=50\n"
         "buffer_block_tenths=1\ndrumset_mode=0\ninstrument_set=7\nequalizer_mode=5\n",
         {22050, 0, 50, 1, 0, 7, 5}},
        // A word for one key leaves only that key at its default.
        {"[Preferences]\noutput_frequency_hz=22050\nredraw_timing_fps=fast\ninstrument_set=3\n",
         {22050, 1, 10, 20, 0, 3, 0}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(g_file_set_contents(path.c_str(), c.text, -1, nullptr));
        EXPECT_EQ(fields(prefs_load_from(path.c_str())), fields(c.expected)) << c.text;
    }
    // A save replaces everything else in the file and creates private directories.
    prefs_save_to(path.c_str(), Preferences{});
    EXPECT_EQ(read(path), kDefaultFile);
    const Preferences changed{48000, 0, 25, 2, 0, 6, 5};
    prefs_save(changed);
    EXPECT_EQ(fields(prefs_load_from(PrivateDirs::key_file.c_str())), fields(changed));
    EXPECT_EQ(fields(prefs_load()), fields(changed));
    struct stat info = {};
    ASSERT_EQ(stat((PrivateDirs::root + "/config/velta").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    remove(PrivateDirs::key_file.c_str());
}

TEST(PrefsPlan, ChosenRowsGiveSettingsSummaryAndWhatToRedo) {
    struct Case {
        PrefField field;
        std::optional<int32_t> row;
        Preferences expected;
        bool restart, rearm;
        const char* summary;
    };
    // clang-format off
    const Case cases[] = {
        {PrefField::output_frequency_hz, 1, {}, false, false, kDefaultSummary},
        {PrefField::redraw_timing_fps, 2, {44100, 1, 25, 20, 0, 0, 0}, false, true,
         "Preferences: 44100Hz, 25fps, 2.0s block, wave set SCC like Full-Set (0)"},
        {PrefField::instrument_set, 7, {44100, 1, 10, 20, 0, 7, 0}, false, false,
         "Preferences: 44100Hz, 10fps, 2.0s block, wave set All PulsedSquare Set (7)"},
        {PrefField::buffer_block_tenths, 6, {44100, 1, 10, 1, 0, 0, 0}, false, false,
         "Preferences: 44100Hz, 10fps, 0.1s block, wave set SCC like Full-Set (0)"},
        {PrefField::output_frequency_hz, 0, {48000, 1, 10, 20, 0, 0, 0}, true, false, nullptr},
        // Nothing selected reads as a negative position: the first row; past the end, the last.
        {PrefField::output_frequency_hz, -1, {48000, 1, 10, 20, 0, 0, 0}, true, false, nullptr},
        {PrefField::redraw_timing_fps, 9, {44100, 1, 50, 20, 0, 0, 0}, false, true, nullptr},
        {PrefField::equalizer_mode, std::nullopt, {}, false, false, nullptr}, // no drop-down
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(pref_field_info(c.field).key);
        PrefsSelection selection = prefs_selection_of(Preferences{});
        selection[static_cast<int32_t>(c.field)] = c.row;
        const PrefsApplyPlan plan = plan_prefs_apply(Preferences{}, selection);
        EXPECT_EQ(fields(plan.prefs), fields(c.expected)) << c.row.value_or(99);
        EXPECT_EQ(plan.restart_engine, c.restart);
        EXPECT_EQ(plan.rearm_timer, c.rearm);
        char text[kPrefsSummaryCapacity];
        format_prefs_summary(text, plan.prefs, plan.prefs.instrument_set);
        EXPECT_STREQ(text, c.summary != nullptr ? c.summary : text);
    }
    // A set number other than 0 to 7 is named as the full set; the number is the synth's.
    char text[kPrefsSummaryCapacity];
    format_prefs_summary(text, Preferences{22050, 0, 1, 5, 0, 9, 5}, 9);
    EXPECT_STREQ(text, "Preferences: 22050Hz, 1fps, 0.5s block, wave set SCC like Full-Set (9)");
    // A silenced output outranks a failed reload, which outranks the summary.
    const char* loader = "Could not open MIDI file.";
    EXPECT_STREQ(prefs_status_text(false, false, loader, "S"), "S");
    EXPECT_STREQ(prefs_status_text(false, true, loader, "S"), loader);
    EXPECT_STREQ(prefs_status_text(true, true, loader, "S"), kAudioFailedText);
}

class ApplyPrefs : public ::testing::Test {
  protected:
    void SetUp() override {
        synth_init(app->player, app->prefs.output_frequency_hz);
        ASSERT_TRUE(load_song(app->player, kSong));
        start_playback(app->player);
        app->player.position = 12345;
    }
    void TearDown() override {
        audio_output_stop(app->audio);
        std::lock_guard guard(app->player.lock);
        free_song(app->player.song);
        remove(PrivateDirs::key_file.c_str());
    }
    void apply(PrefField field, int32_t row) {
        PrefsSelection selection = prefs_selection_of(app->prefs);
        selection[static_cast<int32_t>(field)] = row;
        apply_preferences(*app, plan_prefs_apply(app->prefs, selection));
    }
    static constexpr const char* kSong = VELTA_BINARY_DIR "/tests/songs/melodic.mid";
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
};

TEST_F(ApplyPrefs, OkWithoutChangesSavesAndLeavesTheEngineAlone) {
    apply(PrefField::output_frequency_hz, 1);
    EXPECT_EQ(read(PrivateDirs::key_file), kDefaultFile);
    EXPECT_STREQ(app->player.status_text, kDefaultSummary);
    apply(PrefField::instrument_set, 7);
    EXPECT_EQ(app->player.synth.instrument_set, 7);
    EXPECT_EQ(app->player.position, 12345u) << "not restarted";
    EXPECT_EQ(app->player.active, 1);
}

// No PipeWire here: the restart cannot start the output again and says so, though the song
// itself loaded again and plays from its beginning at the new rate.
TEST_F(ApplyPrefs, RestartWithoutOutputKeepsTheFailureText) {
    apply(PrefField::output_frequency_hz, 0);
    EXPECT_STREQ(app->player.status_text, kAudioFailedText);
    EXPECT_EQ(app->player.synth.sample_rate, 48000);
    EXPECT_EQ(app->player.song.rate, 48000u);
    EXPECT_STREQ(app->player.song_path, kSong);
    EXPECT_EQ(app->player.active, 1);
    EXPECT_EQ(app->player.position, 0u);

    // A song that no longer loads leaves no song and the loader's text for the status decision.
    ASSERT_TRUE(copy_song_path(app->player.song_path, "/nonexistent/gone.mid"));
    const EngineRestartResult result = restart_engine(*app, 22050);
    EXPECT_TRUE(result.audio_failed);
    EXPECT_TRUE(result.reload_failed);
    EXPECT_EQ(app->player.song.events.size(), 0u);
    EXPECT_STREQ(app->player.status_text, kMidiOpenFailedText);
}

} // namespace
