// The wavetable oscillator: box-filtered samples of a voice's cycle, with what can be carried
// from one sample, and one stretch, to the next.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "synth/synth_state.h"

// Up to this many frames are rendered voice by voice before they are mixed.
constexpr uint32_t kChunkFrames = 64;

// Positions in a cycle are fixed point: kStepUnits per table sample, kCycleUnits per cycle.
// Masks and shifts stand for % and / on them, so both are powers of two.
constexpr int kStepBits = 10;
constexpr int kCycleBits = 15;
constexpr int64_t kStepUnits = int64_t{1} << kStepBits;
constexpr int64_t kCycleUnits = int64_t{1} << kCycleBits;
constexpr int kWaveMask = kWaveLength - 1;
static_assert(kCycleUnits == kStepUnits * kWaveLength, "a cycle is the whole table");
static_assert((kWaveLength & kWaveMask) == 0, "the table index is masked");

// Sample counters below this are exact as floats.
constexpr uint32_t kFloatExactCounters = uint32_t{1} << std::numeric_limits<float>::digits;
static_assert(kFloatExactCounters == 16777216u);

// Integral of the piecewise-constant cycle over [0, u) in step units, for any u: the box
// filter's sum is the difference of two of these.
struct CycleIntegral {
    static constexpr int64_t kTwoCycles = 2 * kCycleUnits;
    int64_t start[2 * kWaveLength + 1]; // integral up to the start of each step, two cycles

    void build(const int32_t* table) noexcept {
        start[0] = 0;
        for (int i = 0; i < 2 * kWaveLength; ++i) {
            start[i + 1] = start[i] + static_cast<int64_t>(table[i & kWaveMask]) * kStepUnits;
        }
    }
    int64_t operator()(const int32_t* table, int64_t u) const noexcept {
        const int64_t in_cycle = u & (kCycleUnits - 1);
        const int64_t step = in_cycle >> kStepBits;
        return (u >> kCycleBits) * start[kWaveLength] + start[step] +
               table[step] * (in_cycle & (kStepUnits - 1));
    }
    // The same for 0 <= u < kTwoCycles, where a sample's stretch lies inside a steady run.
    int64_t near(const int32_t* table, int64_t u) const noexcept {
        const int64_t step = u >> kStepBits;
        return start[step] + table[step & kWaveMask] * (u & (kStepUnits - 1));
    }
};

// edge[i] = trunc((first + i) / period * kCycleUnits) for i < n, for dividends that are exact and
// results that fit 32 bits: two IEEE divisions per instruction where SSE2 is there, the same
// correctly rounded results as one at a time.
inline void cycle_positions(double first, double period, uint32_t n, int32_t* edge) noexcept {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128d divisor = _mm_set1_pd(period);
    const __m128d steps = _mm_set1_pd(static_cast<double>(kCycleUnits));
    const __m128d two = _mm_set1_pd(2.0);
    __m128d dividend = _mm_set_pd(first + 1.0, first);
    for (; i + 2 <= n; i += 2) {
        const __m128d position = _mm_mul_pd(_mm_div_pd(dividend, divisor), steps);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(edge + i), _mm_cvttpd_epi32(position));
        dividend = _mm_add_pd(dividend, two);
    }
#endif
    for (; i < n; ++i) {
        edge[i] = static_cast<int32_t>((first + static_cast<double>(i)) / period *
                                       static_cast<double>(kCycleUnits));
    }
}

// The wavetable oscillator of one voice, with what can be carried from one sample to the next.
// Every value it returns is exactly the box-filtered average of the sample's stretch of the
// cycle.
struct Oscillator {
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN(); // equals nothing
    const int32_t* table = nullptr;
    CycleIntegral integral;
    double period = kNone;     // the period the carried edge belongs to
    double next_d = kNone;     // d + 1 of the previous sample
    int64_t next_position = 0; // its position in the cycle
    int64_t next_sum = 0;      // the cycle's integral up to that position

    void reset(const int32_t* wave) noexcept {
        table = wave;
        integral.build(wave);
        period = kNone;
        next_d = kNone;
    }

    // The position of `dividend` in the cycle, in step units.
    int64_t position(double dividend) const noexcept {
        return static_cast<int64_t>(dividend / period * static_cast<double>(kCycleUnits));
    }

