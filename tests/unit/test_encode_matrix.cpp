// Every layout the write validation accepts, at qualities 1, 50, 75 and 100,
// restart intervals 0, 1 and 7, sequential and progressive, in both transform
// families: libjpeg-turbo decodes the stream without a warning, and our
// decoder gives libjpeg-turbo's pixels within the decoder's conformance limits
// (largest difference 4, mean 0.5, held by the portable decode; the SIMD
// decode kernels' documented rounding adds to the mean).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <turbojpeg.h>

#include "encode_test_util.h"
#include "support/oracle.h"

using namespace qrl_test;

namespace {

struct Layout {
    const char *name;
    int32_t image_color, image_channels, jpeg_color, jpeg_channels, subsampling;
};

// The pairs of the write validation's table (COLOR_OTHER with one and three
// components; libjpeg-turbo has no output for two, and takes four as CMYK).
const Layout kLayouts[] = {
    {"gray", COLOR_GRAY, 1, COLOR_GRAY, 1, SUBSAMPLING_NONE},
    {"gray_ycc444", COLOR_GRAY, 1, COLOR_YCBCR, 3, SUBSAMPLING_NONE},
    {"gray_ycc420", COLOR_GRAY, 1, COLOR_YCBCR, 3, SUBSAMPLING_2X2},
    {"rgb_gray", COLOR_RGB, 3, COLOR_GRAY, 1, SUBSAMPLING_NONE},
    {"rgb_rgb", COLOR_RGB, 3, COLOR_RGB, 3, SUBSAMPLING_NONE},
    {"rgb_rgb420", COLOR_RGB, 3, COLOR_RGB, 3, SUBSAMPLING_2X2},
    {"rgb_ycc444", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_NONE},
    {"rgb_ycc420", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2},
    {"rgb_ycc422", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X1},
    {"rgbx_ycc444", COLOR_RGB, 4, COLOR_YCBCR, 3, SUBSAMPLING_NONE},
    {"rgbx_ycc420", COLOR_RGB, 4, COLOR_YCBCR, 3, SUBSAMPLING_2X2},
    {"bgr_gray", COLOR_BGR, 3, COLOR_GRAY, 1, SUBSAMPLING_NONE},
    {"bgr_rgb", COLOR_BGR, 3, COLOR_RGB, 3, SUBSAMPLING_NONE},
    {"bgr_ycc444", COLOR_BGR, 3, COLOR_YCBCR, 3, SUBSAMPLING_NONE},
    {"bgr_ycc420", COLOR_BGR, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2},
    {"bgr_ycc422", COLOR_BGR, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X1},
    {"cmyk_cmyk", COLOR_CMYK, 4, COLOR_CMYK, 4, SUBSAMPLING_NONE},
    {"cmyk_cmyk420", COLOR_CMYK, 4, COLOR_CMYK, 4, SUBSAMPLING_2X2_4},
    {"cmyk_ycck", COLOR_CMYK, 4, COLOR_YCCK, 4, SUBSAMPLING_NONE},
    {"cmyk_ycck420", COLOR_CMYK, 4, COLOR_YCCK, 4, SUBSAMPLING_2X2_4},
    {"cmyk_ycck422", COLOR_CMYK, 4, COLOR_YCCK, 4, SUBSAMPLING_2X1_4},
    {"ycc_ycc444", COLOR_YCBCR, 3, COLOR_YCBCR, 3, SUBSAMPLING_NONE},
    {"ycc_ycc420", COLOR_YCBCR, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2},
    {"other1", COLOR_OTHER, 1, COLOR_OTHER, 1, SUBSAMPLING_NONE},
    {"other3", COLOR_OTHER, 3, COLOR_OTHER, 3, SUBSAMPLING_NONE},
};

// The decoded layout of a stream of n components: gray, RGB or CMYK.
struct Output {
    int32_t color, channels;
    int tj_format;
};
Output output_for(int32_t components) {
    if (components == 1) return {COLOR_GRAY, 1, TJPF_GRAY};
    if (components == 4) return {COLOR_CMYK, 4, TJPF_CMYK};
    return {COLOR_RGB, 3, TJPF_RGB};
}

// True when tjDecompress2 decodes the stream with neither error nor warning.
bool decodes_cleanly(const std::vector<uint8_t> &jpeg, const Output &out, int width, int height,
                     std::string *why) {
    tjhandle tj = tjInitDecompress();
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * static_cast<size_t>(out.channels));
    const int rc = tjDecompress2(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), pixels.data(), width,
                                 width * out.channels, height, out.tj_format, kTjAccurate);
    if (rc != 0) *why = tjGetErrorStr2(tj);
    tjDestroy(tj);
    return rc == 0;
}

