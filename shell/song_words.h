// The song's own words as the window shows them: its title and copyright, and the lines of a
// karaoke or lyric file, all decoded to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct AppState;
struct Song;

// One syllable of a line: when it is sung, and the byte of the line's text where it ends.
struct LyricSyllable {
    uint64_t frame = 0;
    uint32_t end = 0;
};

struct LyricLine {
    uint64_t frame = 0; // output frames: when its first syllable is sung
    std::string text;   // UTF-8, no line breaks, trimmed
    std::vector<LyricSyllable> syllables;
    bool paragraph = false; // opens a verse ('\' in a karaoke file, or after an empty line)
};

struct SongWords {
    std::string title;     // the first track's name, else the file's display name; may be empty
    std::string copyright; // may be empty
    std::vector<LyricLine> lines; // in time order; empty for a file without words
};

// What the lyric panel shows at one moment.
struct LyricView {
    std::string current; // the line being sung; empty before the first one
    std::string next;    // the line after it; empty after the last one
    size_t sung = 0;     // bytes of `current` sung so far, at a syllable boundary
};

enum class TextEncoding { kUtf8, kShiftJis, kWindows1252 };

// UTF-8 when the bytes are valid UTF-8, else Shift-JIS when they convert without error and hold
// a double-byte character, else Windows-1252.
TextEncoding detect_text_encoding(std::string_view bytes);

// `bytes` as valid UTF-8 read in `encoding` (Windows-1252 when they do not convert), without
// control characters but tab (made a space), CR and LF.
std::string decode_text(std::string_view bytes, TextEncoding encoding);

// `bytes` decoded in the encoding detect_text_encoding finds for them.
std::string decode_song_text(std::string_view bytes);

// The words of `song`, read from `path` (for the title when the song names none; may be empty).
// Karaoke files take their lines from the text events of their words track ('/' starts a line,
// '\' a verse, '@' tags are skipped), other files from the lyric events of the track holding
// most; where both exist, the source with more syllables wins. One encoding is found for all
// the lines. A line without breaks is broken before a word that would take it past 40
// characters.
SongWords build_song_words(const Song& song, const char* path);

// The line sung at `frame` (the last one started at or before it) and the one after it.
LyricView lyric_lines_at(const SongWords& words, double frame);

// Main thread: app.words made anew from the Player's song, after a song was swapped in or
// cleared. Copies the raw words under the Player's lock and decodes them outside it.
void refresh_song_words(AppState& app);
