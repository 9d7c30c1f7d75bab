// Heap helpers for buffers owned by the codec record. Every owned buffer
// comes from std::malloc and goes back through release(), which clears the
// caller's pointer so that releasing twice is harmless.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace qrl {

// Allocates `count` objects of T, uninitialised (a count of 0 still gives a
// valid one-object block). Null on failure or when the size overflows.
template <typename T>
[[nodiscard]] T *allocate(std::size_t count) {
    if (count == 0) {
        count = 1;
    }
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
        return nullptr;
    }
    return static_cast<T *>(std::malloc(count * sizeof(T)));
}

// Same, with every byte zero.
template <typename T>
[[nodiscard]] T *allocate_zeroed(std::size_t count) {
    return static_cast<T *>(std::calloc(count == 0 ? 1 : count, sizeof(T)));
}

// Frees the buffer and clears the pointer that held it.
template <typename T>
void release(T *&pointer) {
    std::free(const_cast<void *>(static_cast<const void *>(pointer)));
    pointer = nullptr;
}

} // namespace qrl
