// Portable output kernels: the documented conversion examples, every kernel
// against an independent per-pixel reference, and every partial writer
// against its full kernel over many rectangles.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pixels/block_rect.h"
#include "pixels/color_kernels.h"
#include "pixel_test_props.h"

namespace {

using namespace qrl;
using qrl_test::kPoison;

using qrl_test::Fmt;
using qrl_test::bpp_of;
using qrl_test::clampi;

struct KernelCase {
    const char *name;
    int32_t qx, qy; // luma blocks across and down (MCU = 8qx x 8qy pixels)
    Fmt fmt;
    Put3Fn full3;
    Partial3Fn part3;
    Put4Fn full4;
    Partial4Fn part4;
};

const KernelCase kCases[] = {
    {"ycc_to_rgb_h1v1", 1, 1, Fmt::Rgb, ycc_to_rgb_h1v1, ycc_to_rgb_h1v1_partial, nullptr, nullptr},
    {"ycc_to_rgb_h2v1", 2, 1, Fmt::Rgb, ycc_to_rgb_h2v1, ycc_to_rgb_h2v1_partial, nullptr, nullptr},
    {"ycc_to_rgb_h2v2", 2, 2, Fmt::Rgb, ycc_to_rgb_h2v2, ycc_to_rgb_h2v2_partial, nullptr, nullptr},
    {"ycc_to_bgr_h1v1", 1, 1, Fmt::Bgr, ycc_to_bgr_h1v1, ycc_to_bgr_h1v1_partial, nullptr, nullptr},
    {"ycc_to_bgr_h2v1", 2, 1, Fmt::Bgr, ycc_to_bgr_h2v1, ycc_to_bgr_h2v1_partial, nullptr, nullptr},
    {"ycc_to_bgr_h2v2", 2, 2, Fmt::Bgr, ycc_to_bgr_h2v2, ycc_to_bgr_h2v2_partial, nullptr, nullptr},
    {"ycc_to_rgba_h1v1", 1, 1, Fmt::Rgba, ycc_to_rgba_h1v1, ycc_to_rgba_h1v1_partial, nullptr, nullptr},
    {"ycc_to_rgba_h2v1", 2, 1, Fmt::Rgba, ycc_to_rgba_h2v1, ycc_to_rgba_h2v1_partial, nullptr, nullptr},
    {"ycc_to_rgba_h2v2", 2, 2, Fmt::Rgba, ycc_to_rgba_h2v2, ycc_to_rgba_h2v2_partial, nullptr, nullptr},
    {"ycck_to_cmyk_h1v1", 1, 1, Fmt::Cmyk, nullptr, nullptr, ycck_to_cmyk_h1v1, ycck_to_cmyk_h1v1_partial},
    {"ycck_to_cmyk_h2v1", 2, 1, Fmt::Cmyk, nullptr, nullptr, ycck_to_cmyk_h2v1, ycck_to_cmyk_h2v1_partial},
    {"ycck_to_cmyk_h2v2", 2, 2, Fmt::Cmyk, nullptr, nullptr, ycck_to_cmyk_h2v2, ycck_to_cmyk_h2v2_partial},
    {"interleave3_h1v1", 1, 1, Fmt::Copy3, interleave3_h1v1, interleave3_h1v1_partial, nullptr, nullptr},
    {"interleave3_h2v1", 2, 1, Fmt::Copy3, interleave3_h2v1, interleave3_h2v1_partial, nullptr, nullptr},
    {"interleave3_h2v2", 2, 2, Fmt::Copy3, interleave3_h2v2, interleave3_h2v2_partial, nullptr, nullptr},
    {"interleave3_alpha_h1v1", 1, 1, Fmt::Copy3Alpha, interleave3_alpha_h1v1, interleave3_alpha_h1v1_partial, nullptr, nullptr},
    {"interleave4_h1v1", 1, 1, Fmt::Copy4, nullptr, nullptr, interleave4_h1v1, interleave4_h1v1_partial},
    {"ycc_to_packed422", 2, 1, Fmt::Packed422, ycc_to_packed422, ycc_to_packed422_partial, nullptr, nullptr},
};

// Blocks of one MCU laid out as the MCU buffer holds them.
struct Mcu {
    std::vector<int16_t> data;
    int32_t luma_blocks;
    const int16_t *y() const { return data.data(); }
    const int16_t *cb() const { return data.data() + 64 * luma_blocks; }
    const int16_t *cr() const { return cb() + 64; }
    const int16_t *k() const { return cr() + 64; }
};

Mcu make_mcu(const KernelCase &c, uint32_t seed, int32_t lo = 0, int32_t hi = 255) {
    const int32_t luma = c.qx * c.qy;
    return Mcu{qrl_test::random_blocks(seed, 2 * luma + 2, lo, hi), luma};
}

void reference_pixel(const KernelCase &c, const Mcu &m, int32_t x, int32_t y, uint8_t *out) {
    qrl_test::reference_pixel(c.fmt, c.qx, c.qy, m.data.data(), x, y, out);
}

constexpr int32_t kPad = 5;

struct Canvas {
    int32_t line;
    std::vector<uint8_t> bytes;
    Canvas(const KernelCase &c) : line(8 * c.qx * bpp_of(c.fmt) + kPad), bytes(static_cast<size_t>(line) * 8 * c.qy, kPoison) {}
    uint8_t *px(const KernelCase &c, int32_t x, int32_t y) { return bytes.data() + y * line + x * bpp_of(c.fmt); }
};

void run_full(const KernelCase &c, const Mcu &m, Canvas &cv) {
    if (c.full3) c.full3(m.y(), m.cb(), m.cr(), cv.bytes.data(), cv.line);
    else c.full4(m.y(), m.cb(), m.cr(), m.k(), cv.bytes.data(), cv.line);
}

// The quadrant walk of the fast routines, over an arbitrary rectangle.
void run_partial(const KernelCase &c, const Mcu &m, Canvas &cv, BLOCK_RECT visible) {
    for (int32_t q = 0; q < c.qx * c.qy; ++q) {
        const int32_t a = q % c.qx, b = q / c.qx;
        BLOCK_RECT r = rect_intersect(visible, BLOCK_RECT{8 * a, 8 * b, 8 * a + 8, 8 * b + 8});
        if (q != 0) r = rect_translate(r, -8 * a, -8 * b);
        if (r == EMPTY_RECT) continue;
        const int32_t off = (c.qx == 2 ? 4 * a : 0) + (c.qy == 2 ? 32 * b : 0);
        uint8_t *out = cv.px(c, 8 * a, 8 * b);
        if (c.part3) c.part3(m.y() + 64 * q, m.cb() + off, m.cr() + off, out, r, cv.line);
        else c.part4(m.y() + 64 * q, m.cb() + off, m.cr() + off, m.k() + 64 * q, out, r, cv.line);
    }
}

TEST(ColorKernels, FullKernelsMatchThePerPixelRule) {
    for (const KernelCase &c : kCases) {
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            const Mcu m = make_mcu(c, seed);
            Canvas cv(c);
            run_full(c, m, cv);
            const int32_t bpp = bpp_of(c.fmt);
            for (int32_t y = 0; y < 8 * c.qy; ++y) {
                for (int32_t x = 0; x < 8 * c.qx; ++x) {
                    uint8_t want[4];
                    reference_pixel(c, m, x, y, want);
                    for (int32_t b = 0; b < bpp; ++b)
                        ASSERT_EQ(cv.px(c, x, y)[b], want[b]) << c.name << " x=" << x << " y=" << y << " byte " << b;
                }
                for (int32_t p = 0; p < kPad; ++p)
                    ASSERT_EQ(cv.bytes[static_cast<size_t>(y * cv.line + 8 * c.qx * bpp + p)], kPoison) << c.name << " pad";
            }
        }
    }
}

