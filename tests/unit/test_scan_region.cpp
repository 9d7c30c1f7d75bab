// Region decoding of sequential scans: every region equals the same rectangle
// of a whole-image decode, for memory and file sources, fresh and with a
// record whose row index is already filled, and interrupted after every MCU.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "decode/scan_region.h"
#include "decode_test_util.h"
#include "jpeg_segments.h"
#include "support/corpus.h"
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


// Decodes with roi as given (right or bottom may be 0) into a buffer of
// out_w x out_h pixels.
DecodeResult decode_roi_as_given(std::vector<uint8_t> &jpeg, const DecodeRequest &q, int out_w, int out_h) {
    DecodeResult d;
    Record rec = make_record();
    std::unique_ptr<TempJpeg> temp;
    if (q.file) {
        temp = std::make_unique<TempJpeg>(jpeg);
        rec->jpeg_file_name = temp->path().c_str();
    } else {
        rec->jpeg_buffer = jpeg.data();
        rec->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    }
    d.result = codec_read(rec.get(), q.file ? JPEG_IO_READ_HEADER_FILE : JPEG_IO_READ_HEADER_MEM);
    if (d.result != JPEG_OK) return d;
    d.width = out_w;
    d.height = out_h;
    d.pixels.assign(static_cast<size_t>(out_w) * out_h * q.channels, 0);
    rec->image_pixels = d.pixels.data();
    rec->image_width = out_w;
    rec->image_height = out_h;
    rec->image_channels = q.channels;
    rec->image_color = q.image_color;
    for (int i = 0; i < 4; ++i) rec->props.roi[i] = q.roi[i];
    d.result = codec_read(rec.get(), decode_mode(q));
    rec->jpeg_file_name = nullptr;
    return d;
}

// A region chosen by its left or top edge alone (right or bottom left at 0)
// reaches the image's right or bottom edge.
TEST(RegionEdges, LeftOrTopAloneReachTheImageEdge) {
    const ImageCase c{"s420", JpegLayout::ycbcr, 2, 2, 71, 53, 0};
    std::vector<uint8_t> jpeg = make_image(c);
    ASSERT_FALSE(jpeg.empty());
    struct Edge {
        int left, top;
    };
    for (int scale : {1, 2, 8}) {
        DecodeRequest q;
        q.scale = scale;
        DecodeResult whole = decode(jpeg, q);
        ASSERT_EQ(whole.result, JPEG_OK);
        const int w = whole.width, h = whole.height;
        for (const Edge e : {Edge{5, 0}, Edge{0, 3}, Edge{w - 1, 0}, Edge{0, h - 1}, Edge{2, 1}}) {
            for (bool file : {false, true}) {
                DecodeRequest rq = q;
                rq.file = file;
                rq.roi[0] = e.left;
                rq.roi[1] = e.top;
                DecodeResult d = decode_roi_as_given(jpeg, rq, w - e.left, h - e.top);
                const std::string where = "left " + std::to_string(e.left) + " top " + std::to_string(e.top) +
                                          " scale " + std::to_string(scale) + (file ? " file" : " memory");
                ASSERT_EQ(d.result, JPEG_ROI_OK) << where;
                EXPECT_EQ(d.pixels, crop(whole.pixels, w, 3, e.left, e.top, w, h)) << where;
            }
        }
    }
}

