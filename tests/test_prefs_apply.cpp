// Confirming the preferences: chosen options to settings, what must be redone, the status line,
// and putting them into effect without a window (the engine restart included).
#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/engine_restart.h"
#include "app/initial_song.h"
#include "prefs/prefs_apply.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"
#include "tests/support/midi_bytes.h"

namespace {

constexpr const char* kDefaultSummary =
    "Preferences: 44100Hz, 10fps, 2.0s block, wave set SCC like Full-Set (0)";

// GLib reads XDG_CONFIG_HOME once per process: point it at a private directory before any
// test runs. An empty runtime directory leaves PipeWire unreachable, so the output cannot start.
class PrivateDirs : public ::testing::Environment {
  public:
    void SetUp() override {
        gchar* dir = g_dir_make_tmp("velta-prefs-apply-XXXXXX", nullptr);
        ASSERT_NE(dir, nullptr);
        root = dir;
        g_free(dir);
        g_setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), TRUE);
        g_mkdir_with_parents((root + "/run").c_str(), 0700);
        g_setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), TRUE);
        g_setenv("PIPEWIRE_RUNTIME_DIR", (root + "/run").c_str(), TRUE);
        g_unsetenv("PIPEWIRE_REMOTE");
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + root + "'").c_str()), 0); }
    static inline std::string root;
};
const auto* const kPrivateDirs = ::testing::AddGlobalTestEnvironment(new PrivateDirs);

std::string summary_of(const Preferences& prefs) {
    char text[kPrefsSummaryCapacity];
    format_prefs_summary(text, prefs, prefs.instrument_set);
    return text;
}

TEST(PrefsPlan, ChosenRowsGiveSettingsSummaryAndWhatToRedo) {
    struct Case {
        const char* name;
        PrefField field;
        std::optional<int32_t> row;
        Preferences expected;
        bool restart, rearm;
        const char* summary;
    };
    const char* const k48000 =
        "Preferences: 48000Hz, 10fps, 2.0s block, wave set SCC like Full-Set (0)";
    // clang-format off
    const Case cases[] = {
        {"unchanged", PrefField::output_frequency_hz, 1, {}, false, false, kDefaultSummary},
        {"redraw 25", PrefField::redraw_timing_fps, 2, {44100, 1, 25, 20, 0, 0, 0}, false, true,
         "Preferences: 44100Hz, 25fps, 2.0s block, wave set SCC like Full-Set (0)"},
        {"pulsed square", PrefField::instrument_set, 7, {44100, 1, 10, 20, 0, 7, 0}, false, false,
         "Preferences: 44100Hz, 10fps, 2.0s block, wave set All PulsedSquare Set (7)"},
        {"block 0.1", PrefField::buffer_block_tenths, 6, {44100, 1, 10, 1, 0, 0, 0}, false, false,
         "Preferences: 44100Hz, 10fps, 0.1s block, wave set SCC like Full-Set (0)"},
        {"block 6", PrefField::buffer_block_tenths, 0, {44100, 1, 10, 60, 0, 0, 0}, false, false,
         "Preferences: 44100Hz, 10fps, 6.0s block, wave set SCC like Full-Set (0)"},
        {"48000", PrefField::output_frequency_hz, 0, {48000, 1, 10, 20, 0, 0, 0}, true, false,
         k48000},
        // Nothing selected reads as a negative position: the first row.
        {"none selected", PrefField::output_frequency_hz, -1, {48000, 1, 10, 20, 0, 0, 0}, true,
         false, k48000},
        {"past the end", PrefField::redraw_timing_fps, 9, {44100, 1, 50, 20, 0, 0, 0}, false,
         true, nullptr},
        {"no drop-down", PrefField::equalizer_mode, std::nullopt, {}, false, false, nullptr},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrefsSelection selection = prefs_selection_of(Preferences{});
        selection[static_cast<int32_t>(c.field)] = c.row;
        const PrefsApplyPlan plan = plan_prefs_apply(Preferences{}, selection);
        for (int32_t n = 0; n < kPrefFieldCount; ++n) {
            EXPECT_EQ(pref_field(plan.prefs, PrefField(n)), pref_field(c.expected, PrefField(n)))
                << pref_field_info(PrefField(n)).key;
        }
        EXPECT_EQ(plan.restart_engine, c.restart);
        EXPECT_EQ(plan.rearm_timer, c.rearm);
        if (c.summary != nullptr) {
            EXPECT_EQ(summary_of(plan.prefs), c.summary);
        }
    }
    // A set number other than 0 to 7 is named as the full set; the number is the synth's.
    char text[kPrefsSummaryCapacity];
    format_prefs_summary(text, Preferences{22050, 0, 1, 5, 0, 9, 5}, 9);
    EXPECT_STREQ(text, "Preferences: 22050Hz, 1fps, 0.5s block, wave set SCC like Full-Set (9)");
}

