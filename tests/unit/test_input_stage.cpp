// The encoder's input stage: kernel values, SIMD twins against the portable
// kernels, edge replication of partial MCUs, and the choice of reader.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "dispatch/kernel_table.h"
#include "pixels/input.h"

namespace {

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (auto &b : v) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    // Extremes appear too.
    if (n > 4) {
        v[0] = 0;
        v[1] = 255;
        v[2] = 255;
        v[3] = 255;
    }
    return v;
}

TEST(InputKernels, WhiteAndBlack) {
    for (const uint8_t level : {uint8_t{255}, uint8_t{0}}) {
        std::vector<uint8_t> px(8 * 8 * 3, level);
        int16_t y[64], cb[64], cr[64];
        qrl::rgb_to_ycc_h1v1(px.data(), 24, y, cb, cr);
        EXPECT_EQ(y[0], level == 255 ? 127 : -128);
        EXPECT_EQ(cb[5], 0);
        EXPECT_EQ(cr[63], 0);
    }
    // CMYK (0, 0, 0, k): the luma of white and k - 128.
    std::vector<uint8_t> cmyk(8 * 8 * 4, 0);
    for (size_t i = 3; i < cmyk.size(); i += 4) cmyk[i] = 200;
    int16_t y[64], cb[64], cr[64], k[64];
    qrl::cmyk_to_ycck_h1v1(cmyk.data(), 32, y, cb, cr, k);
    EXPECT_EQ(y[9], 127);
    EXPECT_EQ(k[9], 72);
}

#if defined(__x86_64__) || defined(__i386__)
using Get3 = void (*)(const uint8_t *, int32_t, int16_t *, int16_t *, int16_t *);
using Get4 = void (*)(const uint8_t *, int32_t, int16_t *, int16_t *, int16_t *, int16_t *);

TEST(InputKernels, Sse2TwinsGiveThePortableSamples) {
    const KERNEL_TABLE &set_d = qrl::kernel_set_table(qrl::KernelSet::D);
    struct Three {
        const char *name;
        Get3 portable, simd;
        int32_t blocks; // luma blocks
    };
    const Three three[] = {
        {"rgb h1v1", qrl::rgb_to_ycc_h1v1, qrl::rgb_to_ycc_h1v1_sse2, 1},
        {"rgb h2v1", qrl::rgb_to_ycc_h2v1, qrl::rgb_to_ycc_h2v1_sse2, 2},
        {"rgb h2v2", qrl::rgb_to_ycc_h2v2, qrl::rgb_to_ycc_h2v2_sse2, 4},
        {"bgr h1v1", qrl::bgr_to_ycc_h1v1, qrl::bgr_to_ycc_h1v1_sse2, 1},
        {"bgr h2v1", qrl::bgr_to_ycc_h2v1, qrl::bgr_to_ycc_h2v1_sse2, 2},
        {"bgr h2v2", qrl::bgr_to_ycc_h2v2, qrl::bgr_to_ycc_h2v2_sse2, 4},
        {"packed422", qrl::packed422_to_ycc, qrl::packed422_to_ycc_sse2, 2},
        // Set D: the AVX2 twins where the processor has AVX2.
        {"set D rgb h1v1", qrl::rgb_to_ycc_h1v1, set_d.rgb_to_ycc_h1v1, 1},
        {"set D rgb h2v1", qrl::rgb_to_ycc_h2v1, set_d.rgb_to_ycc_h2v1, 2},
        {"set D rgb h2v2", qrl::rgb_to_ycc_h2v2, set_d.rgb_to_ycc_h2v2, 4},
        {"set D bgr h1v1", qrl::bgr_to_ycc_h1v1, set_d.bgr_to_ycc_h1v1, 1},
        {"set D bgr h2v1", qrl::bgr_to_ycc_h2v1, set_d.bgr_to_ycc_h2v1, 2},
        {"set D bgr h2v2", qrl::bgr_to_ycc_h2v2, set_d.bgr_to_ycc_h2v2, 4},
    };
    const int32_t line = 16 * 4 + 7;
    // Seeds above 20 give only bytes 0 and 255: saturated colours reach the
    // ends of the kernels' intermediate ranges (a blue of 255 with no red or
    // green gives the largest chroma sum, 32768).
    for (uint32_t seed = 1; seed <= 28; ++seed) {
        std::vector<uint8_t> px = random_bytes(static_cast<size_t>(line) * 16, seed);
        if (seed > 20)
            for (uint8_t &b : px) b = (b & 0x10) != 0 ? 255 : 0;
        for (const Three &k : three) {
            std::vector<int16_t> a(6 * 64, 0x1234), b(6 * 64, 0x1234);
            k.portable(px.data(), line, a.data(), a.data() + 4 * 64, a.data() + 5 * 64);
            k.simd(px.data(), line, b.data(), b.data() + 4 * 64, b.data() + 5 * 64);
            EXPECT_EQ(a, b) << k.name << " seed " << seed;
        }
        struct Four {
            const char *name;
            Get4 portable, simd;
        };
        const Four four[] = {
            {"cmyk h1v1", qrl::cmyk_to_ycck_h1v1, qrl::cmyk_to_ycck_h1v1_sse2},
            {"cmyk h2v1", qrl::cmyk_to_ycck_h2v1, qrl::cmyk_to_ycck_h2v1_sse2},
            {"cmyk h2v2", qrl::cmyk_to_ycck_h2v2, qrl::cmyk_to_ycck_h2v2_sse2},
        };
        for (const Four &k : four) {
            std::vector<int16_t> a(10 * 64, 0x1234), b(10 * 64, 0x1234);
            k.portable(px.data(), line, a.data(), a.data() + 4 * 64, a.data() + 5 * 64, a.data() + 6 * 64);
            k.simd(px.data(), line, b.data(), b.data() + 4 * 64, b.data() + 5 * 64, b.data() + 6 * 64);
            EXPECT_EQ(a, b) << k.name << " seed " << seed;
        }
        int16_t ga[64], gb[64];
        qrl::get_gray_8x8(px.data(), line, ga);
        qrl::get_gray_8x8_sse2(px.data(), line, gb);
        EXPECT_EQ(0, std::memcmp(ga, gb, sizeof(ga)));
    }
}
#endif

