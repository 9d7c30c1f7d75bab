// Whole-MCU Huffman decoding for the sequential scan loop. It gives exactly
// the results of the block kernel it stands in for (the portable kernel, or
// the SIMD sets' kernels), but keeps the accumulator in registers across the
// blocks of an MCU, decodes a code together with its value bits from one
// per-scan look-up table, and takes several bytes at once where none of them
// is 0xFF.
#pragma once

#include <cstdint>

#include "codec/codec.h"
#include "decode/scan_common.h"
#include "dispatch/kernel_table.h"

namespace qrl {

// Bits that index the per-scan look-up table.
constexpr int32_t kFastLookupBits = 10;

// One entry per value of the next kFastLookupBits bits, 0 when those bits
// begin no code of kFastLookupBits bits or fewer. Bits 0-4: the bits consumed.
// Bit 5 clear: bits 8-15 hold the symbol, whose value bits follow. Bit 5 set:
// the bits consumed include the value bits, bits 16-31 hold the extended
// value (0 for s = 0) and bits 7-13 the zig-zag advance of an AC symbol
// (r + 1; 64 for an end of block).
constexpr uint32_t kFastLengthMask = 31;
constexpr uint32_t kFastValueIncluded = 32;
constexpr int32_t kFastAdvanceShift = 7;
constexpr uint32_t kFastAdvanceMask = 127;
struct FAST_HUFFMAN {
    uint32_t entry[1u << kFastLookupBits];
};

// Derives the look-up table from a decode table, code by code as the kernels
// decode (8-bit look-ahead first, then the canonical search).
void build_fast_huffman(const HUFFMAN_DECODE_TABLE *table, FAST_HUFFMAN *fast);

// The kernel behaviour the whole-MCU decoder reproduces.
enum class FastDecoder : int32_t { kNone, kPortable, kWide };

// Per-call state of the whole-MCU decoder for one scan.
struct FAST_SCAN {
    FastDecoder decoder;
    int32_t count; // scan components
    int32_t blocks[QRL_MAX_COMPONENTS];
    const HUFFMAN_DECODE_TABLE *dc[QRL_MAX_COMPONENTS];
    const HUFFMAN_DECODE_TABLE *ac[QRL_MAX_COMPONENTS];
    const FAST_HUFFMAN *fast_dc[QRL_MAX_COMPONENTS];
    const FAST_HUFFMAN *fast_ac[QRL_MAX_COMPONENTS];
    int32_t ended;        // SIMD behaviour: the data ran out during this call
    int32_t mcu_repeated; // every block of the last unit was a repeated one
    // Once every further bit of the scan reads as 0 (the data ended, or a
    // marker stopped it), each block of a component decodes the same way; the
    // first such block is decoded and recorded, later ones are copies of it.
    int32_t repeat_state[QRL_MAX_COMPONENTS]; // state it was recorded in, 0 = none
    int32_t repeat_sets_dc[QRL_MAX_COMPONENTS];
    int16_t repeat_diff[QRL_MAX_COMPONENTS];
    alignas(16) int16_t repeat_block[QRL_MAX_COMPONENTS][64];
    int32_t table_count;
    const HUFFMAN_DECODE_TABLE *table_source[2 * QRL_MAX_COMPONENTS];
    FAST_HUFFMAN tables[2 * QRL_MAX_COMPONENTS];
};

// Prepares `fs` for a scan whose blocks `kernel` would decode. False when the
// kernel is not one whose behaviour is reproduced here (the caller then calls
// it block by block).
[[nodiscard]] bool setup_fast_scan(const SCAN_LAYOUT &layout, DecodeBlockFn kernel, FAST_SCAN *fs);

// Decodes the blocks of one unit into `mcu` as the kernel would, updating the
// predictors (16-bit values kept sign-extended). Returns 0 or the kernel's
// negative result; after an error the unit's later blocks are not decoded.
[[nodiscard]] int32_t decode_mcu_fast(INPUT_SOURCE *src, FAST_SCAN *fs, int32_t *dc_predictors, int16_t *mcu);

} // namespace qrl
