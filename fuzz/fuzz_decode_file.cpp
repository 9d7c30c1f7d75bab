// File-stream decode: the input goes through the file modes (header read,
// whole or scaled decode, thumbnail read) and through the memory modes on a
// second record; when both decodes succeed their pixels must be equal.
#include <unistd.h>

#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

namespace {

struct Outcome {
    int32_t header = 0;
    int32_t decode = 0;
    bool decoded = false;
    PixelBuffer pixels;
};

void run(const Options &options, bool file, StreamCopy &stream, const char *path, Outcome *out) {
    JPEG_CODEC_RECORD record;
    init_record(&record, options);
    record.jpeg_file_name = path;
    point_at_memory(&record, stream);
    out->header = codec_read(&record, file ? JPEG_IO_READ_HEADER_FILE : JPEG_IO_READ_HEADER_MEM);
    check_code(out->header, file ? "file header read" : "memory header read");
    if (out->header == JPEG_OK) {
        const int32_t width = scaled_size(record.jpeg_width, options.scale);
        const int32_t height = scaled_size(record.jpeg_height, options.scale);
        if (prepare_output(&record, options, width, height, &out->pixels)) {
            out->decode = codec_read(&record, decode_mode_for_scale(options.scale, file));
            check_code(out->decode, file ? "file decode" : "memory decode");
            touch(out->pixels.bytes.data(), out->pixels.bytes.size());
            out->decoded = true;
        }
        // The thumbnail read into a 255 x 255 RGB buffer.
        if (file && (options.extra[6] & 1) != 0) {
            PixelBuffer thumb;
            Options rgb = options;
            rgb.layout = kLayoutRgb;
            rgb.bottom_up = false;
            if (prepare_output(&record, rgb, 255, 255, &thumb)) {
                const int32_t result = codec_read(&record, JPEG_IO_THUMBNAIL_FILE);
                check_code(result, "file thumbnail read");
                touch(thumb.bytes.data(), thumb.bytes.size());
            }
        }
    }
    free_record(&record);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    StreamCopy stream(input);
    if (stream.size() == 0) return 0;
    const char *path = write_temp_file(stream.bytes.data(), stream.bytes.size());
    Outcome from_file;
    Outcome from_memory;
    run(input.options, true, stream, path, &from_file);
    run(input.options, false, stream, path, &from_memory);
    if (from_file.decoded && from_memory.decoded && from_file.decode == JPEG_OK &&
        from_memory.decode == JPEG_OK)
        expect_same_pixels(from_file.pixels, from_memory.pixels, "file and memory decodes differ");
    if (from_file.header == JPEG_OK && from_memory.header != JPEG_OK)
        finding("file header read succeeded, memory header read failed", from_memory.header);
    unlink(path);
    return 0;
}
