// Scan orders that the default encoder settings never produce: one DC scan
// per component (non-interleaved DC scans of subsampled components), an
// interleaved DC scan of non-consecutive components, and sequential scans in
// reverse component order. Encoded here with a scan script through the
// libjpeg API and compared with libjpeg-turbo's decode of the same file.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "decode_test_util.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

struct Trap {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void trap_exit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<Trap *>(cinfo->err)->jump, 1); }
void no_output(j_common_ptr) {}

struct ScriptState {
    jpeg_compress_struct cinfo;
    Trap trap;
    unsigned char *out = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> pixels;
    std::vector<jpeg_scan_info> scans;
    bool created = false;
};

// {components..., Ss, Se, Ah, Al}
struct Scan {
    std::vector<int> components;
    int ss, se, ah, al;
};

bool run_encode(ScriptState &s, int width, int height, int h0, int v0, bool progressive, int restart) {
    s.cinfo.err = jpeg_std_error(&s.trap.mgr);
    s.trap.mgr.error_exit = trap_exit;
    s.trap.mgr.output_message = no_output;
    if (setjmp(s.trap.jump) != 0) return false;
    jpeg_create_compress(&s.cinfo);
    s.created = true;
    jpeg_mem_dest(&s.cinfo, &s.out, &s.size);
    s.cinfo.image_width = static_cast<JDIMENSION>(width);
    s.cinfo.image_height = static_cast<JDIMENSION>(height);
    s.cinfo.input_components = 3;
    s.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.cinfo);
    jpeg_set_quality(&s.cinfo, 85, TRUE);
    s.cinfo.comp_info[0].h_samp_factor = h0;
    s.cinfo.comp_info[0].v_samp_factor = v0;
    s.cinfo.restart_interval = static_cast<unsigned int>(restart);
    s.cinfo.scan_info = s.scans.data();
    s.cinfo.num_scans = static_cast<int>(s.scans.size());
    (void)progressive;
    jpeg_start_compress(&s.cinfo, TRUE);
    while (s.cinfo.next_scanline < s.cinfo.image_height) {
        JSAMPROW row = s.pixels.data() + static_cast<size_t>(width) * 3 * s.cinfo.next_scanline;
        jpeg_write_scanlines(&s.cinfo, &row, 1);
    }
    jpeg_finish_compress(&s.cinfo);
    return true;
}

std::vector<uint8_t> encode_with_script(const std::vector<Scan> &script, int width, int height, int h0, int v0,
                                        int restart = 0) {
    ScriptState s;
    std::memset(&s.cinfo, 0, sizeof(s.cinfo));
    s.pixels = synthetic_pixels(width, height, 3, 5);
    bool progressive = false;
    for (const Scan &sc : script) {
        jpeg_scan_info info{};
        info.comps_in_scan = static_cast<int>(sc.components.size());
        for (size_t i = 0; i < sc.components.size(); ++i) info.component_index[i] = sc.components[i];
        info.Ss = sc.ss;
        info.Se = sc.se;
        info.Ah = sc.ah;
        info.Al = sc.al;
        if (sc.ss != 0 || sc.se != 63 || sc.ah != 0 || sc.al != 0) progressive = true;
        s.scans.push_back(info);
    }
    const bool ok = run_encode(s, width, height, h0, v0, progressive, restart);
    std::vector<uint8_t> out;
    if (ok && s.out != nullptr) out.assign(s.out, s.out + s.size);
    if (s.created) jpeg_destroy_compress(&s.cinfo);
    std::free(s.out);
    EXPECT_TRUE(ok) << "scan script rejected by the encoder";
    return out;
}

struct ScriptCase {
    const char *name;
    std::vector<Scan> script;
    int h0, v0;
    int restart;
};

class ScanScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScanScript, MatchesReference) {
    const ScriptCase &c = GetParam();
    for (const int size : {0, 1}) {
        const int w = size == 0 ? 64 : 83, h = size == 0 ? 48 : 61;
        std::vector<uint8_t> jpeg = encode_with_script(c.script, w, h, c.h0, c.v0, c.restart);
        ASSERT_FALSE(jpeg.empty());
        DecodedImage ref = tj_decode(jpeg, TJPF_RGB, kTjAccurate);
        ASSERT_TRUE(ref.ok()) << ref.error;
        DecodeRequest q;
        DecodeResult d = decode(jpeg, q);
        ASSERT_EQ(d.result, JPEG_OK);
        EXPECT_TRUE(images_close(std::string("script_") + c.name, d.pixels.data(), 0, ref.pixels.data(), 0, w, h,
                                 3, Limits{4, 0.5}));
        // A region of the same file equals the crop.
        DecodeRequest rq;
        rq.roi[0] = 9;
        rq.roi[1] = 17;
        rq.roi[2] = w - 4;
        rq.roi[3] = h - 11;
        DecodeResult r = decode(jpeg, rq);
        ASSERT_EQ(r.result, JPEG_ROI_OK) << c.name;
        EXPECT_EQ(r.pixels, crop(d.pixels, w, 3, 9, 17, w - 4, h - 11)) << c.name;
        // Two regions on one record, from memory and from a file: the second
        // call continues from what the first one left.
        for (bool file : {false, true}) {
            Record rec = make_record();
            TempJpeg temp(jpeg);
            DecodeRequest first = rq;
            first.file = file;
            DecodeResult a = decode_with(rec.get(), jpeg, first, temp.path().c_str(), true);
            ASSERT_EQ(a.result, JPEG_ROI_OK) << c.name;
            EXPECT_EQ(a.pixels, r.pixels) << c.name;
            DecodeRequest second = first;
            const int second_rect[4] = {1, h / 2, w / 3, h};
            for (int i = 0; i < 4; ++i) second.roi[i] = second_rect[i];
            DecodeResult b = decode_with(rec.get(), jpeg, second, temp.path().c_str(), false);
            ASSERT_EQ(b.result, JPEG_ROI_OK) << c.name;
            EXPECT_EQ(b.pixels, crop(d.pixels, w, 3, 1, h / 2, w / 3, h)) << c.name << (file ? " file" : " memory");
        }
    }
}

