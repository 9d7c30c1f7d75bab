// File wrappers over POSIX descriptors and the module-level memory hooks.
//
// A file handle is the descriptor plus one, stored in the pointer, so that
// descriptor 0 is a valid handle and null always means "no file".
#ifndef _WIN32 // the Windows build uses platform_win32.cpp

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include "dispatch/platform.h"

namespace qrl {
namespace {

int descriptor_of(void *handle) {
    return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
}

void *handle_of(int descriptor) {
    return reinterpret_cast<void *>(static_cast<intptr_t>(descriptor) + 1);
}

// Copies byte by byte in ascending address order, so an overlapping copy to a
// higher address repeats the leading bytes (callers may rely on that).
void copy_bytes_ascending(void *destination, const void *source, uint32_t count) {
    auto *to = static_cast<uint8_t *>(destination);
    const auto *from = static_cast<const uint8_t *>(source);
    for (uint32_t i = 0; i < count; ++i) {
        to[i] = from[i];
    }
}

int32_t zero_bytes(void *destination, uint32_t count) {
    auto *to = static_cast<uint8_t *>(destination);
    for (uint32_t i = 0; i < count; ++i) {
        to[i] = 0;
    }
    return 0;
}

} // namespace

CopyMemoryFn copy_memory = copy_bytes_ascending;
ZeroMemoryFn zero_memory = zero_bytes;

void install_memory_hooks() {
    copy_memory = copy_bytes_ascending;
    zero_memory = zero_bytes;
}

void *open_file(const char *name, uint32_t access) {
    if (name == nullptr) {
        return nullptr;
    }
    int flags = O_CLOEXEC;
    if ((access & kGenericWrite) != 0) {
        // Writing always starts a new file: create it or truncate it.
        flags |= ((access & kGenericRead) != 0 ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    } else {
        flags |= O_RDONLY;
    }
    int descriptor;
    do {
        descriptor = ::open(name, flags, 0666);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor < 0 ? nullptr : handle_of(descriptor);
}

int32_t close_file(void *handle) {
    if (handle == nullptr) {
        return 0;
    }
    // close() is not retried on EINTR: on Linux the descriptor is gone anyway.
    return ::close(descriptor_of(handle)) == 0 ? 1 : 0;
}

int32_t read_file(void *handle, void *buffer, uint32_t count, uint32_t *count_read) {
    uint32_t done = 0;
    int32_t ok = handle != nullptr ? 1 : 0;
    // Like the system call it stands in for, a read ends early only at the
    // end of the file or on an error, never because the kernel split it.
    while (ok != 0 && done < count) {
        const ssize_t n = ::read(descriptor_of(handle), static_cast<uint8_t *>(buffer) + done,
                                 count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = 0;
        } else if (n == 0) {
            break;
        } else {
            done += static_cast<uint32_t>(n);
        }
    }
    if (count_read != nullptr) {
        *count_read = done;
    }
    return ok;
}

int32_t write_file(void *handle, const void *buffer, uint32_t count, uint32_t *count_written) {
    uint32_t done = 0;
    int32_t ok = handle != nullptr ? 1 : 0;
    while (ok != 0 && done < count) {
        const ssize_t n = ::write(descriptor_of(handle),
                                  static_cast<const uint8_t *>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = 0;
        } else if (n == 0) {
            ok = 0;
        } else {
            done += static_cast<uint32_t>(n);
        }
    }
    if (count_written != nullptr) {
        *count_written = done;
    }
    return ok;
}

int32_t seek_file(void *handle, int32_t distance, int32_t method) {
    if (handle == nullptr) {
        return 0;
    }
    int whence;
    switch (method) {
    case kSeekFromStart: whence = SEEK_SET; break;
    case kSeekFromCurrent: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default: return 0;
    }
    return ::lseek(descriptor_of(handle), static_cast<off_t>(distance), whence) < 0 ? 0 : 1;
}

} // namespace qrl

#endif // !_WIN32
