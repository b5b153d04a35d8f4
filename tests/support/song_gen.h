// Builds the Standard MIDI Files that the tests, the benchmarks and the fuzzers play: a stress
// song that keeps every voice of the pool sounding, a dense ordinary song with drums, bass,
// chords, lead and tempo changes, and the small test songs. The same bytes on every run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace song_gen {

constexpr uint32_t kDivision = 480;

// A MIDI variable-length quantity: seven bits per byte, most significant first.
inline void put_vlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1)
        out.push_back(uint8_t(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

// A small linear congruential generator: the C library's rand() belongs to the drums.
struct Lcg {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int32_t range(int32_t low, int32_t high) { // inclusive
        return low + static_cast<int32_t>(next() % static_cast<uint32_t>(high - low + 1));
    }
};

// Collects the timed events of one track; bytes() writes it as a format-0 file, file() several
// tracks as one file.
class SmfBuilder {
  public:
    void add(uint32_t tick, std::vector<uint8_t> bytes) {
        events_.push_back({tick, std::move(bytes)});
    }
    void channel(uint32_t tick, int status, int data1, int data2) {
        add(tick, {uint8_t(status), uint8_t(data1 & 0x7F), uint8_t(data2 & 0x7F)});
    }
    void program(uint32_t tick, int ch, int program) {
        add(tick, {uint8_t(0xC0 | ch), uint8_t(program & 0x7F)});
    }
    void note_on(uint32_t tick, int ch, int note, int vel) { channel(tick, 0x90 | ch, note, vel); }
    void note_off(uint32_t tick, int ch, int note) { channel(tick, 0x80 | ch, note, 64); }
    void note(uint32_t tick, uint32_t length, int ch, int note, int velocity) {
        note_on(tick, ch, note, velocity);
        note_off(tick + length, ch, note);
    }
    void control(uint32_t tick, int ch, int cc, int value) { channel(tick, 0xB0 | ch, cc, value); }
    void bend(uint32_t tick, int ch, int value) { // -8192..8191
        const int raw = std::clamp(value + 8192, 0, 16383);
        channel(tick, 0xE0 | ch, raw & 0x7F, raw >> 7);
    }
    void bend_range(uint32_t tick, int ch, int semitones) {
        for (const auto& [cc, value] : {std::pair{101, 0}, {100, 0}, {6, semitones}})
            control(tick, ch, cc, value);
    }
    void tempo(uint32_t tick, uint32_t us_per_quarter) {
        add(tick, {0xFF, 0x51, 0x03, uint8_t(us_per_quarter >> 16), uint8_t(us_per_quarter >> 8),
                   uint8_t(us_per_quarter)});
    }
    // `payload`: the bytes after F0, the closing F7 included.
    void sysex(uint32_t tick, const std::vector<uint8_t>& payload) {
        std::vector<uint8_t> bytes = {0xF0};
        put_vlq(bytes, uint32_t(payload.size()));
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        add(tick, std::move(bytes));
    }
    // A user waveform for `slot`, sample(i) for i in 0..31, and the user-waveform mode.
    template <class Sample> void wave_upload(uint32_t tick, int slot, Sample sample) {
        std::vector<uint8_t> payload = {0x77, 0x10, 0x42, 0x12, 0xF1, uint8_t(slot), 0};
        for (int i = 0; i < 32; ++i)
            payload.push_back(uint8_t(sample(i)));
        payload.push_back(0xF7);
        sysex(tick, payload);
    }
    void wave_mode(uint32_t tick, int on) {
        sysex(tick, {0x77, 0x10, 0x42, 0x12, 0xF0, 0, 0, uint8_t(on), 0xF7});
    }

    std::vector<uint8_t> bytes() const { return file({this}, kDivision, 0); }
    static std::vector<uint8_t> file(std::initializer_list<const SmfBuilder*> tracks,
                                     uint32_t division, int format = 1) {
        std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, uint8_t(format), 0};
        out.push_back(uint8_t(tracks.size()));
        put_be16(out, division);
        for (const SmfBuilder* track : tracks)
            track->put_chunk(out);
        return out;
    }

  private:
    struct Event {
        uint32_t tick;
        std::vector<uint8_t> bytes;
    };
    // Events of one tick keep the order they were added in; End of Track closes the chunk.
    void put_chunk(std::vector<uint8_t>& out) const {
        std::vector<Event> sorted = events_;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Event& a, const Event& b) { return a.tick < b.tick; });
        std::vector<uint8_t> track;
        uint32_t last = 0;
        for (const Event& e : sorted) {
            put_vlq(track, e.tick - last);
            last = e.tick;
            track.insert(track.end(), e.bytes.begin(), e.bytes.end());
        }
        track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        put_be16(out, uint32_t(track.size()) >> 16);
        put_be16(out, uint32_t(track.size()));
        out.insert(out.end(), track.begin(), track.end());
    }
    // Byte by byte: g++ 12 at -O3 misreads inserts of short initializer lists as overflows.
    static void put_be16(std::vector<uint8_t>& out, uint32_t v) {
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    }
    std::vector<Event> events_;
};

