// File wrappers over the Windows file services and the module-level memory
// hooks (the Windows build's counterpart of platform_posix.cpp).
//
// A handle is the system's file handle; the system's invalid-handle value
// becomes null, so null always means "no file".
#ifdef _WIN32

#include <cstdint>

#include <windows.h>

#include "dispatch/platform.h"

namespace qrl {
namespace {

static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kSeekFromStart == FILE_BEGIN && kSeekFromCurrent == FILE_CURRENT);

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
    // Without the write bit the file must exist; with it the file is created
    // or truncated.
    const DWORD disposition = (access & kGenericWrite) != 0 ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE handle = CreateFileA(name, access, FILE_SHARE_READ, nullptr, disposition, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

int32_t close_file(void *handle) {
    if (handle == nullptr) {
        return 0;
    }
    return CloseHandle(handle) != 0 ? 1 : 0;
}

int32_t read_file(void *handle, void *buffer, uint32_t count, uint32_t *count_read) {
    // The service needs a place for the count even when the caller has none.
    DWORD done = 0;
    const int32_t ok = handle != nullptr && ReadFile(handle, buffer, count, &done, nullptr) != 0;
    if (count_read != nullptr) {
        *count_read = done;
    }
    return ok;
}

int32_t write_file(void *handle, const void *buffer, uint32_t count, uint32_t *count_written) {
    DWORD done = 0;
    const int32_t ok = handle != nullptr && WriteFile(handle, buffer, count, &done, nullptr) != 0;
    if (count_written != nullptr) {
        *count_written = done;
    }
    return ok;
}

int32_t seek_file(void *handle, int32_t distance, int32_t method) {
    if (handle == nullptr || method < FILE_BEGIN || method > FILE_END) {
        return 0;
    }
    // No high part: distances are 32-bit, as are the offsets the codec uses.
    return SetFilePointer(handle, distance, nullptr, static_cast<DWORD>(method)) ==
                   INVALID_SET_FILE_POINTER
               ? 0
               : 1;
}

} // namespace qrl

#endif // _WIN32
