#include "decode/markers.h"

#include <array>

#include "codec/memory.h"
#include "decode/app_segments.h"
#include "decode/huffman_tables.h"
#include "decode/input_source.h"
#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"
#include "pixels/output_select.h"
#include "transform/quant_prepare.h"

namespace qrl {
namespace {

// Longest DQT content: four tables of 1 + 128 bytes.
constexpr uint32_t kMaxDqtContent = 4 * (1 + 128);
// Longest DHT content: four tables of 1 + 16 + 256 bytes (T.81 limits), plus
// one byte of slack for a 257-value table.
constexpr uint32_t kMaxDhtContent = 1091;

enum class Action : uint8_t {
    skip,        // skip_segment
    ignore,      // nothing read (RSTn)
    unsupported, // JPEG_UNSUPPORTED_FRAME
    frame,       // SOF0
    frame_first, // SOF1, SOF2: read while no frame is known, else skipped
    dht,
    dqt,
    dri,
    soi,
    app0,
    app14,
    com,
    driver, // SOS, EOI: handled by the decode driver
};

constexpr std::array<Action, 256> make_actions() {
    std::array<Action, 256> a{};
    for (auto &entry : a) entry = Action::skip; // TEM, reserved, APPn, JPGn, DNL, DHP, EXP, DAC
    for (int c = 0xC3; c <= 0xCF; ++c) a[c] = Action::unsupported;
    a[0xF7] = Action::unsupported; // SOF55: a JPEG-LS frame (ITU-T T.87)
    a[0xC0] = Action::frame;
    a[0xC1] = Action::frame_first;
    a[0xC2] = Action::frame_first;
    a[0xC4] = Action::dht;
    a[0xCC] = Action::skip; // DAC
    for (int c = 0xD0; c <= 0xD7; ++c) a[c] = Action::ignore;
    a[0xD8] = Action::soi;
    a[0xD9] = Action::driver;
    a[0xDA] = Action::driver;
    a[0xDB] = Action::dqt;
    a[0xDD] = Action::dri;
    a[0xE0] = Action::app0;
    a[0xEE] = Action::app14;
    a[0xFE] = Action::com;
    return a;
}
constexpr std::array<Action, 256> kActions = make_actions();

uint32_t be16(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

// Reads a segment's length field and content; the content goes to *data
// (length - 2 bytes in *size). The caller releases `block`.
int32_t read_whole_segment(JPEG_PROPERTIES *props, uint8_t **block, int32_t *allocated,
                           uint8_t **data, uint32_t *size) {
    uint32_t length = 0;
    int32_t result = read_u16(&props->input, &length);
    if (result != JPEG_OK) return result;
    if (length < 2) return JPEG_DATA_ERROR;
    *size = length - 2;
    result = read_segment(&props->input, *size, block, data, allocated);
    return result;
}

struct Segment {
    uint8_t *block = nullptr;
    int32_t allocated = 0;
    uint8_t *data = nullptr;
    uint32_t size = 0;
    ~Segment() { release_segment(&block, &allocated); }
};

struct ScanHeaderJob {
    JPEG_PROPERTIES *props;
    SCAN_INFO *scan;
    Segment segment;
};

int32_t parse_scan_header(void *context) {
    auto *job = static_cast<ScanHeaderJob *>(context);
    JPEG_PROPERTIES *props = job->props;
    SCAN_INFO *scan = job->scan;
    uint32_t length = 0;
    int32_t result = read_u16(&props->input, &length);
    if (result != JPEG_OK) return result;
    if (length < 2) return JPEG_DATA_ERROR;
    if (props->kernel_table != nullptr)
        props->kernel_table->scan_header_length = static_cast<int32_t>(length + 2);
    Segment &seg = job->segment;
    seg.size = length - 2;
    result = read_segment(&props->input, seg.size, &seg.block, &seg.data, &seg.allocated);
    if (result != JPEG_OK) return result;
    const uint8_t *p = seg.data;
    if (seg.size < 1) return JPEG_DATA_ERROR;
    const uint32_t count = p[0];
    // The record holds four scan-component selectors (T.81 allows 1..4).
    if (count == 0 || count > QRL_MAX_COMPONENTS) return JPEG_DATA_ERROR;
    if (seg.size < 1 + 2 * count + 3) return JPEG_DATA_ERROR;
    scan->scan_component_count = static_cast<int32_t>(count);
    scan->scan_components = allocate_zeroed<SCAN_COMPONENT>(count);
    if (scan->scan_components == nullptr) return JPEG_MEMORY_ERROR;
    const int32_t frame_count = props->frame_component_count < QRL_MAX_COMPONENTS
                                    ? props->frame_component_count
                                    : QRL_MAX_COMPONENTS;
    for (uint32_t j = 0; j < count; ++j) {
        const int32_t selector = p[1 + 2 * j];
        const int32_t td = p[2 + 2 * j] >> 4;
        const int32_t ta = p[2 + 2 * j] & 15;
        if (td > 3 || ta > 3) return JPEG_DATA_ERROR;
        int32_t index = -1;
        for (int32_t i = 0; i < frame_count; ++i) {
            if (props->frame_components[i].id == selector) {
                index = i;
                break;
            }
        }
        if (index < 0) return JPEG_DATA_ERROR;
        for (uint32_t k = 0; k < j; ++k) // each component at most once per scan
            if (scan->scan_components[k].component_index == index) return JPEG_DATA_ERROR;
        const COMPONENT_INFO &component = props->frame_components[index];
        if (component.quant_table < 0 || component.quant_table > 3) return JPEG_DATA_ERROR;
        SCAN_COMPONENT &entry = scan->scan_components[j];
        entry.component_index = index;
        entry.h_sampling = component.h_sampling;
        entry.v_sampling = component.v_sampling;
        entry.dc_table = &props->dc_huffman_tables[td];
        entry.ac_table = &props->ac_huffman_tables[ta];
        entry.quant_table = &props->quant_tables[component.quant_table];
        props->dc_table_of_scan_component[j] = static_cast<uint8_t>(td);
        props->ac_table_of_scan_component[j] = static_cast<uint8_t>(ta);
    }
    const uint8_t *q = p + 1 + 2 * count;
    scan->spectral_start = q[0];
    scan->spectral_end = q[1];
    scan->approx_high = q[2] >> 4;
    scan->approx_low = q[2] & 15;
    // A spectral band outside 0..63 would index past the zig-zag table.
    if (scan->spectral_end > 63 || scan->spectral_start > scan->spectral_end)
        return JPEG_DATA_ERROR;
    return JPEG_OK;
}

} // namespace

void start_new_image(JPEG_PROPERTIES *props) {
    // A resumed decode reads the frame of its pending scan again.
    if (props->current_scan != nullptr) return;
    props->scans_done = 0;
    props->dc_complete_count = 0;
    props->components_complete_count = 0;
    release(props->coefficient_buffer);
    props->coefficient_buffer_blocks = 0;
    release(props->row_index);
    if (props->neighbour_ring != nullptr) {
        release(props->neighbour_ring->rows[0]);
        release(props->neighbour_ring);
    }
    props->neighbour_ring_blocks = 0;
}

bool is_header_mode(int32_t io_mode) {
    return io_mode == 0 || io_mode == 1 || io_mode == 4 || io_mode == 5 || io_mode == 20 ||
           io_mode == 21;
}

void prepare_quant_table(JPEG_PROPERTIES *props, QUANT_TABLE *table) {
    // The accurate table for dct_method 1, else the fast one (kept in the
    // accurate form, and marked, when its values do not fit the fast form).
    prepare_dequant_slot(table, props->dct_method);
}

int32_t read_frame_header(JPEG_PROPERTIES *props, bool *end_parse) {
    INPUT_SOURCE *src = &props->input;
    if (props->io_mode == 4 || props->io_mode == 5) {
        // A tables-only read stops at the frame header and leaves it unread.
        src->position -= 2;
        *end_parse = true;
        return JPEG_OK;
    }
    Segment seg;
    int32_t result = read_whole_segment(props, &seg.block, &seg.allocated, &seg.data, &seg.size);
    if (result != JPEG_OK) return result;
    if (seg.size < 6) return JPEG_DATA_ERROR;
    const uint8_t *p = seg.data;
    props->frame_precision = p[0];
    props->frame_height = static_cast<int32_t>(be16(p + 1));
    props->frame_width = static_cast<int32_t>(be16(p + 3));
    const int32_t count = p[5];
    if (props->frame_precision != 8) return JPEG_UNSUPPORTED_FRAME;
    if (props->frame_height == 0) return JPEG_ERR_DNL;
    if (props->frame_width == 0) return JPEG_ERR_SOF; // T.81 requires at least one sample per line
    // The component array has room for four components.
    if (count == 0 || count > QRL_MAX_COMPONENTS) return JPEG_ERR_COMP;
    if (seg.size < 6 + 3 * static_cast<uint32_t>(count)) return JPEG_DATA_ERROR;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t *c = p + 6 + 3 * i;
        const int32_t h = c[1] >> 4;
        const int32_t v = c[1] & 15;
        // T.81 allows factors 1..4; the MCU buffer is sized for that.
        if (h < 1 || h > QRL_MAX_SAMPLING || v < 1 || v > QRL_MAX_SAMPLING) return JPEG_DATA_ERROR;
    }
    // Only a frame that passed every check replaces the component array.
    (void)zero_memory(props->frame_components, QRL_MAX_COMPONENTS * sizeof(COMPONENT_INFO));
    int32_t max_h = 0;
    int32_t max_v = 0;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t *c = p + 6 + 3 * i;
        COMPONENT_INFO &component = props->frame_components[i];
        component.id = c[0];
        component.h_sampling = c[1] >> 4;
        component.v_sampling = c[1] & 15;
        component.quant_table = c[2];
        if (component.h_sampling > max_h) max_h = component.h_sampling;
        if (component.v_sampling > max_v) max_v = component.v_sampling;
    }
    props->frame_component_count = count;
    props->max_h_sampling = max_h;
    props->max_v_sampling = max_v;

