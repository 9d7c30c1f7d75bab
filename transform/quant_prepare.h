#pragma once
#include <cstdint>

namespace qrl {
// In: the 64 quantizer values of one DQT table, zig-zag order, in the slot's
// storage. Out: the derived dequantization table in natural order (entries
// 64..79 zero).
void prepare_dequant_table_fast(int16_t *table);
void prepare_dequant_table_accurate(int16_t *table);
} // namespace qrl
