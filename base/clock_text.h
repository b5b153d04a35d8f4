// Times as a listener reads them: whole seconds as "m:ss", or "h:mm:ss" from an hour on.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>

struct ClockText {
    char text[24] = {};
};

// Seconds are counted down to the whole second, so a clock never shows a second that has not
// fully passed; negative, NaN and absurd values show 0:00 or the largest clock.
inline ClockText clock_text(double seconds) noexcept {
    ClockText clock;
    const double whole = std::isnan(seconds) || seconds < 0.0 ? 0.0 : std::floor(seconds);
    const auto total = static_cast<int64_t>(std::fmin(whole, 3599999.0)); // 999:59:59
    const int64_t hours = total / 3600, minutes = total / 60 % 60, secs = total % 60;
    if (hours > 0) {
        std::snprintf(clock.text, sizeof clock.text, "%lld:%02lld:%02lld",
                      static_cast<long long>(hours), static_cast<long long>(minutes),
                      static_cast<long long>(secs));
    } else {
        std::snprintf(clock.text, sizeof clock.text, "%lld:%02lld", static_cast<long long>(minutes),
                      static_cast<long long>(secs));
    }
    return clock;
}

// Frames at `rate` as seconds; 0 without a rate.
inline double frames_to_seconds(uint64_t frames, int64_t rate) noexcept {
    return rate > 0 ? static_cast<double>(frames) / static_cast<double>(rate) : 0.0;
}
