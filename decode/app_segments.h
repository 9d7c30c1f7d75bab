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
// COM: copies the comment into the caller's buffer (while no frame is known)
// and sets jpeg_comment_size to its length. A buffer smaller than the comment
// gets its capacity's worth and JPEG_COMMENT_ACCESS_ERROR, as does one that
// cannot be written. The capacity is the caller's jpeg_comment_size, except
// that a length written back earlier for the same buffer keeps the capacity
// it was measured against, so nothing is ever written past the capacity.
[[nodiscard]] int32_t read_comment(JPEG_PROPERTIES *props);

} // namespace qrl
