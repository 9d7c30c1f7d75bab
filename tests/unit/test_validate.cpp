// validate_record: each check, its order, first failure wins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/codec.h"
#include "codec/validate.h"

namespace {

uint8_t g_bytes[64];
COEFFICIENT_PLANES g_planes = {};

// A record that passes every check in the mode it is given.
void make_valid(JPEG_CODEC_RECORD *r, int32_t mode) {
    std::memset(r, 0, sizeof(*r));
    ASSERT_EQ(codec_init(r), JPEG_OK);
    r->props.io_mode = mode;
    r->image_pixels = g_bytes;
    r->image_width = 16;
    r->image_height = 16;
    r->jpeg_file_name = "unused.jpg";
    r->jpeg_buffer = g_bytes;
    r->jpeg_buffer_size = sizeof(g_bytes);
    r->jpeg_width = 16;
    r->jpeg_height = 16;
}

struct ValidateCase {
    const char *name;
    int32_t mode;
    void (*change)(JPEG_CODEC_RECORD *r);
    int32_t expected;
};

#define CHANGE(body) [](JPEG_CODEC_RECORD * r) { body; }

const ValidateCase kCases[] = {
    // Defaults.
    {"fresh record, header from file", 0, CHANGE((void)r), JPEG_OK},
    {"fresh record, decode to memory", 3, CHANGE((void)r), JPEG_OK},
    {"fresh record, encode to memory", 9, CHANGE((void)r), JPEG_OK},
    // 1: internal properties skip everything.
    {"internal properties skip a bad mode", -1, CHANGE(r->use_internal_properties = 1), JPEG_OK},
    {"internal properties skip bad fields", 3,
     CHANGE(r->use_internal_properties = 7; r->image_pixels = nullptr; r->props.dct_method = 9),
     JPEG_OK},
    // 2: mode.
    {"mode -1", -1, CHANGE((void)r), JPEG_INVALID_PROPERTIES},
    {"mode 22", 22, CHANGE((void)r), JPEG_INVALID_PROPERTIES},
    {"mode 21 valid", 21, CHANGE(r->image_color = COLOR_RGB), JPEG_OK},
    // 3: pixel buffer of image modes.
    {"no pixels", 3, CHANGE(r->image_pixels = nullptr), JPEG_INVALID_PROPERTIES},
    {"no pixels, header mode", 1, CHANGE(r->image_pixels = nullptr), JPEG_OK},
    {"no pixels, tables mode", 5, CHANGE(r->image_pixels = nullptr), JPEG_OK},
    {"no pixels, coefficient planes", 3,
     CHANGE(r->image_pixels = nullptr; r->image_width = 0; r->props.coefficient_planes = &g_planes),
     JPEG_OK},
    {"width 0", 3, CHANGE(r->image_width = 0), JPEG_INVALID_PROPERTIES},
    {"width 65536", 2, CHANGE(r->image_width = 65536), JPEG_INVALID_PROPERTIES},
    {"width 65535", 2, CHANGE(r->image_width = 65535), JPEG_OK},
    {"height 0", 3, CHANGE(r->image_height = 0), JPEG_OK},
    {"height -65535", 3, CHANGE(r->image_height = -65535), JPEG_OK},
    {"height -65536", 3, CHANGE(r->image_height = -65536), JPEG_INVALID_PROPERTIES},
    {"height 65536", 3, CHANGE(r->image_height = 65536), JPEG_INVALID_PROPERTIES},
    {"thumbnail gray", 21, CHANGE(r->image_color = COLOR_GRAY), JPEG_THUMBNAIL_BAD_COLOR},
    {"thumbnail gray before pad and channels", 20,
     CHANGE(r->image_color = COLOR_GRAY; r->image_pad_bytes = -1; r->image_channels = 0),
     JPEG_THUMBNAIL_BAD_COLOR},
    {"thumbnail width before color", 21,
     CHANGE(r->image_color = COLOR_GRAY; r->image_width = 0), JPEG_INVALID_PROPERTIES},
    {"thumbnail BGR", 20, CHANGE((void)r), JPEG_OK},
    {"pad -1", 3, CHANGE(r->image_pad_bytes = -1), JPEG_INVALID_PROPERTIES},
    {"pad before subsampling", 3, CHANGE(r->image_pad_bytes = -1; r->image_subsampling = 1),
     JPEG_INVALID_PROPERTIES},
    {"channels 0", 3, CHANGE(r->image_channels = 0), JPEG_INVALID_PROPERTIES},
    {"channels 256", 3, CHANGE(r->image_channels = 256), JPEG_INVALID_PROPERTIES},
    {"pixel subsampling 1", 3, CHANGE(r->image_subsampling = 1), JPEG_UNSUPPORTED_SUBSAMPLING},
    {"pixel subsampling 2 with BGR", 3, CHANGE(r->image_subsampling = 2),
     JPEG_UNSUPPORTED_SUBSAMPLING},
    {"pixel subsampling 2 with YCbCr", 3,
     CHANGE(r->image_subsampling = 2; r->image_color = COLOR_YCBCR; r->image_channels = 2),
     JPEG_OK},
    {"pixel subsampling before stream", 3,
     CHANGE(r->image_subsampling = 1; r->jpeg_buffer = nullptr), JPEG_UNSUPPORTED_SUBSAMPLING},
    // 4: stream.
    {"file mode without name", 0, CHANGE(r->jpeg_file_name = nullptr), JPEG_INVALID_PROPERTIES},
    {"file mode ignores buffer", 0, CHANGE(r->jpeg_buffer = nullptr; r->jpeg_buffer_size = 0),
     JPEG_OK},
    {"memory mode without buffer", 1, CHANGE(r->jpeg_buffer = nullptr), JPEG_INVALID_PROPERTIES},
    {"memory mode with size 0", 1, CHANGE(r->jpeg_buffer_size = 0), JPEG_INVALID_PROPERTIES},
    {"memory mode with size -1", 1, CHANGE(r->jpeg_buffer_size = -1), JPEG_OK},
    {"memory mode ignores name", 1, CHANGE(r->jpeg_file_name = nullptr), JPEG_OK},
    // 5: JPEG channels.
    {"jpeg channels 0", 1, CHANGE(r->jpeg_channels = 0), JPEG_INVALID_PROPERTIES},
    {"jpeg channels 257", 1,
     CHANGE(r->jpeg_channels = 257; r->jpeg_color = COLOR_OTHER; r->image_color = COLOR_OTHER),
     JPEG_INVALID_PROPERTIES},
    {"jpeg channels 256 pass-through", 1,
     CHANGE(r->jpeg_channels = 256; r->jpeg_color = COLOR_OTHER; r->image_color = COLOR_OTHER),
     JPEG_OK},
    // 6: write modes.
    {"encode width 0", 9, CHANGE(r->jpeg_width = 0), JPEG_INVALID_PROPERTIES},
    {"encode height 65536", 8, CHANGE(r->jpeg_height = 65536), JPEG_INVALID_PROPERTIES},
    {"image-only encode width 0", 13, CHANGE(r->jpeg_width = 0), JPEG_INVALID_PROPERTIES},
    {"tables-only write ignores size", 11, CHANGE(r->jpeg_width = 0; r->jpeg_height = 0), JPEG_OK},
    {"more JPEG than pixel channels", 9,
     CHANGE(r->jpeg_color = COLOR_CMYK; r->jpeg_channels = 4; r->jpeg_subsampling = 0),
     JPEG_INVALID_PROPERTIES},
    {"channel count before subsampling", 9,
     CHANGE(r->jpeg_color = COLOR_CMYK; r->jpeg_channels = 4; r->jpeg_subsampling = 9),
     JPEG_INVALID_PROPERTIES},
    {"gray pixels may feed 3 components", 9,
     CHANGE(r->image_color = COLOR_GRAY; r->image_channels = 1), JPEG_OK},
    {"RGBA pixels to YCbCr", 9, CHANGE(r->image_color = COLOR_RGB; r->image_channels = 4),
     JPEG_OK},
    {"3 components, subsampling 3", 9, CHANGE(r->jpeg_subsampling = 3),
     JPEG_UNSUPPORTED_SUBSAMPLING},
    {"3 components, subsampling 2", 9, CHANGE(r->jpeg_subsampling = 2), JPEG_OK},
    {"1 component, subsampling 1", 9,
     CHANGE(r->jpeg_color = COLOR_GRAY; r->jpeg_channels = 1), JPEG_UNSUPPORTED_SUBSAMPLING},
    {"1 component, subsampling 0", 9,
     CHANGE(r->jpeg_color = COLOR_GRAY; r->jpeg_channels = 1; r->jpeg_subsampling = 0), JPEG_OK},
    {"4 components, subsampling 4", 9,
     CHANGE(r->image_color = COLOR_CMYK; r->image_channels = 4; r->jpeg_color = COLOR_YCCK;
            r->jpeg_channels = 4; r->jpeg_subsampling = 4),
     JPEG_OK},
    {"4 components, subsampling 1", 9,
     CHANGE(r->image_color = COLOR_CMYK; r->image_channels = 4; r->jpeg_color = COLOR_CMYK;
            r->jpeg_channels = 4; r->jpeg_subsampling = 1),
     JPEG_UNSUPPORTED_SUBSAMPLING},
    {"subsampling before colors", 9,
     CHANGE(r->jpeg_color = COLOR_CMYK; r->jpeg_subsampling = 3), JPEG_UNSUPPORTED_SUBSAMPLING},
    {"read modes skip write subsampling", 1, CHANGE(r->jpeg_subsampling = 77), JPEG_OK},
    // 7: color pairs, read side.
    {"YCbCr with one channel", 3, CHANGE(r->jpeg_channels = 1), JPEG_INVALID_PROPERTIES},
    {"YCbCr to gray", 3, CHANGE(r->image_color = COLOR_GRAY; r->image_channels = 1), JPEG_OK},
    {"YCbCr to gray with 3 channels", 3, CHANGE(r->image_color = COLOR_GRAY),
     JPEG_INVALID_PROPERTIES},
    {"YCbCr to YCbCr any channels", 3,
     CHANGE(r->image_color = COLOR_YCBCR; r->image_channels = 7), JPEG_OK},
    {"gray to CMYK", 3,
     CHANGE(r->jpeg_color = COLOR_GRAY; r->jpeg_channels = 1; r->image_color = COLOR_CMYK;
            r->image_channels = 4),
     JPEG_OK},
    {"CMYK to BGR", 3, CHANGE(r->jpeg_color = COLOR_CMYK; r->jpeg_channels = 4),
     JPEG_INVALID_PROPERTIES},
    {"YCCK to CMYK", 3,
     CHANGE(r->jpeg_color = COLOR_YCCK; r->jpeg_channels = 4; r->image_color = COLOR_CMYK;
            r->image_channels = 4),
     JPEG_OK},
    {"RGB to RGB", 3, CHANGE(r->jpeg_color = COLOR_RGB; r->image_color = COLOR_RGB), JPEG_OK},
    {"RGB to gray", 3,
     CHANGE(r->jpeg_color = COLOR_RGB; r->image_color = COLOR_GRAY; r->image_channels = 1),
     JPEG_INVALID_PROPERTIES},
    {"other to BGR", 3, CHANGE(r->jpeg_color = COLOR_OTHER), JPEG_INVALID_PROPERTIES},
    {"other to other", 3,
     CHANGE(r->jpeg_color = COLOR_OTHER; r->jpeg_channels = 2; r->image_color = COLOR_OTHER;
            r->image_channels = 5),
     JPEG_OK},
    // 7: color pairs, write side.
    {"BGR to RGB", 9, CHANGE(r->jpeg_color = COLOR_RGB), JPEG_OK},
    {"BGR to CMYK", 9,
     CHANGE(r->jpeg_color = COLOR_CMYK; r->jpeg_subsampling = 0), JPEG_INVALID_PROPERTIES},
    {"YCbCr pixels to gray", 9,
     CHANGE(r->image_color = COLOR_YCBCR; r->jpeg_color = COLOR_GRAY; r->jpeg_channels = 1;
            r->jpeg_subsampling = 0),
     JPEG_INVALID_PROPERTIES},
    {"other to other, enough channels", 11,
     CHANGE(r->image_color = COLOR_OTHER; r->jpeg_color = COLOR_OTHER; r->jpeg_subsampling = 0),
     JPEG_OK},
    {"other to other, too few channels", 11,
     CHANGE(r->image_color = COLOR_OTHER; r->image_channels = 2; r->jpeg_color = COLOR_OTHER;
            r->jpeg_subsampling = 0),
     JPEG_INVALID_PROPERTIES},
    // 8, 9: method and output words.
    {"dct method 0", 3, CHANGE(r->props.dct_method = 0), JPEG_OK},
    {"dct method 2", 3, CHANGE(r->props.dct_method = 2), JPEG_INVALID_PROPERTIES},
    {"dct method -1", 9, CHANGE(r->props.dct_method = -1), JPEG_INVALID_PROPERTIES},
    {"colors before method", 3, CHANGE(r->jpeg_channels = 1; r->props.dct_method = 2),
     JPEG_INVALID_PROPERTIES},
    {"smooth upsampling alone", 3, CHANGE(r->props.smooth_upsampling = 1), JPEG_OK},
    {"smooth upsampling with planes", 3,
     CHANGE(r->props.smooth_upsampling = 1; r->props.coefficient_planes = &g_planes),
     JPEG_INVALID_PROPERTIES},
    {"smooth upsampling 2 with planes", 3,
     CHANGE(r->props.smooth_upsampling = 2; r->props.coefficient_planes = &g_planes), JPEG_OK},
};

#undef CHANGE

TEST(ValidateRecord, TableOfCases) {
    auto record = std::make_unique<JPEG_CODEC_RECORD>();
    for (const ValidateCase &c : kCases) {
        SCOPED_TRACE(c.name);
        make_valid(record.get(), c.mode);
        c.change(record.get());
        EXPECT_EQ(qrl::validate_record(record.get()), c.expected);
        EXPECT_EQ(codec_free(record.get()), JPEG_OK);
    }
}

TEST(ValidateRecord, ChangesNothing) {
    auto record = std::make_unique<JPEG_CODEC_RECORD>();
    make_valid(record.get(), 9);
    record->jpeg_subsampling = 3; // fails
    auto before = std::make_unique<JPEG_CODEC_RECORD>(*record);
    EXPECT_EQ(qrl::validate_record(record.get()), JPEG_UNSUPPORTED_SUBSAMPLING);
    EXPECT_EQ(std::memcmp(before.get(), record.get(), sizeof(JPEG_CODEC_RECORD)), 0);
    EXPECT_EQ(codec_free(record.get()), JPEG_OK);
}

TEST(ValidateRecord, EveryModeOfAFreshRecordWithStreamAndPixels) {
    auto record = std::make_unique<JPEG_CODEC_RECORD>();
    for (int32_t mode = 0; mode <= 21; ++mode) {
        SCOPED_TRACE(mode);
        make_valid(record.get(), mode);
        if (mode == 20 || mode == 21) {
            record->image_color = COLOR_RGB; // thumbnails are RGB or BGR
        }
        EXPECT_EQ(qrl::validate_record(record.get()), JPEG_OK);
        EXPECT_EQ(codec_free(record.get()), JPEG_OK);
    }
}

} // namespace