TEST(ColorKernels, PartialWritersGiveTheFullKernelBytesAndNothingElse) {
    std::mt19937 rng(7);
    for (const KernelCase &c : kCases) {
        const int32_t w = 8 * c.qx, h = 8 * c.qy, bpp = bpp_of(c.fmt);
        const Mcu m = make_mcu(c, 99);
        Canvas full(c);
        run_full(c, m, full);
        std::vector<BLOCK_RECT> rects = {{0, 0, w, h}, {0, 0, 1, 1}, {w - 1, h - 1, w, h}, {0, 0, 1, h},
                                         {3, 0, w, h}, {0, 0, w, 1}, {7, 7, 9, 9},        {1, 2, 1, 5}};
        std::uniform_int_distribution<int32_t> dx(0, w), dy(0, h);
        for (int32_t i = 0; i < 60; ++i) {
            int32_t l = dx(rng), r = dx(rng), t = dy(rng), b = dy(rng);
            if (l > r) std::swap(l, r);
            if (t > b) std::swap(t, b);
            rects.push_back({l, t, r, b});
        }
        for (const BLOCK_RECT &r : rects) {
            Canvas part(c);
            run_partial(c, m, part, r);
            for (int32_t y = 0; y < h; ++y) {
                for (int32_t x = 0; x < w; ++x) {
                    const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                    for (int32_t b = 0; b < bpp; ++b) {
                        const uint8_t got = part.px(c, x, y)[b];
                        const uint8_t want = inside ? full.px(c, x, y)[b] : kPoison;
                        ASSERT_EQ(got, want) << c.name << " rect {" << r.left << "," << r.top << "," << r.right
                                             << "," << r.bottom << "} x=" << x << " y=" << y << " byte " << b;
                    }
                }
            }
        }
    }
}

