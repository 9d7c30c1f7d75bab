// Region decode: regions taken from the input (zero, negative and oversized
// edges included), several of them in turn on one record, each compared with
// the same rectangle of a whole decode.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

namespace {

constexpr int64_t kMaxArea = 1024 * 1024;
constexpr int32_t kRegions = 3;

// One region edge from a byte: 0 stays 0, 1 is negative, 255 lies past the
// image, anything else is spread over the image.
int32_t edge(uint8_t byte, int32_t size) {
    if (byte == 0) return 0;
    if (byte == 1) return -3;
    if (byte == 255) return size + 5;
    return static_cast<int32_t>((static_cast<int64_t>(byte) * size) / 254);
}

struct Rect {
    int32_t left, top, right, bottom;
};

// The rectangle the decoder writes for a requested region.
Rect clamp(const int32_t roi[4], int32_t width, int32_t height) {
    Rect r{roi[0], roi[1], roi[2], roi[3]};
    if (r.right <= 0 || r.right > width) r.right = width;
    if (r.bottom <= 0 || r.bottom > height) r.bottom = height;
    if (r.left < 0) r.left = 0;
    if (r.top < 0) r.top = 0;
    return r;
}

void compare_region(const PixelBuffer &whole, const PixelBuffer &part, const Rect &r, bool bottom_up,
                    const char *context) {
    const int64_t whole_line = whole.line_bytes();
    const int64_t part_line = part.line_bytes();
    const int32_t bpp = whole.channels;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        // Bottom-up buffers store image row 0 last.
        const int64_t wy = bottom_up ? whole.height - 1 - y : y;
        const int64_t py = bottom_up ? part.height - 1 - (y - r.top) : y - r.top;
        const uint8_t *a = whole.bytes.data() + wy * whole_line + static_cast<int64_t>(r.left) * bpp;
        const uint8_t *b = part.bytes.data() + py * part_line;
        for (int64_t i = 0; i < static_cast<int64_t>(r.right - r.left) * bpp; ++i) {
            if (a[i] != b[i]) {
                std::fprintf(stderr, "region %d,%d-%d,%d differs at row %d byte %lld (whole %d, region %d)\n", r.left, r.top,
                             r.right, r.bottom, y, static_cast<long long>(i), a[i], b[i]);
                std::fprintf(stderr, "%s\n", context);
                finding("region differs from the whole decode", 0);
            }
        }
    }
}

// Whether the region must equal the whole decode's rectangle: not for a
// stream with several frame headers, nor for a sequential frame with several
// scans (T.81 lets each component appear in one scan only; for such streams
// a region, which ends once it is written, and the whole decode, which
// decodes every scan, legitimately disagree).
bool comparable(const uint8_t *bytes, std::size_t size) {
    int32_t frames = 0;
    int32_t scans = 0;
    bool progressive = false;
    for (std::size_t i = 0; i + 1 < size; ++i) {
        if (bytes[i] != 0xFF) continue;
        const uint8_t code = bytes[i + 1];
        if (code == 0xC0 || code == 0xC1 || code == 0xC2) {
            ++frames;
            progressive = code == 0xC2;
        }
        if (code == 0xDA) ++scans;
    }
    return frames <= 1 && (progressive || scans <= 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    StreamCopy stream(input);
    if (stream.size() == 0) return 0;
    Options options = input.options;
    options.scale = 1;
    options.smooth = 0;

    JPEG_CODEC_RECORD whole_record;
    init_record(&whole_record, options);
    point_at_memory(&whole_record, stream);
    int32_t result = codec_read(&whole_record, JPEG_IO_READ_HEADER_MEM);
    check_code(result, "header read");
    const int32_t width = whole_record.jpeg_width;
    const int32_t height = whole_record.jpeg_height;
    const int64_t area = static_cast<int64_t>(width) * height;
    PixelBuffer whole;
    int32_t whole_result = JPEG_DATA_ERROR;
    bool have_whole = false;
    if (result == JPEG_OK && area <= kMaxArea &&
        prepare_output(&whole_record, options, width, height, &whole)) {
        whole_result = codec_read(&whole_record, JPEG_IO_DECODE_MEM);
        check_code(whole_result, "whole decode");
        touch(whole.bytes.data(), whole.bytes.size());
        have_whole = true;
    }
    free_record(&whole_record);
    if (!have_whole) return 0;
    const bool compare = comparable(stream.bytes.data(), stream.bytes.size());

    JPEG_CODEC_RECORD record;
    init_record(&record, options);
    point_at_memory(&record, stream);
    result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
    check_code(result, "region header read");
    if (result != JPEG_OK) finding("second header read differs", result);
    for (int32_t k = 0; k < kRegions; ++k) {
        const uint8_t *b = options.extra + 4 + 4 * k;
        int32_t *roi = record.props.roi;
        roi[0] = edge(b[0], width);
        roi[1] = edge(b[1], height);
        roi[2] = edge(b[2], width);
        roi[3] = edge(b[3], height);
        const int32_t asked[4] = {roi[0], roi[1], roi[2], roi[3]};
        const Rect r = clamp(roi, width, height);
        PixelBuffer part;
        const bool empty = r.left >= r.right || r.top >= r.bottom;
        const int32_t out_w = empty ? 1 : r.right - r.left;
        const int32_t out_h = empty ? 1 : r.bottom - r.top;
        if (!prepare_output(&record, options, out_w, out_h, &part)) break;
        result = codec_read(&record, JPEG_IO_DECODE_MEM);
        check_code(result, "region decode");
        touch(part.bytes.data(), part.bytes.size());
        if (empty) continue;
        if (!compare) continue;
        if (whole_result == JPEG_OK && result < 0)
            finding("whole decode succeeded, region decode failed", result);
        if (whole_result == JPEG_OK && (result == JPEG_OK || result == JPEG_ROI_OK)) {
            char context[200];
            std::snprintf(context, sizeof context,
                         "region %d of the record (asked %d %d %d %d): layout %d, bottom-up %d, pad %d, dct %d, cpu %d, result %d",
                         k, asked[0], asked[1], asked[2], asked[3], options.layout, options.bottom_up ? 1 : 0, options.pad, options.dct_method,
                         options.cpu_class, result);
            if (std::getenv("QRL_FUZZ_VERBOSE") != nullptr) std::fprintf(stderr, "%s\n", context);
            compare_region(whole, part, r, options.bottom_up, context);
        }
    }
    free_record(&record);
    return 0;
}
