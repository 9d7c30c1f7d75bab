// Sequential scans end to end: files made by libjpeg-turbo decoded through
// codec_read and compared with libjpeg-turbo's own decode; restart intervals,
// interrupted decoding, coefficient planes and damaged entropy data.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decode_test_util.h"
#include "stream_builder.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

struct OracleCase {
    const char *name;
    int pixel_format; // TJPF_RGB or TJPF_GRAY
    int subsampling;
    int width, height;
    int restart_interval; // in MCUs, libjpeg encoder
    bool progressive;
};

std::vector<uint8_t> make_jpeg(const OracleCase &c) {
    if (c.restart_interval == 0) {
        TjEncodeOptions o;
        o.width = c.width;
        o.height = c.height;
        o.pixel_format = c.pixel_format;
        o.subsampling = c.subsampling;
        o.flags = c.progressive ? TJFLAG_PROGRESSIVE : 0;
        return tj_encode(o);
    }
    LibjpegEncodeOptions o;
    o.width = c.width;
    o.height = c.height;
    o.layout = c.pixel_format == TJPF_GRAY ? JpegLayout::gray : JpegLayout::ycbcr;
    o.restart_interval = c.restart_interval;
    o.progressive = c.progressive;
    if (c.pixel_format != TJPF_GRAY) {
        const int h = c.subsampling == TJSAMP_444 ? 1 : 2;
        const int v = c.subsampling == TJSAMP_420 ? 2 : 1;
        o.h_samp[0] = h;
        o.v_samp[0] = v;
        o.h_samp[1] = o.v_samp[1] = o.h_samp[2] = o.v_samp[2] = 1;
    }
    return libjpeg_encode(o);
}

class SequentialOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(SequentialOracle, MatchesReferenceDecode) {
    const OracleCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_jpeg(c);
    ASSERT_FALSE(jpeg.empty());
    const bool gray = c.pixel_format == TJPF_GRAY;
    DecodedImage ref = tj_decode(jpeg, gray ? TJPF_GRAY : TJPF_RGB, kTjAccurate);
    ASSERT_TRUE(ref.ok()) << ref.error;
    for (bool file : {false, true}) {
        DecodeRequest q;
        q.image_color = gray ? COLOR_GRAY : COLOR_RGB;
        q.channels = gray ? 1 : 3;
        q.file = file;
        DecodeResult d = decode(jpeg, q);
        ASSERT_EQ(d.result, JPEG_OK) << (file ? "file" : "memory");
        ASSERT_EQ(d.width, ref.width);
        ASSERT_EQ(d.height, ref.height);
        // On a single pixel the mean is that pixel's: green (the prescribed
        // rounding, every kernel set) and blue (the SIMD sets' red/blue
        // rounding) may each be one level off libjpeg-turbo, a mean of 2/3.
        const double mean_limit = d.width * d.height == 1 ? 2.0 / 3.0 : 0.5;
        EXPECT_TRUE(images_close(std::string(c.name) + (file ? "_file" : "_mem"), d.pixels.data(), 0,
                                 ref.pixels.data(), 0, d.width, d.height, q.channels, Limits{4, mean_limit}));
    }
}

const OracleCase kOracleCases[] = {
    {"gray", TJPF_GRAY, TJSAMP_GRAY, 61, 37, 0, false},
    {"s444", TJPF_RGB, TJSAMP_444, 64, 48, 0, false},
    {"s422", TJPF_RGB, TJSAMP_422, 77, 45, 0, false},
    {"s420", TJPF_RGB, TJSAMP_420, 95, 67, 0, false},
    {"s420_tiny", TJPF_RGB, TJSAMP_420, 1, 1, 0, false},
    {"restart1_420", TJPF_RGB, TJSAMP_420, 70, 50, 1, false},
    {"restart3_444", TJPF_RGB, TJSAMP_444, 70, 50, 3, false},
    {"restart1_gray", TJPF_GRAY, TJSAMP_GRAY, 40, 24, 1, false},
    {"restart7_422", TJPF_RGB, TJSAMP_422, 90, 33, 7, false},
};

INSTANTIATE_TEST_SUITE_P(Scan, SequentialOracle, ::testing::ValuesIn(kOracleCases),
                         [](const ::testing::TestParamInfo<OracleCase> &p) { return std::string(p.param.name); });


// ---- Interrupted decoding ---------------------------------------------------

struct InterruptCase {
    const char *name;
    OracleCase image;
    int expected_interrupts; // MCUs - 1
};

