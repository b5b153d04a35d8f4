// What confirming the preferences dialog changes, worked out without any widget: the chosen
// list positions become settings, the settings decide what must be redone, and the outcome
// becomes the status line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "prefs/preferences.h"

// One entry per field in field order: the drop-down's selected position, read as signed so
// that "nothing selected" is negative; empty for a field that has no drop-down.
using PrefsSelection = std::array<std::optional<int32_t>, kPrefFieldCount>;

// The list position of every field's current value: what the dialog starts with.
PrefsSelection prefs_selection_of(const Preferences& prefs);

struct PrefsApplyPlan {
    Preferences prefs;           // normalised, to be saved and put in effect
    bool restart_engine = false; // the output frequency changed
    bool rearm_timer = false;    // the redraw timing changed
    bool restart_audio = false;  // only the latency asked of the output changed
};

PrefsApplyPlan plan_prefs_apply(const Preferences& current, const PrefsSelection& selection);

constexpr size_t kPrefsSummaryCapacity = 256;

// "Preferences: 44100Hz, 10fps, 2.0s block, wave set SCC like Full-Set (0)", then ", songs
// levelled" with loudness levelling on and ", loops from the next song" with song loops on.
// The block length
// always uses a '.', whatever the user's locale. `set_number` is the set the synthesizer took.
void format_prefs_summary(char (&out)[kPrefsSummaryCapacity], const Preferences& prefs,
                          int32_t set_number);

// What a field's selected row does, for the dialog's tooltip; empty when the label says it all.
// `rate`: the output frequency the latency is counted at.
void format_prefs_hint(char (&out)[kPrefsSummaryCapacity], PrefField field, int32_t row,
                       int32_t rate);
// For a field that changes nothing yet, why (the dialog shows it insensitive); else null.
const char* prefs_unused_text(PrefField field);

inline constexpr const char* kPrefsSaveFailedText = "Could not save preferences.";

// "Could not save preferences. (Permission denied)": the reason is errno's text.
void format_prefs_save_failure(char (&out)[kPrefsSummaryCapacity], int error_number);

// The status line after confirming: a silenced output matters most, then a save that failed
// (`save_failure`, null when saved: nothing else would tell that the settings last only until
// the program ends), then a song that did not load again (`loader_text`, what the loader
// wrote), else the summary.
const char* prefs_status_text(bool audio_failed, const char* save_failure, bool reload_failed,
                              const char* loader_text, const char* summary);
