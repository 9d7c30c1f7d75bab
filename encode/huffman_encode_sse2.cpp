// Sequential block encoder of the SIMD kernel sets. Gives the bits of the
// portable encode_huffman_block, but keeps the stream's accumulator in the
// wide convention (bit_count = pending bits, first bit in bit 63), finds the
// nonzero coefficients with parallel compares and writes each code together
// with its value bits, four bytes at a time when none of them is 0xFF.
#include <emmintrin.h>

#include "dispatch/kernel_table.h"
#include "encode/huffman_encode.h"
#include "encode/out_stream.h"
#include "transform/zigzag.h"

namespace qrl {
namespace {

// Room the encoder wants before it moves pending bytes out: four bytes, each
// possibly followed by a stuffed zero.
constexpr int64_t kFlushRoom = 8;

// Writes the top four bytes of the accumulator (with stuffing) and drops them.
int32_t flush_four(INPUT_SOURCE *s) {
    constexpr int32_t bytes = 4;
    if (s->end - s->cur < kFlushRoom) {
        if (s->file == nullptr) {
            // Close to the end of a memory buffer: byte by byte, refusing when full.
            for (int32_t i = 0; i < bytes; ++i) {
                const int32_t r = put_stuffed_byte(s, static_cast<uint32_t>(s->bit_buffer >> 56));
                if (r != JPEG_OK) return r;
                s->bit_buffer <<= 8;
                s->bit_count -= 8;
            }
            return JPEG_OK;
        }
        const int32_t r = out_stream_drain(s);
        if (r != JPEG_OK) return r;
    }
    const uint64_t top = s->bit_buffer >> (64 - 8 * bytes);
    // A byte of 0xFF among them needs a stuffed zero: the slow way.
    const uint32_t ones = ~static_cast<uint32_t>(top);
    const uint32_t has_ff = (ones - 0x01010101u) & ~ones & 0x80808080u;
    uint8_t *p = s->cur;
    if (has_ff == 0) {
        for (int32_t i = bytes - 1; i >= 0; --i) *p++ = static_cast<uint8_t>(top >> (8 * i));
    } else {
        for (int32_t i = bytes - 1; i >= 0; --i) {
            const auto b = static_cast<uint8_t>(top >> (8 * i));
            *p++ = b;
            if (b == 0xFF) *p++ = 0;
        }
    }
    s->position += static_cast<int32_t>(p - s->cur);
    s->cur = p;
    s->bit_buffer <<= 8 * bytes;
    s->bit_count -= 8 * bytes;
    return JPEG_OK;
}

// Appends n (1..32) bits; moves four bytes out once 32 or more are pending.
inline int32_t put_wide(INPUT_SOURCE *s, uint32_t bits, int32_t n) {
    if (n == 0) return JPEG_OK;
    const uint64_t value = static_cast<uint64_t>(bits) & ((uint64_t{1} << n) - 1);
    s->bit_buffer |= value << (64 - s->bit_count - n);
    s->bit_count += n;
    if (s->bit_count >= 32) return flush_four(s);
    return JPEG_OK;
}

// Code of a symbol followed by its value bits, in one put.
inline int32_t put_coded(INPUT_SOURCE *s, const HUFFMAN_ENCODE_TABLE *t, int32_t symbol,
                         uint32_t value, int32_t size) {
    const int32_t length = t->code_length[symbol];
    const uint32_t mask = size == 0 ? 0u : (1u << size) - 1u;
    return put_wide(s, (static_cast<uint32_t>(t->code[symbol]) << size) | (value & mask), length + size);
}

// Bit k of the result is set when zig-zag position k of the block is nonzero.
uint64_t nonzero_mask(const int16_t *zz) {
    uint64_t mask = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int32_t i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(zz + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(zz + 16 * i + 8));
        const __m128i za = _mm_cmpeq_epi16(a, zero);
        const __m128i zb = _mm_cmpeq_epi16(b, zero);
        const uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(za, zb)));
        mask |= static_cast<uint64_t>(~bits & 0xFFFFu) << (16 * i);
    }
    return mask;
}

} // namespace

int32_t encode_huffman_block_sse2(INPUT_SOURCE *stream, const HUFFMAN_ENCODE_TABLE *dc,
                                  const HUFFMAN_ENCODE_TABLE *ac, int16_t *dc_predictor,
                                  const int16_t *block) {
    alignas(16) int16_t zz[64];
    for (int32_t k = 0; k < 64; ++k) zz[k] = block[zigzag_to_natural[k]];

    int32_t diff = zz[0] - *dc_predictor;
    *dc_predictor = zz[0];
    int32_t s = bit_length(static_cast<uint32_t>(diff < 0 ? -diff : diff));
    int32_t r = put_coded(stream, dc, s, static_cast<uint32_t>(diff < 0 ? diff - 1 : diff), s);
    if (r != JPEG_OK) return r;

    uint64_t mask = nonzero_mask(zz) >> 1; // bit j: position j + 1
    int32_t k = 1;
    while (mask != 0) {
        const int32_t zeros = __builtin_ctzll(mask);
        int32_t run = zeros;
        k += zeros;
        mask >>= zeros;
        while (run > 15) {
            r = put_coded(stream, ac, 0xF0, 0, 0);
            if (r != JPEG_OK) return r;
            run -= 16;
        }
        int32_t v = zz[k];
        if (v < -32767) v = -32767;
        s = bit_length(static_cast<uint32_t>(v < 0 ? -v : v));
        r = put_coded(stream, ac, (run << 4) + s, static_cast<uint32_t>(v < 0 ? v - 1 : v), s);
        if (r != JPEG_OK) return r;
        ++k;
        mask >>= 1;
    }
    if (k <= 63) return put_coded(stream, ac, 0x00, 0, 0);
    return JPEG_OK;
}

} // namespace qrl
