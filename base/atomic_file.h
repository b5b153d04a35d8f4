// Files written whole or not at all: the data goes to a temporary in the target's folder, which
// takes the target's name only when complete. Standard library and POSIX (Linux) only.
#pragma once

#include <cstddef>
#include <cstdio>

#include "base/bounded_text.h"

// How the temporary is made. An anonymous one (O_TMPFILE) cannot outlive the process, so
// nothing is left even when the process dies without running our code; a named one
// (".NAME.PID.part", hidden) is the fallback where the file system has no O_TMPFILE.
enum class TemporaryKind { kAnonymousFirst, kNamed };

struct AtomicFile {
    int fd = -1;
    bool anonymous = false; // no name until the commit links it in
    bool in_place = false;  // the target is a device or a FIFO: written directly, never renamed
    char target[kPathCapacity] = {};    // where the file ends up, symbolic links followed
    char temporary[kPathCapacity] = {}; // the temporary's name while it has one
};

// Opens a temporary for `target`; the target itself is untouched. An existing target keeps its
// permission bits. False, with `error_number` set, when no temporary could be made.
bool atomic_file_open(AtomicFile& file, const char* target, int& error_number,
                      TemporaryKind kind = TemporaryKind::kAnonymousFirst);

// A buffered stream on a duplicate of the descriptor; the caller closes it before committing.
FILE* atomic_file_stream(const AtomicFile& file, int& error_number);

// Puts the data on disk and the file in place of the target. False, with `error_number` set,
// when that failed: the target is then untouched and the temporary gone. Closes either way.
bool atomic_file_commit(AtomicFile& file, int& error_number);

// Drops the temporary and closes; harmless when nothing is open.
void atomic_file_abandon(AtomicFile& file) noexcept;

// `size` bytes of `data` as the new contents of `target`.
bool write_file_atomically(const char* target, const void* data, size_t size, int& error_number);

// True when both paths name one existing file (links followed, hard links included).
bool same_file(const char* a, const char* b);
