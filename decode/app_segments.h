// Application segments read by the decoder: JFIF and JFXX (APP0, with the
// uncompressed thumbnail), Adobe (APP14, color transform) and COM comments.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// APP0. Reports only a segment that cannot be read whole (JPEG_DATA_ERROR);
// other anomalies are passed over. In modes 20 and 21 the thumbnail is
// written into image_pixels when it fits the caller's image.
[[nodiscard]] int32_t read_app0(JPEG_PROPERTIES *props);
// APP14 Adobe segment.
[[nodiscard]] int32_t read_app14(JPEG_PROPERTIES *props);
// COM: copies the comment into the caller's buffer (while no frame is known).
// A buffer smaller than the comment, or one that cannot be written:
// JPEG_COMMENT_ACCESS_ERROR.
[[nodiscard]] int32_t read_comment(JPEG_PROPERTIES *props);

} // namespace qrl
