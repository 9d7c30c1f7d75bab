// Region decoding of sequential scans: every region equals the same rectangle
// of a whole-image decode, for memory and file sources, fresh and with a
// record whose row index is already filled, and interrupted after every MCU.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decode_test_util.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

struct ImageCase {
    const char *name;
    JpegLayout layout;
    int h0, v0; // sampling of component 0 (others 1x1)
    int width, height;
    int restart_interval;
};

std::vector<uint8_t> make_image(const ImageCase &c) {
    LibjpegEncodeOptions o;
    o.width = c.width;
    o.height = c.height;
    o.layout = c.layout;
    o.restart_interval = c.restart_interval;
    if (c.layout != JpegLayout::gray) {
        o.h_samp[0] = c.h0;
        o.v_samp[0] = c.v0;
        o.h_samp[1] = o.v_samp[1] = o.h_samp[2] = o.v_samp[2] = 1;
    }
    return libjpeg_encode(o);
}

struct Rect {
    int x0, y0, x1, y1;
};

// Regions touching every edge, one pixel wide or high, starting and ending
// mid-MCU, and the whole image.
std::vector<Rect> regions_for(int w, int h) {
    return {
        {0, 0, w, h},          {0, 0, 1, 1},           {w - 1, h - 1, w, h},   {0, 0, w, 1},
        {0, h - 1, w, h},      {w / 2, 0, w / 2 + 1, h}, {3, 5, 21, 30},       {17, 9, w, h},
        {0, 11, 13, h},        {w - 9, 0, w, 7},       {5, h / 2, w - 5, h / 2 + 3}, {16, 16, 32, 32},
        {1, 1, w - 1, h - 1},
    };
}

class RegionDecode : public ::testing::TestWithParam<ImageCase> {};

TEST_P(RegionDecode, EqualsCropOfWholeDecode) {
    const ImageCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_image(c);
    ASSERT_FALSE(jpeg.empty());
    const bool gray = c.layout == JpegLayout::gray;
    DecodeRequest q;
    q.image_color = gray ? COLOR_GRAY : COLOR_RGB;
    q.channels = gray ? 1 : 3;
    DecodeResult whole = decode(jpeg, q);
    ASSERT_EQ(whole.result, JPEG_OK);
    for (bool file : {false, true}) {
        for (const Rect &r : regions_for(c.width, c.height)) {
            DecodeRequest rq = q;
            rq.file = file;
            rq.roi[0] = r.x0;
            rq.roi[1] = r.y0;
            rq.roi[2] = r.x1;
            rq.roi[3] = r.y1;
            DecodeResult d = decode(jpeg, rq);
            const bool full = r.x0 == 0 && r.y0 == 0 && r.x1 == c.width && r.y1 == c.height;
            ASSERT_EQ(d.result, full ? JPEG_OK : JPEG_ROI_OK)
                << r.x0 << "," << r.y0 << "," << r.x1 << "," << r.y1 << (file ? " file" : " memory");
            EXPECT_EQ(d.pixels, crop(whole.pixels, c.width, q.channels, r.x0, r.y0, r.x1, r.y1))
                << r.x0 << "," << r.y0 << "," << r.x1 << "," << r.y1 << (file ? " file" : " memory");
        }
    }
}

TEST_P(RegionDecode, SecondRegionWithSameRecord) {
    const ImageCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_image(c);
    ASSERT_FALSE(jpeg.empty());
    const bool gray = c.layout == JpegLayout::gray;
    DecodeRequest q;
    q.image_color = gray ? COLOR_GRAY : COLOR_RGB;
    q.channels = gray ? 1 : 3;
    DecodeResult whole = decode(jpeg, q);
    ASSERT_EQ(whole.result, JPEG_OK);
    const std::vector<Rect> sequence = {
        {2, 3, 20, 19},
        {7, c.height / 2, c.width - 3, c.height - 2}, // further down: starts from a recorded row
        {0, 1, c.width, 9},                            // back up: a recorded row above
        {c.width - 5, c.height - 4, c.width, c.height},
    };
    for (bool file : {false, true}) {
        Record rec = make_record();
        TempJpeg temp(jpeg);
        std::vector<uint8_t> data = jpeg; // the same stream for every call
        bool first = true;
        for (const Rect &r : sequence) {
            DecodeRequest rq = q;
            rq.file = file;
            rq.roi[0] = r.x0;
            rq.roi[1] = r.y0;
            rq.roi[2] = r.x1;
            rq.roi[3] = r.y1;
            // Later regions reuse the record as it is, with its row index.
            DecodeResult d = decode_with(rec.get(), data, rq, temp.path().c_str(), first);
            first = false;
            ASSERT_EQ(d.result, JPEG_ROI_OK) << r.y0 << (file ? " file" : " memory");
            EXPECT_EQ(d.pixels, crop(whole.pixels, c.width, q.channels, r.x0, r.y0, r.x1, r.y1))
                << r.x0 << "," << r.y0 << "," << r.x1 << "," << r.y1 << (file ? " file" : " memory");
        }
        ASSERT_NE(rec->props.row_index, nullptr);
        EXPECT_NE(rec->props.row_index[1].position, -1); // rows were recorded
    }
}

