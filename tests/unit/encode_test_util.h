// Helpers of the encoder tests: a codec record set up for one write, smooth
// test pictures, and decoding of our streams with the reference decoder.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/codec.h"

namespace qrl_test {

struct RecordFree {
    void operator()(JPEG_CODEC_RECORD *r) const {
        (void)codec_free(r);
        std::free(r);
    }
};
using Record = std::unique_ptr<JPEG_CODEC_RECORD, RecordFree>;

// A poisoned record passed through codec_init.
inline Record make_record() {
    auto *r = static_cast<JPEG_CODEC_RECORD *>(std::malloc(sizeof(JPEG_CODEC_RECORD)));
    std::memset(r, 0xAB, sizeof(JPEG_CODEC_RECORD));
    EXPECT_EQ(codec_init(r), JPEG_OK);
    return Record(r);
}

// One write request: the pixel side and the JPEG side.
struct WriteSpec {
    int32_t width = 48;
    int32_t height = 40;
    int32_t image_color = COLOR_RGB;
    int32_t image_channels = 3;
    int32_t jpeg_color = COLOR_YCBCR;
    int32_t jpeg_channels = 3;
    int32_t jpeg_subsampling = SUBSAMPLING_NONE;
    int32_t quality = 90;
    int32_t dct_method = 1;
    bool progressive = false;
    int32_t restart_interval = 0;
    bool bottom_up = false;
    int32_t pad_bytes = 0;
};

// Smooth picture (gradients and soft blobs) that compresses well: a fair
// ground for PSNR limits against the source.
inline std::vector<uint8_t> smooth_pixels(int32_t width, int32_t height, int32_t channels) {
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * channels);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < channels; ++c) {
                const double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
                double v = 0;
                switch (c) {
                case 0: v = 40 + 170 * fx; break;
                case 1: v = 200 - 150 * fy; break;
                case 2: v = 128 + 90 * std::sin(6.0 * fx + 4.0 * fy); break;
                default: v = 60 + 120 * fx * fy; break;
                }
                out[(static_cast<size_t>(y) * width + x) * channels + c] =
                    static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
    return out;
}

// Rows of `pixels` (tightly packed) laid out with pad bytes, bottom row first
// when bottom_up is set.
inline std::vector<uint8_t> lay_out_rows(const std::vector<uint8_t> &pixels, const WriteSpec &s) {
    const size_t row = static_cast<size_t>(s.width) * s.image_channels;
    const size_t stride = row + static_cast<size_t>(s.pad_bytes);
    std::vector<uint8_t> out(stride * s.height, 0xEE);
    for (int32_t y = 0; y < s.height; ++y) {
        const int32_t dst = s.bottom_up ? s.height - 1 - y : y;
        std::memcpy(out.data() + dst * stride, pixels.data() + y * row, row);
    }
    return out;
}

// Fills the record's public fields for a memory write of `buffer`.
inline void describe(JPEG_CODEC_RECORD *r, const WriteSpec &s, uint8_t *pixels, uint8_t *buffer,
                     int32_t buffer_size) {
    r->image_pixels = pixels;
    r->image_width = s.width;
    r->image_height = s.bottom_up ? -s.height : s.height;
    r->image_pad_bytes = s.pad_bytes;
    r->image_channels = s.image_channels;
    r->image_color = s.image_color;
    r->jpeg_buffer = buffer;
    r->jpeg_buffer_size = buffer_size;
    r->jpeg_width = s.width;
    r->jpeg_height = s.height;
    r->jpeg_channels = s.jpeg_channels;
    r->jpeg_color = s.jpeg_color;
    r->jpeg_subsampling = s.jpeg_subsampling;
    r->jpeg_quality = s.quality;
    r->props.dct_method = s.dct_method;
    r->props.scans_done = s.progressive ? 1 : 0;
    r->props.restart_interval = s.restart_interval;
}

struct Encoded {
    int32_t result = 0;
    std::vector<uint8_t> bytes;
};

// Encodes tightly packed pixels into memory (mode 9) on a fresh record.
inline Encoded encode_memory(const WriteSpec &s, const std::vector<uint8_t> &pixels) {
    Record r = make_record();
    std::vector<uint8_t> laid = lay_out_rows(pixels, s);
    std::vector<uint8_t> buffer(static_cast<size_t>(s.width) * s.height * 8 + 4096);
    describe(r.get(), s, laid.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
    Encoded e;
    e.result = codec_write(r.get(), JPEG_IO_ENCODE_MEM);
    if (e.result == JPEG_OK) buffer.resize(static_cast<size_t>(r->jpeg_buffer_size));
    else buffer.clear();
    e.bytes = std::move(buffer);
    return e;
}

} // namespace qrl_test
