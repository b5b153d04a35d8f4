#include "shell/song_words.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

#include <glib.h>

#include "shell/app_state.h"
#include "song/song.h"

namespace {

// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves undefined become U+FFFD.
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// Names glibc's iconv knows; CP932 first, since it keeps 0x5C a backslash where strict
// SHIFT_JIS makes it a yen sign.
constexpr std::array<const char*, 2> kShiftJisNames = {"CP932", "SHIFT_JIS"};

// Bytes below 0x20 are never part of a multi-byte character in any of the three encodings, so
// dropping them first is safe; a NUL would cut the text short further on.
std::string without_controls(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\t')
            out += ' ';
        else if (b >= 0x20 || b == '\n' || b == '\r')
            out += c;
    }
    return out;
}

bool is_shift_jis_lead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The whole of `bytes` from Shift-JIS, or false when any of it does not convert.
bool from_shift_jis(const std::string& bytes, std::string& out) {
    for (const char* name : kShiftJisNames) {
        gsize read = 0, written = 0;
        GError* error = nullptr;
        gchar* text = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", name,
                                &read, &written, &error);
        const bool whole = text != nullptr && read == bytes.size();
        if (whole) out.assign(text, written);
        g_free(text);
        const bool unknown_name =
            g_error_matches(error, G_CONVERT_ERROR, G_CONVERT_ERROR_NO_CONVERSION);
        g_clear_error(&error);
        if (whole) return true;
        if (!unknown_name) return false;
    }
    return false;
}

std::string from_windows_1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const gunichar code = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
        char utf8[6];
        out.append(utf8, static_cast<size_t>(g_unichar_to_utf8(code, utf8)));
    }
    return out;
}

bool is_valid_utf8(const std::string& bytes) {
    return g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr);
}

TextEncoding detect_clean(const std::string& bytes) {
    if (is_valid_utf8(bytes)) return TextEncoding::kUtf8;
    std::string converted;
    const bool double_byte = std::any_of(bytes.begin(), bytes.end(), [](char c) {
        return is_shift_jis_lead(static_cast<unsigned char>(c));
    });
    if (double_byte && from_shift_jis(bytes, converted)) return TextEncoding::kShiftJis;
    return TextEncoding::kWindows1252;
}

