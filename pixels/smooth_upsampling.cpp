#include "pixels/smooth_upsampling.h"

#include <cstring>

namespace qrl {
namespace {

inline int32_t clamp_to(int32_t v, int32_t hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

// Ring row of MCU row r: four rows rotate, so the rows above, at and below the
// MCU being output never share storage with the row being stored.
inline int16_t *ring_row(NEIGHBOUR_RING *ring, int32_t row) { return ring->rows[row & 3]; }

// Start of the slot of MCU column `column` (slot column + 1), or null when
// the ring row is too short for it.
int16_t *ring_slot(const JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t stride) {
    NEIGHBOUR_RING *ring = props->neighbour_ring;
    if (ring == nullptr || column < 0 || stride <= 0) return nullptr;
    const int64_t first = static_cast<int64_t>(column + 1) * stride;
    if (first + stride > props->neighbour_ring_blocks) return nullptr;
    int16_t *base = ring_row(ring, row);
    return base == nullptr ? nullptr : base + first * 64;
}

} // namespace

bool smoothing_active(const JPEG_PROPERTIES *props) {
    return props->smooth_upsampling == 1 && props->max_h_sampling == 2 && props->max_v_sampling <= 2;
}

int32_t smoothing_mode(const JPEG_PROPERTIES *props, int32_t scale) {
    if (props->smooth_upsampling != 1 || props->neighbour_ring == nullptr) return 0;
    if (props->max_h_sampling == 2 && props->max_v_sampling == 1) return 1;
    if (props->max_h_sampling == 2 && props->max_v_sampling == 2 && scale == 1) return 2;
    return 0;
}

bool smooth_store_and_lag(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t columns,
                          int32_t rows, int32_t blocks_per_mcu, int32_t *out_column, int32_t *out_row) {
    const bool lag_position = column >= columns || row >= rows;
    if (props->neighbour_ring == nullptr) {
        // No ring: output without delay (the writers then replicate).
        if (lag_position) return false;
        *out_column = column;
        *out_row = row;
        return true;
    }
    const std::size_t bytes = static_cast<std::size_t>(blocks_per_mcu) * 64 * sizeof(int16_t);
    if (!lag_position) {
        int16_t *slot = ring_slot(props, column, row, blocks_per_mcu);
        if (slot != nullptr) std::memcpy(slot, props->mcu_buffer, bytes);
        props->neighbour_ring->last_row = row;
    }
    const int32_t row_lag = props->max_v_sampling == 2 ? 1 : 0;
    const int32_t oc = column - 1;
    const int32_t orow = row - row_lag;
    if (oc < 0 || orow < 0 || oc >= columns || orow >= rows) return false;
    const int16_t *slot = ring_slot(props, oc, orow, blocks_per_mcu);
    if (slot == nullptr) return false;
    std::memcpy(props->mcu_buffer, slot, bytes);
    *out_column = oc;
    *out_row = orow;
    return true;
}

int32_t neighbour_sample(const CHROMA_NEIGHBOURS &n, int32_t gx, int32_t gy) {
    gx = clamp_to(gx, n.width - 1);
    gy = clamp_to(gy, n.height - 1);
    int32_t mx = gx / n.samples;
    int32_t my = gy / n.samples;
    const int16_t *block = nullptr;
    if (mx != n.column || my != n.row) {
        const int16_t *slot = ring_slot(n.props, mx, my, n.stride);
        if (slot != nullptr) block = slot + 64 * n.block_offset;
    }
    if (block == nullptr) {
        // The MCU itself (or a slot the ring has no room for): its own samples.
        block = n.props->mcu_buffer + 64 * n.block_offset;
        mx = n.column;
        my = n.row;
        gx = clamp_to(gx, mx * n.samples + n.samples - 1) - mx * n.samples;
        gy = clamp_to(gy, my * n.samples + n.samples - 1) - my * n.samples;
        gx = gx < 0 ? 0 : gx;
        gy = gy < 0 ? 0 : gy;
        return static_cast<uint8_t>(block[8 * gy + gx]);
    }
    return static_cast<uint8_t>(block[8 * (gy - my * n.samples) + (gx - mx * n.samples)]);
}

void filter_h2v1(const CHROMA_NEIGHBOURS &n, uint8_t *plane) {
    const int32_t x0 = n.column * n.samples;
    const int32_t y0 = n.row * n.samples;
    for (int32_t y = 0; y < n.samples; ++y) {
        uint8_t *out = plane + 32 * y;
        for (int32_t i = 0; i < n.samples; ++i) {
            const int32_t c = neighbour_sample(n, x0 + i, y0 + y);
            const int32_t l = neighbour_sample(n, x0 + i - 1, y0 + y);
            const int32_t r = neighbour_sample(n, x0 + i + 1, y0 + y);
            out[2 * i] = static_cast<uint8_t>((3 * c + l + 1) >> 2);
            out[2 * i + 1] = static_cast<uint8_t>((3 * c + r + 2) >> 2);
        }
    }
}

void filter_h2v2(const CHROMA_NEIGHBOURS &n, uint8_t *plane) {
    const int32_t x0 = n.column * n.samples;
    const int32_t y0 = n.row * n.samples;
    for (int32_t j = 0; j < n.samples; ++j) {
        for (int32_t i = 0; i < n.samples; ++i) {
            const int32_t gx = x0 + i, gy = y0 + j;
            const int32_t c = neighbour_sample(n, gx, gy);
            for (int32_t dy = 0; dy < 2; ++dy) {
                const int32_t sy = dy == 0 ? -1 : 1;
                const int32_t v = neighbour_sample(n, gx, gy + sy);
                uint8_t *out = plane + 32 * (2 * j + dy) + 2 * i;
                for (int32_t dx = 0; dx < 2; ++dx) {
                    const int32_t sx = dx == 0 ? -1 : 1;
                    const int32_t h = neighbour_sample(n, gx + sx, gy);
                    const int32_t d = neighbour_sample(n, gx + sx, gy + sy);
                    out[dx] = static_cast<uint8_t>((9 * c + 3 * h + 3 * v + d + (dx == 0 ? 8 : 7)) >> 4);
                }
            }
        }
    }
}

} // namespace qrl