// A record with the portable kernels (processor class 0), the environment
// override restored afterwards.
Record make_portable_record() {
    const char *previous = std::getenv("QUORREL_USECPU");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("QUORREL_USECPU", "0", 1);
    Record r = make_record();
    if (previous != nullptr)
        setenv("QUORREL_USECPU", saved.c_str(), 1);
    else
        unsetenv("QUORREL_USECPU");
    return r;
}

// Our decode of the stream (accurate family, portable kernels) into the
// output layout.
int32_t our_decode(const std::vector<uint8_t> &jpeg, const Output &out, int width, int height,
                   std::vector<uint8_t> *pixels) {
    Record r = make_portable_record();
    r->jpeg_buffer = const_cast<uint8_t *>(jpeg.data());
    r->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    int32_t result = codec_read(r.get(), JPEG_IO_READ_HEADER_MEM);
    if (result != JPEG_OK) return result;
    pixels->assign(static_cast<size_t>(width) * height * static_cast<size_t>(out.channels), 0);
    r->image_pixels = pixels->data();
    r->image_width = width;
    r->image_height = height;
    r->image_pad_bytes = 0;
    r->image_channels = out.channels;
    r->image_color = out.color;
    r->props.dct_method = 1;
    return codec_read(r.get(), JPEG_IO_DECODE_MEM);
}

TEST(EncodeMatrix, EveryAcceptedCombinationDecodesLikeTheReference) {
    constexpr int32_t kWidth = 37, kHeight = 21; // partial MCUs on both edges
    int checked = 0;
    for (const Layout &l : kLayouts) {
        const std::vector<uint8_t> source = synthetic_pixels(kWidth, kHeight, l.image_channels);
        for (const int32_t quality : {1, 50, 75, 100})
            for (const int32_t restart : {0, 1, 7})
                for (const bool progressive : {false, true})
                    for (const int32_t dct_method : {1, 0}) {
                        WriteSpec s;
                        s.width = kWidth;
                        s.height = kHeight;
                        s.image_color = l.image_color;
                        s.image_channels = l.image_channels;
                        s.jpeg_color = l.jpeg_color;
                        s.jpeg_channels = l.jpeg_channels;
                        s.jpeg_subsampling = l.subsampling;
                        s.quality = quality;
                        s.restart_interval = restart;
                        s.progressive = progressive;
                        s.dct_method = dct_method;
                        const std::string what = std::string(l.name) + " q" + std::to_string(quality) + " r" +
                                                 std::to_string(restart) + (progressive ? " progressive" : "") +
                                                 (dct_method == 0 ? " fast" : "");
                        const Encoded e = encode_memory(s, source);
                        if (progressive && l.jpeg_color == COLOR_OTHER && l.jpeg_channels == 1) {
                            // No progressive scan script serves this pair.
                            EXPECT_EQ(e.result, JPEG_INVALID_PROPERTIES) << what;
                            ++checked;
                            continue;
                        }
                        ASSERT_EQ(e.result, JPEG_OK) << what;
                        const Output out = output_for(l.jpeg_channels);
                        std::string why;
                        EXPECT_TRUE(decodes_cleanly(e.bytes, out, kWidth, kHeight, &why)) << what << ": " << why;
                        const DecodedImage ref =
                            tj_decode(e.bytes, out.tj_format, kTjAccurate | (progressive ? kOracleNoBlockSmoothing : 0));
                        ASSERT_TRUE(ref.ok()) << what << ": " << ref.error;
                        std::vector<uint8_t> ours;
                        ASSERT_EQ(our_decode(e.bytes, out, kWidth, kHeight, &ours), JPEG_OK) << what;
                        const DiffStats d =
                            compare_images(ours.data(), 0, ref.pixels.data(), 0, kWidth, kHeight, out.channels);
                        EXPECT_LE(d.max_abs, 4) << what;
                        EXPECT_LE(d.mean_abs, 0.5) << what;
                        ++checked;
                    }
    }
    EXPECT_EQ(checked, static_cast<int>(std::size(kLayouts)) * 4 * 3 * 2 * 2);
}

} // namespace
