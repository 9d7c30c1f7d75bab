/* A plug-in host: loads the qmvjpeg module, checks its identification, hands
 * it a service block and decodes each file named on the command line through
 * the six handlers, printing one line per file:
 *
 *   PATH header=RC width=W height=H size=BYTES decode=STATUS pixels=HASH
 *
 * HASH is the 64-bit FNV-1a hash of the visible pixels (w * 3 bytes of each
 * row, the padding left out). Built for Windows it loads qmvjpeg.dll with
 * LoadLibraryA and finds the entry points by ordinal (101, 102, 103); built
 * for Linux it loads qmvjpeg.so with dlopen and finds them by name. The two
 * listings of the same files must be equal.
 *
 * The host's representation of 32-bit and 16-bit values is big-endian here,
 * so a value that skipped its conversion service shows up as a wrong size or
 * a failed reference. References are small table indexes, never addresses.
 * Interface faults (a wrong field, a service position 0..4 called, host-owned
 * bytes touched, a write past the pixel buffer) are reported on stderr and
 * make the exit status 1.
 *
 * usage: qmv_host_check MODULE FILE... */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "plugin/qmv_host.h"

enum { kMaxDecodeBytes = 256 << 20, kGuardBytes = 64, kFillByte = 0xA5, kHostByte = 0x5A, kMaxReferences = 4 };

static int g_faults = 0;

static void fault(const char *path, const char *what) {
    fprintf(stderr, "FAULT %s: %s\n", path, what);
    ++g_faults;
}

/* ---- The host's services ------------------------------------------------ */

static void *g_references[kMaxReferences];
static int g_unused_service_calls = 0;

static uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
static uint16_t swap16(uint16_t v) { return (uint16_t)((v >> 8) | (v << 8)); }

/* Reference r designates g_references[r - 0x7100]; anything else resolves to
 * null. */
static uint32_t make_reference(int index, void *address) {
    g_references[index] = address;
    return 0x7100u + (uint32_t)index;
}

static uintptr_t service_resolve(uint32_t reference) {
    const uint32_t index = reference - 0x7100u;
    return index < kMaxReferences ? (uintptr_t)g_references[index] : 0;
}
static uintptr_t service_int16(uint32_t value) { return swap16((uint16_t)value); }
static uintptr_t service_int32(uint32_t value) { return swap32(value); }
static uintptr_t service_unused(uint32_t value) {
    (void)value;
    ++g_unused_service_calls;
    return 0;
}

/* ---- Loading the module -------------------------------------------------- */

typedef struct MODULE_ENTRIES {
    QMV_GET_TYPE_FN get_type;
    QMV_GET_FUNCTIONLIST_FN get_functionlist;
    QMV_MAGICINFO_FN magicinfo;
} MODULE_ENTRIES;

static int load_module(const char *path, MODULE_ENTRIES *entries) {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path);
    if (module == NULL) {
        fprintf(stderr, "LoadLibraryA(%s) failed: error %lu\n", path, (unsigned long)GetLastError());
        return 0;
    }
    /* By ordinal, as the host does; by name they must be the same entries. */
    FARPROC by_ordinal[3], by_name[3];
    static const char *const names[3] = {QMV_EXPORT_GET_TYPE, QMV_EXPORT_GET_FUNCTIONLIST,
                                         QMV_EXPORT_MAGICINFO};
    for (int i = 0; i < 3; ++i) {
        by_ordinal[i] = GetProcAddress(module, MAKEINTRESOURCEA(101 + i));
        by_name[i] = GetProcAddress(module, names[i]);
        if (by_ordinal[i] == NULL || by_ordinal[i] != by_name[i]) {
            fprintf(stderr, "export %s: ordinal %d gives %p, the name gives %p\n", names[i], 101 + i,
                    (void *)by_ordinal[i], (void *)by_name[i]);
            return 0;
        }
    }
    entries->get_type = (QMV_GET_TYPE_FN)(void *)by_ordinal[0];
    entries->get_functionlist = (QMV_GET_FUNCTIONLIST_FN)(void *)by_ordinal[1];
    entries->magicinfo = (QMV_MAGICINFO_FN)(void *)by_ordinal[2];
