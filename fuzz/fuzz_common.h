// Shared pieces of the fuzz targets: how an input is split into options and
// a stream, record set-up with the processor class and transform family
// taken from the input, exact-size caller buffers, and the checks that turn
// a wrong outcome into a crash the fuzzer reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/codec.h"

namespace qrl_fuzz {

// Bytes of options in front of the stream. An input whose first byte is not
// 0xFF starts with kOptionBytes option bytes; an input that starts like a
// JPEG stream (0xFF) is the stream itself and its options are derived from a
// hash of its bytes, so that corpus files stay intact as seeds.
constexpr std::size_t kOptionBytes = 16;

// Output layouts a decode target may ask for.
enum Layout : int32_t {
    kLayoutRgb = 0,     // COLOR_RGB, 3 channels
    kLayoutBgr,         // COLOR_BGR, 3 channels
    kLayoutGray,        // COLOR_GRAY, 1 channel
    kLayoutCmyk,        // COLOR_CMYK, 4 channels
    kLayoutPacked422,   // COLOR_YCBCR, 2 channels, packed Y Cb Y Cr
    kLayoutYcc3,        // COLOR_YCBCR, 3 channels
    kLayoutOther,       // COLOR_OTHER, one channel per frame component
    kLayoutCount
};

struct Options {
    int32_t cpu_class;  // QUORREL_USECPU value: 0, 3, 4, 5 or 6
    int32_t dct_method; // 0 fast, 1 accurate
    int32_t smooth;     // smooth_upsampling 0 or 1
    int32_t layout;     // Layout
    int32_t scale;      // 1, 2, 4, 8
    int32_t pad;        // image_pad_bytes 0..3
    bool bottom_up;     // negative image_height
    uint8_t extra[kOptionBytes]; // all option bytes, for target-specific use
};

struct Input {
    Options options;
    const uint8_t *stream;
    std::size_t size;
};

[[nodiscard]] Input split_input(const uint8_t *data, std::size_t size);

// Aborts with a message: a fuzz finding.
[[noreturn]] void finding(const char *what, int32_t code);

// A caught processor fault is a bug, never a result.
void check_code(int32_t code, const char *what);

// setenv QUORREL_USECPU, codec_init, dct_method and smooth_upsampling.
void init_record(JPEG_CODEC_RECORD *record, const Options &options);
void free_record(JPEG_CODEC_RECORD *record);

// Exact copy of the stream in its own heap block, so that a read one byte
// past jpeg_buffer_size is caught.
struct StreamCopy {
    std::vector<uint8_t> bytes;
    explicit StreamCopy(const Input &input) : bytes(input.stream, input.stream + input.size) {}
    [[nodiscard]] uint8_t *data() { return bytes.empty() ? nullptr : bytes.data(); }
    [[nodiscard]] int32_t size() const { return static_cast<int32_t>(bytes.size()); }
};

void point_at_memory(JPEG_CODEC_RECORD *record, StreamCopy &stream);

// Largest pixel buffer a target allocates; larger images are header-read only.
constexpr int64_t kMaxPixelBytes = int64_t{48} << 20;

// Caller's pixel buffer of exactly rows x line bytes.
struct PixelBuffer {
    std::vector<uint8_t> bytes;
    int32_t width = 0;
    int32_t height = 0; // rows (positive)
    int32_t channels = 0;
    int32_t pad = 0;
    [[nodiscard]] int64_t line_bytes() const {
        return static_cast<int64_t>(width) * channels + pad;
    }
};

// After a successful header read: sets image_* for the layout and the output
// size (width x height pixels), allocates the buffer exactly, fills it with a
// pattern. False when the buffer would exceed kMaxPixelBytes.
[[nodiscard]] bool prepare_output(JPEG_CODEC_RECORD *record, const Options &options,
                                  int32_t width, int32_t height, PixelBuffer *out);

// Output size of a whole decode at `scale`.
[[nodiscard]] int32_t scaled_size(int32_t size, int32_t scale);
[[nodiscard]] int32_t decode_mode_for_scale(int32_t scale, bool file);

// Reads every byte of the buffer (so an uninitialised or unmapped byte is
// noticed by the sanitizers) and returns a checksum.
uint64_t touch(const uint8_t *bytes, std::size_t size);

// Compares the visible pixels (pad bytes excluded) of two buffers of the same
// geometry; on a difference aborts with `what`.
void expect_same_pixels(const PixelBuffer &a, const PixelBuffer &b, const char *what);

// Writes the stream to a file of its own (per process) and returns its path.
[[nodiscard]] const char *write_temp_file(const uint8_t *bytes, std::size_t size, int32_t slot = 0);

// Simple deterministic generator for target-specific choices.
struct Rng {
    uint64_t state;
    uint32_t next();
    uint32_t below(uint32_t bound) { return bound == 0 ? 0 : next() % bound; }
};

} // namespace qrl_fuzz
