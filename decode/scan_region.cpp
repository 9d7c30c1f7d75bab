// Region decoding of sequential scans: units outside the region are decoded
// DC-only to keep the predictors and the bit position right, and the row
// index lets later rows and later region decodes jump over what is known.
#include "decode/scan_region.h"

#include "decode/input_source.h"
#include "decode/scan_common.h"
#include "decode/scan_loops.h"
#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"

namespace qrl {

bool row_state_recorded(const JPEG_PROPERTIES *props, int32_t n) {
    return props->row_index != nullptr && n >= 0 && n < QRL_ROW_INDEX_ENTRIES && props->row_index[n].position != -1;
}

void save_row_state(JPEG_PROPERTIES *props, INPUT_SOURCE *src, SCAN_INFO *scan, int32_t n) {
    if (props->row_index == nullptr || n < 0 || n >= QRL_ROW_INDEX_ENTRIES) return;
    ROW_INDEX_ENTRY &e = props->row_index[n];
    for (int32_t i = 0; i < QRL_MAX_COMPONENTS; ++i) e.dc_predictors[i] = scan->dc_predictors[i];
    e.bit_buffer_low = static_cast<uint32_t>(src->bit_buffer);
    e.bit_buffer_high = static_cast<uint32_t>(src->bit_buffer >> 32);
    e.bit_count = src->bit_count;
    e.pending_marker = src->pending_marker;
    e.position = src->file != nullptr ? static_cast<intptr_t>(src->position) : reinterpret_cast<intptr_t>(src->cur);
}

int32_t restore_row_state(JPEG_PROPERTIES *props, INPUT_SOURCE *src, SCAN_INFO *scan, int32_t n) {
    if (!row_state_recorded(props, n)) return JPEG_FILE_ERROR;
    const ROW_INDEX_ENTRY &e = props->row_index[n];
    if (src->file != nullptr) {
        if (e.position < 0 || e.position > INT32_MAX) return JPEG_FILE_ERROR;
        if (seek_file(src->file, static_cast<int32_t>(e.position), kSeekFromStart) == 0) return JPEG_FILE_ERROR;
        src->avail = 0;
        if (refill_input(src) != 0) return JPEG_FILE_ERROR;
        src->position = static_cast<int32_t>(e.position);
    } else {
        // An address that does not lie in the buffer (a stale index over a
        // different buffer) is refused rather than read from.
        const intptr_t start = reinterpret_cast<intptr_t>(src->start);
        if (src->size < 0 || e.position < start || e.position > start + src->size) return JPEG_FILE_ERROR;
        const int32_t offset = static_cast<int32_t>(e.position - start);
        src->cur = src->start + offset;
        src->position = offset;
        src->avail = src->size - offset;
    }
    for (int32_t i = 0; i < QRL_MAX_COMPONENTS; ++i) scan->dc_predictors[i] = e.dc_predictors[i];
    src->bit_buffer = (static_cast<uint64_t>(e.bit_buffer_high) << 32) | e.bit_buffer_low;
    src->bit_count = e.bit_count;
    src->pending_marker = static_cast<uint8_t>(e.pending_marker);
    return 0;
}

namespace {

inline int32_t ceil_div(int32_t a, int32_t b) { return (a + b - 1) / b; }

// Region of a scan in units, with the smoothing lags applied.
struct REGION_UNITS {
    int32_t first_column, end_column, first_row, end_row;
    int32_t column_lag, row_lag;
};

REGION_UNITS region_units(const JPEG_PROPERTIES *props, const SCAN_LAYOUT &L, int32_t scale) {
    REGION_UNITS r{};
    int32_t mw = 8 * props->max_h_sampling;
    int32_t mh = 8 * props->max_v_sampling;
    if (L.single) {
        mw = 8 * (props->max_h_sampling / L.h[0]);
        mh = 8 * (props->max_v_sampling / L.v[0]);
    }
    mw = mw / scale > 0 ? mw / scale : 1;
    mh = mh / scale > 0 ? mh / scale : 1;
    const int32_t left = props->roi[0] > 0 ? props->roi[0] : 0;
    const int32_t top = props->roi[1] > 0 ? props->roi[1] : 0;
    // A right or bottom edge of 0 (a region chosen by left or top alone)
    // reaches the image's edge.
    r.first_column = left / mw;
    r.end_column = props->roi[2] > 0 ? ceil_div(props->roi[2], mw) : L.columns;
    r.first_row = top / mh;
    r.end_row = props->roi[3] > 0 ? ceil_div(props->roi[3], mh) : L.rows;
    if (r.end_column > L.columns) r.end_column = L.columns;
    if (r.end_row > L.rows) r.end_row = L.rows;
    if (r.first_column > r.end_column) r.first_column = r.end_column;
    if (r.first_row > r.end_row) r.first_row = r.end_row;
    if (props->smooth_upsampling == 1) {
        r.column_lag = props->max_h_sampling == 2 ? 1 : 0;
        r.row_lag = props->max_v_sampling == 2 ? 1 : 0;
    }
    if (r.first_column != 0) r.first_column -= r.column_lag;
    if (r.first_row != 0) r.first_row -= r.row_lag;
    if (r.end_column < L.columns) r.end_column += r.column_lag;
    if (r.end_row < L.rows) r.end_row += r.row_lag;
    return r;
}

// Passes over the units [from, to) of a row with the DC-only kernel.
int32_t skip_units(INPUT_SOURCE *src, SCAN_INFO *scan, const SCAN_LAYOUT &L, JPEG_PROPERTIES *props, int32_t row,
                   int32_t from, int32_t to) {
    const DecodeBlockFn dc_only = props->kernel_table->decode_huffman_dc_only;
    for (int32_t column = from; column < to; ++column) {
        if (decode_unit(src, scan, L, props, dc_only, false, column, row) != 0) return JPEG_DATA_ERROR;
        if (process_restart(src, scan, L.columns, L.rows, column, row) != 0) return JPEG_BAD_RST_MARKER;
    }
    return 0;
}

} // namespace

int32_t decode_scan_sequential_region(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, int32_t scale) {
    SCAN_LAYOUT L;
    int32_t status = setup_scan_layout(props, scan, true, !planes_mode_zero(props), &L);
    if (status != 0) return status;
    status = check_output_ready(props, scale);
    if (status != 0) return status;
    KERNEL_TABLE *kt = props->kernel_table;
    if (kt->decode_huffman_block == nullptr || kt->decode_huffman_dc_only == nullptr) return JPEG_NOT_SUPPORTED;

    const bool partial = props->partial_scan == 1;
    // Later scans of a frame coded one scan per component cannot use the
    // index (it belongs to the first scan): they decode the rows they pass.
    const bool pass_by_decoding = partial && src->scan_channel_offset != 0;
    const bool resumed = scan->next_mcu_column != 0 || scan->next_mcu_row != 0;
    if (!resumed && !partial) {
        for (int32_t &p : scan->dc_predictors) p = 0;
    }
    if (!pass_by_decoding && props->row_index == nullptr) return JPEG_INTERNAL_ERROR;

    const REGION_UNITS R = region_units(props, L, scale);
    const bool planes0 = planes_mode_zero(props);
    int16_t *const mcu = props->mcu_buffer;

    const int32_t start_row = scan->next_mcu_row > R.first_row ? scan->next_mcu_row : R.first_row;
    if (scan->next_mcu_column == 0) {
        if (pass_by_decoding) {
            for (int32_t row = 0; row < start_row; ++row) {
                status = skip_units(src, scan, L, props, row, 0, L.columns);
                if (status != 0) return status;
            }
        } else if (!row_state_recorded(props, start_row)) {
            // Entry 0 is recorded when the index is made, so a nearest
            // earlier recorded row always exists.
            int32_t r = start_row < QRL_ROW_INDEX_ENTRIES ? start_row : QRL_ROW_INDEX_ENTRIES - 1;
            while (r > 0 && !row_state_recorded(props, r)) --r;
            status = restore_row_state(props, src, scan, r);
            if (status != 0) return status;
            for (; r < start_row; ++r) {
                status = skip_units(src, scan, L, props, r, 0, L.columns);
                if (status != 0) return status;
                save_row_state(props, src, scan, r + 1);
            }
        } else {
            status = restore_row_state(props, src, scan, start_row);
            if (status != 0) return status;
        }
    }

    int32_t first_column = scan->next_mcu_column;
    for (int32_t row = start_row; row < R.end_row; ++row) {
        status = skip_units(src, scan, L, props, row, first_column, R.first_column);
        if (status != 0) return status;
        const int32_t region_start = first_column > R.first_column ? first_column : R.first_column;
        for (int32_t column = region_start; column < R.end_column; ++column) {
            if (decode_unit(src, scan, L, props, kt->decode_huffman_block, true, column, row) != 0)
                return JPEG_DATA_ERROR;
            if (process_restart(src, scan, L.columns, L.rows, column, row) != 0) return JPEG_BAD_RST_MARKER;
            if (!planes0) {
                reconstruct_mcu(props, src, scan, column, row, L.blocks_per_mcu, mcu, L.columns, L.rows, scale,
                                L.uniform);
            }
            if (props->interrupt_after_mcu != 0 && !partial && !(R.column_lag == 1 && column == R.first_column) &&
                !(R.row_lag == 1 && row == R.first_row)) {
                if (column != R.end_column - 1 + R.column_lag) {
                    scan->next_mcu_column = (column + 1) % (R.end_column + R.column_lag);
                    scan->next_mcu_row = row;
                    props->roi[0] = column - R.column_lag;
                    props->roi[1] = row - R.row_lag;
                    props->roi[2] = column - R.column_lag;
                    props->roi[3] = row - R.row_lag;
                    return JPEG_INTERRUPT_OK;
                }
                scan->next_mcu_column = 0;
                scan->next_mcu_row = 0;
            }
        }
        if (R.column_lag == 1) {
            reconstruct_mcu(props, src, scan, R.end_column, row, L.blocks_per_mcu, mcu, L.columns, L.rows, scale,
                            L.uniform);
            if (props->interrupt_after_mcu != 0 && !partial) {
                scan->next_mcu_column = 0;
                scan->next_mcu_row = 0;
            }
        }
        first_column = 0;
        if (row + 1 < L.rows) {
            if (pass_by_decoding) {
                status = skip_units(src, scan, L, props, row, R.end_column, L.columns);
                if (status != 0) return status;
            } else if (!row_state_recorded(props, row + 1)) {
                status = skip_units(src, scan, L, props, row, R.end_column, L.columns);
                if (status != 0) return status;
                save_row_state(props, src, scan, row + 1);
            } else {
                status = restore_row_state(props, src, scan, row + 1);
                if (status != 0) return status;
            }
        }
    }
    if (R.row_lag == 1) {
        for (int32_t column = R.first_column; column < R.end_column + R.column_lag; ++column) {
            reconstruct_mcu(props, src, scan, column, R.end_row, L.blocks_per_mcu, mcu, L.columns, L.rows, scale,
                            L.uniform);
        }
    }
    if (kt->simd_state_reset != nullptr) kt->simd_state_reset();
    if (partial && props->components_complete_count < props->frame_component_count) return JPEG_OK;
    return JPEG_ROI_OK;
}

} // namespace qrl
