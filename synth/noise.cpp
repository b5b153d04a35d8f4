#include "synth/noise.h"

#include <algorithm>
#include <array>
#include <bit>

namespace {

// Polynomials in x of degree below 31 modulo x^31 - x^28 - 1, the recurrence's own: x stands
// for "one word later", so x^k reduced gives the weights of the word k places on.
constexpr int kTerms = 31;
using Poly = std::array<uint32_t, kTerms>;

Poly times_x(const Poly& a) {
    Poly out{};
    for (int j = 0; j + 1 < kTerms; ++j) {
        out[j + 1] = a[j];
    }
    // x^31 = x^28 + 1
    out[0] += a[kTerms - 1];
    out[28] += a[kTerms - 1];
    return out;
}

Poly square(const Poly& a) {
    uint32_t product[2 * kTerms - 1] = {};
    for (int i = 0; i < kTerms; ++i) {
        for (int j = 0; j < kTerms; ++j) {
            product[i + j] += a[i] * a[j];
        }
    }
    for (int d = 2 * kTerms - 2; d >= kTerms; --d) {
        product[d - 3] += product[d];
        product[d - kTerms] += product[d];
    }
    Poly out{};
    std::copy(product, product + kTerms, out.begin());
    return out;
}

Poly power_of_x(uint64_t exponent) {
    Poly result{};
    result[0] = 1;
    for (int bit = 63 - std::countl_zero(exponent); bit >= 0; --bit) {
        result = square(result);
        if ((exponent >> bit & 1) != 0) {
            result = times_x(result);
        }
    }
    return result;
}

} // namespace

NoiseGenerator::Leap NoiseGenerator::leap_to_word(int64_t word) noexcept {
    Leap leap;
    leap.word = word;
    if (word >= 0) {
        // Counted from the oldest of the 31 words the next draw reads.
        const Poly weights = power_of_x(static_cast<uint64_t>(word) + kDegree);
        std::copy(weights.begin(), weights.end(), leap.weights);
    }
    return leap;
}

uint32_t NoiseGenerator::word(const Leap& leap) const noexcept {
    if (leap.word < 0) {
        return words_[(next_ + kRing + leap.word) % kRing];
    }
    uint32_t sum = 0;
    for (int j = 0; j < kDegree; ++j) {
        sum += leap.weights[j] * words_[(next_ + kSeparation + j) % kRing];
    }
    return sum;
}

void NoiseGenerator::plan_skip(uint64_t draws, Skip& plan) noexcept {
    plan.draws = draws;
    const int64_t oldest = static_cast<int64_t>(draws) - kRing;
    int q = 0;
    for (; q < kRing && oldest + q < 0; ++q) {
        plan.words[q] = leap_to_word(oldest + q);
    }
    if (q == kRing) {
        return;
    }
    plan.words[q] = leap_to_word(oldest + q);
    for (++q; q < kRing; ++q) {
        Poly weights;
        std::copy(std::begin(plan.words[q - 1].weights), std::end(plan.words[q - 1].weights),
                  weights.begin());
        weights = times_x(weights);
        plan.words[q].word = oldest + q;
        std::copy(weights.begin(), weights.end(), plan.words[q].weights);
    }
}

void NoiseGenerator::skip(const Skip& plan) noexcept {
    uint32_t words[kRing];
    for (int q = 0; q < kRing; ++q) {
        words[q] = word(plan.words[q]);
    }
    // Where stepping would have put each word, so the result equals the stepped state.
    const int first = static_cast<int>((static_cast<uint64_t>(next_) + plan.draws) % kRing);
    for (int q = 0; q < kRing; ++q) {
        words_[(first + q) % kRing] = words[q];
    }
    next_ = first;
    drawn_ += plan.draws;
}
