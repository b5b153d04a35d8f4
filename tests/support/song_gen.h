// Builds the Standard MIDI Files that the engine benchmark and the exactness tests play:
// a stress song that keeps every voice of the pool sounding, and a dense ordinary song with
// drums, bass, chords, lead and tempo changes. Deterministic: the same bytes on every run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace song_gen {

constexpr uint32_t kDivision = 480;

// A small linear congruential generator: the C library's rand() belongs to the drums.
// A MIDI variable-length quantity: seven bits per byte, most significant first.
inline void put_vlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1)
        out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

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

// Collects timed events of one track and writes a format-0 file.
class SmfBuilder {
  public:
    void add(uint32_t tick, std::vector<uint8_t> bytes) {
        events_.push_back({tick, order_++, std::move(bytes)});
    }
    void channel(uint32_t tick, uint8_t status, uint8_t data1, uint8_t data2) {
        add(tick, {status, static_cast<uint8_t>(data1 & 0x7F), static_cast<uint8_t>(data2 & 0x7F)});
    }
    void program(uint32_t tick, int ch, int program) {
        add(tick, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(program & 0x7F)});
    }
    void note_on(uint32_t tick, int ch, int note, int velocity) {
        channel(tick, static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(note),
                static_cast<uint8_t>(velocity));
    }
    void note_off(uint32_t tick, int ch, int note) {
        channel(tick, static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(note), 64);
    }
    void note(uint32_t tick, uint32_t length, int ch, int note, int velocity) {
        note_on(tick, ch, note, velocity);
        note_off(tick + length, ch, note);
    }
    void control(uint32_t tick, int ch, int controller, int value) {
        channel(tick, static_cast<uint8_t>(0xB0 | ch), static_cast<uint8_t>(controller),
                static_cast<uint8_t>(value));
    }
    void bend(uint32_t tick, int ch, int value) { // -8192..8191
        const int raw = std::clamp(value + 8192, 0, 16383);
        channel(tick, static_cast<uint8_t>(0xE0 | ch), static_cast<uint8_t>(raw & 0x7F),
                static_cast<uint8_t>(raw >> 7));
    }
    void bend_range(uint32_t tick, int ch, int semitones) {
        control(tick, ch, 101, 0);
        control(tick, ch, 100, 0);
        control(tick, ch, 6, semitones);
    }
    void tempo(uint32_t tick, uint32_t us_per_quarter) {
        add(tick,
            {0xFF, 0x51, 0x03, static_cast<uint8_t>(us_per_quarter >> 16),
             static_cast<uint8_t>(us_per_quarter >> 8), static_cast<uint8_t>(us_per_quarter)});
    }

    std::vector<uint8_t> bytes() const {
        std::vector<const Event*> sorted;
        for (const Event& e : events_)
            sorted.push_back(&e);
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Event* a, const Event* b) { return a->tick < b->tick; });
        std::vector<uint8_t> track;
        uint32_t last = 0;
        for (const Event* e : sorted) {
            put_vlq(track, e->tick - last);
            last = e->tick;
            track.insert(track.end(), e->bytes.begin(), e->bytes.end());
        }
        put_vlq(track, 0);
        track.insert(track.end(), {0xFF, 0x2F, 0x00});

        std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
        put_be16(file, kDivision);
        file.insert(file.end(), {'M', 'T', 'r', 'k'});
        put_be32(file, static_cast<uint32_t>(track.size()));
        file.insert(file.end(), track.begin(), track.end());
        return file;
    }

  private:
    struct Event {
        uint32_t tick;
        uint32_t order;
        std::vector<uint8_t> bytes;
    };
    // Byte by byte: g++ 12 at -O3 misreads inserts of short initializer lists as overflows.
    static void put_be16(std::vector<uint8_t>& out, uint32_t v) {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    }
    static void put_be32(std::vector<uint8_t>& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    }
    std::vector<Event> events_;
    uint32_t order_ = 0;
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
        for (int note : notes) {
            smf.note_on(0, ch, note, 70 + (note % 50));
        }
        // Each channel moves one controller every 16 ticks (about 17 ms), taking turns.
        const uint32_t phase = static_cast<uint32_t>(index) * 3;
        for (uint32_t tick = 16 + phase, turn = 0; tick < end; tick += 16, ++turn) {
            switch (turn % 3) {
            case 0:
                smf.bend(tick, ch, sweep(tick, 1920 + index * 64, -8192, 8191));
                break;
            case 1:
                smf.control(tick, ch, 11, sweep(tick, 2880 + index * 96, 30, 127));
                break;
            default:
                smf.control(tick, ch, 10, sweep(tick, 3840 + index * 32, 0, 127));
                break;
            }
        }
        for (int note : notes) {
            smf.note_off(end, ch, note);
        }
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

    smf.add(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}); // General MIDI System On
    smf.program(0, 0, 38);                                  // bass
    smf.program(0, 1, 16);                                  // chords: attack, then hold
    smf.program(0, 2, 80);                                  // lead
    smf.program(0, 3, 81);                                  // arpeggio
    smf.program(0, 4, 48);                                  // pad
    smf.program(0, 5, 0);                                   // piano stabs: decaying sustain
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
            for (uint32_t i = 0; i < 4; ++i) {
                smf.note(bar_tick + (12 + i) * k16th, 60, 9, kToms[i], 100);
            }
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
        for (uint32_t s = 0; s < 16; ++s) {
            smf.note(bar_tick + s * k16th, k16th - 5, 3, chord[s % 4] + 12, 80);
        }

        // Pad: a long note every two bars, pan and expression sweeping.
        if (bar % 2 == 0) smf.note(bar_tick, 2 * kBar - 60, 4, root + 7, 90);
        for (uint32_t s = 0; s < 16; s += 2) {
            smf.control(bar_tick + s * k16th, 4, 10,
                        sweep(bar_tick + s * k16th, 4 * kBar, 10, 117));
            smf.control(bar_tick + s * k16th + 5, 4, 11,
                        sweep(bar_tick + s * k16th, kBar, 60, 127));
        }

        // Piano stabs on the off-beats.
        if (bar % 2 == 1) {
            for (uint32_t e = 1; e < 8; e += 2) {
                smf.note(bar_tick + e * kDivision / 2, k16th, 5, root + 24, 100);
                smf.note(bar_tick + e * kDivision / 2, k16th, 5, root + 28, 100);
            }
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
    auto upload = [&smf](uint32_t tick, int slot, int shape) {
        std::vector<uint8_t> bytes = {
            0xF0, 40, 0x77, 0x10, 0x42, 0x12, 0xF1, static_cast<uint8_t>(slot), 0x00};
        for (int i = 0; i < 32; ++i) {
            const int sample = shape == 0 ? (i < 16 ? 100 : -100) : (i * 8 - 128) * shape / 2;
            bytes.push_back(static_cast<uint8_t>(sample));
        }
        bytes.push_back(0xF7);
        smf.add(tick, bytes);
    };
    upload(0, 80, 0);
    smf.add(0, {0xF0, 9, 0x77, 0x10, 0x42, 0x12, 0xF0, 0x00, 0x00, 0x01, 0xF7}); // mode on
    smf.note(10, 2400, 0, 69, 110);
    smf.note(10, 2400, 1, 45, 100);
    upload(480, 80, 1);
    upload(960, 80, 2);
    return smf.bytes();
}

inline bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace song_gen