const std::vector<Scan> kAcBands = {
    {{0}, 1, 63, 0, 0},
    {{1}, 1, 63, 0, 0},
    {{2}, 1, 63, 0, 0},
};

std::vector<Scan> with_ac(std::vector<Scan> dc) {
    dc.insert(dc.end(), kAcBands.begin(), kAcBands.end());
    return dc;
}

const ScriptCase kScripts[] = {
    {"dc_per_component_420", with_ac({{{0}, 0, 0, 0, 0}, {{1}, 0, 0, 0, 0}, {{2}, 0, 0, 0, 0}}), 2, 2, 0},
    {"dc_per_component_422_restart", with_ac({{{0}, 0, 0, 0, 0}, {{1}, 0, 0, 0, 0}, {{2}, 0, 0, 0, 0}}), 2, 1, 5},
    {"dc_0_and_2_then_1", with_ac({{{0, 2}, 0, 0, 0, 0}, {{1}, 0, 0, 0, 0}}), 2, 2, 0},
    {"dc_refined_per_component",
     with_ac({{{0}, 0, 0, 0, 1}, {{1, 2}, 0, 0, 0, 1}, {{0}, 0, 0, 1, 0}, {{1}, 0, 0, 1, 0}, {{2}, 0, 0, 1, 0}}), 2,
     2, 0},
    {"sequential_reverse_order", {{{2}, 0, 63, 0, 0}, {{1}, 0, 63, 0, 0}, {{0}, 0, 63, 0, 0}}, 2, 2, 0},
    {"sequential_cr_y_cb", {{{2}, 0, 63, 0, 0}, {{0}, 0, 63, 0, 0}, {{1}, 0, 63, 0, 0}}, 1, 1, 3},
    // Every component has a band ending at 63 before its low band comes: the
    // frame is complete before its last scans, which still refine it.
    {"high_bands_first_420",
     {{{0, 1, 2}, 0, 0, 0, 0}, {{0}, 6, 63, 0, 0}, {{1}, 6, 63, 0, 0}, {{2}, 6, 63, 0, 0}, {{0}, 1, 5, 0, 0},
      {{1}, 1, 5, 0, 0}, {{2}, 1, 5, 0, 0}},
     2, 2, 0},
    {"high_bands_first_444_restart",
     {{{0, 1, 2}, 0, 0, 0, 0}, {{2}, 9, 63, 0, 0}, {{1}, 1, 63, 0, 0}, {{0}, 1, 63, 0, 0}, {{2}, 1, 8, 0, 0}},
     1, 1, 4},
};

// A progressive stream cut after its first scan, a DC scan of one component:
// the image is output at EOI from what the buffer holds, with the frame's
// colour conversion, the same in one call as interrupted after every MCU.
TEST(ScanScriptCut, FirstScanOfOneComponentOnly) {
    const int w = 48, h = 40;
    std::vector<uint8_t> jpeg = encode_with_script(
        with_ac({{{0}, 0, 0, 0, 0}, {{1}, 0, 0, 0, 0}, {{2}, 0, 0, 0, 0}}), w, h, 2, 2);
    ASSERT_FALSE(jpeg.empty());
    size_t second = 0;
    for (size_t i = 2, seen = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && ++seen == 2) {
            second = i;
            break;
        }
    }
    ASSERT_NE(second, 0u);
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(second));
    cut.push_back(0xFF);
    cut.push_back(0xD9);
    DecodedImage ref = tj_decode(cut, TJPF_RGB, kTjAccurate);
    ASSERT_TRUE(ref.ok()) << ref.error;
    DecodeRequest q;
    DecodeResult once = decode(cut, q);
    ASSERT_EQ(once.result, JPEG_OK);
    EXPECT_TRUE(images_close("cut_first_scan", once.pixels.data(), 0, ref.pixels.data(), 0, w, h, 3, Limits{4, 0.5}));
    q.interrupt_every_mcu = true;
    DecodeResult pieces = decode(cut, q);
    ASSERT_EQ(pieces.result, JPEG_OK);
    EXPECT_GT(pieces.interrupts, 0);
    EXPECT_EQ(pieces.pixels, once.pixels);
}

INSTANTIATE_TEST_SUITE_P(Scan, ScanScript, ::testing::ValuesIn(kScripts),
                         [](const ::testing::TestParamInfo<ScriptCase> &p) { return std::string(p.param.name); });

} // namespace
} // namespace qrl_test