// A triangle wave over `period` ticks between low and high, for controller sweeps.
inline int sweep(uint32_t tick, uint32_t period, int low, int high, uint32_t offset = 0) {
    const uint32_t t = (tick + offset) % period;
    const uint32_t half = period / 2;
    const uint32_t up = t < half ? t : period - t;
    return low +
           static_cast<int>(static_cast<uint64_t>(up) * static_cast<uint64_t>(high - low) / half);
}

// Every one of the 46 voices sounds from the first frame to `seconds`: 15 melodic channels
// hold three notes each (channel 0 holds four) on programs whose envelopes sustain forever
// and whose waveforms do not decay, while bend, expression and pan move on every channel.
// 120 bpm throughout: 960 ticks per second.
inline std::vector<uint8_t> stress_song(uint32_t seconds = 60) {
    constexpr int kPrograms[15] = {80, 81, 16, 38, 40, 54, 56, 64, 19, 88, 48, 100, 71, 60, 21};
    SmfBuilder smf;
    smf.tempo(0, 500000);
    const uint32_t end = seconds * 960;
    int index = 0;
    for (int ch = 0; ch < 16; ++ch) {
        if (ch == 9) continue;
        smf.program(0, ch, kPrograms[index]);
        smf.bend_range(0, ch, 2 + (ch % 4) * 4);
        const int root = 24 + index * 5;
        std::vector<int> notes = {root, root + 7, root + 16};
        if (ch == 0) notes.push_back(115); // a high note: the widest box filter
        for (int note : notes)
            smf.note_on(0, ch, note, 70 + (note % 50));
        // Each channel moves one controller every 16 ticks (about 17 ms), taking turns.
        const uint32_t phase = static_cast<uint32_t>(index) * 3;
        for (uint32_t tick = 16 + phase, turn = 0; tick < end; tick += 16, ++turn) {
            if (turn % 3 == 0)
                smf.bend(tick, ch, sweep(tick, 1920 + index * 64, -8192, 8191));
            else if (turn % 3 == 1)
                smf.control(tick, ch, 11, sweep(tick, 2880 + index * 96, 30, 127));
            else
                smf.control(tick, ch, 10, sweep(tick, 3840 + index * 32, 0, 127));
        }
        for (int note : notes)
            smf.note_off(end, ch, note);
        ++index;
    }
    return smf.bytes();
}

