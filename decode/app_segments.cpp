#include "decode/app_segments.h"

#include <cstring>

#include "codec/memory.h"
#include "decode/input_source.h"
#include "dispatch/platform.h"

namespace qrl {
namespace {

constexpr uint8_t kJfifId[5] = {0x4A, 0x46, 0x49, 0x46, 0x00};
constexpr uint8_t kJfxxId[5] = {0x4A, 0x46, 0x58, 0x58, 0x00};
constexpr uint8_t kAdobeId[5] = {0x41, 0x64, 0x6F, 0x62, 0x65};
constexpr uint32_t kJfifThumbnailHeader = 14;
constexpr uint32_t kJfxxRgbHeader = 8;
constexpr uint32_t kJfxxPaletteHeader = 8 + 768;
constexpr uint8_t kJfxxPalette = 0x11;
constexpr uint8_t kJfxxRgb = 0x13;

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

struct SegmentBytes {
    uint8_t *block = nullptr;
    int32_t allocated = 0;
    uint8_t *data = nullptr;
    uint32_t size = 0;
};

bool is_thumbnail_mode(const JPEG_PROPERTIES *props) {
    return props->io_mode == 20 || props->io_mode == 21;
}

// The thumbnail is written only into a caller image that can hold it.
bool thumbnail_fits(const JPEG_PROPERTIES *props, uint32_t w, uint32_t h) {
    if (props->image_pixels == nullptr || props->image_width <= 0) return false;
    const int64_t rows = props->image_height < 0 ? -static_cast<int64_t>(props->image_height)
                                                 : props->image_height;
    const int64_t row_bytes = static_cast<int64_t>(props->image_width) * props->image_channels;
    return w <= static_cast<uint32_t>(props->image_width) && h <= rows &&
           3 * static_cast<int64_t>(w) <= row_bytes;
}

uint8_t *thumbnail_row(const JPEG_PROPERTIES *props, uint32_t r) {
    return props->image_pixels + static_cast<intptr_t>(r) * props->line_bytes;
}

void write_rgb_thumbnail(JPEG_PROPERTIES *props, const uint8_t *pixels, uint32_t w, uint32_t h) {
    const bool rgb = props->image_color == COLOR_RGB;
    for (uint32_t r = 0; r < h; ++r) {
        uint8_t *out = thumbnail_row(props, r);
        const uint8_t *in = pixels + 3 * w * r;
        if (rgb) {
            copy_memory(out, in, 3 * w);
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
}

void write_palette_thumbnail(JPEG_PROPERTIES *props, const uint8_t *segment, uint32_t w,
                             uint32_t h) {
    auto *palette = allocate<uint8_t>(768);
    if (palette == nullptr) return;
    copy_memory(palette, segment + 8, 768);
    const bool rgb = props->image_color == COLOR_RGB;
    const uint8_t *index = segment + kJfxxPaletteHeader;
    for (uint32_t r = 0; r < h; ++r) {
        uint8_t *out = thumbnail_row(props, r);
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t *entry = palette + 3 * index[r * w + x];
            out[3 * x] = rgb ? entry[0] : entry[2];
            out[3 * x + 1] = entry[1];
            out[3 * x + 2] = rgb ? entry[2] : entry[0];
        }
    }
    release(palette);
}

// jpeg_comment_size is both the caller's capacity (in) and the length of the
// last comment (out). The value the library wrote back for the same buffer is
// not a new capacity: after a comment too long for the buffer it is the
// length needed, and after one that fit it would make a longer second comment
// look too long. Any other value (or another buffer) is the caller's capacity.
uint32_t comment_capacity(JPEG_PROPERTIES *props) {
    if (props->jpeg_comment != props->jpeg_comment_seen ||
        static_cast<int32_t>(props->jpeg_comment_size) != props->jpeg_comment_reported) {
        props->jpeg_comment_seen = props->jpeg_comment;
        props->jpeg_comment_capacity = props->jpeg_comment_size;
        props->jpeg_comment_reported = -1;
    }
    return static_cast<uint32_t>(props->jpeg_comment_capacity);
}

struct CommentJob {
    JPEG_PROPERTIES *props;
    SegmentBytes segment;
};

int32_t copy_comment(void *context) {
    auto *job = static_cast<CommentJob *>(context);
    JPEG_PROPERTIES *props = job->props;
    SegmentBytes &seg = job->segment;
    uint32_t length = 0;
    int32_t result = read_u16(&props->input, &length);
    if (result != JPEG_OK) return result;
    if (length < 2) return JPEG_DATA_ERROR;
    seg.size = length - 2;
    if (read_segment(&props->input, seg.size, &seg.block, &seg.data, &seg.allocated) != JPEG_OK)
        return JPEG_DATA_ERROR;
    if (props->expect_frame == 0 || props->jpeg_comment == nullptr) return JPEG_OK;
    const uint32_t capacity = comment_capacity(props);
    const bool fits = seg.size <= capacity;
    copy_memory(props->jpeg_comment, seg.data, fits ? seg.size : capacity);
    props->jpeg_comment_size = static_cast<uint16_t>(seg.size);
    props->jpeg_comment_reported = static_cast<int32_t>(seg.size);
    return fits ? JPEG_OK : JPEG_COMMENT_ACCESS_ERROR;
}

} // namespace

int32_t read_app0(JPEG_PROPERTIES *props) {
    uint32_t length = 0;
    if (read_u16(&props->input, &length) != JPEG_OK) return JPEG_OK;
    if (length < 2 || length - 2 < kJfifThumbnailHeader) return JPEG_OK;
    SegmentBytes seg;
    seg.size = length - 2;
    if (read_segment(&props->input, seg.size, &seg.block, &seg.data, &seg.allocated) != JPEG_OK)
        return JPEG_DATA_ERROR;
    const uint8_t *p = seg.data;
    if (props->expect_frame == 0) {
        release_segment(&seg.block, &seg.allocated);
        return JPEG_OK;
    }
    uint32_t header = 0; // bytes before the thumbnail pixels of a 3-byte thumbnail
    uint32_t w = 0;
    uint32_t h = 0;
    if (std::memcmp(p, kJfifId, 5) == 0) {
        props->jfif_found = 1;
        props->jfif_version = be16(p + 5);
        props->jfif_units = p[7];
        props->jfif_x_density = be16(p + 8);
        props->jfif_y_density = be16(p + 10);
        header = kJfifThumbnailHeader;
        w = p[12];
        h = p[13];
    } else if (std::memcmp(p, kJfxxId, 5) == 0 && p[5] == kJfxxRgb) {
        header = kJfxxRgbHeader;
        w = p[6];
        h = p[7];
    } else if (std::memcmp(p, kJfxxId, 5) == 0 && p[5] == kJfxxPalette) {
        w = p[6];
        h = p[7];
        if (is_thumbnail_mode(props) && static_cast<uint64_t>(w) * h + kJfxxPaletteHeader <= seg.size) {
            props->thumbnail_width = static_cast<int32_t>(w);
            props->thumbnail_height = static_cast<int32_t>(h);
            if (thumbnail_fits(props, w, h)) write_palette_thumbnail(props, p, w, h);
        }
    }
    if (header != 0 && w != 0 && h != 0) {
        props->thumbnail_width = static_cast<int32_t>(w);
        props->thumbnail_height = static_cast<int32_t>(h);
        if (is_thumbnail_mode(props) && header + 3 * w * h <= seg.size && thumbnail_fits(props, w, h))
            write_rgb_thumbnail(props, p + header, w, h);
    }
    release_segment(&seg.block, &seg.allocated);
    return JPEG_OK;
}

int32_t read_app14(JPEG_PROPERTIES *props) {
    uint32_t length = 0;
    int32_t result = read_u16(&props->input, &length);
    if (result != JPEG_OK) return result;
    if (length < 2) return JPEG_DATA_ERROR;
    if (length - 2 < 12) return JPEG_OK;
    SegmentBytes seg;
    seg.size = length - 2;
    result = read_segment(&props->input, seg.size, &seg.block, &seg.data, &seg.allocated);
    if (result != JPEG_OK) return result;
    const uint8_t *p = seg.data;
    if (std::memcmp(p, kAdobeId, 5) == 0) {
        props->adobe_version = be16(p + 5);
        props->adobe_flags0 = be16(p + 7);
        props->adobe_flags1 = be16(p + 9);
        props->adobe_transform = p[11];
        props->adobe_found = 1;
    }
    release_segment(&seg.block, &seg.allocated);
    return JPEG_OK;
}

int32_t read_comment(JPEG_PROPERTIES *props) {
    CommentJob job{props, {}};
    const int32_t result = run_guarded(copy_comment, &job, JPEG_COMMENT_ACCESS_ERROR);
    release_segment(&job.segment.block, &job.segment.allocated);
    return result;
}

} // namespace qrl
