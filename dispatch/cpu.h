// Processor identification and the processor class that chooses a kernel set.
#pragma once

#include <cstdint>

struct KERNEL_TABLE;

namespace qrl {

// Feature bits of the leaf-1 register D tested by the classification.
constexpr uint32_t kFeatureTimeStampCounter = 0x10u;     // bit 4
constexpr uint32_t kFeatureMmx = 0x800000u;              // bit 23: 64-bit packed integers
constexpr uint32_t kFeatureSse = 0x2000000u;             // bit 25: 128-bit single precision
constexpr uint32_t kFeatureSse2 = 0x4000000u;            // bit 26: 128-bit integers

// The module-wide identification record, refilled by every classification.
struct PROCESSOR_INFO {
    int32_t brand_index;    // leaf 1, B bits 0..7
    int32_t processor_type; // leaf 1, A bits 12..13
    int32_t family;         // leaf 1, A bits 8..11 (extended family not used)
    int32_t model;          // leaf 1, A bits 4..7
    int32_t stepping;       // leaf 1, A bits 0..3
    uint32_t feature_flags; // leaf 1, D
    char vendor[13];        // leaf 0, B D C; twelve spaces when unknown
};

// Resets the record and fills it from the identification instruction (on
// processors without it, or on other architectures, it stays reset).
void read_processor_info();
PROCESSOR_INFO *processor_info();

// USECPU through the registry entry points in the table's header; -1 when
// the services, the key or the value are missing.
int32_t read_cpu_override(const KERNEL_TABLE *table);

// The class decision alone: an override in 0..6 wins, otherwise the family
// and feature table.
int32_t processor_class_for(int32_t family, uint32_t feature_flags, int32_t override_class);

// Gathers the identification, reads the override and decides: 0..6.
int32_t classify_processor(const KERNEL_TABLE *table);

} // namespace qrl
