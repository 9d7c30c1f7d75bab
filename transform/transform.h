// Dequantization, inverse and forward DCT and quantization kernels.
//
// Blocks are 64 signed 16-bit values in natural (row-major) order, index
// 8*v + u. Every kernel works in place; they are reached through the kernel
// table and are pure functions of their arguments.
//
// Two arithmetic families, chosen by dct_method (1 accurate, anything else
// fast). A fast derived table must only meet the fast dequantizer and the fast
// transforms, an accurate table only the accurate ones.
//
// Fast tables whose entries do not fit 16 bits (quantizers above about 66 at
// the most heavily weighted positions, DC quantizers of 128 or more) cannot
// give correct pixels in the fast family. The decoder never builds them:
// prepare_dequant_slot keeps such a table in the accurate form and marks it
// (QUANT_TABLE::accurate_fallback), and settle_decode_method, run at every scan
// set-up, then brings the record's other tables to the accurate form and
// selects the accurate kernels. See transform/quant_prepare.h.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define QRL_X86_SIMD 1
#endif

namespace qrl {

// ---- Portable kernels --------------------------------------------------------
// block[i] = low16((block[i] * table[i] + 64) >> 7): fast table, fast input scale.
void dequantize_fast(int16_t *block, const int16_t *table);
// block[i] = low16(block[i] * table[i]).
void dequantize_accurate(int16_t *block, const int16_t *table);

// 8x8 inverse transforms: dequantized coefficients -> 64 samples 0..255.
void idct_fast_8x8(int16_t *block);     // AAN factorisation, 16-bit intermediates
void idct_accurate_8x8(int16_t *block); // rotation form, 32-bit workspace

// Reduced inverse transforms: the top-left n x n entries (row stride 8) receive
// the means of the n x n groups of the full-size result; the other entries are
// used as scratch and hold nothing meaningful afterwards.
void idct_fast_4x4(int16_t *block);
void idct_fast_2x2(int16_t *block);
void idct_fast_1x1(int16_t *block);
void idct_accurate_4x4(int16_t *block);
void idct_accurate_2x2(int16_t *block);
void idct_accurate_1x1(int16_t *block);

// Forward transforms: level-shifted samples -> coefficients. The fast one's
// output carries the AAN factor 8*s(u)*s(v) that the fast quantization table
// removes; the accurate one gives the T.81 coefficients.
void fdct_fast(int16_t *block);
void fdct_accurate(int16_t *block);
// block[i] = low16((block[i] * table[i] + 16384) >> 15), table signed (fast)
// or unsigned (accurate: the reciprocal of 1 is 32768, stored as 0x8000).
void quantize_fast(int16_t *block, const int16_t *table);
void quantize_accurate(int16_t *block, const int16_t *table);

// Portable simd_state_reset: nothing to clear.
void simd_state_reset_none();

// ---- SIMD twins (x86 SSE2, one routine shared by sets A to D) ---------------
// Compiled only on x86 (QRL_X86_SIMD); simd_kernels_built() says whether they
// exist. SSE2 is part of every x86-64 processor; no wider instructions are used.
//
// dequantize_accurate_sse2: identical to the portable kernel for all inputs.
//
// idct_fast_8x8_sse2: the AAN dataflow in 16-bit lanes. Every addition wraps in
// 16 bits; each multiplication pre-shifts its operand left by 2 (by 3 for the
// factor -2.613281) and keeps the high 16 bits of the product with 23040
// (1.40625), 30272 (1.847656), 17728 (1.082031) or -21408 (-2.613281), so it
// rounds toward minus infinity; the odd part is arranged as
//   z5 = (z10 + z12)*1.847656, t10 = z12*1.082031 - z5, t12 = z10*-2.613281 + z5.
// The output descale is clamp((y >> 4) + 128), without the rounding term 8.
// The samples mostly equal the portable ones and otherwise differ by a few
// levels, more often downward.
// This arithmetic is only meaningful while no lane wraps. Before each pass the
// kernel checks its inputs: every input magnitude (|x|, with -x-1 for
// negative x) at most kSimdFastInputLimit, and the operands of the three
// multiplications that can leave range, z10 within -4096..4095 and z10 + z12
// and z11 - z13 within -8192..8191. If any check fails for a pass, the whole
// block is transformed by the portable idct_fast_8x8 instead.
constexpr int32_t kSimdFastInputLimit = 2800; // 1-D gain <= 11.45, so outputs stay below 32767
//
// idct_accurate_8x8_sse2: row pass (sum_u block[8v+u] * M_v(u, x) + 2048) >> 12
// with 32-bit multiply-adds, saturated to 16 bits; M_v(u, x) =
// round(16384 * k(v) * a(u) * cos((2x+1)u*pi/16)), a(0) = 1, a(u) = sqrt(2),
// k = 1, sqrt(2)cos(pi/16), sqrt(2)cos(2pi/16), sqrt(2)cos(3pi/16) for the row
// pairs {0,4}, {1,7}, {2,6}, {3,5}. Column pass in 16-bit saturating lanes with
// high-half products by tan(pi/16), tan(pi/8), tan(3pi/16) - 1 and
// cos(pi/4) - 1 (Q16) and the rounding terms documented in
// idct_accurate_sse2.cpp, then >> 5, + 128 with saturation and an unsigned
// saturating pack. Saturates where the portable kernel wraps, so the two part
// only on corrupt data.
// Within 1 of the portable result on blocks of ordinary magnitude; always 0..255.
bool simd_kernels_built();
void dequantize_accurate_sse2(int16_t *block, const int16_t *table);
void idct_fast_8x8_sse2(int16_t *block);
void idct_accurate_8x8_sse2(int16_t *block);
// idct_accurate_8x8_avx2: the same arithmetic as idct_accurate_8x8_sse2
// (bit-exact with the portable kernel) on 256-bit registers. Set D holds it
// in place of the SSE2 kernel when the processor and system support AVX2,
// decided once when the table is filled (see dispatch/kernel_sets.cpp).
void idct_accurate_8x8_avx2(int16_t *block);
// dequantize_accurate_avx2: identical to the portable kernel; set D's
// dequantizer where the processor has AVX2.
void dequantize_accurate_avx2(int16_t *block, const int16_t *table);
void simd_state_reset_sse2();
// Fast forward DCT: identical to fdct_fast. Its 16-bit lanes hold every value
// of both passes for inputs of magnitude up to kSimdFdctInputLimit (|x|, or
// -x-1 for negative x; 2-D gain below 101.1); other blocks take the portable
// kernel.
constexpr int32_t kSimdFdctInputLimit = 319;
void fdct_fast_sse2(int16_t *block);
// Accurate forward DCT: tangent-form column pass in 16-bit lanes, then 32-bit
// multiply-add rows (arithmetic in fdct_sse2.cpp); within about one unit of
// fdct_accurate. Blocks with an input magnitude above
// kSimdFdctAccurateInputLimit take the portable kernel.
constexpr int32_t kSimdFdctAccurateInputLimit = 254;
void fdct_accurate_sse2(int16_t *block);
// Quantizers: identical to the portable kernels for all inputs.
void quantize_fast_sse2(int16_t *block, const int16_t *table);
void quantize_accurate_sse2(int16_t *block, const int16_t *table);
// The accurate one on 256-bit registers: set D's where the processor has AVX2
// (the fast quantizer stays one SSE2 kernel for every set).
void quantize_accurate_avx2(int16_t *block, const int16_t *table);

} // namespace qrl