#else
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) {
        fprintf(stderr, "dlopen(%s) failed: %s\n", path, dlerror());
        return 0;
    }
    *(void **)&entries->get_type = dlsym(module, QMV_EXPORT_GET_TYPE);
    *(void **)&entries->get_functionlist = dlsym(module, QMV_EXPORT_GET_FUNCTIONLIST);
    *(void **)&entries->magicinfo = dlsym(module, QMV_EXPORT_MAGICINFO);
#endif
    return entries->get_type != NULL && entries->get_functionlist != NULL && entries->magicinfo != NULL;
}

/* ---- Records ---------------------------------------------------------------- */

typedef struct HOST_CALL {
    PLUGIN_REQUEST request;
    PLUGIN_ARGS args;
} HOST_CALL;

static void prepare_call(HOST_CALL *call) {
    memset(call, kHostByte, sizeof(*call));
    call->request.status = 0x55555555;
    call->request.args = make_reference(0, &call->args);
}

/* Host-owned bytes of both records must come back as they were given. */
static void check_host_bytes(const char *path, const HOST_CALL *call) {
    for (size_t i = 0; i < sizeof(call->request.host_private); ++i) {
        if (call->request.host_private[i] != kHostByte) {
            fault(path, "request bytes 0x04..0x1F changed");
            return;
        }
    }
    for (size_t i = 0; i < sizeof(call->args.host_private); ++i) {
        if (call->args.host_private[i] != kHostByte) {
            fault(path, "argument bytes 0x10..0x55 changed");
            return;
        }
    }
}

static uint8_t *read_whole_file(const char *path, uint32_t *size) {
    FILE *f = fopen(path, "rb");
    if (f == NULL) return NULL;
    uint8_t *data = NULL;
    size_t used = 0, capacity = 0;
    for (;;) {
        if (used == capacity) {
            capacity = capacity ? capacity * 2 : 65536;
            uint8_t *grown = (uint8_t *)realloc(data, capacity);
            if (grown == NULL) {
                free(data);
                fclose(f);
                return NULL;
            }
            data = grown;
        }
        const size_t n = fread(data + used, 1, capacity - used, f);
        used += n;
        if (n == 0) break;
    }
    fclose(f);
    *size = (uint32_t)used;
    return data;
}

static uint64_t fnv1a(uint64_t hash, const uint8_t *bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001B3ull;
    }
    return hash;
}

