// quorrel cpu: the processor identification, the class and override, and the
// kernel slots that codec_init filled for this processor.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/codec.h"
#include "commands.h"
#include "dispatch/cpu.h"
#include "dispatch/kernel_table.h"
#include "dispatch/slot_names.h"

namespace {

const char *set_name(qrl::KernelSet set) {
    switch (set) {
    case qrl::KernelSet::A: return "SIMD set A";
    case qrl::KernelSet::B: return "SIMD set B";
    case qrl::KernelSet::C: return "SIMD set C";
    case qrl::KernelSet::D: return "SIMD set D";
    case qrl::KernelSet::Portable: break;
    }
    return "portable";
}

} // namespace

int cmd_cpu(int, char **) {
    // The record is large; keep it off the stack.
    auto *record = static_cast<JPEG_CODEC_RECORD *>(std::calloc(1, sizeof(JPEG_CODEC_RECORD)));
    if (record == nullptr) {
        std::fprintf(stderr, "quorrel cpu: out of memory\n");
        return 1;
    }
    const int32_t status = codec_init(record);
    if (status != JPEG_OK) {
        std::fprintf(stderr, "quorrel cpu: codec_init failed: %s (%d)\n", codec_error_text(status),
                     status);
        (void)codec_free(record);
        std::free(record);
        return 1;
    }
    const KERNEL_TABLE *table = record->props.kernel_table;
    const int32_t override_class = qrl::read_cpu_override(table);
    const int32_t processor_class = qrl::classify_processor(table);
    const qrl::PROCESSOR_INFO *info = qrl::processor_info();
    const qrl::KernelSet set = qrl::kernel_set_for_class(processor_class);

    std::printf("vendor:         %s\n", info->vendor);
    std::printf("family:         %d\n", info->family);
    std::printf("model:          %d\n", info->model);
    std::printf("stepping:       %d\n", info->stepping);
    std::printf("processor type: %d\n", info->processor_type);
    std::printf("brand index:    %d\n", info->brand_index);
    std::printf("feature flags:  0x%08x (tsc %s, mmx %s, sse %s, sse2 %s)\n", info->feature_flags,
                (info->feature_flags & qrl::kFeatureTimeStampCounter) ? "yes" : "no",
                (info->feature_flags & qrl::kFeatureMmx) ? "yes" : "no",
                (info->feature_flags & qrl::kFeatureSse) ? "yes" : "no",
                (info->feature_flags & qrl::kFeatureSse2) ? "yes" : "no");
    if (override_class >= 0 && override_class <= 6) {
        std::printf("override:       USECPU = %d\n", override_class);
    } else {
        std::printf("override:       none\n");
    }
    std::printf("class:          %d\n", processor_class);
    std::printf("kernel set:     %s\n\n", set_name(set));

    // Slot -> state. "portable" = the portable kernel, "set" = a kernel of the
    // set in use that differs from the portable one.
    const KERNEL_TABLE &portable = qrl::kernel_set_table(qrl::KernelSet::Portable);
    int filled = 0;
    for (std::size_t i = 0; i < qrl::kKernelSlotCount; ++i) {
        const uintptr_t address = qrl::kernel_slot_address(*table, i);
        const char *state = "empty";
        if (address != 0) {
            ++filled;
            state = address == qrl::kernel_slot_address(portable, i) ? "filled (portable)"
                                                                      : "filled (set)";
        }
        std::printf("%2zu  %-24s %s\n", i + 1, qrl::kKernelSlotNames[i].name, state);
    }
    std::printf("\n%d of %zu slots filled\n", filled, qrl::kKernelSlotCount);

    const int32_t freed = codec_free(record);
    std::free(record);
    return freed == JPEG_OK ? 0 : 1;
}