// Frames coded in one scan per component: each scan but the last leaves the
// region for the next (the call goes on), the last reports it complete.
TEST(RegionScanPerComponent, EqualsCropAndReportsRoiOk) {
    struct Case {
        int h0, v0, width, height, restart;
    };
    for (const Case &k : {Case{2, 2, 61, 45, 0}, Case{1, 1, 40, 39, 2}, Case{2, 1, 50, 33, 3}}) {
        LibjpegEncodeOptions o;
        o.width = k.width;
        o.height = k.height;
        o.h_samp[0] = k.h0;
        o.v_samp[0] = k.v0;
        o.h_samp[1] = o.v_samp[1] = o.h_samp[2] = o.v_samp[2] = 1;
        o.restart_interval = k.restart;
        o.scan_per_component = true;
        std::vector<uint8_t> jpeg = libjpeg_encode(o);
        ASSERT_FALSE(jpeg.empty());
        DecodeRequest q;
        DecodeResult whole = decode(jpeg, q);
        ASSERT_EQ(whole.result, JPEG_OK);
        for (bool file : {false, true}) {
            for (const Rect &r : regions_for(k.width, k.height)) {
                const bool full = r.x0 == 0 && r.y0 == 0 && r.x1 == k.width && r.y1 == k.height;
                if (full) continue;
                DecodeRequest rq = q;
                rq.file = file;
                rq.roi[0] = r.x0;
                rq.roi[1] = r.y0;
                rq.roi[2] = r.x1;
                rq.roi[3] = r.y1;
                DecodeResult d = decode(jpeg, rq);
                const std::string where = std::to_string(k.h0) + "x" + std::to_string(k.v0) + " " +
                                          std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
                                          std::to_string(r.x1) + "," + std::to_string(r.y1) +
                                          (file ? " file" : " memory");
                ASSERT_EQ(d.result, JPEG_ROI_OK) << where;
                EXPECT_EQ(d.pixels, crop(whole.pixels, k.width, 3, r.x0, r.y0, r.x1, r.y1)) << where;
            }
        }
    }
}

// Progressive images whose scans never complete the image (no DC scan, or
// the stream ends after a few scans): a region decode writes what the
// coefficient buffer holds, the same rectangle a whole decode shows.
TEST(RegionIncompleteProgressive, EqualsCropOfWholeDecode) {
    LibjpegEncodeOptions o;
    o.width = 77;
    o.height = 58;
    o.progressive = true;
    std::vector<uint8_t> full = libjpeg_encode(o);
    ASSERT_FALSE(full.empty());
    const std::vector<JpegSegment> segments = split_segments(full);
    ASSERT_FALSE(segments.empty());
    struct Variant {
        const char *name;
        int keep_scans; // scans kept (-1: all but the DC scans)
    };
    for (const Variant v : {Variant{"no DC scans", -1}, Variant{"two scans", 2}, Variant{"four scans", 4}}) {
        std::vector<JpegSegment> kept;
        int scans = 0;
        for (const JpegSegment &s : segments) {
            if (s.code == 0xDA) {
                int ss = 0, se = 0;
                scan_band(s, &ss, &se);
                if (v.keep_scans < 0 ? (ss == 0 && se == 0) : scans >= v.keep_scans) {
                    ++scans;
                    continue;
                }
                ++scans;
            }
            kept.push_back(s);
        }
        std::vector<uint8_t> jpeg = join_segments(kept);
        for (int scale : {1, 2}) {
            DecodeRequest q;
            q.scale = scale;
            DecodeResult whole = decode(jpeg, q);
            ASSERT_EQ(whole.result, JPEG_OK) << v.name;
            const int w = whole.width, h = whole.height;
            for (bool file : {false, true}) {
                for (const Rect &r : {Rect{0, 0, 1, 1}, Rect{3, 5, w - 2, h - 7}, Rect{w - 9, h - 4, w, h},
                                      Rect{17, 0, w, 9}}) {
                    DecodeRequest rq = q;
                    rq.file = file;
                    rq.roi[0] = r.x0;
                    rq.roi[1] = r.y0;
                    rq.roi[2] = r.x1;
                    rq.roi[3] = r.y1;
                    DecodeResult d = decode(jpeg, rq);
                    const std::string where = std::string(v.name) + " scale " + std::to_string(scale) + " " +
                                              std::to_string(r.x0) + "," + std::to_string(r.y0) +
                                              (file ? " file" : " memory");
                    ASSERT_EQ(d.result, JPEG_ROI_OK) << where;
                    EXPECT_EQ(d.pixels, crop(whole.pixels, w, 3, r.x0, r.y0, r.x1, r.y1)) << where;
                }
            }
        }
    }
}

