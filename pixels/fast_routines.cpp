// Fast MCU routines: one kernel call for a whole MCU, the partial writers
// quadrant by quadrant for an MCU cut by the image edge or the region.
#include "pixels/fast_routines.h"

#include <cstring>

#include "dispatch/kernel_table.h"
#include "pixels/block_rect.h"
#include "pixels/color_constants.h"
#include "pixels/color_kernels.h"

namespace qrl {
namespace {

enum class Layout { H1V1, H2V1, H2V2 };

constexpr int32_t luma_blocks(Layout l) { return l == Layout::H1V1 ? 1 : (l == Layout::H2V1 ? 2 : 4); }

// Blocks of one quadrant, as a partial writer takes them.
struct QuadrantBlocks {
    const int16_t *c0, *c1, *c2, *c3;
    uint8_t *out;
    BLOCK_RECT visible;
};

// Runs `full` when the whole MCU is visible. A cut MCU goes quadrant by
// quadrant through `part` (the portable partial writers, which give the
// portable kernel's bytes), except when the slot holds a SIMD twin: then the
// twin renders the whole MCU into a scratch area and the visible pixels are
// copied, so a pixel never depends on whether its MCU was cut by the image
// edge or the region (a region decode equals the crop of a whole decode).
template <Layout L, typename Full, typename Part>
int32_t run_fast(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t bpp, bool simd, Full full,
                 Part part) {
    constexpr int32_t w = L == Layout::H1V1 ? 8 : 16;
    constexpr int32_t h = L == Layout::H2V2 ? 16 : 8;
    uint8_t *address = nullptr;
    BLOCK_RECT visible;
    const int32_t rc = place_mcu_block(props, w, h, column, row, props->image_channels, &address, &visible);
    if (rc != JPEG_OK) return rc;
    props->input.pixel_cursor = address;
    const int16_t *c0 = props->mcu_buffer;
    const int16_t *c1 = c0 + 64 * luma_blocks(L);
    const int16_t *c2 = c1 + 64;
    const int16_t *c3 = c2 + 64;
    if (visible == BLOCK_RECT{0, 0, w, h}) {
        full(c0, c1, c2, c3, address, props->line_bytes);
        return JPEG_OK;
    }
    if (simd) {
        // 16 x 16 pixels of at most 4 bytes.
        uint8_t scratch[16 * 16 * 4];
        const int32_t scratch_line = w * bpp;
        full(c0, c1, c2, c3, scratch, scratch_line);
        const int32_t left = visible.left < 0 ? 0 : visible.left;
        const int32_t right = visible.right > w ? w : visible.right;
        const int32_t top = visible.top < 0 ? 0 : visible.top;
        const int32_t bottom = visible.bottom > h ? h : visible.bottom;
        if (left >= right) return JPEG_OK;
        for (int32_t y = top; y < bottom; ++y)
            std::memcpy(address + static_cast<intptr_t>(y) * props->line_bytes + left * bpp,
                        scratch + y * scratch_line + left * bpp, static_cast<std::size_t>((right - left) * bpp));
        return JPEG_OK;
    }
    for (int32_t q = 0; q < luma_blocks(L); ++q) {
        const int32_t a = q & 1, b = q >> 1;
        BLOCK_RECT r = rect_intersect(visible, BLOCK_RECT{8 * a, 8 * b, 8 * a + 8, 8 * b + 8});
        if (q != 0) r = rect_translate(r, -8 * a, -8 * b);
        if (r == EMPTY_RECT) continue;
        const int32_t chroma_offset = (L != Layout::H1V1 ? 4 * a : 0) + (L == Layout::H2V2 ? 32 * b : 0);
        part(QuadrantBlocks{c0 + 64 * q, c1 + chroma_offset, c2 + chroma_offset, c3 + 64 * q,
                            address + 8 * a * bpp + static_cast<intptr_t>(8 * b) * props->line_bytes, r});
    }
    return JPEG_OK;
}

template <Layout L>
int32_t fast3(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t bpp, Put3Fn slot,
              Put3Fn portable, Partial3Fn partial) {
    const Put3Fn kernel = slot != nullptr ? slot : portable;
    const int32_t line = props->line_bytes;
    return run_fast<L>(
        props, column, row, bpp, kernel != portable,
        [&](const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *, uint8_t *out, int32_t stride) {
            kernel(c0, c1, c2, out, stride);
        },
        [&](const QuadrantBlocks &q) { partial(q.c0, q.c1, q.c2, q.out, q.visible, line); });
}

template <Layout L>
int32_t fast4(JPEG_PROPERTIES *props, int32_t column, int32_t row, Put4Fn slot, Put4Fn portable,
              Partial4Fn partial) {
    const Put4Fn kernel = slot != nullptr ? slot : portable;
    const int32_t line = props->line_bytes;
    return run_fast<L>(
        props, column, row, 4, kernel != portable,
        [&](const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *c3, uint8_t *out, int32_t stride) {
            kernel(c0, c1, c2, c3, out, stride);
        },
        [&](const QuadrantBlocks &q) { partial(q.c0, q.c1, q.c2, q.c3, q.out, q.visible, line); });
}

const KERNEL_TABLE &slots(const JPEG_PROPERTIES *props) {
    return props->kernel_table != nullptr ? *props->kernel_table : kernel_set_table(KernelSet::Portable);
}

} // namespace

int32_t mcu_ycc_rgb_h1v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H1V1>(p, c, r, 3, slots(p).ycc_to_rgb_h1v1, ycc_to_rgb_h1v1, ycc_to_rgb_h1v1_partial);
}
int32_t mcu_ycc_bgr_h1v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H1V1>(p, c, r, 3, slots(p).ycc_to_bgr_h1v1, ycc_to_bgr_h1v1, ycc_to_bgr_h1v1_partial);
}
int32_t mcu_ycc_rgb_h2v2(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V2>(p, c, r, 3, slots(p).ycc_to_rgb_h2v2, ycc_to_rgb_h2v2, ycc_to_rgb_h2v2_partial);
}
int32_t mcu_ycc_bgr_h2v2(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V2>(p, c, r, 3, slots(p).ycc_to_bgr_h2v2, ycc_to_bgr_h2v2, ycc_to_bgr_h2v2_partial);
}
int32_t mcu_ycc_rgb_h2v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V1>(p, c, r, 3, slots(p).ycc_to_rgb_h2v1, ycc_to_rgb_h2v1, ycc_to_rgb_h2v1_partial);
}
int32_t mcu_ycc_bgr_h2v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V1>(p, c, r, 3, slots(p).ycc_to_bgr_h2v1, ycc_to_bgr_h2v1, ycc_to_bgr_h2v1_partial);
}
int32_t mcu_ycc_rgba_h1v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H1V1>(p, c, r, 4, slots(p).ycc_to_rgba_h1v1, ycc_to_rgba_h1v1, ycc_to_rgba_h1v1_partial);
}
int32_t mcu_ycc_rgba_h2v2(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V2>(p, c, r, 4, slots(p).ycc_to_rgba_h2v2, ycc_to_rgba_h2v2, ycc_to_rgba_h2v2_partial);
}
int32_t mcu_ycc_rgba_h2v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V1>(p, c, r, 4, slots(p).ycc_to_rgba_h2v1, ycc_to_rgba_h2v1, ycc_to_rgba_h2v1_partial);
}
int32_t mcu_ycck_cmyk_h1v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast4<Layout::H1V1>(p, c, r, slots(p).ycck_to_cmyk_h1v1, ycck_to_cmyk_h1v1, ycck_to_cmyk_h1v1_partial);
}
int32_t mcu_ycck_cmyk_h2v2(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast4<Layout::H2V2>(p, c, r, slots(p).ycck_to_cmyk_h2v2, ycck_to_cmyk_h2v2, ycck_to_cmyk_h2v2_partial);
}
int32_t mcu_ycck_cmyk_h2v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast4<Layout::H2V1>(p, c, r, slots(p).ycck_to_cmyk_h2v1, ycck_to_cmyk_h2v1, ycck_to_cmyk_h2v1_partial);
}
int32_t mcu_interleave3_alpha(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H1V1>(p, c, r, 4, slots(p).interleave3_alpha_h1v1, interleave3_alpha_h1v1, interleave3_alpha_h1v1_partial);
}
int32_t mcu_interleave4(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast4<Layout::H1V1>(p, c, r, slots(p).interleave4_h1v1, interleave4_h1v1, interleave4_h1v1_partial);
}
// The same function in every kernel set, so it is called directly.
int32_t mcu_interleave3(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H1V1>(p, c, r, 3, interleave3_h1v1, interleave3_h1v1, interleave3_h1v1_partial);
}
int32_t mcu_interleave3_h2v2(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V2>(p, c, r, 3, slots(p).interleave3_h2v2, interleave3_h2v2, interleave3_h2v2_partial);
}
int32_t mcu_interleave3_h2v1(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V1>(p, c, r, 3, slots(p).interleave3_h2v1, interleave3_h2v1, interleave3_h2v1_partial);
}
int32_t mcu_ycc_packed422(JPEG_PROPERTIES *p, int32_t c, int32_t r) {
    return fast3<Layout::H2V1>(p, c, r, 2, slots(p).ycc_to_packed422, ycc_to_packed422, ycc_to_packed422_partial);
}

