// Result codes to messages: one table indexed by code + 99, covering -99..2.
#include <array>
#include <cstddef>

#include "codec/codec.h"

namespace qrl {
namespace {

constexpr int32_t kLowestCode = JPEG_RESERVED; // -99
constexpr int32_t kHighestCode = JPEG_ROI_OK;  // 2
constexpr std::size_t kEntryCount = static_cast<std::size_t>(kHighestCode - kLowestCode + 1);
static_assert(kEntryCount == 102);

constexpr const char *kUnknown = "Unknown error code";

struct CodeText {
    int32_t code;
    const char *text;
};

// The named codes; every other code from -98 to -31 is unknown.
constexpr CodeText kNamedCodes[] = {
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
    {JPEG_MULTIPLE_FRAMES, "Multiply frame"},
    {JPEG_DATA_ERROR, "Data error"},
    {JPEG_NO_IMAGE, "No image"},
    {JPEG_FILE_ERROR, "File error"},
    {JPEG_INTERNAL_ERROR, "Internal error"},
    {JPEG_BAD_RST_MARKER, "Bad RST marker"},
    {JPEG_THUMBNAIL_TOO_SMALL, "Thumbnail too small"},
    {JPEG_THUMBNAIL_BAD_COLOR, "Thumbnail has wrong color"},
    {JPEG_BUFFER_TOO_SMALL, "Output buffer too small"},
    {JPEG_UNSUPPORTED_FRAME, "Unsupported frame was found"},
    {JPEG_COMMENT_ACCESS_ERROR, "Error access to jpeg_comment buffer"},
    {JPEG_RESERVED, "Reserved"},
};

constexpr std::array<const char *, kEntryCount> make_message_table() {
    std::array<const char *, kEntryCount> table{};
    for (auto &entry : table) {
        entry = kUnknown;
    }
    for (const CodeText &named : kNamedCodes) {
        table[static_cast<std::size_t>(named.code - kLowestCode)] = named.text;
    }
    return table;
}

constexpr std::array<const char *, kEntryCount> kMessages = make_message_table();

} // namespace
} // namespace qrl

extern "C" const char *codec_error_text(int32_t code) {
    if (code < qrl::kLowestCode || code > qrl::kHighestCode) {
        return qrl::kUnknown;
    }
    return qrl::kMessages[static_cast<std::size_t>(code - qrl::kLowestCode)];
}
