// Per-instance table of kernel entry points: six header words, then 63 slots
// in a fixed order. codec_init fills the slots with one complete kernel set
// (portable, or SIMD set A..D by processor class); the *_active slots and the
// MCU reader/writer are rewritten at run time so that inner loops call one
// fixed slot whatever method or layout is in force.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/codec.h"
#include "dispatch/platform.h"

namespace qrl {

// ---- Slot signatures ------------------------------------------------------
using SimdResetFn = void (*)();
using BlockFn = void (*)(int16_t *block);                            // in-place transform
using TableBlockFn = void (*)(int16_t *block, const int16_t *table); // (de)quantizer
using OutOpenFn = void (*)(INPUT_SOURCE *stream, uint8_t *buffer, int32_t size);
using OutWriteFn = int32_t (*)(const uint8_t *data, int32_t length, INPUT_SOURCE *stream);
using McuFn = int32_t (*)(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);
// Encoder input: pixels -> level-shifted sample blocks.
using GetGrayFn = void (*)(const uint8_t *pixels, int32_t line_bytes, int16_t *block);
using Get3Fn = void (*)(const uint8_t *pixels, int32_t line_bytes, int16_t *c0, int16_t *c1,
                        int16_t *c2);
using Get4Fn = void (*)(const uint8_t *pixels, int32_t line_bytes, int16_t *c0, int16_t *c1,
                        int16_t *c2, int16_t *c3);
// Decoder output: sample blocks -> interleaved pixels.
using Put1Fn = void (*)(const int16_t *block, uint8_t *out, int32_t line_bytes);
using Put3Fn = void (*)(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out,
                        int32_t line_bytes);
using Put4Fn = void (*)(const int16_t *c0, const int16_t *c1, const int16_t *c2,
                        const int16_t *c3, uint8_t *out, int32_t line_bytes);
using EncodeBlockFn = int32_t (*)(INPUT_SOURCE *stream, const HUFFMAN_ENCODE_TABLE *dc,
                                  const HUFFMAN_ENCODE_TABLE *ac, int16_t *dc_predictor,
                                  const int16_t *block);
using DecodeBlockFn = int32_t (*)(INPUT_SOURCE *stream, const HUFFMAN_DECODE_TABLE *dc,
                                  const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor,
                                  int16_t *block);

// ---- Registry entry points (header words), modelled on the system services --
using RegOpenKeyFn = int32_t(QRL_SYSTEM_API *)(uintptr_t root, const char *subkey,
                                               uint32_t options, uint32_t access,
                                               uintptr_t *key_out);
using RegQueryValueFn = int32_t(QRL_SYSTEM_API *)(uintptr_t key, const char *name,
                                                  uint32_t *reserved, uint32_t *type,
                                                  uint8_t *data, uint32_t *size);
using RegCloseKeyFn = int32_t(QRL_SYSTEM_API *)(uintptr_t key);

} // namespace qrl

struct KERNEL_TABLE {
    // Header.
    int32_t scan_header_length;    // bytes of the last SOS segment, marker included
    void *user32_module;           // user-library handle
    void *advapi32_module;         // registry-library handle
    qrl::RegOpenKeyFn reg_open_key;
    qrl::RegQueryValueFn reg_query_value;
    qrl::RegCloseKeyFn reg_close_key;