int32_t mcu_gray(JPEG_PROPERTIES *props, int32_t column, int32_t row) {
    uint8_t *address = nullptr;
    BLOCK_RECT visible;
    const int32_t rc = place_mcu_block(props, 8, 8, column, row, props->image_channels, &address, &visible);
    if (rc != JPEG_OK) return rc;
    props->input.pixel_cursor = address;
    if (visible == BLOCK_RECT{0, 0, 8, 8}) {
        const Put1Fn kernel = slots(props).put_gray_8x8 != nullptr ? slots(props).put_gray_8x8 : put_gray_8x8;
        kernel(props->mcu_buffer, address, props->line_bytes);
    } else {
        put_gray_8x8_partial(props->mcu_buffer, address, visible, props->line_bytes);
    }
    return JPEG_OK;
}

int32_t mcu_copy_planes(JPEG_PROPERTIES *props, int32_t column, int32_t row) {
    return copy_planes_sized(props, column, row, 8);
}

int32_t copy_planes_sized(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t samples) {
    const int32_t ch = props->image_channels;
    if (samples < 1 || samples > 8) return JPEG_INVALID_PROPERTIES;
    uint8_t *address = nullptr;
    BLOCK_RECT v;
    const int32_t rc = place_mcu_block(props, samples, samples, column, row, ch, &address, &v);
    if (rc != JPEG_OK) return rc;
    props->input.pixel_cursor = address;
    const int32_t components = props->frame_component_count < QRL_MAX_COMPONENTS ? props->frame_component_count : QRL_MAX_COMPONENTS;
    const bool reverse = props->image_color == COLOR_BGR && props->jpeg_color == COLOR_RGB && ch == 3;
    const bool gray = props->jpeg_color == COLOR_GRAY;
    const bool cmyk = props->image_color == COLOR_CMYK;
    const int32_t line = props->line_bytes;
    for (int32_t y = v.top; y < v.bottom; ++y) {
        uint8_t *o = address + static_cast<intptr_t>(y) * line + v.left * ch;
        for (int32_t x = v.left; x < v.right; ++x, o += ch) {
            for (int32_t d = 0; d < ch; ++d) {
                const int32_t channel = reverse ? 2 - d : d;
                if (d < components) {
                    o[channel] = static_cast<uint8_t>(props->mcu_buffer[64 * d + 8 * y + x]);
                } else if (gray) {
                    // Gray data: channels 1 and 2 repeat the gray value, 3 is opaque.
                    o[d] = d >= 3 ? 255 : o[d - 1];
                } else if (d == 3 && cmyk) {
                    o[3] = 255;
                }
            }
        }
    }
    return JPEG_OK;
}

} // namespace qrl
