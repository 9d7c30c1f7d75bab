// Conformance on the shared corpus: every decodable file is decoded by
// quorrel and by libjpeg-turbo (fast upsampling, same transform family) and
// compared; damaged and refused files must never crash the decoder.
//
// Registered twice: once with the machine's processor class and once with
// QUORREL_USECPU=0 (portable kernels).
//
// The SIMD sets round the red and blue terms of the color conversion down
// (R and B one level lower for some Cr and Cb values; green is identical).
// Together with the green rounding that every set shares, that lifts the mean
// difference against libjpeg-turbo just above 0.5 on many ordinary photos
// (about 0.40 with the portable rounding, 0.51 to 0.57 with the SIMD one).
// So where a SIMD set is in use, each file is also decoded with the portable
// output kernels: that decode is held to the limits, the SIMD decode must
// differ from it by exactly the documented rounding (sample by sample), and
// its own figures are held to the same maximum and to the limit's mean plus
// the mean that the rounding adds on that file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codec/codec.h"
#include "dispatch/cpu.h"
#include "dispatch/kernel_table.h"
#include "support/corpus.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

// Files larger than this are not decoded here: the pixel buffers of the
// 280-megapixel corpus image alone would take more memory and time than a CI
// run should spend. They are counted and listed as skipped.
constexpr uint64_t kMaxPixels = 40'000'000;

struct RecordDeleter {
    void operator()(JPEG_CODEC_RECORD *r) const {
        (void)codec_free(r);
        std::free(r);
    }
};
using RecordPtr = std::unique_ptr<JPEG_CODEC_RECORD, RecordDeleter>;

RecordPtr new_record() {
    auto *raw = static_cast<JPEG_CODEC_RECORD *>(std::malloc(sizeof(JPEG_CODEC_RECORD)));
    std::memset(raw, 0xAB, sizeof(JPEG_CODEC_RECORD)); // poison before init
    RecordPtr rec(raw);
    EXPECT_EQ(codec_init(rec.get()), JPEG_OK);
    return rec;
}

// True when the first frame header is SOF2, found by walking the segments.
bool is_progressive(const std::vector<uint8_t> &data) {
    size_t i = 2;
    while (i + 4 <= data.size()) {
        if (data[i] != 0xFF) return false;
        const uint8_t code = data[i + 1];
        if (code == 0xFF) {
            ++i;
            continue;
        }
        if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) return code == 0xC2;
        i += 2 + ((static_cast<size_t>(data[i + 2]) << 8) | data[i + 3]);
    }
    return false;
}

// Files on which a limit cannot hold for a stated reason; they are still
// decoded and compared with the limits given here.
struct KnownDifference {
    const char *file;
    Limits accurate;
    const char *reason;
};
constexpr KnownDifference kKnownDifferences[] = {
    {"baseline/zune-mjpeg_huffman.jpg", {255, 255.0, 0.0},
     "Motion-JPEG frame without DHT: the decoder installs no default Huffman tables, so the scan decodes "
     "with the empty table store (constant blocks) while libjpeg-turbo substitutes the standard tables"},
    {"odd_size/mdext-Issue_508.jpg", {4, 1.0, 0.0},
     "one pixel: the prescribed rounding of the green term (Y - ((...) >> 8)) is one level off from "
     "libjpeg-turbo, which on a single pixel is a mean of 0.67"},
    {"progressive/mdext-Issue_614.jpg", {4, 1.0, 0.0},
     "a flat image: the same one-level rounding difference covers every pixel"},
};

const KnownDifference *known_difference(const std::string &name) {
    for (const KnownDifference &k : kKnownDifferences)
        if (name == k.file) return &k;
    return nullptr;
}

std::string short_name(const std::string &path) {
    const std::filesystem::path p(path);
    return p.parent_path().filename().string() + "/" + p.filename().string();
}

struct Header {
    int32_t result = 0;
    int width = 0, height = 0, channels = 0;
    int32_t jpeg_color = 0;
    bool rgb_ids = false; // component identifiers 'R', 'G', 'B'
    bool adobe = false, jfif = false;
};

