// The plug-in module's six handlers driven by a test host. The plug-in source
// is compiled into this program (the module's exports are plain functions),
// so its code is instrumented like the library's. The input chooses the
// processor class, the service block (whole, or missing one of positions 5 to
// 7), up to 24 handler calls in any order, and per call whether the argument
// reference resolves and which JPEG size is announced (exact, a prefix, or one
// above the signed 32-bit range). The stream may hold two images, given to
// the calls in turn.
//
// The host behaves as the module's README asks: before every decode it asks
// for the output size and hands over a pixel buffer of exactly that size (its
// own heap block, so a byte written past it is caught). Checked: the status
// word is written by every handler that takes a request; the host's bytes of
// the request and argument blocks are never touched; only services 5 to 7
// are called; the reported geometry and size follow the README's formulas;
// the first decode after create equals a direct codec_read of the same data
// into the same layout; the record is released by destroy (LeakSanitizer).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/codec.h"
#include "fuzz/fuzz_common.h"
#include "plugin/qmv_host.h"

extern "C" {
int32_t qmv_get_type();
int32_t qmv_get_functionlist(uint32_t *tag, const QMV_HANDLER_LIST **list);
void qmv_magicinfo(const QMV_HOST_SERVICES *services);
}

using namespace qrl_fuzz;

namespace {

// The host's integers are big-endian, so that a value the plug-in stores
// without the host's conversion shows.
uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
uint32_t swap32(uint32_t v) { return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24); }

// Host references: reference r (1-based) designates objects[r - 1]; 0 and
// unknown references do not resolve.
std::vector<void *> g_objects;
int g_unused_calls = 0;

uint32_t host_add(void *object) {
    g_objects.push_back(object);
    return static_cast<uint32_t>(g_objects.size());
}
uintptr_t svc_resolve(uint32_t reference) {
    if (reference == 0 || reference > g_objects.size()) return 0;
    return reinterpret_cast<uintptr_t>(g_objects[reference - 1]);
}
uintptr_t svc_int16(uint32_t value) { return swap16(static_cast<uint16_t>(value)); }
uintptr_t svc_int32(uint32_t value) { return swap32(value); }
uintptr_t svc_unused(uint32_t) {
    ++g_unused_calls;
    return 0;
}

constexpr uint8_t kRequestPattern = 0x5A;
constexpr uint8_t kArgsPattern = 0xA5;
constexpr int32_t kStatusUnset = 0x5A5A5A5A;
constexpr int kMaxCalls = 24;

struct HostJob {
    PLUGIN_REQUEST request;
    PLUGIN_ARGS args;
};

void reset_job(HostJob *job) {
    std::memset(&job->request, kRequestPattern, sizeof job->request);
    std::memset(&job->args, kArgsPattern, sizeof job->args);
}

void check_host_bytes(const HostJob &job) {
    for (uint8_t b : job.request.host_private)
        if (b != kRequestPattern) finding("the plug-in wrote the host's bytes of the request", b);
    for (uint8_t b : job.args.host_private)
        if (b != kArgsPattern) finding("the plug-in wrote the host's bytes of the argument block", b);
}

void check_status(const PLUGIN_REQUEST &request, const char *handler) {
    if (request.status != 0 && request.status != -1) finding(handler, request.status);
}

