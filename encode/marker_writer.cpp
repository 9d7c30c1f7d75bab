#include "encode/marker_writer.h"

#include <cstdlib>
#include <cstring>

#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"
#include "encode/out_stream.h"

namespace qrl {
namespace {

int32_t emit(INPUT_SOURCE *stream, const uint8_t *data, int32_t length) {
    const OutWriteFn write = stream->kernel_table != nullptr && stream->kernel_table->out_stream_write
                                 ? stream->kernel_table->out_stream_write
                                 : &out_stream_write;
    return write(data, length, stream);
}

// Appends a big-endian 16-bit value.
uint8_t *put16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
    return p + 2;
}

// Component identifier and sampling byte as the sequential headers write
// them: 1..N for several components, 0 (sampled 1x1) for a single one.
int32_t sequential_id(int32_t count, int32_t index) { return count > 1 ? index + 1 : 0; }

struct CommentCopy {
    uint8_t *segment;
    const uint8_t *text;
    int32_t length;
};

int32_t copy_comment(void *context) {
    auto *c = static_cast<CommentCopy *>(context);
    std::memcpy(c->segment + 4, c->text, static_cast<size_t>(c->length));
    return JPEG_OK;
}

} // namespace

int32_t huffman_symbol_count(const uint8_t counts[16]) {
    int32_t m = 0;
    for (int32_t i = 0; i < 16; ++i) m += counts[i];
    return m;
}

int32_t write_soi(INPUT_SOURCE *stream) {
    static constexpr uint8_t kSoi[2] = {0xFF, 0xD8};
    return emit(stream, kSoi, 2);
}

int32_t write_eoi(INPUT_SOURCE *stream) {
    static constexpr uint8_t kEoi[2] = {0xFF, 0xD9};
    return emit(stream, kEoi, 2);
}

int32_t write_jfif(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props) {
    uint8_t s[18] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    uint8_t *p = put16(s + 9, props->jfif_version);
    *p++ = props->jfif_units;
    p = put16(p, props->jfif_x_density);
    p = put16(p, props->jfif_y_density);
    p[0] = 0; // thumbnail width
    p[1] = 0; // thumbnail height
    return emit(stream, s, 18);
}

int32_t write_adobe(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props, uint8_t transform) {
    uint8_t s[16] = {0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e'};
    uint8_t *p = put16(s + 9, props->adobe_version);
    p = put16(p, props->adobe_flags0);
    p = put16(p, props->adobe_flags1);
    *p = transform;
    return emit(stream, s, 16);
}

int32_t write_comment(INPUT_SOURCE *stream, JPEG_PROPERTIES *props) {
    if (props->jpeg_comment == nullptr) {
        if (format_print == nullptr) return JPEG_OK;
        const VERSION_INFO *v = codec_version();
        // The formatted-print service writes at most 1024 bytes.
        uint8_t s[4 + 1024 + 1];
        char *text = reinterpret_cast<char *>(s + 4);
        const int32_t n = format_print(text, kDefaultCommentFormat, v->internal_version);
        const int32_t format_length = static_cast<int32_t>(sizeof(kDefaultCommentFormat) - 1);
        if (n <= format_length || n > 1024) return JPEG_OK; // formatting unavailable
        text[n] = '\0';
        const int32_t length = n + 1; // the text and its terminating zero
        s[0] = 0xFF;
        s[1] = 0xFE;
        put16(s + 2, static_cast<uint32_t>(length + 2));
        return emit(stream, s, length + 4);
    }
    int32_t n = props->jpeg_comment_size;
    if (n == 0) return JPEG_OK;
    if (n > 65531) {
        n = 65531;
        props->jpeg_comment_size = 65531;
    }
    auto *segment = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(n) + 4));
    if (segment == nullptr) return JPEG_MEMORY_ERROR;
    CommentCopy copy{segment, props->jpeg_comment, n};
    int32_t r = run_guarded(&copy_comment, &copy, JPEG_COMMENT_ACCESS_ERROR);
    if (r == JPEG_OK) {
        segment[0] = 0xFF;
        segment[1] = 0xFE;
        put16(segment + 2, static_cast<uint32_t>(n + 2));
        r = emit(stream, segment, n + 4);
    }
    std::free(segment);
    return r;
}

