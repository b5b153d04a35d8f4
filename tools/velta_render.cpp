// velta-render: the engine without the window. Renders a song to a WAV file, or dumps the
// event list the reader made of it.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sequencer/load_song.h"
#include "sequencer/player.h"
#include "song/song.h"
#include "synth/synth.h"
#include "synth/tables.h"
#include "tools/render_mode.h"

namespace {

constexpr const char* kHelp =
    "Usage: velta-render [OPTIONS] IN.mid OUT.wav\n"
    "       velta-render --dump [--rate R] [--loops N] FILE.mid\n"
    "       velta-render --loudness [OPTIONS] IN.mid\n"
    "\n"
    "Renders a Standard MIDI File through the VELTA synthesizer into a 16-bit stereo WAV\n"
    "file, or with --dump prints the event list the reader makes of it.\n"
    "\n"
    "Options (before or after the file names; --opt VALUE or --opt=VALUE):\n"
    "  --rate R          output frequency in Hz, an integer 1-384000 (default 44100)\n"
    "  --set N           instrument set: 0-9 or its exact name, e.g. \"Famicom like Set\"\n"
    "                    (default 0, \"SCC like Full-Set\")\n"
    "  --detune D        the channels' fixed detune: max14 (up to 14 cents, the default)\n"
    "                    or none\n"
    "  --block F         frames rendered per block, an integer 1-65536 (default 1024)\n"
    "  --seek FRAC       seek to this fraction of the song length before rendering\n"
    "  --max-seconds S   stop after S seconds of output, S >= 0 (default 900)\n"
    "  --mute LIST       mute these MIDI channels, 1-16, comma-separated (e.g. 1,10)\n"
    "  --loops N         play the loop the song marks (CC 111, or \"loopStart\"/\"loopEnd\"\n"
    "                    markers) N more times, then fade out over 8 seconds; an integer\n"
    "                    0-100 (default 0: the song as written; an unmarked song always)\n"
    "  --dump            print the events, tempo map and summary instead of rendering;\n"
    "                    takes only --rate, --loops and one file\n"
    "  --loudness        print the integrated loudness (EBU R128) and true peak of IN.mid\n"
    "                    as it would be rendered, instead of rendering it:\n"
    "                    \"integrated -23.52 LUFS, true peak -1.20 dBTP\" (-inf when silent)\n"
    "  --normalize       write OUT.wav at -18 LUFS integrated (measured in a first pass),\n"
    "                    lowered where needed to keep the true peak at or below 0 dBTP\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "  --                end of options; later arguments are file names\n"
    "\n"
    "OUT.wav may be \"-\" for standard output. The WAV data is written as it is rendered;\n"
    "when the output cannot seek back (a pipe), the RIFF and data sizes in its header stay\n"
    "0xFFFFFFFF, the conventional \"unknown\" value that sox, aplay and ffmpeg accept.\n"
    "\n"
    "Dump lines, in play order:\n"
    "  ev TIME STATUS DATA1 DATA2 [sysex HEX]   TIME in frames, STATUS in hex\n"
    "  tempo FRAME TICK TEMPO                   TEMPO in microseconds per quarter note\n"
    "  length FRAMES / division TICKS / rate HZ / events COUNT\n"
    "  fade FRAMES                              with --loops, when the song was unrolled\n"
    "\n"
    "Exit status: 0 done, 1 usage error, 2 the song did not load, 3 output error.\n";

struct CommandLine {
    bool help = false;
    bool version = false;
    bool dump = false;
    bool loudness = false;
    RenderOptions render;
    std::vector<std::string> files;
};

template <class T> bool parse_integer(std::string_view text, T low, T high, T& value) {
    T parsed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    if (parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

bool parse_number(std::string_view text, double& value) {
    double parsed = 0.0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool parse_instrument_set(std::string_view text, int32_t& set) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') {
        set = text[0] - '0';
        return true;
    }
    for (int i = 0; i < kInstrumentSetCount; ++i) {
        if (kInstrumentSetNames[i] != nullptr && text == kInstrumentSetNames[i]) {
            set = i;
            return true;
        }
    }
    return false;
}

// "1,10,16": each listed channel muted; repeating a channel is harmless.
bool parse_channel_list(std::string_view text, std::array<bool, kChannelCount>& muted) {
    std::array<bool, kChannelCount> parsed = muted;
    while (true) {
        const size_t comma = text.find(',');
        int32_t channel = 0;
        if (!parse_integer<int32_t>(text.substr(0, comma), 1, kChannelCount, channel)) return false;
        parsed[channel - 1] = true;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    muted = parsed;
    return true;
}

// Applies one valued option. Returns the problem with the value, or an empty string.
std::string apply_option(CommandLine& line, std::string_view name, std::string_view value) {
    WavRenderSettings& r = line.render.settings;
    if (name == "--rate") {
        if (!parse_integer<int32_t>(value, 1, 384000, r.rate))
            return "--rate takes an integer from 1 to 384000";
        return {};
    }
    if (name == "--set") {
        if (!parse_instrument_set(value, r.instrument_set))
            return "--set takes 0-9 or an instrument set name";
    } else if (name == "--detune") {
        if (value != "max14" && value != "none") return "--detune takes max14 or none";
        r.auto_detune = value == "max14";
    } else if (name == "--block") {
        if (!parse_integer<uint32_t>(value, 1, 65536, r.block_frames))
            return "--block takes an integer from 1 to 65536";
    } else if (name == "--seek") {
        if (!parse_number(value, r.seek_fraction)) return "--seek takes a finite number";
        r.seek_given = true;
    } else if (name == "--max-seconds") {
        if (!parse_number(value, r.max_seconds) || r.max_seconds < 0.0)
            return "--max-seconds takes a number of at least 0";
    } else if (name == "--loops") {
        if (!parse_integer<int32_t>(value, 0, 100, r.song_loops))
            return "--loops takes an integer from 0 to 100";
    } else if (name == "--mute") {
        if (!parse_channel_list(value, r.muted))
            return "--mute takes channel numbers 1-16 separated by commas";
    }
    return {};
}

// Returns a usage error, or an empty string when the command line is good.
std::string parse_command_line(int argc, char** argv, CommandLine& line) {
    static constexpr std::string_view kValued[] = {
        "--rate", "--set", "--detune", "--block", "--seek", "--max-seconds", "--mute", "--loops"};
    std::string render_only;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
            line.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            return {};
        }
        if (arg == "--version") {
            line.version = true;
            return {};
        }
        if (arg == "--dump") {
            line.dump = true;
            continue;
        }
        if (arg == "--loudness" || arg == "--normalize") {
            (arg == "--loudness" ? line.loudness : line.render.normalize) = true;
            continue;
        }
        std::string_view name = arg.substr(0, arg.find('='));
        bool known = false;
        for (std::string_view valued : kValued)
            known = known || name == valued;
        if (!known) return "unknown option '" + std::string(arg) + "'";
        std::string_view value;
        if (name.size() < arg.size()) {
            value = arg.substr(name.size() + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return std::string(name) + " needs a value";
        }
        std::string problem = apply_option(line, name, value);
        if (!problem.empty()) return problem + ", not '" + std::string(value) + "'";
        if (name != "--rate" && name != "--loops" && render_only.empty()) render_only = name;
    }
    if (line.dump && (line.loudness || line.render.normalize))
        return std::string(line.loudness ? "--loudness" : "--normalize") +
               " does not go with --dump";
    if (line.loudness && line.render.normalize) return "--loudness does not go with --normalize";
    if (line.loudness) {
        if (line.files.size() != 1) return "--loudness takes exactly one MIDI file";
        line.render.input_path = line.files[0];
        return {};
    }
    if (line.dump) {
        if (!render_only.empty()) return render_only + " does not go with --dump";
        if (line.files.size() != 1) return "--dump takes exactly one MIDI file";
        line.render.input_path = line.files[0];
        return {};
    }
    if (line.files.size() != 2) return "expected an input MIDI file and an output WAV file";
    line.render.input_path = line.files[0];
    line.render.output_path = line.files[1];
    return {};
}

// Buffered standard output with its own number formatting: dumps run to millions of lines.
class DumpWriter {
  public:
    ~DumpWriter() { flush(); }
    bool finish() {
        flush();
        return !failed_ && fflush(stdout) == 0 && !ferror(stdout);
    }
    void text(std::string_view s) {
        while (!s.empty()) {
            room(1);
            size_t n = std::min(s.size(), sizeof(buffer_) - used_);
            memcpy(buffer_ + used_, s.data(), n);
            used_ += n;
            s.remove_prefix(n);
        }
    }
    void number(uint64_t value) {
        room(20);
        used_ = static_cast<size_t>(
            std::to_chars(buffer_ + used_, buffer_ + used_ + 20, value).ptr - buffer_);
    }
    void hex_bytes(const uint8_t* bytes, uint64_t count) {
        static constexpr char kDigits[] = "0123456789abcdef";
        for (uint64_t i = 0; i < count; ++i) {
            room(2);
            buffer_[used_++] = kDigits[bytes[i] >> 4];
            buffer_[used_++] = kDigits[bytes[i] & 15];
        }
    }
    void end_line() {
        room(1);
        buffer_[used_++] = '\n';
    }

  private:
    void room(size_t n) {
        if (used_ + n > sizeof(buffer_)) flush();
    }
    void flush() {
        if (used_ != 0 && fwrite(buffer_, 1, used_, stdout) != used_) failed_ = true;
        used_ = 0;
    }
    char buffer_[1 << 16];
    size_t used_ = 0;
    bool failed_ = false;
};

int dump_song(const RenderOptions& options) {
    auto player = std::make_unique<Player>();
    synth_init(*player, options.settings.rate);
    player_set_song_loops(*player, options.settings.song_loops);
    if (!load_or_report(*player, options.input_path)) {
        return kExitLoad;
    }
    std::lock_guard<std::mutex> guard(player->lock);
    const Song& song = player->song;
    auto out = std::make_unique<DumpWriter>();
    for (const MidiEvent& event : song.events) {
        out->text("ev ");
        out->number(event.time);
        out->text(" ");
        out->hex_bytes(&event.status, 1);
        out->text(" ");
        out->number(event.data1);
        out->text(" ");
        out->number(event.data2);
        if (event.sysex_length != 0) {
            out->text(" sysex ");
            out->hex_bytes(song_event_sysex(song, event), event.sysex_length);
        }
        out->end_line();
    }
    for (const TempoPoint& point : song.tempo_map) {
        out->text("tempo ");
        out->number(point.frame);
        out->text(" ");
        out->number(point.tick);
        out->text(" ");
        out->number(point.tempo);
        out->end_line();
    }
    const std::pair<const char*, uint64_t> summary[] = {{"length ", song.length_frames},
                                                        {"division ", song.division},
                                                        {"rate ", song.rate},
                                                        {"events ", song.events.size()}};
    for (const auto& [label, value] : summary) {
        out->text(label);
        out->number(value);
        out->end_line();
    }
    if (song.fade_frames != 0) {
        out->text("fade ");
        out->number(song.fade_frames);
        out->end_line();
    }
    if (!out->finish()) {
        fputs("velta-render: could not write the dump\n", stderr);
        return kExitOutput;
    }
    return kExitDone;
}

} // namespace

int main(int argc, char** argv) {
    CommandLine line;
    std::string problem = parse_command_line(argc, argv, line);
    if (!problem.empty()) {
        fprintf(stderr, "velta-render: %s (see --help)\n", problem.c_str());
        return kExitUsage;
    }
    if (line.help || line.version) {
        fputs(line.help ? kHelp : "velta-render " VELTA_VERSION "\n", stdout);
        return fflush(stdout) == 0 && !ferror(stdout) ? kExitDone : kExitOutput;
    }
    if (line.dump) return dump_song(line.render);
    if (line.loudness) return print_loudness(line.render);
    return render_to_wav(line.render);
}
