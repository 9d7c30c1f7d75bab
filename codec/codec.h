/* quorrel: public interface of the JPEG codec library.
 *
 * The caller allocates a JPEG_CODEC_RECORD, runs codec_init on it, fills the
 * public fields that describe the pixel image and the JPEG stream, and calls
 * codec_read or codec_write with an I/O mode. Every call returns one of the
 * JPEG_* result codes below; codec_error_text turns a code into a message.
 *
 * The record embeds the library's working state (JPEG_PROPERTIES). Its layout
 * is public because the caller sets a few of its fields directly (roi,
 * dct_method, interrupt_after_mcu, smooth_upsampling, coefficient_planes, the
 * raw-table slots and the comment buffer); everything else in it belongs to
 * the library.
 *
 * Plain C; usable from C and C++. */
#ifndef QUORREL_CODEC_H
#define QUORREL_CODEC_H

#include <stdint.h>

#if defined(_WIN32)
#define QUORREL_API
#else
#define QUORREL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Color codes (image_color, jpeg_color) ---------------------------- */
#define COLOR_RGB 1   /* 3 bytes: red, green, blue */
#define COLOR_BGR 2   /* 3 bytes: blue, green, red */
#define COLOR_YCBCR 3 /* luminance and two color differences (JFIF) */
#define COLOR_GRAY 4  /* 1 channel */
#define COLOR_CMYK 5  /* cyan, magenta, yellow, black */
#define COLOR_YCCK 6  /* YCbCr plus black; JPEG side only */
#define COLOR_OTHER 255 /* no color meaning; channels pass through */

/* ---- Subsampling codes (image_subsampling, jpeg_subsampling) ---------- */
#define SUBSAMPLING_NONE 0   /* every component 1x1 */
#define SUBSAMPLING_2X2 1    /* 3 components: 2x2, 1x1, 1x1 */
#define SUBSAMPLING_2X1 2    /* 3 components: 2x1, 1x1, 1x1 (packed Y Cb Y Cr on the pixel side) */
#define SUBSAMPLING_2X2_4 3  /* 4 components: 2x2, 1x1, 1x1, 2x2 */
#define SUBSAMPLING_2X1_4 4  /* 4 components: 2x1, 1x1, 1x1, 2x1 */
#define SUBSAMPLING_OTHER 255 /* any other layout (reported by a read only) */

/* ---- I/O modes: even = file (jpeg_file_name), odd = memory (jpeg_buffer) */
#define JPEG_IO_READ_HEADER_FILE 0
#define JPEG_IO_READ_HEADER_MEM 1
#define JPEG_IO_DECODE_FILE 2
#define JPEG_IO_DECODE_MEM 3
#define JPEG_IO_READ_TABLES_FILE 4
#define JPEG_IO_READ_TABLES_MEM 5
#define JPEG_IO_DECODE_IMAGE_ONLY_FILE 6
#define JPEG_IO_DECODE_IMAGE_ONLY_MEM 7
#define JPEG_IO_ENCODE_FILE 8
#define JPEG_IO_ENCODE_MEM 9
#define JPEG_IO_WRITE_TABLES_FILE 10
#define JPEG_IO_WRITE_TABLES_MEM 11
#define JPEG_IO_ENCODE_IMAGE_ONLY_FILE 12
#define JPEG_IO_ENCODE_IMAGE_ONLY_MEM 13
#define JPEG_IO_DECODE_HALF_FILE 14
#define JPEG_IO_DECODE_HALF_MEM 15
#define JPEG_IO_DECODE_QUARTER_FILE 16
#define JPEG_IO_DECODE_QUARTER_MEM 17
#define JPEG_IO_DECODE_EIGHTH_FILE 18
#define JPEG_IO_DECODE_EIGHTH_MEM 19
#define JPEG_IO_THUMBNAIL_FILE 20
#define JPEG_IO_THUMBNAIL_MEM 21

