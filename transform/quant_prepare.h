// Quantization-table preparation for the decoder (derived dequantization
// tables) and the encoder (forward reciprocal tables).
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Derived dequantization table: 80 entries, 0..63 in natural order, 64..79 zero.
constexpr int32_t kDerivedTableEntries = 80;

// In: the 64 quantizer values of one DQT table, zig-zag order, as signed 16-bit
// entries. Out: the derived table (entries 64..79 zero).
// Fast: entry = low16(trunc(q * aan_scale_factors[k] * 0.0625 * 32768 + 0.5)),
// i.e. round(q * s(u) * s(v) * 256); wraps for large quantizers (see below).
void prepare_dequant_table_fast(int16_t *table);
// Accurate: the quantizers, reordered to natural order.
void prepare_dequant_table_accurate(int16_t *table);

// True when every fast entry of these 64 zig-zag quantizers lies in 0..32767,
// so that the fast derived table holds their true values.
[[nodiscard]] bool dequant_values_fit_fast(const int16_t *zigzag_values);

// The DQT handler's entry (also for tables rebuilt from raw caller tables).
// slot->coefficients holds the 64 zig-zag values. dct_method 1 prepares the
// accurate table; any other value the fast table when the values fit it, and
// otherwise the accurate table with slot->accurate_fallback set to 1 (it is
// cleared in the other cases).
void prepare_dequant_slot(QUANT_TABLE *slot, int32_t dct_method);

// Converts a fast derived table back to the accurate one. Exact for tables whose
// values fit the fast form (each fast entry is at least 19 times its quantizer,
// so rounding can be undone).
void convert_fast_table_to_accurate(int16_t *table);

// The scan set-up's choice of family: 1 (accurate) when dct_method is 1, or when
// any quantization-table slot holds an accurate fallback table; in that case
// every other slot's fast table is converted to the accurate form and marked,
// so that all tables of the record match the kernels. Otherwise 0 (fast).
[[nodiscard]] int32_t settle_decode_method(JPEG_PROPERTIES *props);

// ---- Encoder -----------------------------------------------------------------
// In: 64 quality-scaled quantizers (1..255) in zig-zag order. Out: the forward
// reciprocal table in natural order in the same storage (entries 64..79 are not
// touched). The values are read from a copy, so in-place conversion cannot read
// an entry already overwritten. Quantizers below 1 are taken as 1.
// Fast: r = ((q >> 1) + aan_forward_numerators[k]) / q, where the quantizer at
// zig-zag position 63 is first raised to kFastQuantLastMinimum to keep that
// reciprocal within 16 bits. The DQT segment of a fast encode must carry the
// raised value, or decoders restore that coefficient at half strength: call
// fast_quant_raise_last on the scaled values before writing the segment.
constexpr int16_t kFastQuantLastMinimum = 2;
void fast_quant_raise_last(int16_t *zigzag_values);
void prepare_quant_table_fast(int16_t *table);
// Accurate: r = 32768 / q as a 16-bit pattern, read back unsigned.
void prepare_quant_table_accurate(int16_t *table);

// AAN forward numerators by zig-zag position, about 4096 / (s(u) * s(v)).
extern const int32_t aan_forward_numerators[64];

} // namespace qrl