class InterruptEveryMcu : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(InterruptEveryMcu, SamePixelsAsOneCall) {
    const InterruptCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_jpeg(c.image);
    ASSERT_FALSE(jpeg.empty());
    const bool gray = c.image.pixel_format == TJPF_GRAY;
    for (bool file : {false, true}) {
        DecodeRequest q;
        q.image_color = gray ? COLOR_GRAY : COLOR_RGB;
        q.channels = gray ? 1 : 3;
        q.file = file;
        DecodeResult whole = decode(jpeg, q);
        ASSERT_EQ(whole.result, JPEG_OK);
        q.interrupt_every_mcu = true;
        DecodeResult pieces = decode(jpeg, q);
        ASSERT_EQ(pieces.result, JPEG_OK);
        EXPECT_EQ(pieces.interrupts, c.expected_interrupts) << (file ? "file" : "memory");
        EXPECT_EQ(pieces.pixels, whole.pixels) << (file ? "file" : "memory");
    }
}

const InterruptCase kInterruptCases[] = {
    {"s420", {"", TJPF_RGB, TJSAMP_420, 95, 67, 0, false}, 6 * 5 - 1},
    {"s444_restart2", {"", TJPF_RGB, TJSAMP_444, 40, 24, 2, false}, 5 * 3 - 1},
    {"gray_restart1", {"", TJPF_GRAY, TJSAMP_GRAY, 24, 17, 1, false}, 3 * 3 - 1},
    {"s422", {"", TJPF_RGB, TJSAMP_422, 33, 9, 0, false}, 3 * 2 - 1},
};

INSTANTIATE_TEST_SUITE_P(Scan, InterruptEveryMcu, ::testing::ValuesIn(kInterruptCases),
                         [](const ::testing::TestParamInfo<InterruptCase> &p) { return std::string(p.param.name); });

// ---- Coefficient planes -------------------------------------------------------

// Decodes a gray image into one coefficient plane of width x height values.
int32_t decode_to_plane(std::vector<uint8_t> jpeg, int32_t planes_mode, std::vector<int16_t> &plane) {
    Record rec = make_record();
    rec->jpeg_buffer = jpeg.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    int32_t r = codec_read(rec.get(), JPEG_IO_READ_HEADER_MEM);
    if (r != JPEG_OK) return r;
    const int w = (rec->jpeg_width + 7) / 8 * 8, h = (rec->jpeg_height + 7) / 8 * 8;
    plane.assign(static_cast<size_t>(w) * h, 0x7777);
    std::vector<uint8_t> pixels(static_cast<size_t>(rec->jpeg_width) * rec->jpeg_height, 0);
    COEFFICIENT_PLANES planes{};
    planes.planes_mode = planes_mode;
    planes.plane[0] = plane.data();
    rec->image_pixels = pixels.data();
    rec->image_width = rec->jpeg_width;
    rec->image_height = rec->jpeg_height;
    rec->image_channels = 1;
    rec->image_color = COLOR_GRAY;
    rec->props.coefficient_planes = &planes;
    r = codec_read(rec.get(), JPEG_IO_DECODE_MEM);
    rec->props.coefficient_planes = nullptr;
    return r;
}

TEST(CoefficientPlanes, QuantizedAndTransformedBlocks) {
    // A flat 16x16 image at quality 100 (every quantizer 1): each block is
    // DC only, (200 - 128) * 8 = 576.
    std::vector<uint8_t> flat(16 * 16, 200);
    std::vector<uint8_t> jpeg = tj_encode_pixels(flat.data(), 16, 16, TJPF_GRAY, TJSAMP_GRAY, 100, 0);
    ASSERT_FALSE(jpeg.empty());
    std::vector<int16_t> plane;
    ASSERT_EQ(decode_to_plane(jpeg, 0, plane), JPEG_OK);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const int16_t want = (x % 8 == 0 && y % 8 == 0) ? 576 : 0;
            ASSERT_EQ(plane[y * 16 + x], want) << x << "," << y;
        }
    }
    EXPECT_EQ(plane[8], 576); // block (1, 0) starts at index 8
    ASSERT_EQ(decode_to_plane(jpeg, 1, plane), JPEG_OK);
    for (int16_t v : plane) ASSERT_EQ(v, 200);
}

// ---- Damaged and unusual entropy data --------------------------------------------

// Offset just past the SOS segment (the first entropy-coded byte).
size_t scan_data_start(const std::vector<uint8_t> &jpeg) {
    for (size_t i = 2; i + 3 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i + 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    }
    return 0;
}

TEST(DamagedScan, TruncatedAtEveryOffsetNeverFails) {
    std::vector<uint8_t> jpeg = make_jpeg({"", TJPF_RGB, TJSAMP_420, 40, 30, 2, false});
    ASSERT_FALSE(jpeg.empty());
    const size_t start = scan_data_start(jpeg);
    ASSERT_GT(start, 0u);
    DecodeRequest q;
    for (size_t n = start; n <= jpeg.size(); ++n) {
        std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + n);
        DecodeResult d = decode(cut, q);
        EXPECT_LE(d.result, JPEG_OK) << n; // a result code, never a crash
    }
}