/* ---- Result codes ------------------------------------------------------ */
#define JPEG_ROI_OK 2
#define JPEG_INTERRUPT_OK 1
#define JPEG_OK 0
#define JPEG_EXCEPTION_DETECTED (-1)
#define JPEG_INVALID_ENCODER (-2)
#define JPEG_UNSUPPORTED_SUBSAMPLING (-3)
#define JPEG_UNSUPPORTED_BYTES_PER_PIXEL (-4)
#define JPEG_MEMORY_ERROR (-5)
#define JPEG_BAD_HUFFMAN_TABLE (-6)
#define JPEG_BAD_QUANT_TABLE (-7)
#define JPEG_INVALID_PROPERTIES (-8)
#define JPEG_ERR_CLOSE_FILE (-9)
#define JPEG_INVALID_FILE_NAME (-10)
#define JPEG_ERR_EOF (-11)
#define JPEG_NOT_SUPPORTED (-12)
#define JPEG_NOT_JPEG (-13)
#define JPEG_ERR_COMP (-14)
#define JPEG_ERR_SOF (-15)
#define JPEG_ERR_DNL (-16)
#define JPEG_NO_HUFFMAN_TABLE (-17)
#define JPEG_NO_QUANT_TABLE (-18)
#define JPEG_NO_FRAME (-19)
#define JPEG_MULTIPLE_FRAMES (-20)
#define JPEG_DATA_ERROR (-21)
#define JPEG_NO_IMAGE (-22)
#define JPEG_FILE_ERROR (-23)
#define JPEG_INTERNAL_ERROR (-24)
#define JPEG_BAD_RST_MARKER (-25)
#define JPEG_THUMBNAIL_TOO_SMALL (-26)
#define JPEG_THUMBNAIL_BAD_COLOR (-27)
#define JPEG_BUFFER_TOO_SMALL (-28)
#define JPEG_UNSUPPORTED_FRAME (-29)
#define JPEG_COMMENT_ACCESS_ERROR (-30)
#define JPEG_RESERVED (-99)

/* ---- Sizes of the fixed tables inside the record ----------------------- */
#define QRL_FILE_BUFFER_SIZE 4096   /* file sources are read through this buffer */
#define QRL_MAX_COMPONENTS 4        /* room in the component array and scan selectors */
#define QRL_MAX_SAMPLING 4          /* largest sampling factor decoded (T.81 allows 1..4) */
/* Largest MCU: four components of at most 4x4 blocks each. */
#define QRL_MCU_MAX_BLOCKS (QRL_MAX_COMPONENTS * QRL_MAX_SAMPLING * QRL_MAX_SAMPLING)
#define QRL_ROW_INDEX_ENTRIES 8192  /* MCU rows recorded by region decoding */
#define QRL_QUANT_STORAGE 80        /* 64 entries in natural order + 16 zero guard entries */

/* ---- Records ------------------------------------------------------------ */

struct KERNEL_TABLE; /* per-instance table of kernel entry points (library-private) */

/* Derived Huffman decode table: 8-bit look-ahead plus canonical search data. */
typedef struct HUFFMAN_DECODE_TABLE {
    int32_t table_class;     /* 0 DC, 1 AC */
    int32_t table_id;        /* 0..3 */
    uint32_t lookahead[256]; /* (code length << 16) | symbol, 0 = longer code or none */
    uint16_t values[257];    /* symbols in DHT order */
    uint16_t min_code[17];   /* by code length 1..16 */
    int16_t max_code[18];    /* by code length 1..17; -1 = no code of this length */
    uint16_t value_index[17];/* by code length 1..16 */
} HUFFMAN_DECODE_TABLE;

/* Huffman encode table, indexed by symbol. */
typedef struct HUFFMAN_ENCODE_TABLE {
    int32_t code_length[256]; /* 0 = symbol has no code */
    uint16_t code[256];       /* right-aligned code */
} HUFFMAN_ENCODE_TABLE;

/* Quantization table slot. `coefficients` points at the first 8-byte-aligned
 * address of `storage`; the decoder keeps its derived table there, the
 * encoder the quality-scaled and then the forward table. */
typedef struct QUANT_TABLE {
    int32_t precision; /* Pq: 0 = 8-bit entries, 1 = 16-bit entries */
    int32_t table_id;
    int32_t accurate_fallback; /* decoder: the derived table holds the accurate form although
                                  dct_method asked for the fast one (see transform/transform.h) */
    int16_t *coefficients;
    int16_t storage[QRL_QUANT_STORAGE + 4];
} QUANT_TABLE;

/* Caller-supplied raw quantization table: 64 (8-bit) or 128 (16-bit) bytes
 * in zig-zag order. The record does not own `table`. */
