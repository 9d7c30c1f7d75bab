// Sequential Huffman scans: the restart step, the whole-image scan loop with
// its interrupt point, and the per-MCU hand-off to the transforms and the
// output stage.
#include <cstring>

#include "decode/block_decode.h"
#include "decode/block_decode_fast.h"
#include "decode/input_source.h"
#include "decode/scan_common.h"
#include "decode/scan_loops.h"
#include "dispatch/kernel_table.h"
#include "pixels/scaled_output.h"
#include "pixels/smooth_upsampling.h"

namespace qrl {

int32_t process_restart(INPUT_SOURCE *src, SCAN_INFO *scan, int32_t columns, int32_t rows, int32_t column,
                        int32_t row) {
    const int32_t interval = scan->restart_interval;
    if (interval <= 0) return 0;
    const int64_t done = static_cast<int64_t>(row) * columns + column + 1; // units decoded so far
    if (done % interval != 0 || done >= static_cast<int64_t>(columns) * rows) return 0;
    for (int32_t &p : scan->dc_predictors) p = 0;
    src->bit_count = 0; // bits left over from the interval are padding
    if (src->pending_marker != 0) {
        // The bit reader already met the marker that ends the interval.
        src->pending_marker = 0;
        return 0;
    }
    // Whatever marker comes next ends the interval; its code is not checked,
    // so a missing or repeated restart marker is absorbed here.
    int32_t code = 0;
    return read_marker(src, &code);
}

namespace {

// Which inverse transform each block of an MCU gets.
using Transform = void (*)(int16_t *);

Transform transform_for(const KERNEL_TABLE *kt, int32_t scale, bool enlarge) {
    switch (scale) {
    case 2: return enlarge ? kt->idct_active_8x8 : kt->idct_active_4x4;
    case 4: return enlarge ? kt->idct_active_4x4 : kt->idct_active_2x2;
    case 8: return enlarge ? kt->idct_active_2x2 : kt->idct_active_1x1;
    default: return kt->idct_active_8x8;
    }
}

// Walks the components whose blocks lie in mcu_buffer: the scan's while no
// scan went through the coefficient buffer, else the frame's. For each block
// calls fn(block, frame component, its H, its V, block column h, block row v,
// one-block unit).
template <typename Fn>
void for_each_mcu_block(const JPEG_PROPERTIES *props, const SCAN_INFO *scan, int32_t blocks_per_mcu,
                        int16_t *mcu_buffer, Fn fn) {
    int16_t *block = mcu_buffer;
    int32_t used = 0;
    if (props->scans_done == 0) {
        const bool single = scan->scan_component_count == 1;
        for (int32_t i = 0; i < scan->scan_component_count && used < blocks_per_mcu; ++i) {
            const SCAN_COMPONENT &sc = scan->scan_components[i];
            const int32_t n = single ? 1 : sc.h_sampling * sc.v_sampling;
            for (int32_t b = 0; b < n && used < blocks_per_mcu; ++b, ++used, block += 64)
                fn(block, sc.component_index, sc.h_sampling, sc.v_sampling, b % sc.h_sampling, b / sc.h_sampling,
                   single);
        }
        return;
    }
    for (int32_t m = 0; m < props->frame_component_count && used < blocks_per_mcu; ++m) {
        const COMPONENT_INFO &c = props->frame_components[m];
        const int32_t n = c.h_sampling * c.v_sampling;
        for (int32_t b = 0; b < n && used < blocks_per_mcu; ++b, ++used, block += 64)
            fn(block, m, c.h_sampling, c.v_sampling, b % c.h_sampling, b / c.h_sampling, false);
    }
}

} // namespace

void reconstruct_mcu(JPEG_PROPERTIES *props, INPUT_SOURCE *src, SCAN_INFO *scan, int32_t column, int32_t row,
                     int32_t blocks_per_mcu, int16_t *mcu_buffer, int32_t columns, int32_t rows, int32_t scale,
                     int32_t uniform, MCU_TRANSFORM_CACHE *cache) {
    const KERNEL_TABLE *kt = props->kernel_table;
    if (column != columns && row != rows) {
        const size_t bytes = static_cast<size_t>(blocks_per_mcu) * 64 * sizeof(int16_t);
        if (cache != nullptr && cache->valid != 0 && std::memcmp(cache->coefficients, mcu_buffer, bytes) == 0) {
            std::memcpy(mcu_buffer, cache->transformed, bytes);
        } else {
            if (cache != nullptr) std::memcpy(cache->coefficients, mcu_buffer, bytes);
            if (scale == 1 || !uniform) {
                const Transform t = transform_for(kt, scale, false);
                for (int32_t b = 0; b < blocks_per_mcu; ++b) t(mcu_buffer + 64 * b);
            } else {
                // A component with one block per MCU comes out one size larger,
                // matching the subsampled luma without upsampling.
                for_each_mcu_block(props, scan, blocks_per_mcu, mcu_buffer,
                                   [&](int16_t *block, int32_t, int32_t h, int32_t v, int32_t, int32_t, bool) {
                                       transform_for(kt, scale, h * v == 1)(block);
                                   });
            }
            if (cache != nullptr) {
                std::memcpy(cache->transformed, mcu_buffer, bytes);
                cache->valid = 1;
            }
        }
        if (props->coefficient_planes != nullptr) {
            COEFFICIENT_PLANES *planes = props->coefficient_planes;
            for_each_mcu_block(props, scan, blocks_per_mcu, mcu_buffer,
                               [&](int16_t *block, int32_t m, int32_t h, int32_t v, int32_t bh, int32_t bv,
                                   bool single) {
                                   if (single) {
                                       copy_block_to_plane(block, planes->plane[m], columns * 8, column, row);
                                   } else {
                                       copy_block_to_plane(block, planes->plane[m], h * columns * 8,
                                                           column * h + bh, row * v + bv);
                                   }
                               });
            return;
        }
    }
    if (props->coefficient_planes != nullptr) return;
    // Smoothing looks across MCU borders, so the output lags one MCU behind:
    // the ring stores this MCU and hands back the one before it.
    int32_t out_column = column, out_row = row;
    if (smoothing_active(props) &&
        !smooth_store_and_lag(props, column, row, columns, rows, blocks_per_mcu, &out_column, &out_row))
        return;
    if (column == columns || row == rows) {
        // A lag position carries no MCU of its own; without smoothing there
        // is nothing to write there.
        if (!smoothing_active(props)) return;
    }
    if (scale == 1) {
        if (kt->mcu_writer != nullptr) (void)kt->mcu_writer(props, out_column, out_row);
    } else {
        write_scaled_mcu(props, src, scan, out_column, out_row, 8 / scale, uniform);
    }
}

namespace {

// decode_unit with the whole-MCU decoder: the same blocks, predictors and
// per-block hand-off.
int32_t decode_unit_fast(INPUT_SOURCE *src, SCAN_INFO *scan, const SCAN_LAYOUT &layout, JPEG_PROPERTIES *props,
                         FAST_SCAN *fast, bool planes0, int32_t column, int32_t row) {
    int16_t *block = props->mcu_buffer;
    const int32_t status = decode_mcu_fast(src, fast, scan->dc_predictors, block);
    if (status < 0) return status;
    const TableBlockFn dequantize = props->kernel_table->dequantize_active;
    for (int32_t i = 0; i < layout.count; ++i) {
        for (int32_t b = 0; b < layout.blocks[i]; ++b, block += 64) {
            if (!planes0) {
                dequantize(block, layout.quant[i]);
                continue;
            }
            int16_t *plane = props->coefficient_planes->plane[layout.component_index[i]];
            if (layout.single) {
                copy_block_to_plane(block, plane, layout.columns * 8, column, row);
            } else {
                const int32_t h = layout.h[i];
                copy_block_to_plane(block, plane, h * layout.columns * 8, column * h + b % h,
                                    row * layout.v[i] + b / h);
            }
        }
    }
    return 0;
}

} // namespace

int32_t decode_scan_sequential(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, int32_t scale) {
    SCAN_LAYOUT L;
    int32_t status = setup_scan_layout(props, scan, true, !planes_mode_zero(props), &L);
    if (status != 0) return status;
    status = check_output_ready(props, scale);
    if (status != 0) return status;

    const KERNEL_TABLE *kt = props->kernel_table;
    const DecodeBlockFn decode_block = kt->decode_huffman_block;
    if (decode_block == nullptr) return JPEG_NOT_SUPPORTED;
    const bool planes0 = planes_mode_zero(props);
    int16_t *const mcu = props->mcu_buffer;
    // A call that runs to the end of the scan decodes whole MCUs with the
    // per-scan tables; one that stops after every MCU would rebuild them for
    // each, so it calls the kernel block by block.
    FAST_SCAN fast;
    const bool use_fast = props->interrupt_after_mcu == 0 && setup_fast_scan(L, decode_block, &fast);
    MCU_TRANSFORM_CACHE transform_cache;
    transform_cache.valid = 0;

    int32_t first_column = scan->next_mcu_column;
    int32_t row = scan->next_mcu_row;
    for (; row < L.rows; ++row) {
        for (int32_t column = first_column; column < L.columns; ++column) {
            status = use_fast ? decode_unit_fast(src, scan, L, props, &fast, planes0, column, row)
                              : decode_unit(src, scan, L, props, decode_block, true, column, row);
            if (status != 0) return status;
            status = process_restart(src, scan, L.columns, L.rows, column, row);
            if (status != 0) return status;
            if (!planes0) {
                // Blocks that repeat after the data ended give the same MCU
                // again and again: its transforms are run once.
                const bool repeating = use_fast && fast.mcu_repeated != 0 && props->coefficient_planes == nullptr;
                reconstruct_mcu(props, src, scan, column, row, L.blocks_per_mcu, mcu, L.columns, L.rows, scale,
                                L.uniform, repeating ? &transform_cache : nullptr);
            }
            status = interrupt_point(props, scan, column, row, L.columns, L.rows, L.column_lag, L.row_lag);
            if (status != kKeepGoing) return status;
        }
        if (L.column_lag == 1) {
            reconstruct_mcu(props, src, scan, L.columns, row, L.blocks_per_mcu, mcu, L.columns, L.rows, scale,
                            L.uniform);
            status = interrupt_point(props, scan, L.columns, row, L.columns, L.rows, L.column_lag, L.row_lag);
            if (status != kKeepGoing) return status;
        }
        first_column = 0;
    }
    if (L.row_lag == 1 && row == L.rows) {
        // The lagging MCU row (first_column is the resume column when the call
        // resumed inside it, else 0).
        for (int32_t column = first_column; column < L.columns; ++column) {
            reconstruct_mcu(props, src, scan, column, L.rows, L.blocks_per_mcu, mcu, L.columns, L.rows, scale,
                            L.uniform);
            status = interrupt_point(props, scan, column, L.rows, L.columns, L.rows, L.column_lag, L.row_lag);
            if (status != kKeepGoing) return status;
        }
        if (L.column_lag == 1) {
            reconstruct_mcu(props, src, scan, L.columns, L.rows, L.blocks_per_mcu, mcu, L.columns, L.rows, scale,
                            L.uniform);
            status = interrupt_point(props, scan, L.columns, L.rows, L.columns, L.rows, L.column_lag, L.row_lag);
            if (status != kKeepGoing) return status;
        }
    }
    return JPEG_OK;
}

} // namespace qrl
