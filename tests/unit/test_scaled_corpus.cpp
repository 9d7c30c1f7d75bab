// Reduced-size decoding on the shared corpus: every decodable file decodes at
// 1/2, 1/4 and 1/8 to ceil(width / s) x ceil(height / s) pixels and stays
// close to libjpeg-turbo's scaled decode (fast upsampling, accurate DCT).
// Each scale prints its worst files, so the limits can be checked against
// what is measured.
#include <algorithm>
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
#include "support/corpus.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

// Limits against libjpeg-turbo's scaled decode, in levels per channel: the
// largest difference of any sample and the mean over the image. Measured
// over the corpus: at most 3 (1/2) and 1 (1/4, 1/8), means at most 0.34 (on
// one-pixel-wide files); every scale prints its figures.
constexpr Limits kScaledLimits{4, 0.5, 0.0};

// As in the whole-size corpus test: files above this many pixels are left
// out (the 280-megapixel image would dominate the run).
constexpr uint64_t kMaxPixels = 40'000'000;

// Files on which the comparison cannot hold, with the reason.
struct Excluded {
    const char *file;
    const char *reason;
};
constexpr Excluded kExcluded[] = {
    {"baseline/zune-mjpeg_huffman.jpg",
     "Motion-JPEG frame without DHT: decoded with the empty table store, while libjpeg-turbo substitutes the "
     "standard tables (a known difference of the whole-size comparison)"},
};

const char *excluded(const std::string &name) {
    for (const Excluded &e : kExcluded)
        if (name == e.file) return e.reason;
    return nullptr;
}

// Frames that are not uniform (some component with H != V, or a factor of
// 4) whose chroma libjpeg-turbo transforms at a larger size where the
// factors allow it (twice the size for 1x1 chroma under 4x2 luma), while the
// scaled writers reduce every block of such a frame to the luma block's
// size and replicate chroma over H x V output pixels. Held to limits a
// little above the differences measured over the three scales.
struct KnownDifference {
    const char *file;
    Limits limits;
};
constexpr KnownDifference kKnownDifferences[] = {
    {"odd_sampling/gofuzz-video-001.q50.410.jpg", {56, 8.0, 0.0}},             // 4x2, 1x1, 1x1
    {"odd_sampling/gofuzz-video-001.q50.410.progressive.jpg", {56, 8.0, 0.0}}, // 4x2, 1x1, 1x1
    {"odd_sampling/zune-fox410.jpg", {75, 2.0, 0.0}},                          // 4x2, 1x1, 1x1
    {"odd_sampling/wuffs-peacock.s-weird.jpg", {60, 5.0, 0.0}},                // 2x2, 2x1, 1x1
    {"odd_sampling/wuffs-peacock.s-very-weird.jpg", {68, 4.5, 0.0}},           // 4x1, 2x1, 2x2
};

const Limits *known_limits(const std::string &name) {
    for (const KnownDifference &k : kKnownDifferences)
        if (name == k.file) return &k.limits;
    return nullptr;
}

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

std::string short_name(const std::string &path) {
    const std::filesystem::path p(path);
    return p.parent_path().filename().string() + "/" + p.filename().string();
}

// True when the first frame header is SOF2.
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

struct Header {
    int32_t result = 0;
    int width = 0, height = 0, channels = 0;
    int32_t jpeg_color = 0;
    bool rgb_ids = false, adobe = false, jfif = false;
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

int32_t mode_for_scale(int scale) {
    switch (scale) {
    case 2: return JPEG_IO_DECODE_HALF_MEM;
    case 4: return JPEG_IO_DECODE_QUARTER_MEM;
    default: return JPEG_IO_DECODE_EIGHTH_MEM;
    }
}

struct Measured {
    std::string file;
    DiffStats stats;
};

class ScaledCorpus : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (corpus_dir().empty()) GTEST_SKIP() << "skipped: the shared corpus is not present";
    }
};

