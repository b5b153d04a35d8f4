#include "prefs/preferences.h"

#include <cerrno>

#include <glib.h>
#include <glib/gstdio.h>

#include "base/atomic_file.h"

namespace {

constexpr const char* kGroup = "Preferences";

// Holds the fields in declaration order, so a field number maps onto a member.
constexpr int32_t Preferences::*kMembers[kPrefFieldCount] = {
    &Preferences::output_frequency_hz, &Preferences::auto_detune_mode,
    &Preferences::redraw_timing_fps,   &Preferences::buffer_block_tenths,
    &Preferences::drumset_mode,        &Preferences::instrument_set,
    &Preferences::equalizer_mode,      &Preferences::loudness_levelling,
    &Preferences::song_loops,
};

gchar* user_prefs_path() {
    gchar* dir = g_build_filename(g_get_user_config_dir(), "velta", nullptr);
    gchar* path = g_build_filename(dir, "preferences.ini", nullptr);
    g_free(dir);
    return path;
}

} // namespace

int32_t& pref_field(Preferences& prefs, PrefField field) {
    return prefs.*kMembers[static_cast<int32_t>(field)];
}

int32_t pref_field(const Preferences& prefs, PrefField field) {
    return prefs.*kMembers[static_cast<int32_t>(field)];
}

int32_t pref_option_index(PrefField field, int32_t value) {
    const PrefFieldInfo& info = pref_field_info(field);
    for (size_t row = 0; row < info.options.size(); ++row) {
        if (info.options[row].value == value) return static_cast<int32_t>(row);
    }
    return info.default_row;
}

int32_t pref_option_value(PrefField field, int32_t row) {
    const PrefFieldInfo& info = pref_field_info(field);
    const int32_t last = static_cast<int32_t>(info.options.size()) - 1;
    if (row < 0) row = 0;
    if (row > last) row = last;
    return info.options[static_cast<size_t>(row)].value;
}

Preferences prefs_normalize(const Preferences& prefs) {
    Preferences out = prefs;
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        const auto field = static_cast<PrefField>(n);
        int32_t& value = pref_field(out, field);
        value = pref_option_value(field, pref_option_index(field, value));
    }
    return out;
}

Preferences prefs_load_from(const char* path) {
    Preferences prefs;
    GKeyFile* file = g_key_file_new();
    GError* error = nullptr;
    if (g_key_file_load_from_file(file, path, G_KEY_FILE_NONE, &error)) {
        for (int32_t n = 0; n < kPrefFieldCount; ++n) {
            const auto field = static_cast<PrefField>(n);
            GError* key_error = nullptr;
            const gint value =
                g_key_file_get_integer(file, kGroup, pref_field_info(field).key, &key_error);
            if (key_error == nullptr) {
                pref_field(prefs, field) = value;
            } else {
                g_error_free(key_error);
            }
        }
    } else {
        g_error_free(error);
    }
    g_key_file_free(file);
    return prefs_normalize(prefs);
}

bool prefs_save_to(const char* path, const Preferences& prefs, int& error_number) {
    GKeyFile* file = g_key_file_new();
    for (int32_t n = 0; n < kPrefFieldCount; ++n) {
        const auto field = static_cast<PrefField>(n);
        g_key_file_set_integer(file, kGroup, pref_field_info(field).key, pref_field(prefs, field));
    }
    gsize length = 0;
    gchar* text = g_key_file_to_data(file, &length, nullptr);
    g_key_file_free(file);
    gchar* dir = g_path_get_dirname(path);
    bool saved = false;
    if (g_mkdir_with_parents(dir, 0700) != 0) {
        error_number = errno != 0 ? errno : EIO;
    } else if (text != nullptr) {
        saved = write_file_atomically(path, text, length, error_number);
    } else {
        error_number = ENOMEM;
    }
    g_free(dir);
    g_free(text);
    return saved;
}

Preferences prefs_load() {
    gchar* path = user_prefs_path();
    Preferences prefs = prefs_load_from(path);
    g_free(path);
    return prefs;
}

bool prefs_save(const Preferences& prefs, int& error_number) {
    gchar* path = user_prefs_path();
    const bool saved = prefs_save_to(path, prefs, error_number);
    g_free(path);
    return saved;
}