    void set_period(float voice_period) noexcept {
        const double current = voice_period;
        if (!(current == period)) {
            period = current;
            next_d = kNone;
        }
    }

    // The average over [start, end) in step units, given the integrals up to both ends.
    float average(int64_t start, int64_t end, int64_t sum_to_start, int64_t sum_to_end) noexcept {
        const int64_t w = end - start;
        if (w <= 1) {
            return static_cast<float>(table[(start >> kStepBits) & kWaveMask]);
        }
        const int64_t acc = sum_to_end - sum_to_start;
        return static_cast<float>(static_cast<double>(acc) / static_cast<double>(w));
    }

    float sample(uint32_t phase_counter, float period_start, float voice_period) noexcept {
        const double d = static_cast<double>(phase_counter) - static_cast<double>(period_start);
        set_period(voice_period);
        // The previous sample ended where this one starts: same dividend, same position.
        int64_t p = next_position;
        int64_t sum_to_p = next_sum;
        if (!(d == next_d)) {
            p = position(d);
            sum_to_p = integral(table, p);
        }
        next_d = d + 1.0;
        next_position = position(next_d);
        next_sum = integral(table, next_position);
        return average(p, next_position, sum_to_p, next_sum);
    }

    // `frames` consecutive samples from `phase_counter` within one period, the same values
    // `sample` gives one by one. Below 2^24 every d is exact and d + 1 is the next sample's d,
    // so each sample's end is the next one's start; the edges are found first, in one pass.
    void fill(uint32_t phase_counter, float period_start, float voice_period, uint32_t frames,
              float* out) noexcept {
        const double d = static_cast<double>(phase_counter) - static_cast<double>(period_start);
        // Positions of the run stay well inside 32 bits (below 2^30).
        const bool fits = std::fabs(d) + static_cast<double>(frames) + 1.0 <
                          static_cast<double>(voice_period) * static_cast<double>(kCycleUnits);
        constexpr auto kExact = static_cast<float>(kFloatExactCounters);
        if (!(period_start == 0.0f || (period_start >= 1.0f && period_start < kExact)) ||
            phase_counter + frames >= kFloatExactCounters || !fits) {
            for (uint32_t i = 0; i < frames; ++i) {
                out[i] = sample(phase_counter + i, period_start, voice_period);
            }
            return;
        }
        set_period(voice_period);
        int32_t edge[kChunkFrames + 1];
        int64_t sum = next_sum;
        if (d == next_d) {
            edge[0] = static_cast<int32_t>(next_position);
        } else {
            edge[0] = static_cast<int32_t>(position(d));
            sum = integral(table, edge[0]);
        }
        cycle_positions(d + 1.0, period, frames, edge + 1);
        // Edges only grow; inside the first two cycles the integral needs no cycle count.
        if (edge[0] >= 0 && edge[frames] < CycleIntegral::kTwoCycles) {
            for (uint32_t i = 0; i < frames; ++i) {
                const int64_t sum_to_end = integral.near(table, edge[i + 1]);
                out[i] = average(edge[i], edge[i + 1], sum, sum_to_end);
                sum = sum_to_end;
            }
        } else {
            for (uint32_t i = 0; i < frames; ++i) {
                const int64_t sum_to_end = integral(table, edge[i + 1]);
                out[i] = average(edge[i], edge[i + 1], sum, sum_to_end);
                sum = sum_to_end;
            }
        }
        next_d = d + static_cast<double>(frames);
        next_position = edge[frames];
        next_sum = sum;
    }
};

// Each voice's oscillator, kept from one stretch to the next within a render call. What it
// carries depends only on its wave's contents, so it stays good while the voice plays the same
// table and no SysEx message (which may upload a wave) has been applied.
struct OscillatorCache {
    Oscillator voice[kVoiceCount];

    Oscillator& get(int index, const int32_t* wave) noexcept {
        Oscillator& osc = voice[index];
        if (osc.table != wave) {
            osc.reset(wave);
        }
        return osc;
    }
    void forget() noexcept {
        for (Oscillator& osc : voice) {
            osc.table = nullptr;
        }
    }
};
