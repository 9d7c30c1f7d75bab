// The decode and encode steps shared by the commands that work on one file
// (decode, encode's twin in batch) and on many (batch): each runs on a codec
// record the caller owns and has initialised, so a worker can keep one record
// for all its files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "image_io.h"

namespace qrl_tools {

enum class OutColor { rgb, bgr, gray, cmyk, ycbcr };

struct DecodeRequest {
    OutColor color = OutColor::rgb;
    bool fast = false;
    bool bottom_up = false;
    int pad = 0;
    int scale = 1; // 1, 2, 4 or 8
    bool region = false;
    int region_x = 0, region_y = 0, region_w = 0, region_h = 0;
    bool smooth = false;
    bool incremental = false;
};

struct EncodeRequest {
    int quality = 75;
    int subsampling = SUBSAMPLING_2X2;
    bool gray = false, progressive = false, fast = false;
    int restart = 0;
    bool has_comment = false;
    std::string comment;
    int mode = JPEG_IO_ENCODE_FILE;
};

// "STEP failed with error CODE: MESSAGE".
std::string codec_failure(const char *step, int32_t code);

// Channels of the image a decode request produces (3 for packed YCbCr too).
int planned_channels(OutColor color);

// Decodes `jpeg` into `out` (rows top first, without padding). `tuple_type`
// is set for PAM outputs that are not plain gray/RGB; `calls` counts the
// codec_read calls of the image decode. Returns an empty string or the reason.
std::string decode_jpeg(JPEG_CODEC_RECORD *record, std::vector<uint8_t> &jpeg, const DecodeRequest &request,
                        Image &out, const char *&tuple_type, uint64_t &calls);

// Encodes `image` the way `quorrel encode` does (1 to 4 channels; gray+alpha
// drops the alpha; four channels are RGBA, or CMYK from a PAM of TUPLTYPE CMYK)
// into the JPEG file `output`. Returns an empty string or the reason.
std::string encode_to_file(JPEG_CODEC_RECORD *record, Image &image, const EncodeRequest &request,
                           const std::string &output);

bool read_whole_file(const std::string &path, std::vector<uint8_t> &data);

} // namespace qrl_tools