    start_new_image(props);

    props->expect_frame = 0;
    props->jpeg_channels = count;
    props->jpeg_width = props->frame_width;
    props->jpeg_height = props->frame_height;
    return select_output(props);
}

int32_t read_quant_tables(JPEG_PROPERTIES *props) {
    uint32_t length = 0;
    int32_t result = read_u16(&props->input, &length);
    if (result != JPEG_OK) return result;
    if (length < 2 || length - 2 > kMaxDqtContent) return JPEG_DATA_ERROR;
    Segment seg;
    seg.size = length - 2;
    result = read_segment(&props->input, seg.size, &seg.block, &seg.data, &seg.allocated);
    if (result != JPEG_OK) return result;
    uint32_t at = 0;
    while (at < seg.size) {
        const uint8_t b = seg.data[at];
        const int32_t id = b & 15;
        const int32_t precision = b >> 4;
        if (id > 3) return JPEG_BAD_QUANT_TABLE;
        const uint32_t bytes = precision != 0 ? 128 : 64;
        if (seg.size - at < 1 + bytes) return JPEG_DATA_ERROR; // table cut short
        const uint8_t *values = seg.data + at + 1;
        QUANT_TABLE &table = props->quant_tables[id];
        table.precision = precision;
        if (props->quant_table_count < id + 1) props->quant_table_count = id + 1;
        for (int32_t i = 0; i < 64; ++i) {
            table.coefficients[i] = precision != 0
                                        ? static_cast<int16_t>(be16(values + 2 * i))
                                        : static_cast<int16_t>(values[i]);
        }
        RAW_QUANT_TABLE &raw = props->raw_quant_tables[id];
        if (raw.table != nullptr) {
            raw.table_id = static_cast<uint8_t>(id);
            copy_memory(raw.table, values, bytes);
        }
        prepare_quant_table(props, &table);
        if (props->quant_tables_defined < 4) ++props->quant_tables_defined;
        at += 1 + bytes;
    }
    return JPEG_OK;
}