// An ordinary busy arrangement: drums with every noise and tone family, a bass line, chords
// with the sustain pedal, a bent lead, an arpeggio and a panned pad, with a tempo change every
// four bars. Runs about `seconds` long.
inline std::vector<uint8_t> dense_song(uint32_t seconds = 60) {
    SmfBuilder smf;
    Lcg rng{12345};
    constexpr uint32_t kBar = kDivision * 4;
    constexpr uint32_t k16th = kDivision / 4;
    constexpr uint32_t kTempos[] = {500000, 428571, 600000, 375000, 461538, 545454};
    constexpr int kScale[] = {0, 2, 3, 5, 7, 8, 10};
    constexpr int kRoots[] = {45, 41, 43, 40, 45, 48, 43, 38};
    constexpr int kPrograms[] = {38, 16, 80, 81, 48, 0};

    smf.add(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}); // General MIDI System On
    // Bass, chords (attack, then hold), lead, arpeggio, pad, piano stabs (decaying sustain).
    for (int ch = 0; ch < 6; ++ch)
        smf.program(0, ch, kPrograms[ch]);
    smf.control(0, 4, 7, 70);
    smf.control(0, 3, 7, 80);
    smf.bend_range(0, 2, 12);

    double elapsed = 0.0;
    uint32_t bar_tick = 0;
    for (uint32_t bar = 0; elapsed < seconds; ++bar, bar_tick += kBar) {
        const uint32_t tempo = kTempos[(bar / 4) % 6];
        if (bar % 4 == 0) smf.tempo(bar_tick, tempo);
        elapsed += 4.0 * tempo / 1e6;
        const int root = kRoots[bar % 8];

        // Drums on channel 9.
        for (uint32_t s = 0; s < 16; ++s) {
            const uint32_t t = bar_tick + s * k16th;
            if (s % 8 == 0) smf.note(t, 60, 9, 36, 120);
            if (s % 8 == 4) smf.note(t, 60, 9, 38, 110);
            if (s == 14)
                smf.note(t, 60, 9, 46, 90);
            else if (s % 2 == 0 && bar % 8 >= 4)
                smf.note(t, 30, 9, 51, 70);
            else
                smf.note(t, 30, 9, 42, 60 + rng.range(0, 30));
            if (s == 10 && bar % 2 == 1) smf.note(t, 30, 9, rng.range(0, 1) ? 37 : 39, 80);
        }
        if (bar % 4 == 0) smf.note(bar_tick, 60, 9, 49, 100);
        if (bar % 4 == 3) {
            constexpr int kToms[] = {50, 47, 45, 41};
            for (uint32_t i = 0; i < 4; ++i)
                smf.note(bar_tick + (12 + i) * k16th, 60, 9, kToms[i], 100);
        }

        // Bass: eighths.
        for (uint32_t e = 0; e < 8; ++e) {
            const int note = root - 12 + (e % 4 == 3 ? 7 : 0) + (e == 7 ? 5 : 0);
            smf.note(bar_tick + e * kDivision / 2, kDivision / 2 - 20, 0, note, 100);
        }

        // Chords: one per bar, pedal held over the bar line every other bar.
        const int chord[] = {root + 12, root + 15, root + 19, root + 22};
        for (int n : chord)
            smf.note(bar_tick, kBar - 40, 1, n, 75);
        if (bar % 2 == 0) {
            smf.control(bar_tick + kDivision, 1, 64, 127);
            smf.control(bar_tick + kBar - 10, 1, 64, 0);
        }

        // Lead: a random walk in eighths and sixteenths, bent into some notes.
        uint32_t t = bar_tick;
        int degree = rng.range(0, 6);
        while (t < bar_tick + kBar) {
            const uint32_t length = rng.range(0, 2) == 0 ? k16th : 2 * k16th;
            degree = std::clamp(degree + rng.range(-2, 2), 0, 13);
            const int note = root + 24 + kScale[degree % 7] + 12 * (degree / 7);
            if (rng.range(0, 3) == 0) {
                smf.bend(t, 2, -2048);
                smf.bend(t + length / 3, 2, -1024);
                smf.bend(t + 2 * length / 3, 2, 0);
            }
            smf.note(t, length - 10, 2, note, 90 + rng.range(0, 30));
            t += length;
        }
        smf.control(bar_tick, 2, 11, sweep(bar, 8, 80, 127));

        // Arpeggio: sixteenths over the chord.
        for (uint32_t s = 0; s < 16; ++s)
            smf.note(bar_tick + s * k16th, k16th - 5, 3, chord[s % 4] + 12, 80);

        // Pad: a long note every two bars, pan and expression sweeping.
        if (bar % 2 == 0) smf.note(bar_tick, 2 * kBar - 60, 4, root + 7, 90);
        for (uint32_t s = 0; s < 16; s += 2) {
            smf.control(bar_tick + s * k16th, 4, 10,
                        sweep(bar_tick + s * k16th, 4 * kBar, 10, 117));
            smf.control(bar_tick + s * k16th + 5, 4, 11,
                        sweep(bar_tick + s * k16th, kBar, 60, 127));
        }

        // Piano stabs on the off-beats.
        for (uint32_t e = 1; e < 8 && bar % 2 == 1; e += 2) {
            smf.note(bar_tick + e * kDivision / 2, k16th, 5, root + 24, 100);
            smf.note(bar_tick + e * kDivision / 2, k16th, 5, root + 28, 100);
        }
    }
    return smf.bytes();
}

