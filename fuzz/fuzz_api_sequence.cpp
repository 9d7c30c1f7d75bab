// API sequences: up to 32 codec_read calls in modes taken from the input on
// one record (with regions, interruption and buffers sized from whatever the
// record last reported), then a second image, then codec_free. Under
// LeakSanitizer nothing may be left behind.
#include <cstring>
#include <unistd.h>

#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

namespace {

constexpr int32_t kReadModes[] = {0, 1, 2, 3, 4, 5, 6, 7, 14, 15, 16, 17, 18, 19, 20, 21};
constexpr int64_t kMaxArea = 512 * 512;

void one_call(JPEG_CODEC_RECORD *record, Rng &rng, const Options &base, StreamCopy &stream,
              const char *path) {
    const int32_t mode = kReadModes[rng.below(16)];
    Options options = base;
    options.layout = static_cast<int32_t>(rng.below(kLayoutCount));
    options.bottom_up = rng.below(4) == 0;
    options.pad = static_cast<int32_t>(rng.below(3));
    record->jpeg_file_name = path;
    point_at_memory(record, stream);
    record->props.interrupt_after_mcu = rng.below(3) == 0 ? 1 : 0;
    if (rng.below(4) == 0) {
        const int32_t w = record->jpeg_width > 0 ? record->jpeg_width : 16;
        const int32_t h = record->jpeg_height > 0 ? record->jpeg_height : 16;
        record->props.roi[0] = static_cast<int32_t>(rng.below(static_cast<uint32_t>(w) + 2)) - 1;
        record->props.roi[1] = static_cast<int32_t>(rng.below(static_cast<uint32_t>(h) + 2)) - 1;
        record->props.roi[2] = static_cast<int32_t>(rng.below(static_cast<uint32_t>(w) + 2));
        record->props.roi[3] = static_cast<int32_t>(rng.below(static_cast<uint32_t>(h) + 2));
    } else if (rng.below(2) == 0) {
        std::memset(record->props.roi, 0, sizeof record->props.roi);
    }
    if (rng.below(8) == 0) record->props.dct_method = static_cast<int32_t>(rng.below(2));
    if (rng.below(8) == 0 && record->props.current_scan == nullptr)
        record->props.smooth_upsampling = static_cast<int32_t>(rng.below(2));

    // A buffer big enough for whatever the call may write: the whole frame
    // (regions and scaled images are smaller), or a 255 x 255 thumbnail.
    int32_t width = record->jpeg_width > 0 ? record->jpeg_width : 16;
    int32_t height = record->jpeg_height > 0 ? record->jpeg_height : 16;
    if (mode == 20 || mode == 21) {
        options.layout = rng.below(2) == 0 ? kLayoutRgb : kLayoutBgr;
        width = 255;
        height = 255;
    }
    PixelBuffer pixels;
    if (static_cast<int64_t>(width) * height > kMaxArea ||
        !prepare_output(record, options, width, height, &pixels)) {
        if (mode != 0 && mode != 1 && mode != 4 && mode != 5) return;
    }
    const int32_t result = codec_read(record, mode);
    check_code(result, "codec_read in a sequence");
    if (!pixels.bytes.empty()) touch(pixels.bytes.data(), pixels.bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    StreamCopy stream(input);
    if (stream.size() == 0) return 0;
    // The second image: the bytes from the last SOI after the first byte, or
    // the same stream again.
    std::size_t second_start = 0;
    for (std::size_t i = stream.bytes.size(); i-- > 2;)
        if (stream.bytes[i - 1] == 0xFF && stream.bytes[i] == 0xD8) {
            second_start = i - 1;
            break;
        }
    Input second_input = input;
    second_input.stream = input.stream + second_start;
    second_input.size = input.size - second_start;
    StreamCopy second(second_input);

    const char *path = write_temp_file(stream.bytes.data(), stream.bytes.size());
    uint64_t seed = 0;
    std::memcpy(&seed, input.options.extra + 8, sizeof seed);
    Rng rng{seed};
    JPEG_CODEC_RECORD record;
    init_record(&record, input.options);
    const int32_t calls = 1 + input.options.extra[4] % 32;
    for (int32_t i = 0; i < calls; ++i) one_call(&record, rng, input.options, stream, path);
    const char *second_path = write_temp_file(second.bytes.data(), second.bytes.size(), 1);
    for (int32_t i = 0; i < 4; ++i) one_call(&record, rng, input.options, second, second_path);
    free_record(&record);
    // codec_free twice is harmless.
    check_code(codec_free(&record), "second codec_free");
    unlink(path);
    unlink(second_path);
    return 0;
}