TEST(PrefsPlan, SilencedOutputOutranksAFailedReloadWhichOutranksTheSummary) {
    const char* loader = "Could not open MIDI file.";
    EXPECT_STREQ(prefs_status_text(false, false, loader, "S"), "S");
    EXPECT_STREQ(prefs_status_text(false, true, loader, "S"), loader);
    EXPECT_STREQ(prefs_status_text(true, false, loader, "S"), kAudioFailedText);
    EXPECT_STREQ(prefs_status_text(true, true, loader, "S"), kAudioFailedText);
}

class ApplyPrefs : public ::testing::Test {
  protected:
    void SetUp() override {
        key_file = PrivateDirs::root + "/config/velta/preferences.ini";
        remove(key_file.c_str());
        synth_init(app->player, app->prefs.output_frequency_hz);
        const std::string written = write_file(PrivateDirs::root + "/song.mid", melody(16));
        ASSERT_TRUE(copy_song_path(song, written.c_str()));
        ASSERT_TRUE(load_song(app->player, song));
    }
    void TearDown() override {
        audio_output_stop(app->audio);
        std::lock_guard guard(app->player.lock);
        free_song(app->player.song);
    }
    void apply(PrefField field, int32_t row) {
        PrefsSelection selection = prefs_selection_of(app->prefs);
        selection[static_cast<int32_t>(field)] = row;
        apply_preferences(*app, plan_prefs_apply(app->prefs, selection));
    }
    std::string key_file;
    char song[kPathCapacity] = {};
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
};

TEST_F(ApplyPrefs, OkWithoutChangesSavesAndLeavesTheEngineAlone) {
    start_playback(app->player);
    app->player.position = 12345;
    apply(PrefField::output_frequency_hz, 1);
    gchar* text = nullptr;
    ASSERT_TRUE(g_file_get_contents(key_file.c_str(), &text, nullptr, nullptr)) << "created";
    EXPECT_STREQ(text, "[Preferences]\noutput_frequency_hz=44100\nauto_detune_mode=1\n"
                       "redraw_timing_fps=10\nbuffer_block_tenths=20\ndrumset_mode=0\n"
                       "instrument_set=0\nequalizer_mode=0\n");
    g_free(text);
    EXPECT_STREQ(app->player.status_text, kDefaultSummary);
    EXPECT_EQ(app->player.position, 12345u) << "not restarted";
    EXPECT_EQ(app->player.active, 1);

    apply(PrefField::instrument_set, 7);
    EXPECT_EQ(app->player.synth.instrument_set, 7);
    EXPECT_EQ(app->player.position, 12345u);
}

// No PipeWire here: the restart cannot start the output again, and says so even though the
// song itself loaded again and plays from its beginning.
TEST_F(ApplyPrefs, RestartWithoutOutputKeepsTheFailureText) {
    start_playback(app->player);
    app->player.position = 12345;
    apply(PrefField::output_frequency_hz, 0);
    EXPECT_EQ(app->prefs.output_frequency_hz, 48000);
    EXPECT_STREQ(app->player.status_text, kAudioFailedText);
    EXPECT_EQ(app->player.output_rate, 48000);
    EXPECT_EQ(app->player.synth.sample_rate, 48000);
    EXPECT_STREQ(app->player.song_path, song);
    EXPECT_EQ(app->player.song.rate, 48000u);
    EXPECT_EQ(app->player.active, 1);
    EXPECT_EQ(app->player.position, 0u);

    // A song that no longer loads leaves no song: both failures are reported, and the loader's
    // text is left in place for the status decision.
    const std::string gone = PrivateDirs::root + "/gone.mid";
    ASSERT_TRUE(g_file_set_contents(gone.c_str(), "MThd", 4, nullptr));
    ASSERT_TRUE(copy_song_path(app->player.song_path, gone.c_str()));
    remove(gone.c_str());
    const EngineRestartResult result = restart_engine(*app, 22050);
    EXPECT_TRUE(result.audio_failed);
    EXPECT_TRUE(result.reload_failed);
    EXPECT_EQ(app->player.song.events.size(), 0u);
    EXPECT_STREQ(app->player.status_text, kMidiOpenFailedText) << "the loader's own text";
}

} // namespace
