// Portable sequential block decoding (ITU-T T.81, F.2.2).
#include "decode/block_decode.h"

#include <cstring>

#include "decode/bit_reader.h"
#include "dispatch/platform.h"
#include "transform/zigzag.h"

namespace qrl {
namespace {

// Maps a reader status to a block result: FILL_AT_MARKER ends the block
// quietly, errors pass through.
inline int32_t block_result(int32_t status) { return status == FILL_AT_MARKER ? 0 : status; }

// Decodes the DC difference into the predictor. Returns 0 when the
// predictor was updated, 1 when the block ended at a marker, or an error.
inline int32_t decode_dc(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc, int16_t *dc_predictor) {
    int32_t symbol;
    int32_t status = decode_huffman_symbol(src, dc, &symbol);
    if (status != 0) return status == FILL_AT_MARKER ? 1 : status;
    const int32_t s = symbol & 15;
    int32_t diff = 0;
    if (s != 0) {
        status = ensure_bits(src, s);
        if (status != 0) return status == FILL_AT_MARKER ? 1 : status;
        diff = extend_value(get_bits(src, s), s);
    }
    *dc_predictor = static_cast<int16_t>(*dc_predictor + diff); // wraps to 16 bits
    return 0;
}

template <bool kStoreAc>
int32_t decode_ac(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *ac, int16_t *block) {
    int32_t k = 1;
    int32_t remaining = 63;
    while (remaining > 0) {
        int32_t symbol;
        int32_t status = decode_huffman_symbol(src, ac, &symbol);
        if (status != 0) return block_result(status);
        const int32_t r = (symbol >> 4) & 15;
        const int32_t s = symbol & 15;
        if (s != 0) {
            remaining -= r + 1;
            k += r;
            status = ensure_bits(src, s);
            if (status != 0) return block_result(status);
            const int32_t v = extend_value(get_bits(src, s), s);
            // k stays below 64 + 15: the guard entries hold corrupt runs on
            // coefficient 63.
            if constexpr (kStoreAc) block[zigzag_to_natural[k]] = static_cast<int16_t>(v);
            k += 1;
        } else if (r == 15) {
            remaining -= 16;
            k += 16;
        } else {
            break; // end of block
        }
    }
    return 0;
}

} // namespace

int32_t decode_huffman_block(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc, const HUFFMAN_DECODE_TABLE *ac,
                             int16_t *dc_predictor, int16_t *block) {
    if (zero_memory != nullptr) {
        (void)zero_memory(block, 64 * sizeof(int16_t));
    } else {
        std::memset(block, 0, 64 * sizeof(int16_t));
    }
    const int32_t status = decode_dc(src, dc, dc_predictor);
    if (status != 0) return status == 1 ? 0 : status;
    block[0] = *dc_predictor;
    return decode_ac<true>(src, ac, block);
}

int32_t decode_huffman_dc_only(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                               const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor, int16_t *block) {
    const int32_t status = decode_dc(src, dc, dc_predictor);
    if (status != 0) return status == 1 ? 0 : status;
    block[0] = *dc_predictor;
    return decode_ac<false>(src, ac, block);
}

} // namespace qrl
