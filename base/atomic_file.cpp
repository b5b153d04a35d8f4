#include "base/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kNameAttempts = 100;
constexpr int kMaxLinkHops = 40; // as the kernel allows
// Leaves room for the temporary's decorations within a file name's 255 bytes.
constexpr int kNameStemLength = 200;

bool fail(int& error_number, int value) {
    error_number = value != 0 ? value : EIO;
    return false;
}

const char* name_of(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}

void folder_of(char (&out)[kPathCapacity], const char* path) {
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) {
        copy_bounded(out, ".");
    } else if (slash == path) {
        copy_bounded(out, "/");
    } else {
        const auto length = static_cast<size_t>(slash - path);
        memcpy(out, path, length);
        out[length] = '\0';
    }
}

// "DIR/.NAME.PID.part" beside `target`; later attempts add "-N" to the process id.
bool temporary_name(char (&out)[kPathCapacity], const char* target, int attempt) {
    const char* name = name_of(target);
    const int folder_length = static_cast<int>(name - target);
    const int pid = static_cast<int>(getpid());
    const int length = attempt == 0
                           ? snprintf(out, sizeof out, "%.*s.%.*s.%d.part", folder_length, target,
                                      kNameStemLength, name, pid)
                           : snprintf(out, sizeof out, "%.*s.%.*s.%d-%d.part", folder_length,
                                      target, kNameStemLength, name, pid, attempt);
    return length > 0 && static_cast<size_t>(length) < sizeof out;
}

// Where the data must go: a regular file's real path, or for a missing target the end of its
// chain of links (a dangling link names the file it will point to). `existing` gets the target's
// status when there is one.
bool resolve_target(AtomicFile& file, const char* target, struct stat& existing, bool& exists,
                    int& error_number) {
    exists = stat(target, &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) return fail(error_number, EISDIR);
        if (!S_ISREG(existing.st_mode)) {
            file.in_place = true;
            copy_bounded(file.target, target);
            return true;
        }
        char* real = realpath(target, nullptr);
        if (real == nullptr) return fail(error_number, errno);
        const bool fits = strlen(real) < sizeof file.target;
        copy_bounded(file.target, real);
        free(real);
        return fits || fail(error_number, ENAMETOOLONG);
    }
    if (errno != ENOENT) return fail(error_number, errno);
    char path[kPathCapacity];
    copy_bounded(path, target);
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info = {};
        if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) {
            copy_bounded(file.target, path);
            return true;
        }
        char link[kPathCapacity];
        const ssize_t length = readlink(path, link, sizeof link - 1);
        if (length < 0) return fail(error_number, errno);
        if (static_cast<size_t>(length) >= sizeof link - 1) return fail(error_number, ENAMETOOLONG);
        link[length] = '\0';
        if (link[0] == '/') {
            copy_bounded(path, link);
        } else {
            char folder[kPathCapacity];
            folder_of(folder, path);
            if (!join_path(path, folder, link)) return fail(error_number, ENAMETOOLONG);
        }
    }
    return fail(error_number, ELOOP);
}

// File systems without O_TMPFILE answer one of these.
bool lacks_anonymous_files(int error_number) {
    return error_number == EOPNOTSUPP || error_number == EISDIR || error_number == EINVAL;
}

// Gives the anonymous file a hidden name beside the target; rename() then replaces the target,
// which linkat() alone cannot.
bool link_anonymous(AtomicFile& file, int& error_number) {
    char proc_path[64];
    snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", file.fd);
    char name[kPathCapacity];
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!temporary_name(name, file.target, attempt)) return fail(error_number, ENAMETOOLONG);
        int result = linkat(AT_FDCWD, proc_path, AT_FDCWD, name, AT_SYMLINK_FOLLOW);
        // Without /proc only a privileged process may link the descriptor itself.
        if (result != 0 && errno == ENOENT && access("/proc/self/fd", X_OK) != 0)
            result = linkat(file.fd, "", AT_FDCWD, name, AT_EMPTY_PATH);
        if (result == 0) {
            copy_bounded(file.temporary, name);
            return true;
        }
        if (errno != EEXIST) return fail(error_number, errno);
    }
    return fail(error_number, EEXIST);
}