/* One image through read_header, output_size and decode. */
static void decode_one(const QMV_HANDLER_LIST *list, const char *path) {
    uint32_t jpeg_size = 0;
    uint8_t *jpeg = read_whole_file(path, &jpeg_size);
    if (jpeg == NULL) {
        printf("%s unreadable\n", path);
        fault(path, "cannot read the file");
        return;
    }
    HOST_CALL call;
    prepare_call(&call);
    call.args.jpeg_data = swap32(make_reference(1, jpeg));
    call.args.jpeg_size = swap32(jpeg_size);
    const int32_t header = list->read_header(&call.request);
    check_host_bytes(path, &call);
    if (call.request.status != (header == 0 ? 0 : -1)) fault(path, "read_header status");
    if (header != 0) {
        /* The output fields stay as the host left them. */
        if (call.args.width != (uint16_t)(kHostByte * 0x101) || call.args.bits_per_pixel != (uint16_t)(kHostByte * 0x101))
            fault(path, "failed read_header wrote output fields");
        printf("%s header=%d\n", path, (int)header);
        free(jpeg);
        return;
    }
    const uint32_t w = swap16(call.args.width), h = swap16(call.args.height);
    if (call.args.reserved != 0) fault(path, "reserved is not 0");
    if (swap16(call.args.bits_per_pixel) != 24) fault(path, "bits_per_pixel is not 24");
    if (swap16(call.args.row_words) != (uint16_t)(((w + 15) >> 4) * 24)) fault(path, "row_words");

    call.request.status = 0x55555555;
    (void)list->output_size(&call.request);
    /* Sizes past the signed 32-bit range are refused with status -1. */
    const uint64_t needed = (uint64_t)h * QMV_ROW_BYTES(w);
    if (needed > 0x7FFFFFFFu) {
        if (call.request.status != -1) fault(path, "output_size accepted a size past 2 GiB");
        printf("%s header=0 width=%u height=%u size=refused\n", path, (unsigned)w, (unsigned)h);
        free(jpeg);
        return;
    }
    const uint32_t size = swap32(call.args.pixel_buffer_size);
    if (call.request.status != 0) fault(path, "output_size status");
    if (size != (uint32_t)needed) fault(path, "pixel_buffer_size");

    /* Larger buffers may not fit a 32-bit process; both listings skip them. */
    uint8_t *pixels = size <= kMaxDecodeBytes ? (uint8_t *)malloc((size_t)size + kGuardBytes) : NULL;
    if (pixels == NULL) {
        if (size <= kMaxDecodeBytes) fault(path, "no memory for the pixel buffer");
        printf("%s header=0 width=%u height=%u size=%u not-decoded\n", path, (unsigned)w, (unsigned)h,
               (unsigned)size);
        free(jpeg);
        return;
    }
    memset(pixels, kFillByte, (size_t)size + kGuardBytes);
    call.args.pixel_buffer = swap32(make_reference(2, pixels));
    call.request.status = 0x55555555;
    const int32_t decode = list->decode(&call.request);
    check_host_bytes(path, &call);
    if (call.request.status != decode || (decode != 0 && decode != -1)) fault(path, "decode status");
    for (int i = 0; i < kGuardBytes; ++i) {
        if (pixels[size + (size_t)i] != kFillByte) {
            fault(path, "decode wrote past the pixel buffer");
            break;
        }
    }
    uint64_t hash = 0xCBF29CE484222325ull;
    const uint32_t row_bytes = QMV_ROW_BYTES(w);
    for (uint32_t y = 0; y < h; ++y) hash = fnv1a(hash, pixels + (size_t)y * row_bytes, (size_t)w * 3);
    printf("%s header=0 width=%u height=%u size=%u decode=%d pixels=%08lx%08lx\n", path, (unsigned)w,
           (unsigned)h, (unsigned)size, (int)decode, (unsigned long)(hash >> 32),
           (unsigned long)(hash & 0xFFFFFFFFu));
    free(pixels);
    free(jpeg);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: qmv_host_check MODULE FILE...\n");
        return 2;
    }
#ifdef _WIN32
    /* The listing is compared byte for byte with the Linux one. */
    (void)_setmode(_fileno(stdout), _O_BINARY);
#endif
    MODULE_ENTRIES entries;
    if (!load_module(argv[1], &entries)) {
        fprintf(stderr, "%s: the three entry points are not all there\n", argv[1]);
        return 1;
    }
    if (entries.get_type() != QMV_PLUGIN_TYPE) fault(argv[1], "qmv_get_type");
    uint32_t tag = 0;
    const QMV_HANDLER_LIST *list = NULL;
    if (entries.get_functionlist(&tag, &list) != 1 || list == NULL) fault(argv[1], "qmv_get_functionlist");
    if (memcmp(&tag, "DPJ_", 4) != 0) fault(argv[1], "tag bytes are not DPJ_");
    if (list == NULL) return 1;

    QMV_HOST_SERVICES services;
    for (int i = 0; i < QMV_SERVICE_COUNT; ++i) services.entry[i] = service_unused;
    services.entry[QMV_SERVICE_RESOLVE] = service_resolve;
    services.entry[QMV_SERVICE_INT16] = service_int16;
    services.entry[QMV_SERVICE_INT32] = service_int32;
    entries.magicinfo(&services);
    /* The plug-in keeps its own copy: the host's block may go away. */
    memset(&services, 0, sizeof(services));

    HOST_CALL call;
    prepare_call(&call);
    if (list->create(&call.request) != 0 || call.request.status != 0) {
        fault(argv[1], "create failed");
        return 1;
    }
    list->idle();
    for (int i = 2; i < argc; ++i) decode_one(list, argv[i]);
    list->destroy();

    if (g_unused_service_calls != 0) fault(argv[1], "a service position 0..4 was called");
    fflush(stdout);
    fprintf(stderr, "%s: %d files, %d interface faults\n", argv[1], argc - 2, g_faults);
    return g_faults == 0 ? 0 : 1;
}
