// Processor classification and the kernel-table fill per class.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "codec/codec.h"
#include "dispatch/cpu.h"
#include "dispatch/kernel_table.h"
#include "dispatch/modules.h"
#include "dispatch/platform.h"
#include "dispatch/slot_names.h"

namespace {

using qrl::kFeatureMmx;
using qrl::kFeatureSse;
using qrl::kFeatureSse2;
using qrl::KernelSet;

// Sets QUORREL_USECPU for the lifetime of the object.
class ScopedOverride {
public:
    explicit ScopedOverride(const char *value) {
        const char *old = std::getenv(qrl::kCpuOverrideEnvironment);
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(qrl::kCpuOverrideEnvironment, value, 1);
        } else {
            unsetenv(qrl::kCpuOverrideEnvironment);
        }
    }
    ~ScopedOverride() {
        if (had_) {
            setenv(qrl::kCpuOverrideEnvironment, old_.c_str(), 1);
        } else {
            unsetenv(qrl::kCpuOverrideEnvironment);
        }
    }

private:
    bool had_ = false;
    std::string old_;
};

// The class this processor gets without an override.
int32_t hardware_class() {
    qrl::read_processor_info();
    const qrl::PROCESSOR_INFO *info = qrl::processor_info();
    return qrl::processor_class_for(info->family, info->feature_flags, -1);
}

struct ClassCase {
    int32_t family;
    uint32_t features;
    int32_t override_class;
    int32_t expected;
};

constexpr ClassCase kClassCases[] = {
    {5, kFeatureMmx, -1, 3},
    {5, 0, -1, 1},
    {5, kFeatureSse | kFeatureSse2, -1, 1},
    {6, kFeatureMmx, -1, 4},
    {6, kFeatureMmx | kFeatureSse2, -1, 4},
    {6, kFeatureMmx | kFeatureSse, -1, 5},
    {6, kFeatureMmx | kFeatureSse | kFeatureSse2, -1, 5},
    {6, kFeatureSse, -1, 2}, // SSE without MMX
    {6, 0, -1, 2},
    {15, kFeatureSse2, -1, 6},
    {15, kFeatureMmx | kFeatureSse, -1, 0}, // no SSE2: not a SIMD class
    {15, 0, -1, 0},
    {4, 0xffffffffu, -1, 0},
    {0, 0xffffffffu, -1, 0},
    {7, 0xffffffffu, -1, 0},
    // Override 0..6 wins without looking at the processor; others are ignored.
    {15, kFeatureSse2, 0, 0},
    {0, 0, 3, 3},
    {0, 0, 6, 6},
    {6, kFeatureMmx | kFeatureSse, 2, 2},
    {15, kFeatureSse2, 7, 6},
    {15, kFeatureSse2, -1, 6},
    {5, kFeatureMmx, -2, 3},
    {5, kFeatureMmx, 1000, 3},
};

TEST(ProcessorClass, FamilyFeatureAndOverrideTable) {
    for (const ClassCase &c : kClassCases) {
        EXPECT_EQ(qrl::processor_class_for(c.family, c.features, c.override_class), c.expected)
            << "family " << c.family << " features 0x" << std::hex << c.features << std::dec
            << " override " << c.override_class;
    }
}

TEST(ProcessorClass, ClassesMapToSets) {
    constexpr KernelSet kExpected[] = {KernelSet::Portable, KernelSet::Portable,
                                       KernelSet::Portable, KernelSet::A,
                                       KernelSet::B,        KernelSet::C,
                                       KernelSet::D};
    for (int32_t c = 0; c < 7; ++c) {
        EXPECT_EQ(qrl::kernel_set_for_class(c), kExpected[c]) << "class " << c;
    }
    EXPECT_EQ(qrl::kernel_set_for_class(-1), KernelSet::Portable);
    EXPECT_EQ(qrl::kernel_set_for_class(7), KernelSet::Portable);
}

