// Component-plane writers: replication against the fast routines, in-place
// conversion, separate-scan images, packed 4:2:2 scans, smoothing filters
// with the neighbour ring and lag, whole-image conversion and scaled output.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "pixels/fast_routines.h"
#include "pixels/output_select.h"
#include "pixels/plane_writers.h"
#include "pixels/scaled_output.h"
#include "pixels/smooth_upsampling.h"
#include "pixel_test_props.h"

namespace {

using namespace qrl;
using qrl_test::kPoison;
using qrl_test::PixelRig;
using Factors = std::vector<std::pair<int32_t, int32_t>>;

int32_t blocks_of(const Factors &f) {
    int32_t n = 0;
    for (auto [h, v] : f) n += h * v;
    return n;
}

// Random MCU contents of MCU (c, r), the same whichever routine consumes them.
std::vector<int16_t> mcu_data(const Factors &f, int32_t c, int32_t r, int32_t lo = 0, int32_t hi = 255) {
    return qrl_test::random_blocks(static_cast<uint32_t>(7919 * r + 31 * c + 5), blocks_of(f), lo, hi);
}

// Decodes a whole synthetic image through one routine.
std::vector<uint8_t> run_image(int32_t w, int32_t h, const Factors &f, int32_t jc, int32_t oc, int32_t ch,
                               McuFn routine) {
    PixelRig rig(w, h, f, jc, oc, ch, 2);
    EXPECT_EQ(select_output(rig.props.get()), JPEG_OK);
    for (int32_t r = 0; r < rig.props->mcu_rows; ++r) {
        for (int32_t c = 0; c < rig.props->mcus_per_row; ++c) {
            auto d = mcu_data(f, c, r);
            std::copy(d.begin(), d.end(), rig.mcu.begin());
            (void)routine(rig.props.get(), c, r);
        }
    }
    return rig.pixels;
}

struct Size {
    int32_t w, h;
};
const Size kSizes[] = {{16, 16}, {17, 9}, {37, 21}, {1, 1}, {48, 8}};

TEST(PlaneWriters, ReplicationMatchesTheInterleavingFastRoutines) {
    const Factors k420 = {{2, 2}, {1, 1}, {1, 1}}, k422 = {{2, 1}, {1, 1}, {1, 1}}, k444 = {{1, 1}, {1, 1}, {1, 1}};
    for (const Size &s : kSizes) {
        EXPECT_EQ(run_image(s.w, s.h, k420, COLOR_RGB, COLOR_RGB, 3, mcu_scan_planes),
                  run_image(s.w, s.h, k420, COLOR_RGB, COLOR_RGB, 3, mcu_interleave3_h2v2)) << s.w << "x" << s.h;
        EXPECT_EQ(run_image(s.w, s.h, k422, COLOR_RGB, COLOR_RGB, 3, mcu_frame_planes),
                  run_image(s.w, s.h, k422, COLOR_RGB, COLOR_RGB, 3, mcu_interleave3_h2v1)) << s.w << "x" << s.h;
        EXPECT_EQ(run_image(s.w, s.h, k444, COLOR_RGB, COLOR_RGB, 3, mcu_scan_planes),
                  run_image(s.w, s.h, k444, COLOR_RGB, COLOR_RGB, 3, mcu_interleave3)) << s.w << "x" << s.h;
        EXPECT_EQ(run_image(s.w, s.h, k444, COLOR_RGB, COLOR_BGR, 3, mcu_scan_planes),
                  run_image(s.w, s.h, k444, COLOR_RGB, COLOR_BGR, 3, mcu_copy_planes)) << s.w << "x" << s.h;
        EXPECT_EQ(run_image(s.w, s.h, k422, COLOR_YCBCR, COLOR_YCBCR, 2, mcu_scan_planes),
                  run_image(s.w, s.h, k422, COLOR_YCBCR, COLOR_YCBCR, 2, mcu_ycc_packed422)) << s.w << "x" << s.h;
    }
}

TEST(PlaneWriters, ConvertedPlanesDifferFromTheFastKernelsOnlyInGreenRounding) {
    const Factors k420 = {{2, 2}, {1, 1}, {1, 1}};
    for (const Size &s : kSizes) {
        const auto planes = run_image(s.w, s.h, k420, COLOR_YCBCR, COLOR_RGB, 3, mcu_planes_converted);
        const auto fast = run_image(s.w, s.h, k420, COLOR_YCBCR, COLOR_RGB, 3, mcu_ycc_rgb_h2v2);
        ASSERT_EQ(planes.size(), fast.size());
        for (size_t i = 0; i < planes.size(); ++i) {
            const bool green = (i % static_cast<size_t>(3 * s.w + 2)) % 3 == 1 &&
                               i % static_cast<size_t>(3 * s.w + 2) < static_cast<size_t>(3 * s.w);
            if (green) EXPECT_LE(std::abs(planes[i] - fast[i]), 1) << i;
            else EXPECT_EQ(planes[i], fast[i]) << i;
        }
    }
}

// Reference of a replicated, in-place converted image of any sampling.
void expect_converted_reference(int32_t w, int32_t h, const Factors &f, int32_t jc, int32_t oc, int32_t ch) {
    PixelRig rig(w, h, f, jc, oc, ch, 1);
    ASSERT_EQ(select_output(rig.props.get()), JPEG_OK);
    ASSERT_EQ(rig.table.mcu_writer, mcu_planes_converted);
    const int32_t mh = rig.props->max_h_sampling, mv = rig.props->max_v_sampling;
    for (int32_t r = 0; r < rig.props->mcu_rows; ++r)
        for (int32_t c = 0; c < rig.props->mcus_per_row; ++c) {
            auto d = mcu_data(f, c, r);
            std::copy(d.begin(), d.end(), rig.mcu.begin());
            ASSERT_EQ(rig.table.mcu_writer(rig.props.get(), c, r), JPEG_OK);
        }
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int32_t c = x / (8 * mh), r = y / (8 * mv), mx = x % (8 * mh), my = y % (8 * mv);
            const auto d = mcu_data(f, c, r);
            int32_t s[3];
            int32_t offset = 0;
            for (int32_t k = 0; k < 3; ++k) {
                const int32_t bh = mh / f[k].first, bv = mv / f[k].second;
                const int32_t sx = mx / bh, sy = my / bv; // sample within the component's blocks
                const int32_t block = (sy / 8) * f[k].first + sx / 8;
                s[k] = d[static_cast<size_t>(64 * (offset + block) + 8 * (sy % 8) + sx % 8)];
                offset += f[k].first * f[k].second;
            }
            const int32_t R = qrl_test::clampi(s[0] + ((359 * s[2] - 45813) >> 8));
            const int32_t G = qrl_test::clampi(s[0] + ((34806 - 88 * s[1] - 183 * s[2]) >> 8));
            const int32_t B = qrl_test::clampi(s[0] + ((454 * s[1] - 57937) >> 8));
            const uint8_t *p = rig.at(x, y);
            if (jc == COLOR_YCCK) {
                EXPECT_EQ(p[0], 255 - R);
                EXPECT_EQ(p[3], static_cast<uint8_t>(d[static_cast<size_t>(64 * (offset + (my / 8) * f[3].first + mx / 8) + 8 * (my % 8) + mx % 8)]));
            } else {
                EXPECT_EQ(p[0], R) << x << "," << y;
                EXPECT_EQ(p[1], G) << x << "," << y;
                EXPECT_EQ(p[2], B) << x << "," << y;
                if (ch == 4) {
                    EXPECT_EQ(p[3], 255);
                }
            }
        }
        EXPECT_EQ(rig.at(w, y)[0], kPoison);
    }
}

