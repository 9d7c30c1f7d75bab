// Sequential block encoder of the SIMD kernel sets. Gives the bits of the
// portable encode_huffman_block, but keeps the stream's accumulator in the
// wide convention (bit_count = pending bits, first bit in bit 63).
//
// The block is gathered into zig-zag order with word inserts, its nonzero
// positions found with parallel compares as a 64-bit mask, and the mask walked
// with trailing-zero counts. Each code goes out together with its value bits
// into a local 64-bit accumulator; a full accumulator leaves as eight bytes at
// once when none of them is 0xFF, byte by byte with stuffing otherwise. When
// the stream has room for a whole block, the bytes go there without checks.
#include <emmintrin.h>

#include <cstring>

#include "dispatch/kernel_table.h"
#include "encode/huffman_encode.h"
#include "encode/out_stream.h"
#include "transform/zigzag.h"

namespace qrl {
namespace {

// Room the fast path wants before it stores a full accumulator: eight bytes,
// each possibly followed by a stuffed zero.
constexpr int64_t kWordRoom = 16;

// The stream's pending bits, held right-aligned while a block is encoded.
// `free_bits` (1..64) is 64 minus the number of pending bits; bits above the
// pending ones may hold stale values, which every use shifts out.
struct Accumulator {
    uint64_t bits;
    int32_t free_bits;
};

inline Accumulator load_accumulator(const INPUT_SOURCE *s) {
    const int32_t pending = s->bit_count;
    return {pending > 0 ? s->bit_buffer >> (64 - pending) : 0, 64 - pending};
}

inline void store_accumulator(INPUT_SOURCE *s, const Accumulator &a) {
    s->bit_buffer = a.free_bits < 64 ? a.bits << a.free_bits : 0;
    s->bit_count = 64 - a.free_bits;
}

// Writes the eight bytes of `word`, most significant first, with stuffing.
int32_t store_word(INPUT_SOURCE *s, uint64_t word) {
    if (s->end - s->cur < kWordRoom) {
        if (s->file == nullptr) {
            // Close to the end of a memory buffer: byte by byte, refusing when full.
            for (int32_t i = 56; i >= 0; i -= 8) {
                const int32_t r = put_stuffed_byte(s, static_cast<uint32_t>(word >> i));
                if (r != JPEG_OK) return r;
            }
            return JPEG_OK;
        }
        const int32_t r = out_stream_drain(s);
        if (r != JPEG_OK) return r;
    }
    uint8_t *p = s->cur;
    // A zero byte of ~word is a 0xFF byte of word.
    const uint64_t ones = ~word;
    const uint64_t has_ff = (ones - 0x0101010101010101ull) & ~ones & 0x8080808080808080ull;
    if (has_ff == 0) {
        const uint64_t big_endian = __builtin_bswap64(word);
        std::memcpy(p, &big_endian, 8);
        p += 8;
    } else {
        for (int32_t i = 56; i >= 0; i -= 8) {
            const auto b = static_cast<uint8_t>(word >> i);
            *p++ = b;
            if (b == 0xFF) *p++ = 0;
        }
    }
    s->position += static_cast<int32_t>(p - s->cur);
    s->cur = p;
    return JPEG_OK;
}

// Eight bytes of `word` at p, most significant first, with stuffing; p
// advances past them. Needs 16 bytes of room.
inline void store_word_direct(uint8_t *&p, uint64_t word) {
    const uint64_t big_endian = __builtin_bswap64(word);
    std::memcpy(p, &big_endian, 8);
    const uint64_t ones = ~word;
    if (((ones - 0x0101010101010101ull) & ~ones & 0x8080808080808080ull) == 0) {
        p += 8;
        return;
    }
    for (int32_t i = 56; i >= 0; i -= 8) {
        const auto b = static_cast<uint8_t>(word >> i);
        *p++ = b;
        if (b == 0xFF) *p++ = 0;
    }
}

// Where full accumulators go: straight into a stream known to have room for
// the whole block, or through store_word's checks.
struct DirectSink {
    uint8_t *p;
    int32_t store(uint64_t word) {
        store_word_direct(p, word);
        return JPEG_OK;
    }
};
struct CheckedSink {
    INPUT_SOURCE *s;
    int32_t store(uint64_t word) { return store_word(s, word); }
};

// Room that always holds one block: at most 32 DC bits, 63 AC codes of up
// to 31 bits, 3 ZRLs and an EOB of up to 16 bits, with up to 63 pending bits:
// 2112 bits = 264 bytes, twice that with stuffing, and the 8 bytes the last
// store writes.
constexpr int64_t kBlockRoom = 2 * 264 + 8;

// Appends the low n (0..32) bits of `value` (no higher bits set).
template <typename Sink>
inline int32_t put(Sink &sink, Accumulator &a, uint64_t value, int32_t n) {
    if (n < a.free_bits) {
        a.bits = (a.bits << n) | value;
        a.free_bits -= n;
        return JPEG_OK;
    }
    // n >= free_bits and n <= 32, so free_bits <= 32 and both shifts are defined.
    const int32_t spill = n - a.free_bits;
    const uint64_t word = (a.bits << a.free_bits) | (value >> spill);
    a.bits = value;
    a.free_bits = 64 - spill;
    return sink.store(word);
}

// Code of a symbol followed by `size` value bits, in one put.
template <typename Sink>
inline int32_t put_coded(Sink &sink, Accumulator &a, const HUFFMAN_ENCODE_TABLE *t, int32_t symbol,
                         uint32_t value, int32_t size) {
    // A length of 0 (a symbol without a code, no value bits) appends nothing.
    const int32_t length = t->code_length[symbol] + size;
    // Codes fit their lengths (build_huffman_encode_table), so only the value is masked.
    const uint64_t mask = (uint64_t{1} << size) - 1;
    return put(sink, a, (static_cast<uint64_t>(t->code[symbol]) << size) | (value & mask), length);
}

// Number of significant bits of a magnitude 1..65535.
inline int32_t significant_bits(uint32_t magnitude) { return 32 - __builtin_clz(magnitude); }

// Eight coefficients of the block in zig-zag order, from position Base.
template <int32_t Base>
inline __m128i gather8(const int16_t *b) {
    __m128i v = _mm_cvtsi32_si128(static_cast<uint16_t>(b[zigzag_to_natural[Base]]));
    v = _mm_insert_epi16(v, b[zigzag_to_natural[Base + 1]], 1);
    v = _mm_insert_epi16(v, b[zigzag_to_natural[Base + 2]], 2);
    v = _mm_insert_epi16(v, b[zigzag_to_natural[Base + 3]], 3);
    v = _mm_insert_epi16(v, b[zigzag_to_natural[Base + 4]], 4);
    v = _mm_insert_epi16(v, b[zigzag_to_natural[Base + 5]], 5);
    v = _mm_insert_epi16(v, b[zigzag_to_natural[Base + 6]], 6);
    v = _mm_insert_epi16(v, b[zigzag_to_natural[Base + 7]], 7);
    return v;
}

// Sixteen coefficients from position Base into zz, -32768 raised to -32767
// (which keeps an AC size category at 15 and its symbol in range); returns
// their nonzero bits.
template <int32_t Base>
inline uint64_t gather16(const int16_t *block, int16_t *zz) {
    const __m128i floor = _mm_set1_epi16(-32767);
    const __m128i a = _mm_max_epi16(gather8<Base>(block), floor);
    const __m128i b = _mm_max_epi16(gather8<Base + 8>(block), floor);
    _mm_store_si128(reinterpret_cast<__m128i *>(zz + Base), a);
    _mm_store_si128(reinterpret_cast<__m128i *>(zz + Base + 8), b);
    const __m128i zero = _mm_setzero_si128();
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    return static_cast<uint64_t>(~static_cast<uint32_t>(_mm_movemask_epi8(zeros)) & 0xFFFFu) << Base;
}

template <typename Sink>
int32_t encode_block(Sink &stream, Accumulator &acc, const HUFFMAN_ENCODE_TABLE *dc,
                     const HUFFMAN_ENCODE_TABLE *ac, int16_t *dc_predictor, const int16_t *block) {
    alignas(16) int16_t zz[64];
    const uint64_t nonzero = gather16<0>(block, zz) | gather16<16>(block, zz) | gather16<32>(block, zz) |
                             gather16<48>(block, zz);

    const int32_t diff = block[0] - *dc_predictor;
    *dc_predictor = block[0];
    const int32_t dc_sign = diff >> 31;
    const auto dc_magnitude = static_cast<uint32_t>((diff ^ dc_sign) - dc_sign);
    const int32_t dc_size = dc_magnitude == 0 ? 0 : significant_bits(dc_magnitude);
    int32_t r = put_coded(stream, acc, dc, dc_size, static_cast<uint32_t>(diff + dc_sign), dc_size);
    if (r != JPEG_OK) return r;

    uint64_t mask = nonzero & ~uint64_t{1}; // the AC positions
    int32_t next = 1;                        // first position not coded yet
    while (mask != 0) {
        const int32_t k = __builtin_ctzll(mask);
        mask &= mask - 1;
        int32_t run = k - next;
        next = k + 1;
        while (run > 15) {
            r = put_coded(stream, acc, ac, 0xF0, 0, 0);
            if (r != JPEG_OK) return r;
            run -= 16;
        }
        const int32_t v = zz[k];
        const int32_t sign = v >> 31;
        const int32_t size = significant_bits(static_cast<uint32_t>((v ^ sign) - sign));
        r = put_coded(stream, acc, ac, (run << 4) + size, static_cast<uint32_t>(v + sign), size);
        if (r != JPEG_OK) return r;
    }
    if (next <= 63) return put_coded(stream, acc, ac, 0x00, 0, 0);
    return JPEG_OK;
}

} // namespace

int32_t encode_huffman_block_sse2(INPUT_SOURCE *stream, const HUFFMAN_ENCODE_TABLE *dc,
                                  const HUFFMAN_ENCODE_TABLE *ac, int16_t *dc_predictor,
                                  const int16_t *block) {
    if (stream->end - stream->cur < kBlockRoom && stream->file != nullptr) {
        const int32_t r = out_stream_drain(stream);
        if (r != JPEG_OK) return r;
    }
    Accumulator acc = load_accumulator(stream);
    int32_t r = JPEG_OK;
    if (stream->end - stream->cur >= kBlockRoom) {
        DirectSink sink{stream->cur};
        r = encode_block(sink, acc, dc, ac, dc_predictor, block);
        stream->position += static_cast<int32_t>(sink.p - stream->cur);
        stream->cur = sink.p;
    } else {
        // Close to the end of a memory buffer.
        CheckedSink sink{stream};
        r = encode_block(sink, acc, dc, ac, dc_predictor, block);
    }
    store_accumulator(stream, acc);
    return r;
}

} // namespace qrl
