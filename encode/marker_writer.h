// Marker segment writers. Each builds its segment in a local buffer and hands
// it to the stream's write kernel in one piece (the all-tables DHT in one
// piece per table), so pending entropy-coded bits are flushed first.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// The text the default comment is formatted from; filled with the
// internal version string of codec_version().
inline constexpr const char kDefaultCommentFormat[] = "quorrel 1.51.12 %s";

// Largest number of symbols one Huffman table may carry; the same limit is
// used when a DHT segment is written and when an encode table is built.
constexpr int32_t kMaxEncodeSymbols = 257;

[[nodiscard]] int32_t write_soi(INPUT_SOURCE *stream);
[[nodiscard]] int32_t write_eoi(INPUT_SOURCE *stream);
[[nodiscard]] int32_t write_jfif(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props);
// transform: 0 (no transform, RGB or CMYK) or 2 (YCCK).
[[nodiscard]] int32_t write_adobe(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props,
                                  uint8_t transform);
// The caller's comment (jpeg_comment, jpeg_comment_size) or the default one.
[[nodiscard]] int32_t write_comment(INPUT_SOURCE *stream, JPEG_PROPERTIES *props);
// entries: 64 values in the order they go out (zig-zag); precision 0 = 8-bit.
[[nodiscard]] int32_t write_dqt(INPUT_SOURCE *stream, int32_t table_id, int32_t precision,
                                const int16_t *entries);
[[nodiscard]] int32_t write_dht_one(INPUT_SOURCE *stream, int32_t table_class, int32_t table_id,
                                    const uint8_t counts[16], const uint8_t *symbols);
// One DHT segment with the 2 x huffman_table_bound tables of raw_huffman_tables.
[[nodiscard]] int32_t write_dht_all(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props);
// marker: 0xC0 (SOF0, baseline) or 0xC2 (SOF2, progressive).
[[nodiscard]] int32_t write_sof(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props, uint8_t marker);
[[nodiscard]] int32_t write_sos_sequential(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props,
                                           const SCAN_INFO *scan);
[[nodiscard]] int32_t write_sos_progressive(INPUT_SOURCE *stream, const JPEG_PROPERTIES *props,
                                            const SCAN_INFO *scan);
[[nodiscard]] int32_t write_dri(INPUT_SOURCE *stream, int32_t restart_interval);
// RSTn, n = 0..7; any other n gives JPEG_BAD_RST_MARKER.
[[nodiscard]] int32_t write_rst(INPUT_SOURCE *stream, int32_t n);

// Sum of the 16 code-length counts.
[[nodiscard]] int32_t huffman_symbol_count(const uint8_t counts[16]);

} // namespace qrl
