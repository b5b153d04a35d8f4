#include "song/midi_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bounded_text.h"
#include "song/midi_parse.h"
#include "song/song.h"

namespace {

constexpr const char* kOpenFailed = kMidiOpenFailedText;
constexpr const char* kSeekFailed = "Could not seek MIDI file.";
constexpr const char* kEmptyFile = "MIDI file is empty.";
constexpr const char* kNoMemoryLoading = "Out of memory loading MIDI.";
constexpr const char* kReadFailed = "Could not read MIDI file.";
constexpr const char* kBadHeader = "Invalid MIDI header.";
constexpr const char* kBadHeaderLength = "Invalid MIDI header length.";
constexpr const char* kSmpte = "SMPTE time-division MIDI is not supported.";
constexpr const char* kNoEvents = "MIDI has no events.";
constexpr const char* kBadChunk = "Invalid MIDI track chunk.";
constexpr const char* kTruncatedTrack = "Truncated MIDI track.";
constexpr const char* kBadTrack = "Could not parse MIDI track.";
constexpr const char* kNoMemoryScheduling = "Out of memory scheduling MIDI.";

constexpr uint32_t kDefaultTempo = 500000;
constexpr uint16_t kDefaultDivision = 480;
constexpr size_t kFirstRawCapacity = 256;
constexpr size_t kFirstTempoCapacity = 16;

enum : uint8_t { kKindTempo = 0, kKindChannel = 1, kKindSysex = 2 };

// One parsed event before scheduling. Kept to 16 bytes: the sort moves these around.
struct RawEvent {
    uint32_t tick;
    uint32_t sequence;
    uint8_t kind;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
    uint32_t value; // tempo, or the index of the SysEx payload's SysexRef
};
static_assert(sizeof(RawEvent) == 16);

struct SysexRef {
    uint64_t offset; // into the payload pool that becomes Song::sysex_data
    uint64_t length;
};

// Charges every allocation against a byte budget; unlimited outside tests.
struct AllocationBudget {
    uint64_t left;
    void take(uint64_t bytes) {
        if (bytes > left) throw std::bad_alloc();
        left -= bytes;
    }
};

template <class T> void make_room_for_one(std::vector<T>& v, size_t first, AllocationBudget& b) {
    if (v.size() < v.capacity()) return;
    size_t capacity = v.capacity() == 0 ? first : v.capacity() * 2;
    b.take(uint64_t{capacity} * sizeof(T));
    v.reserve(capacity);
}

// Loop marks by tick, kept beside the events: they are no events of their own.
struct LoopMarks {
    bool has_start = false; // a "loopStart" marker; CC 111 is found among the events
    bool has_end = false;
    uint32_t start_tick = 0;
    uint32_t end_tick = 0;
    uint32_t last_track_end = 0;
};

// A text or lyric event before scheduling. Kept apart from the RawEvents: the event list and
// its frame times must not depend on the words a file carries.
struct PendingText {
    uint32_t tick;
    uint32_t offset; // into ParseState::text_data
    uint32_t length;
    uint16_t track;
    uint8_t type;
};

constexpr uint32_t kSongTextPoolBytes = 1u << 20;
constexpr std::string_view kKaraokeMark = "@KMIDI KARAOKE FILE";

struct ParseState {
    const uint8_t* data;
    std::vector<RawEvent> raw;
    std::vector<SysexRef> sysex_refs;
    std::vector<uint8_t> sysex_pool;
    uint64_t kept_messages = 0; // channel and SysEx events, the future MidiEvents
    AllocationBudget budget;
    LoopMarks marks = {};
    uint16_t track = 0;
    std::vector<PendingText> texts = {};
    std::string text_data = {};
    std::string title = {};
    std::string copyright = {};
    bool title_seen = false;
    bool copyright_seen = false;
    bool karaoke = false;
};

uint32_t read_be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

uint16_t read_be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

bool read_vlq(const uint8_t* data, uint64_t& pos, uint64_t end, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= end) return false;
        uint8_t byte = data[pos++];
        value = value << 7 | (byte & 0x7F);
        if ((byte & 0x80) == 0) return true;
    }
    return false;
}