Header read_header(const std::vector<uint8_t> &data) {
    Header h;
    RecordPtr rec = new_record();
    std::vector<uint8_t> copy(data);
    rec->jpeg_buffer = copy.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(copy.size());
    h.result = codec_read(rec.get(), JPEG_IO_READ_HEADER_MEM);
    if (h.result != JPEG_OK) return h;
    h.width = rec->jpeg_width;
    h.height = rec->jpeg_height;
    h.channels = rec->jpeg_channels;
    h.jpeg_color = rec->jpeg_color;
    h.adobe = rec->props.adobe_found != 0;
    h.jfif = rec->props.jfif_found != 0;
    const COMPONENT_INFO *c = rec->props.frame_components;
    h.rgb_ids = h.channels == 3 && c != nullptr && c[0].id == 'R' && c[1].id == 'G' && c[2].id == 'B';
    return h;
}

struct OurDecode {
    int32_t result = 0;
    std::vector<uint8_t> pixels;
};

// Decodes from an exact-size copy (so a read past the end is a read past an
// allocation) into a tightly packed buffer.
// Puts the portable color converters into a record's table (the other slots
// keep the set of the processor class).
void use_portable_conversion(KERNEL_TABLE *t) {
    const KERNEL_TABLE &p = qrl::kernel_set_table(qrl::KernelSet::Portable);
    t->ycc_to_rgb_h1v1 = p.ycc_to_rgb_h1v1;
    t->ycc_to_rgb_h2v1 = p.ycc_to_rgb_h2v1;
    t->ycc_to_rgb_h2v2 = p.ycc_to_rgb_h2v2;
    t->ycc_to_bgr_h1v1 = p.ycc_to_bgr_h1v1;
    t->ycc_to_bgr_h2v1 = p.ycc_to_bgr_h2v1;
    t->ycc_to_bgr_h2v2 = p.ycc_to_bgr_h2v2;
    t->ycc_to_rgba_h1v1 = p.ycc_to_rgba_h1v1;
    t->ycc_to_rgba_h2v1 = p.ycc_to_rgba_h2v1;
    t->ycc_to_rgba_h2v2 = p.ycc_to_rgba_h2v2;
    t->ycck_to_cmyk_h1v1 = p.ycck_to_cmyk_h1v1;
    t->ycck_to_cmyk_h2v1 = p.ycck_to_cmyk_h2v1;
    t->ycck_to_cmyk_h2v2 = p.ycck_to_cmyk_h2v2;
}

OurDecode our_decode(const std::vector<uint8_t> &data, const Header &h, int32_t image_color, int channels,
                     int32_t jpeg_color, int32_t dct_method, bool portable_conversion = false) {
    OurDecode d;
    RecordPtr rec = new_record();
    if (portable_conversion) use_portable_conversion(rec->props.kernel_table);
    std::vector<uint8_t> copy(data);
    d.pixels.assign(static_cast<size_t>(h.width) * h.height * channels, 0);
    rec->jpeg_buffer = copy.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(copy.size());
    rec->image_pixels = d.pixels.data();
    rec->image_width = h.width;
    rec->image_height = h.height;
    rec->image_channels = channels;
    rec->image_color = image_color;
    rec->jpeg_color = jpeg_color;
    rec->jpeg_channels = h.channels; // as a header read on this record would leave it
    rec->props.dct_method = dct_method;
    d.result = codec_read(rec.get(), JPEG_IO_DECODE_MEM);
    return d;
}

struct Tally {
    int compared = 0;
    int skipped = 0;
    std::vector<std::string> skip_reasons;
    void skip(const std::string &file, const std::string &why) {
        ++skipped;
        skip_reasons.push_back(file + ": " + why);
    }
    void print(const std::string &category) const {
        std::printf("[ %s ] %d files compared, %d skipped\n", category.c_str(), compared, skipped);
        for (const auto &r : skip_reasons) std::printf("    skipped %s\n", r.c_str());
    }
};

