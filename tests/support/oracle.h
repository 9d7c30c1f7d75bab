// Test oracle over libjpeg-turbo: make JPEG files from synthetic pixels, decode
// them with the reference decoder, and compare pixel buffers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <turbojpeg.h>

namespace qrl_test {

// ---- Synthetic pixels ------------------------------------------------------
// Deterministic test picture: smooth gradients, hard edges (a checker block and
// a diagonal), a few saturated patches (0 and 255, which exercise clamping) and
// seeded noise, so every coefficient band and every conversion path is hit.
// `channels` is 1 (gray), 3 (RGB order) or 4 (CMYK-like, four free planes).
// Rows are tightly packed (width * channels bytes).
std::vector<uint8_t> synthetic_pixels(int width, int height, int channels, uint32_t seed = 1);

// Bytes per pixel of a TurboJPEG pixel format.
int tj_pixel_size(int pixel_format);

// ---- Encoding with TurboJPEG -----------------------------------------------
struct TjEncodeOptions {
    int width = 64;
    int height = 48;
    int pixel_format = TJPF_RGB; // TJPF_GRAY gives a one-component file, TJPF_CMYK a YCCK one
    int subsampling = TJSAMP_420; // TJSAMP_444 / 422 / 420 / GRAY / 440 / 411
    int quality = 90;
    int flags = 0; // e.g. TJFLAG_PROGRESSIVE, TJFLAG_ACCURATEDCT
    uint32_t seed = 1;
};
// Compresses synthetic pixels; returns an empty vector on failure (and adds a
// test failure with the TurboJPEG message).
std::vector<uint8_t> tj_encode(const TjEncodeOptions &options);
// Compresses the given tightly packed pixels.
std::vector<uint8_t> tj_encode_pixels(const uint8_t *pixels, int width, int height, int pixel_format,
                                      int subsampling, int quality, int flags);

// ---- Encoding with the libjpeg API (what TurboJPEG cannot express) -------------
enum class JpegLayout {
    ycbcr,    // 3 components from RGB input
    rgb,      // 3 components stored as RGB (Adobe transform 0)
    gray,     // 1 component
    cmyk,     // 4 components stored as CMYK (Adobe transform 0)
    ycck,     // 4 components stored as YCCK (Adobe transform 2)
};
struct LibjpegEncodeOptions {
    int width = 64;
    int height = 48;
    JpegLayout layout = JpegLayout::ycbcr;
    // Sampling factors per component (h, v); zeros keep the library default
    // (2x2 for component 0 of YCbCr/YCCK, 1x1 otherwise).
    int h_samp[4] = {0, 0, 0, 0};
    int v_samp[4] = {0, 0, 0, 0};
    int quality = 90;
    int restart_interval = 0; // in MCUs
    int restart_in_rows = 0;  // in MCU rows (used when restart_interval is 0)
    bool progressive = false;
    bool optimize_coding = false;
    // One scan per component instead of one interleaved scan (sequential).
    bool scan_per_component = false;
    // Forces an extended-sequential frame (SOF1): one quantizer entry above
    // 255, so the tables are written with 16-bit precision.
    bool extended = false;
    bool write_jfif = true;
    bool write_adobe = false; // forced on for cmyk / ycck / rgb layouts
    bool fast_dct = false;
    uint32_t seed = 1;
};
// Encodes synthetic pixels with the given layout; empty vector on failure.
std::vector<uint8_t> libjpeg_encode(const LibjpegEncodeOptions &options);

// ---- Decoding with TurboJPEG -----------------------------------------------------
struct DecodedImage {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels; // tightly packed rows
    std::string error;           // empty on success
    bool ok() const { return error.empty(); }
};
// Decodes with tjDecompress2 into the given TJPF_* layout. `flags` is passed as
// is (for example TJFLAG_FASTUPSAMPLE | TJFLAG_ACCURATEDCT). Sampling layouts
// that TurboJPEG's header query cannot name are decoded through the libjpeg
// API with the same settings (fast upsampling, DCT method, output space).
DecodedImage tj_decode(const std::vector<uint8_t> &jpeg, int pixel_format, int flags);
DecodedImage tj_decode(const uint8_t *jpeg, size_t size, int pixel_format, int flags);
// The same at 1/scale (1, 2, 4 or 8): tjDecompress2 asked for
// ceil(width / scale) x ceil(height / scale) pixels (the libjpeg API with
// scale_denom = scale where TurboJPEG is bypassed).
DecodedImage tj_decode_scaled(const uint8_t *jpeg, size_t size, int pixel_format, int flags, int scale);

// Reference flags matching our two transform families.
constexpr int kTjAccurate = TJFLAG_FASTUPSAMPLE | TJFLAG_ACCURATEDCT;
constexpr int kTjFast = TJFLAG_FASTUPSAMPLE | TJFLAG_FASTDCT;
// Extra flag (not a TurboJPEG one): decode through the libjpeg API with
// inter-block smoothing off. libjpeg-turbo smooths the DC-only blocks of a
// progressive image whose scans stop early; quorrel outputs the coefficients
// as they are, so such references are taken without the smoothing.
constexpr int kOracleNoBlockSmoothing = 1 << 30;

// ---- Comparison --------------------------------------------------------------------
struct DiffStats {
    int max_abs = 0;
    double mean_abs = 0.0;
    double psnr = 0.0; // dB; +infinity reported as 999 when identical
    int64_t differing = 0; // samples that differ at all
    int worst_x = -1, worst_y = -1, worst_channel = -1;
};
// Compares two images of the same size and channel count. Strides are in bytes
// (0 means tightly packed).
DiffStats compare_images(const uint8_t *a, size_t stride_a, const uint8_t *b, size_t stride_b, int width,
                         int height, int channels);

// Writes an 8-bit PNG (channels 1, 2, 3 or 4); false on failure.
bool write_png_file(const std::string &path, const uint8_t *pixels, size_t stride, int width, int height,
                    int channels);
// Writes a diff image (per-pixel maximum channel difference, amplified x16,
// with differences over `limit` shown in red) as
// <build>/test_diffs/<name>-diff.png, plus <name>-ours.png and <name>-ref.png.
// Returns the path of the diff image.
std::string write_diff_png(const std::string &name, const uint8_t *ours, size_t stride_ours, const uint8_t *ref,
                           size_t stride_ref, int width, int height, int channels, int limit);

struct Limits {
    int max_abs = 0;          // maximum allowed per-sample difference
    double mean_abs = 1e9;    // maximum allowed mean absolute difference
    double min_psnr = 0.0;    // minimum PSNR in dB (0 = not checked)
};
// Checks `ours` against `ref` under the limits; on failure the message holds
// the statistics and the diff PNG path (written with `name`).
::testing::AssertionResult images_close(const std::string &name, const uint8_t *ours, size_t stride_ours,
                                        const uint8_t *ref, size_t stride_ref, int width, int height,
                                        int channels, const Limits &limits);

// File name safe for the diff folder ("dir/a b.jpg" -> "dir_a_b.jpg").
std::string sanitize_name(const std::string &name);

} // namespace qrl_test