RawEvent& append_raw(ParseState& s, uint32_t tick, uint8_t kind) {
    // The sequence number is 32 bits wide; a file with more events cannot be ordered.
    if (s.raw.size() >= UINT32_MAX) throw std::bad_alloc();
    make_room_for_one(s.raw, kFirstRawCapacity, s.budget);
    RawEvent event = {};
    event.tick = tick;
    event.sequence = static_cast<uint32_t>(s.raw.size());
    event.kind = kind;
    s.raw.push_back(event);
    if (kind != kKindTempo) ++s.kept_messages;
    return s.raw.back();
}

void append_sysex(ParseState& s, uint32_t tick, uint8_t introducer, uint64_t pos, uint64_t length) {
    RawEvent& event = append_raw(s, tick, kKindSysex);
    event.value = static_cast<uint32_t>(s.sysex_refs.size());
    make_room_for_one(s.sysex_refs, 16, s.budget);
    s.sysex_refs.push_back({s.sysex_pool.size(), length + 1});
    uint64_t needed = s.sysex_pool.size() + length + 1;
    if (needed > s.sysex_pool.capacity()) {
        uint64_t capacity = std::max<uint64_t>(needed, s.sysex_pool.capacity() * 2);
        s.budget.take(capacity);
        s.sysex_pool.reserve(capacity);
    }
    s.sysex_pool.push_back(introducer);
    s.sysex_pool.insert(s.sysex_pool.end(), s.data + pos, s.data + pos + length);
}

bool marker_is(const uint8_t* text, uint32_t length, std::string_view a, std::string_view b) {
    auto same = [&](std::string_view word) {
        if (word.size() != length) return false;
        for (uint32_t i = 0; i < length; ++i) {
            const uint8_t c = text[i];
            const uint8_t lower = c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c;
            if (lower != static_cast<uint8_t>(word[i])) return false;
        }
        return true;
    };
    return same(a) || same(b);
}

// The earliest marker of each kind counts, whichever track holds it.
void note_marker(LoopMarks& marks, uint32_t tick, const uint8_t* text, uint32_t length) {
    if (marker_is(text, length, "loopstart", "loop_start")) {
        if (!marks.has_start || tick < marks.start_tick) marks.start_tick = tick;
        marks.has_start = true;
    } else if (marker_is(text, length, "loopend", "loop_end")) {
        if (!marks.has_end || tick < marks.end_tick) marks.end_tick = tick;
        marks.has_end = true;
    }
}

void note_track_end(LoopMarks& marks, uint32_t tick) {
    marks.last_track_end = std::max(marks.last_track_end, tick);
}

// Keeps what the words of the song need of the meta event of `type` with `length` bytes at `pos`.
void keep_meta_text(ParseState& s, uint32_t tick, uint8_t type, uint64_t pos, uint32_t length) {
    const char* bytes = reinterpret_cast<const char*>(s.data + pos);
    const std::string_view text(bytes, std::min(length, kSongTextBytes));
    if (type == 0x03 && s.track == 0 && !s.title_seen) {
        s.title = text;
        s.title_seen = true;
    } else if (type == 0x02 && !s.copyright_seen) {
        s.copyright = text;
        s.copyright_seen = true;
    } else if (type == kMetaText || type == kMetaLyric) {
        if (type == kMetaText && text.starts_with(kKaraokeMark)) s.karaoke = true;
        if (s.texts.size() >= kSongTextCount ||
            s.text_data.size() + text.size() > kSongTextPoolBytes)
            return;
        s.texts.push_back({tick, static_cast<uint32_t>(s.text_data.size()),
                           static_cast<uint32_t>(text.size()), s.track, type});
        s.text_data += text;
    }
}

