// The qmvjpeg plug-in module: three exported entry points and six request
// handlers that drive one codec record on behalf of the host. The host's
// request and argument records are read and written at fixed byte offsets
// (plugin/qmv_host.h); host references are turned into addresses and values
// with the host's own services.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/codec.h"
#include "plugin/qmv_host.h"

#if defined(_WIN32)
#define QMV_EXPORT extern "C" __declspec(dllexport)
#else
#define QMV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace qrl {
namespace {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusFailed = -1;
constexpr uint32_t kBitsPerPixel = 24;
// Largest pixel buffer the 32-bit size field can announce. Kept to the signed
// range so that a host reading the field as a signed value never sees a
// negative size.
constexpr uint64_t kMaxPixelBufferSize = 0x7FFFFFFFu;

// Module state: the one codec record and the host's service block.
JPEG_CODEC_RECORD *plugin_codec = nullptr;
QMV_HOST_SERVICES host_services = {};

// ---- Host services ----------------------------------------------------------

bool services_ready() {
    return host_services.entry[QMV_SERVICE_RESOLVE] != nullptr && host_services.entry[QMV_SERVICE_INT16] != nullptr &&
           host_services.entry[QMV_SERVICE_INT32] != nullptr;
}

uint8_t *host_resolve(uint32_t reference) {
    return reinterpret_cast<uint8_t *>(host_services.entry[QMV_SERVICE_RESOLVE](reference));
}
uint16_t host_int16(uint32_t value) { return static_cast<uint16_t>(host_services.entry[QMV_SERVICE_INT16](value)); }
uint32_t host_int32(uint32_t value) { return static_cast<uint32_t>(host_services.entry[QMV_SERVICE_INT32](value)); }

// ---- Host records at byte offsets (the host's memory need not be aligned) -------

uint32_t load_u32(const uint8_t *base, size_t offset) {
    uint32_t v;
    std::memcpy(&v, base + offset, sizeof(v));
    return v;
}
void store_u32(uint8_t *base, size_t offset, uint32_t v) { std::memcpy(base + offset, &v, sizeof(v)); }
void store_u16(uint8_t *base, size_t offset, uint16_t v) { std::memcpy(base + offset, &v, sizeof(v)); }

void set_status(PLUGIN_REQUEST *request, int32_t status) {
    std::memcpy(reinterpret_cast<uint8_t *>(request) + QMV_REQUEST_STATUS, &status, sizeof(status));
}

// The argument block of a request, or null when the plug-in cannot serve it
// (no record, no service block, or a reference the host does not resolve).
uint8_t *resolve_args(PLUGIN_REQUEST *request) {
    if (plugin_codec == nullptr || !services_ready()) return nullptr;
    return host_resolve(load_u32(reinterpret_cast<const uint8_t *>(request), QMV_REQUEST_ARGS));
}

// Points the record at the host's JPEG bytes. False when the size does not
// fit the record's signed 32-bit field (it would turn negative there).
bool attach_jpeg_data(const uint8_t *args) {
    const uint32_t size = host_int32(load_u32(args, QMV_ARGS_JPEG_SIZE));
    if (size > 0x7FFFFFFFu) return false;
    plugin_codec->jpeg_buffer = host_resolve(host_int32(load_u32(args, QMV_ARGS_JPEG_DATA)));
    plugin_codec->jpeg_buffer_size = static_cast<int32_t>(size);
    return true;
}

// Output buffer size for the record's image, or -1 when it does not fit the
// host's 32-bit size field (a truncated size would make the host allocate too
// little for the decode).
int64_t pixel_buffer_size() {
    const int32_t w = plugin_codec->jpeg_width, h = plugin_codec->jpeg_height;
    if (w < 0 || h < 0) return -1;
    const uint64_t size = static_cast<uint64_t>(h) * QMV_ROW_BYTES(w);
    return size > kMaxPixelBufferSize ? -1 : static_cast<int64_t>(size);
}

void release_record() {
    if (plugin_codec == nullptr) return;
    (void)codec_free(plugin_codec);
    std::free(plugin_codec);
    plugin_codec = nullptr;
}

// ---- Handlers ------------------------------------------------------------------

int32_t plugin_create(PLUGIN_REQUEST *request) {
    if (request == nullptr) return kStatusFailed;
    // A second create starts over with a fresh record instead of leaking the
    // first one or handing out a record that still holds an earlier image.
    release_record();
    auto *record = static_cast<JPEG_CODEC_RECORD *>(std::malloc(sizeof(JPEG_CODEC_RECORD)));
    if (record == nullptr) {
        set_status(request, kStatusFailed);
        return kStatusFailed;
    }
    plugin_codec = record;
    if (codec_init(record) != JPEG_OK) {
        // A failed init leaves the kernel table attached; codec_free releases it.
        release_record();
        set_status(request, kStatusFailed);
        return kStatusFailed;
    }
    set_status(request, kStatusOk);
    return kStatusOk;
}

// Without a record (never created, or create failed) there is nothing to do.
int32_t plugin_destroy() {
    release_record();
    return kStatusOk;
}

int32_t plugin_idle() { return kStatusOk; }

int32_t plugin_read_header(PLUGIN_REQUEST *request) {
    if (request == nullptr) return JPEG_INVALID_PROPERTIES;
    uint8_t *args = resolve_args(request);
    if (args == nullptr) {
        set_status(request, kStatusFailed);
        return JPEG_INVALID_PROPERTIES;
    }
    if (!attach_jpeg_data(args)) {
        set_status(request, kStatusFailed);
        return JPEG_INVALID_PROPERTIES;
    }
    // Each header read starts from the library's default assumption about the
    // data. The decode handler leaves jpeg_color at YCbCr while jpeg_channels
    // still holds the previous image's count, and after a gray or
    // four-component image that pair fails validation: every later image
    // would be refused.
    plugin_codec->jpeg_color = COLOR_YCBCR;
    plugin_codec->jpeg_channels = 3;
    int32_t result = codec_read(plugin_codec, JPEG_IO_READ_HEADER_MEM);
    // The codec's header read of a stream that ends without any frame header
    // succeeds with a size of 0 x 0; the host gets no image then.
    if (result == JPEG_OK && (plugin_codec->jpeg_width <= 0 || plugin_codec->jpeg_height <= 0))
        result = JPEG_NO_IMAGE;
    if (result != JPEG_OK) {
        set_status(request, kStatusFailed);
        return result;
    }
    set_status(request, kStatusOk);
    const int32_t w = plugin_codec->jpeg_width, h = plugin_codec->jpeg_height;
    store_u16(args, QMV_ARGS_WIDTH, host_int16(static_cast<uint32_t>(w)));
    store_u16(args, QMV_ARGS_HEIGHT, host_int16(static_cast<uint32_t>(h)));
    store_u16(args, QMV_ARGS_ROW_WORDS, host_int16(QMV_ROW_BYTES(w) / 2u));
    store_u16(args, QMV_ARGS_RESERVED, 0);
    store_u16(args, QMV_ARGS_BITS_PER_PIXEL, host_int16(kBitsPerPixel));
    return JPEG_OK;
}

int32_t plugin_output_size(PLUGIN_REQUEST *request) {
    if (request == nullptr) return kStatusFailed;
    uint8_t *args = resolve_args(request);
    const int64_t size = args != nullptr ? pixel_buffer_size() : -1;
    if (size < 0) {
        set_status(request, kStatusFailed);
        return kStatusFailed;
    }
    store_u32(args, QMV_ARGS_PIXEL_BUFFER_SIZE, host_int32(static_cast<uint32_t>(size)));
    set_status(request, kStatusOk);
    return kStatusOk;
}

int32_t plugin_decode(PLUGIN_REQUEST *request) {
    if (request == nullptr) return kStatusFailed;
    uint8_t *args = resolve_args(request);
    // An image whose buffer size cannot be reported cannot have been given a
    // large enough buffer either.
    if (args == nullptr || pixel_buffer_size() < 0 || !attach_jpeg_data(args)) {
        set_status(request, kStatusFailed);
        return kStatusFailed;
    }
    JPEG_CODEC_RECORD *rec = plugin_codec;
    const int32_t w = rec->jpeg_width;
    rec->image_width = w;
    rec->image_height = rec->jpeg_height;
    rec->image_channels = 3;
    rec->image_color = COLOR_RGB;
    rec->image_pad_bytes = static_cast<int32_t>(QMV_ROW_BYTES(w)) - w * 3;
    rec->image_pixels = host_resolve(host_int32(load_u32(args, QMV_ARGS_PIXEL_BUFFER)));
    rec->jpeg_color = COLOR_YCBCR;
    const int32_t status = codec_read(rec, JPEG_IO_DECODE_MEM) == JPEG_OK ? kStatusOk : kStatusFailed;
    set_status(request, status);
    return status;
}

constexpr QMV_HANDLER_LIST handler_list = {
    plugin_create, plugin_destroy, plugin_idle, plugin_read_header, plugin_output_size, plugin_decode,
};

} // namespace
} // namespace qrl

// ---- Exported entry points (ordinals 101, 102, 103 on Windows) -------------------

QMV_EXPORT int32_t qmv_get_type() { return QMV_PLUGIN_TYPE; }

QMV_EXPORT int32_t qmv_get_functionlist(uint32_t *tag, const QMV_HANDLER_LIST **list) {
    if (tag != nullptr) *tag = QMV_PLUGIN_TAG;
    if (list != nullptr) *list = &qrl::handler_list;
    return 1;
}

QMV_EXPORT void qmv_magicinfo(const QMV_HOST_SERVICES *services) {
    if (services == nullptr) return;
    std::memcpy(&qrl::host_services, services, sizeof(qrl::host_services));
}
