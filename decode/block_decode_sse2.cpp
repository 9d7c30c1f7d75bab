// Block decoders of the SIMD kernel sets. They give the portable kernels'
// coefficients and predictor for well-formed data and keep their state in
// the same INPUT_SOURCE fields, but keep the accumulator topped up to more
// than 56 bits and differ where the data are cut short:
// - a marker met inside the data is recorded in pending_marker and decoding
//   goes on as if the data continued with 0-bits, until the restart step
//   takes the marker;
// - when a memory source has no more bytes, or a file source cannot be
//   refilled, the block ends (result 0, no error) as soon as it needs a bit
//   that is not there; every later block ends the same way.
// The wide variants take four bytes at once when four are available and none
// of them is 0xFF.
#include <emmintrin.h>

#include <cstring>

#include "decode/bit_reader.h"
#include "decode/block_decode.h"
#include "decode/block_decode_wide.h"
#include "decode/input_source.h"
#include "transform/zigzag.h"

namespace qrl {
namespace {

template <bool kFourBytes, bool kFullBlock>
int32_t decode_block_wide(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc, const HUFFMAN_DECODE_TABLE *ac,
                          int16_t *dc_predictor, int16_t *block) {
    if constexpr (kFullBlock) {
        const __m128i zero = _mm_setzero_si128();
        for (int32_t i = 0; i < 64; i += 8) _mm_storeu_si128(reinterpret_cast<__m128i *>(block + i), zero);
    }
    WideReader<kFourBytes> r{src};
    int32_t sym;
    if (!r.symbol(dc, &sym)) return 0;
    int32_t s = sym & 15;
    int32_t diff = 0;
    if (s != 0) {
        if (!r.need(s)) return 0;
        diff = extend_value(r.take_bits(s), s);
    }
    *dc_predictor = static_cast<int16_t>(*dc_predictor + diff);
    block[0] = *dc_predictor;
    int32_t k = 1;
    int32_t remaining = 63;
    while (remaining > 0) {
        // A symbol (at most 17 bits) and its value (at most 15) fit in 32
        // held bits; only where the data ran out are the checks needed.
        if (src->bit_count < 32) r.fill();
        const bool held = src->bit_count >= 32;
        if (held) {
            sym = r.symbol_held(ac);
        } else if (!r.symbol(ac, &sym)) {
            return 0;
        }
        const int32_t run = (sym >> 4) & 15;
        s = sym & 15;
        if (s != 0) {
            remaining -= run + 1;
            k += run;
            if (!held && !r.need(s)) return 0;
            const int32_t v = extend_value(r.take_bits(s), s);
            if constexpr (kFullBlock) block[zigzag_to_natural[k]] = static_cast<int16_t>(v);
            k += 1;
        } else if (run == 15) {
            remaining -= 16;
            k += 16;
        } else {
            break;
        }
    }
    return 0;
}

} // namespace

int32_t decode_huffman_block_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc, const HUFFMAN_DECODE_TABLE *ac,
                                  int16_t *dc_predictor, int16_t *block) {
    return decode_block_wide<false, true>(src, dc, ac, dc_predictor, block);
}

int32_t decode_huffman_block_wide_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                       const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor, int16_t *block) {
    return decode_block_wide<true, true>(src, dc, ac, dc_predictor, block);
}

int32_t decode_huffman_dc_only_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                    const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor, int16_t *block) {
    return decode_block_wide<true, false>(src, dc, ac, dc_predictor, block);
}

} // namespace qrl