// Parses the chunk data in [pos, end). Returns false on malformed data; throws
// std::bad_alloc when an array cannot grow.
bool parse_track(ParseState& s, uint64_t pos, uint64_t end) {
    const uint8_t* data = s.data;
    uint32_t tick = 0;
    uint8_t running = 0;
    while (pos < end) {
        uint32_t delta = 0;
        if (!read_vlq(data, pos, end, delta)) return false;
        tick += delta; // wraps modulo 2^32 by design of the tick field
        if (pos >= end) return false;
        uint8_t byte = data[pos];
        uint8_t status = 0;
        if (byte >= 0x80 && byte <= 0xEF) {
            running = byte;
            status = byte;
            ++pos;
        } else if (byte < 0x80) {
            if (running == 0) return false;
            status = running;
        } else if (byte == 0xFF) {
            running = 0;
            ++pos;
            if (pos >= end) return false;
            uint8_t type = data[pos++];
            uint32_t length = 0;
            if (!read_vlq(data, pos, end, length)) return false;
            if (length > end - pos) return false;
            if (type == 0x2F) {
                note_track_end(s.marks, tick);
                return true;
            }
            if (type == 0x06) note_marker(s.marks, tick, data + pos, length);
            if (type >= kMetaText && type <= kMetaLyric) keep_meta_text(s, tick, type, pos, length);
            if (type == 0x51 && length == 3) {
                RawEvent& event = append_raw(s, tick, kKindTempo);
                event.value = uint32_t{data[pos]} << 16 | uint32_t{data[pos + 1]} << 8 |
                              uint32_t{data[pos + 2]};
            }
            pos += length;
            continue;
        } else if (byte == 0xF0 || byte == 0xF7) {
            ++pos;
            uint32_t length = 0;
            if (!read_vlq(data, pos, end, length)) return false;
            if (length > end - pos) return false;
            append_sysex(s, tick, byte, pos, length);
            pos += length;
            continue;
        } else {
            // System common and real-time bytes have no place in a file; tolerate the
            // harmless ones and skip their data.
            running = 0;
            ++pos;
            uint64_t skip = 0;
            switch (byte) {
            case 0xF1:
            case 0xF3:
                skip = 1;
                break;
            case 0xF2:
                skip = 2;
                break;
            case 0xF4:
            case 0xF5:
            case 0xF9:
            case 0xFD:
                return false;
            default:
                skip = 0;
                break;
            }
            if (skip > end - pos) return false;
            pos += skip;
            continue;
        }
        uint8_t type = status & 0xF0;
        uint64_t count = (type == 0xC0 || type == 0xD0) ? 1 : 2;
        if (count > end - pos) return false;
        RawEvent& event = append_raw(s, tick, kKindChannel);
        event.status = status;
        event.data1 = data[pos];
        event.data2 = count == 2 ? data[pos + 1] : 0;
        pos += count;
    }
    note_track_end(s.marks, tick);
    return true;
}

uint64_t sort_key(const RawEvent& e) {
    return uint64_t{e.tick} << 2 | e.kind;
}

bool raw_before(const RawEvent& a, const RawEvent& b) {
    if (a.tick != b.tick) return a.tick < b.tick;
    if (a.kind != b.kind) return a.kind < b.kind;
    return a.sequence < b.sequence;
}

// Orders by (tick, kind, sequence). The events arrive in sequence order, so a stable sort by
// (tick, kind) gives that order; an LSD radix sort over the 34-bit key is stable and fast.
void sort_raw(std::vector<RawEvent>& raw, AllocationBudget& budget) {
    size_t n = raw.size();
    bool in_order = true;
    for (size_t i = 1; i < n && in_order; ++i)
        in_order = sort_key(raw[i - 1]) <= sort_key(raw[i]);
    if (in_order) return;

    constexpr int kDigitBits = 12;
    constexpr int kDigits = 3; // covers the 34 key bits
    constexpr size_t kBuckets = size_t{1} << kDigitBits;
    std::vector<RawEvent> scratch;
    std::vector<std::array<size_t, kBuckets>> counts;
    try {
        budget.take(uint64_t{n} * sizeof(RawEvent) + kDigits * sizeof(counts[0]));
        scratch.resize(n);
        counts.resize(kDigits);
    } catch (const std::exception&) {
        // No room for the radix buffers: sort in place with the full total order instead.
        std::sort(raw.begin(), raw.end(), raw_before);
        return;
    }
    for (auto& c : counts)
        c.fill(0);
    for (const RawEvent& e : raw) {
        uint64_t key = sort_key(e);
        for (int d = 0; d < kDigits; ++d)
            ++counts[d][(key >> (d * kDigitBits)) & (kBuckets - 1)];
    }
    RawEvent* src = raw.data();
    RawEvent* dst = scratch.data();
    for (int d = 0; d < kDigits; ++d) {
        auto& count = counts[d];
        uint64_t first_key_digit = (sort_key(src[0]) >> (d * kDigitBits)) & (kBuckets - 1);
        if (count[first_key_digit] == n) continue; // every key shares this digit
        size_t offset = 0;
        for (size_t& c : count) {
            size_t here = c;
            c = offset;
            offset += here;
        }
        for (size_t i = 0; i < n; ++i) {
            uint64_t digit = (sort_key(src[i]) >> (d * kDigitBits)) & (kBuckets - 1);
            dst[count[digit]++] = src[i];
        }
        std::swap(src, dst);
    }
    if (src != raw.data()) raw.swap(scratch);
}

