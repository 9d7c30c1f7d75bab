// Memory-stream decode: header read, then a whole decode in the layout,
// transform family, smoothing option and scale taken from the input; small
// images are decoded a second time on the same record in another layout and
// scale, and the image-only and tables-only modes are tried on the stream.
#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

namespace {

void decode_once(JPEG_CODEC_RECORD *record, const Options &options, StreamCopy &stream) {
    point_at_memory(record, stream);
    PixelBuffer pixels;
    const int32_t width = scaled_size(record->jpeg_width, options.scale);
    const int32_t height = scaled_size(record->jpeg_height, options.scale);
    if (!prepare_output(record, options, width, height, &pixels)) return;
    const int32_t result = codec_read(record, decode_mode_for_scale(options.scale, false));
    check_code(result, "whole memory decode");
    touch(pixels.bytes.data(), pixels.bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    StreamCopy stream(input);
    if (stream.size() == 0) return 0;
    Options options = input.options;

    JPEG_CODEC_RECORD record;
    init_record(&record, options);
    point_at_memory(&record, stream);
    int32_t result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
    check_code(result, "header read");
    if (result == JPEG_OK) {
        decode_once(&record, options, stream);
        const int64_t area = static_cast<int64_t>(record.jpeg_width) * record.jpeg_height;
        if (area <= 256 * 256) {
            // Same record, another request.
            Options second = options;
            second.layout = (options.layout + 1 + options.extra[4] % (kLayoutCount - 1)) % kLayoutCount;
            second.scale = 1 << (options.extra[5] & 3);
            record.props.smooth_upsampling = options.extra[5] >> 7;
            record.props.dct_method = (options.extra[5] >> 6) & 1;
            result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
            check_code(result, "second header read");
            if (result == JPEG_OK) decode_once(&record, second, stream);
        }
        // Tables-only and image-only reads of the same bytes.
        point_at_memory(&record, stream);
        result = codec_read(&record, JPEG_IO_READ_TABLES_MEM);
        check_code(result, "tables-only read");
        if (area <= 256 * 256) {
            PixelBuffer pixels;
            if (prepare_output(&record, options, record.jpeg_width, record.jpeg_height, &pixels)) {
                result = codec_read(&record, JPEG_IO_DECODE_IMAGE_ONLY_MEM);
                check_code(result, "image-only decode");
                touch(pixels.bytes.data(), pixels.bytes.size());
            }
        }
    }
    free_record(&record);
    return 0;
}
