// Block placement and the fast MCU routines over whole images: edges, a
// region of interest, bottom-up buffers and row padding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pixels/block_rect.h"
#include "pixels/fast_routines.h"
#include "pixel_test_props.h"

namespace {

using namespace qrl;
using qrl_test::Fmt;
using qrl_test::kPoison;
using qrl_test::PixelRig;

TEST(BlockRect, IntersectTranslateAndEquality) {
    EXPECT_EQ(rect_intersect({0, 0, 8, 8}, {4, 2, 12, 6}), (BLOCK_RECT{4, 2, 8, 6}));
    EXPECT_EQ(rect_intersect({0, 0, 8, 8}, {9, 0, 16, 8}), EMPTY_RECT);
    // Touching rectangles give a degenerate, non-empty result.
    const BLOCK_RECT touch = rect_intersect({0, 0, 8, 8}, {8, 0, 16, 8});
    EXPECT_EQ(touch, (BLOCK_RECT{8, 0, 8, 8}));
    EXPECT_NE(touch, EMPTY_RECT);
    EXPECT_EQ(rect_translate({8, 8, 16, 16}, -8, -8), (BLOCK_RECT{0, 0, 8, 8}));
    EXPECT_EQ(rect_translate(EMPTY_RECT, 5, 5), EMPTY_RECT);
}

TEST(PlaceBlock, WithoutRegionClipsAtTheImageEdge) {
    const int32_t roi[4] = {0, 0, 0, 0};
    std::vector<uint8_t> memory(4096);
    uint8_t *base = memory.data() + 2048;
    uint8_t *addr = nullptr;
    BLOCK_RECT v;
    ASSERT_EQ(place_block(roi, 16, 16, 1, 0, 3, 100, base, 17, 9, &addr, &v), JPEG_OK);
    EXPECT_EQ(addr - base, 48);
    EXPECT_EQ(v, (BLOCK_RECT{0, 0, 1, 9}));
    ASSERT_EQ(place_block(roi, 16, 16, 0, 0, 3, 100, base, 17, -9, &addr, &v), JPEG_OK);
    EXPECT_EQ(v, (BLOCK_RECT{0, 0, 16, 9}));
    ASSERT_EQ(place_block(roi, 8, 8, 2, 3, 4, -40, base, 64, 64, &addr, &v), JPEG_OK);
    EXPECT_EQ(addr - base, 2 * 8 * 4 - 3 * 8 * 40);
}

TEST(PlaceBlock, RegionOfInterest) {
    const int32_t roi[4] = {8, 8, 24, 24};
    std::vector<uint8_t> memory(4096);
    uint8_t *base = memory.data() + 2048;
    uint8_t *addr = nullptr;
    BLOCK_RECT v;
    ASSERT_EQ(place_block(roi, 16, 16, 0, 0, 3, 48, base, 16, 16, &addr, &v), JPEG_OK);
    EXPECT_EQ(v, (BLOCK_RECT{8, 8, 16, 16}));
    EXPECT_EQ(addr - base, -(8 * 3 + 8 * 48)); // the visible quadrant lands at the origin
    ASSERT_EQ(place_block(roi, 16, 16, 1, 1, 3, 48, base, 16, 16, &addr, &v), JPEG_OK);
    EXPECT_EQ(v, (BLOCK_RECT{0, 0, 8, 8}));
    EXPECT_EQ(addr - base, 8 * 3 + 8 * 48);
    uint8_t *untouched = base;
    BLOCK_RECT keep = {1, 2, 3, 4};
    EXPECT_EQ(place_block(roi, 16, 16, 2, 0, 3, 48, base, 16, 16, &untouched, &keep), JPEG_INVALID_PROPERTIES);
    EXPECT_EQ(place_block(roi, 16, 16, 0, 2, 3, 48, base, 16, 16, &untouched, &keep), JPEG_INVALID_PROPERTIES);
    EXPECT_EQ(untouched, base);
    EXPECT_EQ(keep, (BLOCK_RECT{1, 2, 3, 4}));
}

struct RoutineCase {
    const char *name;
    McuFn routine;
    Fmt fmt;
    std::vector<std::pair<int32_t, int32_t>> factors;
    int32_t jpeg_color, image_color, channels;
};

const RoutineCase kRoutines[] = {
    {"rgb_h1v1", mcu_ycc_rgb_h1v1, Fmt::Rgb, {{1, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3},
    {"bgr_h1v1", mcu_ycc_bgr_h1v1, Fmt::Bgr, {{1, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_BGR, 3},
    {"rgb_h2v2", mcu_ycc_rgb_h2v2, Fmt::Rgb, {{2, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3},
    {"bgr_h2v2", mcu_ycc_bgr_h2v2, Fmt::Bgr, {{2, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_BGR, 3},
    {"rgb_h2v1", mcu_ycc_rgb_h2v1, Fmt::Rgb, {{2, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3},
    {"bgr_h2v1", mcu_ycc_bgr_h2v1, Fmt::Bgr, {{2, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_BGR, 3},
    {"rgba_h1v1", mcu_ycc_rgba_h1v1, Fmt::Rgba, {{1, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_CMYK, 4},
    {"rgba_h2v2", mcu_ycc_rgba_h2v2, Fmt::Rgba, {{2, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_CMYK, 4},
    {"rgba_h2v1", mcu_ycc_rgba_h2v1, Fmt::Rgba, {{2, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_CMYK, 4},
    {"cmyk_h1v1", mcu_ycck_cmyk_h1v1, Fmt::Cmyk, {{1, 1}, {1, 1}, {1, 1}, {1, 1}}, COLOR_YCCK, COLOR_CMYK, 4},
    {"cmyk_h2v2", mcu_ycck_cmyk_h2v2, Fmt::Cmyk, {{2, 2}, {1, 1}, {1, 1}, {2, 2}}, COLOR_YCCK, COLOR_CMYK, 4},
    {"cmyk_h2v1", mcu_ycck_cmyk_h2v1, Fmt::Cmyk, {{2, 1}, {1, 1}, {1, 1}, {2, 1}}, COLOR_YCCK, COLOR_CMYK, 4},
    {"interleave3_alpha", mcu_interleave3_alpha, Fmt::Copy3Alpha, {{1, 1}, {1, 1}, {1, 1}}, COLOR_RGB, COLOR_CMYK, 4},
    {"interleave4", mcu_interleave4, Fmt::Copy4, {{1, 1}, {1, 1}, {1, 1}, {1, 1}}, COLOR_CMYK, COLOR_CMYK, 4},
    {"interleave3", mcu_interleave3, Fmt::Copy3, {{1, 1}, {1, 1}, {1, 1}}, COLOR_RGB, COLOR_RGB, 3},
    {"interleave3_h2v2", mcu_interleave3_h2v2, Fmt::Copy3, {{2, 2}, {1, 1}, {1, 1}}, COLOR_RGB, COLOR_RGB, 3},
    {"interleave3_h2v1", mcu_interleave3_h2v1, Fmt::Copy3, {{2, 1}, {1, 1}, {1, 1}}, COLOR_RGB, COLOR_RGB, 3},
    {"packed422", mcu_ycc_packed422, Fmt::Packed422, {{2, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_YCBCR, 2},
};

struct Geometry {
    int32_t width, height;
    BLOCK_RECT roi; // all 0 = whole image
    bool bottom_up;
};

const Geometry kGeometries[] = {
    {17, 9, {0, 0, 0, 0}, false},  {17, 9, {0, 0, 0, 0}, true},   {16, 16, {0, 0, 0, 0}, false},
    {1, 1, {0, 0, 0, 0}, false},   {33, 17, {0, 0, 0, 0}, false}, {32, 32, {8, 8, 24, 24}, false},
    {40, 24, {3, 5, 29, 22}, false}, {40, 24, {3, 5, 29, 22}, true}, {25, 19, {0, 0, 25, 19}, false},
};

// Runs the routine over every MCU of the image (each MCU with its own random
// blocks) and checks every byte of the buffer.
void check_routine(const RoutineCase &rc, const Geometry &g) {
    const int32_t qx = rc.factors[0].first, qy = rc.factors[0].second;
    const int32_t mw = 8 * qx, mh = 8 * qy;
    const bool has_roi = g.roi != EMPTY_RECT;
    const int32_t out_w = has_roi ? g.roi.right - g.roi.left : g.width;
    const int32_t out_h = has_roi ? g.roi.bottom - g.roi.top : g.height;
    PixelRig rig(g.width, g.height, rc.factors, rc.jpeg_color, rc.image_color, rc.channels, 3);
    rig.set_buffer(out_w, g.bottom_up ? -out_h : out_h, 3);
    if (has_roi) {
        rig.props->roi[0] = g.roi.left, rig.props->roi[1] = g.roi.top;
        rig.props->roi[2] = g.roi.right, rig.props->roi[3] = g.roi.bottom;
    }
    const int32_t cols = (g.width + mw - 1) / mw, rows = (g.height + mh - 1) / mh;
    const int32_t blocks = 2 * qx * qy + 2;
    std::vector<std::vector<int16_t>> mcus;
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < cols; ++c) {
            mcus.push_back(qrl_test::random_blocks(static_cast<uint32_t>(1000 * r + c + 1), blocks));
            std::copy(mcus.back().begin(), mcus.back().end(), rig.mcu.begin());
            const int32_t result = rc.routine(rig.props.get(), c, r);
            const bool outside = has_roi && (c * mw >= g.roi.right || c * mw + mw < g.roi.left ||
                                             r * mh >= g.roi.bottom || r * mh + mh < g.roi.top);
            ASSERT_EQ(result, outside ? JPEG_INVALID_PROPERTIES : JPEG_OK) << rc.name << " MCU " << c << "," << r;
        }
    }
    const int32_t bpp = rc.channels;
    const int32_t stride = out_w * bpp + 3;
    for (int32_t y = 0; y < out_h; ++y) {
        // Memory row of image row y.
        const uint8_t *row = rig.pixels.data() + static_cast<size_t>(g.bottom_up ? out_h - 1 - y : y) * stride;
        for (int32_t x = 0; x < out_w; ++x) {
            const int32_t ix = x + (has_roi ? g.roi.left : 0), iy = y + (has_roi ? g.roi.top : 0);
            const auto &m = mcus[static_cast<size_t>((iy / mh) * cols + ix / mw)];
            uint8_t want[4];
            qrl_test::reference_pixel(rc.fmt, qx, qy, m.data(), ix % mw, iy % mh, want);
            for (int32_t b = 0; b < bpp; ++b)
                ASSERT_EQ(row[x * bpp + b], want[b]) << rc.name << " " << g.width << "x" << g.height << " pixel "
                                                     << x << "," << y << " byte " << b;
        }
        for (int32_t p = out_w * bpp; p < stride; ++p) ASSERT_EQ(row[p], kPoison) << rc.name << " pad byte";
    }
    for (size_t i = static_cast<size_t>(stride) * out_h; i < rig.pixels.size(); ++i)
        ASSERT_EQ(rig.pixels[i], kPoison) << rc.name << " past the buffer";
}

TEST(FastRoutines, EveryRoutineOverEdgesRegionsAndBottomUpBuffers) {
    for (const RoutineCase &rc : kRoutines)
        for (const Geometry &g : kGeometries) check_routine(rc, g);
}

TEST(FastRoutines, SeventeenByNineClipsTheSecondMcuToOneColumn) {
    PixelRig rig(17, 9, {{2, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3, 0);
    rig.fill_random(3, 6);
    ASSERT_EQ(mcu_ycc_rgb_h2v2(rig.props.get(), 1, 0), JPEG_OK);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 17; ++x)
            for (int32_t b = 0; b < 3; ++b) EXPECT_EQ(rig.at(x, y)[b] != kPoison, x == 16) << x << "," << y;
}

TEST(McuGray, FullAndClippedBlocksClamp) {
    PixelRig rig(12, 10, {{1, 1}}, COLOR_GRAY, COLOR_GRAY, 1, 2);
    for (int32_t i = 0; i < 64; ++i) rig.mcu[static_cast<size_t>(i)] = static_cast<int16_t>(i * 6 - 60);
    for (int32_t r = 0; r < 2; ++r)
        for (int32_t c = 0; c < 2; ++c) ASSERT_EQ(mcu_gray(rig.props.get(), c, r), JPEG_OK);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 12; ++x)
            EXPECT_EQ(rig.at(x, y)[0], qrl_test::clampi(((y % 8) * 8 + x % 8) * 6 - 60)) << x << "," << y;
        EXPECT_EQ(rig.at(12, y)[0], kPoison);
        EXPECT_EQ(rig.at(13, y)[0], kPoison);
    }
}

TEST(McuCopyPlanes, GrayReplicatesRgbReversesAndCmykGetsOpaqueFourth) {
    struct Case {
        int32_t components, jpeg_color, image_color, channels;
        std::vector<uint8_t> want; // pixel bytes for components 10, 20, 30, 40
    };
    const Case cases[] = {
        {1, COLOR_GRAY, COLOR_RGB, 3, {10, 10, 10}},
        {1, COLOR_GRAY, COLOR_CMYK, 4, {10, 10, 10, 255}},
        {1, COLOR_GRAY, COLOR_OTHER, 2, {10, 10}},
        {3, COLOR_RGB, COLOR_BGR, 3, {30, 20, 10}},
        {3, COLOR_YCBCR, COLOR_GRAY, 1, {10}},
        {3, COLOR_RGB, COLOR_CMYK, 4, {10, 20, 30, 255}},
        {3, COLOR_OTHER, COLOR_OTHER, 4, {10, 20, 30, kPoison}},
        {2, COLOR_OTHER, COLOR_OTHER, 3, {10, 20, kPoison}},
        {4, COLOR_CMYK, COLOR_RGB, 3, {10, 20, 30}},
    };
    for (const Case &c : cases) {
        PixelRig rig(9, 9, std::vector<std::pair<int32_t, int32_t>>(static_cast<size_t>(c.components), {1, 1}),
                     c.jpeg_color, c.image_color, c.channels, 1);
        for (int32_t k = 0; k < 4; ++k)
            for (int32_t i = 0; i < 64; ++i) rig.mcu[static_cast<size_t>(64 * k + i)] = static_cast<int16_t>(10 * (k + 1));
        ASSERT_EQ(mcu_copy_planes(rig.props.get(), 1, 1), JPEG_OK);
        EXPECT_EQ(std::vector<uint8_t>(rig.at(8, 8), rig.at(8, 8) + c.channels), c.want) << c.components << " " << c.image_color;
        EXPECT_EQ(rig.at(7, 7)[0], kPoison);
        EXPECT_EQ(rig.at(8, 8)[c.channels], kPoison); // the row pad
    }
}

// A twin that differs from the portable kernel (as a SIMD twin may in its
// rounding): a cut MCU must show exactly the twin's bytes for its visible
// pixels, so that a region decode equals the crop of a whole decode.
void twin_rgb_h2v2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line) {
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const int32_t q = (x >= 8 ? 1 : 0) + (y >= 8 ? 2 : 0);
            uint8_t *o = out + y * line + 3 * x;
            o[0] = static_cast<uint8_t>(c0[64 * q + 8 * (y % 8) + x % 8] ^ 0x55);
            o[1] = static_cast<uint8_t>(c1[8 * (y >> 1) + (x >> 1)]);
            o[2] = static_cast<uint8_t>(c2[8 * (y >> 1) + (x >> 1)] + 1);
        }
}

TEST(FastRoutines, CutMcusFollowANonPortableTwinExactly) {
    for (const Geometry &g : {Geometry{17, 9, {0, 0, 0, 0}, false}, Geometry{40, 24, {3, 5, 29, 22}, true}}) {
        const bool has_roi = g.roi != EMPTY_RECT;
        const int32_t out_w = has_roi ? g.roi.right - g.roi.left : g.width;
        const int32_t out_h = has_roi ? g.roi.bottom - g.roi.top : g.height;
        PixelRig rig(g.width, g.height, {{2, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3, 2);
        rig.table.ycc_to_rgb_h2v2 = twin_rgb_h2v2;
        rig.set_buffer(out_w, g.bottom_up ? -out_h : out_h, 2);
        for (int32_t i = 0; i < 4; ++i) rig.props->roi[i] = (&g.roi.left)[i];
        const int32_t cols = (g.width + 15) / 16, rows = (g.height + 15) / 16;
        std::vector<std::vector<uint8_t>> rendered;
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < cols; ++c) {
                rig.fill_random(static_cast<uint32_t>(50 * r + c + 1), 6);
                std::vector<uint8_t> whole(16 * 16 * 3);
                twin_rgb_h2v2(rig.mcu.data(), rig.mcu.data() + 256, rig.mcu.data() + 320, whole.data(), 48);
                rendered.push_back(whole);
                (void)mcu_ycc_rgb_h2v2(rig.props.get(), c, r);
            }
        for (int32_t y = 0; y < out_h; ++y) {
            for (int32_t x = 0; x < out_w; ++x) {
                const int32_t ix = x + (has_roi ? g.roi.left : 0), iy = y + (has_roi ? g.roi.top : 0);
                const auto &m = rendered[static_cast<size_t>((iy / 16) * cols + ix / 16)];
                for (int32_t b = 0; b < 3; ++b)
                    ASSERT_EQ(rig.at(x, y)[b], m[static_cast<size_t>((iy % 16) * 48 + (ix % 16) * 3 + b)])
                        << x << "," << y;
            }
            ASSERT_EQ(rig.at(out_w, y)[0], kPoison);
        }
    }
}

} // namespace