TEST(ProcessorClass, IdentificationRecord) {
    qrl::read_processor_info();
    const qrl::PROCESSOR_INFO *info = qrl::processor_info();
    EXPECT_EQ(std::strlen(info->vendor), 12u);
    EXPECT_GE(info->family, 0);
    EXPECT_LE(info->family, 15);
    EXPECT_LE(info->model, 15);
    EXPECT_LE(info->stepping, 15);
    EXPECT_LE(info->processor_type, 3);
    EXPECT_LE(info->brand_index, 255);
#if defined(__x86_64__)
    // Every 64-bit x86 processor reports the 128-bit integer instructions.
    EXPECT_NE(info->feature_flags & kFeatureSse2, 0u);
    EXPECT_STRNE(info->vendor, "            ");
#endif
}

// The whole table of a record after codec_init with an override.
class KernelFill : public ::testing::TestWithParam<int32_t> {};

TEST_P(KernelFill, SlotsMatchTheSetOfTheClass) {
    const int32_t processor_class = GetParam();
    const std::string value = std::to_string(processor_class);
    ScopedOverride scoped(value.c_str());
    auto record = std::make_unique<JPEG_CODEC_RECORD>();
    ASSERT_EQ(codec_init(record.get()), JPEG_OK);
    const KERNEL_TABLE *table = record->props.kernel_table;
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(qrl::read_cpu_override(table), processor_class);
    EXPECT_EQ(qrl::classify_processor(table), processor_class);

    const KernelSet set = qrl::kernel_set_for_class(processor_class);
    const KERNEL_TABLE &expected = qrl::kernel_set_table(set);
    for (std::size_t i = 0; i < qrl::kKernelSlotCount; ++i) {
        EXPECT_EQ(qrl::kernel_slot_address(*table, i), qrl::kernel_slot_address(expected, i))
            << "slot " << i + 1 << " " << qrl::kKernelSlotNames[i].name;
    }
    // Run-time slots: empty until an operation picks, except the two active
    // (de)quantizers, which start as the set's fast kernels.
    EXPECT_EQ(table->fdct_active, nullptr);
    EXPECT_EQ(table->idct_active_8x8, nullptr);
    EXPECT_EQ(table->idct_active_4x4, nullptr);
    EXPECT_EQ(table->idct_active_2x2, nullptr);
    EXPECT_EQ(table->idct_active_1x1, nullptr);
    EXPECT_EQ(table->mcu_reader, nullptr);
    EXPECT_EQ(table->mcu_writer, nullptr);
    EXPECT_EQ(table->quantize_active, table->quantize_fast);
    EXPECT_EQ(table->dequantize_active, table->dequantize_fast);
    // The header holds the loaded modules.
    EXPECT_EQ(table->scan_header_length, 0);
    EXPECT_NE(table->user32_module, nullptr);
    EXPECT_NE(table->advapi32_module, nullptr);
    EXPECT_NE(table->reg_open_key, nullptr);
    EXPECT_NE(table->reg_query_value, nullptr);
    EXPECT_NE(table->reg_close_key, nullptr);
    EXPECT_NE(qrl::format_print, nullptr);
    if (table->simd_state_reset != nullptr) {
        table->simd_state_reset(); // safe to call in every set
    }
    EXPECT_EQ(codec_free(record.get()), JPEG_OK);
}

INSTANTIATE_TEST_SUITE_P(EveryClass, KernelFill, ::testing::Values(0, 1, 2, 3, 4, 5, 6));

TEST(KernelFill, InvalidOverridesFallBackToTheProcessor) {
    const int32_t expected = hardware_class();
    for (const char *value : {"7", "-1", "x", "", "3x", "99999999999"}) {
        ScopedOverride scoped(value);
        auto record = std::make_unique<JPEG_CODEC_RECORD>();
        ASSERT_EQ(codec_init(record.get()), JPEG_OK);
        EXPECT_EQ(qrl::classify_processor(record->props.kernel_table), expected)
            << "QUORREL_USECPU='" << value << "'";
        EXPECT_EQ(codec_free(record.get()), JPEG_OK);
    }
}