TEST(DamagedScan, CorruptBytesStayInBounds) {
    for (int layout = 0; layout < 3; ++layout) {
        const OracleCase c = layout == 0   ? OracleCase{"", TJPF_RGB, TJSAMP_420, 48, 40, 0, false}
                             : layout == 1 ? OracleCase{"", TJPF_GRAY, TJSAMP_GRAY, 48, 40, 1, false}
                                           : OracleCase{"", TJPF_RGB, TJSAMP_444, 48, 40, 3, false};
        std::vector<uint8_t> jpeg = make_jpeg(c);
        ASSERT_FALSE(jpeg.empty());
        const size_t start = scan_data_start(jpeg);
        uint32_t seed = 12345u + layout;
        for (int round = 0; round < 200; ++round) {
            std::vector<uint8_t> bad = jpeg;
            for (int k = 0; k < 1 + round % 8; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const size_t at = start + (seed >> 8) % (bad.size() - 2 - start);
                bad[at] = static_cast<uint8_t>(seed >> 24);
            }
            DecodeRequest q;
            q.image_color = c.pixel_format == TJPF_GRAY ? COLOR_GRAY : COLOR_RGB;
            q.channels = c.pixel_format == TJPF_GRAY ? 1 : 3;
            DecodeResult d = decode(bad, q);
            EXPECT_LE(d.result, JPEG_OK);
        }
    }
}

TEST(DamagedScan, MissingEoiInMemoryStillDecodes) {
    std::vector<uint8_t> jpeg = make_jpeg({"", TJPF_RGB, TJSAMP_420, 50, 30, 0, false});
    ASSERT_FALSE(jpeg.empty());
    DecodeRequest q;
    DecodeResult whole = decode(jpeg, q);
    ASSERT_EQ(whole.result, JPEG_OK);
    std::vector<uint8_t> no_eoi(jpeg.begin(), jpeg.end() - 2);
    DecodeResult d = decode(no_eoi, q);
    // The image is complete; only the end marker is missing.
    EXPECT_TRUE(d.result == JPEG_OK || d.result == JPEG_MEMORY_ERROR) << d.result;
    EXPECT_EQ(d.pixels, whole.pixels);
}

TEST(DamagedScan, CutShortWithRestartsIsMemoryError) {
    std::vector<uint8_t> jpeg = make_jpeg({"", TJPF_RGB, TJSAMP_444, 64, 64, 4, false});
    ASSERT_FALSE(jpeg.empty());
    const size_t start = scan_data_start(jpeg);
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + start + (jpeg.size() - start) / 2);
    DecodeRequest q;
    EXPECT_EQ(decode(cut, q).result, JPEG_MEMORY_ERROR);
}

// Positions of the RSTn markers in a stream.
std::vector<size_t> restart_markers(const std::vector<uint8_t> &jpeg) {
    std::vector<size_t> at;
    for (size_t i = scan_data_start(jpeg); i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7) at.push_back(i);
    return at;
}

TEST(DamagedScan, IntervalCutShortRecoversAtNextRestart) {
    // 64x64 4:4:4, one restart interval per MCU row (8 MCUs).
    std::vector<uint8_t> jpeg = make_jpeg({"", TJPF_RGB, TJSAMP_444, 64, 64, 8, false});
    ASSERT_FALSE(jpeg.empty());
    const std::vector<size_t> rst = restart_markers(jpeg);
    ASSERT_EQ(rst.size(), 7u);
    // Drop the second half of the data of interval 3 (between RST2 and RST3).
    const size_t from = rst[2] + 2 + (rst[3] - rst[2] - 2) / 2;
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + from);
    cut.insert(cut.end(), jpeg.begin() + rst[3], jpeg.end());
    DecodeRequest q;
    DecodeResult whole = decode(jpeg, q);
    DecodeResult d = decode(cut, q);
    ASSERT_EQ(d.result, JPEG_OK);
    const size_t row_bytes = 64 * 3 * 8; // one MCU row
    for (int r = 0; r < 8; ++r) {
        const bool same = std::equal(d.pixels.begin() + r * row_bytes, d.pixels.begin() + (r + 1) * row_bytes,
                                     whole.pixels.begin() + r * row_bytes);
        if (r == 3) {
            EXPECT_FALSE(same) << "the damaged interval cannot decode right";
        } else {
            EXPECT_TRUE(same) << "MCU row " << r;
        }
    }
}

