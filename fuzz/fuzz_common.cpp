#include "fuzz/fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace qrl_fuzz {
namespace {

constexpr int32_t kCpuClasses[] = {0, 3, 4, 5, 6};

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// FNV-1a over the size, the first and the last 64 bytes.
uint64_t stream_hash(const uint8_t *data, std::size_t size) {
    uint64_t h = 1469598103934665603ull ^ size;
    const std::size_t head = size < 64 ? size : 64;
    for (std::size_t i = 0; i < head; ++i) h = (h ^ data[i]) * 1099511628211ull;
    const std::size_t tail_start = size > 64 ? size - 64 : 0;
    for (std::size_t i = tail_start; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

volatile uint64_t g_sink = 0;

} // namespace

uint32_t Rng::next() {
    state = mix(state);
    return static_cast<uint32_t>(state >> 16);
}

Input split_input(const uint8_t *data, std::size_t size) {
    Input input{};
    uint8_t bytes[kOptionBytes] = {};
    if (size > 0 && data[0] != 0xFF) {
        const std::size_t n = size < kOptionBytes ? size : kOptionBytes;
        std::memcpy(bytes, data, n);
        input.stream = data + n;
        input.size = size - n;
    } else {
        uint64_t h = stream_hash(data, size);
        for (std::size_t i = 0; i < kOptionBytes; i += 8) {
            h = mix(h);
            std::memcpy(bytes + i, &h, 8);
        }
        input.stream = data;
        input.size = size;
    }
    Options &o = input.options;
    std::memcpy(o.extra, bytes, kOptionBytes);
    o.cpu_class = kCpuClasses[bytes[1] % 5];
    o.dct_method = bytes[2] & 1;
    o.smooth = (bytes[2] >> 1) & 1;
    o.layout = bytes[3] % kLayoutCount;
    o.scale = 1 << ((bytes[2] >> 2) & 3);
    o.pad = (bytes[2] >> 4) & 3;
    o.bottom_up = ((bytes[2] >> 6) & 1) != 0;
    return input;
}

void finding(const char *what, int32_t code) {
    std::fprintf(stderr, "FUZZ FINDING: %s (code %d)\n", what, static_cast<int>(code));
    std::fflush(stderr);
    std::abort();
}

void check_code(int32_t code, const char *what) {
    if (code == JPEG_EXCEPTION_DETECTED) finding(what, code);
}

void init_record(JPEG_CODEC_RECORD *record, const Options &options) {
    char value[8];
    std::snprintf(value, sizeof value, "%d", static_cast<int>(options.cpu_class));
    setenv("QUORREL_USECPU", value, 1);
    std::memset(record, 0, sizeof *record);
    const int32_t result = codec_init(record);
    if (result != JPEG_OK) finding("codec_init failed", result);
    record->props.dct_method = options.dct_method;
    record->props.smooth_upsampling = options.smooth;
}

void free_record(JPEG_CODEC_RECORD *record) {
    const int32_t result = codec_free(record);
    if (result != JPEG_OK) finding("codec_free failed", result);
}

void point_at_memory(JPEG_CODEC_RECORD *record, StreamCopy &stream) {
    record->jpeg_buffer = stream.data();
    record->jpeg_buffer_size = stream.size();
}

int32_t scaled_size(int32_t size, int32_t scale) { return (size + scale - 1) / scale; }

int32_t decode_mode_for_scale(int32_t scale, bool file) {
    int32_t mode = JPEG_IO_DECODE_MEM;
    if (scale == 2) mode = JPEG_IO_DECODE_HALF_MEM;
    if (scale == 4) mode = JPEG_IO_DECODE_QUARTER_MEM;
    if (scale == 8) mode = JPEG_IO_DECODE_EIGHTH_MEM;
    return file ? mode - 1 : mode;
}

bool prepare_output(JPEG_CODEC_RECORD *record, const Options &options, int32_t width,
                    int32_t height, PixelBuffer *out) {
    if (width <= 0 || height <= 0) return false;
    int32_t layout = options.layout;
    const int32_t jpeg_color = record->jpeg_color;
    // Steer the request towards a pair the validation accepts, so that most
    // inputs reach the decoder.
    if ((jpeg_color == COLOR_CMYK || jpeg_color == COLOR_YCCK) && layout != kLayoutOther)
        layout = kLayoutCmyk;
    if (jpeg_color == COLOR_RGB && (layout == kLayoutGray || layout == kLayoutPacked422 ||
                                    layout == kLayoutYcc3))
        layout = kLayoutRgb;
    if (jpeg_color == COLOR_GRAY && (layout == kLayoutPacked422 || layout == kLayoutYcc3))
        layout = kLayoutGray;
    int32_t color = COLOR_RGB;
    int32_t channels = 3;
    int32_t subsampling = SUBSAMPLING_NONE;
    switch (layout) {
    case kLayoutRgb: break;
    case kLayoutBgr: color = COLOR_BGR; break;
    case kLayoutGray: color = COLOR_GRAY; channels = 1; break;
    case kLayoutCmyk: color = COLOR_CMYK; channels = 4; break;
    case kLayoutPacked422:
        color = COLOR_YCBCR;
        channels = 2;
        subsampling = SUBSAMPLING_2X1;
        break;
    case kLayoutYcc3: color = COLOR_YCBCR; break;
    default:
        color = COLOR_OTHER;
        channels = record->jpeg_channels >= 1 && record->jpeg_channels <= 255 ? record->jpeg_channels : 1;
        record->jpeg_color = COLOR_OTHER;
        break;
    }
    out->width = width;
    out->height = height;
    out->channels = channels;
    out->pad = options.pad;
    const int64_t bytes = out->line_bytes() * height;
    if (bytes <= 0 || bytes > kMaxPixelBytes) return false;
    out->bytes.assign(static_cast<std::size_t>(bytes), 0xA5);
    record->image_pixels = out->bytes.data();
    record->image_width = width;
    record->image_height = options.bottom_up ? -height : height;
    record->image_pad_bytes = options.pad;
    record->image_channels = channels;
    record->image_color = color;
    record->image_subsampling = subsampling;
    return true;
}

uint64_t touch(const uint8_t *bytes, std::size_t size) {
    uint64_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum = sum * 31 + bytes[i];
    g_sink = g_sink + sum;
    return sum;
}

void expect_same_pixels(const PixelBuffer &a, const PixelBuffer &b, const char *what) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels)
        finding(what, -1000);
    const int64_t line_a = a.line_bytes();
    const int64_t line_b = b.line_bytes();
    const std::size_t visible = static_cast<std::size_t>(a.width) * a.channels;
    for (int32_t y = 0; y < a.height; ++y) {
        if (std::memcmp(a.bytes.data() + y * line_a, b.bytes.data() + y * line_b, visible) != 0) {
            std::fprintf(stderr, "pixel rows differ at row %d\n", static_cast<int>(y));
            finding(what, -1001);
        }
    }
}

const char *write_temp_file(const uint8_t *bytes, std::size_t size, int32_t slot) {
    static char paths[2][256];
    char *path = paths[slot & 1];
    if (path[0] == 0) {
        const char *dir = std::getenv("TMPDIR");
        if (dir == nullptr || dir[0] == 0) dir = "/tmp";
        std::snprintf(path, sizeof paths[0], "%s/qrl-fuzz-%d-%d.jpg", dir, static_cast<int>(getpid()),
                      static_cast<int>(slot & 1));
    }
    std::FILE *file = std::fopen(path, "wb");
    if (file == nullptr) finding("cannot write the temporary file", 0);
    if (size > 0 && std::fwrite(bytes, 1, size, file) != size) finding("short temporary write", 0);
    std::fclose(file);
    return path;
}

} // namespace qrl_fuzz
