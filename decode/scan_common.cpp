// Scan layout, interrupt point and coefficient-plane copies shared by the
// scan loops.
#include "decode/scan_common.h"

#include "dispatch/kernel_table.h"
#include "pixels/output_select.h"

namespace qrl {
namespace {

inline int32_t ceil_div(int32_t a, int32_t b) { return (a + b - 1) / b; }
inline int32_t abs32(int32_t v) { return v < 0 ? -v : v; }

} // namespace

int32_t frame_is_uniform(const JPEG_PROPERTIES *props) {
    if (props->max_h_sampling == 1 && props->max_v_sampling == 1) return 0;
    for (int32_t i = 0; i < props->frame_component_count; ++i) {
        const COMPONENT_INFO &c = props->frame_components[i];
        if (c.h_sampling != c.v_sampling || c.h_sampling < 1 || c.h_sampling > 2) return 0;
    }
    return 1;
}

int32_t setup_scan_layout(const JPEG_PROPERTIES *props, const SCAN_INFO *scan, bool need_ac, bool need_quant,
                          SCAN_LAYOUT *layout) {
    *layout = SCAN_LAYOUT{};
    const int32_t count = scan->scan_component_count;
    if (count < 1 || count > QRL_MAX_COMPONENTS || scan->scan_components == nullptr) return JPEG_DATA_ERROR;
    if (props->frame_components == nullptr || props->frame_component_count < 1 ||
        props->frame_component_count > QRL_MAX_COMPONENTS)
        return JPEG_DATA_ERROR;
    const int32_t max_h = props->max_h_sampling;
    const int32_t max_v = props->max_v_sampling;
    if (max_h < 1 || max_h > QRL_MAX_SAMPLING || max_v < 1 || max_v > QRL_MAX_SAMPLING) return JPEG_DATA_ERROR;
    if (props->mcu_buffer == nullptr) return JPEG_INTERNAL_ERROR;

    layout->count = count;
    layout->single = count == 1 ? 1 : 0;
    for (int32_t i = 0; i < count; ++i) {
        const SCAN_COMPONENT &sc = scan->scan_components[i];
        if (sc.component_index < 0 || sc.component_index >= props->frame_component_count) return JPEG_DATA_ERROR;
        if (sc.h_sampling < 1 || sc.h_sampling > max_h || sc.v_sampling < 1 || sc.v_sampling > max_v)
            return JPEG_DATA_ERROR;
        if (sc.dc_table == nullptr || (need_ac && sc.ac_table == nullptr)) return JPEG_NO_HUFFMAN_TABLE;
        if (need_quant && (sc.quant_table == nullptr || sc.quant_table->coefficients == nullptr))
            return JPEG_NO_QUANT_TABLE;
        layout->component_index[i] = sc.component_index;
        layout->h[i] = sc.h_sampling;
        layout->v[i] = sc.v_sampling;
        layout->dc[i] = sc.dc_table;
        layout->ac[i] = sc.ac_table;
        layout->quant[i] = sc.quant_table != nullptr ? sc.quant_table->coefficients : nullptr;
        layout->blocks[i] = layout->single ? 1 : sc.h_sampling * sc.v_sampling;
        layout->blocks_per_mcu += layout->blocks[i];
    }
    if (layout->blocks_per_mcu > QRL_MCU_MAX_BLOCKS) return JPEG_DATA_ERROR;

    if (layout->single) {
        // The component's own block grid (ITU-T T.81, A.2.2): its size in
        // samples is ceil(X * H / Hmax), in blocks that over 8.
        const int32_t width = abs32(props->jpeg_width);
        const int32_t height = abs32(props->jpeg_height);
        layout->columns = ceil_div(ceil_div(width * layout->h[0], max_h), 8);
        layout->rows = ceil_div(ceil_div(height * layout->v[0], max_v), 8);
    } else {
        layout->columns = props->mcus_per_row;
        layout->rows = props->mcu_rows;
    }
    if (layout->columns <= 0 || layout->rows <= 0) return JPEG_DATA_ERROR;
    // Unit counters (row x columns + column) must stay inside 32 bits.
    if (static_cast<int64_t>(layout->columns) * layout->rows > (int64_t{1} << 30)) return JPEG_DATA_ERROR;

    layout->uniform = frame_is_uniform(props);
    if (props->smooth_upsampling == 1) {
        layout->column_lag = (max_h == 2 && max_v <= 2) ? 1 : 0;
        layout->row_lag = (max_h == 2 && max_v == 2) ? 1 : 0;
    }
    return 0;
}

int32_t interrupt_point(JPEG_PROPERTIES *props, SCAN_INFO *scan, int32_t column, int32_t row, int32_t columns,
                        int32_t rows, int32_t column_lag, int32_t row_lag) {
    if (props->interrupt_after_mcu == 0) return kKeepGoing;
    // The smoothing delay outputs nothing at the first column and row.
    if (column_lag == 1 && column == 0) return kKeepGoing;
    if (row_lag == 1 && row == 0) return kKeepGoing;
    const int32_t next_column = (column + 1) % (columns + column_lag);
    int32_t next_row = row;
    if (next_column == 0) {
        next_row = row + 1;
        if (next_row == rows + row_lag) {
            scan->next_mcu_column = 0;
            scan->next_mcu_row = 0;
            return JPEG_OK;
        }
    }
    scan->next_mcu_column = next_column;
    scan->next_mcu_row = next_row;
    props->roi[0] = column - column_lag;
    props->roi[1] = row - row_lag;
    props->roi[2] = column - column_lag;
    props->roi[3] = row - row_lag;
    return JPEG_INTERRUPT_OK;
}

void copy_block_to_plane(const int16_t *block, int16_t *plane, int32_t width, int32_t bx, int32_t by) {
    if (plane == nullptr) return;
    int16_t *dst = plane + (static_cast<intptr_t>(by) * 8) * width + static_cast<intptr_t>(bx) * 8;
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 8; ++x) dst[x] = block[8 * y + x];
        dst += width;
    }
}

