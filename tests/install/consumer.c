/* A program that uses an installed quorrel: decodes each JPEG file named on
 * the command line to RGB, at full size and at 1/8 scale, encodes the full
 * image again in memory, and prints one line per file:
 *
 *   FILE WIDTHxHEIGHT rgb=CHECKSUM eighth=WxH reencoded=BYTES
 *
 * The checksum (FNV-1a of the RGB rows) lets two consumers built in different
 * ways be compared line by line. Exit status 0 when every file decoded. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <quorrel/codec.h>

static uint8_t *read_file(const char *path, long *size) {
    FILE *f = fopen(path, "rb");
    uint8_t *data = NULL;
    if (f == NULL) return NULL;
    if (fseek(f, 0, SEEK_END) == 0 && (*size = ftell(f)) > 0 && fseek(f, 0, SEEK_SET) == 0) {
        data = (uint8_t *)malloc((size_t)*size);
        if (data != NULL && fread(data, 1, (size_t)*size, f) != (size_t)*size) {
            free(data);
            data = NULL;
        }
    }
    fclose(f);
    return data;
}

static uint32_t fnv1a(const uint8_t *p, size_t n) {
    uint32_t h = 2166136261u;
    size_t i;
    for (i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

/* Decodes the memory stream to RGB at 1/scale (1 or 8); returns a codec result. */
static int32_t decode_rgb(JPEG_CODEC_RECORD *r, uint8_t *jpeg, long size, int scale, uint8_t **pixels, int *w,
                          int *h) {
    int32_t rc = codec_init(r);
    if (rc != JPEG_OK) return rc;
    r->jpeg_buffer = jpeg;
    r->jpeg_buffer_size = (int32_t)size;
    rc = codec_read(r, JPEG_IO_READ_HEADER_MEM);
    if (rc == JPEG_OK) {
        *w = (r->jpeg_width + scale - 1) / scale;
        *h = (r->jpeg_height + scale - 1) / scale;
        *pixels = (uint8_t *)calloc((size_t)*w * (size_t)*h, 3);
        if (*pixels == NULL) {
            rc = JPEG_MEMORY_ERROR;
        } else {
            r->image_pixels = *pixels;
            r->image_width = *w;
            r->image_height = *h;
            r->image_channels = 3;
            r->image_color = COLOR_RGB;
            rc = codec_read(r, scale == 8 ? JPEG_IO_DECODE_EIGHTH_MEM : JPEG_IO_DECODE_MEM);
        }
    }
    (void)codec_free(r);
    return rc;
}

/* Encodes RGB pixels as a quality-90 JPEG in memory; returns the byte count or a negative result. */
static int32_t encode_rgb(JPEG_CODEC_RECORD *r, uint8_t *pixels, int w, int h) {
    const int32_t capacity = w * h * 3 + 65536;
    uint8_t *out = (uint8_t *)malloc((size_t)capacity);
    int32_t rc = out != NULL ? codec_init(r) : JPEG_MEMORY_ERROR;
    if (rc == JPEG_OK) {
        r->image_pixels = pixels;
        r->image_width = w;
        r->image_height = h;
        r->image_channels = 3;
        r->image_color = COLOR_RGB;
        r->jpeg_buffer = out;
        r->jpeg_buffer_size = capacity;
        r->jpeg_width = w;
        r->jpeg_height = h;
        r->jpeg_channels = 3;
        r->jpeg_color = COLOR_YCBCR;
        r->jpeg_subsampling = SUBSAMPLING_2X2;
        r->jpeg_quality = 90;
        rc = codec_write(r, JPEG_IO_ENCODE_MEM);
        if (rc == JPEG_OK) rc = r->jpeg_buffer_size;
        (void)codec_free(r);
    }
    free(out);
    return rc;
}

int main(int argc, char **argv) {
    JPEG_CODEC_RECORD *r = (JPEG_CODEC_RECORD *)calloc(1, sizeof(JPEG_CODEC_RECORD));
    const VERSION_INFO *v = codec_version();
    int failures = 0, i;
    if (r == NULL) return 1;
    if (v != NULL) fprintf(stderr, "linked against %s %s\n", v->name ? v->name : "?", v->version ? v->version : "?");
    for (i = 1; i < argc; ++i) {
        long size = 0;
        uint8_t *jpeg = read_file(argv[i], &size);
        uint8_t *rgb = NULL, *small = NULL;
        int w = 0, h = 0, sw = 0, sh = 0;
        int32_t rc = jpeg != NULL ? decode_rgb(r, jpeg, size, 1, &rgb, &w, &h) : JPEG_FILE_ERROR;
        if (rc == JPEG_OK) rc = decode_rgb(r, jpeg, size, 8, &small, &sw, &sh);
        if (rc == JPEG_OK) rc = encode_rgb(r, rgb, w, h);
        if (rc < 0) {
            fprintf(stderr, "%s: error %d: %s\n", argv[i], (int)rc, codec_error_text(rc));
            ++failures;
        } else {
            printf("%s %dx%d rgb=%08x eighth=%dx%d reencoded=%d\n", argv[i], w, h,
                   (unsigned)fnv1a(rgb, (size_t)w * (size_t)h * 3), sw, sh, (int)rc);
        }
        free(jpeg);
        free(rgb);
        free(small);
    }
    free(r);
    return failures == 0 && argc > 1 ? 0 : 1;
}
