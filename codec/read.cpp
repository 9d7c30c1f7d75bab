// codec_read: the decoder's entry. Validates the record, prepares the private
// copy of the public fields and the input source, runs the decode driver, and
// afterwards completes the color information and writes the results back.
#include <cstdint>

#include "codec/codec.h"
#include "codec/decode_driver.h"
#include "codec/memory.h"
#include "codec/validate.h"
#include "decode/huffman_tables.h"
#include "decode/input_source.h"
#include "decode/markers.h"
#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"

namespace qrl {
namespace {

// pending_roi[0] when the pending scan (if any) was not left by an interrupt.
constexpr int32_t kNoPendingRoi = INT32_MIN;

bool is_read_mode(int32_t mode) { return (mode >= 0 && mode <= 7) || (mode >= 14 && mode <= 21); }
bool is_file_mode(int32_t mode) { return (mode & 1) == 0; }
bool is_image_decode_mode(int32_t mode) {
    return mode == 2 || mode == 3 || mode == 6 || mode == 7 || (mode >= 14 && mode <= 19);
}

// The subsampling code that the frame's sampling factors give.
int32_t classify_subsampling(const JPEG_PROPERTIES *props) {
    const int32_t count = props->frame_component_count;
    if (count < 1 || count > QRL_MAX_COMPONENTS || props->frame_components == nullptr)
        return SUBSAMPLING_OTHER;
    const COMPONENT_INFO *c = props->frame_components;
    auto is = [](const COMPONENT_INFO &component, int32_t h, int32_t v) {
        return component.h_sampling == h && component.v_sampling == v;
    };
    switch (count) {
    case 1:
        return SUBSAMPLING_NONE;
    case 2:
        return is(c[0], 1, 1) && is(c[1], 1, 1) ? SUBSAMPLING_NONE : SUBSAMPLING_OTHER;
    case 3:
        if (!is(c[1], 1, 1) || !is(c[2], 1, 1)) return SUBSAMPLING_OTHER;
        if (is(c[0], 1, 1)) return SUBSAMPLING_NONE;
        if (is(c[0], 2, 2)) return SUBSAMPLING_2X2;
        if (is(c[0], 2, 1)) return SUBSAMPLING_2X1;
        return SUBSAMPLING_OTHER;
    default:
        if (!is(c[1], 1, 1) || !is(c[2], 1, 1)) return SUBSAMPLING_OTHER;
        if (is(c[0], 1, 1) && is(c[3], 1, 1)) return SUBSAMPLING_NONE;
        if (is(c[0], 2, 2) && is(c[3], 2, 2)) return SUBSAMPLING_2X2_4;
        if (is(c[0], 2, 1) && is(c[3], 2, 1)) return SUBSAMPLING_2X1_4;
        return SUBSAMPLING_OTHER;
    }
}

void close_input_file(INPUT_SOURCE *src) {
    if (src->file != nullptr) (void)close_file(src->file);
    src->file = nullptr;
}

void release_pending_scan(JPEG_PROPERTIES *props) {
    if (props->current_scan == nullptr) return;
    release(props->current_scan->scan_components);
    release(props->current_scan);
}

// Tables kept from an earlier read, rebuilt from the caller's raw slots.
int32_t rebuild_caller_tables(JPEG_PROPERTIES *props) {
    if (props->custom_quant_tables != 0) {
        const int32_t count = props->quant_table_count < 4 ? props->quant_table_count : 4;
        for (int32_t i = 0; i < count; ++i) {
            const RAW_QUANT_TABLE &raw = props->raw_quant_tables[i];
            if (raw.table == nullptr) continue;
            QUANT_TABLE &table = props->quant_tables[i];
            table.table_id = raw.table_id;
            table.precision = 0;
            for (int32_t k = 0; k < 64; ++k) table.coefficients[k] = raw.table[k];
            // Prepared like a DQT table, so that the scans dequantize with it.
            prepare_quant_table(props, &table);
        }
    }
    if (props->custom_huffman_tables != 0) {
        const int32_t bound = props->huffman_table_bound < 4 ? props->huffman_table_bound : 4;
        for (int32_t k = 0; k < 2 * bound; ++k) {
            const RAW_HUFFMAN_TABLE &raw = props->raw_huffman_tables[k];
            if (raw.bits == nullptr || raw.values == nullptr) continue;
            if (raw.table_id > 3) return JPEG_BAD_HUFFMAN_TABLE;
            HUFFMAN_DECODE_TABLE *table = raw.table_class != 0
                                              ? &props->ac_huffman_tables[raw.table_id]
                                              : &props->dc_huffman_tables[raw.table_id];
            if (build_huffman_decode_table(raw.bits, raw.values, raw.table_class != 0 ? 1 : 0,
                                           raw.table_id, table) != JPEG_OK)
                return JPEG_BAD_HUFFMAN_TABLE;
        }
    }
    return JPEG_OK;
}

void complete_color(JPEG_PROPERTIES *props, int32_t mode) {
    const int32_t channels = props->jpeg_channels;
    if (props->adobe_found != 0) {
        if (mode != 0 && mode != 1) return;
        props->image_channels = channels;
        if (channels == 1) {
            props->jpeg_color = COLOR_GRAY;
        } else if (channels == 3) {
            props->jpeg_color = props->adobe_transform != 0 ? COLOR_YCBCR : COLOR_RGB;
        } else if (channels == 4) {
            props->jpeg_color = props->adobe_transform != 0 ? COLOR_YCCK : COLOR_CMYK;
            props->image_color = COLOR_CMYK;
        }
        return;
    }
    if (channels == 1)
        props->jpeg_color = COLOR_GRAY;
    else if (channels == 3 && props->jfif_found != 0)
        props->jpeg_color = COLOR_YCBCR;
}

struct ReadJob {
    JPEG_CODEC_RECORD *record;
    int32_t mode;
};

int32_t read_steps(void *context) {
    auto *job = static_cast<ReadJob *>(context);
    JPEG_CODEC_RECORD *record = job->record;
    JPEG_PROPERTIES *props = &record->props;
    INPUT_SOURCE *src = &props->input;
    const int32_t mode = job->mode;

    int32_t result = validate_record(record);
    if (result != JPEG_OK) return result;
    if (!is_read_mode(mode)) return JPEG_INVALID_PROPERTIES;

    if (is_header_mode(mode)) {
        // A header read starts a new stream: nothing of an earlier, unfinished
        // decode (pending scan, open file) may carry over into it, and the
        // facts reported for it come from this stream only.
        release_pending_scan(props);
        close_input_file(src);
        props->expect_frame = 1;
        props->adobe_found = 0;
        props->adobe_transform = 0;
        props->jfif_found = 0;
        props->thumbnail_width = 0;
        props->thumbnail_height = 0;
        // Until this stream's first scan header is read there is none to move
        // back to (a tables-only stream has none at all).
        props->kernel_table->scan_header_length = 0;
    }
    if (is_image_decode_mode(mode)) {
        result = rebuild_caller_tables(props);
        if (result != JPEG_OK) return result;
    } else {
        props->quant_tables_defined = 0;
        props->quant_table_count = 0;
        props->huffman_table_bound = 0;
        props->ac_table_count = 0;
        props->dc_table_count = 0;
    }

    // A scan left pending by a region decode (JPEG_ROI_OK) serves a further
    // region, which goes on from the rows the record has indexed. A decode of
    // the whole image cannot: the rows above the region are behind the
    // reader, so the image is decoded anew from the start of the stream.
    if (props->current_scan != nullptr && props->pending_roi[0] == kNoPendingRoi && is_image_decode_mode(mode) &&
        props->roi[0] <= 0 && props->roi[1] <= 0 && props->roi[2] <= 0 && props->roi[3] <= 0)
        release_pending_scan(props);

    const bool pending = props->current_scan != nullptr;
    if (is_file_mode(mode)) {
        if (src->file == nullptr) {
            const char *name =
                record->use_internal_properties != 0 ? props->jpeg_file_name : record->jpeg_file_name;
            src->file = open_file(name, kGenericRead);
            if (src->file == nullptr) return JPEG_INVALID_FILE_NAME;
        }
    } else if (!pending) {
        // A memory read never continues from a file left open by a file read.
        close_input_file(src);
    }

    const bool copy_fields = record->use_internal_properties == 0;
    if (copy_fields) {
        props->image_pixels = record->image_pixels;
        props->image_width = record->image_width;
        props->image_height = record->image_height;
        props->image_pad_bytes = record->image_pad_bytes;
        props->image_channels = record->image_channels;
        props->image_color = record->image_color;
        props->image_subsampling = record->image_subsampling;
        props->jpeg_file_name = record->jpeg_file_name;
        props->jpeg_buffer = record->jpeg_buffer;
        props->jpeg_buffer_size = record->jpeg_buffer_size;
        props->jpeg_color = record->jpeg_color;
        props->needs_color_conversion = record->needs_color_conversion;
        props->needs_upsampling = record->needs_upsampling;
        props->jpeg_quality = record->jpeg_quality;
        const int64_t line = static_cast<int64_t>(record->image_width) * record->image_channels +
                             record->image_pad_bytes;
        props->line_bytes = static_cast<int32_t>(record->image_height < 0 ? -line : line);
        if (!pending) {
            src->bit_buffer = 0;
            src->bit_count = 0;
            src->pending_marker = 0;
            if (is_file_mode(mode)) {
                src->start = src->file_buffer;
                src->cur = src->file_buffer;
                src->end = src->file_buffer + QRL_FILE_BUFFER_SIZE;
                src->size = QRL_FILE_BUFFER_SIZE;
                src->avail = QRL_FILE_BUFFER_SIZE;
                if (mode == 20 && seek_file(src->file, 0, kSeekFromStart) == 0) return JPEG_FILE_ERROR;
            } else {
                // A negative size would let the reader run past the buffer.
                if (props->jpeg_buffer_size < 0) return JPEG_INVALID_PROPERTIES;
                src->start = props->jpeg_buffer;
                src->cur = props->jpeg_buffer;
                src->end = props->jpeg_buffer + props->jpeg_buffer_size;
                src->size = props->jpeg_buffer_size;
                src->avail = props->jpeg_buffer_size;
            }
        }
        // Bottom-up rows: start at the last row of the buffer.
        if (props->image_height < 0 && props->image_pixels != nullptr)
            props->image_pixels += static_cast<intptr_t>(props->image_height + 1) * props->line_bytes;
    }

    // After JPEG_INTERRUPT_OK roi holds an output (the MCU reached); the call
    // that resumes the scan decodes the region the scan was started with.
    // Any other pending scan (a region finished with JPEG_ROI_OK) takes the
    // caller's roi as it stands.
    if (props->current_scan != nullptr && props->pending_roi[0] != kNoPendingRoi) {
        for (int32_t i = 0; i < 4; ++i) props->roi[i] = props->pending_roi[i];
    } else {
        for (int32_t i = 0; i < 4; ++i) props->pending_roi[i] = props->roi[i];
    }

    const auto work = reinterpret_cast<uintptr_t>(props->mcu_work_area);
    props->mcu_buffer = reinterpret_cast<int16_t *>((work + 31) & ~static_cast<uintptr_t>(31));

    result = decode_stream(props);
    if (result != JPEG_INTERRUPT_OK) props->pending_roi[0] = kNoPendingRoi;
    if (result == JPEG_INTERRUPT_OK) {
        // The scan loop left the MCU reached in roi right and bottom.
        int64_t right = (static_cast<int64_t>(props->roi[2]) + 1) * 8 * props->max_h_sampling;
        int64_t bottom = (static_cast<int64_t>(props->roi[3]) + 1) * 8 * props->max_v_sampling;
        if (right > props->jpeg_width) right = props->jpeg_width;
        if (bottom > props->jpeg_height) bottom = props->jpeg_height;
        props->roi[2] = static_cast<int32_t>(right);
        props->roi[3] = static_cast<int32_t>(bottom);
        return result;
    }
    if (result != JPEG_OK) return result;

    complete_color(props, mode);
    if (props->image_color == COLOR_YCBCR && props->jpeg_color == COLOR_YCBCR)
        props->image_subsampling = SUBSAMPLING_2X1;

    const int32_t header_length =
        props->kernel_table != nullptr ? props->kernel_table->scan_header_length : 0;
    if (src->file != nullptr && (mode == 0 || mode == 4 || mode == 6 || mode == 14 || mode == 16 ||
                                 mode == 18 || mode == 20)) {
        // Back to the start of the last scan header read, so that a following
        // read continues there.
        const int32_t back = src->avail + header_length;
        if (seek_file(src->file, -back, kSeekFromCurrent) == 0) return JPEG_FILE_ERROR;
    }
    if (mode == 1 || mode == 21) {
        // A later read restarts the memory source at the scan header. Its size
        // counts from there, so that a restart (reset_input) still ends at the
        // end of the caller's buffer and not past it.
        uint8_t *scan_header = src->cur - header_length;
        src->size -= static_cast<int32_t>(scan_header - src->start);
        src->start = scan_header;
    }

    props->jpeg_subsampling = classify_subsampling(props);
    record->jpeg_width = props->jpeg_width;
    record->jpeg_height = props->jpeg_height;
    record->jpeg_channels = props->jpeg_channels;
    record->thumbnail_width = props->thumbnail_width;
    record->thumbnail_height = props->thumbnail_height;
    record->needs_color_conversion = props->needs_color_conversion;
    record->needs_upsampling = props->needs_upsampling;
    record->jpeg_subsampling = props->jpeg_subsampling;
    record->jpeg_color = props->jpeg_color;
    record->image_color = props->image_color;
    record->image_channels = props->image_channels;

    if (src->file != nullptr && (mode == 2 || mode == 4 || mode == 6)) {
        const int32_t closed = close_file(src->file);
        if (closed == 0) return JPEG_ERR_CLOSE_FILE;
        src->file = nullptr;
    }
    return JPEG_OK;
}

} // namespace
} // namespace qrl

extern "C" int32_t codec_read(JPEG_CODEC_RECORD *record, int32_t io_mode) {
    if (record == nullptr) return JPEG_INVALID_PROPERTIES;
    JPEG_PROPERTIES *props = &record->props;
    props->io_mode = io_mode;
    // A record without a kernel table has not been through codec_init.
    if (props->kernel_table == nullptr) return JPEG_INVALID_PROPERTIES;
    qrl::ReadJob job{record, io_mode};
    const int32_t result = qrl::run_guarded(qrl::read_steps, &job, JPEG_EXCEPTION_DETECTED);
    KERNEL_TABLE *kernels = props->kernel_table;
    if (kernels != nullptr && kernels->simd_state_reset != nullptr) kernels->simd_state_reset();
    if (result < 0 && props->input.file != nullptr) {
        (void)qrl::close_file(props->input.file);
        props->input.file = nullptr;
    }
    return result;
}