int32_t decode_unit(INPUT_SOURCE *src, SCAN_INFO *scan, const SCAN_LAYOUT &layout, JPEG_PROPERTIES *props,
                    DecodeBlockFn kernel, bool full, int32_t column, int32_t row) {
    const bool planes0 = full && planes_mode_zero(props);
    const TableBlockFn dequantize = props->kernel_table->dequantize_active;
    int16_t *block = props->mcu_buffer;
    for (int32_t i = 0; i < layout.count; ++i) {
        for (int32_t b = 0; b < layout.blocks[i]; ++b, block += 64) {
            int16_t pred = static_cast<int16_t>(scan->dc_predictors[i]);
            const int32_t status = kernel(src, layout.dc[i], layout.ac[i], &pred, block);
            scan->dc_predictors[i] = pred; // kept sign-extended
            if (status < 0) return status;
            if (!full) continue;
            if (planes0) {
                int16_t *plane = props->coefficient_planes->plane[layout.component_index[i]];
                if (layout.single) {
                    copy_block_to_plane(block, plane, layout.columns * 8, column, row);
                } else {
                    const int32_t h = layout.h[i];
                    copy_block_to_plane(block, plane, h * layout.columns * 8, column * h + b % h,
                                        row * layout.v[i] + b / h);
                }
            } else {
                dequantize(block, layout.quant[i]);
            }
        }
    }
    return 0;
}

int32_t check_output_ready(const JPEG_PROPERTIES *props, int32_t scale) {
    const KERNEL_TABLE *kt = props->kernel_table;
    if (kt == nullptr) return JPEG_INTERNAL_ERROR;
    if (planes_mode_zero(props)) return 0;
    if (kt->dequantize_active == nullptr) return JPEG_NOT_SUPPORTED;
    // A layout without an output routine is refused at every scale rather
    // than decoded into pixels that nothing would write correctly.
    if (props->coefficient_planes == nullptr && !output_routine_ready(props)) return JPEG_NOT_SUPPORTED;
    switch (scale) {
    case 1:
        return kt->idct_active_8x8 != nullptr ? 0 : JPEG_NOT_SUPPORTED;
    case 2:
        return (kt->idct_active_4x4 && kt->idct_active_8x8) ? 0 : JPEG_NOT_SUPPORTED;
    case 4:
        return (kt->idct_active_2x2 && kt->idct_active_4x4) ? 0 : JPEG_NOT_SUPPORTED;
    case 8:
        return (kt->idct_active_1x1 && kt->idct_active_2x2) ? 0 : JPEG_NOT_SUPPORTED;
    default:
        return JPEG_NOT_SUPPORTED;
    }
}

} // namespace qrl
