/* qmvjpeg: the interface between a host program and the JPEG plug-in module.
 *
 * A host author includes this header, loads qmvjpeg.so (dlopen), looks up the
 * three exported entry points by plain name (dlsym) and then the steps below.
 * On Windows the module is qmvjpeg.dll (LoadLibraryA), and GetProcAddress
 * finds the entry points by plain name or by ordinal 101, 102 and 103. Every
 * function here, the host's services included, uses the C compiler's default
 * calling convention (cdecl on 32-bit Windows).
 *
 *   1. qmv_get_type()                 -> QMV_PLUGIN_TYPE (0x4701)
 *   2. qmv_get_functionlist(&tag, &list)
 *                                     -> 1; tag = QMV_PLUGIN_TAG ("DPJ_" in memory),
 *                                        list = the six request handlers
 *   3. qmv_magicinfo(&services)       copies the host's service block
 *   4. list->create(&request)         makes the plug-in's one codec record
 *   5. per image: list->read_header(&request), list->output_size(&request),
 *      list->decode(&request) with a pixel buffer of the reported size
 *   6. list->destroy()                releases the record
 *
 * The host owns the request record, the argument block, the JPEG bytes and the
 * pixel buffer. The plug-in never keeps a pointer to them past a handler call.
 * Every handler that takes the request writes `status` (0 success, -1 failure);
 * the host reads `status`. There are no threads and no locks: call one handler
 * at a time and decode one image at a time.
 *
 * Host references. The host designates its objects (the argument block, the
 * JPEG bytes, the pixel buffer) by 32-bit references. The plug-in turns them
 * into addresses with the host's services:
 *   position 5  host_resolve(ref)  -> address of the object, valid until the
 *                                     handler returns
 *   position 6  host_int16(value)  -> the value in the host's 16-bit
 *                                     representation, in the low 16 bits
 *   position 7  host_int32(value)  -> the value converted between the host's
 *                                     32-bit representation and the native one,
 *                                     in the low 32 bits (used both ways)
 * Positions 0 to 4 are stored and never called. Each service takes a 32-bit
 * value and returns a pointer-sized value, so the block holds eight entries of
 * pointer size (64 bytes on a 64-bit build, 32 bytes on a 32-bit one such as
 * 32-bit Windows).
 *
 * Output pixels of the decode handler: 24-bit RGB (red, green, blue), rows
 * top first, each row padded to a whole number of 16-pixel groups:
 *   row bytes   = ((width + 15) >> 4) * 48
 *   buffer size = height * row bytes
 * Only three-component (YCbCr or RGB) JPEG data decodes; a gray or
 * four-component file passes the header read but the decode reports -1.
 *
 * Plain C; usable from C and C++. */
#ifndef QMV_HOST_H
#define QMV_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Identification ---------------------------------------------------- */
#define QMV_PLUGIN_TYPE 0x4701       /* returned by qmv_get_type (decimal 18177) */
#define QMV_PLUGIN_TAG 0x5F4A5044u   /* stored by qmv_get_functionlist; bytes "DPJ_" */
#define QMV_HANDLER_COUNT 6

/* Names of the three exports, for dlsym. */
#define QMV_EXPORT_GET_TYPE "qmv_get_type"
#define QMV_EXPORT_GET_FUNCTIONLIST "qmv_get_functionlist"
#define QMV_EXPORT_MAGICINFO "qmv_magicinfo"

/* ---- Host service block ---------------------------------------------------- */
typedef uintptr_t (*QMV_HOST_SERVICE)(uint32_t value);

#define QMV_SERVICE_COUNT 8
#define QMV_SERVICE_RESOLVE 5 /* host reference -> address */
#define QMV_SERVICE_INT16 6   /* native integer -> host 16-bit value (low bits) */
#define QMV_SERVICE_INT32 7   /* host 32-bit value <-> native value (low bits) */

typedef struct QMV_HOST_SERVICES {
    QMV_HOST_SERVICE entry[QMV_SERVICE_COUNT];
} QMV_HOST_SERVICES;

/* ---- Request record and argument block (byte offsets are the interface) ---- */

/* PLUGIN_REQUEST: passed by address to create, read_header, output_size and
 * decode. Bytes 0x04..0x1F are the host's and are not touched. */
typedef struct PLUGIN_REQUEST {
    int32_t status;            /* 0x00 out: 0 success, -1 failure */
    uint8_t host_private[0x1C]; /* 0x04..0x1F */
    uint32_t args;             /* 0x20 in: host reference to the PLUGIN_ARGS */
} PLUGIN_REQUEST;

#define QMV_REQUEST_STATUS 0x00
#define QMV_REQUEST_ARGS 0x20

/* PLUGIN_ARGS: reached through host_resolve(request->args). The 16-bit out
 * fields sit at even offsets from 0x56; bytes 0x10..0x55 are the host's. */
