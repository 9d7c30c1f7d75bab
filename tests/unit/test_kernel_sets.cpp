// The constant kernel sets: every slot filled except the run-time ones, the
// portable-only slots identical in every set, and the slots that SIMD sets
// share holding one kernel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dispatch/kernel_table.h"
#include "dispatch/slot_names.h"

namespace {

using qrl::KernelSet;

constexpr KernelSet kAllSets[] = {KernelSet::Portable, KernelSet::A, KernelSet::B, KernelSet::C,
                                  KernelSet::D};
constexpr const char *kSetNames[] = {"portable", "A", "B", "C", "D"};

// Slots filled only at run time; a fill leaves them empty.
constexpr const char *kRunTimeSlots[] = {"fdct_active",     "idct_active_8x8", "idct_active_4x4",
                                         "idct_active_2x2", "idct_active_1x1", "mcu_reader",
                                         "mcu_writer"};

// Slots whose kernel is the portable one in every set.
constexpr const char *kPortableOnlySlots[] = {
    "idct_fast_4x4",      "idct_fast_2x2",      "idct_fast_1x1",      "idct_accurate_4x4",
    "idct_accurate_2x2",  "idct_accurate_1x1",  "deinterleave3_h1v1", "deinterleave3_h2v1",
    "deinterleave3_h2v2", "deinterleave4_h1v1", "interleave3_h1v1",   "interleave3_h2v1",
    "interleave3_h2v2",   "interleave3_alpha_h1v1", "interleave4_h1v1", "dequantize_fast",
};

// Groups of SIMD sets that share one kernel in a slot.
struct SharedSlot {
    const char *slot;
    std::vector<std::vector<KernelSet>> groups;
};

bool cpu_has_avx2() {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

std::vector<SharedSlot> shared_slots() {
    using enum KernelSet;
    const std::vector<KernelSet> all = {A, B, C, D};
    std::vector<SharedSlot> s;
    for (const char *one : {"fdct_fast", "idct_fast_8x8", "out_stream_open", "out_stream_write",
                            "get_gray_8x8", "cmyk_to_ycck_h1v1", "cmyk_to_ycck_h2v1",
                            "cmyk_to_ycck_h2v2", "put_gray_8x8", "ycc_to_rgba_h1v1", "ycc_to_rgba_h2v1", "ycc_to_rgba_h2v2",
                            "ycc_to_packed422", "ycck_to_cmyk_h1v1", "ycck_to_cmyk_h2v1",
                            "ycck_to_cmyk_h2v2", "decode_huffman_dc_only", "quantize_fast"}) {
        s.push_back({one, {all}});
    }
    for (const char *ab : {"fdct_accurate", "idct_accurate_8x8", "quantize_accurate"}) {
        s.push_back({ab, {{A, B}}});
    }
    s.push_back({"packed422_to_ycc", {{A, B}, {C, D}}});
    // The 3-byte color converters: one SSE2 kernel, except in set D on a
    // processor with AVX2, which has its own (byte shuffles).
    const std::vector<KernelSet> rgb = cpu_has_avx2() ? std::vector<KernelSet>{A, B, C} : all;
    // Likewise the encoder's 3-byte input converters.
    for (const char *one : {"ycc_to_rgb_h1v1", "ycc_to_rgb_h2v1", "ycc_to_rgb_h2v2", "ycc_to_bgr_h1v1",
                            "ycc_to_bgr_h2v1", "ycc_to_bgr_h2v2", "rgb_to_ycc_h1v1", "rgb_to_ycc_h2v1",
                            "rgb_to_ycc_h2v2", "bgr_to_ycc_h1v1", "bgr_to_ycc_h2v1", "bgr_to_ycc_h2v2"}) {
        s.push_back({one, {rgb}});
    }
    s.push_back({"encode_huffman_block", {{A, B, D}}});
    s.push_back({"decode_huffman_block", {{B, C, D}}});
    s.push_back({"dequantize_accurate", {{A, B, C}}});
    return s;
}

std::size_t slot_index(const char *name) {
    for (std::size_t i = 0; i < qrl::kKernelSlotNames.size(); ++i) {
        if (std::strcmp(qrl::kKernelSlotNames[i].name, name) == 0) {
            return i;
        }
    }
    ADD_FAILURE() << "no slot named " << name;
    return 0;
}

bool is_run_time(std::size_t index) {
    for (const char *name : kRunTimeSlots) {
        if (slot_index(name) == index) {
            return true;
        }
    }
    return false;
}

uintptr_t slot_of(KernelSet set, std::size_t index) {
    return qrl::kernel_slot_address(qrl::kernel_set_table(set), index);
}

TEST(KernelSetLayout, EverySetFillsEveryFixedSlotAndNoRunTimeSlot) {
    for (std::size_t s = 0; s < std::size(kAllSets); ++s) {
        for (std::size_t i = 0; i < qrl::kKernelSlotCount; ++i) {
            SCOPED_TRACE(std::string("set ") + kSetNames[s] + ", slot " +
                         qrl::kKernelSlotNames[i].name);
            if (is_run_time(i)) {
                EXPECT_EQ(slot_of(kAllSets[s], i), 0u);
            } else {
                EXPECT_NE(slot_of(kAllSets[s], i), 0u);
            }
        }
    }
}

TEST(KernelSetLayout, PortableOnlySlotsAreTheSameInEverySet) {
    for (const char *name : kPortableOnlySlots) {
        const std::size_t i = slot_index(name);
        for (std::size_t s = 1; s < std::size(kAllSets); ++s) {
            EXPECT_EQ(slot_of(kAllSets[s], i), slot_of(KernelSet::Portable, i))
                << "set " << kSetNames[s] << ", slot " << name;
        }
    }
}

TEST(KernelSetLayout, SharedSimdKernelsAreOneKernel) {
    for (const SharedSlot &shared : shared_slots()) {
        const std::size_t i = slot_index(shared.slot);
        for (const std::vector<KernelSet> &group : shared.groups) {
            for (KernelSet set : group) {
                EXPECT_EQ(slot_of(set, i), slot_of(group.front(), i))
                    << "slot " << shared.slot << ", set " << kSetNames[static_cast<int>(set)];
            }
        }
    }
}

TEST(KernelSetLayout, ActiveQuantizersStartAsTheFastOnes) {
    const std::size_t quantize_active = slot_index("quantize_active");
    const std::size_t quantize_fast = slot_index("quantize_fast");
    const std::size_t dequantize_active = slot_index("dequantize_active");
    const std::size_t dequantize_fast = slot_index("dequantize_fast");
    for (std::size_t s = 0; s < std::size(kAllSets); ++s) {
        EXPECT_EQ(slot_of(kAllSets[s], quantize_active), slot_of(kAllSets[s], quantize_fast))
            << kSetNames[s];
        EXPECT_EQ(slot_of(kAllSets[s], dequantize_active), slot_of(kAllSets[s], dequantize_fast))
            << kSetNames[s];
    }
}

TEST(KernelSetLayout, PortableStateResetIsCallable) {
    const KERNEL_TABLE &portable = qrl::kernel_set_table(KernelSet::Portable);
    ASSERT_NE(portable.simd_state_reset, nullptr);
    portable.simd_state_reset();
}

} // namespace
