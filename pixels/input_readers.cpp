// MCU input routines with a fast kernel: whole MCUs go through the kernel
// slot, MCUs cut by the right or bottom image edge through a partial reader
// that converts the valid pixels one by one, repeats the last valid column
// and row, and then averages the chroma.
#include <cstdlib>

#include "dispatch/kernel_table.h"
#include "pixels/input.h"

namespace qrl {

McuArea begin_mcu(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row, int32_t mcu_width,
                  int32_t mcu_height, int32_t bytes_per_pixel) {
    INPUT_SOURCE &src = props->input;
    McuArea area{src.pixel_cursor, mcu_width, mcu_height};
    if (mcu_column + 1 == props->mcus_per_row) {
        area.width = props->image_width % mcu_width;
        if (area.width == 0) area.width = mcu_width;
        src.pixel_cursor = props->image_pixels +
                           static_cast<intptr_t>(mcu_row + 1) * mcu_height * props->line_bytes;
    } else {
        src.pixel_cursor += static_cast<intptr_t>(mcu_width) * bytes_per_pixel;
    }
    if (mcu_row + 1 == props->mcu_rows) {
        area.height = std::abs(props->image_height) % mcu_height;
        if (area.height == 0) area.height = mcu_height;
    }
    return area;
}

namespace {

// Largest MCU of the encoder: 16 x 16 pixels.
constexpr int32_t kMaxMcuSide = 16;
constexpr int32_t kMaxMcuPixels = kMaxMcuSide * kMaxMcuSide;

constexpr int32_t bytes_per_pixel(FastInput k) {
    switch (k) {
    case FastInput::Gray: return 1;
    case FastInput::Packed422: return 2;
    case FastInput::Cmyk:
    case FastInput::Deinterleave4: return 4;
    default: return 3;
    }
}

constexpr int32_t component_count(FastInput k) {
    switch (k) {
    case FastInput::Gray: return 1;
    case FastInput::Cmyk:
    case FastInput::Deinterleave4: return 4;
    default: return 3;
    }
}

// Per-pixel values of the full-resolution planes (1x1 formulas).
template <FastInput K>
inline void pixel_values(const uint8_t *row, int32_t x, int16_t out[4]) {
    const uint8_t *p = row + x * bytes_per_pixel(K);
    if constexpr (K == FastInput::Rgb || K == FastInput::Bgr || K == FastInput::Cmyk) {
        int32_t r = p[0], g = p[1], b = p[2];
        if constexpr (K == FastInput::Bgr) {
            r = p[2];
            b = p[0];
        }
        if constexpr (K == FastInput::Cmyk) {
            r = 255 - r;
            g = 255 - g;
            b = 255 - b;
            out[3] = static_cast<int16_t>(p[3] - 128);
        }
        out[0] = static_cast<int16_t>(luma_of(r, g, b));
        out[1] = static_cast<int16_t>(cb_of(r, g, b));
        out[2] = static_cast<int16_t>(cr_of(r, g, b));
    } else if constexpr (K == FastInput::Packed422) {
        const uint8_t *pair = row + (x >> 1) * 4;
        out[0] = static_cast<int16_t>(p[0] - 128);
        out[1] = static_cast<int16_t>(pair[1] - 128);
        out[2] = static_cast<int16_t>(pair[3] - 128);
    } else {
        for (int32_t c = 0; c < component_count(K); ++c) out[c] = static_cast<int16_t>(p[c] - 128);
    }
}

template <FastInput K, int32_t H, int32_t V>
void read_partial(const JPEG_PROPERTIES *props, const McuArea &area) {
    constexpr int32_t kW = 8 * H;
    constexpr int32_t kH = 8 * V;
    constexpr int32_t kComps = component_count(K);
    int16_t planes[4][kMaxMcuPixels];
    for (int32_t y = 0; y < area.height; ++y) {
        const uint8_t *row = area.pixels + static_cast<intptr_t>(y) * props->line_bytes;
        for (int32_t x = 0; x < area.width; ++x) {
            int16_t v[4];
            pixel_values<K>(row, x, v);
            for (int32_t c = 0; c < kComps; ++c) planes[c][y * kW + x] = v[c];
        }
        for (int32_t x = area.width; x < kW; ++x)
            for (int32_t c = 0; c < kComps; ++c) planes[c][y * kW + x] = planes[c][y * kW + area.width - 1];
    }
    for (int32_t y = area.height; y < kH; ++y)
        for (int32_t c = 0; c < kComps; ++c)
            for (int32_t x = 0; x < kW; ++x) planes[c][y * kW + x] = planes[c][(area.height - 1) * kW + x];

    int16_t *out = props->mcu_buffer;
    // Full-resolution components (0, and 3 for four components) in raster block order.
    auto full = [&](const int16_t *plane, int16_t *blocks) {
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x)
                blocks[((y >> 3) * H + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7)] = plane[y * kW + x];
    };
    full(planes[0], out);
    if constexpr (kComps == 1) return;
    int16_t *chroma = out + H * V * 64;
    for (int32_t c = 1; c <= 2; ++c) {
        int16_t *block = chroma + (c - 1) * 64;
        const int16_t *plane = planes[c];
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 8; ++x) {
                const int32_t px = x * H, py = y * V;
                int32_t v = plane[py * kW + px];
                if constexpr (H == 2 && V == 1) {
                    v = (v + plane[py * kW + px + 1] + 1) >> 1;
                } else if constexpr (H == 2 && V == 2) {
                    v = (v + plane[py * kW + px + 1] + plane[(py + 1) * kW + px] +
                         plane[(py + 1) * kW + px + 1] + 2) >> 2;
                }
                block[y * 8 + x] = static_cast<int16_t>(v);
            }
        }
    }
    if constexpr (kComps == 4) full(planes[3], chroma + 128);
}