typedef struct RAW_QUANT_TABLE {
    uint8_t *table;
    uint8_t table_id;
} RAW_QUANT_TABLE;

/* Caller-supplied raw Huffman table, slot 2 x id + class. */
typedef struct RAW_HUFFMAN_TABLE {
    uint8_t *bits;   /* 16 code-length counts */
    uint8_t *values; /* the symbols */
    uint8_t table_class; /* 0 DC, 1 AC */
    uint8_t table_id;
} RAW_HUFFMAN_TABLE;

/* One frame component. */
typedef struct COMPONENT_INFO {
    int32_t id;          /* Ci */
    int32_t h_sampling;  /* H */
    int32_t v_sampling;  /* V */
    int32_t quant_table; /* Tq */
} COMPONENT_INFO;

/* One component of a scan. */
typedef struct SCAN_COMPONENT {
    int32_t component_index; /* index into frame_components */
    int32_t h_sampling;
    int32_t v_sampling;
    HUFFMAN_DECODE_TABLE *dc_table;
    HUFFMAN_DECODE_TABLE *ac_table;
    QUANT_TABLE *quant_table;
} SCAN_COMPONENT;

/* One scan; allocated at SOS and kept while a scan is pending. */
typedef struct SCAN_INFO {
    int32_t scan_component_count; /* Ns */
    int32_t spectral_start;       /* Ss */
    int32_t spectral_end;         /* Se */
    int32_t approx_high;          /* Ah */
    int32_t approx_low;           /* Al */
    int32_t restart_interval;     /* frame's interval when the scan starts (encoder: restart counter) */
    int32_t next_mcu_column;      /* resume position of an interrupted scan */
    int32_t next_mcu_row;
    int32_t dc_predictors[QRL_MAX_COMPONENTS]; /* 16-bit values */
    SCAN_COMPONENT *scan_components; /* owned by the SCAN_INFO */
} SCAN_INFO;

/* Reader state saved at the start of an MCU row by region decoding. */
typedef struct ROW_INDEX_ENTRY {
    intptr_t position; /* file offset (file source) or read address (memory source); -1 = not recorded */
    int32_t dc_predictors[QRL_MAX_COMPONENTS];
    uint32_t bit_buffer_low;
    uint32_t bit_buffer_high;
    int32_t bit_count;
    int32_t pending_marker;
} ROW_INDEX_ENTRY;

/* Neighbour ring of smooth upsampling: four rows of MCU slots. */
typedef struct NEIGHBOUR_RING {
    int16_t *rows[4];
    int32_t last_row; /* MCU row last stored */
} NEIGHBOUR_RING;

/* Caller record through which coefficients or transformed blocks are
 * delivered instead of pixels. planes_mode 0: quantized coefficients;
 * any other value: inverse-transformed blocks. */
typedef struct COEFFICIENT_PLANES {
    int32_t planes_mode;
    int16_t *plane[QRL_MAX_COMPONENTS];
} COEFFICIENT_PLANES;

/* The stream reader (and, when encoding, the output stream). */
typedef struct INPUT_SOURCE {
    uint64_t bit_buffer;       /* entropy-coder bit accumulator */
    struct KERNEL_TABLE *kernel_table;
    int32_t bit_count;
    uint8_t *cur;              /* next byte to read (or write) */
    uint8_t *start;            /* start of the readable (writable) area */
    uint8_t *end;              /* one past the last readable (writable) byte */
    int32_t position;          /* stream bytes consumed (written) so far */
    int32_t size;              /* jpeg_buffer_size, or the file buffer size */
    int32_t avail;             /* bytes readable at cur */
    int32_t eob_run;           /* progressive end-of-band run */
    uint8_t *pixel_cursor;     /* work word of the pixel stages */
    uint8_t pending_marker;    /* marker met inside entropy-coded data; 0 = none */
    int32_t scan_channel_offset; /* output channel of the current scan's first component */
    void *file;                /* open JPEG file, or null for a memory source */
    uint8_t file_buffer[QRL_FILE_BUFFER_SIZE];
} INPUT_SOURCE;