// Two notes held for `seconds` with nothing else happening: long enough for the sample
// counters to pass 2^24, where they stop being exact as floats.
inline std::vector<uint8_t> held_song(uint32_t seconds) {
    SmfBuilder smf;
    smf.tempo(0, 500000);
    smf.program(0, 0, 80);
    smf.bend(0, 0, 1517); // about +37 cents: a period that is no whole number of samples
    smf.note_on(0, 0, 57, 100);
    smf.program(0, 1, 81);
    smf.note_on(0, 1, 70, 90);
    smf.note_off(seconds * 960, 0, 57);
    smf.note_off(seconds * 960, 1, 70);
    return smf.bytes();
}

// User waveforms replaced while notes play them: slot 80 is uploaded, played, then uploaded
// again with a different shape half a second in and again a second in.
inline std::vector<uint8_t> wave_upload_song() {
    SmfBuilder smf;
    smf.tempo(0, 500000);
    auto shape = [](int s) {
        return [s](int i) { return s == 0 ? (i < 16 ? 100 : -100) : (i * 8 - 128) * s / 2; };
    };
    smf.wave_upload(0, 80, shape(0));
    smf.wave_mode(0, 1);
    smf.note(10, 2400, 0, 69, 110);
    smf.note(10, 2400, 1, 45, 100);
    smf.wave_upload(480, 80, shape(1));
    smf.wave_upload(960, 80, shape(2));
    return smf.bytes();
}

// The small songs of the whole-program tests and the golden table, each a few seconds long:
// melodic voices with bends, controllers and tempo changes; the drum kit with rhythm-part
// switching and a burst that exhausts the voice pool; uploaded waveforms and GM System On; a
// minute of lead, bass and drums for tests that seek and play on.
// Channel messages as {tick, status, data1, data2}; a program change has no data2.
template <size_t N> void messages(SmfBuilder& track, const int (&list)[N][4]) {
    for (const auto& [tick, status, data1, data2] : list) {
        if ((status & 0xF0) == 0xC0)
            track.program(uint32_t(tick), status & 15, data1);
        else
            track.channel(uint32_t(tick), status, data1, data2);
    }
}

inline std::vector<uint8_t> melodic_song() {
    SmfBuilder conductor, lead, bass, pad;
    conductor.tempo(0, 500000);
    conductor.tempo(1920, 400000);
    conductor.tempo(2880, 650000);
    lead.program(0, 0, 0);
    lead.bend_range(0, 0, 7);
    lead.control(0, 0, 10, 40);
    const int arpeggio[] = {60, 64, 67, 72, 76, 79, 84, 72};
    for (uint32_t i = 0; i < 8; ++i)
        lead.note(i * 240, 200, 0, arpeggio[i], 100);
    for (int i = 0; i < 24; ++i)
        lead.bend(uint32_t(1920 + i * 40), 0, -8192 + i * 700);
    messages(lead, {{1920, 0x90, 69, 110}, {3000, 0x80, 69, 64}, {3000, 0xE0, 0, 64}});
    messages(bass, {{0, 0xC1, 38, 0}, {0, 0xB1, 7, 90}, {0, 0xB1, 10, 100}});
    const int line[] = {36, 43, 41, 38, 36, 31};
    for (uint32_t i = 0; i < 6; ++i)
        bass.note(i * 480, 420, 1, line[i], 120);
    messages(bass, {{960, 0xB1, 11, 70}, {1500, 0xB1, 11, 127}, {2200, 0xB1, 121, 0}});
    const int pad_events[][4] = {{0, 0xC2, 16, 0},     {240, 0xB2, 64, 127}, {240, 0x92, 55, 80},
                                 {240, 0x92, 59, 80},  {300, 0x92, 62, 80},  {900, 0x82, 55, 64},
                                 {900, 0x82, 59, 64},  {1400, 0xB2, 64, 0},  {1400, 0x82, 62, 64},
                                 {2400, 0xC2, 80, 0},  {2400, 0x92, 67, 90}, {2400, 0x92, 71, 90},
                                 {2600, 0xB2, 10, 0},  {2800, 0xB2, 123, 0}, {3200, 0x92, 74, 90},
                                 {3300, 0xB2, 120, 0}, {3400, 0x92, 50, 60}, {3600, 0x82, 50, 64}};
    messages(pad, pad_events);
    return SmfBuilder::file({&conductor, &lead, &bass, &pad}, 480);
}