template <FastInput K, int32_t H, int32_t V>
int32_t read_fast(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row) {
    const McuArea area = begin_mcu(props, mcu_column, mcu_row, 8 * H, 8 * V, bytes_per_pixel(K));
    if (area.width != 8 * H || area.height != 8 * V) {
        read_partial<K, H, V>(props, area);
        return JPEG_OK;
    }
    const KERNEL_TABLE *kt = props->kernel_table;
    int16_t *c0 = props->mcu_buffer;
    int16_t *c1 = c0 + H * V * 64;
    int16_t *c2 = c1 + 64;
    int16_t *c3 = c2 + 64;
    const uint8_t *p = area.pixels;
    const int32_t lb = props->line_bytes;
    if constexpr (K == FastInput::Gray) {
        kt->get_gray_8x8(p, lb, c0);
    } else if constexpr (K == FastInput::Rgb) {
        (H == 1 ? kt->rgb_to_ycc_h1v1 : V == 1 ? kt->rgb_to_ycc_h2v1 : kt->rgb_to_ycc_h2v2)(p, lb, c0, c1, c2);
    } else if constexpr (K == FastInput::Bgr) {
        (H == 1 ? kt->bgr_to_ycc_h1v1 : V == 1 ? kt->bgr_to_ycc_h2v1 : kt->bgr_to_ycc_h2v2)(p, lb, c0, c1, c2);
    } else if constexpr (K == FastInput::Cmyk) {
        (H == 1 ? kt->cmyk_to_ycck_h1v1 : V == 1 ? kt->cmyk_to_ycck_h2v1 : kt->cmyk_to_ycck_h2v2)(
            p, lb, c0, c1, c2, c3);
    } else if constexpr (K == FastInput::Deinterleave3) {
        (H == 1 ? kt->deinterleave3_h1v1 : V == 1 ? kt->deinterleave3_h2v1 : kt->deinterleave3_h2v2)(
            p, lb, c0, c1, c2);
    } else if constexpr (K == FastInput::Deinterleave4) {
        kt->deinterleave4_h1v1(p, lb, c0, c1, c2, c3);
    } else {
        kt->packed422_to_ycc(p, lb, c0, c1, c2);
    }
    return JPEG_OK;
}

template <FastInput K>
McuInputFn pick(int32_t h, int32_t v) {
    if (h == 1 && v == 1) return &read_fast<K, 1, 1>;
    if (h == 2 && v == 1) return &read_fast<K, 2, 1>;
    if (h == 2 && v == 2) return &read_fast<K, 2, 2>;
    return nullptr;
}

} // namespace

McuInputFn fast_input_reader(FastInput kind, int32_t h, int32_t v) {
    switch (kind) {
    case FastInput::Gray: return h == 1 && v == 1 ? &read_fast<FastInput::Gray, 1, 1> : nullptr;
    case FastInput::Deinterleave4:
        return h == 1 && v == 1 ? &read_fast<FastInput::Deinterleave4, 1, 1> : nullptr;
    case FastInput::Packed422:
        return h == 2 && v == 1 ? &read_fast<FastInput::Packed422, 2, 1> : nullptr;
    case FastInput::Rgb: return pick<FastInput::Rgb>(h, v);
    case FastInput::Bgr: return pick<FastInput::Bgr>(h, v);
    case FastInput::Cmyk: return pick<FastInput::Cmyk>(h, v);
    case FastInput::Deinterleave3: return pick<FastInput::Deinterleave3>(h, v);
    }
    return nullptr;
}

} // namespace qrl