// Nearest integer, halves away from zero; t is never negative.
uint64_t round_frames(double t) {
    double r = std::round(t);
    if (!(r < 18446744073709551616.0)) return UINT64_MAX;
    return static_cast<uint64_t>(r);
}

// The frame time of a text `ticks` after the event last scheduled: the sum is the one the next
// event at the text's tick would make, but it is not carried on, so that the events' times stay
// what they are without words.
uint64_t text_frames(double t, uint32_t ticks, uint32_t tempo, double rate, double scale) {
    return round_frames(t + static_cast<double>(ticks) * tempo * rate / scale);
}

// Converts the sorted events to frame times; the texts follow the events of their tick. Throws
// std::bad_alloc when an array cannot be allocated.
void schedule(ParseState& s, Song& song) {
    s.budget.take(s.kept_messages * sizeof(MidiEvent));
    song.events.resize(s.kept_messages);
    s.budget.take(kFirstTempoCapacity * sizeof(TempoPoint));
    song.tempo_map.reserve(kFirstTempoCapacity);
    song.tempo_map.push_back({0, 0, kDefaultTempo});

    const double rate = song.rate;
    const double ticks_per_microsecond_scale = song.division * 1000000.0;
    double t = 0.0;
    uint32_t tempo = kDefaultTempo;
    uint32_t previous_tick = 0;
    size_t next = 0;

    SongLoop& loop = song.loop;
    loop.marked = s.marks.has_start;
    loop.start_tick = s.marks.start_tick;
    for (const RawEvent& r : s.raw) {
        if (r.kind != kKindChannel || (r.status & 0xF0) != 0xB0 || r.data1 != 111) continue;
        if (!loop.marked || r.tick < loop.start_tick) loop.start_tick = r.tick;
        loop.marked = true;
        break; // sorted: the first is the earliest
    }
    const bool end_marked = s.marks.has_end && s.marks.end_tick > loop.start_tick;
    loop.end_tick = end_marked ? s.marks.end_tick : s.marks.last_track_end;
    if (!loop.marked || loop.end_tick <= loop.start_tick) loop = SongLoop{};
    // A mark's frame is worked out on the side, so the running sum, and with it every event
    // time, stays what it is without marks.
    bool start_done = !loop.marked;
    bool end_done = !loop.marked;
    auto place_marks = [&](uint32_t before_tick, bool all) {
        auto frame_at = [&](uint32_t tick) {
            const uint32_t ticks = tick - previous_tick;
            return round_frames(t + static_cast<double>(ticks) * tempo * rate /
                                        ticks_per_microsecond_scale);
        };
        if (!start_done && (all || loop.start_tick <= before_tick)) {
            loop.start_frame = frame_at(loop.start_tick);
            start_done = true;
        }
        if (!end_done && (all || loop.end_tick <= before_tick)) {
            loop.end_frame = frame_at(loop.end_tick);
            end_done = true;
        }
    };
    std::stable_sort(s.texts.begin(), s.texts.end(),
                     [](const PendingText& a, const PendingText& b) { return a.tick < b.tick; });
    song.texts.reserve(s.texts.size());
    size_t next_text = 0;
    auto add_texts_before = [&](uint64_t tick_limit) {
        for (; next_text < s.texts.size() && s.texts[next_text].tick < tick_limit; ++next_text) {
            const PendingText& p = s.texts[next_text];
            const uint64_t frame =
                text_frames(t, p.tick - previous_tick, tempo, rate, ticks_per_microsecond_scale);
            song.texts.push_back({frame, p.offset, p.length, p.track, p.type});
        }
    };
    for (const RawEvent& r : s.raw) {
        add_texts_before(r.tick);
        if (!end_done) place_marks(r.tick, false);
        uint32_t ticks = r.tick - previous_tick;
        t += static_cast<double>(ticks) * tempo * rate / ticks_per_microsecond_scale;
        previous_tick = r.tick;
        if (r.kind == kKindTempo) {
            if (r.value != 0) tempo = r.value;
            uint64_t frame = round_frames(t);
            TempoPoint& last = song.tempo_map.back();
            if (last.frame == frame && last.tick == r.tick) {
                last.tempo = tempo;
            } else {
                make_room_for_one(song.tempo_map, kFirstTempoCapacity, s.budget);
                song.tempo_map.push_back({frame, r.tick, tempo});
            }
            continue;
        }
        MidiEvent& event = song.events[next++];
        event.time = round_frames(t);
        if (r.kind == kKindChannel) {
            event.status = r.status;
            event.data1 = r.data1;
            event.data2 = r.data2;
        } else {
            event.status = 0xF0;
            event.sysex_offset = s.sysex_refs[r.value].offset;
            event.sysex_length = s.sysex_refs[r.value].length;
        }
    }
    place_marks(0, true);
    add_texts_before(uint64_t{UINT32_MAX} + 1);
    song.length_frames = round_frames(t) + uint64_t{4} * song.rate;
}

