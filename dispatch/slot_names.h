// Names of the 63 kernel slots in table order, for listings and tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dispatch/kernel_table.h"

namespace qrl {

struct KernelSlotName {
    const char *name;
    std::size_t offset;
};

#define QRL_SLOT(member) KernelSlotName{#member, offsetof(KERNEL_TABLE, member)}
inline constexpr std::array<KernelSlotName, kKernelSlotCount> kKernelSlotNames = {
    QRL_SLOT(simd_state_reset),   QRL_SLOT(fdct_fast),
    QRL_SLOT(fdct_accurate),      QRL_SLOT(idct_fast_8x8),
    QRL_SLOT(idct_fast_4x4),      QRL_SLOT(idct_fast_2x2),
    QRL_SLOT(idct_fast_1x1),      QRL_SLOT(idct_accurate_8x8),
    QRL_SLOT(idct_accurate_4x4),  QRL_SLOT(idct_accurate_2x2),
    QRL_SLOT(idct_accurate_1x1),  QRL_SLOT(fdct_active),
    QRL_SLOT(idct_active_8x8),    QRL_SLOT(idct_active_4x4),
    QRL_SLOT(idct_active_2x2),    QRL_SLOT(idct_active_1x1),
    QRL_SLOT(out_stream_open),    QRL_SLOT(out_stream_write),
    QRL_SLOT(mcu_reader),         QRL_SLOT(get_gray_8x8),
    QRL_SLOT(rgb_to_ycc_h1v1),    QRL_SLOT(rgb_to_ycc_h2v1),
    QRL_SLOT(rgb_to_ycc_h2v2),    QRL_SLOT(bgr_to_ycc_h1v1),
    QRL_SLOT(bgr_to_ycc_h2v1),    QRL_SLOT(bgr_to_ycc_h2v2),
    QRL_SLOT(deinterleave3_h1v1), QRL_SLOT(deinterleave3_h2v1),
    QRL_SLOT(deinterleave3_h2v2), QRL_SLOT(packed422_to_ycc),
    QRL_SLOT(cmyk_to_ycck_h1v1),  QRL_SLOT(cmyk_to_ycck_h2v1),
    QRL_SLOT(cmyk_to_ycck_h2v2),  QRL_SLOT(deinterleave4_h1v1),
    QRL_SLOT(mcu_writer),         QRL_SLOT(put_gray_8x8),
    QRL_SLOT(ycc_to_rgb_h1v1),    QRL_SLOT(ycc_to_rgb_h2v1),
    QRL_SLOT(ycc_to_rgb_h2v2),    QRL_SLOT(ycc_to_bgr_h1v1),
    QRL_SLOT(ycc_to_bgr_h2v1),    QRL_SLOT(ycc_to_bgr_h2v2),
    QRL_SLOT(ycc_to_rgba_h1v1),   QRL_SLOT(ycc_to_rgba_h2v1),
    QRL_SLOT(ycc_to_rgba_h2v2),   QRL_SLOT(interleave3_h1v1),
    QRL_SLOT(interleave3_h2v1),   QRL_SLOT(interleave3_h2v2),
    QRL_SLOT(interleave3_alpha_h1v1), QRL_SLOT(ycc_to_packed422),
    QRL_SLOT(ycck_to_cmyk_h1v1),  QRL_SLOT(ycck_to_cmyk_h2v1),
    QRL_SLOT(ycck_to_cmyk_h2v2),  QRL_SLOT(interleave4_h1v1),
    QRL_SLOT(encode_huffman_block), QRL_SLOT(decode_huffman_block),
    QRL_SLOT(decode_huffman_dc_only), QRL_SLOT(quantize_fast),
    QRL_SLOT(quantize_accurate),  QRL_SLOT(quantize_active),
    QRL_SLOT(dequantize_fast),    QRL_SLOT(dequantize_accurate),
    QRL_SLOT(dequantize_active),
};
#undef QRL_SLOT

// Every name sits at the offset of its position: the list is in table order
// and complete.
constexpr bool slot_names_in_table_order() {
    for (std::size_t i = 0; i < kKernelSlotNames.size(); ++i) {
        if (kKernelSlotNames[i].offset != kKernelHeaderBytes + i * sizeof(void *)) {
            return false;
        }
    }
    return true;
}
static_assert(slot_names_in_table_order(), "kernel slot names out of table order");

// The entry point held in slot `index` (0-based), as an address; 0 = empty.
inline uintptr_t kernel_slot_address(const KERNEL_TABLE &table, std::size_t index) {
    uintptr_t address = 0;
    static_assert(sizeof(qrl::BlockFn) == sizeof(address));
    std::memcpy(&address,
                reinterpret_cast<const unsigned char *>(&table) + kKernelSlotNames[index].offset,
                sizeof(address));
    return address;
}

} // namespace qrl
