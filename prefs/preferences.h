// The nine user settings, their option tables and the key file that keeps them.
#pragma once

#include <cstdint>
#include <span>

#include "synth/tables.h"

struct Preferences {
    int32_t output_frequency_hz = 44100;
    int32_t auto_detune_mode = 1;
    int32_t redraw_timing_fps = 10;
    int32_t buffer_block_tenths = 20;
    int32_t drumset_mode = 0;
    int32_t instrument_set = 0;
    int32_t equalizer_mode = 0;
    int32_t loudness_levelling = 0;
    int32_t song_loops = 0; // extra passes of a marked loop before the fade
};

struct PrefOption {
    const char* label;
    int32_t value;
};

// The fields of Preferences in declaration order; the numbering indexes kPrefFields.
enum class PrefField : int32_t {
    output_frequency_hz,
    auto_detune_mode,
    redraw_timing_fps,
    buffer_block_tenths,
    drumset_mode,
    instrument_set,
    equalizer_mode,
    loudness_levelling,
    song_loops,
};
constexpr int32_t kPrefFieldCount = 9;

constexpr PrefOption kOutputFrequencyOptions[] = {
    {"48000Hz", 48000}, {"44100Hz", 44100}, {"22050Hz", 22050}};
constexpr PrefOption kAutoDetuneOptions[] = {{"none", 0}, {"Max 14cent", 1}};
constexpr PrefOption kRedrawTimingOptions[] = {{"1 frame/ sec.", 1},
                                               {"10 frame/ sec.", 10},
                                               {"25 frame/ sec.(*)", 25},
                                               {"50 frame/ sec.(*)", 50}};
constexpr PrefOption kBufferBlockOptions[] = {
    {"6 sec.", 60},     {"3 sec.", 30},     {"2 sec.", 20},    {"1 sec.", 10},
    {"0.5 sec.(*)", 5}, {"0.2 sec.(*)", 2}, {"0.1 sec.(*)", 1}};
constexpr PrefOption kDrumsetOptions[] = {{"QUINTAVOX PSG Drum", 0}};
constexpr PrefOption kInstrumentSetOptions[] = {
    {kInstrumentSetNames[0], 0}, {kInstrumentSetNames[1], 1}, {kInstrumentSetNames[2], 2},
    {kInstrumentSetNames[3], 3}, {kInstrumentSetNames[4], 4}, {kInstrumentSetNames[5], 5},
    {kInstrumentSetNames[6], 6}, {kInstrumentSetNames[7], 7}};
constexpr PrefOption kEqualizerOptions[] = {{"none", 0}, {"5(*)", 5}};
constexpr PrefOption kLoudnessOptions[] = {{"off", 0}, {"level songs", 1}};
constexpr PrefOption kSongLoopsOptions[] = {{"play once", 0}, {"loop twice, then fade", 2}};

struct PrefFieldInfo {
    const char* key;   // key-file key: the field's name
    const char* label; // shown beside the field's drop-down list
    std::span<const PrefOption> options;
    int32_t default_row;
};

constexpr PrefFieldInfo kPrefFields[kPrefFieldCount] = {
    {"output_frequency_hz", "Output Frequency", kOutputFrequencyOptions, 1},
    {"auto_detune_mode", "Auto Detune", kAutoDetuneOptions, 1},
    {"redraw_timing_fps", "Redraw Timing", kRedrawTimingOptions, 1},
    {"buffer_block_tenths", "Buffer Block Size", kBufferBlockOptions, 2},
    {"drumset_mode", "Drumset", kDrumsetOptions, 0},
    {"instrument_set", "Instrument Set", kInstrumentSetOptions, 0},
    {"equalizer_mode", "Equalizer", kEqualizerOptions, 0},
    {"loudness_levelling", "Loudness", kLoudnessOptions, 0},
    {"song_loops", "Song loops", kSongLoopsOptions, 0},
};

constexpr const PrefFieldInfo& pref_field_info(PrefField field) {
    return kPrefFields[static_cast<int32_t>(field)];
}

// The latency "Buffer Block Size" asks the output stream for, in frames at `rate`: none (0)
// for the default "2 sec." and the longer ones, which leave the block size to the sound server.
constexpr int32_t kLatencyRequestBelowTenths = 20;
constexpr uint32_t prefs_latency_frames(const Preferences& prefs, uint32_t rate) {
    const int32_t tenths = prefs.buffer_block_tenths;
    if (tenths <= 0 || tenths >= kLatencyRequestBelowTenths) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(rate) * static_cast<uint64_t>(tenths) / 10);
}

// Access to a field by its number, so that loops over kPrefFields can read and write it.
int32_t& pref_field(Preferences& prefs, PrefField field);
int32_t pref_field(const Preferences& prefs, PrefField field);

// Row of the first option with `value`, or the field's default row.
int32_t pref_option_index(PrefField field, int32_t value);
// Value of `row`, with the row clamped into the table.
int32_t pref_option_value(PrefField field, int32_t row);
// Every field snapped onto its table; a value not in the table becomes the default.
Preferences prefs_normalize(const Preferences& prefs);

// The key file at `path`, normalised; defaults for whatever is missing or unreadable.
Preferences prefs_load_from(const char* path);
// Writes exactly the nine keys of group "Preferences", creating parent directories (0700). The
// old file is replaced only by a complete new one. False when nothing was written, with
// `error_number` the reason.
bool prefs_save_to(const char* path, const Preferences& prefs, int& error_number);

// The same on the user's key file: <user config dir>/velta/preferences.ini.
Preferences prefs_load();
bool prefs_save(const Preferences& prefs, int& error_number);