// One uniform MCU through a kernel: every pixel the same.
std::vector<uint8_t> uniform_pixel(const KernelCase &c, int16_t y, int16_t cb, int16_t cr, int16_t k = 0) {
    Mcu m{std::vector<int16_t>(static_cast<size_t>(2 * c.qx * c.qy + 2) * 64), c.qx * c.qy};
    for (int32_t i = 0; i < m.luma_blocks * 64; ++i) m.data[static_cast<size_t>(i)] = y;
    for (int32_t i = 0; i < 64; ++i) {
        m.data[static_cast<size_t>(64 * m.luma_blocks + i)] = cb;
        m.data[static_cast<size_t>(64 * m.luma_blocks + 64 + i)] = cr;
    }
    for (int32_t i = 0; i < m.luma_blocks * 64; ++i) m.data[static_cast<size_t>(64 * m.luma_blocks + 128 + i)] = k;
    Canvas cv(c);
    run_full(c, m, cv);
    const int32_t bpp = bpp_of(c.fmt);
    std::vector<uint8_t> first(cv.px(c, 0, 0), cv.px(c, 0, 0) + bpp);
    for (int32_t yy = 0; yy < 8 * c.qy; ++yy)
        for (int32_t xx = 0; xx < 8 * c.qx; xx += c.fmt == Fmt::Packed422 ? 2 : 1)
            EXPECT_EQ(std::vector<uint8_t>(cv.px(c, xx, yy), cv.px(c, xx, yy) + bpp), first) << c.name;
    return first;
}