inline std::vector<uint8_t> drum_song() {
    SmfBuilder kit, other, burst;
    kit.control(0, 9, 7, 110);
    const int pattern[] = {36, 42, 38, 42, 36, 46, 38, 49, 51, 45,
                           47, 48, 50, 41, 43, 37, 39, 54, 44, 30};
    for (uint32_t i = 0; i < 20; ++i)
        kit.note(i * 120, 60, 9, pattern[i], 60 + int(i * 17) % 68);
    const int kit_events[][4] = {{2400, 0xC9, 48, 0}, {2400, 0x99, 45, 100}, {2520, 0x99, 50, 100},
                                 {2640, 0xC9, 50, 0}, {2640, 0x99, 45, 127}, {2760, 0x99, 60, 127},
                                 {2880, 0xB9, 123, 0}};
    messages(kit, kit_events);
    // Channel 4 becomes a rhythm part, plays, and turns melodic again.
    for (int on : {1, 0})
        other.sysex(on ? 0 : 960, {0x41, 0x10, 0x42, 0x12, 0x40, 0x14, 0x15, uint8_t(on), 0, 0xF7});
    const int other_events[][4] = {{240, 0x93, 38, 120}, {480, 0x93, 36, 100},
                                   {480, 0x83, 36, 64},  {960, 0x93, 60, 90},
                                   {1200, 0x83, 60, 64}, {1300, 0xE3, 0x20, 95}};
    messages(other, other_events);
    for (int i = 0; i < 50; ++i) // a burst that exhausts the voice pool
        burst.note_on(uint32_t(3000 + i % 5), i % 16 == 9 ? 0 : i % 16, 40 + i, 90);
    burst.control(3500, 0, 123, 0);
    for (int ch = 0; ch < 16; ++ch)
        burst.control(3600, ch, 120, 0);
    return SmfBuilder::file({&kit, &other, &burst}, 480);
}

inline std::vector<uint8_t> wave_song() {
    SmfBuilder song;
    song.wave_upload(0, 0, [](int i) { return -128 + 8 * i; });
    song.wave_upload(0, 0x81, [](int i) { return i % 7 == 0 ? 127 : -100 + 5 * i; });
    song.wave_mode(0, 1);
    const int start[][4] = {{0, 0xC0, 0, 0},     {0, 0xC1, 1, 0},      {0, 0xC2, 2, 0},
                            {0, 0x90, 57, 100},  {480, 0x80, 57, 64},  {240, 0x91, 64, 100},
                            {720, 0x81, 64, 64}, {480, 0x92, 69, 100}, {960, 0x82, 69, 64}};
    messages(song, start);
    // Mode off: back to the instrument set; then GM System On resets everything but the banks.
    song.wave_mode(960, 0);
    messages(song, {{960, 0x90, 60, 100}, {1400, 0x80, 60, 64}, {1440, 0xC0, 33, 0}});
    song.sysex(1440, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
    messages(song, {{1440, 0x90, 62, 100}, {1900, 0x80, 62, 64}});
    song.wave_mode(1920, 1);
    messages(song, {{1920, 0xC3, 1, 0}, {1920, 0x93, 67, 100}, {2400, 0x83, 67, 64}});
    return SmfBuilder::file({&song}, 240);
}

inline std::vector<uint8_t> minute_song() {
    SmfBuilder conductor, lead, bass, kit;
    conductor.tempo(0, 500000);
    lead.program(0, 0, 80);
    bass.program(0, 1, 38);
    for (uint32_t beat = 0; beat < 120; ++beat) {
        const uint32_t t = beat * 480;
        lead.note(t, 400, 0, 60 + int(beat * 5 % 17), 100);
        if (beat % 2 == 0) bass.note(t, 900, 1, 36 + int(beat % 7), 110);
        kit.note(t, 120, 9, beat % 2 == 0 ? 36 : 38, 100);
    }
    return SmfBuilder::file({&conductor, &lead, &bass, &kit}, 480);
}

inline const std::pair<const char*, std::vector<uint8_t> (*)()> kTestSongs[] = {
    {"melodic", melodic_song}, {"drums", drum_song}, {"waves", wave_song}, {"minute", minute_song}};

inline bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace song_gen