TEST(KernelFill, MissingRegistryModuleMeansNoOverride) {
    ScopedOverride scoped("0");
    ASSERT_TRUE(qrl::set_module_available("advapi32", false));
    auto record = std::make_unique<JPEG_CODEC_RECORD>();
    const int32_t init = codec_init(record.get());
    ASSERT_TRUE(qrl::set_module_available("advapi32", true));
    ASSERT_EQ(init, JPEG_OK);
    const KERNEL_TABLE *table = record->props.kernel_table;
    EXPECT_EQ(table->advapi32_module, nullptr);
    EXPECT_EQ(table->reg_open_key, nullptr);
    EXPECT_EQ(table->reg_query_value, nullptr);
    EXPECT_EQ(table->reg_close_key, nullptr);
    EXPECT_EQ(qrl::read_cpu_override(table), -1);
    EXPECT_EQ(qrl::classify_processor(table), hardware_class());
    EXPECT_EQ(codec_free(record.get()), JPEG_OK);
}

TEST(KernelFill, MissingUserModuleLeavesNoFormattedPrint) {
    ASSERT_TRUE(qrl::set_module_available("user32", false));
    auto record = std::make_unique<JPEG_CODEC_RECORD>();
    const int32_t init = codec_init(record.get());
    ASSERT_TRUE(qrl::set_module_available("user32", true));
    ASSERT_EQ(init, JPEG_OK);
    EXPECT_EQ(record->props.kernel_table->user32_module, nullptr);
    EXPECT_EQ(qrl::format_print, nullptr);
    EXPECT_EQ(qrl::message_box, nullptr);
    EXPECT_NE(record->props.kernel_table->reg_open_key, nullptr);
    EXPECT_EQ(codec_free(record.get()), JPEG_OK);
}

TEST(KernelFill, UnknownModuleNameIsRefused) {
    EXPECT_FALSE(qrl::set_module_available("kernel32", false));
    EXPECT_EQ(qrl::open_module("kernel32"), nullptr);
    EXPECT_EQ(qrl::open_module(nullptr), nullptr);
}

// Distinct stand-in kernels to tell slots apart.
void fake_idct_fast_8x8(int16_t *) {}
void fake_idct_fast_4x4(int16_t *) {}
void fake_idct_fast_2x2(int16_t *) {}
void fake_idct_fast_1x1(int16_t *) {}
void fake_idct_accurate_8x8(int16_t *) {}
void fake_idct_accurate_4x4(int16_t *) {}
void fake_idct_accurate_2x2(int16_t *) {}
void fake_idct_accurate_1x1(int16_t *) {}
void fake_dequantize_fast(int16_t *, const int16_t *) {}
void fake_dequantize_accurate(int16_t *, const int16_t *) {}

KERNEL_TABLE fake_table() {
    KERNEL_TABLE t = {};
    t.idct_fast_8x8 = fake_idct_fast_8x8;
    t.idct_fast_4x4 = fake_idct_fast_4x4;
    t.idct_fast_2x2 = fake_idct_fast_2x2;
    t.idct_fast_1x1 = fake_idct_fast_1x1;
    t.idct_accurate_8x8 = fake_idct_accurate_8x8;
    t.idct_accurate_4x4 = fake_idct_accurate_4x4;
    t.idct_accurate_2x2 = fake_idct_accurate_2x2;
    t.idct_accurate_1x1 = fake_idct_accurate_1x1;
    t.dequantize_fast = fake_dequantize_fast;
    t.dequantize_accurate = fake_dequantize_accurate;
    return t;
}

TEST(ActiveDecodeKernels, MethodOneIsAccurateEveryOtherValueFast) {
    for (int32_t method : {1, 0, 2, -1}) {
        KERNEL_TABLE t = fake_table();
        qrl::set_active_decode_kernels(&t, method);
        const bool accurate = method == 1;
        SCOPED_TRACE(method);
        EXPECT_EQ(t.idct_active_8x8, accurate ? t.idct_accurate_8x8 : t.idct_fast_8x8);
        EXPECT_EQ(t.idct_active_4x4, accurate ? t.idct_accurate_4x4 : t.idct_fast_4x4);
        EXPECT_EQ(t.idct_active_2x2, accurate ? t.idct_accurate_2x2 : t.idct_fast_2x2);
        EXPECT_EQ(t.idct_active_1x1, accurate ? t.idct_accurate_1x1 : t.idct_fast_1x1);
        EXPECT_EQ(t.dequantize_active, accurate ? t.dequantize_accurate : t.dequantize_fast);
    }
}