// A direct decode into the module's output layout: RGB, rows padded to
// 16-pixel groups.
std::vector<uint8_t> direct_decode(const std::vector<uint8_t> &jpeg, int32_t w, int32_t h, int32_t *code) {
    const uint32_t row = QMV_ROW_BYTES(w);
    std::vector<uint8_t> pixels(static_cast<size_t>(row) * h, 0xCD);
    JPEG_CODEC_RECORD record;
    std::memset(&record, 0, sizeof record);
    if (codec_init(&record) != JPEG_OK) finding("codec_init failed", 0);
    std::vector<uint8_t> exact(jpeg);
    record.jpeg_buffer = exact.empty() ? nullptr : exact.data();
    record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
    record.image_pixels = pixels.data();
    record.image_width = w;
    record.image_height = h;
    record.image_channels = 3;
    record.image_color = COLOR_RGB;
    record.image_pad_bytes = static_cast<int32_t>(row) - w * 3;
    record.jpeg_color = COLOR_YCBCR;
    *code = codec_read(&record, JPEG_IO_DECODE_MEM);
    free_record(&record);
    return pixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    const Options &options = input.options;
    const uint8_t *extra = options.extra;

    // Two images: the stream is split at an offset taken from the input
    // (none when the offset is 0 or past the end).
    const size_t split = static_cast<size_t>(extra[4] | extra[5] << 8);
    std::vector<uint8_t> images[2];
    if (split > 0 && split < input.size) {
        images[0].assign(input.stream, input.stream + split);
        images[1].assign(input.stream + split, input.stream + input.size);
    } else {
        images[0].assign(input.stream, input.stream + input.size);
        images[1] = images[0];
    }

    g_objects.clear();
    g_unused_calls = 0;
    char value[8];
    std::snprintf(value, sizeof value, "%d", static_cast<int>(options.cpu_class));
    setenv("QUORREL_USECPU", value, 1);

    if (qmv_get_type() != QMV_PLUGIN_TYPE) finding("qmv_get_type", qmv_get_type());
    uint32_t tag = 0;
    const QMV_HANDLER_LIST *list = nullptr;
    if (qmv_get_functionlist(&tag, &list) != 1 || tag != QMV_PLUGIN_TAG || list == nullptr)
        finding("qmv_get_functionlist", static_cast<int32_t>(tag));

    QMV_HOST_SERVICES services;
    for (auto &e : services.entry) e = svc_unused;
    services.entry[QMV_SERVICE_RESOLVE] = svc_resolve;
    services.entry[QMV_SERVICE_INT16] = svc_int16;
    services.entry[QMV_SERVICE_INT32] = svc_int32;
    // One input in eight leaves out one of the three services used.
    if ((extra[6] & 7) == 0) services.entry[QMV_SERVICE_RESOLVE + extra[6] / 8 % 3] = nullptr;
    qmv_magicinfo(&services);

    Rng rng{static_cast<uint64_t>(extra[7]) << 8 | extra[8] | static_cast<uint64_t>(input.size) << 16};
    const int calls = 1 + static_cast<int>(extra[9] % kMaxCalls);
    bool created = false;
    bool decoded_since_create = false;
    int image_since_create = -1; // the one image the record has seen since create, or -1
    bool mixed = false;          // the record has seen both images since create
    int image = 0;
    int32_t header_width = -1; // geometry of the last successful header read
    int32_t header_height = -1;
    HostJob job;
    for (int i = 0; i < calls; ++i) {
        // Handler: mostly the usual order (create, header, size, decode).
        uint32_t handler = rng.below(10);
        if (handler >= QMV_HANDLER_COUNT) handler = !created ? 0 : 3 + (handler - QMV_HANDLER_COUNT) % 3;
        const int this_image = image;
        std::vector<uint8_t> &jpeg = images[image];
        image ^= static_cast<int>(rng.below(4) == 0);
        if (handler == 3 || handler == 5) {
            if (image_since_create >= 0 && image_since_create != this_image) mixed = true;
            image_since_create = this_image;
        }
        reset_job(&job);
        const uint32_t choice = rng.below(16);
        const uint32_t request_ref = choice == 0 ? 0 : host_add(&job.args);
        job.request.args = request_ref;
        job.request.status = kStatusUnset;
        uint32_t announced = static_cast<uint32_t>(jpeg.size());
        if (choice == 1 && !jpeg.empty()) announced = rng.below(static_cast<uint32_t>(jpeg.size()));
        if (choice == 2) announced = 0x80000000u + rng.below(16);
        job.args.jpeg_data = swap32(choice == 3 ? 0 : host_add(jpeg.empty() ? nullptr : jpeg.data()));
        job.args.jpeg_size = swap32(announced);
        job.args.pixel_buffer = swap32(0);

        switch (handler) {
        case 0:
            list->create(&job.request);
            check_status(job.request, "create: status");
            created = job.request.status == 0;
            decoded_since_create = false;
            image_since_create = -1;
            mixed = false;
            header_width = header_height = -1;
            break;
        case 1:
            list->destroy();
            created = false;
            header_width = header_height = -1;
            break;
        case 2:
            list->idle();
            break;
        case 3: {
            const int32_t result = list->read_header(&job.request);
            check_code(result, "read_header");
            check_status(job.request, "read_header: status");
            if ((result == JPEG_OK) != (job.request.status == 0)) finding("read_header: status and result", result);
            if (job.request.status != 0) break;
            if (!created) finding("read_header succeeded without a record", result);
            const int32_t w = swap16(job.args.width);
            const int32_t h = swap16(job.args.height);
            if (w <= 0 || h <= 0) finding("read_header: empty image reported", w);
            if (swap16(job.args.row_words) != static_cast<uint16_t>(QMV_ROW_BYTES(w) / 2))
                finding("read_header: row_words", swap16(job.args.row_words));
            if (job.args.reserved != 0 || swap16(job.args.bits_per_pixel) != 24)
                finding("read_header: reserved or bits_per_pixel", swap16(job.args.bits_per_pixel));
            header_width = w;
            header_height = h;
            break;
        }
        case 4:
        case 5: {
            // The size request; before a decode the host always asks first.
            list->output_size(&job.request);
            check_status(job.request, "output_size: status");
            const bool sized = job.request.status == 0;
            const uint32_t reported = swap32(job.args.pixel_buffer_size);
            if (sized && header_width > 0 &&
                reported != static_cast<uint64_t>(header_height) * QMV_ROW_BYTES(header_width))
                finding("output_size: not height x row bytes of the header read", static_cast<int32_t>(reported));
            // A host without that much memory does not decode.
            if (handler == 4 || !sized || reported > kMaxPixelBytes) break;
            std::vector<uint8_t> pixels(reported, 0xCD);
            reset_job(&job);
            job.request.args = request_ref;
            job.request.status = kStatusUnset;
            job.args.jpeg_data = swap32(choice == 3 ? 0 : host_add(jpeg.empty() ? nullptr : jpeg.data()));
            job.args.jpeg_size = swap32(announced);
            job.args.pixel_buffer = swap32(rng.below(16) == 0 ? 0 : host_add(pixels.empty() ? nullptr : pixels.data()));
            const int32_t status = list->decode(&job.request);
            check_status(job.request, "decode: status");
            if (status != job.request.status) finding("decode: status and result", status);
            touch(pixels.data(), pixels.size());
            // The first decode after create of the data of the header read
            // equals a direct decode (later images may see segment state the
            // record keeps, such as an earlier Adobe segment).
            if (status == 0 && !decoded_since_create && !mixed && header_width > 0 && announced == jpeg.size() &&
                choice != 3) {
                int32_t code = 0;
                const std::vector<uint8_t> direct = direct_decode(jpeg, header_width, header_height, &code);
                if (code == JPEG_OK && direct.size() == pixels.size() && direct != pixels)
                    finding("decode differs from a direct codec_read", code);
            }
            if (status == 0) decoded_since_create = true;
            // The decode read the frame header of its own data: the record's
            // geometry is that data's now.
            header_width = header_height = -1;
            break;
        }
        default:
            break;
        }
        check_host_bytes(job);
    }
    list->destroy();
    if (g_unused_calls != 0) finding("a service other than positions 5 to 7 was called", g_unused_calls);
    return 0;
}