int32_t write_dqt(INPUT_SOURCE *stream, int32_t table_id, int32_t precision,
                  const int16_t *entries) {
    uint8_t s[4 + 1 + 128];
    const bool wide = precision != 0;
    const int32_t length = wide ? 131 : 67;
    s[0] = 0xFF;
    s[1] = 0xDB;
    put16(s + 2, static_cast<uint32_t>(length));
    s[4] = static_cast<uint8_t>(((wide ? 1 : 0) << 4) | (table_id & 0x0F));
    uint8_t *p = s + 5;
    for (int32_t i = 0; i < 64; ++i) {
        const auto v = static_cast<uint16_t>(entries[i]);
        if (wide) *p++ = static_cast<uint8_t>(v >> 8);
        *p++ = static_cast<uint8_t>(v);
    }
    return emit(stream, s, length + 2);
}

int32_t write_dht_one(INPUT_SOURCE *stream, int32_t table_class, int32_t table_id,
                      const uint8_t counts[16], const uint8_t *symbols) {
    const int32_t m = huffman_symbol_count(counts);
    if (m > kMaxEncodeSymbols) return JPEG_BAD_HUFFMAN_TABLE;
    uint8_t s[4 + 17 + kMaxEncodeSymbols];
    s[0] = 0xFF;
    s[1] = 0xC4;
    put16(s + 2, static_cast<uint32_t>(19 + m));
    s[4] = static_cast<uint8_t>(((table_class & 1) << 4) | (table_id & 0x0F));
    std::memcpy(s + 5, counts, 16);
    if (m > 0) std::memcpy(s + 21, symbols, static_cast<size_t>(m));
    return emit(stream, s, 21 + m);
}

int32_t write_dht_all(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props) {
    const int32_t tables = 2 * props->huffman_table_bound;
    if (tables < 0 || tables > 8) return JPEG_BAD_HUFFMAN_TABLE;
    // Check every table before the first byte goes out.
    int32_t total = 2;
    for (int32_t i = 0; i < tables; ++i) {
        const RAW_HUFFMAN_TABLE &t = props->raw_huffman_tables[i];
        if (t.bits == nullptr || t.values == nullptr) return JPEG_BAD_HUFFMAN_TABLE;
        const int32_t m = huffman_symbol_count(t.bits);
        if (m > kMaxEncodeSymbols) return JPEG_BAD_HUFFMAN_TABLE;
        total += 17 + m;
    }
    uint8_t head[4] = {0xFF, 0xC4};
    put16(head + 2, static_cast<uint32_t>(total));
    int32_t r = emit(stream, head, 4);
    for (int32_t i = 0; i < tables && r == JPEG_OK; ++i) {
        const RAW_HUFFMAN_TABLE &t = props->raw_huffman_tables[i];
        const int32_t m = huffman_symbol_count(t.bits);
        uint8_t s[17 + kMaxEncodeSymbols];
        s[0] = static_cast<uint8_t>(((t.table_class & 1) << 4) | (t.table_id & 0x0F));
        std::memcpy(s + 1, t.bits, 16);
        if (m > 0) std::memcpy(s + 17, t.values, static_cast<size_t>(m));
        r = emit(stream, s, 17 + m);
    }
    return r;
}

