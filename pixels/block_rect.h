// Block rectangles and the placement of an MCU's pixels in the caller's
// buffer, with clipping at the image edges and by the region of interest.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// {left, top, right, bottom}; right and bottom exclusive.
struct BLOCK_RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The empty rectangle. A rectangle is empty only when it equals this one
// field by field; touching rectangles intersect in a degenerate, non-empty
// rectangle that covers no pixel.
constexpr BLOCK_RECT EMPTY_RECT = {0, 0, 0, 0};

constexpr bool operator==(const BLOCK_RECT &a, const BLOCK_RECT &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
constexpr bool operator!=(const BLOCK_RECT &a, const BLOCK_RECT &b) { return !(a == b); }

constexpr BLOCK_RECT rect_intersect(const BLOCK_RECT &a, const BLOCK_RECT &b) {
    if (a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom) {
        return {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
    }
    return EMPTY_RECT;
}

// Moves a rectangle; the empty rectangle stays empty.
constexpr BLOCK_RECT rect_translate(const BLOCK_RECT &r, int32_t dx, int32_t dy) {
    if (r == EMPTY_RECT) return EMPTY_RECT;
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// Places a block of bw x bh pixels at MCU (column, row) of the output.
// Without a region (all roi fields 0) output position = image position; with
// one, the buffer holds only the region (origin = its top-left pixel).
// Writes the address of the block's top-left pixel and the visible part of the
// block (block coordinates). Returns JPEG_INVALID_PROPERTIES, writing
// nothing, when the block lies outside the region.
[[nodiscard]] int32_t place_block(const int32_t roi[4], int32_t bw, int32_t bh, int32_t column,
                                  int32_t row, int32_t channels, int32_t line_bytes,
                                  uint8_t *origin, int32_t width, int32_t height,
                                  uint8_t **address, BLOCK_RECT *visible);

// place_block with the record's output description.
[[nodiscard]] int32_t place_mcu_block(JPEG_PROPERTIES *props, int32_t bw, int32_t bh,
                                      int32_t column, int32_t row, int32_t channels,
                                      uint8_t **address, BLOCK_RECT *visible);

} // namespace qrl
