// codec_init and codec_free. Both run under the fault guard, so an access
// through a bad pointer held in the record becomes JPEG_EXCEPTION_DETECTED.
#include <cstdint>
#include <cstring>

#include "codec/codec.h"
#include "codec/memory.h"
#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"

namespace qrl {
namespace {

constexpr uint8_t kDefaultSelectors[QRL_MAX_COMPONENTS] = {0, 1, 1, 1};

void set_public_defaults(JPEG_CODEC_RECORD *r) {
    std::memset(r, 0, offsetof(JPEG_CODEC_RECORD, props));
    r->image_channels = 3;
    r->image_color = COLOR_BGR;
    r->image_subsampling = SUBSAMPLING_NONE;
    r->jpeg_channels = 3;
    r->jpeg_color = COLOR_YCBCR;
    r->jpeg_subsampling = SUBSAMPLING_2X2;
    r->needs_color_conversion = 1;
    r->needs_upsampling = 1;
    r->jpeg_quality = 75;
}

void copy_public_fields(JPEG_PROPERTIES *p, const JPEG_CODEC_RECORD *r) {
    p->image_pixels = r->image_pixels;
    p->image_width = r->image_width;
    p->image_height = r->image_height;
    p->image_pad_bytes = r->image_pad_bytes;
    p->image_channels = r->image_channels;
    p->image_color = r->image_color;
    p->image_subsampling = r->image_subsampling;
    p->line_bytes = 0;
    p->jpeg_file_name = r->jpeg_file_name;
    p->jpeg_buffer = r->jpeg_buffer;
    p->jpeg_buffer_size = r->jpeg_buffer_size;
    p->jpeg_width = r->jpeg_width;
    p->jpeg_height = r->jpeg_height;
    p->jpeg_channels = r->jpeg_channels;
    p->jpeg_color = r->jpeg_color;
    p->jpeg_subsampling = r->jpeg_subsampling;
    p->thumbnail_width = r->thumbnail_width;
    p->thumbnail_height = r->thumbnail_height;
    p->needs_color_conversion = r->needs_color_conversion;
    p->needs_upsampling = r->needs_upsampling;
    p->jpeg_quality = r->jpeg_quality;
}

void clear_caller_tables(JPEG_PROPERTIES *p) {
    for (RAW_QUANT_TABLE &slot : p->raw_quant_tables) {
        slot.table = nullptr;
        slot.table_id = 0;
    }
    for (RAW_HUFFMAN_TABLE &slot : p->raw_huffman_tables) {
        slot.bits = nullptr;
        slot.values = nullptr;
        slot.table_class = 0;
        slot.table_id = 0;
    }
    p->quant_tables_defined = 0;
    p->quant_table_count = 0;
    p->ac_table_count = 0;
    p->dc_table_count = 0;
    p->huffman_table_bound = 0;
}

// The owned pointers other than the kernel table, all emptied.
void forget_owned_buffers(JPEG_PROPERTIES *p) {
    p->frame_components = nullptr;
    p->frame_component_count = 0;
    p->coefficient_buffer = nullptr;
    p->coefficient_buffer_blocks = 0;
    p->row_index = nullptr;
    p->current_scan = nullptr;
    p->neighbour_ring = nullptr;
    p->neighbour_ring_blocks = 0;
    p->input.file = nullptr;
}

struct InitContext {
    JPEG_CODEC_RECORD *record;
    KERNEL_TABLE *table;
    COMPONENT_INFO *components; // allocated here; released again on failure
};

int32_t init_record(void *context) {
    auto *c = static_cast<InitContext *>(context);
    JPEG_CODEC_RECORD *r = c->record;
    JPEG_PROPERTIES *p = &r->props;

    // The caller's memory holds anything: clear the whole working state first
    // so that no field keeps a stale value, then set the defaults.
    std::memset(p, 0, sizeof(*p));

    KERNEL_TABLE *table = c->table;
    table->scan_header_length = 0;
    table->user32_module = nullptr;
    table->advapi32_module = nullptr;
    table->reg_open_key = nullptr;
    table->reg_query_value = nullptr;
    table->reg_close_key = nullptr;
    p->kernel_table = table;
    (void)setup_kernel_table(table);

    set_public_defaults(r);

    p->io_mode = -1;
    for (int32_t &edge : p->roi) {
        edge = 0;
    }
    p->dct_method = 1;
    p->interrupt_after_mcu = 0;
    copy_public_fields(p, r);
    p->partial_scan = 0;
    p->mcus_per_row = 0;
    p->mcu_rows = 0;

    p->custom_quant_tables = 0;
    p->custom_huffman_tables = 0;
    for (int32_t &word : p->encoder_state) {
        word = 0;
    }

    for (QUANT_TABLE &q : p->quant_tables) {
        (void)zero_memory(&q, sizeof(q));
        // Storage for the derived table starts at the first 8-byte boundary
        // after the three header words.
        const uintptr_t after_header = reinterpret_cast<uintptr_t>(&q.coefficients + 1);
        const uintptr_t aligned = (after_header + 7u) & ~static_cast<uintptr_t>(7u);
        q.coefficients = reinterpret_cast<int16_t *>(aligned);
    }
    for (HUFFMAN_DECODE_TABLE &h : p->dc_huffman_tables) {
        (void)zero_memory(&h, sizeof(h));
    }
    for (HUFFMAN_DECODE_TABLE &h : p->ac_huffman_tables) {
        (void)zero_memory(&h, sizeof(h));
    }

    p->expect_frame = 1;
    p->frame_precision = 0;
    p->frame_width = 0;
    p->frame_height = 0;
    p->max_h_sampling = 0;
    p->max_v_sampling = 0;
    p->frame_component_count = QRL_MAX_COMPONENTS;

    c->components = allocate<COMPONENT_INFO>(QRL_MAX_COMPONENTS);
    if (c->components == nullptr) {
        return JPEG_MEMORY_ERROR;
    }
    p->frame_components = c->components;
    for (int32_t i = 0; i < p->frame_component_count; ++i) {
        p->frame_components[i] = COMPONENT_INFO{0, 0, 0, 0};
    }

    p->restart_interval = 0;
    p->dc_complete_count = 0;
    p->components_complete_count = 0;
    p->adobe_found = 0;
    p->adobe_transform = 0;
    p->current_scan = nullptr;
    p->row_index = nullptr;

    clear_caller_tables(p);

    for (int i = 0; i < QRL_MAX_COMPONENTS; ++i) {
        p->ac_table_of_scan_component[i] = kDefaultSelectors[i];
        p->dc_table_of_scan_component[i] = kDefaultSelectors[i];
        p->frame_components[i].quant_table = kDefaultSelectors[i];
    }

    std::memset(&p->input, 0, sizeof(p->input));
    p->input.kernel_table = table;

    p->coefficient_planes = nullptr;
    p->scans_done = 0;
    p->coefficient_buffer = nullptr;
    p->coefficient_buffer_blocks = 0;
    p->smooth_upsampling = 0;
    p->max_coefficient_bytes = int64_t{1} << 30;
    p->max_scans = 500;
    p->neighbour_ring = nullptr;
    p->neighbour_ring_blocks = 0;

    p->adobe_version = 100;
    p->adobe_flags0 = 0;
    p->adobe_flags1 = 0;
    p->jfif_found = 0;
    p->jfif_version = 0x0101;
    p->jfif_units = 0;
    p->jfif_x_density = 1;
    p->jfif_y_density = 1;
    p->jpeg_comment = nullptr;
    p->jpeg_comment_size = 0;
    p->jpeg_comment_seen = nullptr;
    p->jpeg_comment_capacity = 0;
    p->jpeg_comment_reported = -1;
    return JPEG_OK;
}

// Release path of a failed codec_init: only the component array was
// allocated besides the kernel table.
int32_t undo_init(void *context) {
    auto *c = static_cast<InitContext *>(context);
    release(c->components);
    JPEG_PROPERTIES *p = &c->record->props;
    forget_owned_buffers(p);
    p->kernel_table = c->table;
    return JPEG_OK;
}

int32_t free_owned(void *context) {
    JPEG_PROPERTIES *p = &static_cast<JPEG_CODEC_RECORD *>(context)->props;
    if (p->input.file != nullptr) {
        if (close_file(p->input.file) == 0) {
            return JPEG_ERR_CLOSE_FILE;
        }
        p->input.file = nullptr;
    }
    for (int i = 0; i < 4; ++i) {
        p->encoder_state[i] = 0;
    }
    if (p->frame_component_count > 255) {
        return JPEG_INVALID_PROPERTIES; // the record is damaged: leave its buffers alone
    }
    release(p->frame_components);
    p->frame_component_count = 0;
    release(p->coefficient_buffer);
    p->coefficient_buffer_blocks = 0;

    // The ring's four row pointers share one allocation that starts at the
    // lowest of them. It is released whenever a ring exists, whatever
    // smooth_upsampling says now, so a ring is never leaked.
    if (p->neighbour_ring != nullptr) {
        int16_t *block_memory = nullptr;
        for (int16_t *row : p->neighbour_ring->rows) {
            if (row != nullptr && (block_memory == nullptr || row < block_memory)) {
                block_memory = row;
            }
        }
        release(block_memory);
        release(p->neighbour_ring);
        p->neighbour_ring_blocks = 0;
    }

    release(p->row_index);
    if (p->current_scan != nullptr) {
        release(p->current_scan->scan_components);
        release(p->current_scan);
    }

    clear_caller_tables(p);
    p->custom_quant_tables = 0;
    p->custom_huffman_tables = 0;
    return JPEG_OK;
}

int32_t release_kernel_table(void *context) {
    JPEG_PROPERTIES *p = &static_cast<JPEG_CODEC_RECORD *>(context)->props;
    teardown_kernel_table(p->kernel_table);
    release(p->kernel_table);
    p->input.kernel_table = nullptr;
    return JPEG_OK;
}

} // namespace
} // namespace qrl

extern "C" int32_t codec_init(JPEG_CODEC_RECORD *record) {
    using namespace qrl;
    InitContext context{record, nullptr, nullptr};
    context.table = allocate<KERNEL_TABLE>(1);
    if (context.table == nullptr) {
        // Leave the record in a state codec_free can handle.
        (void)run_guarded(undo_init, &context, JPEG_EXCEPTION_DETECTED);
        return JPEG_MEMORY_ERROR;
    }
    const int32_t result = run_guarded(init_record, &context, JPEG_EXCEPTION_DETECTED);
    if (result != JPEG_OK) {
        (void)run_guarded(undo_init, &context, JPEG_EXCEPTION_DETECTED);
    }
    return result;
}

extern "C" int32_t codec_free(JPEG_CODEC_RECORD *record) {
    using namespace qrl;
    const int32_t result = run_guarded(free_owned, record, JPEG_EXCEPTION_DETECTED);
    // The kernel table goes whatever happened before.
    const int32_t released = run_guarded(release_kernel_table, record, JPEG_EXCEPTION_DETECTED);
    return result != JPEG_OK ? result : released;
}
