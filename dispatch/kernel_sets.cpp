// The kernel sets. Each set is a complete table, copied whole into an
// instance, so a fill never keeps a slot from an earlier fill. Run-time
// slots stay empty (null) except dequantize_active and quantize_active, which
// start as the fast kernels.
//
// Kernel owners replace the nullptr of their slot with the portable kernel;
// SIMD sets override the slots that have a SIMD twin. Leave quantize_active
// and dequantize_active as nullptr in every set: finish_set() copies the
// set's own quantize_fast and dequantize_fast into them.
#include "dispatch/kernel_table.h"
#include "transform/transform.h"

#include "decode/block_decode.h"
#include "encode/huffman_encode.h"
#include "encode/out_stream.h"
#include "pixels/input.h"
#include "pixels/color_kernels.h"

namespace qrl {
namespace {

constexpr KERNEL_TABLE kPortableSet = {
    .simd_state_reset = simd_state_reset_none,
    .fdct_fast = fdct_fast,
    .fdct_accurate = fdct_accurate,
    .idct_fast_8x8 = idct_fast_8x8,
    .idct_fast_4x4 = idct_fast_4x4,
    .idct_fast_2x2 = idct_fast_2x2,
    .idct_fast_1x1 = idct_fast_1x1,
    .idct_accurate_8x8 = idct_accurate_8x8,
    .idct_accurate_4x4 = idct_accurate_4x4,
    .idct_accurate_2x2 = idct_accurate_2x2,
    .idct_accurate_1x1 = idct_accurate_1x1,
    .fdct_active = nullptr,
    .idct_active_8x8 = nullptr,
    .idct_active_4x4 = nullptr,
    .idct_active_2x2 = nullptr,
    .idct_active_1x1 = nullptr,
    .out_stream_open = out_stream_open,
    .out_stream_write = out_stream_write,
    .mcu_reader = nullptr,
    .get_gray_8x8 = get_gray_8x8,
    .rgb_to_ycc_h1v1 = rgb_to_ycc_h1v1,
    .rgb_to_ycc_h2v1 = rgb_to_ycc_h2v1,
    .rgb_to_ycc_h2v2 = rgb_to_ycc_h2v2,
    .bgr_to_ycc_h1v1 = bgr_to_ycc_h1v1,
    .bgr_to_ycc_h2v1 = bgr_to_ycc_h2v1,
    .bgr_to_ycc_h2v2 = bgr_to_ycc_h2v2,
    .deinterleave3_h1v1 = deinterleave3_h1v1,
    .deinterleave3_h2v1 = deinterleave3_h2v1,
    .deinterleave3_h2v2 = deinterleave3_h2v2,
    .packed422_to_ycc = packed422_to_ycc,
    .cmyk_to_ycck_h1v1 = cmyk_to_ycck_h1v1,
    .cmyk_to_ycck_h2v1 = cmyk_to_ycck_h2v1,
    .cmyk_to_ycck_h2v2 = cmyk_to_ycck_h2v2,
    .deinterleave4_h1v1 = deinterleave4_h1v1,
    .mcu_writer = nullptr,
    .put_gray_8x8 = put_gray_8x8,
    .ycc_to_rgb_h1v1 = ycc_to_rgb_h1v1,
    .ycc_to_rgb_h2v1 = ycc_to_rgb_h2v1,
    .ycc_to_rgb_h2v2 = ycc_to_rgb_h2v2,
    .ycc_to_bgr_h1v1 = ycc_to_bgr_h1v1,
    .ycc_to_bgr_h2v1 = ycc_to_bgr_h2v1,
    .ycc_to_bgr_h2v2 = ycc_to_bgr_h2v2,
    .ycc_to_rgba_h1v1 = ycc_to_rgba_h1v1,
    .ycc_to_rgba_h2v1 = ycc_to_rgba_h2v1,
    .ycc_to_rgba_h2v2 = ycc_to_rgba_h2v2,
    .interleave3_h1v1 = interleave3_h1v1,
    .interleave3_h2v1 = interleave3_h2v1,
    .interleave3_h2v2 = interleave3_h2v2,
    .interleave3_alpha_h1v1 = interleave3_alpha_h1v1,
    .ycc_to_packed422 = ycc_to_packed422,
    .ycck_to_cmyk_h1v1 = ycck_to_cmyk_h1v1,
    .ycck_to_cmyk_h2v1 = ycck_to_cmyk_h2v1,
    .ycck_to_cmyk_h2v2 = ycck_to_cmyk_h2v2,
    .interleave4_h1v1 = interleave4_h1v1,
    .encode_huffman_block = encode_huffman_block,
    .decode_huffman_block = decode_huffman_block,
    .decode_huffman_dc_only = decode_huffman_dc_only,
    .quantize_fast = quantize_fast,
    .quantize_accurate = quantize_accurate,
    .quantize_active = nullptr,
    .dequantize_fast = dequantize_fast,
    .dequantize_accurate = dequantize_accurate,
    .dequantize_active = nullptr,
};

// SIMD sets start from the portable set and replace the slots that have a
// SIMD twin (classes 3, 4, 5, 6).
constexpr KERNEL_TABLE make_set_a() {
    KERNEL_TABLE t = kPortableSet;
#ifdef QRL_X86_SIMD
    // Transform kernels: one SSE2 routine per slot serves sets A to D.
    t.simd_state_reset = simd_state_reset_sse2;
    t.idct_fast_8x8 = idct_fast_8x8_sse2;
    t.idct_accurate_8x8 = idct_accurate_8x8_sse2;
    t.dequantize_accurate = dequantize_accurate_sse2;
    t.fdct_fast = fdct_fast_sse2;
    t.fdct_accurate = fdct_accurate_sse2;
    t.quantize_fast = quantize_fast_sse2;
    t.quantize_accurate = quantize_accurate_sse2;
    // Entropy decoding: set A reads bytes one by one in the block decoder.
    t.decode_huffman_block = decode_huffman_block_sse2;
    t.decode_huffman_dc_only = decode_huffman_dc_only_sse2;
    // Entropy encoding and the output stream: the wide bit accumulator.
    t.encode_huffman_block = encode_huffman_block_sse2;
    t.out_stream_open = out_stream_open_wide;
    t.out_stream_write = out_stream_write_wide;
    // Encoder input kernels: one SSE2 routine per slot serves sets A to D;
    // the deinterleaving kernels stay portable.
    t.get_gray_8x8 = get_gray_8x8_sse2;
    t.rgb_to_ycc_h1v1 = rgb_to_ycc_h1v1_sse2;
    t.rgb_to_ycc_h2v1 = rgb_to_ycc_h2v1_sse2;
    t.rgb_to_ycc_h2v2 = rgb_to_ycc_h2v2_sse2;
    t.bgr_to_ycc_h1v1 = bgr_to_ycc_h1v1_sse2;
    t.bgr_to_ycc_h2v1 = bgr_to_ycc_h2v1_sse2;
    t.bgr_to_ycc_h2v2 = bgr_to_ycc_h2v2_sse2;
    t.packed422_to_ycc = packed422_to_ycc_sse2;
    t.cmyk_to_ycck_h1v1 = cmyk_to_ycck_h1v1_sse2;
    t.cmyk_to_ycck_h2v1 = cmyk_to_ycck_h2v1_sse2;
    t.cmyk_to_ycck_h2v2 = cmyk_to_ycck_h2v2_sse2;
    // Output kernels: one SSE2 routine per slot serves sets A to D; the
    // converting ones round the red and blue terms down (see
    // pixels/color_kernels.h), the interleaving kernels stay portable.
    t.put_gray_8x8 = put_gray_8x8_sse2;
    t.ycc_to_rgb_h1v1 = ycc_to_rgb_h1v1_sse2;
    t.ycc_to_rgb_h2v1 = ycc_to_rgb_h2v1_sse2;
    t.ycc_to_rgb_h2v2 = ycc_to_rgb_h2v2_sse2;
    t.ycc_to_bgr_h1v1 = ycc_to_bgr_h1v1_sse2;
    t.ycc_to_bgr_h2v1 = ycc_to_bgr_h2v1_sse2;
    t.ycc_to_bgr_h2v2 = ycc_to_bgr_h2v2_sse2;
    t.ycc_to_rgba_h1v1 = ycc_to_rgba_h1v1_sse2;
    t.ycc_to_rgba_h2v1 = ycc_to_rgba_h2v1_sse2;
    t.ycc_to_rgba_h2v2 = ycc_to_rgba_h2v2_sse2;
    t.ycc_to_packed422 = ycc_to_packed422_sse2;
    t.ycck_to_cmyk_h1v1 = ycck_to_cmyk_h1v1_sse2;
    t.ycck_to_cmyk_h2v1 = ycck_to_cmyk_h2v1_sse2;
    t.ycck_to_cmyk_h2v2 = ycck_to_cmyk_h2v2_sse2;
#endif
    return t;
}
constexpr KERNEL_TABLE make_set_b() {
    KERNEL_TABLE t = make_set_a();
#ifdef QRL_X86_SIMD
    // From set B on the block decoder takes four bytes at once.
    t.decode_huffman_block = decode_huffman_block_wide_sse2;
#endif
    return t;
}
constexpr KERNEL_TABLE make_set_c() {
    KERNEL_TABLE t = make_set_b();
    return t;
}
constexpr KERNEL_TABLE make_set_d() {
    KERNEL_TABLE t = make_set_c();
    return t;
}
// Set D on a processor with AVX2: the accurate dequantizer and inverse
// transform, the accurate quantizer and the encoder's 3-byte input converters
// on 256-bit registers, and the 3-byte color converters with byte shuffles
// (identical results).
constexpr KERNEL_TABLE make_set_d_avx2() {
    KERNEL_TABLE t = make_set_d();
#ifdef QRL_X86_SIMD
    t.idct_accurate_8x8 = idct_accurate_8x8_avx2;
    t.dequantize_accurate = dequantize_accurate_avx2;
    t.quantize_accurate = quantize_accurate_avx2;
    t.rgb_to_ycc_h1v1 = rgb_to_ycc_h1v1_avx2;
    t.rgb_to_ycc_h2v1 = rgb_to_ycc_h2v1_avx2;
    t.rgb_to_ycc_h2v2 = rgb_to_ycc_h2v2_avx2;
    t.bgr_to_ycc_h1v1 = bgr_to_ycc_h1v1_avx2;
    t.bgr_to_ycc_h2v1 = bgr_to_ycc_h2v1_avx2;
    t.bgr_to_ycc_h2v2 = bgr_to_ycc_h2v2_avx2;
    t.ycc_to_rgb_h1v1 = ycc_to_rgb_h1v1_avx2;
    t.ycc_to_rgb_h2v1 = ycc_to_rgb_h2v1_avx2;
    t.ycc_to_rgb_h2v2 = ycc_to_rgb_h2v2_avx2;
    t.ycc_to_bgr_h1v1 = ycc_to_bgr_h1v1_avx2;
    t.ycc_to_bgr_h2v1 = ycc_to_bgr_h2v1_avx2;
    t.ycc_to_bgr_h2v2 = ycc_to_bgr_h2v2_avx2;
#endif
    return t;
}

// True when the processor and the system's register saving support AVX2.
bool cpu_has_avx2() {
#if defined(QRL_X86_SIMD) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// The run-time slots that do not start empty: quantize_active and
// dequantize_active hold the set's fast kernels until an operation picks a
// method.
constexpr KERNEL_TABLE finish_set(KERNEL_TABLE t) {
    t.quantize_active = t.quantize_fast;
    t.dequantize_active = t.dequantize_fast;
    return t;
}

constexpr KERNEL_TABLE kPortableFilled = finish_set(kPortableSet);
constexpr KERNEL_TABLE kSetA = finish_set(make_set_a());
constexpr KERNEL_TABLE kSetB = finish_set(make_set_b());
constexpr KERNEL_TABLE kSetC = finish_set(make_set_c());
constexpr KERNEL_TABLE kSetD = finish_set(make_set_d());
constexpr KERNEL_TABLE kSetDAvx2 = finish_set(make_set_d_avx2());

} // namespace

const KERNEL_TABLE &kernel_set_table(KernelSet set) {
    switch (set) {
    case KernelSet::A: return kSetA;
    case KernelSet::B: return kSetB;
    case KernelSet::C: return kSetC;
    case KernelSet::D: return cpu_has_avx2() ? kSetDAvx2 : kSetD;
    case KernelSet::Portable: break;
    }
    return kPortableFilled;
}

} // namespace qrl
