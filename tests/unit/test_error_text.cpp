// codec_error_text: every code of the table, the reserved code and the
// unknown ranges on both sides.
#include <gtest/gtest.h>

#include <string>

#include "codec/codec.h"

namespace {

struct ErrorTextCase {
    int32_t code;
    const char *text;
};

constexpr ErrorTextCase kCases[] = {
    {JPEG_ROI_OK, "ROI Success"},
    {JPEG_INTERRUPT_OK, "Interrupt Success"},
    {JPEG_OK, "Success"},
    {JPEG_EXCEPTION_DETECTED, "Exception detected"},
    {JPEG_INVALID_ENCODER, "Invalid Encoder"},
    {JPEG_UNSUPPORTED_SUBSAMPLING, "Unsupported subsampling"},
    {JPEG_UNSUPPORTED_BYTES_PER_PIXEL, "Unsupported bytes per pixel"},
    {JPEG_MEMORY_ERROR, "Memory error"},
    {JPEG_BAD_HUFFMAN_TABLE, "Bad Huffman table"},
    {JPEG_BAD_QUANT_TABLE, "Bad Quantization table"},
    {JPEG_INVALID_PROPERTIES, "Invalid JPEG_PROPERTIES"},
    {JPEG_ERR_CLOSE_FILE, "Error close file"},
    {JPEG_INVALID_FILE_NAME, "Invalid file name"},
    {JPEG_ERR_EOF, "Error EOF"},
    {JPEG_NOT_SUPPORTED, "Not supported"},
    {JPEG_NOT_JPEG, "Not JPEG"},
    {JPEG_ERR_COMP, "Error COMP"},
    {JPEG_ERR_SOF, "Error SOF"},
    {JPEG_ERR_DNL, "Error DNL"},
    {JPEG_NO_HUFFMAN_TABLE, "No Huffman table"},
    {JPEG_NO_QUANT_TABLE, "No Quantization table"},
    {JPEG_NO_FRAME, "No frame"},
    {-20, "Multiply frame"},
    {JPEG_DATA_ERROR, "Data error"},
    {JPEG_NO_IMAGE, "No image"},
    {JPEG_FILE_ERROR, "File error"},
    {JPEG_INTERNAL_ERROR, "Internal error"},
    {JPEG_BAD_RST_MARKER, "Bad RST marker"},
    {JPEG_THUMBNAIL_TOO_SMALL, "Thumbnail too small"},
    {JPEG_THUMBNAIL_BAD_COLOR, "Thumbnail has wrong color"},
    {JPEG_BUFFER_TOO_SMALL, "Output buffer too small"},
    {JPEG_UNSUPPORTED_FRAME, "Unsupported frame was found"},
    {-30, "Error access to jpeg_comment buffer"},
    {-99, "Reserved"},
    // Outside the named codes.
    {3, "Unknown error code"},
    {-31, "Unknown error code"},
    {-50, "Unknown error code"},
    {-98, "Unknown error code"},
    {-100, "Unknown error code"},
    {INT32_MIN, "Unknown error code"},
    {INT32_MAX, "Unknown error code"},
};

TEST(ErrorText, EveryCodeGivesItsMessage) {
    for (const ErrorTextCase &c : kCases) {
        const char *text = codec_error_text(c.code);
        ASSERT_NE(text, nullptr) << "code " << c.code;
        EXPECT_STREQ(text, c.text) << "code " << c.code;
    }
}

TEST(ErrorText, WholeUnknownBandBetweenCommentErrorAndReserved) {
    for (int32_t code = -98; code <= -31; ++code) {
        EXPECT_STREQ(codec_error_text(code), "Unknown error code") << "code " << code;
    }
}

TEST(ErrorText, MessagesAreStableConstants) {
    // The same pointer every time: a constant table, not a formatted buffer.
    EXPECT_EQ(codec_error_text(JPEG_DATA_ERROR), codec_error_text(JPEG_DATA_ERROR));
    EXPECT_EQ(codec_error_text(-40), codec_error_text(7));
}

} // namespace
