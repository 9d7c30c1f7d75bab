// Scans of a frame decoded through the whole-image coefficient buffer
// (progressive frames, and multi-scan images once a scan went through the
// buffer): every block of the scan is decoded into the buffer, and once all
// components are complete the updated MCUs are output.
#include <cstring>

#include "decode/input_source.h"
#include "decode/progressive_blocks.h"
#include "decode/scan_common.h"
#include "decode/scan_loops.h"
#include "dispatch/kernel_table.h"

namespace qrl {
namespace {

inline int32_t ceil_div(int32_t a, int32_t b) { return (a + b - 1) / b; }

enum class StepKind { DcFirst, DcRefine, AcFirst, AcRefine, Full };

struct PROGRESSIVE_SCAN {
    SCAN_LAYOUT L;       // the scan's components; units of single-component scans
    StepKind kind;
    int32_t blocks_total; // blocks of one MCU, all frame components
    int32_t component_offset[QRL_MAX_COMPONENTS]; // first block of each frame component
    int32_t mcus_per_row, mcu_rows;
    int32_t column_lag, row_lag;
    bool complete;        // every component complete: output the MCUs decoded
    bool planes0;
    // Region in MCUs (whole image when not a region decode).
    bool region;
    int32_t first_column, end_column, first_row, end_row;
    const int16_t *quant[QRL_MAX_COMPONENTS]; // by frame component
};

// Checks the scan's band and successive-approximation fields and picks the
// block step. Bands that no encoder may send are refused rather than decoded.
int32_t classify_scan(const SCAN_INFO *scan, StepKind *kind) {
    const int32_t ss = scan->spectral_start, se = scan->spectral_end;
    const int32_t ah = scan->approx_high, al = scan->approx_low;
    if (ss < 0 || se < ss || se > 63 || al < 0 || al > 13 || ah < 0 || (ah != 0 && ah != al + 1))
        return JPEG_DATA_ERROR;
    if (ss == 0 && se == 0) {
        *kind = ah == 0 ? StepKind::DcFirst : StepKind::DcRefine;
        return 0;
    }
    if (ss == 0) {
        // A whole sequential scan arriving after buffered scans.
        if (se != 63 || ah != 0 || al != 0) return JPEG_DATA_ERROR;
        *kind = StepKind::Full;
        return 0;
    }
    if (scan->scan_component_count != 1) return JPEG_DATA_ERROR; // AC scans carry one component
    *kind = ah == 0 ? StepKind::AcFirst : StepKind::AcRefine;
    return 0;
}

int32_t setup_progressive(JPEG_PROPERTIES *props, const SCAN_INFO *scan, int32_t scale, bool region,
                          PROGRESSIVE_SCAN *P) {
    *P = PROGRESSIVE_SCAN{};
    int32_t status = classify_scan(scan, &P->kind);
    if (status != 0) return status;
    const bool need_ac = P->kind != StepKind::DcFirst && P->kind != StepKind::DcRefine;
    status = setup_scan_layout(props, scan, need_ac, false, &P->L);
    if (status != 0) return status;
    P->mcus_per_row = props->mcus_per_row;
    P->mcu_rows = props->mcu_rows;
    if (P->mcus_per_row <= 0 || P->mcu_rows <= 0) return JPEG_DATA_ERROR;
    for (int32_t m = 0; m < props->frame_component_count; ++m) {
        const COMPONENT_INFO &c = props->frame_components[m];
        if (c.h_sampling < 1 || c.h_sampling > QRL_MAX_SAMPLING || c.v_sampling < 1 ||
            c.v_sampling > QRL_MAX_SAMPLING)
            return JPEG_DATA_ERROR;
        P->component_offset[m] = P->blocks_total;
        P->blocks_total += c.h_sampling * c.v_sampling;
    }
    if (P->blocks_total > QRL_MCU_MAX_BLOCKS) return JPEG_DATA_ERROR;
    // Every block this scan can address must lie inside the buffer.
    const int64_t needed = static_cast<int64_t>(P->mcus_per_row) * P->mcu_rows * P->blocks_total;
    if (props->coefficient_buffer == nullptr || needed > props->coefficient_buffer_blocks)
        return JPEG_INTERNAL_ERROR;
    for (int32_t i = 0; i < P->L.count; ++i) {
        const COMPONENT_INFO &c = props->frame_components[P->L.component_index[i]];
        if (c.h_sampling != P->L.h[i] || c.v_sampling != P->L.v[i]) return JPEG_DATA_ERROR;
    }

    P->complete = props->dc_complete_count >= props->frame_component_count &&
                  props->components_complete_count >= props->frame_component_count;
    P->planes0 = planes_mode_zero(props);
    if (P->complete) {
        status = check_output_ready(props, scale);
        if (status != 0) return status;
        if (!P->planes0) {
            for (int32_t m = 0; m < props->frame_component_count; ++m) {
                const int32_t q = props->frame_components[m].quant_table;
                if (q < 0 || q > 3 || props->quant_tables[q].coefficients == nullptr) return JPEG_NO_QUANT_TABLE;
                P->quant[m] = props->quant_tables[q].coefficients;
            }
        }
    }
    if (props->smooth_upsampling == 1) {
        P->column_lag = (props->max_h_sampling == 2 && props->max_v_sampling <= 2) ? 1 : 0;
        P->row_lag = (props->max_h_sampling == 2 && props->max_v_sampling == 2) ? 1 : 0;
    }
    P->first_column = 0;
    P->end_column = P->mcus_per_row;
    P->first_row = 0;
    P->end_row = P->mcu_rows;
    P->region = region;
    if (region) {
        // Output is by frame MCU whatever the scan's components.
        int32_t mw = 8 * props->max_h_sampling / scale, mh = 8 * props->max_v_sampling / scale;
        if (mw < 1) mw = 1;
        if (mh < 1) mh = 1;
        const int32_t left = props->roi[0] > 0 ? props->roi[0] : 0;
        const int32_t top = props->roi[1] > 0 ? props->roi[1] : 0;
        P->first_column = left / mw;
        P->first_row = top / mh;
        if (props->roi[2] > 0) P->end_column = ceil_div(props->roi[2], mw);
        if (props->roi[3] > 0) P->end_row = ceil_div(props->roi[3], mh);
        if (P->end_column > P->mcus_per_row) P->end_column = P->mcus_per_row;
        if (P->end_row > P->mcu_rows) P->end_row = P->mcu_rows;
        if (P->first_column > P->end_column) P->first_column = P->end_column;
        if (P->first_row > P->end_row) P->first_row = P->end_row;
        const int32_t clag = props->smooth_upsampling == 1 && props->max_h_sampling == 2 ? 1 : 0;
        const int32_t rlag = props->smooth_upsampling == 1 && props->max_v_sampling == 2 ? 1 : 0;
        if (P->first_column != 0) P->first_column -= clag;
        if (P->first_row != 0) P->first_row -= rlag;
        if (P->end_column < P->mcus_per_row) P->end_column += clag;
        if (P->end_row < P->mcu_rows) P->end_row += rlag;
    }
    return 0;
}

inline int16_t *mcu_blocks(JPEG_PROPERTIES *props, const PROGRESSIVE_SCAN &P, int32_t column, int32_t row) {
    const intptr_t index = static_cast<intptr_t>(row) * P.mcus_per_row + column;
    return props->coefficient_buffer + index * P.blocks_total * 64;
}

// Runs the scan's block step on one block of scan component i.
void decode_step(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, const PROGRESSIVE_SCAN &P, int32_t i,
                 int16_t *block) {
    const int32_t al = scan->approx_low;
    int16_t pred;
    switch (P.kind) {
    case StepKind::DcFirst:
        std::memset(block, 0, 64 * sizeof(int16_t));
        pred = static_cast<int16_t>(scan->dc_predictors[i]);
        (void)decode_dc_first(src, P.L.dc[i], block, &pred, al);
        scan->dc_predictors[i] = pred;
        break;
    case StepKind::DcRefine:
        (void)decode_dc_refine(src, block, al);
        break;
    case StepKind::AcFirst:
        (void)decode_ac_first(src, block, P.L.ac[i], scan->spectral_start, scan->spectral_end, al);
        break;
    case StepKind::AcRefine:
        (void)decode_ac_refine(src, block, P.L.ac[i], scan->spectral_start, scan->spectral_end, al);
        break;
    case StepKind::Full:
        pred = static_cast<int16_t>(scan->dc_predictors[i]);
        (void)props->kernel_table->decode_huffman_block(src, P.L.dc[i], P.L.ac[i], &pred, block);
        scan->dc_predictors[i] = pred;
        break;
    }
}

inline bool in_region(const PROGRESSIVE_SCAN &P, int32_t column, int32_t row) {
    return column >= P.first_column && column < P.end_column && row >= P.first_row && row < P.end_row;
}

// Outputs one complete MCU: to the planes (quantized), or dequantized into
// mcu_buffer and reconstructed. Returns false when the region excludes it.
bool output_mcu(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, const PROGRESSIVE_SCAN &P,
                int32_t column, int32_t row, int32_t scale) {
    if (P.region && !in_region(P, column, row)) return false;
    const int16_t *blocks = mcu_blocks(props, P, column, row);
    if (P.planes0) {
        for (int32_t m = 0; m < props->frame_component_count; ++m) {
            const COMPONENT_INFO &c = props->frame_components[m];
            const int16_t *b = blocks + 64 * P.component_offset[m];
            for (int32_t k = 0; k < c.h_sampling * c.v_sampling; ++k, b += 64) {
                copy_block_to_plane(b, props->coefficient_planes->plane[m], c.h_sampling * P.mcus_per_row * 8,
                                    column * c.h_sampling + k % c.h_sampling, row * c.v_sampling + k / c.h_sampling);
            }
        }
        return true;
    }
    int16_t *mcu = props->mcu_buffer;
    std::memcpy(mcu, blocks, static_cast<size_t>(P.blocks_total) * 64 * sizeof(int16_t));
    const TableBlockFn dequantize = props->kernel_table->dequantize_active;
    int16_t *b = mcu;
    for (int32_t m = 0; m < props->frame_component_count; ++m) {
        const COMPONENT_INFO &c = props->frame_components[m];
        for (int32_t k = 0; k < c.h_sampling * c.v_sampling; ++k, b += 64) dequantize(b, P.quant[m]);
    }
    reconstruct_mcu(props, src, scan, column, row, P.blocks_total, mcu, P.mcus_per_row, P.mcu_rows, scale,
                    P.L.uniform);
    return true;
}

// A smoothing lag position (column == mcus_per_row or row == mcu_rows).
void output_lag(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, const PROGRESSIVE_SCAN &P,
                int32_t column, int32_t row, int32_t scale) {
    if (P.planes0) return;
    reconstruct_mcu(props, src, scan, column, row, P.blocks_total, props->mcu_buffer, P.mcus_per_row, P.mcu_rows,
                    scale, P.L.uniform);
}

// Result of a region scan that ran to its end.
inline int32_t region_result(const PROGRESSIVE_SCAN &P) { return P.complete ? JPEG_ROI_OK : JPEG_OK; }

// Interleaved scan (several components; DC or whole sequential blocks),
// walked MCU by MCU. Each scan component addresses the blocks of its own
// frame component.
int32_t run_interleaved(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, const PROGRESSIVE_SCAN &P,
                        int32_t scale) {
    const int32_t columns = P.mcus_per_row, rows = P.mcu_rows;
    int32_t first_column = scan->next_mcu_column;
    int32_t row = scan->next_mcu_row;
    int32_t status;
    for (; row < rows; ++row) {
        for (int32_t column = first_column; column < columns; ++column) {
            int16_t *blocks = mcu_blocks(props, P, column, row);
            for (int32_t i = 0; i < P.L.count; ++i) {
                const int32_t m = P.L.component_index[i];
                int16_t *b = blocks + 64 * P.component_offset[m];
                for (int32_t k = 0; k < P.L.h[i] * P.L.v[i]; ++k, b += 64) decode_step(src, scan, props, P, i, b);
            }
            if (process_restart(src, scan, columns, rows, column, row) != 0) return JPEG_BAD_RST_MARKER;
            bool output = false;
            if (P.complete) output = output_mcu(src, scan, props, P, column, row, scale);
            if (!P.region || output) {
                status = interrupt_point(props, scan, column, row, columns, rows, P.column_lag, P.row_lag);
                if (status != kKeepGoing) return (status == JPEG_OK && P.region) ? region_result(P) : status;
            }
        }
        first_column = 0;
        if (P.complete && P.column_lag == 1 && (!P.region || (row >= P.first_row && row < P.end_row))) {
            output_lag(src, scan, props, P, P.region ? P.end_column : columns, row, scale);
            if (!P.region) {
                status = interrupt_point(props, scan, columns, row, columns, rows, P.column_lag, P.row_lag);
                if (status != kKeepGoing) return status;
            }
        }
    }
    if (P.complete && P.row_lag == 1 && row == rows) {
        const int32_t end = P.region ? P.end_column : columns;
        for (int32_t column = P.region ? P.first_column : first_column; column < end; ++column) {
            output_lag(src, scan, props, P, column, rows, scale);
            if (!P.region) {
                status = interrupt_point(props, scan, column, rows, columns, rows, P.column_lag, P.row_lag);
                if (status != kKeepGoing) return status;
            }
        }
        if (P.column_lag == 1) {
            output_lag(src, scan, props, P, end, rows, scale);
            if (!P.region) {
                status = interrupt_point(props, scan, columns, rows, columns, rows, P.column_lag, P.row_lag);
                if (status != kKeepGoing) return status;
            }
        }
    }
    return P.region ? region_result(P) : JPEG_OK;
}

// Single-component scan: the component's blocks in its own raster order (a
// non-interleaved scan, ITU-T T.81 A.2.2), restarts counted in blocks; the
// loop steps by MCU rows so that complete MCU rows can be output.
int32_t run_single(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, const PROGRESSIVE_SCAN &P,
                   int32_t scale) {
    const int32_t m = P.L.component_index[0];
    const int32_t H = P.L.h[0], V = P.L.v[0];
    const int32_t bc = P.L.columns, br = P.L.rows; // the component's blocks
    const int32_t columns = P.mcus_per_row, rows = P.mcu_rows;
    int32_t row = scan->next_mcu_row;
    for (; row < rows; ++row) {
        for (int32_t v = 0; v < V; ++v) {
            const int32_t by = row * V + v;
            if (by >= br) break;
            for (int32_t column = 0; column < columns; ++column) {
                int16_t *blocks = mcu_blocks(props, P, column, row) + 64 * (P.component_offset[m] + v * H);
                for (int32_t h = 0; h < H; ++h) {
                    const int32_t bx = column * H + h;
                    if (bx >= bc) break;
                    decode_step(src, scan, props, P, 0, blocks + 64 * h);
                    if (process_restart(src, scan, bc, br, bx, by) != 0) return JPEG_BAD_RST_MARKER;
                }
            }
        }
        bool output = false;
        if (P.complete) {
            for (int32_t column = 0; column < columns; ++column)
                output = output_mcu(src, scan, props, P, column, row, scale) || output;
            if (P.column_lag == 1 && output) output_lag(src, scan, props, P, P.region ? P.end_column : columns, row, scale);
        }
        if (props->interrupt_after_mcu != 0 && (!P.region || output)) {
            scan->next_mcu_column = 0;
            scan->next_mcu_row = row + 1;
            if (row + 1 == rows + P.row_lag) {
                scan->next_mcu_row = 0;
                return P.region ? region_result(P) : JPEG_OK;
            }
            props->roi[0] = props->roi[2] = columns - 1;
            props->roi[1] = props->roi[3] = row;
            return JPEG_INTERRUPT_OK;
        }
    }
    if (P.complete && P.row_lag == 1 && row == rows) {
        const int32_t first = P.region ? P.first_column : 0;
        const int32_t end = P.region ? P.end_column : columns;
        for (int32_t column = first; column < end; ++column) output_lag(src, scan, props, P, column, rows, scale);
        if (P.column_lag == 1) output_lag(src, scan, props, P, end, rows, scale);
        if (P.region && props->interrupt_after_mcu != 0) {
            scan->next_mcu_column = 0;
            scan->next_mcu_row = 0;
        }
    }
    return P.region ? region_result(P) : JPEG_OK;
}

// Resume row of a buffered scan that a region decode has decoded to its end
// and left pending. The next call on the record (another region, or the
// whole image) resumes it; its data must not be decoded a second time from
// wherever the source stands (refinements would be applied twice), so that
// call outputs from the coefficient buffer instead.
constexpr int32_t kScanAlreadyDecoded = 0x7FFFFFF0;

// Outputs the MCUs of the region (or of the whole image) from the buffer,
// with the smoothing lag calls.
void output_buffered(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, const PROGRESSIVE_SCAN &P,
                     int32_t scale) {
    const int32_t r0 = P.region ? P.first_row : 0, r1 = P.region ? P.end_row : P.mcu_rows;
    const int32_t c0 = P.region ? P.first_column : 0, c1 = P.region ? P.end_column : P.mcus_per_row;
    for (int32_t row = r0; row < r1; ++row) {
        for (int32_t column = c0; column < c1; ++column) (void)output_mcu(src, scan, props, P, column, row, scale);
        if (P.column_lag == 1) output_lag(src, scan, props, P, c1, row, scale);
    }
    if (P.row_lag == 1) {
        for (int32_t column = c0; column < c1; ++column) output_lag(src, scan, props, P, column, r1, scale);
        if (P.column_lag == 1) output_lag(src, scan, props, P, c1, r1, scale);
    }
}

int32_t run_progressive(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, int32_t scale, bool region) {
    PROGRESSIVE_SCAN P;
    const int32_t status = setup_progressive(props, scan, scale, region, &P);
    if (status != 0) return status;
    if (scan->next_mcu_row == kScanAlreadyDecoded) {
        scan->next_mcu_column = 0;
        if (P.complete) output_buffered(src, scan, props, P, scale);
        if (!region) scan->next_mcu_row = 0;
        return region ? region_result(P) : JPEG_OK;
    }
    if (region && scan->next_mcu_column == 0 && scan->next_mcu_row == 0) {
        for (int32_t &p : scan->dc_predictors) p = 0;
    }
    const int32_t result = P.L.single ? run_single(src, scan, props, P, scale)
                                      : run_interleaved(src, scan, props, P, scale);
    if (region && result == JPEG_ROI_OK) {
        // The scan stays pending for the next call: mark it decoded.
        scan->next_mcu_column = 0;
        scan->next_mcu_row = kScanAlreadyDecoded;
    }
    return result;
}

} // namespace

int32_t output_coefficient_image(INPUT_SOURCE *src, JPEG_PROPERTIES *props, int32_t scale) {
    if (props->frame_components == nullptr || props->frame_component_count < 1 ||
        props->frame_component_count > QRL_MAX_COMPONENTS)
        return JPEG_DATA_ERROR;
    // A scan over every frame component stands in for the scan that would
    // have completed the image.
    SCAN_COMPONENT components[QRL_MAX_COMPONENTS] = {};
    SCAN_INFO scan{};
    scan.scan_component_count = props->frame_component_count;
    scan.scan_components = components;
    for (int32_t m = 0; m < props->frame_component_count; ++m) {
        components[m].component_index = m;
        components[m].h_sampling = props->frame_components[m].h_sampling;
        components[m].v_sampling = props->frame_components[m].v_sampling;
        components[m].dc_table = &props->dc_huffman_tables[0];
        components[m].ac_table = &props->ac_huffman_tables[0];
    }
    if (scan.scan_component_count == 1) {
        scan.spectral_end = 63; // any single-component band will do; nothing is decoded
        scan.spectral_start = 1;
    }
    const int32_t saved_dc = props->dc_complete_count;
    const int32_t saved_ac = props->components_complete_count;
    props->dc_complete_count = props->components_complete_count = props->frame_component_count;
    PROGRESSIVE_SCAN P;
    const int32_t status = setup_progressive(props, &scan, scale, false, &P);
    props->dc_complete_count = saved_dc;
    props->components_complete_count = saved_ac;
    if (status != 0) return status;
    output_buffered(src, &scan, props, P, scale);
    if (props->kernel_table->simd_state_reset != nullptr) props->kernel_table->simd_state_reset();
    return 0;
}

int32_t decode_scan_progressive(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, int32_t scale) {
    return run_progressive(src, scan, props, scale, false);
}

int32_t decode_scan_progressive_region(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, int32_t scale) {
    return run_progressive(src, scan, props, scale, true);
}

} // namespace qrl