TEST(FillKernelSet, WritesEverySlotAndKeepsTheHeader) {
    for (KernelSet set : {KernelSet::Portable, KernelSet::A, KernelSet::B, KernelSet::C,
                          KernelSet::D}) {
        KERNEL_TABLE t = fake_table();
        t.mcu_writer = [](JPEG_PROPERTIES *, int32_t, int32_t) { return 0; };
        t.scan_header_length = 14;
        int module_a = 0, module_b = 0;
        t.user32_module = &module_a;
        t.advapi32_module = &module_b;
        KERNEL_TABLE loaded = {};
        qrl::load_registry_library(&loaded);
        t.reg_open_key = loaded.reg_open_key;
        t.reg_query_value = loaded.reg_query_value;
        t.reg_close_key = loaded.reg_close_key;

        qrl::fill_kernel_set(&t, set);
        const KERNEL_TABLE &expected = qrl::kernel_set_table(set);
        for (std::size_t i = 0; i < qrl::kKernelSlotCount; ++i) {
            EXPECT_EQ(qrl::kernel_slot_address(t, i), qrl::kernel_slot_address(expected, i))
                << "slot " << qrl::kKernelSlotNames[i].name;
        }
        EXPECT_EQ(t.mcu_writer, nullptr); // a fill never keeps an earlier run-time choice
        EXPECT_EQ(t.scan_header_length, 14);
        EXPECT_EQ(t.user32_module, &module_a);
        EXPECT_EQ(t.advapi32_module, &module_b);
        EXPECT_EQ(t.reg_open_key, loaded.reg_open_key);
        EXPECT_EQ(t.reg_query_value, loaded.reg_query_value);
        EXPECT_EQ(t.reg_close_key, loaded.reg_close_key);
    }
}

TEST(KernelSets, ConstantSetsHaveEmptyHeaders) {
    for (KernelSet set : {KernelSet::Portable, KernelSet::A, KernelSet::B, KernelSet::C,
                          KernelSet::D}) {
        const KERNEL_TABLE &t = qrl::kernel_set_table(set);
        EXPECT_EQ(t.scan_header_length, 0);
        EXPECT_EQ(t.user32_module, nullptr);
        EXPECT_EQ(t.advapi32_module, nullptr);
        EXPECT_EQ(t.reg_open_key, nullptr);
        EXPECT_EQ(t.quantize_active, t.quantize_fast);
        EXPECT_EQ(t.dequantize_active, t.dequantize_fast);
    }
}

TEST(KernelSetup, TeardownOfNoTableDoesNothing) {
    qrl::teardown_kernel_table(nullptr);
    qrl::unload_user_library(nullptr);
    qrl::unload_registry_library(nullptr);
    SUCCEED();
}

} // namespace

namespace {

TEST(UserEntryPoints, StayWhileAnotherRecordHoldsTheModule) {
    auto first = std::make_unique<JPEG_CODEC_RECORD>();
    auto second = std::make_unique<JPEG_CODEC_RECORD>();
    ASSERT_EQ(codec_init(first.get()), JPEG_OK);
    ASSERT_EQ(codec_init(second.get()), JPEG_OK);
    ASSERT_NE(qrl::format_print, nullptr);
    EXPECT_EQ(codec_free(first.get()), JPEG_OK);
    // The second record may still encode, and its comment writer needs the
    // formatted print.
    EXPECT_NE(qrl::format_print, nullptr);
    EXPECT_NE(qrl::message_box, nullptr);
    EXPECT_EQ(codec_free(first.get()), JPEG_OK); // a second free changes nothing
    EXPECT_NE(qrl::format_print, nullptr);
    EXPECT_EQ(codec_free(second.get()), JPEG_OK);
    EXPECT_EQ(qrl::format_print, nullptr);
    EXPECT_EQ(qrl::message_box, nullptr);
    EXPECT_EQ(qrl::peek_message, nullptr);
    EXPECT_EQ(qrl::post_quit_message, nullptr);
}

} // namespace
