// Processor identification (CPUID on x86) and classification.
#include "dispatch/cpu.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define QRL_HAVE_CPUID 1
#else
#define QRL_HAVE_CPUID 0
#endif

#include "dispatch/kernel_table.h"
#include "dispatch/modules.h"
#include "dispatch/platform.h"

namespace qrl {
namespace {

PROCESSOR_INFO g_processor_info = {0, 0, 0, 0, 0, 0, "            "};

void reset_processor_info(PROCESSOR_INFO *info) {
    info->brand_index = 0;
    info->processor_type = 0;
    info->family = 0;
    info->model = 0;
    info->stepping = 0;
    info->feature_flags = 0;
    std::memset(info->vendor, ' ', 12);
    info->vendor[12] = '\0';
}

int32_t gather_identification(void *context) {
    auto *info = static_cast<PROCESSOR_INFO *>(context);
#if QRL_HAVE_CPUID
    unsigned a = 0, b = 0, c = 0, d = 0;
    // __get_cpuid reports 0 when the instruction or the leaf is missing.
    if (__get_cpuid(0, &a, &b, &c, &d) == 0) {
        return 0;
    }
    std::memcpy(info->vendor + 0, &b, 4);
    std::memcpy(info->vendor + 4, &d, 4);
    std::memcpy(info->vendor + 8, &c, 4);
    info->vendor[12] = '\0';
    if (a == 0) {
        return 0;
    }
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
        return 0;
    }
    a &= 0x3fffu;
    info->brand_index = static_cast<int32_t>(b & 0xffu);
    info->processor_type = static_cast<int32_t>((a >> 12) & 0x3u);
    info->family = static_cast<int32_t>((a >> 8) & 0xfu);
    info->model = static_cast<int32_t>((a >> 4) & 0xfu);
    info->stepping = static_cast<int32_t>(a & 0xfu);
    info->feature_flags = d;
#else
    (void)info;
#endif
    return 0;
}

} // namespace

PROCESSOR_INFO *processor_info() { return &g_processor_info; }

void read_processor_info() {
    reset_processor_info(&g_processor_info);
    // A fault during identification leaves the record reset.
    if (run_guarded(gather_identification, &g_processor_info, -1) != 0) {
        reset_processor_info(&g_processor_info);
    }
}

int32_t read_cpu_override(const KERNEL_TABLE *table) {
    if (table == nullptr || table->reg_open_key == nullptr || table->reg_query_value == nullptr ||
        table->reg_close_key == nullptr) {
        return -1;
    }
    uintptr_t key = 0;
    if (table->reg_open_key(kHkeyLocalMachine, kRegistryKeyPath, 0, kKeyQueryValue, &key) !=
        kRegSuccess) {
        return -1;
    }
    int32_t value = -1;
    uint32_t type = 0;
    uint32_t size = sizeof(value);
    // The value type is not checked; the buffer keeps -1 when nothing is written.
    (void)table->reg_query_value(key, kCpuOverrideValue, nullptr, &type,
                                 reinterpret_cast<uint8_t *>(&value), &size);
    (void)table->reg_close_key(key);
    return value;
}

int32_t processor_class_for(int32_t family, uint32_t feature_flags, int32_t override_class) {
    if (override_class >= 0 && override_class <= 6) {
        return override_class;
    }
    const bool mmx = (feature_flags & kFeatureMmx) != 0;
    const bool sse = (feature_flags & kFeatureSse) != 0;
    const bool sse2 = (feature_flags & kFeatureSse2) != 0;
    switch (family) {
    case 5: return mmx ? 3 : 1;
    case 6:
        if (mmx && !sse) {
            return 4;
        }
        if (mmx && sse) {
            return 5;
        }
        return 2;
    case 15: return sse2 ? 6 : 0;
    default: return 0;
    }
}

int32_t classify_processor(const KERNEL_TABLE *table) {
    read_processor_info();
    const int32_t override_class = read_cpu_override(table);
    return processor_class_for(g_processor_info.family, g_processor_info.feature_flags,
                               override_class);
}

} // namespace qrl
