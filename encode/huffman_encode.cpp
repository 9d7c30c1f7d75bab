#include "encode/huffman_encode.h"

#include "encode/marker_writer.h"
#include "encode/out_stream.h"
#include "transform/zigzag.h"

namespace qrl {
int32_t build_huffman_encode_table(const uint8_t counts[16], const uint8_t *symbols,
                                   HUFFMAN_ENCODE_TABLE *table) {
    for (int32_t s = 0; s < 256; ++s) {
        table->code_length[s] = 0;
        table->code[s] = 0;
    }
    if (huffman_symbol_count(counts) > kMaxEncodeSymbols) return JPEG_BAD_HUFFMAN_TABLE;
    uint32_t code = 0;
    int32_t k = 0;
    for (int32_t length = 1; length <= 16; ++length) {
        for (int32_t i = 0; i < counts[length - 1]; ++i) {
            if (code >= (1u << length)) return JPEG_BAD_HUFFMAN_TABLE; // over-full length
            const uint8_t symbol = symbols[k++];
            table->code[symbol] = static_cast<uint16_t>(code);
            table->code_length[symbol] = length;
            ++code;
        }
        code <<= 1;
    }
    return JPEG_OK;
}

int32_t put_bits(INPUT_SOURCE *stream, uint32_t value, int32_t n) {
    int32_t f = stream->bit_count;
    uint32_t acc = static_cast<uint32_t>(stream->bit_buffer);
    while (f < n) {
        n -= f;
        const uint32_t byte = acc | ((value >> n) & ((1u << f) - 1u));
        const int32_t r = put_stuffed_byte(stream, byte);
        if (r != JPEG_OK) {
            // Keep the stream as it was before the byte; the caller stops.
            return r;
        }
        f = 8;
        acc = 0;
        stream->bit_count = 8;
        stream->bit_buffer = 0;
    }
    acc |= (value & ((1u << n) - 1u)) << (f - n);
    stream->bit_buffer = acc;
    stream->bit_count = f - n;
    return JPEG_OK;
}

int32_t encode_huffman_block(INPUT_SOURCE *stream, const HUFFMAN_ENCODE_TABLE *dc,
                             const HUFFMAN_ENCODE_TABLE *ac, int16_t *dc_predictor,
                             const int16_t *block) {
    int32_t diff = block[0] - *dc_predictor;
    *dc_predictor = block[0];
    uint32_t magnitude = static_cast<uint32_t>(diff < 0 ? -diff : diff);
    int32_t s = bit_length(magnitude);
    if (diff < 0) diff -= 1;
    int32_t r = put_symbol(stream, dc, s);
    if (r == JPEG_OK) r = put_bits(stream, static_cast<uint32_t>(diff), s);
    if (r != JPEG_OK) return r;

    int32_t run = 0;
    for (int32_t k = 1; k < 64; ++k) {
        int32_t v = block[zigzag_to_natural[k]];
        if (v == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            r = put_symbol(stream, ac, 0xF0);
            if (r != JPEG_OK) return r;
            run -= 16;
        }
        if (v < -32767) v = -32767; // keeps the size category at 15 and the symbol in range
        magnitude = static_cast<uint32_t>(v < 0 ? -v : v);
        s = bit_length(magnitude);
        if (v < 0) v -= 1;
        r = put_symbol(stream, ac, (run << 4) + s);
        if (r == JPEG_OK) r = put_bits(stream, static_cast<uint32_t>(v), s);
        if (r != JPEG_OK) return r;
        run = 0;
    }
    if (run > 0) return put_symbol(stream, ac, 0x00);
    return JPEG_OK;
}

} // namespace qrl
