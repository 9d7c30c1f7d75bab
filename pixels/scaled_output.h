#pragma once
#include "codec/codec.h"

namespace qrl {
// Whole-image color conversion of a frame whose components arrived in
// separate scans (called by the decode driver at the end of the image).
[[nodiscard]] int32_t convert_image_in_place(JPEG_PROPERTIES *props);
} // namespace qrl
