// Text in fixed buffers: paths of up to 4095 characters and one-line messages.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

constexpr size_t kPathCapacity = 4096;

// Copies `text` into `out`, cut to fit with its terminator; a null text copies as empty.
// Returns the length copied.
template <size_t N> size_t copy_bounded(char (&out)[N], const char* text) noexcept {
    static_assert(N > 0);
    const size_t length = text == nullptr ? 0 : strnlen(text, N - 1);
    memcpy(out, text == nullptr ? "" : text, length);
    out[length] = '\0';
    return length;
}

// "dir/name" into `out`. False, with `out` empty, when the result is empty or would not fit: a
// cut path would name some other file.
template <size_t N> bool join_path(char (&out)[N], const char* dir, const char* name) noexcept {
    const int length = snprintf(out, N, "%s/%s", dir, name);
    if (length < 1 || static_cast<size_t>(length) >= N) {
        out[0] = '\0';
        return false;
    }
    return true;
}
