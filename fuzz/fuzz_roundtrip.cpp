// Round trip: pixels from the input encoded by our encoder at quality 100
// without subsampling (gray or RGB, sequential or progressive, accurate
// transforms) and decoded by our decoder come back within a few levels of
// the original.
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

namespace {
// Quality 100 quantizes with 1 everywhere: only transform and colour
// rounding remain.
constexpr int kTolerance = 8;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    Options o = input.options;
    o.dct_method = 1;
    o.pad = 0;
    o.bottom_up = false;
    const bool gray = (o.extra[4] & 1) != 0;
    const bool progressive = (o.extra[4] & 2) != 0;
    const int32_t channels = gray ? 1 : 3;
    const int32_t w = 1 + o.extra[5] % 40;
    const int32_t h = 1 + o.extra[6] % 40;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * channels);
    // Smooth content: a random walk keeps the blocks free of extreme ringing.
    uint8_t v = 128;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint8_t step = input.size > 0 ? input.stream[i % input.size] : 0;
        v = static_cast<uint8_t>(v + (step % 5) - 2);
        pixels[i] = v;
    }

    std::vector<uint8_t> out(1 << 18);
    JPEG_CODEC_RECORD record;
    init_record(&record, o);
    record.image_pixels = pixels.data();
    record.image_width = w;
    record.image_height = h;
    record.image_channels = channels;
    record.image_color = gray ? COLOR_GRAY : COLOR_RGB;
    record.jpeg_width = w;
    record.jpeg_height = h;
    record.jpeg_channels = channels;
    record.jpeg_color = gray ? COLOR_GRAY : COLOR_YCBCR;
    record.jpeg_subsampling = SUBSAMPLING_NONE;
    record.jpeg_quality = 100;
    record.jpeg_buffer = out.data();
    record.jpeg_buffer_size = static_cast<int32_t>(out.size());
    if (progressive) record.props.scans_done = 1;
    int32_t result = codec_write(&record, JPEG_IO_ENCODE_MEM);
    check_code(result, "encode");
    const int32_t written = record.jpeg_buffer_size;
    free_record(&record);
    if (result != JPEG_OK) finding("quality 100 encode failed", result);

    std::vector<uint8_t> stream(out.begin(), out.begin() + written);
    init_record(&record, o);
    record.jpeg_buffer = stream.data();
    record.jpeg_buffer_size = written;
    result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
    if (result != JPEG_OK) finding("round trip: header read failed", result);
    std::vector<uint8_t> back(pixels.size(), 0);
    record.image_pixels = back.data();
    record.image_width = w;
    record.image_height = h;
    record.image_channels = channels;
    record.image_color = gray ? COLOR_GRAY : COLOR_RGB;
    result = codec_read(&record, JPEG_IO_DECODE_MEM);
    if (result != JPEG_OK) finding("round trip: decode failed", result);
    free_record(&record);
    for (size_t i = 0; i < pixels.size(); ++i)
        if (std::abs(static_cast<int>(pixels[i]) - static_cast<int>(back[i])) > kTolerance)
            finding("round trip differs by more than the tolerance", static_cast<int32_t>(i));
    return 0;
}