TEST(DamagedScan, RestartMarkersRenumberedOrMissingAreAbsorbed) {
    std::vector<uint8_t> jpeg = make_jpeg({"", TJPF_RGB, TJSAMP_420, 64, 64, 1, false});
    ASSERT_FALSE(jpeg.empty());
    DecodeRequest q;
    DecodeResult whole = decode(jpeg, q);
    std::vector<uint8_t> renumbered = jpeg;
    for (size_t at : restart_markers(jpeg)) renumbered[at + 1] = 0xD5; // every RST the same number
    DecodeResult d = decode(renumbered, q);
    ASSERT_EQ(d.result, JPEG_OK);
    EXPECT_EQ(d.pixels, whole.pixels);
}

} // namespace

// ---- One call per scan against the kernels block by block ---------------------

// Sets QUORREL_USECPU for the records made while it lives.
class CpuClass {
public:
    explicit CpuClass(int cls) {
        if (const char *old = std::getenv("QUORREL_USECPU")) old_ = old, had_ = true;
        setenv("QUORREL_USECPU", std::to_string(cls).c_str(), 1);
    }
    ~CpuClass() {
        if (had_) {
            setenv("QUORREL_USECPU", old_.c_str(), 1);
        } else {
            unsetenv("QUORREL_USECPU");
        }
    }

private:
    std::string old_;
    bool had_ = false;
};

using namespace qrl_stream;

// A gray frame of w x h whose scan holds only `data`; with these tables
// zero bits decode as a DC difference of 0 and AC coefficients of -1.
std::vector<uint8_t> short_scan_stream(uint16_t w, uint16_t h, const std::vector<uint8_t> &data, bool restart) {
    std::vector<uint8_t> s = marker(0xD8);
    append(s, segment(0xDB, dqt_payload(0)));
    const uint8_t dc_counts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    append(s, segment(0xC4, dht_payload(0, 0, dc_counts)));
    std::vector<uint8_t> ac = {0x10, 0, 2, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x00, 0x04, 0x11};
    append(s, segment(0xC4, ac));
    if (restart) append(s, segment(0xDD, {0x00, 0x05}));
    append(s, segment(0xC0, sof_payload(w, h, {{1, 0x11, 0}})));
    append(s, segment(0xDA, sos_payload({{1, 0x00}})));
    append(s, data);
    return s;
}

// Streams cut short in the ways the block kernels tell apart: data ending
// without a marker, a marker inside the data, a 0xFF as the last byte, with
// and without restart intervals, small and large frames.
std::vector<std::pair<std::string, std::vector<uint8_t>>> cut_short_streams() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    for (int restart : {0, 2}) {
        const std::vector<uint8_t> jpeg = make_jpeg({"", TJPF_RGB, TJSAMP_420, 64, 48, restart, false});
        const size_t start = scan_data_start(jpeg);
        const size_t length = jpeg.size() - 2 - start;
        for (int part : {1, 3, 5, 7}) {
            const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + start + length * part / 8);
            const std::string name = "r" + std::to_string(restart) + "_" + std::to_string(part) + "of8";
            out.push_back({name + "_end", cut});
            std::vector<uint8_t> with_eoi = cut;
            append(with_eoi, marker(0xD9));
            out.push_back({name + "_eoi", with_eoi});
            std::vector<uint8_t> with_ff = cut;
            with_ff.push_back(0xFF);
            out.push_back({name + "_ff", with_ff});
        }
    }
    const std::vector<uint8_t> data = {0x12, 0x34, 0x56, 0x78};
    out.push_back({"gray512_end", short_scan_stream(512, 512, data, false)});
    std::vector<uint8_t> eoi = data;
    append(eoi, marker(0xD9));
    out.push_back({"gray512_eoi", short_scan_stream(512, 512, eoi, false)});
    out.push_back({"gray512_restart_end", short_scan_stream(512, 512, data, true)});
    return out;
}

// A call that runs through the scan decodes whole MCUs with its own reader;
// a call that stops after every MCU uses the kernel. Both must give the same
// pixels and result in every kernel set, also where the data are cut short.
TEST(DamagedScan, OneCallMatchesTheKernelsOnCutShortData) {
    for (const auto &[name, stream] : cut_short_streams()) {
        for (int cls : {0, 3, 4, 6}) {
            CpuClass use(cls);
            for (bool file : {false, true}) {
                DecodeRequest q;
                const bool gray = name.rfind("gray", 0) == 0;
                q.image_color = gray ? COLOR_GRAY : COLOR_RGB;
                q.channels = gray ? 1 : 3;
                q.file = file;
                const DecodeResult whole = decode(stream, q);
                q.interrupt_every_mcu = true;
                const DecodeResult pieces = decode(stream, q);
                const std::string where = name + " class " + std::to_string(cls) + (file ? " file" : " memory");
                EXPECT_EQ(whole.result, pieces.result) << where;
                EXPECT_EQ(whole.pixels, pieces.pixels) << where;
            }
        }
    }
}

} // namespace qrl_test