/* The library's working state, embedded in the codec record. */
typedef struct JPEG_PROPERTIES {
    /* Operation state; roi, dct_method and interrupt_after_mcu are set by the caller. */
    int32_t io_mode;             /* -1 after codec_init */
    int32_t roi[4];              /* left, top, right, bottom; all 0 = whole image. In output pixels
                                    (of the reduced image in the 1/2, 1/4, 1/8 modes); right and bottom
                                    are exclusive, and 0 (or past the image) means the image's right or
                                    bottom edge, so left or top alone selects the rest of the image;
                                    negative left or top counts as 0. A region decode returns
                                    JPEG_ROI_OK and leaves its scan pending: a second region decode on
                                    the same record and stream (without a header read in between)
                                    starts from the row index. The index has one entry per MCU row of
                                    the tallest frame (QRL_ROW_INDEX_ENTRIES); rows past it would be
                                    passed over without being recorded. */
    int32_t dct_method;          /* 1 accurate (default), 0 fast */
    int32_t interrupt_after_mcu; /* nonzero: return JPEG_INTERRUPT_OK after the next MCU */
    int32_t pending_roi[4];      /* region of the decode that left current_scan pending; a call that
                                    resumes it decodes this region again (roi then holds an output) */

    /* Private copy of the public fields, with line_bytes after image_subsampling. */
    uint8_t *image_pixels;
    int32_t image_width;
    int32_t image_height;
    int32_t image_pad_bytes;
    int32_t image_channels;
    int32_t image_color;
    int32_t image_subsampling;
    int32_t line_bytes;          /* signed distance in bytes between two rows */
    const char *jpeg_file_name;
    uint8_t *jpeg_buffer;
    int32_t jpeg_buffer_size;
    int32_t jpeg_width;
    int32_t jpeg_height;
    int32_t jpeg_channels;
    int32_t jpeg_color;
    int32_t jpeg_subsampling;
    int32_t thumbnail_width;
    int32_t thumbnail_height;
    int32_t needs_color_conversion;
    int32_t needs_upsampling;
    int32_t jpeg_quality;

    /* Derived geometry. */
    int32_t partial_scan;  /* current scan carries fewer components than the frame */
    int32_t mcus_per_row;
    int32_t mcu_rows;

    /* Table stores. */
    int32_t quant_tables_defined;
    int32_t quant_table_count;
    int32_t ac_table_count;
    int32_t dc_table_count;
    int32_t huffman_table_bound;
    QUANT_TABLE quant_tables[4];
    HUFFMAN_DECODE_TABLE ac_huffman_tables[4];
    HUFFMAN_DECODE_TABLE dc_huffman_tables[4];
    int32_t custom_quant_tables;   /* caller filled raw_quant_tables */
    int32_t custom_huffman_tables; /* caller filled raw_huffman_tables */
    RAW_QUANT_TABLE raw_quant_tables[4];
    RAW_HUFFMAN_TABLE raw_huffman_tables[8];
    uint8_t ac_table_of_scan_component[QRL_MAX_COMPONENTS];
    uint8_t dc_table_of_scan_component[QRL_MAX_COMPONENTS];

    /* Encoder tables and state. */
    int16_t *forward_quant_tables[4];
    HUFFMAN_ENCODE_TABLE dc_encode_tables[4];
    HUFFMAN_ENCODE_TABLE ac_encode_tables[4];
    int32_t encoder_state[12];

    /* Frame descriptor. */
    int32_t expect_frame;        /* 1 while a frame header may still be read */
    int32_t frame_precision;
    int32_t frame_height;
    int32_t frame_width;
    int32_t frame_component_count;
    COMPONENT_INFO *frame_components; /* four entries, owned by the record */
    int32_t max_h_sampling;
    int32_t max_v_sampling;
    int32_t restart_interval;    /* MCUs per restart interval; 0 = none */
    SCAN_INFO *current_scan;     /* scan being decoded or pending */
    int32_t scans_done;          /* scans routed through the coefficient buffer */
    int32_t dc_complete_count;
    int32_t components_complete_count;

    /* Input source and kernel table. */
    INPUT_SOURCE input;
    struct KERNEL_TABLE *kernel_table;

    /* Application segments. */
    int32_t adobe_found;
    uint16_t adobe_version;
    uint16_t adobe_flags0;
    uint16_t adobe_flags1;
    int32_t adobe_transform;
    int32_t jfif_found;
    uint16_t jfif_version;
    uint8_t jfif_units;
    uint16_t jfif_x_density;
    uint16_t jfif_y_density;
    uint8_t *jpeg_comment;       /* caller's comment buffer, not owned */
    uint16_t jpeg_comment_size;  /* in: capacity; out: length of the last comment */

    /* Work areas. */
    int16_t *mcu_buffer;         /* 32-byte aligned, inside mcu_work_area */
    int16_t *coefficient_buffer; /* whole-image coefficients of multi-scan decoding */
    int32_t coefficient_buffer_blocks; /* blocks the coefficient buffer holds */
    ROW_INDEX_ENTRY *row_index;  /* region decoding, QRL_ROW_INDEX_ENTRIES entries */
    COEFFICIENT_PLANES *coefficient_planes; /* caller's, not owned */
    int32_t smooth_upsampling;   /* 0 replicate chroma, 1 interpolate */
    NEIGHBOUR_RING *neighbour_ring;
    int32_t neighbour_ring_blocks; /* blocks per ring row the ring was sized for */
    uint8_t mcu_work_area[QRL_MCU_MAX_BLOCKS * 64 * 2 + 32];

    /* Resource limits of a decode, set by codec_init; the caller may change
     * them between calls (0 or less: the default). Exceeding one gives
     * JPEG_MEMORY_ERROR in every mode. */
    int64_t max_coefficient_bytes; /* whole-image coefficient buffer and smoothing ring; default 1 GiB */
    int32_t max_scans;             /* scans one call decodes; default 500 */

    /* Comment buffer bookkeeping, set by codec_init: the capacity taken from
     * jpeg_comment_size for the buffer jpeg_comment_seen, and the length last
     * written back (-1: none). A length the library wrote back is never taken
     * as the capacity of the same buffer. */
    uint8_t *jpeg_comment_seen;
    int32_t jpeg_comment_capacity;
    int32_t jpeg_comment_reported;
} JPEG_PROPERTIES;

