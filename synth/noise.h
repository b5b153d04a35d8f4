// The noise drums' random source: the sequence the C library's rand() gives from seed 1 (its
// additive feedback generator over a 31-word state), but owned by one engine instead of shared
// by the whole process behind a hidden lock.
#pragma once

#include <cstdint>

class NoiseGenerator {
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
    int32_t next() noexcept { return static_cast<int32_t>(step() >> 1); }

  private:
    static constexpr int kDegree = 31;
    static constexpr int kSeparation = 3;
    static constexpr int kRing = kDegree + kSeparation; // holds r[i - 31] and r[i - 3]

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
};