    // Slots. "SIMD exact" = SIMD twins give the portable result bit for bit.
    qrl::SimdResetFn simd_state_reset; //  1 clears SIMD register state; portable: nothing
    qrl::BlockFn fdct_fast;            //  2 fast forward DCT
    qrl::BlockFn fdct_accurate;        //  3 accurate forward DCT
    qrl::BlockFn idct_fast_8x8;        //  4 fast IDCT; SIMD truncates differently
    qrl::BlockFn idct_fast_4x4;        //  5 reduced fast IDCT (portable)
    qrl::BlockFn idct_fast_2x2;        //  6
    qrl::BlockFn idct_fast_1x1;        //  7
    qrl::BlockFn idct_accurate_8x8;    //  8 accurate IDCT
    qrl::BlockFn idct_accurate_4x4;    //  9 reduced accurate IDCT (portable)
    qrl::BlockFn idct_accurate_2x2;    // 10
    qrl::BlockFn idct_accurate_1x1;    // 11
    qrl::BlockFn fdct_active;          // 12 run time: encoder driver, by dct_method
    qrl::BlockFn idct_active_8x8;      // 13 run time: scan set-up, by dct_method
    qrl::BlockFn idct_active_4x4;      // 14
    qrl::BlockFn idct_active_2x2;      // 15
    qrl::BlockFn idct_active_1x1;      // 16
    qrl::OutOpenFn out_stream_open;    // 17 output stream over a buffer or the file buffer
    qrl::OutWriteFn out_stream_write;  // 18 append bytes (length 0: flush pending bits)
    qrl::McuFn mcu_reader;             // 19 run time: encoder input selection
    qrl::GetGrayFn get_gray_8x8;       // 20 gray pixels -> level-shifted block
    qrl::Get3Fn rgb_to_ycc_h1v1;       // 21
    qrl::Get3Fn rgb_to_ycc_h2v1;       // 22
    qrl::Get3Fn rgb_to_ycc_h2v2;       // 23
    qrl::Get3Fn bgr_to_ycc_h1v1;       // 24
    qrl::Get3Fn bgr_to_ycc_h2v1;       // 25
    qrl::Get3Fn bgr_to_ycc_h2v2;       // 26
    qrl::Get3Fn deinterleave3_h1v1;    // 27 no conversion (portable)
    qrl::Get3Fn deinterleave3_h2v1;    // 28
    qrl::Get3Fn deinterleave3_h2v2;    // 29
    qrl::Get3Fn packed422_to_ycc;      // 30 packed Y Cb Y Cr -> 2x1 MCU
    qrl::Get4Fn cmyk_to_ycck_h1v1;     // 31
    qrl::Get4Fn cmyk_to_ycck_h2v1;     // 32
    qrl::Get4Fn cmyk_to_ycck_h2v2;     // 33
    qrl::Get4Fn deinterleave4_h1v1;    // 34 (portable)
    qrl::McuFn mcu_writer;             // 35 run time: decoder output selection
    qrl::Put1Fn put_gray_8x8;          // 36 clamp one block into gray bytes
    qrl::Put3Fn ycc_to_rgb_h1v1;       // 37 SIMD differs in red/blue rounding
    qrl::Put3Fn ycc_to_rgb_h2v1;       // 38
    qrl::Put3Fn ycc_to_rgb_h2v2;       // 39
    qrl::Put3Fn ycc_to_bgr_h1v1;       // 40
    qrl::Put3Fn ycc_to_bgr_h2v1;       // 41
    qrl::Put3Fn ycc_to_bgr_h2v2;       // 42
    qrl::Put3Fn ycc_to_rgba_h1v1;      // 43 R, G, B, 255
    qrl::Put3Fn ycc_to_rgba_h2v1;      // 44
    qrl::Put3Fn ycc_to_rgba_h2v2;      // 45
    qrl::Put3Fn interleave3_h1v1;      // 46 no conversion (portable)
    qrl::Put3Fn interleave3_h2v1;      // 47
    qrl::Put3Fn interleave3_h2v2;      // 48
    qrl::Put3Fn interleave3_alpha_h1v1; // 49 c0, c1, c2, 255 (portable)
    qrl::Put3Fn ycc_to_packed422;      // 50 Y Cb Y Cr bytes
    qrl::Put4Fn ycck_to_cmyk_h1v1;     // 51 inverted RGB + K
    qrl::Put4Fn ycck_to_cmyk_h2v1;     // 52
    qrl::Put4Fn ycck_to_cmyk_h2v2;     // 53
    qrl::Put4Fn interleave4_h1v1;      // 54 (portable)
    qrl::EncodeBlockFn encode_huffman_block;   // 55
    qrl::DecodeBlockFn decode_huffman_block;   // 56 SIMD differs only on cut-short data
    qrl::DecodeBlockFn decode_huffman_dc_only; // 57
    qrl::TableBlockFn quantize_fast;           // 58
    qrl::TableBlockFn quantize_accurate;       // 59
    qrl::TableBlockFn quantize_active;         // 60 run time: encoder driver
    qrl::TableBlockFn dequantize_fast;         // 61 (portable)
    qrl::TableBlockFn dequantize_accurate;     // 62
    qrl::TableBlockFn dequantize_active;       // 63 run time: scan set-up
};

namespace qrl {

constexpr std::size_t kKernelHeaderBytes = offsetof(KERNEL_TABLE, simd_state_reset);
constexpr std::size_t kKernelSlotCount = (sizeof(KERNEL_TABLE) - kKernelHeaderBytes) / sizeof(void *);
static_assert(kKernelSlotCount == 63, "the kernel table has 63 slots");

// Kernel sets, copied whole into an instance's table by setup_kernel_table.
enum class KernelSet { Portable, A, B, C, D };

// The constant table of a set (header words zero).
const KERNEL_TABLE &kernel_set_table(KernelSet set);
// Fills an instance's slots with one complete set (every slot written,
// run-time slots as the set leaves them); the six header words are kept.
void fill_kernel_set(KERNEL_TABLE *table, KernelSet set);
// Class 3..6 -> set A..D; any other class -> the portable set.
KernelSet kernel_set_for_class(int32_t processor_class);

// Run by codec_init: loads the platform entry points, classifies the
// processor, installs the memory hooks and fills the slots. Returns 1.
int32_t setup_kernel_table(KERNEL_TABLE *table);
// Run by codec_free: unloads the platform modules. Accepts null.
void teardown_kernel_table(KERNEL_TABLE *table);

// Copies the transform and dequantizer of dct_method (1 accurate, any other
// value fast) into the run-time decode slots.
void set_active_decode_kernels(KERNEL_TABLE *table, int32_t dct_method);

} // namespace qrl