struct BufferDeleter {
    void operator()(uint8_t* p) const { ::operator delete(p); }
};
using FileBuffer = std::unique_ptr<uint8_t, BufferDeleter>;

constexpr size_t kHeaderBytes = 14;

struct MidiHeader {
    uint64_t first_chunk = 0;
    uint16_t division = 0;
    uint16_t track_count = 0;
};

// Checks the header chunk of a file of `size` bytes; `data` holds its first kHeaderBytes, or
// all of it when it is shorter.
const char* check_header(const uint8_t* data, uint64_t size, MidiHeader& header) {
    if (size < kHeaderBytes || memcmp(data, "MThd", 4) != 0) return kBadHeader;
    uint64_t header_length = read_be32(data + 4);
    if (header_length < 6 || header_length + 8 > size) return kBadHeaderLength;
    header.division = read_be16(data + 12);
    if (header.division & 0x8000) return kSmpte;
    if (header.division == 0) header.division = kDefaultDivision;
    header.track_count = read_be16(data + 10);
    if (header.track_count == 0) return kNoEvents;
    header.first_chunk = 8 + header_length;
    return nullptr;
}

// `image`, when given, owns `data` and is freed once the tracks are parsed: the sort and the
// schedule then have the file's memory for themselves.
const char* parse_with_budget(const uint8_t* data, size_t size, int32_t output_rate, Song& out,
                              uint64_t allocation_budget, FileBuffer* image = nullptr) {
    MidiHeader header;
    if (const char* failure = check_header(data, size, header)) return failure;
    const uint16_t division = header.division;
    const uint16_t track_count = header.track_count;

    ParseState s{data, {}, {}, {}, 0, {allocation_budget}};
    try {
        uint64_t offset = header.first_chunk;
        for (uint16_t track = 0; track < track_count; ++track) {
            if (offset + 8 > size || memcmp(data + offset, "MTrk", 4) != 0) return kBadChunk;
            uint64_t length = read_be32(data + offset + 4);
            if (offset + 8 + length > size) return kTruncatedTrack;
            s.track = track;
            if (!parse_track(s, offset + 8, offset + 8 + length)) return kBadTrack;
            offset += 8 + length;
        }
    } catch (const std::exception&) {
        return kBadTrack;
    }
    if (image != nullptr) {
        image->reset();
        s.data = nullptr;
    }
    if (s.raw.empty()) return kNoEvents;

    sort_raw(s.raw, s.budget);

    Song song;
    song.division = division;
    song.rate = output_rate < 0 ? 0 : static_cast<uint32_t>(output_rate);
    try {
        schedule(s, song);
    } catch (const std::exception&) {
        return kNoMemoryScheduling;
    }
    song.sysex_data = std::move(s.sysex_pool);
    song.title = std::move(s.title);
    song.copyright = std::move(s.copyright);
    song.text_data = std::move(s.text_data);
    song.karaoke = s.karaoke;
    out = std::move(song);
    return nullptr;
}