// The index has one entry per MCU row of the tallest frame (65535 rows of
// 8); entries past it are neither written nor read.
TEST(RegionRowIndex, EntriesPastTheIndexAreNeverAddressed) {
    Record rec = make_record();
    JPEG_PROPERTIES *props = &rec->props;
    ASSERT_EQ(props->row_index, nullptr);
    SCAN_INFO scan{};
    EXPECT_FALSE(qrl::row_state_recorded(props, 0)); // no index yet
    std::vector<ROW_INDEX_ENTRY> index(QRL_ROW_INDEX_ENTRIES + 1);
    for (ROW_INDEX_ENTRY &e : index) e.position = -1;
    props->row_index = index.data();
    const ROW_INDEX_ENTRY guard = index[QRL_ROW_INDEX_ENTRIES];
    qrl::save_row_state(props, &props->input, &scan, QRL_ROW_INDEX_ENTRIES);
    qrl::save_row_state(props, &props->input, &scan, -1);
    EXPECT_EQ(std::memcmp(&index[QRL_ROW_INDEX_ENTRIES], &guard, sizeof guard), 0);
    EXPECT_FALSE(qrl::row_state_recorded(props, QRL_ROW_INDEX_ENTRIES));
    EXPECT_EQ(qrl::restore_row_state(props, &props->input, &scan, QRL_ROW_INDEX_ENTRIES), JPEG_FILE_ERROR);
    EXPECT_EQ(qrl::restore_row_state(props, &props->input, &scan, 5), JPEG_FILE_ERROR); // not recorded
    props->row_index = nullptr; // the vector owns it
    // The largest frame height gives exactly as many MCU rows as entries.
    EXPECT_EQ((65535 + 7) / 8, QRL_ROW_INDEX_ENTRIES);
}


// After JPEG_INTERRUPT_OK, roi right and bottom hold the right and bottom
// pixel edges of the MCU reached (clipped to the image), for whole-image and
// region decodes; the next call resumes the same region.
TEST(RegionInterrupt, RoiReportsTheMcuReachedInPixels) {
    const ImageCase c{"s420", JpegLayout::ycbcr, 2, 2, 71, 53, 0}; // 5 x 4 MCUs of 16 x 16
    std::vector<uint8_t> jpeg = make_image(c);
    ASSERT_FALSE(jpeg.empty());
    struct Case {
        Rect region; // all 0: the whole image
        std::vector<std::pair<int, int>> expected; // right, bottom after each interrupt
    };
    std::vector<std::pair<int, int>> whole;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 5; ++column)
            if (row != 3 || column != 4) whole.emplace_back(std::min(16 * (column + 1), 71), std::min(16 * (row + 1), 53));
    // MCU columns 1 to 3 and rows 1 to 3; a region row ends without a stop.
    std::vector<std::pair<int, int>> part;
    for (int row = 1; row < 4; ++row)
        for (int column = 1; column < 3; ++column) part.emplace_back(16 * (column + 1), std::min(16 * (row + 1), 53));
    for (const Case &k : {Case{Rect{0, 0, 0, 0}, whole}, Case{Rect{20, 20, 60, 50}, part}}) {
        for (bool file : {false, true}) {
            Record rec = make_record();
            TempJpeg temp(jpeg);
            if (file) {
                rec->jpeg_file_name = temp.path().c_str();
            } else {
                rec->jpeg_buffer = jpeg.data();
                rec->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
            }
            ASSERT_EQ(codec_read(rec.get(), file ? JPEG_IO_READ_HEADER_FILE : JPEG_IO_READ_HEADER_MEM), JPEG_OK);
            const bool region = k.region.x1 != 0;
            const int w = region ? k.region.x1 - k.region.x0 : 71, h = region ? k.region.y1 - k.region.y0 : 53;
            std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
            rec->image_pixels = pixels.data();
            rec->image_width = w;
            rec->image_height = h;
            rec->image_channels = 3;
            rec->image_color = COLOR_RGB;
            std::vector<std::pair<int, int>> seen;
            int32_t result = JPEG_INTERRUPT_OK;
            while (result == JPEG_INTERRUPT_OK && seen.size() < 100) {
                rec->props.roi[0] = k.region.x0;
                rec->props.roi[1] = k.region.y0;
                rec->props.roi[2] = k.region.x1;
                rec->props.roi[3] = k.region.y1;
                rec->props.interrupt_after_mcu = 1;
                result = codec_read(rec.get(), file ? JPEG_IO_DECODE_FILE : JPEG_IO_DECODE_MEM);
                if (result == JPEG_INTERRUPT_OK) {
                    seen.emplace_back(rec->props.roi[2], rec->props.roi[3]);
                    // The file stays open for the next call.
                    if (file) {
                        EXPECT_NE(rec->props.input.file, nullptr);
                    }
                }
            }
            rec->jpeg_file_name = nullptr;
            EXPECT_EQ(result, region ? JPEG_ROI_OK : JPEG_OK) << (file ? "file" : "memory");
            EXPECT_EQ(seen, k.expected) << (region ? "region" : "whole") << (file ? " file" : " memory");
        }
    }
}