/* The codec record: public fields first, then the library's state. */
typedef struct JPEG_CODEC_RECORD {
    int32_t use_internal_properties; /* nonzero: skip validation and the copy into props */
    uint8_t *image_pixels;           /* caller's pixel buffer */
    int32_t image_width;             /* 1..65535 */
    int32_t image_height;            /* -65535..65535; negative = bottom row first */
    int32_t image_pad_bytes;         /* bytes after the last pixel of each row */
    int32_t image_channels;          /* bytes per pixel */
    int32_t image_color;             /* COLOR_* of the pixel buffer */
    int32_t image_subsampling;       /* 0, or 2 with COLOR_YCBCR: packed Y Cb Y Cr */
    const char *jpeg_file_name;      /* file I/O modes */
    uint8_t *jpeg_buffer;            /* memory I/O modes */
    int32_t jpeg_buffer_size;
    int32_t jpeg_width;              /* out (read) / in (write) */
    int32_t jpeg_height;
    int32_t jpeg_channels;
    int32_t jpeg_color;
    int32_t jpeg_subsampling;
    int32_t thumbnail_width;         /* out: JFIF thumbnail size, 0 when none */
    int32_t thumbnail_height;
    int32_t needs_color_conversion;
    int32_t needs_upsampling;
    int32_t jpeg_quality;            /* write: quality scaling the quantization tables */
    JPEG_PROPERTIES props;
} JPEG_CODEC_RECORD;

/* Library version record. */
typedef struct VERSION_INFO {
    int32_t major;
    int32_t minor;
    int32_t build;
    const char *name;
    const char *version;
    const char *internal_version;
    const char *build_date;
    const char *build_tool;
} VERSION_INFO;

/* ---- Library interface -------------------------------------------------- */
QUORREL_API int32_t codec_init(JPEG_CODEC_RECORD *record);
QUORREL_API int32_t codec_free(JPEG_CODEC_RECORD *record);
QUORREL_API int32_t codec_read(JPEG_CODEC_RECORD *record, int32_t io_mode);
QUORREL_API int32_t codec_write(JPEG_CODEC_RECORD *record, int32_t io_mode);
QUORREL_API const char *codec_error_text(int32_t code);
QUORREL_API const VERSION_INFO *codec_version(void);

#ifdef __cplusplus
}
#endif

#endif /* QUORREL_CODEC_H */
