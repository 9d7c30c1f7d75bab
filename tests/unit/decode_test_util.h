// End-to-end decode helpers for the scan-loop tests: a fresh codec record,
// decodes through codec_read from memory or a temporary file, with a region,
// interruption after every MCU, or coefficient planes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "codec/codec.h"

namespace qrl_test {

struct RecordFree {
    void operator()(JPEG_CODEC_RECORD *r) const {
        (void)codec_free(r);
        std::free(r);
    }
};
using Record = std::unique_ptr<JPEG_CODEC_RECORD, RecordFree>;

inline Record make_record() {
    auto *raw = static_cast<JPEG_CODEC_RECORD *>(std::malloc(sizeof(JPEG_CODEC_RECORD)));
    std::memset(raw, 0xAB, sizeof(JPEG_CODEC_RECORD));
    Record rec(raw);
    EXPECT_EQ(codec_init(rec.get()), JPEG_OK);
    return rec;
}

// A JPEG written to a temporary file for the file modes; removed with the
// object.
class TempJpeg {
public:
    explicit TempJpeg(const std::vector<uint8_t> &data) {
        char name[] = "/tmp/qrl_entropy_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        path_ = name;
        if (fd >= 0) {
            EXPECT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
            close(fd);
        }
    }
    ~TempJpeg() { std::remove(path_.c_str()); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

struct DecodeRequest {
    int32_t image_color = COLOR_RGB;
    int32_t channels = 3;
    int32_t dct_method = 1;
    bool file = false;
    int32_t scale = 1;           // 1, 2, 4 or 8
    int32_t roi[4] = {0, 0, 0, 0};
    bool interrupt_every_mcu = false;
    int32_t smooth = 0;
};

struct DecodeResult {
    int32_t result = 0;   // last codec_read result
    int32_t calls = 0;    // codec_read calls made
    int32_t interrupts = 0;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels; // tightly packed
};

inline int32_t decode_mode(const DecodeRequest &q) {
    int32_t mode = JPEG_IO_DECODE_FILE;
    if (q.scale == 2) mode = JPEG_IO_DECODE_HALF_FILE;
    if (q.scale == 4) mode = JPEG_IO_DECODE_QUARTER_FILE;
    if (q.scale == 8) mode = JPEG_IO_DECODE_EIGHTH_FILE;
    return q.file ? mode : mode + 1;
}

// Decodes with `rec`, reading the header first unless `read_header` is false
// (a later call on a record that already holds the frame, as a caller
// decoding a second region does). File modes read `file_path`, which the
// caller keeps; memory modes read `data`. The output buffer is the region's
// size, or the (scaled) image size.
inline DecodeResult decode_with(JPEG_CODEC_RECORD *rec, std::vector<uint8_t> &data, const DecodeRequest &q,
                                const char *file_path = nullptr, bool read_header = true) {
    DecodeResult d;
    std::unique_ptr<TempJpeg> temp;
    if (q.file) {
        if (file_path == nullptr) {
            temp = std::make_unique<TempJpeg>(data);
            file_path = temp->path().c_str();
        }
        rec->jpeg_file_name = file_path;
    } else {
        rec->jpeg_buffer = data.data();
        rec->jpeg_buffer_size = static_cast<int32_t>(data.size());
    }
    if (read_header) {
        for (int i = 0; i < 4; ++i) rec->props.roi[i] = 0;
        d.result = codec_read(rec, q.file ? JPEG_IO_READ_HEADER_FILE : JPEG_IO_READ_HEADER_MEM);
        if (d.result != JPEG_OK) return d;
    }
    const int32_t full_w = (rec->jpeg_width + q.scale - 1) / q.scale;
    const int32_t full_h = (rec->jpeg_height + q.scale - 1) / q.scale;
    const bool region = q.roi[0] != 0 || q.roi[1] != 0 || q.roi[2] != 0 || q.roi[3] != 0;
    d.width = region ? q.roi[2] - q.roi[0] : full_w;
    d.height = region ? q.roi[3] - q.roi[1] : full_h;
    d.pixels.assign(static_cast<size_t>(d.width) * d.height * q.channels, 0);
    rec->image_pixels = d.pixels.data();
    rec->image_width = d.width;
    rec->image_height = d.height;
    rec->image_channels = q.channels;
    rec->image_color = q.image_color;
    rec->image_pad_bytes = 0;
    rec->props.dct_method = q.dct_method;
    rec->props.smooth_upsampling = q.smooth;
    for (;;) {
        for (int i = 0; i < 4; ++i) rec->props.roi[i] = q.roi[i];
        rec->props.interrupt_after_mcu = q.interrupt_every_mcu ? 1 : 0;
        d.result = codec_read(rec, decode_mode(q));
        ++d.calls;
        if (d.result != JPEG_INTERRUPT_OK) break;
        ++d.interrupts;
        if (d.calls > 1000000) break; // never loop forever in a test
    }
    if (temp) rec->jpeg_file_name = nullptr;
    return d;
}

inline DecodeResult decode(std::vector<uint8_t> data, const DecodeRequest &q) {
    Record rec = make_record();
    return decode_with(rec.get(), data, q);
}

// The rectangle [x0, x1) x [y0, y1) of a tightly packed image.
inline std::vector<uint8_t> crop(const std::vector<uint8_t> &pixels, int width, int channels, int x0, int y0, int x1,
                                 int y1) {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(x1 - x0) * (y1 - y0) * channels);
    for (int y = y0; y < y1; ++y) {
        const uint8_t *row = pixels.data() + (static_cast<size_t>(y) * width + x0) * channels;
        out.insert(out.end(), row, row + static_cast<size_t>(x1 - x0) * channels);
    }
    return out;
}

} // namespace qrl_test
