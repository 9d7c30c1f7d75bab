#include "encode/encoder_driver.h"

#include <cstring>

#include "codec/memory.h"
#include "dispatch/kernel_table.h"
#include "encode/default_tables.h"
#include "encode/huffman_encode.h"
#include "encode/marker_writer.h"
#include "encode/out_stream.h"
#include "pixels/input.h"
#include "transform/quant_prepare.h"

namespace qrl {
namespace {

bool is_file_mode(int32_t mode) { return (mode & 1) == 0; }
bool is_tables_only(int32_t mode) { return mode == 10 || mode == 11; }
bool is_image_only(int32_t mode) { return mode == 12 || mode == 13; }

// The 80-entry storage of quantization slot j (8-byte aligned by codec_init).
int16_t *slot_storage(JPEG_PROPERTIES *props, int32_t j) {
    QUANT_TABLE &q = props->quant_tables[j];
    return q.coefficients != nullptr ? q.coefficients : q.storage;
}

void simd_reset(const JPEG_PROPERTIES *props) {
    if (props->kernel_table != nullptr && props->kernel_table->simd_state_reset != nullptr)
        props->kernel_table->simd_state_reset();
}

// Scales slot j's raw table into its storage and prepares the forward table.
// When `dqt_stream` is set, the DQT segment goes out first, with the values
// the quantizer really uses.
int32_t prepare_forward_slot(JPEG_PROPERTIES *props, int32_t j, INPUT_SOURCE *dqt_stream) {
    if (props->dct_method != 0 && props->dct_method != 1) return JPEG_INVALID_PROPERTIES;
    const RAW_QUANT_TABLE &raw = props->raw_quant_tables[j];
    int16_t scaled[64];
    scale_quant_table(props->jpeg_quality, raw.table, scaled);
    if (props->dct_method == 0) fast_quant_raise_last(scaled);
    const int32_t id = raw.table_id & 3;
    if (dqt_stream != nullptr) {
        const int32_t r = write_dqt(dqt_stream, raw.table_id, 0, scaled);
        if (r != JPEG_OK) return r;
    }
    int16_t *table = slot_storage(props, j);
    std::memcpy(table, scaled, sizeof(scaled));
    if (props->dct_method == 0)
        prepare_quant_table_fast(table);
    else
        prepare_quant_table_accurate(table);
    props->forward_quant_tables[id] = table;
    props->encoder_state[kForwardTablesReady] |= 1 << id;
    return JPEG_OK;
}

// Builds the encode tables of every DC/AC pair of raw_huffman_tables.
int32_t build_encode_tables(JPEG_PROPERTIES *props) {
    for (int32_t i = 0; i < 2 * props->huffman_table_bound && i < 8; ++i) {
        const RAW_HUFFMAN_TABLE &t = props->raw_huffman_tables[i];
        if (t.bits == nullptr || t.values == nullptr) continue;
        const int32_t id = t.table_id & 3;
        const bool dc = t.table_class == 0;
        HUFFMAN_ENCODE_TABLE *out = dc ? &props->dc_encode_tables[id] : &props->ac_encode_tables[id];
        const int32_t r = build_huffman_encode_table(t.bits, t.values, out);
        if (r != JPEG_OK) return r;
        props->encoder_state[dc ? kDcTablesReady : kAcTablesReady] |= 1 << id;
    }
    return JPEG_OK;
}

int32_t write_app_segment(JPEG_PROPERTIES *props, INPUT_SOURCE *s) {
    switch (props->jpeg_color) {
    case COLOR_RGB:
    case COLOR_CMYK: return write_adobe(s, props, 0);
    case COLOR_YCCK: return write_adobe(s, props, 2);
    default: return write_jfif(s, props);
    }
}

uint8_t *mutable_table(const uint8_t *t) { return const_cast<uint8_t *>(t); }

} // namespace

int32_t install_default_tables(JPEG_PROPERTIES *props) {
    bool any_quant = false;
    for (const RAW_QUANT_TABLE &t : props->raw_quant_tables)
        if (t.table != nullptr) any_quant = true;
    const int32_t custom_quant = any_quant ? props->custom_quant_tables : 0;
    if (custom_quant == 0) {
        props->quant_table_count = 2;
        props->quant_tables_defined = 2;
        props->raw_quant_tables[0] = {mutable_table(kLuminanceQuant.v), 0};
        props->raw_quant_tables[1] = {mutable_table(kChrominanceQuant.v), 1};
        props->raw_quant_tables[2] = {nullptr, 0};
        props->raw_quant_tables[3] = {nullptr, 0};
    } else {
        // Caller tables: every slot up to the last one that holds a table.
        int32_t count = 0;
        for (int32_t j = 0; j < 4; ++j)
            if (props->raw_quant_tables[j].table != nullptr) count = j + 1;
        props->quant_table_count = count;
    }

    bool any_huffman = false;
    for (const RAW_HUFFMAN_TABLE &t : props->raw_huffman_tables)
        if (t.bits != nullptr && t.values != nullptr) any_huffman = true;
    if (!any_huffman || props->custom_huffman_tables == 0) {
        props->ac_table_count = 2;
        props->dc_table_count = 2;
        props->huffman_table_bound = 2;
        RAW_HUFFMAN_TABLE *h = props->raw_huffman_tables;
        h[0] = {mutable_table(kDcLuminanceBits), mutable_table(kDcValues), 0, 0};
        h[1] = {mutable_table(kAcLuminanceBits), mutable_table(kAcLuminanceValues), 1, 0};
        h[2] = {mutable_table(kDcChrominanceBits), mutable_table(kDcValues), 0, 1};
        h[3] = {mutable_table(kAcChrominanceBits), mutable_table(kAcChrominanceValues), 1, 1};
        for (int32_t i = 4; i < 8; ++i) h[i] = {nullptr, nullptr, 0, 0};
        static constexpr uint8_t kSelectors[4] = {0, 1, 1, 1};
        std::memcpy(props->ac_table_of_scan_component, kSelectors, 4);
        std::memcpy(props->dc_table_of_scan_component, kSelectors, 4);
    } else {
        // Caller tables: every pair up to the last slot that holds a table.
        int32_t bound = 0;
        for (int32_t i = 0; i < 8; ++i)
            if (props->raw_huffman_tables[i].bits != nullptr &&
                props->raw_huffman_tables[i].values != nullptr)
                bound = i / 2 + 1;
        props->huffman_table_bound = bound;
        props->ac_table_count = bound;
        props->dc_table_count = bound;
    }
    return JPEG_OK;
}

void scale_quant_table(int32_t quality, const uint8_t *base, int16_t *out) {
    int32_t q = quality < 1 ? 1 : quality > 100 ? 100 : quality;
    const int32_t scale = q < 50 ? 5000 / q : 200 - 2 * q;
    for (int32_t i = 0; i < 64; ++i) {
        const int32_t v = (base[i] * scale + 50) / 100;
        out[i] = static_cast<int16_t>(v <= 0 ? 1 : v > 255 ? 255 : v);
    }
}

const int16_t *forward_table(const JPEG_PROPERTIES *props, int32_t id) {
    if (id < 0 || id > 3) return nullptr;
    if ((props->encoder_state[kForwardTablesReady] & (1 << id)) == 0) return nullptr;
    return props->forward_quant_tables[id];
}

int32_t write_stream_header(JPEG_PROPERTIES *props) {
    INPUT_SOURCE *s = &props->input;
    KERNEL_TABLE *kt = props->kernel_table;
    kt->out_stream_open(s, props->jpeg_buffer, props->jpeg_buffer_size);
    int32_t r = write_soi(s);
    if (r != JPEG_OK) return r;
    const int32_t mode = props->io_mode;
    if (!is_image_only(mode)) {
        if ((r = write_app_segment(props, s)) != JPEG_OK) return r;
        if ((r = write_comment(s, props)) != JPEG_OK) return r;
        props->encoder_state[kForwardTablesReady] = 0;
        props->encoder_state[kDcTablesReady] = 0;
        props->encoder_state[kAcTablesReady] = 0;
        for (int32_t j = 0; j < props->quant_table_count && j < 4; ++j) {
            if (props->raw_quant_tables[j].table == nullptr) continue;
            if ((r = prepare_forward_slot(props, j, s)) != JPEG_OK) return r;
        }
        if (props->scans_done == 0) {
            if ((r = write_dht_all(s, props)) != JPEG_OK) return r;
            if ((r = build_encode_tables(props)) != JPEG_OK) return r;
        }
    } else {
        for (int32_t j = 0; j < props->quant_table_count && j < 4; ++j) {
            const RAW_QUANT_TABLE &raw = props->raw_quant_tables[j];
            if (raw.table == nullptr || forward_table(props, raw.table_id & 3) != nullptr) continue;
            if ((r = prepare_forward_slot(props, j, nullptr)) != JPEG_OK) return r;
        }
        if ((r = build_encode_tables(props)) != JPEG_OK) return r;
    }
    if (props->dct_method == 1) {
        kt->fdct_active = kt->fdct_accurate;
        kt->quantize_active = kt->quantize_accurate;
    } else {
        kt->fdct_active = kt->fdct_fast;
        kt->quantize_active = kt->quantize_fast;
    }
    if (is_tables_only(mode) && (r = write_eoi(s)) != JPEG_OK) return r;
    if (s->file != nullptr && is_file_mode(mode)) return out_stream_finish(s);
    return JPEG_OK;
}

McuPlan plan_mcu(const JPEG_PROPERTIES *props) {
    McuPlan plan{};
    for (int32_t i = 0; i < props->frame_component_count && i < QRL_MAX_COMPONENTS; ++i) {
        const COMPONENT_INFO &c = props->frame_components[i];
        const int16_t *table = forward_table(props, c.quant_table);
        for (int32_t b = 0; b < c.h_sampling * c.v_sampling && plan.blocks < QRL_MCU_MAX_BLOCKS; ++b)
            plan.table[plan.blocks++] = table;
    }
    return plan;
}

int32_t prepare_mcu(JPEG_PROPERTIES *props, const McuPlan &plan, int32_t column, int32_t row) {
    KERNEL_TABLE *kt = props->kernel_table;
    const COEFFICIENT_PLANES *planes = props->coefficient_planes;
    if (planes == nullptr) {
        const int32_t r = kt->mcu_reader(props, column, row);
        if (r < 0) return r;
    } else {
        int16_t *out = props->mcu_buffer;
        for (int32_t i = 0; i < props->frame_component_count; ++i) {
            const COMPONENT_INFO &c = props->frame_components[i];
            const int64_t width = static_cast<int64_t>(c.h_sampling) * props->mcus_per_row * 8;
            for (int32_t v = 0; v < c.v_sampling; ++v)
                for (int32_t h = 0; h < c.h_sampling; ++h) {
                    const int64_t bx = static_cast<int64_t>(column) * c.h_sampling + h;
                    const int64_t by = static_cast<int64_t>(row) * c.v_sampling + v;
                    const int16_t *src = planes->plane[i] + by * 8 * width + bx * 8;
                    for (int32_t y = 0; y < 8; ++y)
                        std::memcpy(out + y * 8, src + y * width, 8 * sizeof(int16_t));
                    if (planes->planes_mode != 0)
                        for (int32_t k = 0; k < 64; ++k) out[k] = static_cast<int16_t>(out[k] - 128);
                    out += 64;
                }
        }
        if (planes->planes_mode == 0) return plan.blocks;
    }
    // Each block is transformed and then quantized while it is in cache;
    // blocks do not depend on each other, so this equals transforming the
    // whole MCU first.
    const BlockFn fdct = kt->fdct_active;
    const TableBlockFn quantize = kt->quantize_active;
    int16_t *block = props->mcu_buffer;
    for (int32_t b = 0; b < plan.blocks; ++b, block += 64) {
        fdct(block);
        quantize(block, plan.table[b]);
    }
    return plan.blocks;
}

namespace {

void release_scan(JPEG_PROPERTIES *props) {
    if (props->current_scan != nullptr) {
        release(props->current_scan->scan_components);
        release(props->current_scan);
    }
    props->encoder_state[kPendingEncode] = 0;
}

// Checks the tables every component needs before the first MCU.
int32_t check_tables(const JPEG_PROPERTIES *props, const SCAN_INFO *scan) {
    for (int32_t k = 0; k < scan->scan_component_count; ++k) {
        const int32_t dc = props->dc_table_of_scan_component[k];
        const int32_t ac = props->ac_table_of_scan_component[k];
        if (dc > 3 || ac > 3 || (props->encoder_state[kDcTablesReady] & (1 << dc)) == 0 ||
            (props->encoder_state[kAcTablesReady] & (1 << ac)) == 0)
            return JPEG_NO_HUFFMAN_TABLE;
        const COMPONENT_INFO &c = props->frame_components[scan->scan_components[k].component_index];
        if (forward_table(props, c.quant_table) == nullptr) return JPEG_NO_QUANT_TABLE;
    }
    return JPEG_OK;
}

int32_t mcu_loop(JPEG_PROPERTIES *props, SCAN_INFO *scan) {
    INPUT_SOURCE *s = &props->input;
    KERNEL_TABLE *kt = props->kernel_table;
    const McuPlan plan = plan_mcu(props);
    const HUFFMAN_ENCODE_TABLE *dc[QRL_MAX_COMPONENTS];
    const HUFFMAN_ENCODE_TABLE *ac[QRL_MAX_COMPONENTS];
    int32_t blocks_of[QRL_MAX_COMPONENTS];
    for (int32_t k = 0; k < scan->scan_component_count; ++k) {
        dc[k] = &props->dc_encode_tables[props->dc_table_of_scan_component[k]];
        ac[k] = &props->ac_encode_tables[props->ac_table_of_scan_component[k]];
        blocks_of[k] = scan->scan_components[k].h_sampling * scan->scan_components[k].v_sampling;
    }
    const int32_t interval = props->restart_interval;
    const int32_t last_row = props->mcu_rows - 1;
    const int32_t last_column = props->mcus_per_row - 1;
    for (int32_t row = scan->next_mcu_row; row <= last_row; ++row) {
        const int32_t first = row == scan->next_mcu_row ? scan->next_mcu_column : 0;
        for (int32_t col = first; col <= last_column; ++col) {
            const int32_t n = prepare_mcu(props, plan, col, row);
            if (n < 0) return n;
            const int16_t *block = props->mcu_buffer;
            for (int32_t k = 0; k < scan->scan_component_count; ++k) {
                int16_t pred = static_cast<int16_t>(scan->dc_predictors[k]);
                for (int32_t b = 0; b < blocks_of[k]; ++b) {
                    const int32_t r = kt->encode_huffman_block(s, dc[k], ac[k], &pred, block);
                    if (r != JPEG_OK) return r;
                    block += 64;
                }
                scan->dc_predictors[k] = pred;
            }
            if (interval > 0) {
                const int32_t count = ++scan->restart_interval;
                if (count % interval == 0) {
                    const int32_t r = write_rst(s, (count / interval - 1) & 7);
                    if (r != JPEG_OK) return r;
                    for (int32_t &p : scan->dc_predictors) p = 0;
                }
            }
            const bool last = row == last_row && col == last_column;
            if (props->interrupt_after_mcu != 0 && !last) {
                props->roi[2] = col;
                props->roi[3] = row;
                scan->next_mcu_column = col == last_column ? 0 : col + 1;
                scan->next_mcu_row = col == last_column ? row + 1 : row;
                return JPEG_INTERRUPT_OK;
            }
        }
    }
    return JPEG_OK;
}

} // namespace

int32_t encode_sequential(JPEG_PROPERTIES *props) {
    INPUT_SOURCE *s = &props->input;
    int32_t r = JPEG_OK;
    if (props->encoder_state[kPendingEncode] == 0 || props->current_scan == nullptr) {
        release_scan(props);
        const int32_t f = props->frame_component_count;
        if (f < 1 || f > QRL_MAX_COMPONENTS) return JPEG_ERR_COMP;
        SCAN_INFO *scan = allocate_zeroed<SCAN_INFO>(1);
        SCAN_COMPONENT *comps = allocate_zeroed<SCAN_COMPONENT>(static_cast<size_t>(f));
        if (scan == nullptr || comps == nullptr) {
            release(scan);
            release(comps);
            return JPEG_MEMORY_ERROR;
        }
        scan->scan_components = comps;
        scan->scan_component_count = f;
        scan->spectral_start = 1;
        scan->spectral_end = 63;
        for (int32_t i = 0; i < f; ++i) {
            comps[i].component_index = i;
            comps[i].h_sampling = props->frame_components[i].h_sampling;
            comps[i].v_sampling = props->frame_components[i].v_sampling;
        }
        props->current_scan = scan;
        if ((r = check_tables(props, scan)) != JPEG_OK ||
            (r = write_sof(s, props, 0xC0)) != JPEG_OK ||
            (props->restart_interval != 0 && (r = write_dri(s, props->restart_interval)) != JPEG_OK) ||
            (r = write_sos_sequential(s, props, scan)) != JPEG_OK || (r = out_stream_finish(s)) != JPEG_OK ||
            (props->coefficient_planes == nullptr && (r = select_input(props)) != JPEG_OK)) {
            release_scan(props);
            return r;
        }
        props->encoder_state[kPendingEncode] = props->io_mode + 1;
    }
    r = mcu_loop(props, props->current_scan);
    simd_reset(props);
    if (r == JPEG_OK) {
        release_scan(props);
        r = write_eoi(s);
        if (r == JPEG_OK) r = out_stream_finish(s);
    } else if (r == JPEG_INTERRUPT_OK || r == JPEG_ROI_OK) {
        props->interrupt_after_mcu = 0;
    } else {
        release_scan(props);
    }
    return r;
}

} // namespace qrl
