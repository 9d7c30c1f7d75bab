// Progressive block steps. Positions past the band can reach 63 + 15 in
// corrupt data; the guard entries of zigzag_to_natural keep them on
// coefficient 63.
#include "decode/progressive_blocks.h"

#include <cstring>

#include "decode/bit_reader.h"
#include "transform/zigzag.h"

namespace qrl {
namespace {

// Reader status -> step result: a marker ends the step quietly.
inline int32_t step_result(int32_t status) { return status == FILL_AT_MARKER ? 0 : status; }

// Reads one correction bit; *bit is 0 when the data ended.
inline int32_t read_bit(INPUT_SOURCE *src, uint32_t *bit) {
    if (src->bit_count <= 0) {
        const int32_t status = fill_bit_buffer(src, 1);
        if (status != 0) return status;
    }
    *bit = get_bits(src, 1);
    return 0;
}

inline int16_t shifted(int32_t v, int32_t al) { return static_cast<int16_t>(static_cast<uint32_t>(v) << al); }

} // namespace

int32_t decode_dc_first(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc, int16_t *block, int16_t *dc_predictor,
                        int32_t al) {
    int32_t symbol;
    int32_t status = decode_huffman_symbol(src, dc, &symbol);
    if (status != 0) return step_result(status);
    const int32_t s = symbol & 15;
    int32_t diff = 0;
    if (s != 0) {
        status = ensure_bits(src, s);
        if (status != 0) return step_result(status);
        diff = extend_value(get_bits(src, s), s);
    }
    *dc_predictor = static_cast<int16_t>(*dc_predictor + diff);
    block[0] = shifted(*dc_predictor, al);
    return 0;
}

int32_t decode_dc_refine(INPUT_SOURCE *src, int16_t *block, int32_t al) {
    uint32_t bit;
    const int32_t status = read_bit(src, &bit);
    if (status != 0) return step_result(status);
    if (bit != 0) block[0] = static_cast<int16_t>(block[0] | shifted(1, al));
    return 0;
}

int32_t decode_ac_first(INPUT_SOURCE *src, int16_t *block, const HUFFMAN_DECODE_TABLE *ac, int32_t ss, int32_t se,
                        int32_t al) {
    if (src->eob_run > 0) {
        src->eob_run -= 1;
        return 0;
    }
    int32_t k = ss;
    while (k <= se) {
        int32_t symbol;
        int32_t status = decode_huffman_symbol(src, ac, &symbol);
        if (status != 0) return step_result(status);
        const int32_t r = (symbol >> 4) & 15;
        const int32_t s = symbol & 15;
        if (s != 0) {
            k += r;
            status = ensure_bits(src, s);
            if (status != 0) return step_result(status);
            block[zigzag_to_natural[k]] = shifted(extend_value(get_bits(src, s), s), al);
            k += 1;
        } else if (r == 15) {
            k += 16;
        } else {
            // End of band, here and in the next 2^r - 1 + extra bits blocks.
            int32_t run = 1 << r;
            if (r > 0) {
                status = ensure_bits(src, r);
                if (status != 0) return step_result(status);
                run += static_cast<int32_t>(get_bits(src, r));
            }
            src->eob_run = run - 1;
            break;
        }
    }
    return 0;
}

int32_t decode_ac_refine(INPUT_SOURCE *src, int16_t *block, const HUFFMAN_DECODE_TABLE *ac, int32_t ss, int32_t se,
                         int32_t al) {
    const int32_t p1 = 1 << al;
    const int32_t m1 = -p1;
    int32_t k = ss;
    int32_t status;
    uint32_t bit;
    // Applies a correction bit to a nonzero coefficient that does not have
    // its bit al set yet.
    auto correct = [&](int16_t *coef) -> int32_t {
        const int32_t st = read_bit(src, &bit);
        if (st != 0) return st;
        if (bit != 0 && (*coef & p1) == 0) *coef = static_cast<int16_t>(*coef + (*coef >= 0 ? p1 : m1));
        return 0;
    };
    if (src->eob_run == 0) {
        while (k <= se) {
            int32_t symbol;
            status = decode_huffman_symbol(src, ac, &symbol);
            if (status != 0) return step_result(status);
            int32_t r = (symbol >> 4) & 15;
            const int32_t s = symbol & 15;
            int32_t value = 0;
            if (s != 0) {
                // A new coefficient of magnitude 1 << al; its sign bit follows.
                status = read_bit(src, &bit);
                if (status != 0) return step_result(status);
                value = bit != 0 ? p1 : m1;
            } else if (r != 15) {
                int32_t run = 1 << r;
                if (r > 0) {
                    status = ensure_bits(src, r);
                    if (status != 0) return step_result(status);
                    run += static_cast<int32_t>(get_bits(src, r));
                }
                src->eob_run = run;
                break;
            }
            // Pass r zero coefficients, correcting the nonzero ones met.
            while (k <= se) {
                int16_t *coef = &block[zigzag_to_natural[k]];
                if (*coef != 0) {
                    status = correct(coef);
                    if (status != 0) return step_result(status);
                } else {
                    if (--r < 0) break;
                }
                k += 1;
            }
            if (value != 0) block[zigzag_to_natural[k]] = static_cast<int16_t>(value);
            k += 1;
        }
    }
    if (src->eob_run > 0) {
        // Inside an end-of-band run only the nonzero coefficients read a bit.
        for (; k <= se; ++k) {
            int16_t *coef = &block[zigzag_to_natural[k]];
            if (*coef != 0) {
                status = correct(coef);
                if (status != 0) return step_result(status);
            }
        }
        src->eob_run -= 1;
    }
    return 0;
}

} // namespace qrl
