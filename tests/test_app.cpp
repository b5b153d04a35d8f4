// The application shell without a window: the preferences file, what confirming the dialog
// changes and putting it into effect (the engine restart included), resource location and the
// first song loaded.
#include <sys/mount.h>
#include <unistd.h>

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/audio_status.h"
#include "export/loudness.h"
#include "prefs/preferences.h"
#include "prefs/prefs_apply.h"
#include "sequencer/event_loop.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "shell/app_state.h"
#include "shell/engine_restart.h"
#include "shell/initial_song.h"
#include "shell/loudness_level.h"
#include "shell/remembered_state.h"
#include "shell/resources.h"
#include "shell/song_words.h"
#include "song/midi_parse.h"
#include "song/song.h"
#include "synth/synth.h"
#include "tests/support/midi_bytes.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kSong = VELTA_BINARY_DIR "/tests/songs/melodic.mid";

// GLib reads XDG_CONFIG_HOME once per process: point it at a private directory before any test
// runs. An empty runtime directory leaves PipeWire unreachable, so the output cannot start.
const std::string kRoot = [] {
    const std::string dir = fs::canonical(fs::temp_directory_path()).string() + "/velta-app-" +
                            std::to_string(getpid());
    fs::create_directories(dir + "/run");
    g_setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), TRUE);
    g_setenv("XDG_STATE_HOME", (dir + "/state").c_str(), TRUE);
    for (const char* var : {"XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR"})
        g_setenv(var, (dir + "/run").c_str(), TRUE);
    g_unsetenv("PIPEWIRE_REMOTE");
    return dir;
}();
const std::string kKeyFile = [] { // registered after kRoot, so it runs while kRoot still exists
    std::atexit([] { fs::remove_all(kRoot); });
    return kRoot + "/config/velta/preferences.ini";
}();