// Diff images of the two registrations (run in parallel) must not collide.
std::string diff_prefix() {
    const char *env = std::getenv("QUORREL_USECPU");
    return std::string("corpus_cpu") + (env != nullptr && *env != '\0' ? env : "default") + "_";
}

int32_t processor_class_in_use() {
    RecordPtr rec = new_record();
    return qrl::classify_processor(rec->props.kernel_table);
}

// True when the kernel set in use has the SIMD color converters.
bool simd_rounding_in_use() {
    RecordPtr rec = new_record();
    return rec->props.kernel_table->ycc_to_rgb_h1v1 !=
           qrl::kernel_set_table(qrl::KernelSet::Portable).ycc_to_rgb_h1v1;
}

// Checks that `simd` differs from `portable` only by the SIMD rounding of the
// red and blue terms: channels 0 and 2 equal or one level lower (RGB) or
// higher (CMYK, the inverted form), the others identical. With
// `converted` false (no YCbCr conversion on this output) they must be
// identical. Returns the mean absolute difference through *mean.
::testing::AssertionResult differs_by_simd_rounding(const uint8_t *simd, const uint8_t *portable, size_t samples,
                                                     int channels, bool inverted, bool converted, double *mean) {
    const int step = inverted ? 1 : -1;
    int64_t sum = 0;
    for (size_t i = 0; i < samples; ++i) {
        const int d = static_cast<int>(simd[i]) - static_cast<int>(portable[i]);
        const int c = static_cast<int>(i % static_cast<size_t>(channels));
        const bool rounded_channel = converted && channels >= 3 && (c == 0 || c == 2);
        if (d != 0 && !(rounded_channel && d == step))
            return ::testing::AssertionFailure() << "sample " << i << " (channel " << c << "): SIMD " << int(simd[i])
                                                 << ", portable rounding " << int(portable[i])
                                                 << ", beyond the documented red/blue rounding";
        sum += d < 0 ? -d : d;
    }
    *mean = samples != 0 ? static_cast<double>(sum) / static_cast<double>(samples) : 0.0;
    return ::testing::AssertionSuccess();
}

class CorpusConformance : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override {
        if (corpus_dir().empty()) GTEST_SKIP() << "skipped: the shared corpus is not present";
        const char *env = std::getenv("QUORREL_USECPU");
        std::printf("processor class %d (QUORREL_USECPU=%s)\n", processor_class_in_use(),
                    env != nullptr ? env : "unset");
    }
};

