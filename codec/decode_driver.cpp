// The image decode driver: the marker loop of one codec_read call, scan
// bookkeeping (single-pass scans straight to pixels, every other scan through
// the whole-image coefficient buffer), resumption of a pending scan, and the
// per-scan set-up that picks the scan loop.
#include "codec/decode_driver.h"

#include "codec/memory.h"
#include "decode/input_source.h"
#include "decode/markers.h"
#include "decode/scan_common.h"
#include "decode/scan_loops.h"
#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"
#include "pixels/output_select.h"
#include "pixels/scaled_output.h"
#include "transform/quant_prepare.h"

namespace qrl {
namespace {

// Default limits (JPEG_PROPERTIES max_coefficient_bytes and max_scans, set by
// codec_init): a whole-image coefficient buffer of at most 1 GiB (a 65535 x
// 65535 progressive image would need about 12 GiB) and at most 500 scans in
// one call (a "scan bomb" of thousands of tiny scans would otherwise cost
// time without bound). Exceeding either gives JPEG_MEMORY_ERROR before any
// allocation sized from the headers.
constexpr int64_t kDefaultMaxCoefficientBytes = int64_t{1} << 30;
constexpr int32_t kDefaultMaxScans = 500;

// The record's limits, or the defaults where the caller left 0 or less.
uint64_t coefficient_limit(const JPEG_PROPERTIES *props) {
    return static_cast<uint64_t>(props->max_coefficient_bytes > 0 ? props->max_coefficient_bytes
                                                                  : kDefaultMaxCoefficientBytes);
}
int32_t scan_limit(const JPEG_PROPERTIES *props) {
    return props->max_scans > 0 ? props->max_scans : kDefaultMaxScans;
}

void release_scan(SCAN_INFO *&scan) {
    if (scan == nullptr) return;
    release(scan->scan_components);
    release(scan);
}

int64_t ceil_div(int64_t a, int64_t b) { return b > 0 ? (a + b - 1) / b : 0; }

// Blocks of the whole image for the current frame: (sum of H x V) per MCU
// times the MCU grid, computed in 64 bits.
uint64_t frame_blocks(const JPEG_PROPERTIES *props) {
    int64_t per_mcu = 0;
    int32_t max_h = 1;
    int32_t max_v = 1;
    const int32_t count = props->frame_component_count < QRL_MAX_COMPONENTS
                              ? props->frame_component_count
                              : QRL_MAX_COMPONENTS;
    for (int32_t i = 0; i < count; ++i) {
        const COMPONENT_INFO &c = props->frame_components[i];
        per_mcu += static_cast<int64_t>(c.h_sampling) * c.v_sampling;
        if (c.h_sampling > max_h) max_h = c.h_sampling;
        if (c.v_sampling > max_v) max_v = c.v_sampling;
    }
    const int64_t height = props->jpeg_height < 0 ? -static_cast<int64_t>(props->jpeg_height)
                                                  : props->jpeg_height;
    const int64_t columns = ceil_div(props->jpeg_width, 8 * max_h);
    const int64_t rows = ceil_div(height, 8 * max_v);
    return static_cast<uint64_t>(per_mcu * columns * rows);
}

int32_t allocate_coefficient_buffer(JPEG_PROPERTIES *props) {
    release(props->coefficient_buffer);
    props->coefficient_buffer_blocks = 0;
    const uint64_t blocks = frame_blocks(props);
    if (blocks == 0 || blocks * 64 * sizeof(int16_t) > coefficient_limit(props)) return JPEG_MEMORY_ERROR;
    props->coefficient_buffer = allocate_zeroed<int16_t>(static_cast<std::size_t>(blocks * 64));
    if (props->coefficient_buffer == nullptr) return JPEG_MEMORY_ERROR;
    props->coefficient_buffer_blocks = static_cast<int32_t>(blocks);
    return JPEG_OK;
}

// Ring of four MCU rows for interpolated chroma: each row holds
// mcus_per_row + 2 MCU slots (the two edge neighbours included).
int32_t allocate_neighbour_ring(JPEG_PROPERTIES *props) {
    int64_t per_mcu = 0;
    const int32_t count = props->frame_component_count < QRL_MAX_COMPONENTS
                              ? props->frame_component_count
                              : QRL_MAX_COMPONENTS;
    for (int32_t i = 0; i < count; ++i)
        per_mcu += static_cast<int64_t>(props->frame_components[i].h_sampling) *
                   props->frame_components[i].v_sampling;
    const int64_t row_blocks = per_mcu * (static_cast<int64_t>(props->mcus_per_row) + 2);
    if (row_blocks <= 0 || static_cast<uint64_t>(row_blocks) * 64 * 4 * 2 > coefficient_limit(props))
        return JPEG_MEMORY_ERROR;
    auto *ring = allocate_zeroed<NEIGHBOUR_RING>(1);
    if (ring == nullptr) return JPEG_MEMORY_ERROR;
    const std::size_t row_samples = static_cast<std::size_t>(row_blocks) * 64;
    int16_t *samples = allocate_zeroed<int16_t>(4 * row_samples);
    if (samples == nullptr) {
        release(ring);
        return JPEG_MEMORY_ERROR;
    }
    for (std::size_t r = 0; r < 4; ++r) ring->rows[r] = samples + r * row_samples;
    ring->last_row = 0;
    props->neighbour_ring = ring;
    props->neighbour_ring_blocks = static_cast<int32_t>(row_blocks);
    return JPEG_OK;
}

// Moves the source back to the first byte of the stream.
int32_t rewind_stream(JPEG_PROPERTIES *props) {
    INPUT_SOURCE *src = &props->input;
    src->bit_buffer = 0;
    src->position = 0;
    if (src->file != nullptr) {
        if (seek_file(src->file, 0, kSeekFromStart) == 0) return JPEG_FILE_ERROR;
        return refill_input(src);
    }
    // The source's start may sit at a scan header after a header read; its
    // end (start + size) is the end of the caller's buffer either way.
    uint8_t *end = src->start + src->size;
    if (props->jpeg_buffer <= end && end - props->jpeg_buffer <= INT32_MAX)
        src->size = static_cast<int32_t>(end - props->jpeg_buffer);
    src->start = props->jpeg_buffer;
    src->cur = props->jpeg_buffer;
    src->avail = src->size;
    src->end = src->cur + src->size;
    return JPEG_OK;
}

// Blocks in the MCU of an interleaved scan (ITU-T T.81 B.2.3).
constexpr int32_t kMaxInterleavedBlocks = 10;

// Layouts the output stage cannot serve are refused before decoding:
// sampling factors that do not divide the largest ones, and interleaved
// scans of more than ten blocks per MCU.
int32_t check_scan_layout(const JPEG_PROPERTIES *props, const SCAN_INFO *scan) {
    const int32_t count = props->frame_component_count < QRL_MAX_COMPONENTS
                              ? props->frame_component_count
                              : QRL_MAX_COMPONENTS;
    for (int32_t i = 0; i < count; ++i) {
        const COMPONENT_INFO &c = props->frame_components[i];
        if (c.h_sampling <= 0 || c.v_sampling <= 0 || props->max_h_sampling % c.h_sampling != 0 ||
            props->max_v_sampling % c.v_sampling != 0)
            return JPEG_DATA_ERROR;
    }
    if (scan->scan_component_count > 1) {
        int32_t blocks = 0;
        for (int32_t j = 0; j < scan->scan_component_count; ++j)
            blocks += scan->scan_components[j].h_sampling * scan->scan_components[j].v_sampling;
        if (blocks > kMaxInterleavedBlocks) return JPEG_DATA_ERROR;
    }
    return JPEG_OK;
}

int32_t scale_of_mode(int32_t mode) {
    if (mode == 14 || mode == 15) return 2;
    if (mode == 16 || mode == 17) return 4;
    if (mode == 18 || mode == 19) return 8;
    return 1;
}

bool region_requested(const JPEG_PROPERTIES *props) {
    const int32_t *roi = props->roi;
    return (roi[2] != 0 && roi[2] < props->jpeg_width) || (roi[3] != 0 && roi[3] < props->jpeg_height) ||
           roi[1] >= 1 || roi[0] >= 1;
}

// MCUs [first, end) of a region in each direction, at the given scale, with
// the smoothing lags (as the buffered scan loops compute them).
struct MCU_SPAN {
    int32_t first_column, end_column, first_row, end_row;
};

MCU_SPAN region_mcus(const JPEG_PROPERTIES *props, int32_t scale, int32_t column_lag, int32_t row_lag) {
    const int32_t columns = props->mcus_per_row;
    const int32_t rows = props->mcu_rows;
    MCU_SPAN s{0, columns, 0, rows};
    if (!region_requested(props)) return s;
    int32_t mw = 8 * props->max_h_sampling / scale;
    int32_t mh = 8 * props->max_v_sampling / scale;
    if (mw < 1) mw = 1;
    if (mh < 1) mh = 1;
    const int32_t *roi = props->roi;
    s.first_column = (roi[0] > 0 ? roi[0] : 0) / mw;
    s.first_row = (roi[1] > 0 ? roi[1] : 0) / mh;
    if (roi[2] > 0) s.end_column = static_cast<int32_t>(ceil_div(roi[2], mw));
    if (roi[3] > 0) s.end_row = static_cast<int32_t>(ceil_div(roi[3], mh));
    if (s.end_column > columns) s.end_column = columns;
    if (s.end_row > rows) s.end_row = rows;
    if (s.first_column > s.end_column) s.first_column = s.end_column;
    if (s.first_row > s.end_row) s.first_row = s.end_row;
    if (s.first_column != 0) s.first_column -= column_lag;
    if (s.first_row != 0) s.first_row -= row_lag;
    if (s.end_column < columns) s.end_column += column_lag;
    if (s.end_row < rows) s.end_row += row_lag;
    return s;
}

// A buffered image whose scans never completed every component (no DC scan,
// or no full AC band at Al = 0, for some component) has produced no pixels.
// At EOI it is output once from the coefficients it has (missing ones are
// zero), as a truncated progressive image would be shown, instead of
// reporting success over an untouched buffer. A region decode outputs the
// MCUs of its region. Returns true when it wrote the image or the region.
bool output_incomplete_image(JPEG_PROPERTIES *props) {
    const int32_t count = props->frame_component_count;
    if (props->scans_done == 0 || props->coefficient_buffer == nullptr || count < 1 ||
        count > QRL_MAX_COMPONENTS)
        return false;
    if (props->dc_complete_count >= count && props->components_complete_count >= count) return false;
    if (props->kernel_table == nullptr) return false;
    const int32_t columns = props->mcus_per_row;
    const int32_t rows = props->mcu_rows;
    int32_t blocks = 0;
    for (int32_t m = 0; m < count; ++m)
        blocks += props->frame_components[m].h_sampling * props->frame_components[m].v_sampling;
    if (columns <= 0 || rows <= 0 ||
        static_cast<int64_t>(columns) * rows * blocks > props->coefficient_buffer_blocks)
        return false;
    KERNEL_TABLE *kernels = props->kernel_table;
    set_active_decode_kernels(kernels, settle_decode_method(props));
    const int32_t scale = scale_of_mode(props->io_mode);
    const int32_t uniform = frame_is_uniform(props);
    COEFFICIENT_PLANES *planes = props->coefficient_planes;
    const bool planes0 = planes != nullptr && planes->planes_mode == 0;
    const bool smooth = props->smooth_upsampling == 1 && !planes0;
    const int32_t column_lag = smooth && props->max_h_sampling == 2 && props->max_v_sampling <= 2 ? 1 : 0;
    const int32_t row_lag = smooth && props->max_h_sampling == 2 && props->max_v_sampling == 2 ? 1 : 0;
    INPUT_SOURCE *src = &props->input;
    int16_t *mcu = props->mcu_buffer;
    const MCU_SPAN span = region_mcus(props, scale, column_lag, row_lag);
    for (int32_t row = span.first_row; row < span.end_row; ++row) {
        for (int32_t column = span.first_column; column < span.end_column; ++column) {
            const int16_t *stored =
                props->coefficient_buffer + (static_cast<intptr_t>(row) * columns + column) * blocks * 64;
            if (planes0) {
                const int16_t *b = stored;
                for (int32_t m = 0; m < count; ++m) {
                    const COMPONENT_INFO &c = props->frame_components[m];
                    for (int32_t k = 0; k < c.h_sampling * c.v_sampling; ++k, b += 64)
                        copy_block_to_plane(b, planes->plane[m], c.h_sampling * columns * 8,
                                            column * c.h_sampling + k % c.h_sampling,
                                            row * c.v_sampling + k / c.h_sampling);
                }
                continue;
            }
            copy_memory(mcu, stored, static_cast<uint32_t>(blocks) * 64 * sizeof(int16_t));
            int16_t *b = mcu;
            for (int32_t m = 0; m < count; ++m) {
                const COMPONENT_INFO &c = props->frame_components[m];
                const int16_t *table = props->quant_tables[c.quant_table & 3].coefficients;
                for (int32_t k = 0; k < c.h_sampling * c.v_sampling; ++k, b += 64)
                    kernels->dequantize_active(b, table);
            }
            reconstruct_mcu(props, src, props->current_scan, column, row, blocks, mcu, columns, rows, scale,
                            uniform);
        }
        if (column_lag != 0)
            reconstruct_mcu(props, src, props->current_scan, span.end_column, row, blocks, mcu, columns, rows,
                            scale, uniform);
    }
    if (row_lag != 0) {
        for (int32_t column = span.first_column; column < span.end_column + column_lag; ++column)
            reconstruct_mcu(props, src, props->current_scan, column, span.end_row, blocks, mcu, columns, rows,
                            scale, uniform);
    }
    if (kernels->simd_state_reset != nullptr) kernels->simd_state_reset();
    return true;
}

bool is_at_scan_start(const SCAN_INFO *scan) {
    return scan != nullptr && scan->next_mcu_column == 0 && scan->next_mcu_row == 0;
}

} // namespace

int32_t decode_stream(JPEG_PROPERTIES *props) {
    INPUT_SOURCE *src = &props->input;
    const int32_t mode = props->io_mode;
    const bool header_mode = is_header_mode(mode);

    // A non-interleaved image whose pending scan never got past its first
    // MCU is decoded again from the start of the stream: the stored scan
    // cannot be matched with its data after the rewind, so it is dropped.
    if (props->partial_scan == 1 && is_at_scan_start(props->current_scan))
        release_scan(props->current_scan);

    bool resuming = props->current_scan != nullptr;
    if (!resuming) reset_input(src);
    if (props->partial_scan == 1 && !resuming) {
        const int32_t result = rewind_stream(props);
        if (result != JPEG_OK) return result;
    }
    const bool keep_position = mode == 6 || mode == 7 || (mode >= 14 && mode <= 19) ||
                               props->roi[0] != 0 || props->roi[1] != 0 || props->roi[2] != 0 ||
                               props->roi[3] != 0;
    if (!keep_position) src->position = 0;
    if (props->expect_frame == 0) {
        const int32_t result = select_output(props);
        if (result != JPEG_OK) return result;
    }
    if (header_mode) {
        int32_t code = 0;
        if (read_marker(src, &code) != JPEG_OK || code != kMarkerSoi) return JPEG_NOT_JPEG;
        props->restart_interval = 0;
    }
    if (props->scans_done == 0) {
        props->dc_complete_count = 0;
        props->components_complete_count = 0;
    }

    SCAN_INFO *scan = nullptr;
    bool continue_pending = resuming;
    int32_t scans_this_call = 0;
    int32_t code = 0;
    for (;;) {
        if (!continue_pending) {
            const int32_t result = read_marker(src, &code);
            if (result != JPEG_OK) return result;
            if (code == kEndOfData) return JPEG_OK;
            if (code == kMarkerEoi) {
                // A frame that ends before its first scan has no image: a
                // success would leave the caller's buffer untouched.
                if (header_mode)
                    return props->expect_frame == 0 && mode != 4 && mode != 5 ? JPEG_NO_IMAGE : JPEG_OK;
                if (props->expect_frame != 0) {
                    // No frame in this stream: only a following image may come.
                    if (read_marker(src, &code) != JPEG_OK || code != kMarkerSoi) return JPEG_NO_IMAGE;
                    props->restart_interval = 0;
                    continue;
                }
                if (scans_this_call == 0 && !resuming) return JPEG_NO_IMAGE;
                if (props->partial_scan == 1 && props->needs_color_conversion != 0 &&
                    props->scans_done == 0)
                    return convert_image_in_place(props);
                // A region decode reports its region written, as it does
                // when the image is complete.
                const bool region_written = output_incomplete_image(props) && region_requested(props);
                // scans_done also selects the progressive encoder: a finished
                // decode leaves it at 0, so only the caller chooses that.
                props->scans_done = 0;
                return region_written ? JPEG_ROI_OK : JPEG_OK;
            }
            if (code != kMarkerSos) {
                // Coefficient planes carry no size: a frame header met after a
                // scan would be decoded into planes sized for the earlier frame.
                if (code == kMarkerSof0 && (scans_this_call > 0 || resuming) &&
                    props->coefficient_planes != nullptr)
                    return JPEG_MULTIPLE_FRAMES;
                bool end_parse = false;
                const int32_t handled = dispatch_marker(props, code, &end_parse);
                if (handled != JPEG_OK || end_parse) return handled;
                continue;
            }

            // SOS: a new scan.
            if (!header_mode && ++scans_this_call > scan_limit(props)) return JPEG_MEMORY_ERROR;
            scan = allocate_zeroed<SCAN_INFO>(1);
            if (scan == nullptr) return JPEG_MEMORY_ERROR;
            const int32_t header = read_scan_header(props, scan);
            if (header != JPEG_OK) {
                release_scan(scan);
                return header;
            }
            src->eob_run = 0;
            if (header_mode) {
                const int32_t length =
                    props->kernel_table != nullptr ? props->kernel_table->scan_header_length : 0;
                src->position -= length;
                release_scan(scan);
                return JPEG_OK;
            }
            scan->restart_interval = props->restart_interval;
            props->partial_scan =
                scan->scan_component_count < props->frame_component_count && props->scans_done == 0
                    ? 1
                    : 0;
            const int32_t layout = check_scan_layout(props, scan);
            if (layout != JPEG_OK) {
                release_scan(scan);
                return layout;
            }
            const bool single_pass = scan->spectral_start == 0 && scan->spectral_end == 63 &&
                                     scan->approx_high == 0 && scan->approx_low == 0 &&
                                     props->scans_done == 0;
            if (!single_pass) {
                if (scan->spectral_start == 0 && scan->spectral_end == 0) {
                    if (scan->approx_low == 0) props->dc_complete_count += scan->scan_component_count;
                } else if (scan->approx_low == 0 && scan->spectral_end == 63) {
                    props->components_complete_count += 1;
                }
                props->scans_done += 1;
                if (props->scans_done == 1 || props->coefficient_buffer == nullptr) {
                    const int32_t allocated = allocate_coefficient_buffer(props);
                    if (allocated != JPEG_OK) {
                        release_scan(scan);
                        props->current_scan = nullptr;
                        return allocated;
                    }
                }
            }
            // The output routine must exist before any pixel is written. It is
            // chosen once the scan is counted: a scan that goes through the
            // coefficient buffer is output with the whole frame's writer, not
            // the per-scan channel writer of a first non-interleaved scan.
            const int32_t selected = select_output(props);
            if (selected != JPEG_OK) {
                release_scan(scan);
                return selected;
            }
        } else {
            scan = props->current_scan; // resumed: its header was read by an earlier call
        }
        continue_pending = false;

        // S5: the scan is current from here on.
        if (props->partial_scan == 1 && props->scans_done == 0)
            props->components_complete_count += scan->scan_component_count;
        props->current_scan = scan;
        if (props->smooth_upsampling == 1 && props->neighbour_ring == nullptr) {
            const int32_t ring = allocate_neighbour_ring(props);
            if (ring != JPEG_OK) {
                release_scan(props->current_scan);
                return ring;
            }
        }

        int32_t marker = 0;
        const int32_t result = decode_scan(src, scan, props, &marker);
        if (result == JPEG_INTERRUPT_OK || result == JPEG_ROI_OK) {
            if (props->scans_done != 0 && props->interrupt_after_mcu == 0)
                props->components_complete_count += 1;
            if (result == JPEG_ROI_OK && props->scans_done != 0 && props->partial_scan != 1) {
                // Later scans of a buffered frame may still refine the
                // region: go on with them, so that only the frame's last scan
                // stays pending. EOI is put back for the call that resumes it.
                src->bit_count = 0;
                int32_t next = 0;
                const bool read = read_marker(src, &next) == JPEG_OK;
                if (read && next != kEndOfData && next != kMarkerEoi) {
                    release_scan(props->current_scan);
                    scan = nullptr;
                    src->pending_marker = static_cast<uint8_t>(next);
                    continue;
                }
                if (read && next == kMarkerEoi) src->pending_marker = static_cast<uint8_t>(next);
            }
            props->interrupt_after_mcu = 0;
            if (props->partial_scan == 1 && result == JPEG_ROI_OK) {
                int32_t converted = JPEG_OK;
                if (props->needs_color_conversion != 0) converted = convert_image_in_place(props);
                release_scan(props->current_scan);
                return converted != JPEG_OK ? converted : JPEG_ROI_OK;
            }
            return result; // the scan stays pending for the next call
        }
        if (props->scans_done == 0) src->scan_channel_offset += scan->scan_component_count;
        // A finished scan is released; so is a failed one, whose reader state
        // would not fit a later call's stream.
        release_scan(props->current_scan);
        scan = nullptr;
        if (result != JPEG_OK) return result;
        if (marker != 0) {
            // The scan loop stopped at this marker; it is handled next.
            src->pending_marker = static_cast<uint8_t>(marker);
        }
    }
}

int32_t decode_scan(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props, int32_t *marker) {
    *marker = 0;
    KERNEL_TABLE *kernels = props->kernel_table;
    // The family of the record's tables: the accurate one also under the fast
    // method when a table could not be held in the fast form.
    set_active_decode_kernels(kernels, settle_decode_method(props));
    int32_t *roi = props->roi;
    // A negative left or top edge counts as 0 also when no region results:
    // the output routines offset every pixel by the left and top edges.
    if (roi[0] < 0) roi[0] = 0;
    if (roi[1] < 0) roi[1] = 0;
    const bool region = (roi[2] != 0 && roi[2] < props->jpeg_width) ||
                        (roi[3] != 0 && roi[3] < props->jpeg_height) || roi[1] >= 1 || roi[0] >= 1;
    const int32_t mode = props->io_mode;
    const int32_t scale = scale_of_mode(mode);

    int32_t result = JPEG_OK;
    if (!region) {
        result = props->scans_done != 0 ? decode_scan_progressive(src, scan, props, scale)
                                        : decode_scan_sequential(src, scan, props, scale);
    } else {
        // Right and bottom are exclusive; 0 (or anything past the image)
        // means the image's own edge.
        if (roi[2] <= 0 || roi[2] > props->jpeg_width) roi[2] = props->jpeg_width;
        if (roi[3] <= 0 || roi[3] > props->jpeg_height) roi[3] = props->jpeg_height;
        if (roi[0] < 0) roi[0] = 0;
        if (roi[1] < 0) roi[1] = 0;
        if (props->row_index == nullptr) {
            props->row_index = allocate_zeroed<ROW_INDEX_ENTRY>(QRL_ROW_INDEX_ENTRIES);
            if (props->row_index == nullptr) return JPEG_MEMORY_ERROR;
            const bool counted = mode == 2 || mode == 6 || mode == 14 || mode == 16 || mode == 18;
            ROW_INDEX_ENTRY &first = props->row_index[0];
            first.position = counted ? static_cast<intptr_t>(src->position)
                                     : reinterpret_cast<intptr_t>(src->cur);
            first.pending_marker = src->pending_marker;
            for (int32_t i = 1; i < QRL_ROW_INDEX_ENTRIES; ++i) props->row_index[i].position = -1;
        }
        result = props->scans_done != 0 ? decode_scan_progressive_region(src, scan, props, scale)
                                        : decode_scan_sequential_region(src, scan, props, scale);
    }
    if (result == JPEG_OK) src->bit_count = 0;
    if (kernels != nullptr && kernels->simd_state_reset != nullptr) kernels->simd_state_reset();
    return result;
}

} // namespace qrl