std::string fields(const Preferences& prefs) {
    std::string text;
    for (int32_t n = 0; n < kPrefFieldCount; ++n)
        text += std::to_string(pref_field(prefs, PrefField(n))) + " ";
    return text;
}

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const std::string& path, const std::string& data = "x") {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

TEST(PrefsFile, UnusableValuesGiveDefaultsAndSaveWritesTheNineKeys) {
    const std::string path = kRoot + "/load.ini";
    EXPECT_EQ(fields(prefs_load_from(path.c_str())), fields(Preferences{})) << "no file";
    // clang-format off
    const struct { const char* text; Preferences expected; } cases[] = {
        {"this is not = a key file\n[[[\n\x01\x02", {}},
        {"[Preferences]\noutput_frequency_hz=48001\nredraw_timing_fps=0\nbuffer_block_tenths=15\n", {}},
        {"[Preferences]\noutput_frequency_hz=22050\nauto_detune_mode=0\nredraw_timing_fps=50\n"
         "buffer_block_tenths=1\ndrumset_mode=0\ninstrument_set=7\nequalizer_mode=5\n"
         "loudness_levelling=1\nsong_loops=2\n",
         {22050, 0, 50, 1, 0, 7, 5, 1, 2}},
        // Only the listed numbers of passes: one pass is not on offer.
        {"[Preferences]\nsong_loops=1\n", {}},
        // A word for one key leaves only that key at its default.
        {"[Preferences]\noutput_frequency_hz=22050\nredraw_timing_fps=fast\ninstrument_set=3\n",
         {22050, 1, 10, 20, 0, 3, 0}}};
    // clang-format on
    for (const auto& c : cases) {
        put(path, c.text);
        EXPECT_EQ(fields(prefs_load_from(path.c_str())), fields(c.expected)) << c.text;
    }
    // A save writes only the nine keys, in private directories.
    const Preferences changed{48000, 0, 25, 2, 0, 6, 5, 0, 2};
    int error_number = 0;
    EXPECT_TRUE(prefs_save(changed, error_number));
    EXPECT_EQ(read(kKeyFile),
              "[Preferences]\noutput_frequency_hz=48000\nauto_detune_mode=0\nredraw_timing_fps=25\n"
              "buffer_block_tenths=2\ndrumset_mode=0\ninstrument_set=6\nequalizer_mode=5\n"
              "loudness_levelling=0\nsong_loops=2\n");
    EXPECT_EQ(fields(prefs_load()), fields(changed));
    EXPECT_EQ(fs::status(kRoot + "/config/velta").permissions(), fs::perms::owner_all);
}

// Nothing written says why, and leaves the old file as it was; a linked key file stays a link.
TEST(PrefsFile, AFailedSaveSaysWhyAndKeepsTheOldFile) {
    const std::string dir = kRoot + "/save";
    const Preferences changed{22050, 0, 1, 5, 0, 3, 0};
    int error_number = 0;
    fs::create_directories(dir + "/preferences.ini");
    EXPECT_FALSE(prefs_save_to((dir + "/preferences.ini").c_str(), changed, error_number));
    EXPECT_EQ(error_number, EISDIR);
    put(dir + "/file");
    EXPECT_FALSE(
        prefs_save_to((dir + "/file/velta/preferences.ini").c_str(), changed, error_number));
    EXPECT_EQ(error_number, ENOTDIR) << "a file where the folder should be";
    put(dir + "/dotfiles/real.ini", "old");
    fs::create_symlink("dotfiles/real.ini", dir + "/link.ini");
    EXPECT_TRUE(prefs_save_to((dir + "/link.ini").c_str(), changed, error_number));
    EXPECT_TRUE(fs::is_symlink(dir + "/link.ini"));
    EXPECT_EQ(fields(prefs_load_from((dir + "/dotfiles/real.ini").c_str())), fields(changed));
}

TEST(PrefsFile, ASaveIntoAReadOnlyFolderLeavesTheOldFile) {
    const std::string locked = kRoot + "/locked", path = locked + "/preferences.ini";
    fs::create_directories(locked);
    // Permissions do not hold root back; a read-only file system does.
    const bool root = geteuid() == 0;
    if (root && mount("velta-test", locked.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "root, and no tmpfs can be mounted";
    put(path, "old");
    if (root && mount(nullptr, locked.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        umount(locked.c_str());
        GTEST_SKIP() << "the tmpfs cannot be made read-only";
    }
    if (!root) fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    int error_number = 0;
    const bool saved = prefs_save_to(path.c_str(), Preferences{22050}, error_number);
    const std::string kept = read(path);
    const auto entries = std::distance(fs::directory_iterator(locked), {});
    if (root) umount(locked.c_str());
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_FALSE(saved);
    EXPECT_EQ(error_number, root ? EROFS : EACCES);
    EXPECT_EQ(kept, "old");
    EXPECT_EQ(entries, 1) << "nothing left beside it";
}

TEST(PrefsPlan, ChosenRowsGiveSettingsSummaryAndWhatToRedo) {
    // The value chosen, whether the engine restarts, whether the redraw timer is re-armed and
    // whether the output alone restarts (a new latency request).
    // A row past the end is the last; nothing selected reads as a negative row: the first.
    // clang-format off
    const struct { PrefField field; std::optional<int32_t> row; int32_t value; bool restart, rearm, audio; } cases[] = {
        {PrefField::output_frequency_hz, 1, 44100, false, false, false},
        {PrefField::redraw_timing_fps, 2, 25, false, true, false}, {PrefField::instrument_set, 7, 7, false, false, false},
        {PrefField::buffer_block_tenths, 6, 1, false, false, true}, {PrefField::redraw_timing_fps, 9, 50, false, true, false},
        {PrefField::buffer_block_tenths, 0, 60, false, false, false}, // longer: no request either
        {PrefField::output_frequency_hz, -1, 48000, true, false, false},
        {PrefField::equalizer_mode, std::nullopt, 0, false, false, false}}; // no drop-down
    // clang-format on
    for (const auto& c : cases) {
        PrefsSelection selection = prefs_selection_of(Preferences{});
        selection[static_cast<int32_t>(c.field)] = c.row;
        const PrefsApplyPlan plan = plan_prefs_apply(Preferences{}, selection);
        EXPECT_EQ(std::tuple(pref_field(plan.prefs, c.field), plan.restart_engine, plan.rearm_timer,
                             plan.restart_audio),
                  std::tuple(c.value, c.restart, c.rearm, c.audio))
            << pref_field_info(c.field).key << " row " << c.row.value_or(99);
    }
    // A set number other than 0 to 7 is named as the full set; the number is the synth's.
    char text[kPrefsSummaryCapacity];
    format_prefs_summary(text, Preferences{22050, 0, 1, 5, 0, 9, 5}, 9);
    EXPECT_STREQ(text, "Preferences: 22050Hz, 1fps, 0.5s block, wave set SCC like Full-Set (9)");
    format_prefs_summary(text, Preferences{.loudness_levelling = 1}, 0);
    EXPECT_STREQ(text, "Preferences: 44100Hz, 10fps, 2.0s block, wave set SCC like Full-Set (0), "
                       "songs levelled");
    format_prefs_summary(text, Preferences{.song_loops = 2}, 0);
    EXPECT_STREQ(text, "Preferences: 44100Hz, 10fps, 2.0s block, wave set SCC like Full-Set (0), "
                       "loops from the next song");
    EXPECT_STREQ(kPrefFields[int32_t(PrefField::song_loops)].label, "Song loops");
    EXPECT_STREQ(kSongLoopsOptions[0].label, "play once");
    EXPECT_STREQ(kSongLoopsOptions[1].label, "loop twice, then fade");
    // The block size's tooltip: the default asks nothing; the short ones are capped.
    const auto hint = [&](int32_t row, int32_t rate) {
        format_prefs_hint(text, PrefField::buffer_block_tenths, row, rate);
        return std::string(text);
    };
    EXPECT_EQ(hint(2, 44100), "No latency request: PipeWire picks the block size");
    EXPECT_EQ(hint(3, 44100),
              "Asks PipeWire for a latency of 1000 ms; PipeWire caps this at 46 ms");
    EXPECT_EQ(hint(6, 48000), "Asks PipeWire for a latency of 100 ms; PipeWire caps this at 43 ms");
    EXPECT_EQ(prefs_latency_frames(Preferences{}, 48000), 0u);
    // A silenced output outranks a failed save, which outranks a failed reload, which outranks
    // the summary.
    const char* loader = "Could not open MIDI file.";
    EXPECT_STREQ(prefs_status_text(false, nullptr, true, loader, "S"), loader);
    EXPECT_STREQ(prefs_status_text(false, "F", true, loader, "S"), "F");
    EXPECT_STREQ(prefs_status_text(true, "F", true, loader, "S"), kAudioFailedText);
    format_prefs_save_failure(text, EROFS);
    EXPECT_STREQ(text, "Could not save preferences. (Read-only file system)");
}

// No PipeWire here: a restart cannot start the output again and says so, though the song
// itself loads again at the new rate, at the same moment, as it was and with its mutes.
TEST(ApplyPrefs, OnlyAChangedRateRestartsTheEngine) {
    const auto app = std::make_unique<AppState>();
    Player& player = app->player;
    synth_init(player, app->prefs.output_frequency_hz);
    ASSERT_TRUE(load_song(player, kSong));
    start_playback(player);
    seek_to_frame(player, 12345);
    player_toggle_mute(player, 3);
    const auto apply = [&](PrefField field, int32_t row) {
        PrefsSelection selection = prefs_selection_of(app->prefs);
        selection[static_cast<int32_t>(field)] = row;
        apply_preferences(*app, plan_prefs_apply(app->prefs, selection));
    };
    apply(PrefField::instrument_set, 7);
    EXPECT_EQ(player.synth.instrument_set, 7);
    EXPECT_EQ(player.position, 12345u) << "not restarted";
    // Song loops take effect from the next song loaded: the one playing goes on as it was.
    const uint64_t written_length = player.song.length_frames;
    apply(PrefField::song_loops, 1);
    EXPECT_EQ(player_song_loops(player), 2);
    EXPECT_EQ(player.position, 12345u);
    EXPECT_EQ(player.song.length_frames, written_length);
    apply(PrefField::song_loops, 0);
    EXPECT_EQ(player_song_loops(player), 0);
    ASSERT_NE(player.synth.channels[1].detune, 0);
    apply(PrefField::auto_detune_mode, 0);
    EXPECT_EQ(player.synth.channels[1].detune, 0) << "\"none\"";
    apply(PrefField::output_frequency_hz, 0);
    EXPECT_EQ(player.synth.channels[1].detune, 0) << "after a restart too";
    EXPECT_STREQ(player.status_text, kAudioFailedText);
    EXPECT_STREQ(player.song_path, kSong);
    // 12345 frames at 44100 Hz are 13436.7 at 48000 Hz.
    EXPECT_EQ(
        std::vector<uint64_t>({uint64_t(player.synth.sample_rate), player.song.rate,
                               uint64_t(player.active), player.position, player_mutes(player)}),
        std::vector<uint64_t>({48000, 48000, 1, 13436, 1u << 3}));
    toggle_pause(player);
    apply(PrefField::output_frequency_hz, 1);
    EXPECT_TRUE(player.active && player.paused && player.position == 12344 &&
                player.song.rate == 44100 && player_mutes(player) == 1u << 3);
    // Stopped where a seek left it, it stays there; after the end, it comes back at the top.
    stop_playback(player);
    seek_to_frame(player, 30000);
    apply(PrefField::output_frequency_hz, 0);
    EXPECT_TRUE(!player.active && player.position == 32653);
    start_playback(player);
    while (player.active) {
        std::vector<int16_t> block(2 * 65536);
        std::lock_guard guard(player.lock);
        synth_render(player, block.data(), 65536);
    }
    apply(PrefField::output_frequency_hz, 1);
    EXPECT_TRUE(!player.active && player.position == 0);
    // A song that no longer loads leaves no song and the loader's text for the status decision.
    ASSERT_TRUE(copy_song_path(player.song_path, "/nonexistent/gone.mid"));
    const EngineRestartResult result = restart_engine(*app, 22050);
    EXPECT_TRUE(result.audio_failed && result.reload_failed);
    EXPECT_EQ(player.song.events.size(), 0u);
    EXPECT_STREQ(player.status_text, kMidiOpenFailedText);
    audio_output_stop(app->audio);
    free_song(player.song);
}

TEST(ApplyPrefs, AFailedSaveIsShownAndTheSettingsStayInEffect) {
    const auto app = std::make_unique<AppState>();
    synth_init(app->player, app->prefs.output_frequency_hz);
    fs::remove_all(kKeyFile);
    fs::create_directories(kKeyFile);
    PrefsSelection selection = prefs_selection_of(app->prefs);
    selection[static_cast<int32_t>(PrefField::instrument_set)] = 4;
    apply_preferences(*app, plan_prefs_apply(app->prefs, selection));
    fs::remove_all(kKeyFile);
    EXPECT_STREQ(app->player.status_text, "Could not save preferences. (Is a directory)");
    EXPECT_EQ(app->prefs.instrument_set, 4);
    EXPECT_EQ(app->player.synth.instrument_set, 4);
}

TEST(Loudness, GainToTheTargetNeverAboveZeroTruePeak) {
    // clang-format off
    const struct { double lufs, peak, gain; } cases[] = {
        {-30, -20, 12}, {-10, -1, -8}, {-25, -3, 3}, {-18, 0.5, -0.5}, {-INFINITY, -INFINITY, 0}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(loudness_gain_db({c.lufs, c.peak, 1}), c.gain) << c.lufs << " " << c.peak;
}

// One entry per path, the newest last, the oldest dropped beyond the limit; any path survives
// the file, and a broken file or group is passed over.
TEST(Loudness, TheCacheKeepsTheNewestAndReadsBackWhatItWrote) {
    LoudnessCache cache;
    for (int n = 0; n <= int(kLoudnessCacheLimit); ++n)
        loudness_cache_put(cache, {"/s/" + std::to_string(n), n, 7, 44100, 0, n * 0.01});
    loudness_cache_put(cache, {"/s/1", 1, 8, 48000, 3, -2.5});
    ASSERT_EQ(cache.entries.size(), kLoudnessCacheLimit);
    EXPECT_EQ(loudness_cache_find(cache, "/s/0", 0, 7), nullptr) << "the oldest went";
    EXPECT_EQ(loudness_cache_find(cache, "/s/1", 1, 7), nullptr) << "another modification time";
    EXPECT_EQ(cache.entries.back().path, "/s/1");
    loudness_cache_put(cache, {"/a [b]=c\nd \xc3\xbc#", 3, -1, 22050, 7, 4.25});
    const std::string path = kRoot + "/state/velta/loudness.ini";
    int error_number = 0;
    ASSERT_TRUE(loudness_cache_save_to(path.c_str(), cache, error_number));
    const LoudnessCache back = loudness_cache_load_from(path.c_str());
    ASSERT_EQ(back.entries.size(), cache.entries.size());
    for (size_t n = 0; n < back.entries.size(); ++n) {
        const LoudnessEntry &a = back.entries[n], &b = cache.entries[n];
        ASSERT_EQ(std::tie(a.path, a.size, a.mtime_ns, a.rate, a.instrument_set, a.gain_db),
                  std::tie(b.path, b.size, b.mtime_ns, b.rate, b.instrument_set, b.gain_db));
    }
    put(path, "[song 0]\npath=/x\nsize=1\nmtime_ns=2\nrate=44100\nset=0\n[song 1]\npath=/y\n"
              "size=1\nmtime_ns=2\nrate=44100\nset=0\ngain_db=1.5\n");
    const LoudnessCache partial = loudness_cache_load_from(path.c_str());
    ASSERT_EQ(partial.entries.size(), 1u) << "no gain: skipped";
    EXPECT_EQ(partial.entries[0].path, "/y");
    put(path, "\x01[[[ not a key file");
    EXPECT_TRUE(loudness_cache_load_from(path.c_str()).entries.empty());
}

// With levelling on a loaded song plays at unity until it is measured, then at the measured
// gain; loaded again it gets that gain at once from the cache, with nothing measured; another
// instrument set measures again; a changed file or levelling off is unity.
TEST(Loudness, ASongIsLevelledOnceMeasuredAndAtOnceTheNextTime) {
    const std::string song = kRoot + "/level.mid", cache = kRoot + "/level-state/loudness.ini";
    put(song, read(kSong));
    const auto expected_gain = [&](int32_t set) {
        WavRenderSettings settings;
        settings.instrument_set = set;
        LoudnessResult result;
        int error_number = 0;
        std::string status;
        EXPECT_EQ(measure_loudness(settings, song.c_str(), nullptr, result, error_number, status),
                  LoudnessOutcome::kDone);
        return gain_from_db(loudness_gain_db(result));
    };
    const auto open = [&](AppState& app) {
        request_song(app, song.c_str(), AfterLoad::kStay);
        while (song_load_pending(app)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            collect_loaded_songs(app);
        }
    };
    const auto settle = [](AppState& app) {
        for (int n = 0; n < 20000 && loudness_level_busy(app); ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            loudness_level_poll(app);
        }
        return audio_output_gain(app.audio);
    };
    const auto make_app = [&] {
        auto app = std::make_unique<AppState>();
        synth_init(app->player, 44100);
        app->prefs.loudness_levelling = 1;
        app->loudness.cache_path = cache;
        return app;
    };
    const float gain = expected_gain(0);
    ASSERT_NE(gain, 1.0f);
    {
        auto app = make_app();
        open(*app);
        EXPECT_EQ(audio_output_gain(app->audio), 1.0f) << "unity until measured";
        EXPECT_TRUE(loudness_level_busy(*app));
        EXPECT_EQ(settle(*app), gain);
    }
    auto app = make_app();
    open(*app);
    EXPECT_EQ(audio_output_gain(app->audio), gain) << "from the cache";
    EXPECT_FALSE(loudness_level_busy(*app)) << "measured at these settings before";
    PrefsSelection selection = prefs_selection_of(app->prefs);
    selection[static_cast<int32_t>(PrefField::instrument_set)] = 3;
    apply_preferences(*app, plan_prefs_apply(app->prefs, selection));
    EXPECT_EQ(audio_output_gain(app->audio), gain) << "the old gain meanwhile";
    EXPECT_EQ(settle(*app), expected_gain(3));
    fs::last_write_time(song, fs::last_write_time(song) + std::chrono::seconds(1));
    open(*app);
    EXPECT_EQ(audio_output_gain(app->audio), 1.0f) << "a changed file";
    selection = prefs_selection_of(app->prefs);
    selection[static_cast<int32_t>(PrefField::loudness_levelling)] = 0;
    apply_preferences(*app, plan_prefs_apply(app->prefs, selection));
    EXPECT_EQ(settle(*app), 1.0f);
    free_song(app->player.song);
}

// Resource candidates in order, found from <root>/top/work so that "../x" and "../../x" stay
// inside the private tree; the environment's directory counts only with the skin in it.
TEST(Resources, CandidatesInOrderThenTheFirstSong) {
    for (const char* system_dir : {"/usr/share/velta", "/usr/local/share/velta"}) {
        if (access((std::string(system_dir) + "/" + kSkinFile).c_str(), R_OK) == 0)
            GTEST_SKIP() << "installed skin in " << system_dir;
    }
    const std::string tmp = kRoot, top = tmp + "/top", work = top + "/work";
    put(work + "/share/velta/" + kSkinFile);
    ASSERT_EQ(chdir(work.c_str()), 0);
    const auto locate = [](const char* argv0) {
        char dir[kPathCapacity];
        locate_resource_dir(dir, argv0);
        return std::string(dir);
    };
    put(top + "/env/" + kDemoSongFile);
    g_setenv(kResourceDirEnv, (top + "/env").c_str(), TRUE);
    EXPECT_EQ(locate(nullptr), "./share/velta");
    // clang-format off
    const std::string candidates[][2] = {
        {top + "/env", top + "/env"}, {"../share/velta", top + "/share/velta"},
        {"./share/velta", work + "/share/velta"}, {"./shared/resources", work + "/shared/resources"},
        {"../../shared/resources", tmp + "/shared/resources"}};
    // clang-format on
    for (const auto& candidate : candidates)
        put(candidate[1] + "/" + kSkinFile);
    for (const auto& candidate : candidates) { // removing the winner's skin exposes the next
        EXPECT_EQ(locate(nullptr), candidate[0]);
        ASSERT_EQ(unlink((candidate[1] + "/" + kSkinFile).c_str()), 0);
    }
    EXPECT_EQ(locate(nullptr), ".");

    // The first song: the named one, else the demo song; the audio failure is shown after it,
    // while a named song that fails keeps its own message with no fallback to the demo song.
    put(top + "/res/" + kDemoSongFile, read(kSong));
    const auto first_load = [&](const char* resources, const std::string& named) {
        auto app = std::make_unique<AppState>();
        synth_init(app->player, 44100);
        app->audio_failed = 1;
        snprintf(app->resource_dir, kPathCapacity, "%s/%s", top.c_str(), resources);
        g_autoptr(GFile) file = named.empty() ? nullptr : g_file_new_for_path(named.c_str());
        if (file != nullptr) remember_initial_song(*app, file);
        load_first_song(*app, AfterLoad::kStay);
        while (song_load_pending(*app)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            collect_loaded_songs(*app);
        }
        return std::string(app->player.song_path) + " | " + app->player.status_text;
    };
    EXPECT_EQ(first_load("res", ""), top + "/res/" + kDemoSongFile + " | " + kAudioFailedText);
    EXPECT_EQ(first_load("res", top + "/absent.mid"), std::string(" | ") + kMidiOpenFailedText);
    EXPECT_EQ(first_load("res", top + "/" + std::string(kPathCapacity, 'a')),
              std::string(" | ") + kMidiOpenFailedText)
        << "a path too long to keep is never cut";
}

RememberedState state_of(std::string song, double seconds, uint16_t mutes, double volume) {
    RememberedState state;
    state.song_path = std::move(song);
    state.position_seconds = seconds;
    state.mutes = mutes;
    state.volume = volume;
    return state;
}

// The state file: what is written reads back (a Latin-1 name too); a value out of range or
// unparsable keeps its default alone; a file that is no key file gives every default.
TEST(RememberedState, RoundTripAndUnusableValues) {
    const std::string path = kRoot + "/state-test/velta/state.ini";
    const RememberedState written = state_of(kRoot + "/caf\xe9.mid", 12.5, 0x8001, 0.25);
    int error_number = 0;
    ASSERT_TRUE(remembered_state_write(path.c_str(), written, error_number)) << error_number;
    EXPECT_EQ(remembered_state_read(path.c_str()), written);
    EXPECT_EQ(remembered_state_read((kRoot + "/none.ini").c_str()), RememberedState{});
    put(path, "\x01\x02 not [a key file");
    EXPECT_EQ(remembered_state_read(path.c_str()), RememberedState{});
    put(path, "[State]\nsong=not a uri\nposition_seconds=-3\nmutes=65536\nvolume=1.5\n");
    EXPECT_EQ(remembered_state_read(path.c_str()), RememberedState{});
    put(path, "[State]\nsong=file:///x.mid\nposition_seconds=nan\nmutes=3\nvolume=abc\n");
    EXPECT_EQ(remembered_state_read(path.c_str()), state_of("/x.mid", 0.0, 3, 1.0));
}

// A start without a file: the remembered song at its place with its mutes and volume; a song
// that is gone, or no longer a song, gives the demo song without a word.
TEST(RememberedState, FirstSongIsTheRememberedOneElseTheDemoSong) {
    const std::string resources = kRoot + "/remembered-res";
    put(resources + "/" + kDemoSongFile, read(kSong));
    const std::string song = kRoot + "/remembered.mid", broken = kRoot + "/broken.mid";
    fs::copy_file(kSong, song, fs::copy_options::overwrite_existing);
    put(broken, "MThd but not really");
    const auto start = [&](const std::string& remembered) {
        int error_number = 0;
        EXPECT_TRUE(remembered_state_write(remembered_state_file().c_str(),
                                           state_of(remembered, 2.0, 0x0005, 0.5), error_number));
        auto app = std::make_unique<AppState>();
        synth_init(app->player, 22050);
        snprintf(app->resource_dir, kPathCapacity, "%s", resources.c_str());
        restore_remembered_state(*app);
        load_first_song(*app, AfterLoad::kStay);
        while (song_load_pending(*app)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            collect_loaded_songs(*app);
        }
        const TransportState state = player_transport(app->player);
        EXPECT_EQ(player_mutes(app->player), 0x0005);
        EXPECT_EQ(app->volume, 0.5);
        EXPECT_EQ(app->audio.volume, 0.5f);
        EXPECT_EQ(state.status, "Loaded MIDI") << remembered;
        return std::make_tuple(state.path, state.position / 22050.0);
    };
    const auto [path, seconds] = start(song);
    EXPECT_EQ(path, song);
    EXPECT_NEAR(seconds, 2.0, 1e-3);
    const std::string demo = resources + "/" + kDemoSongFile;
    EXPECT_EQ(start(kRoot + "/gone.mid"), std::make_tuple(demo, 0.0));
    EXPECT_EQ(start(broken), std::make_tuple(demo, 0.0));
}

Bytes meta(uint32_t delta, uint8_t type, const std::string& text) {
    return vlq(delta) + Bytes{0xFF, type} + vlq(uint32_t(text.size())) +
           Bytes(text.begin(), text.end());
}

Song parsed(const Bytes& file) {
    Song song;
    EXPECT_EQ(parse_song(file.data(), file.size(), 44100, song), nullptr);
    return song;
}

std::vector<std::string> line_texts(const SongWords& words) {
    std::vector<std::string> out;
    for (const LyricLine& line : words.lines)
        out.push_back((line.paragraph ? "\\" : "") + line.text);
    return out;
}

TEST(SongWords, DecodesUtf8ThenShiftJisThenWindows1252) {
    const std::pair<std::string, std::string> cases[] = {
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "Grüße"},                              // valid UTF-8 stays
        {"\x83\x4A\x83\x47\x83\x8B", "カエル"}, // Shift-JIS
        {"\x83\x5C\\", "ソ\\"},                 // a 0x5C trail byte; 0x5C stays '\'
        {"a\\b~", "a\\b~"},                     // plain ASCII is no yen sign
        {"\x93Hi\x94", "\u201CHi\u201D"},       // a lead byte without its trail
        {"Caf\xE9", "Café"},
        {"\xB1\xB2", "±²"}, // half-width kana alone hold no double-byte character
        {"\x81", "\uFFFD"}, // undefined in Windows-1252 too
        {std::string("a\0b\x01"
                     "c\td\r\n",
                     9),
         "abc d\r\n"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(decode_song_text(bytes), text) << testing::PrintToString(bytes);
    // Bytes that are Shift-JIS and Windows-1252 alike are read as Shift-JIS, as the rule says.
    EXPECT_EQ(detect_text_encoding("\xE9t"), TextEncoding::kShiftJis);
    // Whatever the bytes, the text is valid UTF-8 without NUL.
    uint32_t seed = 12345;
    for (int n = 0; n < 3000; ++n) {
        std::string bytes(1 + n % 13, '\0');
        for (char& c : bytes)
            c = char((seed = seed * 1103515245 + 12345) >> 16);
        const std::string text = decode_song_text(bytes);
        ASSERT_TRUE(g_utf8_validate(text.data(), gssize(text.size()), nullptr) &&
                    text.find('\0') == std::string::npos)
            << testing::PrintToString(bytes);
    }
}

// A karaoke file's words track: '@' tags skipped, '/' a new line, '\' a new verse. 480 ticks
// per quarter at 120 bpm: a tick is 44100 / 960 frames.
TEST(SongWords, KaraokeTextsMakeLinesAndVerses) {
    const Bytes info = meta(0, 0x03, "My \x83\x4A\x83\x47\x83\x8B") +
                       meta(0, 0x02, "(C)\r\n2024  Us") + meta(0, 0x01, "@KMIDI KARAOKE FILE") +
                       note_on(0, 60) + kEndOfTrack;
    const Bytes text = meta(0, 0x01, "@LENGL") + meta(0, 0x01, "@TMy Song") +
                       meta(480, 0x01, "\\Hel") + meta(120, 0x01, "lo ") + meta(120, 0x01, "/wor") +
                       meta(120, 0x01, "ld") + meta(120, 0x01, "\\Se") + meta(120, 0x01, "cond") +
                       kEndOfTrack;
    const Bytes lyric = meta(500, 0x05, "other") + kEndOfTrack; // fewer: not the words
    const SongWords words = build_song_words(parsed(smf(480, {info, text, lyric})), "/x/a.kar");
    EXPECT_EQ(words.title, "My カエル");
    EXPECT_EQ(words.copyright, "(C) 2024 Us");
    EXPECT_EQ(line_texts(words), (std::vector<std::string>{"Hello", "world", "\\Second"}));
    std::vector<uint64_t> frames;
    for (const LyricLine& line : words.lines)
        frames.push_back(line.frame);
    EXPECT_EQ(frames, (std::vector<uint64_t>{22050, 33075, 44100}));
    ASSERT_EQ(words.lines[0].syllables.size(), 2u);
    EXPECT_EQ(words.lines[0].syllables[1].frame, 27563u);
    EXPECT_EQ(words.lines[0].syllables[1].end, 5u) << "the trailing space trimmed";

    // Unmarked, the text events are comments: the lyric track is the words.
    const Bytes unmarked = meta(0, 0x03, "") + note_on(0, 60) + kEndOfTrack;
    const SongWords plain = build_song_words(parsed(smf(480, {unmarked, text, lyric})), "/x/a.mid");
    EXPECT_EQ(line_texts(plain), (std::vector<std::string>{"other"}));
    EXPECT_EQ(plain.title, "a.mid") << "an empty name falls back to the file's";
    EXPECT_EQ(plain.copyright, "");
}

TEST(SongWords, LyricSyllablesJoinIntoLinesAtBreaks) {
    const Bytes lyrics = meta(0, 0x05, "Twin") + meta(10, 0x05, "kle ") +
                         meta(10, 0x05, "star\r\n") + meta(10, 0x05, "How ") +
                         meta(10, 0x05, "I\n") + meta(10, 0x05, "\n") + meta(10, 0x05, "won") +
                         meta(10, 0x05, "der/") + meta(10, 0x05, "/up") + note_on(0, 60) +
                         kEndOfTrack;
    const Bytes second_voice = meta(5, 0x05, "ah ") + meta(5, 0x05, "ah") + kEndOfTrack;
    const SongWords words = build_song_words(parsed(smf(96, {second_voice, lyrics})), "");
    EXPECT_EQ(words.title, "");
    EXPECT_EQ(line_texts(words),
              (std::vector<std::string>{"Twinkle star", "How I", "\\wonder/", "up"}));
    // One encoding for the whole song: each syllable alone would pass as Shift-JIS.
    const Bytes latin =
        meta(0, 0x05, "\xE9t\xE9 ") + meta(10, 0x05, "caf\xE9") + note_on(0, 60) + kEndOfTrack;
    EXPECT_EQ(line_texts(build_song_words(parsed(smf(96, {latin})), "")),
              (std::vector<std::string>{"été café"}));
    // Without breaks, a line ends before the word that would take it past 40 characters.
    Bytes endless;
    for (int n = 0; n < 12; ++n)
        endless = endless + meta(10, 0x05, "word ");
    EXPECT_EQ(
        line_texts(build_song_words(parsed(smf(96, {endless + note_on(0, 60) + kEndOfTrack})), "")),
        (std::vector<std::string>{"word word word word word word word word",
                                  "word word word word"}));
    const Bytes kana = meta(0, 0x05, "\x83\x4A") + meta(10, 0x05, "\x83\x47") +
                       meta(10, 0x05, "\x83\x8B") + note_on(0, 60) + kEndOfTrack;
    EXPECT_EQ(line_texts(build_song_words(parsed(smf(96, {kana})), "")),
              (std::vector<std::string>{"カエル"}));
}

TEST(SongWords, TheLineAtAFrameAndTheNextOne) {
    SongWords words;
    EXPECT_EQ(lyric_lines_at(words, 100).current + lyric_lines_at(words, 100).next, "");
    words.lines = {{1000, "one two", {{1000, 3}, {1500, 7}}, false},
                   {2000, "three", {{2000, 5}}, false}};
    const auto view = [&](double frame) {
        const LyricView v = lyric_lines_at(words, frame);
        return v.current + "|" + v.next + "|" + std::to_string(v.sung);
    };
    EXPECT_EQ(view(0), "|one two|0");
    EXPECT_EQ(view(999.5), "|one two|0");
    EXPECT_EQ(view(1000), "one two|three|3");
    EXPECT_EQ(view(1700), "one two|three|7");
    EXPECT_EQ(view(2000), "three||5");
    EXPECT_EQ(view(1e12), "three||5");
    EXPECT_EQ(view(1200), "one two|three|3") << "back again, as after a seek";
}

// The words follow the song the Player holds: a load, a seek, a song without words, a restart
// at another rate that times them anew.
TEST(SongWords, FollowTheSongInThePlayer) {
    const auto app = std::make_unique<AppState>();
    synth_init(app->player, 44100);
    const auto open = [&](const std::string& path) {
        request_song(*app, path.c_str(), AfterLoad::kStay);
        while (song_load_pending(*app)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            collect_loaded_songs(*app);
        }
    };
    const Bytes words = meta(0, 0x01, "\\First") + meta(960, 0x01, "/Second") +
                        meta(960, 0x01, "/Third") + note_on(960, 60) + kEndOfTrack;
    const std::string kar = write_file(kRoot + "/song.kar", smf(480, {words}));
    open(kar);
    EXPECT_EQ(app->words.title, "song.kar");
    EXPECT_EQ(line_texts(app->words), (std::vector<std::string>{"First", "Second", "Third"}));
    seek_to_frame(app->player, 50000);
    const auto now = [&] {
        const LyricView v = lyric_lines_at(app->words, double(app->player.position));
        return v.current + "|" + v.next;
    };
    EXPECT_EQ(now(), "Second|Third");
    seek_to_frame(app->player, 10);
    EXPECT_EQ(now(), "First|Second");
    // The restart loads the song again at 48000 Hz: the second line starts at 48000.
    restart_engine(*app, 48000);
    ASSERT_EQ(app->words.lines.size(), 3u);
    EXPECT_EQ(app->words.lines[1].frame, 48000u);
    open(write_file(kRoot + "/plain.mid", smf(96, {note_on(0, 60) + kEndOfTrack})));
    EXPECT_EQ(app->words.title, "plain.mid");
    EXPECT_TRUE(app->words.lines.empty());
    open(kRoot + "/absent.mid"); // a failure keeps the song, and its words
    EXPECT_EQ(app->words.title, "plain.mid");
    audio_output_stop(app->audio);
}

TEST(SongWords, ALyricFileOfTheCorpus) {
    const fs::path file = fs::path(VELTA_SOURCE_DIR) / ".." / "shared" / "corpus" / "valid" /
                          "mma-lyrics-twinkle.mid";
    if (!fs::exists(file)) GTEST_SKIP() << "no corpus file " << file;
    Song song;
    int error_number = 0;
    ASSERT_EQ(read_song_file(file.c_str(), 44100, song, error_number), nullptr);
    const SongWords words = build_song_words(song, file.c_str());
    EXPECT_EQ(words.title, "twinkle");
    ASSERT_GE(words.lines.size(), 4u);
    EXPECT_EQ(words.lines[0].text, "Twinkle, Twinkle little star;");
    EXPECT_EQ(words.lines[1].text, "How I wonder what you are.");
    for (size_t n = 1; n < words.lines.size(); ++n)
        EXPECT_LT(words.lines[n - 1].frame, words.lines[n].frame);
    EXPECT_EQ(lyric_lines_at(words, double(words.lines[1].frame)).next, words.lines[2].text);
}

} // namespace