// Properties with the portable kernels and four 1x1 frame components.
struct ReaderRig {
    KERNEL_TABLE kernels = qrl::kernel_set_table(qrl::KernelSet::Portable);
    std::unique_ptr<JPEG_PROPERTIES> props = std::make_unique<JPEG_PROPERTIES>();
    COMPONENT_INFO comps[4] = {{0, 1, 1, 0}, {1, 1, 1, 1}, {2, 1, 1, 1}, {3, 1, 1, 1}};
    ReaderRig() {
        props->kernel_table = &kernels;
        props->frame_components = comps;
        props->max_h_sampling = 1;
        props->max_v_sampling = 1;
    }
};

// A partial MCU repeats the last valid column and row.
TEST(InputReaders, PartialMcuRepeatsTheEdges) {
    ReaderRig rig;
    KERNEL_TABLE &kernels = rig.kernels;
    JPEG_PROPERTIES *p = rig.props.get();
    p->frame_component_count = 1;
    p->image_width = 11;
    p->image_height = 10;
    p->image_channels = 1;
    p->image_color = COLOR_GRAY;
    p->jpeg_color = COLOR_GRAY;
    p->line_bytes = 11;
    p->mcus_per_row = 2;
    p->mcu_rows = 2;
    std::vector<uint8_t> px(11 * 10);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i);
    p->image_pixels = px.data();
    p->input.pixel_cursor = px.data();
    alignas(32) int16_t buffer[4 * 64];
    p->mcu_buffer = buffer;
    ASSERT_EQ(qrl::select_input(p), JPEG_OK);
    ASSERT_EQ(kernels.mcu_reader(p, 0, 0), JPEG_OK);
    EXPECT_EQ(buffer[9], px[12] - 128);
    ASSERT_EQ(kernels.mcu_reader(p, 1, 0), JPEG_OK); // 3 valid columns
    EXPECT_EQ(buffer[2], px[10] - 128);
    EXPECT_EQ(buffer[7], px[10] - 128);
    EXPECT_EQ(buffer[8 + 7], px[21] - 128);
    ASSERT_EQ(kernels.mcu_reader(p, 0, 1), JPEG_OK); // 2 valid rows
    EXPECT_EQ(buffer[63], px[9 * 11 + 7] - 128);
    ASSERT_EQ(kernels.mcu_reader(p, 1, 1), JPEG_OK); // 3 x 2 valid
    EXPECT_EQ(buffer[63], px[9 * 11 + 10] - 128);
    EXPECT_EQ(p->input.pixel_cursor, px.data() + 2 * 8 * 11);
}

TEST(InputReaders, SelectionRefusesWhatNoReaderServes) {
    ReaderRig rig;
    KERNEL_TABLE &kernels = rig.kernels;
    JPEG_PROPERTIES *p = rig.props.get();
    p->frame_component_count = 5;
    EXPECT_EQ(qrl::select_input(p), JPEG_ERR_COMP);
    p->frame_component_count = 4;
    p->image_channels = 3;
    p->image_color = COLOR_RGB;
    p->jpeg_color = COLOR_CMYK;
    p->needs_color_conversion = 1;
    EXPECT_EQ(qrl::select_input(p), JPEG_INVALID_PROPERTIES);
    EXPECT_EQ(kernels.mcu_reader, nullptr);
    p->frame_component_count = 3;
    p->partial_scan = 1;
    EXPECT_EQ(qrl::select_input(p), JPEG_INVALID_PROPERTIES);
}

} // namespace
