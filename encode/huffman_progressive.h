// Progressive Huffman encoding (ITU-T T.81 Annex G.1.2): DC and AC first and
// refinement scans, the symbol statistics of one scan, and the optimal table
// built from them (Annex K.2 with the length limiting of K.3).
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Counters per symbol 0..255 plus one for the reserved code point.
constexpr int32_t kStatisticsSymbols = 257;
// Correction bits buffered before they must be written (1000 - 63: one more
// block's bits always fit).
constexpr int32_t kCorrectionBufferBytes = 1000;
constexpr int32_t kCorrectionFlushThreshold = kCorrectionBufferBytes - 63;
// Longest end-of-band run one symbol codes.
constexpr int32_t kMaxEobRun = 0x7FFF;

using ScanStatistics = int32_t[4][kStatisticsSymbols];

// Where the decisions of the block procedures go: symbols and bits to the
// stream (table set, statistics null) or symbols counted (statistics set).
// The first write error is kept; later writes are skipped.
struct ProgressiveSink {
    INPUT_SOURCE *stream;
    const HUFFMAN_ENCODE_TABLE *table;
    int32_t *statistics;
    int32_t eob_run;
    int32_t correction_count; // BE
    int32_t error;
    uint8_t correction[kCorrectionBufferBytes];
};

void init_sink_for_writing(ProgressiveSink *sink, INPUT_SOURCE *stream,
                           const HUFFMAN_ENCODE_TABLE *table);
void init_sink_for_counting(ProgressiveSink *sink, int32_t *statistics);

// Block procedures; each writes through (or counts into) the sink.
void encode_dc_scan_block(ProgressiveSink *sink, int16_t *dc_predictor, const int16_t *block,
                          int32_t refinement, int32_t al);
void encode_ac_first(ProgressiveSink *sink, const int16_t *block, int32_t ss, int32_t se,
                     int32_t al);
void encode_ac_refine(ProgressiveSink *sink, const int16_t *block, int32_t ss, int32_t se,
                      int32_t al);
void emit_eob_run(ProgressiveSink *sink);
void emit_correction_bits(ProgressiveSink *sink, const uint8_t *bits, int32_t count);

// Counts the symbols of one scan of the script over coefficient_buffer.
[[nodiscard]] int32_t gather_scan_statistics(JPEG_PROPERTIES *props, INPUT_SOURCE *stream,
                                             const SCAN_INFO *scan, ScanStatistics statistics);

// counts_out: 16 code-length counts; symbols_out: 256 bytes. Returns the
// number of symbols listed. Never produces a code longer than 16 bits nor a
// code of only 1-bits.
int32_t make_optimal_huffman_table(const int32_t statistics[kStatisticsSymbols],
                                   uint8_t counts_out[16], uint8_t symbols_out[256]);

// Encodes one scan of the script from coefficient_buffer with the encode
// tables installed for it, then pads and flushes the last byte.
[[nodiscard]] int32_t encode_progressive_scan(JPEG_PROPERTIES *props, INPUT_SOURCE *stream,
                                              SCAN_INFO *scan);

} // namespace qrl