TEST(ColorKernels, DocumentedExamples) {
    struct Example {
        int16_t y, cb, cr;
        uint8_t r, g, b;
    };
    const Example examples[] = {
        {128, 128, 128, 128, 129, 128}, // the green term rounds toward minus infinity
        {255, 128, 255, 255, 165, 255}, // red term 178 (clamped), green term 90
        {0, 0, 0, 0, 136, 0},           // r = -179, g = -136, b = -227
    };
    for (const KernelCase &c : kCases) {
        for (const Example &e : examples) {
            const auto px = uniform_pixel(c, e.y, e.cb, e.cr, 77);
            switch (c.fmt) {
            case Fmt::Rgb: EXPECT_EQ(px, (std::vector<uint8_t>{e.r, e.g, e.b})) << c.name; break;
            case Fmt::Bgr: EXPECT_EQ(px, (std::vector<uint8_t>{e.b, e.g, e.r})) << c.name; break;
            case Fmt::Rgba: EXPECT_EQ(px, (std::vector<uint8_t>{e.r, e.g, e.b, 255})) << c.name; break;
            case Fmt::Cmyk:
                EXPECT_EQ(px, (std::vector<uint8_t>{static_cast<uint8_t>(255 - e.r), static_cast<uint8_t>(255 - e.g),
                                                    static_cast<uint8_t>(255 - e.b), 77}))
                    << c.name;
                break;
            default: break;
            }
        }
    }
}

TEST(ColorKernels, CmykInvertsAfterClampingAndKeepsK) {
    for (const KernelCase &c : kCases) {
        if (c.fmt != Fmt::Cmyk) continue;
        EXPECT_EQ(uniform_pixel(c, 255, 128, 128, 200), (std::vector<uint8_t>{0, 0, 0, 200})) << c.name;
    }
}

TEST(ColorKernels, CopiesTakeTheLowEightBitsAndGrayClamps) {
    for (const KernelCase &c : kCases) {
        if (c.fmt == Fmt::Copy3) {
            EXPECT_EQ(uniform_pixel(c, 300, -1, 256), (std::vector<uint8_t>{44, 255, 0})) << c.name;
        } else if (c.fmt == Fmt::Copy4) {
            EXPECT_EQ(uniform_pixel(c, 1, 2, 3, 260), (std::vector<uint8_t>{1, 2, 3, 4})) << c.name;
        } else if (c.fmt == Fmt::Copy3Alpha) {
            EXPECT_EQ(uniform_pixel(c, 9, 8, 7), (std::vector<uint8_t>{9, 8, 7, 255})) << c.name;
        }
    }
    std::vector<int16_t> block(64);
    for (int32_t i = 0; i < 64; ++i) block[static_cast<size_t>(i)] = static_cast<int16_t>(i * 10 - 100);
    std::vector<uint8_t> out(8 * 10, kPoison);
    put_gray_8x8(block.data(), out.data(), 10);
    std::vector<uint8_t> part(8 * 10, kPoison);
    put_gray_8x8_partial(block.data(), part.data(), BLOCK_RECT{2, 1, 5, 7}, 10);
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(out[static_cast<size_t>(10 * y + x)], clampi(block[static_cast<size_t>(8 * y + x)]));
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 7;
            EXPECT_EQ(part[static_cast<size_t>(10 * y + x)], inside ? out[static_cast<size_t>(10 * y + x)] : kPoison);
        }
        EXPECT_EQ(out[static_cast<size_t>(10 * y + 8)], kPoison);
    }
}

TEST(ColorKernels, PackedPartialStartingOnAnOddColumnBeginsWithCr) {
    const KernelCase &c = kCases[std::size(kCases) - 1];
    ASSERT_EQ(c.fmt, Fmt::Packed422);
    const Mcu m = make_mcu(c, 5);
    Canvas cv(c);
    c.part3(m.y(), m.cb(), m.cr(), cv.bytes.data(), BLOCK_RECT{3, 0, 4, 1}, cv.line);
    EXPECT_EQ(cv.bytes[6], static_cast<uint8_t>(m.y()[3]));
    EXPECT_EQ(cv.bytes[7], static_cast<uint8_t>(m.cr()[1]));
    EXPECT_EQ(cv.bytes[5], kPoison);
    EXPECT_EQ(cv.bytes[8], kPoison);
}

} // namespace