int32_t write_sof(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props, uint8_t marker) {
    const int32_t nf = props->frame_component_count;
    if (nf < 1 || nf > QRL_MAX_COMPONENTS || props->frame_components == nullptr)
        return JPEG_ERR_COMP;
    uint8_t s[10 + 3 * QRL_MAX_COMPONENTS];
    s[0] = 0xFF;
    s[1] = marker;
    put16(s + 2, static_cast<uint32_t>(8 + 3 * nf));
    s[4] = 8;
    put16(s + 5, static_cast<uint32_t>(props->frame_height));
    put16(s + 7, static_cast<uint32_t>(props->frame_width));
    s[9] = static_cast<uint8_t>(nf);
    const bool progressive = marker == 0xC2;
    for (int32_t i = 0; i < nf; ++i) {
        const COMPONENT_INFO &c = props->frame_components[i];
        uint8_t *p = s + 10 + 3 * i;
        p[0] = static_cast<uint8_t>(progressive ? i : sequential_id(nf, i));
        p[1] = nf == 1 ? 0x11 : static_cast<uint8_t>((c.h_sampling << 4) | (c.v_sampling & 0x0F));
        p[2] = static_cast<uint8_t>(c.quant_table);
    }
    return emit(stream, s, 10 + 3 * nf);
}

int32_t write_sos_sequential(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props,
                             const SCAN_INFO *scan) {
    const int32_t ns = scan->scan_component_count;
    if (ns < 1 || ns > QRL_MAX_COMPONENTS) return JPEG_ERR_COMP;
    uint8_t s[8 + 2 * QRL_MAX_COMPONENTS];
    s[0] = 0xFF;
    s[1] = 0xDA;
    put16(s + 2, static_cast<uint32_t>(6 + 2 * ns));
    s[4] = static_cast<uint8_t>(ns);
    for (int32_t i = 0; i < ns; ++i) {
        uint8_t *p = s + 5 + 2 * i;
        p[0] = static_cast<uint8_t>(sequential_id(ns, i));
        p[1] = ns == 1 ? 0x00
                       : static_cast<uint8_t>(((props->dc_table_of_scan_component[i] & 0x0F) << 4) |
                                              (props->ac_table_of_scan_component[i] & 0x0F));
    }
    uint8_t *p = s + 5 + 2 * ns;
    p[0] = 0;
    p[1] = 63;
    p[2] = 0;
    return emit(stream, s, 8 + 2 * ns);
}

int32_t write_sos_progressive(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props,
                              const SCAN_INFO *scan) {
    const int32_t ns = scan->scan_component_count;
    if (ns < 1 || ns > QRL_MAX_COMPONENTS) return JPEG_ERR_COMP;
    uint8_t s[8 + 2 * QRL_MAX_COMPONENTS];
    s[0] = 0xFF;
    s[1] = 0xDA;
    put16(s + 2, static_cast<uint32_t>(6 + 2 * ns));
    s[4] = static_cast<uint8_t>(ns);
    for (int32_t i = 0; i < ns; ++i) {
        const int32_t f = scan->scan_components[i].component_index & 3;
        uint8_t *p = s + 5 + 2 * i;
        p[0] = static_cast<uint8_t>(f);
        p[1] = static_cast<uint8_t>(((props->dc_table_of_scan_component[f] & 0x0F) << 4) |
                                    (props->ac_table_of_scan_component[f] & 0x0F));
    }
    uint8_t *p = s + 5 + 2 * ns;
    p[0] = static_cast<uint8_t>(scan->spectral_start);
    p[1] = static_cast<uint8_t>(scan->spectral_end);
    p[2] = static_cast<uint8_t>((scan->approx_high << 4) | (scan->approx_low & 0x0F));
    return emit(stream, s, 8 + 2 * ns);
}

int32_t write_dri(INPUT_SOURCE *stream, int32_t restart_interval) {
    uint8_t s[6] = {0xFF, 0xDD, 0x00, 0x04};
    put16(s + 4, static_cast<uint32_t>(restart_interval));
    return emit(stream, s, 6);
}

int32_t write_rst(INPUT_SOURCE *stream, int32_t n) {
    if (n < 0 || n > 7) return JPEG_BAD_RST_MARKER;
    const uint8_t s[2] = {0xFF, static_cast<uint8_t>(0xD0 + n)};
    return emit(stream, s, 2);
}

} // namespace qrl
