// Encoder: dimensions, channels and colours, subsampling, quality, transform
// family, progressive order, restart interval from the input, random pixels;
// the output buffer is first generous, then exactly the room needed and one
// byte short. Every success must decode with our decoder.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

namespace {

struct Pair {
    int32_t image_color, image_channels, jpeg_color, jpeg_channels;
};
// Accepted pairs of the write side.
constexpr Pair kPairs[] = {
    {COLOR_GRAY, 1, COLOR_GRAY, 1},   {COLOR_GRAY, 1, COLOR_YCBCR, 3}, {COLOR_RGB, 3, COLOR_GRAY, 1},
    {COLOR_RGB, 3, COLOR_RGB, 3},     {COLOR_RGB, 3, COLOR_YCBCR, 3},  {COLOR_RGB, 4, COLOR_YCBCR, 3},
    {COLOR_BGR, 3, COLOR_YCBCR, 3},   {COLOR_BGR, 3, COLOR_GRAY, 1},   {COLOR_CMYK, 4, COLOR_CMYK, 4},
    {COLOR_CMYK, 4, COLOR_YCCK, 4},   {COLOR_YCBCR, 3, COLOR_YCBCR, 3}, {COLOR_OTHER, 2, COLOR_OTHER, 2},
};
constexpr int32_t kPairCount = sizeof kPairs / sizeof kPairs[0];

struct Encoded {
    int32_t result;
    int32_t written;
};

Encoded encode(const Options &options, const Pair &pair, int32_t w, int32_t h, int32_t subsampling,
               int32_t quality, bool progressive, int32_t restart, std::vector<uint8_t> &pixels,
               int32_t out_size, std::vector<uint8_t> *out) {
    JPEG_CODEC_RECORD record;
    init_record(&record, options);
    out->assign(static_cast<size_t>(out_size), 0);
    record.image_pixels = pixels.data();
    record.image_width = w;
    record.image_height = options.bottom_up ? -h : h;
    record.image_pad_bytes = options.pad;
    record.image_channels = pair.image_channels;
    record.image_color = pair.image_color;
    record.jpeg_width = w;
    record.jpeg_height = h;
    record.jpeg_channels = pair.jpeg_channels;
    record.jpeg_color = pair.jpeg_color;
    record.jpeg_subsampling = subsampling;
    record.jpeg_quality = quality;
    record.jpeg_buffer = out->empty() ? nullptr : out->data();
    record.jpeg_buffer_size = out_size;
    record.props.restart_interval = restart;
    if (progressive) record.props.scans_done = 1;
    const int32_t result = codec_write(&record, JPEG_IO_ENCODE_MEM);
    check_code(result, "encode");
    const Encoded e{result, record.jpeg_buffer_size};
    free_record(&record);
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    const Options &o = input.options;
    const Pair &pair = kPairs[o.extra[4] % kPairCount];
    const int32_t w = 1 + o.extra[5] % 48;
    const int32_t h = 1 + o.extra[6] % 48;
    int32_t subsampling = SUBSAMPLING_NONE;
    if (pair.jpeg_channels == 3) subsampling = o.extra[7] % 3;
    if (pair.jpeg_channels == 4) subsampling = (o.extra[7] % 3) == 0 ? 0 : 2 + o.extra[7] % 3;
    const int32_t quality = o.extra[8] % 103 - 1; // -1..101
    const bool progressive = (o.extra[9] & 1) != 0;
    const int32_t restart = (o.extra[9] & 6) != 0 ? o.extra[10] % 5 : 0;
    const int64_t line = static_cast<int64_t>(w) * pair.image_channels + o.pad;
    std::vector<uint8_t> pixels(static_cast<size_t>(line * h));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = input.size > 0 ? input.stream[i % input.size] : static_cast<uint8_t>(i * 37);

    std::vector<uint8_t> out;
    const Encoded first = encode(o, pair, w, h, subsampling, quality, progressive, restart, pixels, 1 << 20, &out);
    if (first.result != JPEG_OK) return 0;
    if (first.written <= 0 || first.written > (1 << 20)) finding("encode reported a bad size", first.written);
    std::vector<uint8_t> encoded(out.begin(), out.begin() + first.written);

    // The same encode into exactly the room it needs (the memory stream keeps
    // one byte of the buffer unused), and into one byte less.
    const int32_t needed = first.written + 1;
    std::vector<uint8_t> again;
    const Encoded exact = encode(o, pair, w, h, subsampling, quality, progressive, restart, pixels, needed, &again);
    if (exact.result != JPEG_OK || exact.written != first.written ||
        std::memcmp(again.data(), encoded.data(), encoded.size()) != 0)
        finding("encode into the exact size differs", exact.result);
    const Encoded shorter =
        encode(o, pair, w, h, subsampling, quality, progressive, restart, pixels, needed - 1, &again);
    if (shorter.result != JPEG_BUFFER_TOO_SMALL) finding("one byte short not refused", shorter.result);

    // Our decoder reads what our encoder wrote.
    JPEG_CODEC_RECORD record;
    init_record(&record, o);
    record.jpeg_buffer = encoded.data();
    record.jpeg_buffer_size = static_cast<int32_t>(encoded.size());
    int32_t result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
    if (result != JPEG_OK) finding("our encoder's stream: header read fails", result);
    if (record.jpeg_width != w || record.jpeg_height != h) finding("our encoder's stream: wrong size", 0);
    Options decode = o;
    decode.layout = kLayoutOther;
    PixelBuffer decoded;
    if (prepare_output(&record, decode, w, h, &decoded)) {
        result = codec_read(&record, JPEG_IO_DECODE_MEM);
        if (result != JPEG_OK) finding("our encoder's stream does not decode", result);
        touch(decoded.bytes.data(), decoded.bytes.size());
    }
    free_record(&record);
    return 0;
}
