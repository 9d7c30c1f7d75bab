// Block steps of progressive Huffman scans (ITU-T T.81, G.1.2): DC first and
// refinement, AC first and refinement with end-of-band runs. Each returns 0
// (also when a marker cut the data short) or a negative reader error; the
// scan loops decode on either way.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// DC first scan: the predictor (16 bits) takes the decoded difference and
// coefficient 0 becomes predictor << al.
[[nodiscard]] int32_t decode_dc_first(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc, int16_t *block,
                                      int16_t *dc_predictor, int32_t al);
// DC refinement: one bit, ORed in at bit al.
[[nodiscard]] int32_t decode_dc_refine(INPUT_SOURCE *src, int16_t *block, int32_t al);
// AC first scan of band ss..se (1 <= ss <= se <= 63) at point transform al.
[[nodiscard]] int32_t decode_ac_first(INPUT_SOURCE *src, int16_t *block, const HUFFMAN_DECODE_TABLE *ac,
                                      int32_t ss, int32_t se, int32_t al);
// AC refinement of band ss..se: new coefficients of magnitude 1 << al and
// correction bits for those already nonzero.
[[nodiscard]] int32_t decode_ac_refine(INPUT_SOURCE *src, int16_t *block, const HUFFMAN_DECODE_TABLE *ac,
                                       int32_t ss, int32_t se, int32_t al);

} // namespace qrl