bool open_named(AtomicFile& file, int& error_number) {
    char name[kPathCapacity];
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!temporary_name(name, file.target, attempt)) return fail(error_number, ENAMETOOLONG);
        file.fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (file.fd >= 0) {
            copy_bounded(file.temporary, name);
            return true;
        }
        if (errno != EEXIST) return fail(error_number, errno);
    }
    return fail(error_number, EEXIST);
}

} // namespace

bool atomic_file_open(AtomicFile& file, const char* target, int& error_number, TemporaryKind kind) {
    file = AtomicFile{};
    if (target == nullptr || target[0] == '\0') return fail(error_number, ENOENT);
    if (strnlen(target, kPathCapacity) >= kPathCapacity) return fail(error_number, ENAMETOOLONG);
    struct stat existing = {};
    bool exists = false;
    if (!resolve_target(file, target, existing, exists, error_number)) return false;
    if (file.in_place) {
        file.fd = open(file.target, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
        return file.fd >= 0 || fail(error_number, errno);
    }
    if (name_of(file.target)[0] == '\0') return fail(error_number, EISDIR);
    if (kind == TemporaryKind::kAnonymousFirst) {
        char folder[kPathCapacity];
        folder_of(folder, file.target);
        file.fd = open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        file.anonymous = file.fd >= 0;
        if (file.fd < 0 && !lacks_anonymous_files(errno)) return fail(error_number, errno);
    }
    if (file.fd < 0 && !open_named(file, error_number)) return false;
    // As if the old file had been overwritten; a new one gets 0666 less the umask.
    if (exists) (void)fchmod(file.fd, existing.st_mode & 0777);
    return true;
}

FILE* atomic_file_stream(const AtomicFile& file, int& error_number) {
    const int copy = fcntl(file.fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        fail(error_number, errno);
        return nullptr;
    }
    FILE* stream = fdopen(copy, "wb");
    if (stream == nullptr) {
        fail(error_number, errno);
        close(copy);
    }
    return stream;
}

bool atomic_file_commit(AtomicFile& file, int& error_number) {
    if (file.fd < 0) return fail(error_number, EBADF);
    if (file.in_place) {
        const int result = close(file.fd);
        const int close_error = errno;
        file = AtomicFile{};
        return result == 0 || fail(error_number, close_error);
    }
    // The data must be on disk before the name points at it.
    int error = 0;
    if (fsync(file.fd) != 0) {
        error = errno;
    } else if (file.anonymous) {
        link_anonymous(file, error);
    } else {
        // Some file systems report write errors only at close.
        if (close(file.fd) != 0) error = errno;
        file.fd = -1;
    }
    if (error == 0 && rename(file.temporary, file.target) != 0) error = errno;
    if (error != 0) {
        atomic_file_abandon(file);
        return fail(error_number, error);
    }
    if (file.fd >= 0) close(file.fd);
    file = AtomicFile{};
    return true;
}

void atomic_file_abandon(AtomicFile& file) noexcept {
    if (file.fd >= 0) close(file.fd);
    if (file.temporary[0] != '\0') unlink(file.temporary);
    file = AtomicFile{};
}

bool write_file_atomically(const char* target, const void* data, size_t size, int& error_number) {
    AtomicFile file;
    if (!atomic_file_open(file, target, error_number)) return false;
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(file.fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            fail(error_number, written < 0 ? errno : EIO);
            atomic_file_abandon(file);
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return atomic_file_commit(file, error_number);
}

bool same_file(const char* a, const char* b) {
    struct stat first = {};
    struct stat second = {};
    return a != nullptr && b != nullptr && stat(a, &first) == 0 && stat(b, &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