struct FileCloser {
    int fd;
    ~FileCloser() {
        if (fd >= 0) close(fd);
    }
};

// Reads `count` bytes; false when fewer came, with `error_number` the errno of a failed read.
bool read_fully(int fd, uint8_t* out, size_t count, int& error_number) {
    size_t got = 0;
    while (got < count) {
        ssize_t n = read(fd, out + got, std::min<size_t>(count - got, 1u << 30));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error_number = errno;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got == count;
}

// Reads the whole file once its header has passed, so a file that is not MIDI costs a few
// bytes whatever its size. Only regular files are read: opening never blocks, so a FIFO or a
// device is refused instead of hanging the window. `error_number` gets the errno of a failed
// system call.
const char* read_midi_file(const char* path, FileBuffer& buffer, size_t& size, int& error_number) {
    if (path == nullptr) return kOpenFailed;
    if (strnlen(path, kPathCapacity) >= kPathCapacity) {
        error_number = ENAMETOOLONG;
        return kOpenFailed;
    }
    FileCloser file{open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0) {
        error_number = errno;
        return kOpenFailed;
    }
    struct stat info = {};
    if (fstat(file.fd, &info) != 0) {
        error_number = errno;
        return kSeekFailed;
    }
    if (!S_ISREG(info.st_mode)) {
        error_number = S_ISDIR(info.st_mode) ? EISDIR : 0;
        return kOpenFailed;
    }
    if (info.st_size <= 0) return kEmptyFile;
    size = static_cast<size_t>(info.st_size);
    uint8_t head[kHeaderBytes];
    const size_t head_size = std::min(size, sizeof head);
    if (!read_fully(file.fd, head, head_size, error_number)) return kReadFailed;
    MidiHeader header;
    if (const char* failure = check_header(head, size, header)) return failure;
    buffer.reset(static_cast<uint8_t*>(::operator new(size, std::nothrow)));
    if (!buffer) {
        error_number = ENOMEM;
        return kNoMemoryLoading;
    }
    memcpy(buffer.get(), head, head_size);
    if (!read_fully(file.fd, buffer.get() + head_size, size - head_size, error_number))
        return kReadFailed;
    return nullptr;
}

bool names_karaoke_file(std::string_view path) {
    if (path.size() < 4) return false;
    std::string_view tail = path.substr(path.size() - 4);
    constexpr std::string_view kSuffix = ".kar";
    for (size_t i = 0; i < 4; ++i)
        if ((tail[i] | 0x20) != kSuffix[i]) return false;
    return true;
}

} // namespace

const char* parse_song(const uint8_t* data, size_t size, int32_t output_rate, Song& out,
                       uint64_t allocation_budget) {
    return parse_with_budget(data, size, output_rate, out, allocation_budget);
}

const char* parse_song(const uint8_t* data, size_t size, int32_t output_rate, Song& out) {
    return parse_with_budget(data, size, output_rate, out, UINT64_MAX);
}

void free_song(Song& song) noexcept {
    song = Song{};
}

const char* read_song_file(const char* path, int32_t output_rate, Song& out, int& error_number) {
    error_number = 0;
    FileBuffer buffer;
    size_t size = 0;
    const char* failure = read_midi_file(path, buffer, size, error_number);
    if (failure != nullptr) return failure;
    failure = parse_with_budget(buffer.get(), size, output_rate, out, UINT64_MAX, &buffer);
    if (failure == nullptr && names_karaoke_file(path)) out.karaoke = true;
    return failure;
}