TEST_P(ScaledCorpus, MatchesTheReferenceScaledDecode) {
    const int scale = GetParam();
    std::vector<Measured> measured, known_measured;
    std::vector<std::string> skipped;
    for (const char *category : {"baseline", "extended", "restart", "gray", "odd_size", "cmyk_adobe", "progressive",
                                 "multiscan_sequential", "odd_sampling", "thumbnail", "large_photo"}) {
        for (const std::string &path : corpus_files(category)) {
            const std::string name = short_name(path);
            SCOPED_TRACE(name + " at 1/" + std::to_string(scale));
            if (const char *why = excluded(name)) {
                skipped.push_back(name + ": " + why);
                continue;
            }
            std::vector<uint8_t> data = read_file_bytes(path);
            const Header h = read_header(data);
            if (h.result == JPEG_NOT_SUPPORTED) {
                skipped.push_back(name + ": header: JPEG_NOT_SUPPORTED");
                continue;
            }
            ASSERT_EQ(h.result, JPEG_OK) << codec_error_text(h.result);
            if (static_cast<uint64_t>(h.width) * h.height > kMaxPixels) {
                skipped.push_back(name + ": exceeds the test's pixel budget");
                continue;
            }
            // Output layout as in the whole-size corpus test.
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
                if (!h.adobe) jpeg_color = COLOR_CMYK;
            } else if (h.channels == 3 && h.rgb_ids && !h.adobe && !h.jfif) {
                jpeg_color = COLOR_RGB;
            }
            const int smoothing = is_progressive(data) ? kOracleNoBlockSmoothing : 0;
            const DecodedImage ref = tj_decode_scaled(data.data(), data.size(), tj_format, kTjAccurate | smoothing,
                                                      scale);
            if (!ref.ok()) {
                skipped.push_back(name + ": the reference decoder fails: " + ref.error);
                continue;
            }
            const int w = (h.width + scale - 1) / scale, hh = (h.height + scale - 1) / scale;
            ASSERT_EQ(ref.width, w);
            ASSERT_EQ(ref.height, hh);

            // From an exact-size copy, so that a read past the end is a read
            // past an allocation.
            RecordPtr rec = new_record();
            std::vector<uint8_t> copy(data);
            std::vector<uint8_t> pixels(static_cast<size_t>(w) * hh * channels, 0);
            rec->jpeg_buffer = copy.data();
            rec->jpeg_buffer_size = static_cast<int32_t>(copy.size());
            rec->image_pixels = pixels.data();
            rec->image_width = w;
            rec->image_height = hh;
            rec->image_channels = channels;
            rec->image_color = image_color;
            rec->jpeg_color = jpeg_color;
            rec->jpeg_channels = h.channels;
            const int32_t result = codec_read(rec.get(), mode_for_scale(scale));
            if (result == JPEG_NOT_SUPPORTED) {
                skipped.push_back(name + ": decode: JPEG_NOT_SUPPORTED");
                continue;
            }
            ASSERT_EQ(result, JPEG_OK) << codec_error_text(result);
            const Limits *known = known_limits(name);
            const DiffStats stats = compare_images(pixels.data(), 0, ref.pixels.data(), 0, w, hh, channels);
            (known != nullptr ? known_measured : measured).push_back({name, stats});
            EXPECT_TRUE(images_close("scaled" + std::to_string(scale) + "_" + name, pixels.data(), 0,
                                     ref.pixels.data(), 0, w, hh, channels,
                                     known != nullptr ? *known : kScaledLimits));
        }
    }
    ASSERT_FALSE(measured.empty());
    // The figures: the largest difference and the worst means, with files.
    std::sort(measured.begin(), measured.end(),
              [](const Measured &a, const Measured &b) { return a.stats.mean_abs > b.stats.mean_abs; });
    const auto by_max = std::max_element(measured.begin(), measured.end(), [](const Measured &a, const Measured &b) {
        return a.stats.max_abs < b.stats.max_abs;
    });
    double sum_mean = 0.0;
    int exact = 0;
    for (const Measured &m : measured) {
        sum_mean += m.stats.mean_abs;
        exact += m.stats.differing == 0 ? 1 : 0;
    }
    std::printf("[ 1/%d ] %zu files compared (%d identical), %zu known differences, %zu skipped; largest "
                "difference %d (%s); mean of the means %.3f\n",
                scale, measured.size(), exact, known_measured.size(), skipped.size(), by_max->stats.max_abs, by_max->file.c_str(),
                sum_mean / static_cast<double>(measured.size()));
    for (size_t i = 0; i < measured.size() && i < 5; ++i)
        std::printf("    mean %.3f max %d  %s\n", measured[i].stats.mean_abs, measured[i].stats.max_abs,
                    measured[i].file.c_str());
    for (const Measured &m : known_measured)
        std::printf("    known difference (chroma scaling of a frame that is not uniform): mean %.3f max %d  %s\n",
                    m.stats.mean_abs, m.stats.max_abs, m.file.c_str());
    for (const std::string &s : skipped) std::printf("    skipped %s\n", s.c_str());
    RecordProperty("largest_difference", by_max->stats.max_abs);
    RecordProperty("worst_mean_x1000", static_cast<int>(measured.front().stats.mean_abs * 1000.0));
}

INSTANTIATE_TEST_SUITE_P(Scales, ScaledCorpus, ::testing::Values(2, 4, 8),
                         [](const ::testing::TestParamInfo<int> &p) { return "one_" + std::to_string(p.param); });

} // namespace
} // namespace qrl_test
