#pragma once
#include "codec/codec.h"

namespace qrl {
// Checks the public fields, io_mode, dct_method and the coefficient-output
// words before a read or write touches any stream. Changes nothing.
[[nodiscard]] int32_t validate_record(const JPEG_CODEC_RECORD *record);
} // namespace qrl
