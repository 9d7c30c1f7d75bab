// Pieces shared by the sequential, region and progressive scan loops: the
// scan's layout, the restart step, the interrupt point and the per-MCU
// hand-off to the inverse transforms and the output stage.
#pragma once

#include <cstdint>

#include "codec/codec.h"
#include "dispatch/kernel_table.h"

namespace qrl {

// What a scan loop needs to know about its components and its MCU grid.
struct SCAN_LAYOUT {
    int32_t count;          // scan components
    int32_t single;         // 1: one-component scan, whose unit is one block
    int32_t blocks[QRL_MAX_COMPONENTS]; // blocks per unit of each scan component
    int32_t blocks_per_mcu; // blocks of one unit, all scan components
    int32_t columns;        // units per row
    int32_t rows;           // unit rows
    int32_t uniform;        // reduced-size transforms may enlarge 1x1 components
    int32_t column_lag;     // smoothing delay of the output, in MCU columns
    int32_t row_lag;        // and rows
    int32_t component_index[QRL_MAX_COMPONENTS];
    int32_t h[QRL_MAX_COMPONENTS];
    int32_t v[QRL_MAX_COMPONENTS];
    const HUFFMAN_DECODE_TABLE *dc[QRL_MAX_COMPONENTS];
    const HUFFMAN_DECODE_TABLE *ac[QRL_MAX_COMPONENTS];
    const int16_t *quant[QRL_MAX_COMPONENTS]; // derived dequantization tables
};

// Fills the layout of a scan and checks that its fields are safe to decode
// with: component and sampling ranges, a non-empty grid, an MCU that fits the
// MCU buffer, and the tables it names. `need_ac` is false for progressive DC
// scans, which read no AC table. Returns 0 or a negative error.
[[nodiscard]] int32_t setup_scan_layout(const JPEG_PROPERTIES *props, const SCAN_INFO *scan, bool need_ac,
                                        bool need_quant, SCAN_LAYOUT *layout);

// True when reduced-size transforms may give 1x1 components the next larger
// output (every frame component square with factor 1 or 2, not all 1).
[[nodiscard]] int32_t frame_is_uniform(const JPEG_PROPERTIES *props);

// Restart step after the unit at (column, row) of a columns x rows grid: at
// the end of an interval (not after the scan's last unit) the predictors and
// the accumulator are cleared and the next marker is taken as the restart
// marker, whatever its code. Returns 0 or the marker search's error.
[[nodiscard]] int32_t process_restart(INPUT_SOURCE *src, SCAN_INFO *scan, int32_t columns, int32_t rows,
                                      int32_t column, int32_t row);

// Result of interrupt_point when the loop goes on.
constexpr int32_t kKeepGoing = 1000;

// Interrupt point after the unit at (column, row) has been passed to the
// output: returns kKeepGoing, or the result the loop returns (JPEG_OK when the
// scan just completed, JPEG_INTERRUPT_OK after storing the resume point and
// the MCU position in roi).
[[nodiscard]] int32_t interrupt_point(JPEG_PROPERTIES *props, SCAN_INFO *scan, int32_t column, int32_t row,
                                      int32_t columns, int32_t rows, int32_t column_lag, int32_t row_lag);

// Hands one MCU on: inverse transforms (unless it is a lag position, column
// == columns or row == rows), then the copy into coefficient planes, or the
// smoothing step and the output routine (mcu_writer at scale 1,
// write_scaled_mcu otherwise).
//
// With `cache`, an MCU whose coefficients equal those of the MCU the cache
// last transformed takes the transformed blocks from the cache instead of
// running the transforms again (the scan loop passes one only while its
// blocks repeat, after the data ended).
struct MCU_TRANSFORM_CACHE {
    int32_t valid;
    int16_t coefficients[QRL_MCU_MAX_BLOCKS * 64];
    int16_t transformed[QRL_MCU_MAX_BLOCKS * 64];
};
void reconstruct_mcu(JPEG_PROPERTIES *props, INPUT_SOURCE *src, SCAN_INFO *scan, int32_t column, int32_t row,
                     int32_t blocks_per_mcu, int16_t *mcu_buffer, int32_t columns, int32_t rows, int32_t scale,
                     int32_t uniform, MCU_TRANSFORM_CACHE *cache = nullptr);

// Copies one block's 64 values into a coefficient image `width` values wide
// at block coordinates (bx, by).
void copy_block_to_plane(const int16_t *block, int16_t *plane, int32_t width, int32_t bx, int32_t by);

// Decodes the blocks of the unit at (column, row) into mcu_buffer with
// `kernel`. full: each block is then dequantized, or copied into the
// coefficient planes when the caller asked for quantized coefficients; not
// full (the DC-only pass over units outside a region): nothing else. Returns
// 0 or the kernel's negative result.
[[nodiscard]] int32_t decode_unit(INPUT_SOURCE *src, SCAN_INFO *scan, const SCAN_LAYOUT &layout,
                                  JPEG_PROPERTIES *props, DecodeBlockFn kernel, bool full, int32_t column,
                                  int32_t row);

// True when the caller asked for quantized coefficients instead of pixels.
[[nodiscard]] inline bool planes_mode_zero(const JPEG_PROPERTIES *props) {
    return props->coefficient_planes != nullptr && props->coefficient_planes->planes_mode == 0;
}

// Refuses a scan that cannot produce its output: at full scale an output
// routine must be installed unless the blocks go to coefficient planes.
[[nodiscard]] int32_t check_output_ready(const JPEG_PROPERTIES *props, int32_t scale);

} // namespace qrl
