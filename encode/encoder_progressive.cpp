// The progressive encoder: every MCU is transformed and quantized into the
// whole-image coefficient buffer, then a fixed scan script is written, each
// scan with Huffman tables optimised for it.
#include <cstring>

#include "codec/memory.h"
#include "dispatch/kernel_table.h"
#include "encode/encoder_driver.h"
#include "encode/huffman_encode.h"
#include "encode/huffman_progressive.h"
#include "encode/marker_writer.h"
#include "encode/out_stream.h"
#include "pixels/input.h"

namespace qrl {
namespace {

// One scan of a script: component -1 = a DC scan of all components.
struct ScriptScan {
    int8_t component;
    uint8_t ss, se, ah, al;
};

constexpr ScriptScan kGrayScript[] = {
    {-1, 0, 0, 0, 1}, {0, 1, 5, 0, 2}, {0, 6, 63, 0, 2}, {0, 1, 63, 2, 1}, {-1, 0, 0, 1, 0},
    {0, 1, 63, 1, 0},
};
constexpr ScriptScan kTwoComponentScript[] = {
    {-1, 0, 0, 0, 0}, {0, 1, 5, 0, 0}, {1, 1, 5, 0, 0}, {0, 6, 63, 0, 0}, {1, 6, 63, 0, 0},
};
constexpr ScriptScan kYccScript[] = {
    {-1, 0, 0, 0, 1}, {0, 1, 5, 0, 2},  {2, 1, 63, 0, 1}, {1, 1, 63, 0, 1}, {0, 6, 63, 0, 2},
    {0, 1, 63, 2, 1}, {-1, 0, 0, 1, 0}, {2, 1, 63, 1, 0}, {1, 1, 63, 1, 0}, {0, 1, 63, 1, 0},
};
constexpr ScriptScan kThreeComponentScript[] = {
    {-1, 0, 0, 0, 1}, {0, 1, 5, 0, 0},  {1, 1, 5, 0, 0},  {2, 1, 5, 0, 0},
    {-1, 0, 0, 1, 0}, {0, 6, 63, 0, 0}, {1, 6, 63, 0, 0}, {2, 6, 63, 0, 0},
};
constexpr ScriptScan kFourComponentScript[] = {
    {-1, 0, 0, 0, 1}, {0, 1, 5, 0, 0},  {1, 1, 5, 0, 0},  {2, 1, 5, 0, 0},  {3, 1, 5, 0, 0},
    {-1, 0, 0, 1, 0}, {0, 6, 63, 0, 0}, {1, 6, 63, 0, 0}, {2, 6, 63, 0, 0}, {3, 6, 63, 0, 0},
};
constexpr ScriptScan kYcckScript[] = {
    {-1, 0, 0, 0, 1}, {0, 1, 5, 0, 2},  {2, 1, 63, 0, 1}, {1, 1, 63, 0, 1},
    {3, 1, 63, 0, 0}, {0, 6, 63, 0, 2}, {0, 1, 63, 2, 1}, {-1, 0, 0, 1, 0},
    {2, 1, 63, 1, 0}, {1, 1, 63, 1, 0}, {0, 1, 63, 1, 0},
};
constexpr int32_t kMaxScriptScans = 11;

struct Script {
    const ScriptScan *scans;
    int32_t count;
};

template <int32_t N>
constexpr Script script_of(const ScriptScan (&s)[N]) {
    return {s, N};
}

Script choose_script(int32_t channels, int32_t color) {
    switch (channels) {
    case 1:
        if (color == COLOR_GRAY) return script_of(kGrayScript);
        break;
    case 2:
        if (color == COLOR_OTHER) return script_of(kTwoComponentScript);
        break;
    case 3:
        if (color == COLOR_YCBCR) return script_of(kYccScript);
        if (color == COLOR_RGB || color == COLOR_OTHER) return script_of(kThreeComponentScript);
        break;
    case 4:
        if (color == COLOR_YCCK) return script_of(kYcckScript);
        if (color == COLOR_CMYK || color == COLOR_OTHER) return script_of(kFourComponentScript);
        break;
    default: break;
    }
    return {nullptr, 0};
}

// Builds the optimal table of one statistics array, writes its DHT segment
// and installs its encode table.
int32_t install_optimal_table(JPEG_PROPERTIES *props, const int32_t *statistics,
                              int32_t table_class, int32_t id) {
    uint8_t counts[16];
    uint8_t symbols[256];
    (void)make_optimal_huffman_table(statistics, counts, symbols);
    HUFFMAN_ENCODE_TABLE *table =
        table_class == 0 ? &props->dc_encode_tables[id] : &props->ac_encode_tables[id];
    int32_t r = build_huffman_encode_table(counts, symbols, table);
    if (r == JPEG_OK) r = write_dht_one(&props->input, table_class, id, counts, symbols);
    if (r == JPEG_OK)
        props->encoder_state[table_class == 0 ? kDcTablesReady : kAcTablesReady] |= 1 << id;
    return r;
}

int32_t fill_coefficient_buffer(JPEG_PROPERTIES *props, int32_t blocks_per_mcu) {
    int16_t *out = props->coefficient_buffer;
    const McuPlan plan = plan_mcu(props);
    for (int32_t row = 0; row < props->mcu_rows; ++row) {
        for (int32_t col = 0; col < props->mcus_per_row; ++col) {
            const int32_t n = prepare_mcu(props, plan, col, row);
            if (n < 0) return n;
            std::memcpy(out, props->mcu_buffer, static_cast<size_t>(blocks_per_mcu) * 64 * sizeof(int16_t));
            out += static_cast<size_t>(blocks_per_mcu) * 64;
        }
    }
    return JPEG_OK;
}

int32_t run_script(JPEG_PROPERTIES *props, const Script &script) {
    INPUT_SOURCE *s = &props->input;
    SCAN_COMPONENT components[kMaxScriptScans][QRL_MAX_COMPONENTS] = {};
    SCAN_INFO scans[kMaxScriptScans] = {};
    const int32_t f = props->frame_component_count;
    for (int32_t i = 0; i < script.count; ++i) {
        const ScriptScan &d = script.scans[i];
        SCAN_INFO &scan = scans[i];
        scan.scan_components = components[i];
        scan.spectral_start = d.ss;
        scan.spectral_end = d.se;
        scan.approx_high = d.ah;
        scan.approx_low = d.al;
        if (d.component < 0) {
            scan.scan_component_count = f;
            for (int32_t k = 0; k < f; ++k) components[i][k].component_index = k;
        } else {
            scan.scan_component_count = 1;
            components[i][0].component_index = d.component;
        }
        for (int32_t k = 0; k < scan.scan_component_count; ++k) {
            const COMPONENT_INFO &c = props->frame_components[components[i][k].component_index];
            components[i][k].h_sampling = c.h_sampling;
            components[i][k].v_sampling = c.v_sampling;
        }
    }
    auto *statistics = allocate<ScanStatistics>(1);
    if (statistics == nullptr) return JPEG_MEMORY_ERROR;
    int32_t r = JPEG_OK;
    for (int32_t i = 0; i < script.count && r == JPEG_OK; ++i) {
        SCAN_INFO *scan = &scans[i];
        std::memset(*statistics, 0, sizeof(ScanStatistics));
        r = gather_scan_statistics(props, s, scan, *statistics);
        if (r != JPEG_OK) break;
        const bool dc_scan = scan->spectral_start == 0 && scan->spectral_end == 0;
        if (!dc_scan) {
            const int32_t id = scan->scan_components[0].component_index == 0 ? 0 : 1;
            r = install_optimal_table(props, (*statistics)[id], 1, id);
        } else if (scan->approx_high == 0) {
            for (int32_t &p : scan->dc_predictors) p = 0;
            r = install_optimal_table(props, (*statistics)[0], 0, 0);
            if (r == JPEG_OK && props->jpeg_channels != 1)
                r = install_optimal_table(props, (*statistics)[1], 0, 1);
        }
        if (r == JPEG_OK) r = write_sos_progressive(s, props, scan);
        if (r == JPEG_OK) r = encode_progressive_scan(props, s, scan);
    }
    release(statistics);
    return r;
}

} // namespace

int32_t encode_progressive(JPEG_PROPERTIES *props) {
    INPUT_SOURCE *s = &props->input;
    const int32_t f = props->frame_component_count;
    if (f < 1 || f > QRL_MAX_COMPONENTS) return JPEG_ERR_COMP;
    const Script script = choose_script(props->jpeg_channels, props->jpeg_color);
    if (script.scans == nullptr || props->jpeg_channels != f) return JPEG_INVALID_PROPERTIES;
    for (int32_t i = 0; i < f; ++i)
        if (forward_table(props, props->frame_components[i].quant_table) == nullptr &&
            !(props->coefficient_planes != nullptr && props->coefficient_planes->planes_mode == 0))
            return JPEG_NO_QUANT_TABLE;

    // Huffman tables are chosen per scan: id 0 for component 0, id 1 for the others.
    static constexpr uint8_t kSelectors[4] = {0, 1, 1, 1};
    std::memcpy(props->ac_table_of_scan_component, kSelectors, 4);
    std::memcpy(props->dc_table_of_scan_component, kSelectors, 4);

    int32_t blocks_per_mcu = 0;
    for (int32_t i = 0; i < f; ++i)
        blocks_per_mcu += props->frame_components[i].h_sampling * props->frame_components[i].v_sampling;
    const size_t mcus = static_cast<size_t>(props->mcus_per_row) * static_cast<size_t>(props->mcu_rows);
    release(props->coefficient_buffer);
    props->coefficient_buffer_blocks = 0;
    props->coefficient_buffer = allocate<int16_t>(mcus * static_cast<size_t>(blocks_per_mcu) * 64);
    if (props->coefficient_buffer == nullptr) return JPEG_MEMORY_ERROR;
    props->coefficient_buffer_blocks = static_cast<int32_t>(mcus * static_cast<size_t>(blocks_per_mcu));

    // The scans carry no restart markers, so no DRI segment is written either.
    int32_t r = write_sof(s, props, 0xC2);
    if (r == JPEG_OK && props->coefficient_planes == nullptr) r = select_input(props);
    if (r == JPEG_OK) r = fill_coefficient_buffer(props, blocks_per_mcu);
    if (r == JPEG_OK) r = run_script(props, script);
    if (r == JPEG_OK) r = write_eoi(s);
    if (r == JPEG_OK) r = out_stream_finish(s);
    return r;
}

} // namespace qrl