// Real files (corpus baseline, restart and odd-size files): regions touching
// every edge, one pixel wide or high, starting mid-MCU, and the whole image
// equal the rectangle of the whole-image decode, byte for byte, from memory
// and from a file.
TEST(RegionCorpus, RegionsEqualCropsOfTheWholeDecode) {
    if (corpus_dir().empty()) GTEST_SKIP() << "skipped: the shared corpus is not present";
    constexpr uint64_t kMaxPixels = 2'000'000; // keeps the run short; larger files add nothing new here
    int files = 0, regions = 0;
    for (const char *category : {"baseline", "restart", "odd_size"}) {
        for (const std::string &path : corpus_files(category)) {
            const std::string name = std::filesystem::path(path).filename().string();
            SCOPED_TRACE(std::string(category) + "/" + name);
            std::vector<uint8_t> jpeg = read_file_bytes(path);
            Record probe = make_record();
            probe->jpeg_buffer = jpeg.data();
            probe->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
            if (codec_read(probe.get(), JPEG_IO_READ_HEADER_MEM) != JPEG_OK) continue;
            const int w = probe->jpeg_width, h = probe->jpeg_height, comps = probe->jpeg_channels;
            if (static_cast<uint64_t>(w) * h > kMaxPixels || comps == 2) continue;
            DecodeRequest q;
            q.channels = comps == 1 ? 1 : (comps == 4 ? 4 : 3);
            q.image_color = comps == 1 ? COLOR_GRAY : (comps == 4 ? COLOR_CMYK : COLOR_RGB);
            DecodeResult whole = decode(jpeg, q);
            if (whole.result != JPEG_OK) continue; // refusals are the conformance test's business
            ++files;
            std::vector<Rect> rects = {{0, 0, w, h},
                                       {0, 0, 1, 1},
                                       {w - 1, h - 1, w, h},
                                       {0, h - 1, w, h},
                                       {w / 2, 0, w / 2 + 1, h},
                                       {w / 3, h / 3, w - w / 4, h - h / 5},
                                       {std::min(9, w - 1), std::min(5, h - 1), w, std::min(h, 40)}};
            for (bool file : {false, true}) {
                for (const Rect &r : rects) {
                    if (r.x1 <= r.x0 || r.y1 <= r.y0) continue;
                    DecodeRequest rq = q;
                    rq.file = file;
                    rq.roi[0] = r.x0;
                    rq.roi[1] = r.y0;
                    rq.roi[2] = r.x1;
                    rq.roi[3] = r.y1;
                    DecodeResult d = decode(jpeg, rq);
                    ++regions;
                    const std::string where = std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
                                              std::to_string(r.x1) + "," + std::to_string(r.y1) +
                                              (file ? " file" : " memory");
                    const bool full = r.x0 == 0 && r.y0 == 0 && r.x1 == w && r.y1 == h;
                    ASSERT_EQ(d.result, full ? JPEG_OK : JPEG_ROI_OK) << where;
                    EXPECT_TRUE(d.pixels == crop(whole.pixels, w, q.channels, r.x0, r.y0, r.x1, r.y1)) << where;
                }
            }
        }
    }
    std::printf("%d corpus files, %d regions compared\n", files, regions);
    EXPECT_GT(files, 50);
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