TEST_P(CorpusConformance, MatchesTheReferenceDecoder) {
    const std::string category = GetParam();
    const std::vector<std::string> files = corpus_files(category);
    if (files.empty()) GTEST_SKIP() << "skipped: no files in category " << category;
    Tally tally;
    const bool simd_rounding = simd_rounding_in_use();
    for (const std::string &path : files) {
        const std::string name = short_name(path);
        SCOPED_TRACE(name);
        const std::vector<uint8_t> data = read_file_bytes(path);
        const Header h = read_header(data);
        if (h.result == JPEG_NOT_SUPPORTED) {
            tally.skip(name, "header: JPEG_NOT_SUPPORTED");
            continue;
        }
        if (h.result != JPEG_OK) {
            ADD_FAILURE() << name << ": header read gave " << h.result << " (" << codec_error_text(h.result) << ")";
            continue;
        }
        if (static_cast<uint64_t>(h.width) * h.height > kMaxPixels) {
            tally.skip(name, std::to_string(h.width) + "x" + std::to_string(h.height) +
                                 " exceeds the test's pixel budget");
            continue;
        }
        // Output layout: gray to one channel, four components to CMYK, the
        // rest to RGB.
        int32_t image_color = COLOR_RGB, jpeg_color = h.jpeg_color;
        int channels = 3, tj_format = TJPF_RGB;
        if (h.channels == 1) {
            image_color = COLOR_GRAY;
            channels = 1;
            tj_format = TJPF_GRAY;
        } else if (h.channels == 4) {
            image_color = COLOR_CMYK;
            channels = 4;
            tj_format = TJPF_CMYK;
            // Without an Adobe segment four components are taken as CMYK.
            if (!h.adobe) jpeg_color = COLOR_CMYK;
        } else if (h.channels == 3 && h.rgb_ids && !h.adobe && !h.jfif) {
            // The stream does not say; the component names do, and the caller
            // passes that on as its assumption.
            jpeg_color = COLOR_RGB;
        }
        const int smoothing = is_progressive(data) ? kOracleNoBlockSmoothing : 0;
        const DecodedImage ref_accurate = tj_decode(data, tj_format, kTjAccurate | smoothing);
        const DecodedImage ref_fast = tj_decode(data, tj_format, kTjFast | smoothing);
        if (!ref_accurate.ok() || !ref_fast.ok()) {
            tally.skip(name, "the reference decoder fails: " + ref_accurate.error + ref_fast.error);
            continue;
        }
        ASSERT_EQ(ref_accurate.width, h.width);
        ASSERT_EQ(ref_accurate.height, h.height);

        const OurDecode accurate = our_decode(data, h, image_color, channels, jpeg_color, 1);
        if (accurate.result == JPEG_NOT_SUPPORTED) {
            tally.skip(name, "decode: JPEG_NOT_SUPPORTED");
            continue;
        }
        if (accurate.result != JPEG_OK) {
            ADD_FAILURE() << name << ": accurate decode gave " << accurate.result << " ("
                          << codec_error_text(accurate.result) << ")";
            continue;
        }
        ++tally.compared;
        const KnownDifference *known = known_difference(name);
        if (known != nullptr) std::printf("    known difference %s: %s\n", name.c_str(), known->reason);
        const Limits limits = known != nullptr ? known->accurate : Limits{4, 0.5, 0.0};
        const size_t samples = static_cast<size_t>(h.width) * h.height * channels;
        if (!simd_rounding) {
            EXPECT_TRUE(images_close(diff_prefix() + "accurate_" + name, accurate.pixels.data(), 0,
                                     ref_accurate.pixels.data(), 0, h.width, h.height, channels, limits));
        } else {
            const OurDecode portable = our_decode(data, h, image_color, channels, jpeg_color, 1, true);
            ASSERT_EQ(portable.result, JPEG_OK);
            EXPECT_TRUE(images_close(diff_prefix() + "accurate_portable_rounding_" + name, portable.pixels.data(), 0,
                                     ref_accurate.pixels.data(), 0, h.width, h.height, channels, limits));
            const bool converted = (channels == 3 && jpeg_color != COLOR_RGB) ||
                                   (channels == 4 && jpeg_color == COLOR_YCCK);
            double rounding_mean = 0.0;
            EXPECT_TRUE(differs_by_simd_rounding(accurate.pixels.data(), portable.pixels.data(), samples, channels,
                                                 channels == 4, converted, &rounding_mean));
            const DiffStats simd_stats = compare_images(accurate.pixels.data(), 0, ref_accurate.pixels.data(), 0,
                                                        h.width, h.height, channels);
            if (simd_stats.mean_abs > 0.5)
                std::printf("    SIMD rounding %s: max %d, mean %.3f against libjpeg-turbo, of which up to %.3f "
                            "from the red/blue rounding\n",
                            name.c_str(), simd_stats.max_abs, simd_stats.mean_abs, rounding_mean);
            EXPECT_TRUE(images_close(diff_prefix() + "accurate_" + name, accurate.pixels.data(), 0,
                                     ref_accurate.pixels.data(), 0, h.width, h.height, channels,
                                     Limits{limits.max_abs, limits.mean_abs + rounding_mean, limits.min_psnr}));
        }
        if (known != nullptr && known->accurate.max_abs == 255) continue;

        const OurDecode fast = our_decode(data, h, image_color, channels, jpeg_color, 0);
        if (fast.result != JPEG_OK) {
            ADD_FAILURE() << name << ": fast decode gave " << fast.result << " (" << codec_error_text(fast.result)
                          << ")";
            continue;
        }
        // The fast family keeps 40 dB against the accurate reference, or, on
        // files where libjpeg-turbo's own fast family falls below that, at
        // least the PSNR libjpeg-turbo's fast family reaches.
        const DiffStats reference_fast = compare_images(ref_fast.pixels.data(), 0, ref_accurate.pixels.data(), 0,
                                                        h.width, h.height, channels);
        const double min_psnr = reference_fast.psnr < 40.0 ? reference_fast.psnr : 40.0;
        ::testing::AssertionResult fast_ok =
            images_close(diff_prefix() + "fast_" + name, fast.pixels.data(), 0, ref_accurate.pixels.data(), 0, h.width,
                         h.height, channels, Limits{255, 255.0, min_psnr});
        if (!fast_ok) {
            // For diagnosis: how far libjpeg-turbo's own fast family is from
            // its accurate one, and how far ours is from its fast one.
            const DiffStats theirs = compare_images(ref_fast.pixels.data(), 0, ref_accurate.pixels.data(), 0, h.width,
                                                    h.height, channels);
            const DiffStats vs_fast =
                compare_images(fast.pixels.data(), 0, ref_fast.pixels.data(), 0, h.width, h.height, channels);
            fast_ok << "; libjpeg-turbo fast vs accurate: " << theirs.psnr << " dB; ours fast vs libjpeg-turbo fast: "
                    << vs_fast.psnr << " dB, max diff " << vs_fast.max_abs;
        }
        EXPECT_TRUE(fast_ok);
    }
    tally.print(category);
    RecordProperty("compared", tally.compared);
    RecordProperty("skipped", tally.skipped);
}