// Spaces for line breaks and runs of them, none at either end: a title or copyright on one line.
std::string one_line(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool space = c == ' ' || c == '\n' || c == '\r';
        if (space && (out.empty() || out.back() == ' ')) continue;
        out += space ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// A line without breaks is broken before a word that would take it past this many characters.
constexpr glong kLongLineChars = 40;

glong characters(std::string_view utf8) {
    return g_utf8_strlen(utf8.data(), static_cast<gssize>(utf8.size()));
}

// A syllable as it comes from the song: raw bytes without its '/' or '\' mark.
struct Syllable {
    uint64_t frame = 0;
    std::string_view bytes;
    bool new_line = false;
    bool new_verse = false;
};

// The track holding the most texts `wanted` accepts, and their count.
template <class Wanted>
std::vector<const SongText*> busiest_track(const Song& song, Wanted wanted) {
    std::map<uint16_t, size_t> counts;
    for (const SongText& text : song.texts)
        if (wanted(text)) ++counts[text.track];
    uint16_t best = 0;
    size_t most = 0;
    for (const auto& [track, count] : counts)
        if (count > most) best = track, most = count;
    std::vector<const SongText*> out;
    out.reserve(most);
    for (const SongText& text : song.texts)
        if (most != 0 && text.track == best && wanted(text)) out.push_back(&text);
    return out;
}

std::vector<Syllable> song_syllables(const Song& song) {
    auto lyric = [](const SongText& t) { return t.type == kMetaLyric; };
    auto karaoke = [&](const SongText& t) {
        const std::string_view bytes = song_text_bytes(song, t);
        return t.type == kMetaText && !(bytes.size() > 0 && bytes[0] == '@');
    };
    const std::vector<const SongText*> lyrics = busiest_track(song, lyric);
    std::vector<const SongText*> texts;
    if (song.karaoke) texts = busiest_track(song, karaoke);
    const bool use_texts = !texts.empty() && texts.size() >= lyrics.size();
    std::vector<Syllable> out;
    for (const SongText* text : use_texts ? texts : lyrics) {
        Syllable s;
        s.frame = text->time;
        s.bytes = song_text_bytes(song, *text);
        // A mark is always the event's first byte, which no multi-byte character can end in.
        if (!s.bytes.empty() && (s.bytes[0] == '/' || s.bytes[0] == '\\')) {
            s.new_line = true;
            s.new_verse = s.bytes[0] == '\\';
            s.bytes.remove_prefix(1);
        }
        out.push_back(s);
    }
    return out;
}

void trim_line(LyricLine& line) {
    size_t start = 0;
    while (start < line.text.size() && line.text[start] == ' ')
        ++start;
    size_t end = line.text.size();
    while (end > start && line.text[end - 1] == ' ')
        --end;
    line.text = line.text.substr(start, end - start);
    for (LyricSyllable& s : line.syllables) {
        const uint32_t shifted = s.end > start ? s.end - static_cast<uint32_t>(start) : 0;
        s.end = std::min<uint32_t>(shifted, static_cast<uint32_t>(line.text.size()));
    }
}

std::vector<LyricLine> lines_of(const std::vector<Syllable>& syllables) {
    std::string joined;
    for (const Syllable& s : syllables) {
        joined += s.bytes;
        joined += '\n'; // keeps a lead byte at one end from pairing with the next syllable
    }
    const TextEncoding encoding = detect_text_encoding(joined);

    std::vector<LyricLine> lines;
    LyricLine line;
    bool verse = false;
    auto finish = [&]() {
        trim_line(line);
        if (line.text.empty()) {
            verse = verse || !lines.empty();
        } else {
            line.paragraph = verse && !lines.empty();
            lines.push_back(std::move(line));
            verse = false;
        }
        line = LyricLine{};
    };
    for (const Syllable& s : syllables) {
        if (s.new_line) finish();
        verse = verse || s.new_verse;
        const std::string text = decode_text(s.bytes, encoding);
        size_t from = 0;
        while (from <= text.size()) {
            const size_t cut = std::min(text.find_first_of("\r\n", from), text.size());
            if (cut > from) {
                // Words that never break would make one line longer than any panel.
                if (!line.text.empty() && line.text.back() == ' ' &&
                    characters(line.text) +
                            characters(std::string_view(text).substr(from, cut - from)) >
                        kLongLineChars)
                    finish();
                if (line.text.find_first_not_of(' ') == std::string::npos) line.frame = s.frame;
                line.text.append(text, from, cut - from);
                line.syllables.push_back({s.frame, static_cast<uint32_t>(line.text.size())});
            }
            if (cut == text.size()) break;
            // CR LF is one break; a second one in a row leaves an empty line, a new verse.
            if (text[cut] == '\r' && cut + 1 < text.size() && text[cut + 1] == '\n')
                from = cut + 2;
            else
                from = cut + 1;
            finish();
        }
    }
    finish();
    return lines;
}

} // namespace

TextEncoding detect_text_encoding(std::string_view bytes) {
    return detect_clean(without_controls(bytes));
}

std::string decode_text(std::string_view bytes, TextEncoding encoding) {
    const std::string clean = without_controls(bytes);
    if (encoding == TextEncoding::kUtf8 && is_valid_utf8(clean)) return clean;
    std::string converted;
    if (encoding == TextEncoding::kShiftJis && from_shift_jis(clean, converted) &&
        is_valid_utf8(converted))
        return converted;
    return from_windows_1252(clean);
}

std::string decode_song_text(std::string_view bytes) {
    const std::string clean = without_controls(bytes);
    return decode_text(clean, detect_clean(clean));
}

SongWords build_song_words(const Song& song, const char* path) {
    SongWords words;
    words.title = one_line(decode_song_text(song.title));
    if (words.title.empty() && path != nullptr && path[0] != '\0') {
        gchar* name = g_filename_display_basename(path);
        words.title = name;
        g_free(name);
    }
    words.copyright = one_line(decode_song_text(song.copyright));
    words.lines = lines_of(song_syllables(song));
    return words;
}

LyricView lyric_lines_at(const SongWords& words, double frame) {
    LyricView view;
    const auto& lines = words.lines;
    const auto after =
        std::upper_bound(lines.begin(), lines.end(), frame, [](double f, const LyricLine& line) {
            return f < static_cast<double>(line.frame);
        });
    if (after != lines.end()) view.next = after->text;
    if (after == lines.begin()) return view;
    const LyricLine& current = *(after - 1);
    view.current = current.text;
    for (const LyricSyllable& s : current.syllables)
        if (static_cast<double>(s.frame) <= frame) view.sung = s.end;
    return view;
}

void refresh_song_words(AppState& app) {
    Song words; // only the words of the Player's song
    std::string path;
    {
        std::lock_guard guard(app.player.lock);
        const Song& song = app.player.song;
        words.title = song.title;
        words.copyright = song.copyright;
        words.texts = song.texts;
        words.text_data = song.text_data;
        words.karaoke = song.karaoke;
        if (!song.events.empty()) path = app.player.song_path;
    }
    app.words = build_song_words(words, path.c_str());
}