TEST_P(RegionDecode, InterruptedRegionEqualsOneCall) {
    const ImageCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_image(c);
    ASSERT_FALSE(jpeg.empty());
    const bool gray = c.layout == JpegLayout::gray;
    DecodeRequest q;
    q.image_color = gray ? COLOR_GRAY : COLOR_RGB;
    q.channels = gray ? 1 : 3;
    q.roi[0] = 5;
    q.roi[1] = 7;
    q.roi[2] = c.width - 6;
    q.roi[3] = c.height - 3;
    for (bool file : {false, true}) {
        q.file = file;
        q.interrupt_every_mcu = false;
        DecodeResult once = decode(jpeg, q);
        ASSERT_EQ(once.result, JPEG_ROI_OK);
        q.interrupt_every_mcu = true;
        DecodeResult pieces = decode(jpeg, q);
        ASSERT_EQ(pieces.result, JPEG_ROI_OK);
        EXPECT_GT(pieces.interrupts, 0);
        EXPECT_EQ(pieces.pixels, once.pixels) << (file ? "file" : "memory");
    }
}


TEST(RegionRowIndex, TallestImageUsesEveryIndexEntry) {
    // 16 x 65535 gray: 8192 MCU rows, the last one recorded in the index's
    // last entry. Regions near the bottom, then above, with one record. The
    // encoder stops at 65500 rows, so its frame header is patched to 65535:
    // the rows past the data decode the same way in every decode.
    LibjpegEncodeOptions o;
    o.width = 16;
    o.height = 65496;
    o.layout = JpegLayout::gray;
    std::vector<uint8_t> jpeg = libjpeg_encode(o);
    ASSERT_FALSE(jpeg.empty());
    bool patched = false;
    for (size_t i = 2; i + 8 < jpeg.size() && !patched; ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = 0xFF; // frame height, big-endian
            jpeg[i + 6] = 0xFF;
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    DecodeRequest q;
    q.image_color = COLOR_GRAY;
    q.channels = 1;
    DecodeResult whole = decode(jpeg, q);
    ASSERT_EQ(whole.result, JPEG_OK);
    Record rec = make_record();
    std::vector<uint8_t> data = jpeg;
    bool first = true;
    for (const Rect &r : {Rect{3, 65530, 9, 65535}, Rect{0, 65528, 16, 65533}, Rect{5, 40000, 16, 40017},
                          Rect{0, 0, 16, 3}}) {
        DecodeRequest rq = q;
        rq.roi[0] = r.x0;
        rq.roi[1] = r.y0;
        rq.roi[2] = r.x1;
        rq.roi[3] = r.y1;
        DecodeResult d = decode_with(rec.get(), data, rq, nullptr, first);
        first = false;
        ASSERT_EQ(d.result, JPEG_ROI_OK) << r.y0;
        EXPECT_EQ(d.pixels, crop(whole.pixels, 16, 1, r.x0, r.y0, r.x1, r.y1)) << r.y0;
    }
    EXPECT_NE(rec->props.row_index[8191].position, -1);
}

const ImageCase kImages[] = {
    {"s420", JpegLayout::ycbcr, 2, 2, 71, 53, 0},
    {"s422_restart3", JpegLayout::ycbcr, 2, 1, 66, 41, 3},
    {"s444_restart1", JpegLayout::ycbcr, 1, 1, 45, 38, 1},
    {"gray", JpegLayout::gray, 1, 1, 57, 61, 0},
    {"gray_restart5", JpegLayout::gray, 1, 1, 50, 50, 5},
};

INSTANTIATE_TEST_SUITE_P(Scan, RegionDecode, ::testing::ValuesIn(kImages),
                         [](const ::testing::TestParamInfo<ImageCase> &p) { return std::string(p.param.name); });

} // namespace
} // namespace qrl_test