int32_t read_huffman_tables(JPEG_PROPERTIES *props) {
    uint32_t length = 0;
    int32_t result = read_u16(&props->input, &length);
    if (result != JPEG_OK) return result;
    if (length < 2 || length - 2 > kMaxDhtContent) return JPEG_DATA_ERROR;
    Segment seg;
    seg.size = length - 2;
    result = read_segment(&props->input, seg.size, &seg.block, &seg.data, &seg.allocated);
    if (result != JPEG_OK) return result;
    uint32_t at = 0;
    while (at < seg.size) {
        const uint8_t b = seg.data[at];
        const int32_t table_class = b >> 4;
        const int32_t id = b & 15;
        if (table_class > 1 || id > 3) return JPEG_BAD_HUFFMAN_TABLE;
        if (seg.size - at < 17) return JPEG_DATA_ERROR;
        const uint8_t *counts = seg.data + at + 1;
        uint32_t total = 0;
        for (int32_t i = 0; i < 16; ++i) total += counts[i];
        if (seg.size - at - 17 < total) return JPEG_DATA_ERROR; // values cut short
        const uint8_t *symbols = counts + 16;
        if (props->huffman_table_bound < id + 1) props->huffman_table_bound = id + 1;
        RAW_HUFFMAN_TABLE &raw = props->raw_huffman_tables[2 * id + table_class];
        if (raw.bits != nullptr && raw.values != nullptr) {
            raw.table_class = static_cast<uint8_t>(table_class);
            raw.table_id = static_cast<uint8_t>(id);
            copy_memory(raw.bits, counts, 16);
            copy_memory(raw.values, symbols, total);
        }
        HUFFMAN_DECODE_TABLE *table =
            table_class == 0 ? &props->dc_huffman_tables[id] : &props->ac_huffman_tables[id];
        if (build_huffman_decode_table(counts, symbols, table_class, id, table) != JPEG_OK)
            return JPEG_BAD_HUFFMAN_TABLE;
        int32_t &defined = table_class == 0 ? props->dc_table_count : props->ac_table_count;
        if (defined < 4) ++defined;
        at += 17 + total;
    }
    return JPEG_OK;
}

