// Portable output kernels. One template per pixel format and chroma layout
// writes one 8x8 luma quadrant over a rectangle; the full kernels run it on
// every quadrant with the whole rectangle, the partial writers on the visible
// part, so both give the same bytes for every pixel by construction.
#include "pixels/color_kernels.h"

#include "pixels/color_constants.h"

namespace qrl {
namespace {

enum class PixelFormat { Rgb, Bgr, Rgba, Cmyk, Copy3, Copy3Alpha, Copy4 };
enum class ChromaLayout { H1V1, H2V1, H2V2 };

constexpr int32_t bytes_per_pixel(PixelFormat f) {
    return (f == PixelFormat::Rgb || f == PixelFormat::Bgr || f == PixelFormat::Copy3) ? 3 : 4;
}
constexpr bool converts(PixelFormat f) {
    return f == PixelFormat::Rgb || f == PixelFormat::Bgr || f == PixelFormat::Rgba ||
           f == PixelFormat::Cmyk;
}

inline uint8_t low8(int16_t s) { return static_cast<uint8_t>(s); }

inline int32_t clip8(int32_t v) { return v < 0 ? 0 : (v > 8 ? 8 : v); }

// Writes the pixels of `visible` (quadrant coordinates, clipped to 8x8) of one
// quadrant. c1 and c2 point at the quadrant's chroma origin; k is the
// quadrant's fourth-component block (Cmyk, Copy4) or unused.
template <PixelFormat F, ChromaLayout L>
inline void write_quadrant(const int16_t *y, const int16_t *c1, const int16_t *c2, const int16_t *k,
                           uint8_t *out, int32_t line_bytes, BLOCK_RECT visible) {
    constexpr int32_t bpp = bytes_per_pixel(F);
    constexpr int32_t xs = L == ChromaLayout::H1V1 ? 0 : 1; // chroma column shift
    constexpr int32_t ys = L == ChromaLayout::H2V2 ? 1 : 0; // chroma row shift
    constexpr int32_t chroma_cols = 8 >> xs;
    constexpr int32_t chroma_rows = 8 >> ys;
    const int32_t left = clip8(visible.left), right = clip8(visible.right);
    const int32_t top = clip8(visible.top), bottom = clip8(visible.bottom);
    if (left >= right || top >= bottom) return;

    // Chroma terms once per chroma sample of the quadrant's chroma area.
    ChromaTerms terms[chroma_rows][chroma_cols];
    if constexpr (converts(F)) {
        for (int32_t cy = top >> ys; cy <= (bottom - 1) >> ys; ++cy)
            for (int32_t cx = 0; cx < chroma_cols; ++cx)
                terms[cy][cx] = chroma_terms(c1[8 * cy + cx], c2[8 * cy + cx]);
    }
    for (int32_t py = top; py < bottom; ++py) {
        uint8_t *o = out + static_cast<intptr_t>(py) * line_bytes + left * bpp;
        const int32_t cy = py >> ys;
        for (int32_t px = left; px < right; ++px, o += bpp) {
            const int32_t cx = px >> xs;
            const int32_t s = y[8 * py + px];
            if constexpr (converts(F)) {
                const ChromaTerms &t = terms[cy][cx];
                const uint8_t r = clamp_sample(s + t.r);
                const uint8_t g = clamp_sample(s - t.g);
                const uint8_t b = clamp_sample(s + t.b);
                if constexpr (F == PixelFormat::Bgr) {
                    o[0] = b, o[1] = g, o[2] = r;
                } else if constexpr (F == PixelFormat::Cmyk) {
                    o[0] = static_cast<uint8_t>(~r), o[1] = static_cast<uint8_t>(~g);
                    o[2] = static_cast<uint8_t>(~b), o[3] = low8(k[8 * py + px]);
                } else {
                    o[0] = r, o[1] = g, o[2] = b;
                    if constexpr (F == PixelFormat::Rgba) o[3] = 255;
                }
            } else {
                o[0] = low8(static_cast<int16_t>(s));
                o[1] = low8(c1[8 * cy + cx]);
                o[2] = low8(c2[8 * cy + cx]);
                if constexpr (F == PixelFormat::Copy3Alpha) o[3] = 255;
                if constexpr (F == PixelFormat::Copy4) o[3] = low8(k[8 * py + px]);
            }
        }
    }
}

constexpr BLOCK_RECT kWholeQuadrant = {0, 0, 8, 8};

// The full MCU: quadrants top-left, top-right, bottom-left, bottom-right.
template <PixelFormat F, ChromaLayout L>
inline void write_mcu(const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *c3,
                      uint8_t *out, int32_t line_bytes) {
    constexpr int32_t right = 8 * bytes_per_pixel(F);
    write_quadrant<F, L>(c0, c1, c2, c3, out, line_bytes, kWholeQuadrant);
    if constexpr (L != ChromaLayout::H1V1)
        write_quadrant<F, L>(c0 + 64, c1 + 4, c2 + 4, c3 + 64, out + right, line_bytes,
                             kWholeQuadrant);
    if constexpr (L == ChromaLayout::H2V2) {
        uint8_t *lower = out + static_cast<intptr_t>(8) * line_bytes;
        write_quadrant<F, L>(c0 + 128, c1 + 32, c2 + 32, c3 + 128, lower, line_bytes,
                             kWholeQuadrant);
        write_quadrant<F, L>(c0 + 192, c1 + 36, c2 + 36, c3 + 192, lower + right, line_bytes,
                             kWholeQuadrant);
    }
}

template <PixelFormat F, ChromaLayout L>
void put3(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes) {
    write_mcu<F, L>(c0, c1, c2, c0, out, line_bytes);
}
template <PixelFormat F, ChromaLayout L>
void put3_partial(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out,
                  BLOCK_RECT visible, int32_t line_bytes) {
    write_quadrant<F, L>(c0, c1, c2, c0, out, line_bytes, visible);
}
template <PixelFormat F, ChromaLayout L>
void put4(const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *c3, uint8_t *out,
          int32_t line_bytes) {
    write_mcu<F, L>(c0, c1, c2, c3, out, line_bytes);
}
template <PixelFormat F, ChromaLayout L>
void put4_partial(const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *c3,
                  uint8_t *out, BLOCK_RECT visible, int32_t line_bytes) {
    write_quadrant<F, L>(c0, c1, c2, c3, out, line_bytes, visible);
}

// Packed Y Cb Y Cr over one 8x8 luma quadrant of a 2x1 MCU: pixel x gets
// Y in byte 2x and, in byte 2x + 1, Cb of its pair when x is even, Cr when odd.
inline void packed422_quadrant(const int16_t *y, const int16_t *cb, const int16_t *cr, uint8_t *out,
                               int32_t line_bytes, BLOCK_RECT visible) {
    const int32_t left = clip8(visible.left), right = clip8(visible.right);
    const int32_t top = clip8(visible.top), bottom = clip8(visible.bottom);
    for (int32_t py = top; py < bottom; ++py) {
        uint8_t *o = out + static_cast<intptr_t>(py) * line_bytes;
        for (int32_t px = left; px < right; ++px) {
            o[2 * px] = low8(y[8 * py + px]);
            o[2 * px + 1] = low8((px & 1) ? cr[8 * py + (px >> 1)] : cb[8 * py + (px >> 1)]);
        }
    }
}

} // namespace

void put_gray_8x8(const int16_t *block, uint8_t *out, int32_t line_bytes) {
    for (int32_t py = 0; py < 8; ++py) {
        uint8_t *o = out + static_cast<intptr_t>(py) * line_bytes;
        for (int32_t px = 0; px < 8; ++px) o[px] = clamp_sample(block[8 * py + px]);
    }
}

void put_gray_8x8_partial(const int16_t *block, uint8_t *out, BLOCK_RECT visible,
                          int32_t line_bytes) {
    const int32_t left = clip8(visible.left), right = clip8(visible.right);
    const int32_t top = clip8(visible.top), bottom = clip8(visible.bottom);
    for (int32_t py = top; py < bottom; ++py) {
        uint8_t *o = out + static_cast<intptr_t>(py) * line_bytes;
        for (int32_t px = left; px < right; ++px) o[px] = clamp_sample(block[8 * py + px]);
    }
}

void ycc_to_packed422(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out,
                      int32_t line_bytes) {
    packed422_quadrant(c0, c1, c2, out, line_bytes, kWholeQuadrant);
    packed422_quadrant(c0 + 64, c1 + 4, c2 + 4, out + 16, line_bytes, kWholeQuadrant);
}
void ycc_to_packed422_partial(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out,
                              BLOCK_RECT visible, int32_t line_bytes) {
    packed422_quadrant(c0, c1, c2, out, line_bytes, visible);
}

// Named instances of the templates (the kernel slots and the fast routines
// refer to these).
using PF = PixelFormat;
using CL = ChromaLayout;

void ycc_to_rgb_h1v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Rgb, CL::H1V1>(a, b, c, o, l); }
void ycc_to_rgb_h2v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Rgb, CL::H2V1>(a, b, c, o, l); }
void ycc_to_rgb_h2v2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Rgb, CL::H2V2>(a, b, c, o, l); }
void ycc_to_bgr_h1v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Bgr, CL::H1V1>(a, b, c, o, l); }
void ycc_to_bgr_h2v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Bgr, CL::H2V1>(a, b, c, o, l); }
void ycc_to_bgr_h2v2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Bgr, CL::H2V2>(a, b, c, o, l); }
void ycc_to_rgba_h1v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Rgba, CL::H1V1>(a, b, c, o, l); }
void ycc_to_rgba_h2v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Rgba, CL::H2V1>(a, b, c, o, l); }
void ycc_to_rgba_h2v2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Rgba, CL::H2V2>(a, b, c, o, l); }
void interleave3_h1v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Copy3, CL::H1V1>(a, b, c, o, l); }
void interleave3_h2v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Copy3, CL::H2V1>(a, b, c, o, l); }
void interleave3_h2v2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Copy3, CL::H2V2>(a, b, c, o, l); }
void interleave3_alpha_h1v1(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { put3<PF::Copy3Alpha, CL::H1V1>(a, b, c, o, l); }
void ycck_to_cmyk_h1v1(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { put4<PF::Cmyk, CL::H1V1>(a, b, c, k, o, l); }
void ycck_to_cmyk_h2v1(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { put4<PF::Cmyk, CL::H2V1>(a, b, c, k, o, l); }
void ycck_to_cmyk_h2v2(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { put4<PF::Cmyk, CL::H2V2>(a, b, c, k, o, l); }
void interleave4_h1v1(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { put4<PF::Copy4, CL::H1V1>(a, b, c, k, o, l); }

void ycc_to_rgb_h1v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Rgb, CL::H1V1>(a, b, c, o, v, l); }
void ycc_to_rgb_h2v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Rgb, CL::H2V1>(a, b, c, o, v, l); }
void ycc_to_rgb_h2v2_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Rgb, CL::H2V2>(a, b, c, o, v, l); }
void ycc_to_bgr_h1v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Bgr, CL::H1V1>(a, b, c, o, v, l); }
void ycc_to_bgr_h2v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Bgr, CL::H2V1>(a, b, c, o, v, l); }
void ycc_to_bgr_h2v2_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Bgr, CL::H2V2>(a, b, c, o, v, l); }
void ycc_to_rgba_h1v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Rgba, CL::H1V1>(a, b, c, o, v, l); }
void ycc_to_rgba_h2v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Rgba, CL::H2V1>(a, b, c, o, v, l); }
void ycc_to_rgba_h2v2_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Rgba, CL::H2V2>(a, b, c, o, v, l); }
void interleave3_h1v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Copy3, CL::H1V1>(a, b, c, o, v, l); }
void interleave3_h2v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Copy3, CL::H2V1>(a, b, c, o, v, l); }
void interleave3_h2v2_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Copy3, CL::H2V2>(a, b, c, o, v, l); }
void interleave3_alpha_h1v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, BLOCK_RECT v, int32_t l) { put3_partial<PF::Copy3Alpha, CL::H1V1>(a, b, c, o, v, l); }
void ycck_to_cmyk_h1v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, BLOCK_RECT v, int32_t l) { put4_partial<PF::Cmyk, CL::H1V1>(a, b, c, k, o, v, l); }
void ycck_to_cmyk_h2v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, BLOCK_RECT v, int32_t l) { put4_partial<PF::Cmyk, CL::H2V1>(a, b, c, k, o, v, l); }
void ycck_to_cmyk_h2v2_partial(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, BLOCK_RECT v, int32_t l) { put4_partial<PF::Cmyk, CL::H2V2>(a, b, c, k, o, v, l); }
void interleave4_h1v1_partial(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, BLOCK_RECT v, int32_t l) { put4_partial<PF::Copy4, CL::H1V1>(a, b, c, k, o, v, l); }

} // namespace qrl
