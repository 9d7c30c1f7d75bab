// The encoder driver: default tables, quality scaling, the stream header, and
// the sequential and progressive encoders.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Words of JPEG_PROPERTIES::encoder_state.
enum EncoderStateWord : int32_t {
    kForwardTablesReady = 0, // bit n: forward quantization table of id n is prepared
    kDcTablesReady = 1,      // bit n: dc_encode_tables[n] is built
    kAcTablesReady = 2,      // bit n: ac_encode_tables[n] is built
    kPendingEncode = 3,      // io_mode + 1 of an interrupted sequential encode, 0 = none
};

[[nodiscard]] int32_t install_default_tables(JPEG_PROPERTIES *props);
// quality clamped to 1..100; base: 64 bytes; out: 64 entries 1..255, same order.
void scale_quant_table(int32_t quality, const uint8_t *base, int16_t *out);
[[nodiscard]] int32_t write_stream_header(JPEG_PROPERTIES *props);
[[nodiscard]] int32_t encode_sequential(JPEG_PROPERTIES *props);
[[nodiscard]] int32_t encode_progressive(JPEG_PROPERTIES *props);

// Shared by both encoders.
// The forward table of quantization-table id `id`, or null when none is prepared.
[[nodiscard]] const int16_t *forward_table(const JPEG_PROPERTIES *props, int32_t id);
// What every MCU of a frame needs, worked out once per encode call: its
// block count and each block's forward quantization table.
struct McuPlan {
    int32_t blocks;
    const int16_t *table[QRL_MCU_MAX_BLOCKS];
};
[[nodiscard]] McuPlan plan_mcu(const JPEG_PROPERTIES *props);
// Fills mcu_buffer for MCU (column, row) from the pixels or the caller's
// coefficient planes, and transforms and quantizes it unless the planes hold
// quantized coefficients. Returns the number of blocks in the MCU.
[[nodiscard]] int32_t prepare_mcu(JPEG_PROPERTIES *props, const McuPlan &plan, int32_t column, int32_t row);

} // namespace qrl
