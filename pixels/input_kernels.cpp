// Portable encoder input kernels: interleaved pixels of one full MCU to
// level-shifted sample blocks.
#include "pixels/input.h"

namespace qrl {
namespace {

// Channel offsets of red, green and blue inside a pixel.
struct Order {
    int32_t r, g, b;
};
constexpr Order kRgb{0, 1, 2};
constexpr Order kBgr{2, 1, 0};

// Reads (R, G, B) of the pixel at p; Invert gives 255 - c (CMYK input).
template <Order O, bool Invert>
inline void rgb_at(const uint8_t *p, int32_t &r, int32_t &g, int32_t &b) {
    r = p[O.r];
    g = p[O.g];
    b = p[O.b];
    if constexpr (Invert) {
        r = 255 - r;
        g = 255 - g;
        b = 255 - b;
    }
}

// Luma blocks of an (8*H) x (8*V) MCU lie in raster order: block (bx, by) at
// (by * H + bx) * 64.
template <int32_t H>
inline int16_t &luma_at(int16_t *c0, int32_t x, int32_t y) {
    return c0[((y >> 3) * H + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7)];
}

template <Order O, bool Invert, int32_t H, int32_t V, int32_t Bpp>
void convert_mcu(const uint8_t *pixels, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2,
                 int16_t *c3) {
    // Chroma sums over an H x V box, then one bias and shift for the box size.
    constexpr int32_t kShift = 8 + (H - 1) + (V - 1);
    constexpr int32_t kBias = 1 << (kShift - 1);
    for (int32_t cy = 0; cy < 8; ++cy) {
        for (int32_t cx = 0; cx < 8; ++cx) {
            int32_t sr = 0, sg = 0, sb = 0;
            for (int32_t dy = 0; dy < V; ++dy) {
                const uint8_t *row = pixels + static_cast<intptr_t>(cy * V + dy) * line_bytes;
                for (int32_t dx = 0; dx < H; ++dx) {
                    const int32_t x = cx * H + dx;
                    const int32_t y = cy * V + dy;
                    const uint8_t *p = row + x * Bpp;
                    int32_t r, g, b;
                    rgb_at<O, Invert>(p, r, g, b);
                    luma_at<H>(c0, x, y) = static_cast<int16_t>(luma_of(r, g, b));
                    if constexpr (Bpp == 4) luma_at<H>(c3, x, y) = static_cast<int16_t>(p[3] - 128);
                    sr += r;
                    sg += g;
                    sb += b;
                }
            }
            c1[cy * 8 + cx] = static_cast<int16_t>((128 * sb - 43 * sr - 85 * sg + kBias) >> kShift);
            c2[cy * 8 + cx] = static_cast<int16_t>((128 * sr - 107 * sg - 21 * sb + kBias) >> kShift);
        }
    }
}

template <int32_t H, int32_t V>
void deinterleave3_mcu(const uint8_t *pixels, int32_t line_bytes, int16_t *c0, int16_t *c1,
                       int16_t *c2) {
    constexpr int32_t kBox = H * V;
    for (int32_t cy = 0; cy < 8; ++cy) {
        for (int32_t cx = 0; cx < 8; ++cx) {
            int32_t s1 = 0, s2 = 0;
            for (int32_t dy = 0; dy < V; ++dy) {
                const uint8_t *row = pixels + static_cast<intptr_t>(cy * V + dy) * line_bytes;
                for (int32_t dx = 0; dx < H; ++dx) {
                    const int32_t x = cx * H + dx;
                    const uint8_t *p = row + x * 3;
                    luma_at<H>(c0, x, cy * V + dy) = static_cast<int16_t>(p[0] - 128);
                    s1 += p[1];
                    s2 += p[2];
                }
            }
            c1[cy * 8 + cx] = static_cast<int16_t>(((s1 + kBox / 2) >> (H + V - 2)) - 128);
            c2[cy * 8 + cx] = static_cast<int16_t>(((s2 + kBox / 2) >> (H + V - 2)) - 128);
        }
    }
}

} // namespace

void get_gray_8x8(const uint8_t *pixels, int32_t line_bytes, int16_t *block) {
    for (int32_t y = 0; y < 8; ++y) {
        const uint8_t *row = pixels + static_cast<intptr_t>(y) * line_bytes;
        for (int32_t x = 0; x < 8; ++x) block[y * 8 + x] = static_cast<int16_t>(row[x] - 128);
    }
}

void rgb_to_ycc_h1v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, false, 1, 1, 3>(p, lb, c0, c1, c2, nullptr);
}
void rgb_to_ycc_h2v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, false, 2, 1, 3>(p, lb, c0, c1, c2, nullptr);
}
void rgb_to_ycc_h2v2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, false, 2, 2, 3>(p, lb, c0, c1, c2, nullptr);
}
void bgr_to_ycc_h1v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, false, 1, 1, 3>(p, lb, c0, c1, c2, nullptr);
}
void bgr_to_ycc_h2v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, false, 2, 1, 3>(p, lb, c0, c1, c2, nullptr);
}
void bgr_to_ycc_h2v2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, false, 2, 2, 3>(p, lb, c0, c1, c2, nullptr);
}
void cmyk_to_ycck_h1v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                       int16_t *c3) {
    convert_mcu<kRgb, true, 1, 1, 4>(p, lb, c0, c1, c2, c3);
}
void cmyk_to_ycck_h2v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                       int16_t *c3) {
    convert_mcu<kRgb, true, 2, 1, 4>(p, lb, c0, c1, c2, c3);
}
void cmyk_to_ycck_h2v2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                       int16_t *c3) {
    convert_mcu<kRgb, true, 2, 2, 4>(p, lb, c0, c1, c2, c3);
}

void deinterleave3_h1v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    deinterleave3_mcu<1, 1>(p, lb, c0, c1, c2);
}
void deinterleave3_h2v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    deinterleave3_mcu<2, 1>(p, lb, c0, c1, c2);
}
void deinterleave3_h2v2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    deinterleave3_mcu<2, 2>(p, lb, c0, c1, c2);
}

void packed422_to_ycc(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    for (int32_t y = 0; y < 8; ++y) {
        const uint8_t *row = p + static_cast<intptr_t>(y) * lb;
        for (int32_t x = 0; x < 16; ++x)
            luma_at<2>(c0, x, y) = static_cast<int16_t>(row[2 * x] - 128);
        for (int32_t k = 0; k < 8; ++k) {
            c1[y * 8 + k] = static_cast<int16_t>(row[4 * k + 1] - 128);
            c2[y * 8 + k] = static_cast<int16_t>(row[4 * k + 3] - 128);
        }
    }
}

void deinterleave4_h1v1(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                        int16_t *c3) {
    for (int32_t y = 0; y < 8; ++y) {
        const uint8_t *row = p + static_cast<intptr_t>(y) * lb;
        for (int32_t x = 0; x < 8; ++x) {
            c0[y * 8 + x] = static_cast<int16_t>(row[4 * x] - 128);
            c1[y * 8 + x] = static_cast<int16_t>(row[4 * x + 1] - 128);
            c2[y * 8 + x] = static_cast<int16_t>(row[4 * x + 2] - 128);
            c3[y * 8 + x] = static_cast<int16_t>(row[4 * x + 3] - 128);
        }
    }
}

} // namespace qrl
