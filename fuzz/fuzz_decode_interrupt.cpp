// Interrupted decode: interrupt_after_mcu set before every call, the calls
// repeated until the decode ends (with a cap proportional to the work), and
// the outcome compared with a one-call decode of the same stream.
#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

namespace {

constexpr int64_t kMaxArea = 512 * 512;

struct Outcome {
    int32_t result = 0;
    bool decoded = false;
    int64_t calls = 0;
    PixelBuffer pixels;
};

void run(const Options &options, bool interrupt, bool file, StreamCopy &stream, const char *path,
         Outcome *out) {
    JPEG_CODEC_RECORD record;
    init_record(&record, options);
    record.jpeg_file_name = path;
    point_at_memory(&record, stream);
    int32_t result = codec_read(&record, file ? JPEG_IO_READ_HEADER_FILE : JPEG_IO_READ_HEADER_MEM);
    check_code(result, "header read");
    const int64_t area = static_cast<int64_t>(record.jpeg_width) * record.jpeg_height;
    if (result == JPEG_OK && area <= kMaxArea) {
        const int32_t width = scaled_size(record.jpeg_width, options.scale);
        const int32_t height = scaled_size(record.jpeg_height, options.scale);
        if (prepare_output(&record, options, width, height, &out->pixels)) {
            const int32_t mode = decode_mode_for_scale(options.scale, file);
            // Every MCU of every scan may end one call: 500 scans at most
            // (the scan limit) of `area / 64` MCUs each, or of a later,
            // larger frame in the same stream (a second frame header).
            int64_t cap = (area / 64 + 2) * 502 + 16;
            if (cap < (int64_t{1} << 22)) cap = int64_t{1} << 22;
            do {
                record.props.interrupt_after_mcu = interrupt ? 1 : 0;
                // The interrupted call reports its progress in roi right and
                // bottom; the caller's own request (the whole image) is put
                // back before resuming.
                for (int32_t &edge : record.props.roi) edge = 0;
                result = codec_read(&record, mode);
                check_code(result, "interrupted decode");
                ++out->calls;
                if (out->calls > cap) finding("interrupted decode does not end", result);
            } while (result == JPEG_INTERRUPT_OK);
            touch(out->pixels.bytes.data(), out->pixels.bytes.size());
            out->decoded = true;
        }
    }
    out->result = result;
    free_record(&record);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    StreamCopy stream(input);
    if (stream.size() == 0) return 0;
    const bool file = (input.options.extra[7] & 1) != 0;
    const char *path = file ? write_temp_file(stream.bytes.data(), stream.bytes.size()) : "";
    Outcome whole;
    Outcome pieces;
    run(input.options, false, file, stream, path, &whole);
    run(input.options, true, file, stream, path, &pieces);
    if (whole.decoded && pieces.decoded) {
        if (whole.result == JPEG_OK && pieces.result != JPEG_OK)
            finding("one-call decode succeeded, interrupted decode failed", pieces.result);
        if (whole.result == JPEG_OK && pieces.result == JPEG_OK)
            expect_same_pixels(whole.pixels, pieces.pixels, "interrupted decode differs");
    }
    return 0;
}