INSTANTIATE_TEST_SUITE_P(Categories, CorpusConformance,
                         ::testing::Values("baseline", "extended", "restart", "gray", "odd_size", "cmyk_adobe",
                                           "progressive", "multiscan_sequential", "odd_sampling", "thumbnail"),
                         [](const ::testing::TestParamInfo<const char *> &p) { return std::string(p.param); });

// Damaged and refused files: any result code, but no crash, no read outside
// the exact-size copy (visible under the sanitizers) and no hang.
class CorpusRobustness : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override {
        if (corpus_dir().empty()) GTEST_SKIP() << "skipped: the shared corpus is not present";
    }
};

TEST_P(CorpusRobustness, NeverCrashes) {
    const std::vector<std::string> files = corpus_files(GetParam());
    if (files.empty()) GTEST_SKIP() << "skipped: no files in category " << GetParam();
    int decoded = 0, refused = 0, header_only = 0;
    for (const std::string &path : files) {
        SCOPED_TRACE(short_name(path));
        const std::vector<uint8_t> data = read_file_bytes(path);
        if (data.empty()) continue;
        const Header h = read_header(data);
        if (h.result != JPEG_OK) {
            ++refused;
            EXPECT_LT(h.result, 0);
            continue;
        }
        const uint64_t pixels = static_cast<uint64_t>(h.width) * h.height;
        if (pixels == 0 || pixels > kMaxPixels) {
            ++header_only;
            continue;
        }
        const int channels = h.channels == 1 ? 1 : (h.channels == 4 ? 4 : 3);
        const int32_t color = h.channels == 1 ? COLOR_GRAY : (h.channels == 4 ? COLOR_CMYK : COLOR_RGB);
        for (int32_t method : {1, 0}) {
            const OurDecode d = our_decode(data, h, color, channels, h.jpeg_color, method);
            (d.result == JPEG_OK ? decoded : refused) += 1;
        }
    }
    std::printf("[ %s ] %zu files: %d decodes succeeded, %d reads refused, %d header only (size)\n", GetParam(),
                files.size(), decoded, refused, header_only);
}

INSTANTIATE_TEST_SUITE_P(Categories, CorpusRobustness, ::testing::Values("corrupt", "refused"),
                         [](const ::testing::TestParamInfo<const char *> &p) { return std::string(p.param); });

} // namespace
} // namespace qrl_test
