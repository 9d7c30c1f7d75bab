// Set-up, fill and teardown of an instance's kernel table.
#include "dispatch/kernel_table.h"

#include "dispatch/cpu.h"
#include "dispatch/platform.h"

namespace qrl {

KernelSet kernel_set_for_class(int32_t processor_class) {
    switch (processor_class) {
    case 3: return KernelSet::A;
    case 4: return KernelSet::B;
    case 5: return KernelSet::C;
    case 6: return KernelSet::D;
    default: return KernelSet::Portable;
    }
}

void fill_kernel_set(KERNEL_TABLE *table, KernelSet set) {
    if (table == nullptr) {
        return;
    }
    // The whole set is copied, empty slots included; only the header words
    // (scan length, module handles, registry entry points) are kept.
    const int32_t scan_header_length = table->scan_header_length;
    void *const user32_module = table->user32_module;
    void *const advapi32_module = table->advapi32_module;
    const RegOpenKeyFn reg_open_key = table->reg_open_key;
    const RegQueryValueFn reg_query_value = table->reg_query_value;
    const RegCloseKeyFn reg_close_key = table->reg_close_key;
    *table = kernel_set_table(set);
    table->scan_header_length = scan_header_length;
    table->user32_module = user32_module;
    table->advapi32_module = advapi32_module;
    table->reg_open_key = reg_open_key;
    table->reg_query_value = reg_query_value;
    table->reg_close_key = reg_close_key;
}

int32_t setup_kernel_table(KERNEL_TABLE *table) {
    load_user_library(table);
    load_registry_library(table);
    const int32_t processor_class = classify_processor(table);
    install_memory_hooks();
    fill_kernel_set(table, kernel_set_for_class(processor_class));
    return 1;
}

void teardown_kernel_table(KERNEL_TABLE *table) {
    if (table == nullptr) {
        return;
    }
    unload_user_library(table);
    unload_registry_library(table);
}

void set_active_decode_kernels(KERNEL_TABLE *table, int32_t dct_method) {
    if (dct_method == 1) {
        table->idct_active_8x8 = table->idct_accurate_8x8;
        table->idct_active_4x4 = table->idct_accurate_4x4;
        table->idct_active_2x2 = table->idct_accurate_2x2;
        table->idct_active_1x1 = table->idct_accurate_1x1;
        table->dequantize_active = table->dequantize_accurate;
    } else {
        table->idct_active_8x8 = table->idct_fast_8x8;
        table->idct_active_4x4 = table->idct_fast_4x4;
        table->idct_active_2x2 = table->idct_fast_2x2;
        table->idct_active_1x1 = table->idct_fast_1x1;
        table->dequantize_active = table->dequantize_fast;
    }
}

} // namespace qrl
