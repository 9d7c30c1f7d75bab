// Output selection: which routine each frame layout and requested pixel
// layout installs, the refused combinations, flags and MCU geometry.
#include <gtest/gtest.h>

#include <vector>

#include "pixels/fast_routines.h"
#include "pixels/output_select.h"
#include "pixels/plane_writers.h"
#include "pixel_test_props.h"

namespace {

using namespace qrl;
using qrl_test::PixelRig;
using Factors = std::vector<std::pair<int32_t, int32_t>>;

const Factors k444 = {{1, 1}, {1, 1}, {1, 1}};
const Factors k420 = {{2, 2}, {1, 1}, {1, 1}};
const Factors k422 = {{2, 1}, {1, 1}, {1, 1}};
const Factors k411 = {{4, 1}, {1, 1}, {1, 1}};
const Factors k440 = {{1, 2}, {1, 1}, {1, 1}};
const Factors kOdd = {{1, 1}, {2, 2}, {1, 1}};
const Factors k4x1 = {{1, 1}, {1, 1}, {1, 1}, {1, 1}};
const Factors k4x420 = {{2, 2}, {1, 1}, {1, 1}, {2, 2}};
const Factors k4x422 = {{2, 1}, {1, 1}, {1, 1}, {2, 1}};
const Factors kGray = {{1, 1}};
const Factors kGray22 = {{2, 2}};
const Factors kTwo = {{1, 1}, {1, 1}};
const Factors kTwo21 = {{2, 1}, {1, 1}};

struct Row {
    const char *name;
    Factors factors;
    int32_t jpeg_color, image_color, channels, smooth, partial, scans_done;
    McuFn want;
};

const Row kRows[] = {
    // upsampling and conversion
    {"420 rgb", k420, COLOR_YCBCR, COLOR_RGB, 3, 0, 0, 0, mcu_ycc_rgb_h2v2},
    {"422 rgb", k422, COLOR_YCBCR, COLOR_RGB, 3, 0, 0, 0, mcu_ycc_rgb_h2v1},
    {"420 bgr", k420, COLOR_YCBCR, COLOR_BGR, 3, 0, 0, 0, mcu_ycc_bgr_h2v2},
    {"422 bgr", k422, COLOR_YCBCR, COLOR_BGR, 3, 0, 0, 0, mcu_ycc_bgr_h2v1},
    {"420 rgba", k420, COLOR_YCBCR, COLOR_CMYK, 4, 0, 0, 0, mcu_ycc_rgba_h2v2},
    {"422 rgba", k422, COLOR_YCBCR, COLOR_CMYK, 4, 0, 0, 0, mcu_ycc_rgba_h2v1},
    {"ycck 420", k4x420, COLOR_YCCK, COLOR_CMYK, 4, 0, 0, 0, mcu_ycck_cmyk_h2v2},
    {"ycck 422", k4x422, COLOR_YCCK, COLOR_CMYK, 4, 0, 0, 0, mcu_ycck_cmyk_h2v1},
    {"420 rgb smooth", k420, COLOR_YCBCR, COLOR_RGB, 3, 1, 0, 0, mcu_planes_converted},
    {"422 bgr smooth", k422, COLOR_YCBCR, COLOR_BGR, 3, 1, 0, 0, mcu_planes_converted},
    {"420 rgb smooth 2", k420, COLOR_YCBCR, COLOR_RGB, 3, 2, 0, 0, nullptr},
    {"411 rgb", k411, COLOR_YCBCR, COLOR_RGB, 3, 0, 0, 0, mcu_planes_converted},
    {"440 rgb", k440, COLOR_YCBCR, COLOR_RGB, 3, 0, 0, 0, mcu_planes_converted},
    {"chroma above luma", kOdd, COLOR_YCBCR, COLOR_RGB, 3, 0, 0, 0, mcu_planes_converted},
    {"411 rgb smooth 7", k411, COLOR_YCBCR, COLOR_RGB, 3, 7, 0, 0, mcu_planes_converted},
    {"420 rgb in 4 channels", k420, COLOR_YCBCR, COLOR_RGB, 4, 0, 0, 0, nullptr},
    // upsampling only
    {"rgb 420 to rgb", k420, COLOR_RGB, COLOR_RGB, 3, 0, 0, 0, mcu_interleave3_h2v2},
    {"rgb 422 to rgb", k422, COLOR_RGB, COLOR_RGB, 3, 0, 0, 0, mcu_interleave3_h2v1},
    {"rgb 420 smooth", k420, COLOR_RGB, COLOR_RGB, 3, 1, 0, 0, mcu_scan_planes},
    {"rgb 420 smooth multi", k420, COLOR_RGB, COLOR_RGB, 3, 1, 0, 1, mcu_frame_planes},
    {"rgb 420 smooth 3", k420, COLOR_RGB, COLOR_RGB, 3, 3, 0, 0, nullptr},
    {"rgb 411", k411, COLOR_RGB, COLOR_RGB, 3, 0, 0, 0, mcu_scan_planes},
    {"rgb 420 to bgr", k420, COLOR_RGB, COLOR_BGR, 3, 0, 0, 0, mcu_scan_planes},
    {"ycc 420 to gray", k420, COLOR_YCBCR, COLOR_GRAY, 1, 0, 0, 0, mcu_scan_planes},
    {"ycc 420 to gray multi", k420, COLOR_YCBCR, COLOR_GRAY, 1, 0, 0, 2, mcu_frame_planes},
    {"cmyk 420 to 4", k4x420, COLOR_CMYK, COLOR_CMYK, 4, 0, 0, 0, mcu_scan_planes},
    {"cmyk 420 to 3", k4x420, COLOR_CMYK, COLOR_RGB, 3, 0, 0, 0, mcu_scan_planes},
    {"two components upsampled", kTwo21, COLOR_OTHER, COLOR_OTHER, 2, 0, 0, 0, nullptr},
    {"rgb 420 to 2 channels", k420, COLOR_RGB, COLOR_OTHER, 2, 0, 0, 0, nullptr},
    // conversion only
    {"444 rgb", k444, COLOR_YCBCR, COLOR_RGB, 3, 0, 0, 0, mcu_ycc_rgb_h1v1},
    {"444 bgr", k444, COLOR_YCBCR, COLOR_BGR, 3, 0, 0, 0, mcu_ycc_bgr_h1v1},
    {"444 rgba", k444, COLOR_YCBCR, COLOR_CMYK, 4, 0, 0, 0, mcu_ycc_rgba_h1v1},
    {"ycck 444", k4x1, COLOR_YCCK, COLOR_CMYK, 4, 0, 0, 0, mcu_ycck_cmyk_h1v1},
    {"444 rgb smooth ignored", k444, COLOR_YCBCR, COLOR_RGB, 3, 1, 0, 0, mcu_ycc_rgb_h1v1},
    {"ycck 444 to rgb", k4x1, COLOR_YCCK, COLOR_RGB, 3, 0, 0, 0, nullptr},
    // neither
    {"gray", kGray, COLOR_GRAY, COLOR_GRAY, 1, 0, 0, 0, mcu_gray},
    {"gray sampled 2x2", kGray22, COLOR_GRAY, COLOR_GRAY, 1, 0, 0, 0, mcu_gray},
    {"gray to rgb", kGray, COLOR_GRAY, COLOR_RGB, 3, 0, 0, 0, mcu_copy_planes},
    {"gray 2x2 to cmyk", kGray22, COLOR_GRAY, COLOR_CMYK, 4, 0, 0, 0, mcu_copy_planes},
    {"two components", kTwo, COLOR_OTHER, COLOR_OTHER, 2, 0, 0, 0, mcu_copy_planes},
    {"444 to gray", k444, COLOR_YCBCR, COLOR_GRAY, 1, 0, 0, 0, mcu_copy_planes},
    {"422 packed", k422, COLOR_YCBCR, COLOR_YCBCR, 2, 0, 0, 0, mcu_ycc_packed422},
    {"rgb to bgr", k444, COLOR_RGB, COLOR_BGR, 3, 0, 0, 0, mcu_copy_planes},
    {"rgb to rgb", k444, COLOR_RGB, COLOR_RGB, 3, 0, 0, 0, mcu_interleave3},
    {"422 ycbcr 3 channels", k422, COLOR_YCBCR, COLOR_YCBCR, 3, 0, 0, 0, mcu_scan_planes},
    {"rgb to cmyk", k444, COLOR_RGB, COLOR_CMYK, 4, 0, 0, 0, mcu_interleave3_alpha},
    {"other 3 to 4", k444, COLOR_OTHER, COLOR_OTHER, 4, 0, 0, 0, mcu_copy_planes},
    {"cmyk to 3", k4x1, COLOR_CMYK, COLOR_RGB, 3, 0, 0, 0, mcu_copy_planes},
    {"cmyk to cmyk", k4x1, COLOR_CMYK, COLOR_CMYK, 4, 0, 0, 0, mcu_interleave4},
    {"other 3 to 2 without 2x1", k444, COLOR_OTHER, COLOR_OTHER, 2, 0, 0, 0, nullptr},
    {"cmyk to 2", k4x1, COLOR_CMYK, COLOR_OTHER, 2, 0, 0, 0, nullptr},
    // components in separate scans
    {"partial rgb", k420, COLOR_YCBCR, COLOR_RGB, 3, 0, 1, 0, mcu_scan_planes},
    {"partial packed", k422, COLOR_YCBCR, COLOR_YCBCR, 2, 0, 1, 0, mcu_packed422_scan},
    {"partial after multi-scan", k420, COLOR_YCBCR, COLOR_RGB, 3, 0, 1, 1, mcu_ycc_rgb_h2v2},
};

TEST(SelectOutput, EveryTableRowInstallsItsRoutine) {
    for (const Row &r : kRows) {
        PixelRig rig(64, 48, r.factors, r.jpeg_color, r.image_color, r.channels);
        rig.props->smooth_upsampling = r.smooth;
        rig.props->partial_scan = r.partial;
        rig.props->scans_done = r.scans_done;
        rig.table.mcu_writer = mcu_gray; // a stale routine must never survive
        ASSERT_EQ(select_output(rig.props.get()), JPEG_OK) << r.name;
        EXPECT_EQ(rig.table.mcu_writer, r.want) << r.name;
        EXPECT_EQ(output_routine_ready(rig.props.get()), r.want != nullptr) << r.name;
    }
}

TEST(SelectOutput, FlagsAndGeometry) {
    PixelRig rig(17, 9, k420, COLOR_YCBCR, COLOR_RGB, 3);
    rig.props->needs_color_conversion = 7;
    rig.props->needs_upsampling = 7;
    ASSERT_EQ(select_output(rig.props.get()), JPEG_OK);
    EXPECT_EQ(rig.props->needs_color_conversion, 1);
    EXPECT_EQ(rig.props->needs_upsampling, 1);
    EXPECT_EQ(rig.props->max_h_sampling, 2);
    EXPECT_EQ(rig.props->max_v_sampling, 2);
    EXPECT_EQ(rig.props->mcus_per_row, 2);
    EXPECT_EQ(rig.props->mcu_rows, 1);

    PixelRig gray(17, 9, kGray22, COLOR_GRAY, COLOR_GRAY, 1);
    ASSERT_EQ(select_output(gray.props.get()), JPEG_OK);
    EXPECT_EQ(gray.props->needs_upsampling, 0);
    EXPECT_EQ(gray.props->max_h_sampling, 1);
    EXPECT_EQ(gray.components[0].h_sampling, 1);
    EXPECT_EQ(gray.props->mcus_per_row, 3);
    EXPECT_EQ(gray.props->mcu_rows, 2);

    PixelRig packed(32, 8, k422, COLOR_YCBCR, COLOR_YCBCR, 2);
    ASSERT_EQ(select_output(packed.props.get()), JPEG_OK);
    EXPECT_EQ(packed.props->needs_color_conversion, 0);
    EXPECT_EQ(packed.props->needs_upsampling, 0);

    for (int32_t jc : {COLOR_GRAY, COLOR_RGB, COLOR_CMYK, COLOR_OTHER}) {
        PixelRig r(8, 8, k444, jc, COLOR_RGB, 3);
        ASSERT_EQ(select_output(r.props.get()), JPEG_OK);
        EXPECT_EQ(r.props->needs_color_conversion, 0) << jc;
    }
}

TEST(SelectOutput, RefusedFrames) {
    {
        // YCbCr output of a 4:4:4 YCbCr frame; the geometry is written first.
        PixelRig rig(20, 20, k444, COLOR_YCBCR, COLOR_YCBCR, 2);
        EXPECT_EQ(select_output(rig.props.get()), JPEG_INVALID_PROPERTIES);
        EXPECT_EQ(rig.props->mcus_per_row, 3);
        EXPECT_EQ(rig.table.mcu_writer, nullptr);
    }
    {
        PixelRig rig(20, 20, k420, COLOR_YCBCR, COLOR_YCBCR, 2);
        EXPECT_EQ(select_output(rig.props.get()), JPEG_INVALID_PROPERTIES);
    }
    for (int32_t count : {0, -1, 5, 256}) {
        PixelRig rig(20, 20, k444, COLOR_YCBCR, COLOR_RGB, 3);
        rig.props->frame_component_count = count;
        EXPECT_EQ(select_output(rig.props.get()), JPEG_ERR_COMP) << count;
        EXPECT_EQ(rig.table.mcu_writer, nullptr);
    }
    {
        PixelRig rig(20, 20, {{0, 1}, {1, 1}, {1, 1}}, COLOR_YCBCR, COLOR_RGB, 3);
        EXPECT_EQ(select_output(rig.props.get()), JPEG_ERR_COMP);
    }
}

} // namespace
