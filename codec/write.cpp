// codec_write: the encoder's entry. Validates the record, prepares the private
// copy of the public fields and the frame description, and runs the encoder
// driver, all under the fault guard.
#include <cstdint>
#include <cstdlib>

#include "codec/codec.h"
#include "codec/memory.h"
#include "codec/validate.h"
#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"
#include "encode/encoder_driver.h"
#include "pixels/input.h"

namespace qrl {
namespace {

bool is_write_mode(int32_t mode) { return mode >= 8 && mode <= 13; }
bool is_file_mode(int32_t mode) { return (mode & 1) == 0; }
bool is_image_mode(int32_t mode) { return mode == 8 || mode == 9 || mode == 12 || mode == 13; }
bool is_tables_only(int32_t mode) { return mode == 10 || mode == 11; }

struct WriteCall {
    JPEG_CODEC_RECORD *record;
    int32_t mode;
};

void copy_public_fields(JPEG_PROPERTIES *p, const JPEG_CODEC_RECORD *r) {
    p->jpeg_width = r->jpeg_width;
    p->jpeg_height = r->jpeg_height;
    p->jpeg_channels = r->jpeg_channels;
    p->jpeg_color = r->jpeg_color;
    p->jpeg_subsampling = r->jpeg_subsampling;
    p->jpeg_buffer = r->jpeg_buffer;
    p->jpeg_buffer_size = r->jpeg_buffer_size;
    p->jpeg_file_name = r->jpeg_file_name;
    p->image_pixels = r->image_pixels;
    p->image_width = r->image_width;
    p->image_height = r->image_height;
    p->image_pad_bytes = r->image_pad_bytes;
    p->image_channels = r->image_channels;
    p->image_color = r->image_color;
    p->image_subsampling = r->image_subsampling;
    p->needs_color_conversion = r->needs_color_conversion;
    p->needs_upsampling = r->needs_upsampling;
    p->jpeg_quality = r->jpeg_quality;
    const int32_t pixel_bytes = p->image_subsampling == SUBSAMPLING_2X1 ? 2 : p->image_channels;
    p->line_bytes = p->image_width * pixel_bytes + p->image_pad_bytes;
    if (p->image_height < 0) p->line_bytes = -p->line_bytes;
    if (p->image_subsampling == SUBSAMPLING_2X1 && p->image_color == COLOR_YCBCR &&
        p->jpeg_color == COLOR_YCBCR)
        p->jpeg_subsampling = SUBSAMPLING_2X1;
}

// Requests the encoder cannot serve without reading outside the pixel buffer
// or writing a damaged stream.
// requested_subsampling: the caller's jpeg_subsampling before a packed
// source forces the private copy to 2x1.
int32_t check_request(const JPEG_PROPERTIES *p, int32_t mode, int32_t requested_subsampling) {
    if (p->jpeg_channels < 1 || p->jpeg_channels > QRL_MAX_COMPONENTS) return JPEG_ERR_COMP;
    if (p->frame_components == nullptr) return JPEG_INVALID_PROPERTIES;
    if (p->restart_interval < 0 || p->restart_interval > 65535) return JPEG_INVALID_PROPERTIES;
    if (!is_image_mode(mode)) return JPEG_OK;
    if (p->jpeg_width < 1 || p->jpeg_width > 65535 || p->jpeg_height < 1 || p->jpeg_height > 65535)
        return JPEG_INVALID_PROPERTIES;
    const COEFFICIENT_PLANES *planes = p->coefficient_planes;
    if (planes != nullptr) {
        for (int32_t i = 0; i < p->jpeg_channels; ++i)
            if (planes->plane[i] == nullptr) return JPEG_INVALID_PROPERTIES;
        return JPEG_OK;
    }
    if (p->image_pixels == nullptr || p->image_height == 0) return JPEG_INVALID_PROPERTIES;
    if (p->jpeg_width != p->image_width || p->jpeg_height != std::abs(p->image_height))
        return JPEG_INVALID_PROPERTIES;
    if (p->image_subsampling == SUBSAMPLING_2X1 &&
        ((p->image_width & 1) != 0 || requested_subsampling != SUBSAMPLING_2X1))
        return JPEG_INVALID_PROPERTIES;
    return JPEG_OK;
}

// Frame components, sampling and MCU grid of the write. ncc_in is the
// needs_color_conversion the caller passed in.
void lay_out_frame(JPEG_PROPERTIES *p, int32_t ncc_in) {
    bool any_raw = false;
    for (const RAW_QUANT_TABLE &t : p->raw_quant_tables)
        if (t.table != nullptr) any_raw = true;
    const bool caller_quant = any_raw && p->custom_quant_tables != 0;
    const int32_t f = p->jpeg_channels;
    const int32_t sub = p->jpeg_subsampling;
    const bool subsampled = sub == SUBSAMPLING_2X2 || sub == SUBSAMPLING_2X1 ||
                            sub == SUBSAMPLING_2X2_4 || sub == SUBSAMPLING_2X1_4;
    const int32_t v = sub == SUBSAMPLING_2X2 || sub == SUBSAMPLING_2X2_4 ? 2 : 1;
    p->frame_component_count = f;
    COMPONENT_INFO *c = p->frame_components;
    for (int32_t i = 0; i < f; ++i) {
        const bool luma_like = i == 0 || i == 3;
        c[i].id = i;
        c[i].h_sampling = subsampled && luma_like ? 2 : 1;
        c[i].v_sampling = subsampled && luma_like ? v : 1;
        // Selectors come from this write alone (never from an earlier decode).
        int32_t table = i == 0 ? 0 : 1;
        if (!caller_quant && subsampled) table = ncc_in == 0 || luma_like ? 0 : 1;
        if (caller_quant) {
            bool present = false;
            for (int32_t j = 0; j < 4; ++j)
                if (p->raw_quant_tables[j].table != nullptr && (p->raw_quant_tables[j].table_id & 3) == table)
                    present = true;
            if (!present) table = 0;
        }
        c[i].quant_table = table;
    }
    p->frame_precision = 8;
    p->frame_width = p->jpeg_width;
    p->frame_height = p->jpeg_height;
    p->max_h_sampling = 1;
    p->max_v_sampling = 1;
    for (int32_t i = 0; i < f; ++i) {
        if (c[i].h_sampling > p->max_h_sampling) p->max_h_sampling = c[i].h_sampling;
        if (c[i].v_sampling > p->max_v_sampling) p->max_v_sampling = c[i].v_sampling;
    }
    p->needs_upsampling = p->max_h_sampling > 1 || p->max_v_sampling > 1 ? 1 : 0;
    p->partial_scan = 0;
    const int32_t mcu_w = 8 * p->max_h_sampling;
    const int32_t mcu_h = 8 * p->max_v_sampling;
    p->mcus_per_row = (p->jpeg_width + mcu_w - 1) / mcu_w;
    p->mcu_rows = (p->jpeg_height + mcu_h - 1) / mcu_h;
}

void close_stream_file(JPEG_PROPERTIES *p) {
    if (p->input.file != nullptr) (void)close_file(p->input.file);
    p->input.file = nullptr;
}

// Leaves a pending encode of another mode, or a scan a decode left behind.
void drop_pending(JPEG_PROPERTIES *p) {
    if (p->current_scan != nullptr) {
        release(p->current_scan->scan_components);
        release(p->current_scan);
    }
    p->encoder_state[kPendingEncode] = 0;
}

int32_t write_steps(void *context) {
    auto *call = static_cast<WriteCall *>(context);
    JPEG_CODEC_RECORD *r = call->record;
    JPEG_PROPERTIES *p = &r->props;
    const int32_t mode = call->mode;
    p->io_mode = mode;
    int32_t result = validate_record(r);
    if (result != JPEG_OK) return result;
    if (!is_write_mode(mode)) return JPEG_INVALID_PROPERTIES;

    const bool pending = p->encoder_state[kPendingEncode] == mode + 1 && p->current_scan != nullptr;
    if (!pending) {
        drop_pending(p);
        // A file left open by an earlier operation is not this write's stream.
        close_stream_file(p);
        const int32_t ncc_in = r->use_internal_properties != 0 ? p->needs_color_conversion
                                                              : r->needs_color_conversion;
        if (r->use_internal_properties == 0) copy_public_fields(p, r);
        const int32_t requested = r->use_internal_properties != 0 ? p->jpeg_subsampling : r->jpeg_subsampling;
        if ((result = check_request(p, mode, requested)) != JPEG_OK) return result;
        if ((result = install_default_tables(p)) != JPEG_OK) return result;
        const int32_t jc = p->jpeg_color, ic = p->image_color;
        p->needs_color_conversion = jc == COLOR_RGB || jc == COLOR_CMYK || ic == COLOR_GRAY ||
                                            ic == COLOR_OTHER || ic == COLOR_YCBCR
                                        ? 0
                                        : 1;
        lay_out_frame(p, ncc_in);
        if (is_image_mode(mode) && p->coefficient_planes == nullptr &&
            (result = select_input(p)) != JPEG_OK)
            return result;
    }
    if (is_file_mode(mode) && p->input.file == nullptr) {
        p->input.file = open_file(p->jpeg_file_name, kGenericRead | kGenericWrite);
        if (p->input.file == nullptr) return JPEG_INVALID_FILE_NAME;
    }
    if (!pending) {
        p->input.position = 0;
        if (p->image_height < 0)
            p->image_pixels += static_cast<intptr_t>(-p->image_height - 1) * -p->line_bytes;
        p->input.pixel_cursor = p->image_pixels;
        if ((result = write_stream_header(p)) != JPEG_OK) return result;
        if (is_tables_only(mode)) {
            p->jpeg_buffer_size = p->input.position;
            r->jpeg_buffer_size = p->input.position;
        }
    }
    if (is_image_mode(mode)) {
        const uintptr_t area = reinterpret_cast<uintptr_t>(p->mcu_work_area);
        p->mcu_buffer = reinterpret_cast<int16_t *>((area + 31u) & ~static_cast<uintptr_t>(31u));
        result = p->scans_done == 0 ? encode_sequential(p) : encode_progressive(p);
        p->expect_frame = 1;
        p->jpeg_buffer_size = p->input.position;
        r->jpeg_buffer_size = p->input.position;
        if (result == JPEG_INTERRUPT_OK || result == JPEG_ROI_OK) {
            int32_t right = (p->roi[2] * 8 + 8) * p->max_h_sampling;
            int32_t bottom = (p->roi[3] * 8 + 8) * p->max_v_sampling;
            p->roi[2] = right < p->jpeg_width ? right : p->jpeg_width;
            p->roi[3] = bottom < p->jpeg_height ? bottom : p->jpeg_height;
            return result;
        }
    }
    if (p->input.file != nullptr) {
        const int32_t closed = close_file(p->input.file);
        p->input.file = nullptr;
        if (closed == 0 && result >= 0) result = JPEG_ERR_CLOSE_FILE;
    }
    return result;
}

} // namespace
} // namespace qrl

extern "C" int32_t codec_write(JPEG_CODEC_RECORD *record, int32_t io_mode) {
    qrl::WriteCall call{record, io_mode};
    int32_t result = qrl::run_guarded(&qrl::write_steps, &call, JPEG_EXCEPTION_DETECTED);
    JPEG_PROPERTIES *p = &record->props;
    if (result < 0) {
        if (p->input.file != nullptr) (void)qrl::close_file(p->input.file);
        p->input.file = nullptr;
        if (p->encoder_state[qrl::kPendingEncode] != 0) qrl::drop_pending(p);
    }
    if (p->kernel_table != nullptr && p->kernel_table->simd_state_reset != nullptr)
        p->kernel_table->simd_state_reset();
    return result;
}