#pragma pack(push, 2)
typedef struct PLUGIN_ARGS {
    uint32_t jpeg_data;         /* 0x00 in: host reference (host representation) to the JPEG bytes */
    uint32_t pixel_buffer;      /* 0x04 in: host reference (host representation) to the pixel buffer */
    uint32_t jpeg_size;         /* 0x08 in: JPEG byte count (host representation) */
    uint32_t pixel_buffer_size; /* 0x0C out: required pixel buffer bytes (host representation) */
    uint8_t host_private[0x46]; /* 0x10..0x55 */
    uint16_t width;             /* 0x56 out: host_int16(image width) */
    uint16_t height;            /* 0x58 out: host_int16(image height) */
    uint16_t row_words;         /* 0x5A out: host_int16(((width + 15) >> 4) * 24), row length / 2 */
    uint16_t reserved;          /* 0x5C out: 0, stored without conversion */
    uint16_t bits_per_pixel;    /* 0x5E out: host_int16(24) */
} PLUGIN_ARGS;
#pragma pack(pop)

#define QMV_ARGS_JPEG_DATA 0x00
#define QMV_ARGS_PIXEL_BUFFER 0x04
#define QMV_ARGS_JPEG_SIZE 0x08
#define QMV_ARGS_PIXEL_BUFFER_SIZE 0x0C
#define QMV_ARGS_WIDTH 0x56
#define QMV_ARGS_HEIGHT 0x58
#define QMV_ARGS_ROW_WORDS 0x5A
#define QMV_ARGS_RESERVED 0x5C
#define QMV_ARGS_BITS_PER_PIXEL 0x5E
#define QMV_ARGS_SIZE 0x60

#ifdef __cplusplus
#define QMV_STATIC_ASSERT static_assert
#else
#define QMV_STATIC_ASSERT _Static_assert
#endif
QMV_STATIC_ASSERT(offsetof(PLUGIN_REQUEST, status) == QMV_REQUEST_STATUS, "request status offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_REQUEST, args) == QMV_REQUEST_ARGS, "request args offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, jpeg_data) == QMV_ARGS_JPEG_DATA, "jpeg_data offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, pixel_buffer) == QMV_ARGS_PIXEL_BUFFER, "pixel_buffer offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, jpeg_size) == QMV_ARGS_JPEG_SIZE, "jpeg_size offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, pixel_buffer_size) == QMV_ARGS_PIXEL_BUFFER_SIZE, "size offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, width) == QMV_ARGS_WIDTH, "width offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, height) == QMV_ARGS_HEIGHT, "height offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, row_words) == QMV_ARGS_ROW_WORDS, "row_words offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, reserved) == QMV_ARGS_RESERVED, "reserved offset");
QMV_STATIC_ASSERT(offsetof(PLUGIN_ARGS, bits_per_pixel) == QMV_ARGS_BITS_PER_PIXEL, "bits_per_pixel offset");
QMV_STATIC_ASSERT(sizeof(PLUGIN_ARGS) == QMV_ARGS_SIZE, "argument block size");
QMV_STATIC_ASSERT(sizeof(QMV_HOST_SERVICES) == QMV_SERVICE_COUNT * sizeof(void *), "service block size");
#if UINTPTR_MAX == 0xFFFFFFFFu
/* A 32-bit build has the host's own block: eight 4-byte entries. */
QMV_STATIC_ASSERT(sizeof(QMV_HOST_SERVICES) == 32, "32-bit service block is 32 bytes");
#endif
#if defined(_WIN32) && !defined(_WIN64)
/* The plug-in's own platform: eight 4-byte entry points, 32 bytes. */
QMV_STATIC_ASSERT(sizeof(QMV_HOST_SERVICES) == 32, "32-bit Windows service block size");
#endif

/* ---- Handlers ------------------------------------------------------------------ */
typedef int32_t (*QMV_REQUEST_HANDLER)(PLUGIN_REQUEST *request);
typedef int32_t (*QMV_PLAIN_HANDLER)(void);

/* The handler list, in this order. Results other than `status` carry no
 * meaning, except that read_header returns the codec's error code. */
typedef struct QMV_HANDLER_LIST {
    QMV_REQUEST_HANDLER create;      /* makes the codec record */
    QMV_PLAIN_HANDLER destroy;       /* releases it; writes no status */
    QMV_PLAIN_HANDLER idle;          /* does nothing */
    QMV_REQUEST_HANDLER read_header; /* width, height, row_words, reserved, bits_per_pixel */
    QMV_REQUEST_HANDLER output_size; /* pixel_buffer_size */
    QMV_REQUEST_HANDLER decode;      /* 24-bit RGB into the pixel buffer */
} QMV_HANDLER_LIST;
QMV_STATIC_ASSERT(sizeof(QMV_HANDLER_LIST) == QMV_HANDLER_COUNT * sizeof(void *), "handler list size");

/* ---- Exported entry points ------------------------------------------------------ */
typedef int32_t (*QMV_GET_TYPE_FN)(void);
typedef int32_t (*QMV_GET_FUNCTIONLIST_FN)(uint32_t *tag, const QMV_HANDLER_LIST **list);
typedef void (*QMV_MAGICINFO_FN)(const QMV_HOST_SERVICES *services);

/* Row length and buffer size of the decode output for a width and height. */
#define QMV_ROW_BYTES(width) ((((uint32_t)(width) + 15u) >> 4) * 48u)
#define QMV_PIXEL_BUFFER_SIZE(width, height) ((uint32_t)(height) * QMV_ROW_BYTES(width))

#ifdef __cplusplus
}
#endif

#endif /* QMV_HOST_H */
