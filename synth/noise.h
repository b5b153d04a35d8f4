// The noise drums' random source: the sequence the C library's rand() gives from seed 1 (its
// additive feedback generator over a 31-word state), but owned by one engine instead of shared
// by the whole process behind a hidden lock.
#pragma once

#include <cstdint>

class NoiseGenerator {
    static constexpr int kDegree = 31;
    static constexpr int kSeparation = 3;
    static constexpr int kRing = kDegree + kSeparation; // holds r[i - 31] and r[i - 3]

  public:
    NoiseGenerator() noexcept {
        constexpr int64_t kModulus = 2147483647; // 2^31 - 1
        int64_t word = 1;
        words_[0] = 1;
        for (int i = 1; i < kDegree; ++i) {
            word = 16807 * word % kModulus;
            words_[i] = static_cast<uint32_t>(word);
        }
        for (int i = kDegree; i < kRing; ++i) {
            words_[i] = words_[i - kDegree];
        }
        // The first 310 results after seeding are thrown away.
        for (int i = 0; i < 310; ++i) {
            step();
        }
    }

    // The next value, 0 to 2^31 - 1.
    int32_t next() noexcept {
        ++drawn_;
        return static_cast<int32_t>(step() >> 1);
    }
    // Values drawn since construction.
    uint64_t drawn() const noexcept { return drawn_; }

    // The words obey a linear recurrence modulo 2^32, so any later word is a fixed weighted sum
    // of the 31 words the next draw starts from. Working out the weights takes some thousand
    // multiplications per doubling of the distance but no state; using them takes 31. That
    // lets a seek draw on a copy and later move the shared generator on in microseconds.
    struct Leap {
        int64_t word = 0; // counted from the next draw's word (0); below 0: one still in the ring
        uint32_t weights[kDegree] = {};
    };
    // For the `draw`-th value from now (1: what next() would give), from any state.
    static Leap leap(uint64_t draw) noexcept {
        return leap_to_word(static_cast<int64_t>(draw) - 1);
    }
    // That value, without drawing.
    int32_t peek(const Leap& leap) const noexcept { return static_cast<int32_t>(word(leap) >> 1); }

    struct Skip {
        uint64_t draws = 0;
        Leap words[kRing]; // the ring after the skip, oldest word first
    };
    static void plan_skip(uint64_t draws, Skip& plan) noexcept;
    // The state `plan.draws` calls of next() would leave, without making them.
    void skip(const Skip& plan) noexcept;

    bool operator==(const NoiseGenerator&) const = default;

  private:
    static Leap leap_to_word(int64_t word) noexcept;
    uint32_t word(const Leap& leap) const noexcept;

    uint32_t step() noexcept {
        // r[i] = r[i - 31] + r[i - 3] modulo 2^32, on a ring of the last 34 words.
        const uint32_t word = words_[(next_ + kRing - kDegree) % kRing] +
                              words_[(next_ + kRing - kSeparation) % kRing];
        words_[next_] = word;
        next_ = (next_ + 1) % kRing;
        return word;
    }

    uint32_t words_[kRing] = {};
    int next_ = 0; // ring slot of the next word, r[34] first
    uint64_t drawn_ = 0;
};
