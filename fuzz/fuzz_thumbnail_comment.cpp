// Thumbnails and comments: two header reads with a comment buffer of a
// capacity taken from the input (an exact heap block, so one byte too many is
// caught; the second read keeps the size the first one wrote back), then
// thumbnail reads into caller images of sizes taken from the
// input, in both thumbnail modes' colours.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    StreamCopy stream(input);
    if (stream.size() == 0) return 0;
    const Options &options = input.options;

    JPEG_CODEC_RECORD record;
    init_record(&record, options);
    point_at_memory(&record, stream);
    // Capacity 0..65535, biased towards small values.
    uint16_t capacity = static_cast<uint16_t>(options.extra[4] | (options.extra[5] << 8));
    if ((options.extra[6] & 3) != 0) capacity = static_cast<uint16_t>(capacity % 64);
    uint8_t *comment = new uint8_t[capacity];
    record.props.jpeg_comment = comment;
    record.props.jpeg_comment_size = capacity;
    int32_t result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
    check_code(result, "header read with a comment buffer");
    if (result == JPEG_OK && record.props.jpeg_comment_size > capacity)
        finding("comment longer than the buffer reported as read", record.props.jpeg_comment_size);
    // The parse stops at the refused comment, so the size is its length.
    if (result == JPEG_COMMENT_ACCESS_ERROR && record.props.jpeg_comment_size <= capacity)
        finding("a comment that fits the buffer refused", record.props.jpeg_comment_size);
    touch(comment, capacity);
    // A second read on the record without setting the size again: the
    // length written back is not a capacity (the buffer is still exact).
    point_at_memory(&record, stream);
    result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
    check_code(result, "second header read with the comment buffer");
    if (result == JPEG_COMMENT_ACCESS_ERROR && record.props.jpeg_comment_size <= capacity)
        finding("a comment that fits the buffer refused on the second read", record.props.jpeg_comment_size);
    touch(comment, capacity);
    record.props.jpeg_comment = nullptr;
    record.props.jpeg_comment_size = 0;
    delete[] comment;

    for (int32_t k = 0; k < 2; ++k) {
        Options thumb = options;
        thumb.layout = k == 0 ? kLayoutRgb : kLayoutBgr;
        const int32_t w = 1 + options.extra[7 + 2 * k];
        const int32_t h = 1 + options.extra[8 + 2 * k];
        PixelBuffer pixels;
        point_at_memory(&record, stream);
        if (!prepare_output(&record, thumb, w, h, &pixels)) break;
        result = codec_read(&record, JPEG_IO_THUMBNAIL_MEM);
        check_code(result, "thumbnail read");
        touch(pixels.bytes.data(), pixels.bytes.size());
    }
    free_record(&record);
    return 0;
}