int32_t read_restart_interval(JPEG_PROPERTIES *props) {
    Segment seg;
    const int32_t result =
        read_whole_segment(props, &seg.block, &seg.allocated, &seg.data, &seg.size);
    if (result != JPEG_OK) return result;
    if (seg.size < 2) return JPEG_DATA_ERROR;
    props->restart_interval = static_cast<int32_t>(be16(seg.data));
    return JPEG_OK;
}

int32_t read_scan_header(JPEG_PROPERTIES *props, SCAN_INFO *scan) {
    if (props->expect_frame != 0) return JPEG_NO_FRAME;
    ScanHeaderJob job{props, scan, {}};
    const int32_t result = run_guarded(parse_scan_header, &job, JPEG_EXCEPTION_DETECTED);
    release_segment(&job.segment.block, &job.segment.allocated);
    if (result != JPEG_OK) release(scan->scan_components);
    return result;
}

int32_t dispatch_marker(JPEG_PROPERTIES *props, int32_t code, bool *end_parse) {
    *end_parse = false;
    if (code < 0 || code > 255) return JPEG_OK;
    switch (kActions[static_cast<uint32_t>(code)]) {
    case Action::skip:
        return skip_segment(&props->input);
    case Action::ignore:
    case Action::driver:
        return JPEG_OK;
    case Action::unsupported:
        return JPEG_UNSUPPORTED_FRAME;
    case Action::frame:
        return read_frame_header(props, end_parse);
    case Action::frame_first:
        // With a frame already known the segment is skipped by its length: its
        // bytes (a width of 255, say) must not be searched for markers. It
        // still starts the image anew: an image decoded again must not refine
        // the coefficients left by the previous decode.
        if (props->expect_frame == 0) {
            start_new_image(props);
            return skip_segment(&props->input);
        }
        return read_frame_header(props, end_parse);
    case Action::dht:
        return read_huffman_tables(props);
    case Action::dqt:
        return read_quant_tables(props);
    case Action::dri:
        return read_restart_interval(props);
    case Action::soi:
        props->restart_interval = 0;
        return JPEG_OK;
    case Action::app0:
        if (props->io_mode == 6) return JPEG_OK;
        return read_app0(props);
    case Action::app14: {
        const int32_t result = read_app14(props);
        if (result != JPEG_OK) return result;
        if (props->expect_frame == 0) return select_output(props);
        return JPEG_OK;
    }
    case Action::com:
        return read_comment(props);
    }
    return JPEG_OK;
}

} // namespace qrl
