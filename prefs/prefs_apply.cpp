#include "prefs/prefs_apply.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "prefs/preferences.h"

namespace {

// PipeWire's largest block as configured by default (default.clock.max-quantum): every
// request of the table's short settings is above it.
constexpr int32_t kPipeWireLargestQuantum = 2048;

} // namespace

PrefsSelection prefs_selection_of(const Preferences& prefs) {
    PrefsSelection selection;
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        const auto field = PrefField(n);
        selection[n] = pref_option_index(field, pref_field(prefs, field));
    }
    return selection;
}

PrefsApplyPlan plan_prefs_apply(const Preferences& current, const PrefsSelection& selection) {
    Preferences chosen = current;
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        const auto field = PrefField(n);
        if (selection[n].has_value())
            pref_field(chosen, field) = pref_option_value(field, *selection[n]);
    }
    PrefsApplyPlan plan;
    plan.prefs = prefs_normalize(chosen);
    plan.restart_engine = plan.prefs.output_frequency_hz != current.output_frequency_hz;
    plan.rearm_timer = plan.prefs.redraw_timing_fps != current.redraw_timing_fps;
    // The latency is a property of the stream: a new one needs a new stream, which a restart
    // of the engine makes anyway.
    plan.restart_audio = !plan.restart_engine && prefs_latency_frames(plan.prefs, 48000) !=
                                                     prefs_latency_frames(current, 48000);
    return plan;
}

void format_prefs_hint(char (&out)[kPrefsSummaryCapacity], PrefField field, int32_t row,
                       int32_t rate) {
    out[0] = '\0';
    if (field != PrefField::buffer_block_tenths || rate < 1) return;
    Preferences prefs;
    prefs.buffer_block_tenths = pref_option_value(field, row);
    const uint32_t frames = prefs_latency_frames(prefs, static_cast<uint32_t>(rate));
    if (frames == 0) {
        snprintf(out, sizeof out, "No latency request: PipeWire picks the block size");
        return;
    }
    const long asked = lround(frames * 1000.0 / rate);
    const long cap = lround(kPipeWireLargestQuantum * 1000.0 / rate);
    snprintf(out, sizeof out, "Asks PipeWire for a latency of %ld ms; PipeWire caps this at %ld ms",
             asked, cap);
}

const char* prefs_unused_text(PrefField field) {
    if (field == PrefField::drumset_mode) return "Not used yet: the drum kit is always the same";
    if (field == PrefField::equalizer_mode) return "Not used yet: the sound is never equalised";
    return nullptr;
}

void format_prefs_summary(char (&out)[kPrefsSummaryCapacity], const Preferences& prefs,
                          int32_t set_number) {
    // GTK adopts the user's LC_NUMERIC, so printf's %.1f could write "2,0".
    char block[32] = "0.0";
    const auto result = std::to_chars(block, block + sizeof block - 1,
                                      prefs.buffer_block_tenths * 0.1, std::chars_format::fixed, 1);
    if (result.ec == std::errc{}) *result.ptr = '\0';

    const char* set_name = kInstrumentSetOptions[0].label;
    for (const PrefOption& option : kInstrumentSetOptions) {
        if (option.value == prefs.instrument_set) set_name = option.label;
    }
    snprintf(out, sizeof out, "Preferences: %dHz, %dfps, %ss block, wave set %s (%d)%s%s",
             prefs.output_frequency_hz, prefs.redraw_timing_fps, block, set_name, set_number,
             prefs.loudness_levelling != 0 ? ", songs levelled" : "",
             prefs.song_loops != 0 ? ", loops from the next song" : "");
}

void format_prefs_save_failure(char (&out)[kPrefsSummaryCapacity], int error_number) {
    if (error_number == 0) {
        snprintf(out, sizeof out, "%s", kPrefsSaveFailedText);
    } else {
        snprintf(out, sizeof out, "%s (%s)", kPrefsSaveFailedText, strerror(error_number));
    }
}

const char* prefs_status_text(bool audio_failed, const char* save_failure, bool reload_failed,
                              const char* loader_text, const char* summary) {
    if (audio_failed) return "PipeWire output could not be started";
    if (save_failure != nullptr) return save_failure;
    if (reload_failed && loader_text != nullptr) return loader_text;
    return summary;
}
