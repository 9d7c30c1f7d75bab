// Checks of the public fields before a read or write touches a stream. The
// checks run in a fixed order and the first failure decides the result.
#include "codec/validate.h"

#include <cstddef>

namespace qrl {
namespace {

bool is_write_mode(int32_t mode) { return mode >= 8 && mode <= 13; }
bool is_file_mode(int32_t mode) { return (mode & 1) == 0; }

// Modes whose pixel buffer is checked.
bool is_image_mode(int32_t mode) {
    switch (mode) {
    case 2: case 3: case 6: case 7: case 8: case 9: case 12: case 13: return true;
    default: return mode >= 14 && mode <= 21;
    }
}

bool in_range(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

// One accepted pairing of a color code and a channel count on each side.
// A channel count of 0 accepts any count.
struct ColorPair {
    int32_t from_color;
    int32_t from_channels;
    int32_t to_color;
    int32_t to_channels;
};

constexpr int32_t kAnyChannels = 0;

// Read modes: jpeg_color / jpeg_channels -> image_color / image_channels.
constexpr ColorPair kReadPairs[] = {
    {COLOR_GRAY, 1, COLOR_GRAY, 1},
    {COLOR_GRAY, 1, COLOR_RGB, 3},
    {COLOR_GRAY, 1, COLOR_BGR, 3},
    {COLOR_GRAY, 1, COLOR_CMYK, 4},
    {COLOR_RGB, 3, COLOR_RGB, 3},
    {COLOR_RGB, 3, COLOR_BGR, 3},
    {COLOR_RGB, 3, COLOR_CMYK, 4},
    {COLOR_CMYK, 4, COLOR_CMYK, 4},
    {COLOR_YCBCR, 3, COLOR_GRAY, 1},
    {COLOR_YCBCR, 3, COLOR_RGB, 3},
    {COLOR_YCBCR, 3, COLOR_BGR, 3},
    {COLOR_YCBCR, 3, COLOR_CMYK, 4},
    {COLOR_YCBCR, 3, COLOR_YCBCR, kAnyChannels},
    {COLOR_YCCK, 4, COLOR_CMYK, 4},
    {COLOR_OTHER, kAnyChannels, COLOR_OTHER, kAnyChannels},
};

// Write modes: image_color / image_channels -> jpeg_color / jpeg_channels.
constexpr ColorPair kWritePairs[] = {
    {COLOR_GRAY, 1, COLOR_GRAY, 1},
    {COLOR_GRAY, 1, COLOR_YCBCR, 3},
    {COLOR_RGB, 3, COLOR_GRAY, 1},
    {COLOR_RGB, 3, COLOR_RGB, 3},
    {COLOR_RGB, 3, COLOR_YCBCR, 3},
    {COLOR_RGB, 4, COLOR_YCBCR, 3},
    {COLOR_BGR, 3, COLOR_GRAY, 1},
    {COLOR_BGR, 3, COLOR_RGB, 3},
    {COLOR_BGR, 3, COLOR_YCBCR, 3},
    {COLOR_CMYK, 4, COLOR_CMYK, 4},
    {COLOR_CMYK, 4, COLOR_YCCK, 4},
    {COLOR_YCBCR, 3, COLOR_YCBCR, 3},
    {COLOR_OTHER, kAnyChannels, COLOR_OTHER, kAnyChannels}, // plus image_channels >= jch
};

bool channels_match(int32_t wanted, int32_t actual) {
    return wanted == kAnyChannels || wanted == actual;
}

template <std::size_t N>
bool pair_listed(const ColorPair (&pairs)[N], int32_t from_color, int32_t from_channels,
                 int32_t to_color, int32_t to_channels) {
    for (const ColorPair &p : pairs) {
        if (p.from_color == from_color && channels_match(p.from_channels, from_channels) &&
            p.to_color == to_color && channels_match(p.to_channels, to_channels)) {
            return true;
        }
    }
    return false;
}

bool colors_compatible(const JPEG_CODEC_RECORD *r, bool write) {
    if (!write) {
        return pair_listed(kReadPairs, r->jpeg_color, r->jpeg_channels, r->image_color,
                           r->image_channels);
    }
    if (r->image_color == COLOR_OTHER) {
        // Pass-through encoding needs at least as many pixel channels as
        // JPEG components.
        return r->jpeg_color == COLOR_OTHER && r->image_channels >= r->jpeg_channels;
    }
    return pair_listed(kWritePairs, r->image_color, r->image_channels, r->jpeg_color,
                       r->jpeg_channels);
}

bool subsampling_allowed(int32_t channels, int32_t subsampling) {
    switch (channels) {
    case 3: return in_range(subsampling, SUBSAMPLING_NONE, SUBSAMPLING_2X1);
    case 4:
        return subsampling == SUBSAMPLING_NONE || subsampling == SUBSAMPLING_2X2_4 ||
               subsampling == SUBSAMPLING_2X1_4;
    default: return subsampling == SUBSAMPLING_NONE;
    }
}

} // namespace

int32_t validate_record(const JPEG_CODEC_RECORD *record) {
    const JPEG_CODEC_RECORD *r = record;
    const JPEG_PROPERTIES *p = &record->props;
    if (r->use_internal_properties != 0) {
        return JPEG_OK;
    }
    const int32_t mode = p->io_mode;
    if (!in_range(mode, 0, 21)) {
        return JPEG_INVALID_PROPERTIES;
    }
    if (is_image_mode(mode) && p->coefficient_planes == nullptr) {
        if (r->image_pixels == nullptr || !in_range(r->image_width, 1, 65535) ||
            !in_range(r->image_height, -65535, 65535)) {
            return JPEG_INVALID_PROPERTIES;
        }
        if ((mode == 20 || mode == 21) && r->image_color != COLOR_RGB &&
            r->image_color != COLOR_BGR) {
            return JPEG_THUMBNAIL_BAD_COLOR;
        }
        if (r->image_pad_bytes < 0 || !in_range(r->image_channels, 1, 255)) {
            return JPEG_INVALID_PROPERTIES;
        }
        if (r->image_subsampling != SUBSAMPLING_NONE &&
            !(r->image_subsampling == SUBSAMPLING_2X1 && r->image_color == COLOR_YCBCR)) {
            return JPEG_UNSUPPORTED_SUBSAMPLING;
        }
    }
    if (is_file_mode(mode) ? r->jpeg_file_name == nullptr
                           : (r->jpeg_buffer == nullptr || r->jpeg_buffer_size == 0)) {
        return JPEG_INVALID_PROPERTIES;
    }
    if (!in_range(r->jpeg_channels, 1, 256)) {
        return JPEG_INVALID_PROPERTIES;
    }
    const bool write = is_write_mode(mode);
    if (write) {
        if (mode == 8 || mode == 9 || mode == 12 || mode == 13) {
            if (!in_range(r->jpeg_width, 1, 65535) || !in_range(r->jpeg_height, 1, 65535)) {
                return JPEG_INVALID_PROPERTIES;
            }
            if (r->image_color != COLOR_GRAY && r->jpeg_color != COLOR_YCBCR &&
                r->jpeg_channels > r->image_channels) {
                return JPEG_INVALID_PROPERTIES;
            }
        }
        if (!subsampling_allowed(r->jpeg_channels, r->jpeg_subsampling)) {
            return JPEG_UNSUPPORTED_SUBSAMPLING;
        }
    }
    if (!colors_compatible(r, write)) {
        return JPEG_INVALID_PROPERTIES;
    }
    if (p->dct_method != 0 && p->dct_method != 1) {
        return JPEG_INVALID_PROPERTIES;
    }
    if (p->smooth_upsampling == 1 && p->coefficient_planes != nullptr) {
        return JPEG_INVALID_PROPERTIES;
    }
    return JPEG_OK;
}

} // namespace qrl