TEST(PlaneWriters, UnusualLayoutsConvertInPlace) {
    expect_converted_reference(37, 21, {{4, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3);
    expect_converted_reference(37, 21, {{1, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3);
    expect_converted_reference(37, 21, {{1, 1}, {2, 2}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3);
    expect_converted_reference(23, 30, {{1, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_CMYK, 4);
    expect_converted_reference(23, 30, {{3, 1}, {1, 1}, {1, 1}, {3, 1}}, COLOR_YCCK, COLOR_CMYK, 4);
}

// A 4:2:0 or 4:2:2 image sent as one scan per component, in the given order.
std::vector<uint8_t> run_separate_scans(int32_t w, int32_t h, const Factors &f, int32_t oc, int32_t ch,
                                        const std::vector<int32_t> &order) {
    PixelRig rig(w, h, f, COLOR_YCBCR, oc, ch, 2);
    rig.props->partial_scan = 1;
    if (select_output(rig.props.get()) != JPEG_OK) return {};
    const int32_t mh = rig.props->max_h_sampling, mv = rig.props->max_v_sampling;
    for (int32_t comp : order) {
        rig.scan.scan_component_count = 1;
        rig.scan_components[0].component_index = comp;
        const int32_t H = f[static_cast<size_t>(comp)].first, V = f[static_cast<size_t>(comp)].second;
        const int32_t uw = 8 * mh / H, uh = 8 * mv / V;
        const int32_t cols = (w + uw - 1) / uw, rows = (h + uh - 1) / uh;
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < cols; ++c) {
                // Block (c, r) of the component, taken from the MCU data.
                const int32_t mc = c / H, mr = r / V;
                const auto d = mcu_data(f, mc, mr);
                int32_t offset = 0;
                for (int32_t k = 0; k < comp; ++k) offset += f[static_cast<size_t>(k)].first * f[static_cast<size_t>(k)].second;
                const int32_t block = offset + (r % V) * H + (c % H);
                std::copy(d.begin() + 64 * block, d.begin() + 64 * block + 64, rig.mcu.begin());
                (void)rig.table.mcu_writer(rig.props.get(), c, r);
            }
    }
    rig.props->partial_scan = 1;
    if (convert_image_in_place(rig.props.get()) != JPEG_OK) return {};
    return rig.pixels;
}

TEST(PlaneWriters, SeparateScansInAnyOrderEqualTheInterleavedImage) {
    const Factors k420 = {{2, 2}, {1, 1}, {1, 1}}, k422 = {{2, 1}, {1, 1}, {1, 1}};
    for (const Size &s : kSizes) {
        const auto whole = run_image(s.w, s.h, k420, COLOR_YCBCR, COLOR_RGB, 3, mcu_planes_converted);
        EXPECT_EQ(run_separate_scans(s.w, s.h, k420, COLOR_RGB, 3, {0, 1, 2}), whole) << s.w << "x" << s.h;
        EXPECT_EQ(run_separate_scans(s.w, s.h, k420, COLOR_RGB, 3, {2, 1, 0}), whole) << s.w << "x" << s.h;
        // Packed 4:2:2 from three scans equals the packed fast routine.
        EXPECT_EQ(run_separate_scans(s.w, s.h, k422, COLOR_YCBCR, 2, {0, 1, 2}),
                  run_image(s.w, s.h, k422, COLOR_YCBCR, COLOR_YCBCR, 2, mcu_ycc_packed422))
            << s.w << "x" << s.h;
        // One-channel output: the chroma scans write nothing.
        EXPECT_EQ(run_separate_scans(s.w, s.h, k420, COLOR_GRAY, 1, {0, 1, 2}),
                  run_separate_scans(s.w, s.h, k420, COLOR_GRAY, 1, {0}));
    }
}

// Smoothing: the scan loop's lag walk over a whole image with the ring.
struct SmoothRun {
    std::vector<uint8_t> pixels;
    int32_t line;
};

SmoothRun run_smoothed(int32_t w, int32_t h, const Factors &f, int32_t scale = 1) {
    PixelRig rig(w, h, f, COLOR_RGB, COLOR_RGB, 3, 0);
    const int32_t n = 8 / scale;
    rig.set_buffer((w + scale - 1) / scale, (h + scale - 1) / scale, 0);
    rig.props->smooth_upsampling = 1;
    EXPECT_EQ(select_output(rig.props.get()), JPEG_OK);
    const int32_t cols = rig.props->mcus_per_row, rows = rig.props->mcu_rows;
    const int32_t per_row = blocks_of(f) * (cols + 2);
    std::vector<int16_t> ring_memory(static_cast<size_t>(4 * per_row * 64), 0);
    NEIGHBOUR_RING ring{};
    for (int32_t i = 0; i < 4; ++i) ring.rows[i] = ring_memory.data() + static_cast<size_t>(i * per_row * 64);
    rig.props->neighbour_ring = &ring;
    rig.props->neighbour_ring_blocks = per_row;
    EXPECT_TRUE(smoothing_active(rig.props.get()));
    const int32_t row_lag = rig.props->max_v_sampling == 2 ? 1 : 0;
    for (int32_t r = 0; r < rows + row_lag; ++r) {
        for (int32_t c = 0; c < cols + 1; ++c) {
            if (c < cols && r < rows) {
                auto d = mcu_data(f, c, r);
                std::copy(d.begin(), d.end(), rig.mcu.begin());
            }
            int32_t oc = -1, orow = -1;
            if (!smooth_store_and_lag(rig.props.get(), c, r, cols, rows, blocks_of(f), &oc, &orow)) continue;
            if (scale == 1) (void)rig.table.mcu_writer(rig.props.get(), oc, orow);
            else write_scaled_mcu(rig.props.get(), &rig.props->input, &rig.scan, oc, orow, n, 0);
        }
    }
    rig.props->neighbour_ring = nullptr;
    return {rig.pixels, rig.props->line_bytes};
}

// The chroma component k of the whole image, samples clamped at its edges.
std::function<int32_t(int32_t, int32_t)> chroma_image(const Factors &f, int32_t k, int32_t cw, int32_t chh,
                                                      int32_t n = 8) {
    return [=](int32_t x, int32_t y) {
        x = x < 0 ? 0 : (x >= cw ? cw - 1 : x);
        y = y < 0 ? 0 : (y >= chh ? chh - 1 : y);
        const auto d = mcu_data(f, x / n, y / n);
        int32_t offset = 0;
        for (int32_t i = 0; i < k; ++i) offset += f[static_cast<size_t>(i)].first * f[static_cast<size_t>(i)].second;
        return static_cast<int32_t>(d[static_cast<size_t>(64 * offset + 8 * (y % n) + x % n)]);
    };
}

TEST(Smoothing, H2V1TriangleFilterAcrossMcuBordersAndImageEdges) {
    const Factors k422 = {{2, 1}, {1, 1}, {1, 1}};
    for (const Size &s : {Size{32, 8}, Size{37, 11}, Size{16, 8}, Size{3, 2}}) {
        const SmoothRun run = run_smoothed(s.w, s.h, k422);
        const int32_t cw = (s.w + 1) / 2;
        for (int32_t k = 1; k < 3; ++k) {
            const auto C = chroma_image(k422, k, cw, s.h);
            for (int32_t y = 0; y < s.h; ++y)
                for (int32_t x = 0; x < s.w; ++x) {
                    const int32_t i = x >> 1, c = C(i, y);
                    const int32_t want = (x & 1) ? (3 * c + C(i + 1, y) + 2) >> 2 : (3 * c + C(i - 1, y) + 1) >> 2;
                    ASSERT_EQ(run.pixels[static_cast<size_t>(y * run.line + 3 * x + k)], want)
                        << s.w << "x" << s.h << " x=" << x << " y=" << y << " comp " << k;
                }
        }
    }
}

TEST(Smoothing, H2V2TriangleFilterAcrossMcuBordersAndImageEdges) {
    const Factors k420 = {{2, 2}, {1, 1}, {1, 1}};
    for (const Size &s : {Size{32, 32}, Size{37, 21}, Size{16, 16}, Size{5, 3}}) {
        const SmoothRun run = run_smoothed(s.w, s.h, k420);
        const int32_t cw = (s.w + 1) / 2, chh = (s.h + 1) / 2;
        for (int32_t k = 1; k < 3; ++k) {
            const auto C = chroma_image(k420, k, cw, chh);
            for (int32_t y = 0; y < s.h; ++y)
                for (int32_t x = 0; x < s.w; ++x) {
                    const int32_t i = x >> 1, j = y >> 1;
                    const int32_t sx = (x & 1) ? 1 : -1, sy = (y & 1) ? 1 : -1;
                    const int32_t want = (9 * C(i, j) + 3 * C(i + sx, j) + 3 * C(i, j + sy) + C(i + sx, j + sy) +
                                          ((x & 1) ? 7 : 8)) >> 4;
                    ASSERT_EQ(run.pixels[static_cast<size_t>(y * run.line + 3 * x + k)], want)
                        << s.w << "x" << s.h << " x=" << x << " y=" << y << " comp " << k;
                }
        }
    }
}

TEST(Smoothing, ReducedScaleSmoothsTwoByOneFrames) {
    const Factors k422 = {{2, 1}, {1, 1}, {1, 1}};
    const int32_t scale = 2, n = 4, w = 37, h = 11;
    const SmoothRun run = run_smoothed(w, h, k422, scale);
    const int32_t ow = (w + 1) / 2, oh = (h + 1) / 2;
    const int32_t cw = (w + 2 * scale - 1) / (2 * scale);
    const auto C = chroma_image(k422, 1, cw, oh, n);
    for (int32_t y = 0; y < oh; ++y)
        for (int32_t x = 0; x < ow; ++x) {
            const int32_t i = x >> 1, c = C(i, y);
            const int32_t want = (x & 1) ? (3 * c + C(i + 1, y) + 2) >> 2 : (3 * c + C(i - 1, y) + 1) >> 2;
            ASSERT_EQ(run.pixels[static_cast<size_t>(y * run.line + 3 * x + 1)], want) << x << "," << y;
        }
}

TEST(Smoothing, LagOutputsNothingForTheFirstColumnAndRow) {
    PixelRig rig(32, 32, {{2, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3);
    rig.props->smooth_upsampling = 1;
    ASSERT_EQ(select_output(rig.props.get()), JPEG_OK);
    std::vector<int16_t> memory(static_cast<size_t>(4 * 6 * 4 * 64));
    NEIGHBOUR_RING ring{};
    for (int32_t i = 0; i < 4; ++i) ring.rows[i] = memory.data() + i * 6 * 4 * 64;
    rig.props->neighbour_ring = &ring;
    rig.props->neighbour_ring_blocks = 6 * 4;
    int32_t oc = 0, orow = 0;
    EXPECT_FALSE(smooth_store_and_lag(rig.props.get(), 0, 0, 2, 2, 6, &oc, &orow));
    EXPECT_FALSE(smooth_store_and_lag(rig.props.get(), 1, 0, 2, 2, 6, &oc, &orow));
    EXPECT_FALSE(smooth_store_and_lag(rig.props.get(), 2, 0, 2, 2, 6, &oc, &orow));
    EXPECT_FALSE(smooth_store_and_lag(rig.props.get(), 0, 1, 2, 2, 6, &oc, &orow));
    ASSERT_TRUE(smooth_store_and_lag(rig.props.get(), 1, 1, 2, 2, 6, &oc, &orow));
    EXPECT_EQ(oc, 0);
    EXPECT_EQ(orow, 0);
    ASSERT_TRUE(smooth_store_and_lag(rig.props.get(), 2, 2, 2, 2, 6, &oc, &orow));
    EXPECT_EQ(oc, 1);
    EXPECT_EQ(orow, 1);
    rig.props->neighbour_ring = nullptr;
}

TEST(Smoothing, ConstantChromaStaysConstant) {
    for (const Factors &f : {Factors{{2, 1}, {1, 1}, {1, 1}}, Factors{{2, 2}, {1, 1}, {1, 1}}}) {
        PixelRig rig(32, 32, f, COLOR_RGB, COLOR_RGB, 3, 0);
        rig.props->smooth_upsampling = 1;
        ASSERT_EQ(select_output(rig.props.get()), JPEG_OK);
        std::vector<int16_t> memory(static_cast<size_t>(4 * 6 * 4 * 64), 77);
        NEIGHBOUR_RING ring{};
        for (int32_t i = 0; i < 4; ++i) ring.rows[i] = memory.data() + i * 6 * 4 * 64;
        rig.props->neighbour_ring = &ring;
        rig.props->neighbour_ring_blocks = 6 * 4;
        std::fill(rig.mcu.begin(), rig.mcu.end(), 77);
        ASSERT_EQ(rig.table.mcu_writer(rig.props.get(), 0, 0), JPEG_OK);
        for (int32_t y = 0; y < 8 * f[0].second; ++y)
            for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(rig.at(x, y)[1], 77);
        rig.props->neighbour_ring = nullptr;
    }
}

TEST(WholeImageConversion, ConvertsOnlyRgbBgrAndCmykOutput) {
    struct Case {
        int32_t jc, oc, ch;
        std::vector<uint8_t> in, want;
    };
    const Case cases[] = {
        {COLOR_YCBCR, COLOR_RGB, 3, {128, 128, 128}, {128, 128, 128}},
        {COLOR_YCBCR, COLOR_BGR, 3, {0, 0, 0}, {0, 135, 0}},
        {COLOR_YCBCR, COLOR_CMYK, 4, {128, 128, 128, 9}, {128, 128, 128, 255}},
        {COLOR_YCCK, COLOR_CMYK, 4, {255, 128, 128, 9}, {0, 0, 0, 9}},
        {COLOR_YCBCR, COLOR_GRAY, 3, {1, 2, 3}, {1, 2, 3}},
        {COLOR_YCBCR, COLOR_YCBCR, 3, {1, 2, 3}, {1, 2, 3}},
    };
    for (const Case &c : cases) {
        PixelRig rig(3, 2, {{1, 1}, {1, 1}, {1, 1}}, c.jc, c.oc, c.ch, 1);
        rig.props->needs_color_conversion = 1;
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x) std::copy(c.in.begin(), c.in.end(), rig.at(x, y));
        ASSERT_EQ(convert_image_in_place(rig.props.get()), JPEG_OK);
        for (int32_t y = 0; y < 2; ++y) {
            for (int32_t x = 0; x < 3; ++x)
                EXPECT_EQ(std::vector<uint8_t>(rig.at(x, y), rig.at(x, y) + c.ch), c.want) << c.oc;
            EXPECT_EQ(rig.at(3, y)[0], kPoison);
        }
    }
}

TEST(ScaledOutput, EighthScaleOfUniformFrameWritesChromaOneForOne) {
    // 1/8 of a 4:2:0 frame: 1x1 luma samples per block, 2x2 chroma samples.
    PixelRig rig(16, 16, {{2, 2}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3, 1);
    ASSERT_EQ(select_output(rig.props.get()), JPEG_OK);
    rig.set_buffer(2, 2, 1);
    for (int32_t b = 0; b < 4; ++b) rig.mcu[static_cast<size_t>(64 * b)] = 128;
    const int16_t cb[4] = {128, 100, 150, 128}, cr[4] = {128, 140, 90, 128};
    for (int32_t i = 0; i < 4; ++i) {
        rig.mcu[static_cast<size_t>(64 * 4 + 8 * (i / 2) + i % 2)] = cb[i];
        rig.mcu[static_cast<size_t>(64 * 5 + 8 * (i / 2) + i % 2)] = cr[i];
    }
    write_scaled_mcu(rig.props.get(), &rig.props->input, &rig.scan, 0, 0, 1, 1);
    for (int32_t i = 0; i < 4; ++i) {
        const uint8_t *p = rig.at(i % 2, i / 2);
        EXPECT_EQ(p[0], qrl_test::clampi(128 + ((359 * cr[i] - 45813) >> 8))) << i;
        EXPECT_EQ(p[1], qrl_test::clampi(128 + ((34806 - 88 * cb[i] - 183 * cr[i]) >> 8))) << i;
        EXPECT_EQ(p[2], qrl_test::clampi(128 + ((454 * cb[i] - 57937) >> 8))) << i;
    }
    // Mid-gray through the in-place formula: 128, 128, 128.
    EXPECT_EQ(std::vector<uint8_t>(rig.at(0, 0), rig.at(0, 0) + 3), (std::vector<uint8_t>{128, 128, 128}));
}

TEST(ScaledOutput, HalfScaleReplicatesNonUniformChromaAndClipsTheEdge) {
    // 4:2:2 at 1/2: 4x4 samples per block, chroma replicated over pairs.
    const Factors k422 = {{2, 1}, {1, 1}, {1, 1}};
    PixelRig rig(21, 8, k422, COLOR_RGB, COLOR_RGB, 3, 2);
    ASSERT_EQ(select_output(rig.props.get()), JPEG_OK);
    rig.set_buffer(11, 4, 2);
    auto d = mcu_data(k422, 0, 0);
    for (int32_t c = 0; c < 2; ++c) {
        d = mcu_data(k422, c, 0);
        std::copy(d.begin(), d.end(), rig.mcu.begin());
        write_scaled_mcu(rig.props.get(), &rig.props->input, &rig.scan, c, 0, 4, 0);
    }
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 11; ++x) {
            const auto m = mcu_data(k422, x / 8, 0);
            const int32_t mx = x % 8;
            EXPECT_EQ(rig.at(x, y)[0], static_cast<uint8_t>(m[static_cast<size_t>(64 * (mx / 4) + 8 * y + mx % 4)]));
            EXPECT_EQ(rig.at(x, y)[1], static_cast<uint8_t>(m[static_cast<size_t>(128 + 8 * y + mx / 2)]));
        }
        EXPECT_EQ(rig.at(11, y)[0], kPoison);
    }
}

} // namespace
