#include "encode/huffman_progressive.h"

#include <cstring>

#include "dispatch/kernel_table.h"
#include "encode/huffman_encode.h"
#include "encode/out_stream.h"
#include "transform/zigzag.h"

namespace qrl {
namespace {

void sink_symbol(ProgressiveSink *sink, int32_t symbol) {
    if (sink->statistics != nullptr) {
        sink->statistics[symbol & 0xFF] += 1;
        return;
    }
    if (sink->error == JPEG_OK) sink->error = put_symbol(sink->stream, sink->table, symbol & 0xFF);
}

void sink_bits(ProgressiveSink *sink, uint32_t value, int32_t n) {
    if (sink->statistics != nullptr || n == 0) return;
    if (sink->error == JPEG_OK) sink->error = put_bits(sink->stream, value, n);
}

int32_t magnitude_of(int32_t v) { return v < 0 ? -v : v; }

// Calls fn(block) for every block of an AC scan's single component that lies
// inside the image, in the component's raster order.
template <typename Fn>
void for_each_ac_block(JPEG_PROPERTIES *props, const SCAN_INFO *scan, Fn fn) {
    const int32_t f = scan->scan_components[0].component_index;
    const COMPONENT_INFO *comps = props->frame_components;
    int32_t mcu_blocks = 0;
    int32_t before = 0;
    for (int32_t i = 0; i < props->frame_component_count; ++i) {
        if (i == f) before = mcu_blocks;
        mcu_blocks += comps[i].h_sampling * comps[i].v_sampling;
    }
    const int32_t h = comps[f].h_sampling;
    const int32_t v = comps[f].v_sampling;
    for (int32_t row = 0; row < props->mcu_rows; ++row) {
        for (int32_t bv = 0; bv < v; ++bv) {
            if ((row * v + bv) * 8 >= props->jpeg_height) break;
            for (int32_t col = 0; col < props->mcus_per_row; ++col) {
                const int16_t *mcu = props->coefficient_buffer +
                                     (static_cast<int64_t>(row) * props->mcus_per_row + col) *
                                         mcu_blocks * 64;
                for (int32_t bh = 0; bh < h; ++bh) {
                    if ((col * h + bh) * 8 >= props->jpeg_width) break;
                    fn(mcu + (before + bv * h + bh) * 64);
                }
            }
        }
    }
}

// Calls fn(scan component index, block) for every block of every MCU of an
// interleaved DC scan.
template <typename Fn>
void for_each_dc_block(JPEG_PROPERTIES *props, const SCAN_INFO *scan, Fn fn) {
    const COMPONENT_INFO *comps = props->frame_components;
    int32_t mcu_blocks = 0;
    int32_t offset[QRL_MAX_COMPONENTS] = {};
    for (int32_t i = 0; i < props->frame_component_count; ++i) {
        offset[i] = mcu_blocks;
        mcu_blocks += comps[i].h_sampling * comps[i].v_sampling;
    }
    const int64_t mcus = static_cast<int64_t>(props->mcus_per_row) * props->mcu_rows;
    for (int64_t m = 0; m < mcus; ++m) {
        const int16_t *mcu = props->coefficient_buffer + m * mcu_blocks * 64;
        for (int32_t k = 0; k < scan->scan_component_count; ++k) {
            const int32_t f = scan->scan_components[k].component_index;
            const int32_t n = comps[f].h_sampling * comps[f].v_sampling;
            for (int32_t b = 0; b < n; ++b) fn(k, mcu + (offset[f] + b) * 64);
        }
    }
}

bool is_dc_scan(const SCAN_INFO *scan) { return scan->spectral_start == 0 && scan->spectral_end == 0; }

} // namespace

void init_sink_for_writing(ProgressiveSink *sink, INPUT_SOURCE *stream,
                           const HUFFMAN_ENCODE_TABLE *table) {
    sink->stream = stream;
    sink->table = table;
    sink->statistics = nullptr;
    sink->eob_run = 0;
    sink->correction_count = 0;
    sink->error = JPEG_OK;
}

void init_sink_for_counting(ProgressiveSink *sink, int32_t *statistics) {
    sink->stream = nullptr;
    sink->table = nullptr;
    sink->statistics = statistics;
    sink->eob_run = 0;
    sink->correction_count = 0;
    sink->error = JPEG_OK;
}

void encode_dc_scan_block(ProgressiveSink *sink, int16_t *dc_predictor, const int16_t *block,
                          int32_t refinement, int32_t al) {
    if (refinement != 0) {
        sink_bits(sink, static_cast<uint32_t>((block[0] >> al) & 1), 1);
        return;
    }
    const int32_t v = block[0] >> al;
    int32_t diff = v - *dc_predictor;
    *dc_predictor = static_cast<int16_t>(v);
    const int32_t s = bit_length(static_cast<uint32_t>(magnitude_of(diff)));
    if (diff < 0) diff -= 1;
    sink_symbol(sink, s);
    sink_bits(sink, static_cast<uint32_t>(diff), s);
}

void emit_eob_run(ProgressiveSink *sink) {
    if (sink->eob_run == 0) return;
    int32_t r = 0;
    while ((sink->eob_run >> (r + 1)) != 0) ++r; // floor(log2 eob_run)
    sink_symbol(sink, r << 4);
    sink_bits(sink, static_cast<uint32_t>(sink->eob_run), r);
    sink->eob_run = 0;
}

void emit_correction_bits(ProgressiveSink *sink, const uint8_t *bits, int32_t count) {
    for (int32_t i = 0; i < count; ++i) sink_bits(sink, bits[i], 1);
}

void encode_ac_first(ProgressiveSink *sink, const int16_t *block, int32_t ss, int32_t se,
                     int32_t al) {
    int32_t run = 0;
    for (int32_t k = ss; k <= se; ++k) {
        const int32_t x = block[zigzag_to_natural[k]];
        int32_t t = magnitude_of(x) >> al;
        if (t == 0) {
            ++run;
            continue;
        }
        if (t > 32767) t = 32767; // keeps the size category at 15 and the symbol in range
        emit_eob_run(sink);
        while (run > 15) {
            sink_symbol(sink, 0xF0);
            run -= 16;
        }
        const int32_t s = bit_length(static_cast<uint32_t>(t));
        sink_symbol(sink, (run << 4) + s);
        sink_bits(sink, static_cast<uint32_t>(x >= 0 ? t : ~t), s);
        run = 0;
    }
    if (run > 0) {
        sink->eob_run += 1;
        if (sink->eob_run == kMaxEobRun) emit_eob_run(sink);
    }
}

namespace {
// The BE bits are flushed together with the run that owns them.
void emit_run_and_corrections(ProgressiveSink *sink) {
    if (sink->eob_run == 0) return;
    emit_eob_run(sink);
    emit_correction_bits(sink, sink->correction, sink->correction_count);
    sink->correction_count = 0;
}
} // namespace

void encode_ac_refine(ProgressiveSink *sink, const int16_t *block, int32_t ss, int32_t se,
                      int32_t al) {
    int32_t t[64];
    int32_t eob = 0;
    for (int32_t k = ss; k <= se; ++k) {
        t[k] = magnitude_of(block[zigzag_to_natural[k]]) >> al;
        if (t[k] == 1) eob = k;
    }
    // The block's own correction bits follow the BE bits in the buffer.
    int32_t br_start = sink->correction_count;
    int32_t br = 0;
    int32_t run = 0;
    for (int32_t k = ss; k <= se; ++k) {
        if (t[k] == 0) {
            ++run;
            continue;
        }
        while (run > 15 && k <= eob) {
            emit_run_and_corrections(sink);
            sink_symbol(sink, 0xF0);
            run -= 16;
            emit_correction_bits(sink, sink->correction + br_start, br);
            br_start = sink->correction_count;
            br = 0;
        }
        if (t[k] > 1) {
            sink->correction[br_start + br] = static_cast<uint8_t>(t[k] & 1);
            ++br;
            continue;
        }
        emit_run_and_corrections(sink);
        sink_symbol(sink, (run << 4) + 1);
        sink_bits(sink, block[zigzag_to_natural[k]] < 0 ? 0u : 1u, 1);
        emit_correction_bits(sink, sink->correction + br_start, br);
        br_start = sink->correction_count;
        br = 0;
        run = 0;
    }
    if (run > 0 || br > 0) {
        sink->eob_run += 1;
        if (br_start != sink->correction_count)
            std::memmove(sink->correction + sink->correction_count, sink->correction + br_start,
                         static_cast<size_t>(br));
        sink->correction_count += br;
        if (sink->eob_run == kMaxEobRun || sink->correction_count > kCorrectionFlushThreshold)
            emit_run_and_corrections(sink);
    }
}

int32_t gather_scan_statistics(JPEG_PROPERTIES *props, INPUT_SOURCE *stream,
                               const SCAN_INFO *scan, ScanStatistics statistics) {
    (void)stream; // counting writes nothing
    ProgressiveSink sink;
    if (is_dc_scan(scan)) {
        if (scan->approx_high == 0) {
            int16_t predictors[QRL_MAX_COMPONENTS] = {};
            for_each_dc_block(props, scan, [&](int32_t k, const int16_t *block) {
                const int32_t f = scan->scan_components[k].component_index;
                init_sink_for_counting(&sink, statistics[props->dc_table_of_scan_component[f] & 3]);
                encode_dc_scan_block(&sink, &predictors[k], block, 0, scan->approx_low);
            });
        }
    } else {
        const int32_t f = scan->scan_components[0].component_index;
        init_sink_for_counting(&sink, statistics[props->ac_table_of_scan_component[f] & 3]);
        const bool refine = scan->approx_high != 0;
        for_each_ac_block(props, scan, [&](const int16_t *block) {
            if (refine)
                encode_ac_refine(&sink, block, scan->spectral_start, scan->spectral_end,
                                 scan->approx_low);
            else
                encode_ac_first(&sink, block, scan->spectral_start, scan->spectral_end,
                                scan->approx_low);
        });
        emit_eob_run(&sink);
    }
    if (props->kernel_table != nullptr && props->kernel_table->simd_state_reset != nullptr)
        props->kernel_table->simd_state_reset();
    return JPEG_OK;
}

int32_t make_optimal_huffman_table(const int32_t statistics[kStatisticsSymbols],
                                   uint8_t counts_out[16], uint8_t symbols_out[256]) {
    constexpr int32_t kSymbols = kStatisticsSymbols;
    // Code sizes can in principle reach kSymbols - 1; the count array has room
    // for every size, and the limiting below brings them all to 16 or less.
    constexpr int32_t kMaxSize = kSymbols;
    int64_t freq[kSymbols];
    int32_t codesize[kSymbols];
    int32_t others[kSymbols];
    int32_t bits[kMaxSize + 1];
    for (int32_t i = 0; i < kSymbols; ++i) {
        freq[i] = statistics[i];
        codesize[i] = 0;
        others[i] = -1;
    }
    for (int32_t i = 0; i <= kMaxSize; ++i) bits[i] = 0;
    freq[256] = 1; // reserved code point: no code of only 1-bits

    for (;;) {
        int32_t c1 = -1;
        int64_t v = INT64_MAX;
        for (int32_t i = 0; i < kSymbols; ++i)
            if (freq[i] != 0 && freq[i] <= v) {
                v = freq[i];
                c1 = i;
            }
        int32_t c2 = -1;
        v = INT64_MAX;
        for (int32_t i = 0; i < kSymbols; ++i)
            if (freq[i] != 0 && freq[i] <= v && i != c1) {
                v = freq[i];
                c2 = i;
            }
        if (c2 < 0) break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codesize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codesize[c1];
        }
        others[c1] = c2;
        ++codesize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codesize[c2];
        }
    }
    int32_t longest = 0;
    for (int32_t i = 0; i < kSymbols; ++i) {
        if (codesize[i] != 0) {
            bits[codesize[i]] += 1;
            if (codesize[i] > longest) longest = codesize[i];
        }
    }
    for (int32_t i = longest; i > 16; --i) {
        while (bits[i] > 0) {
            int32_t j = i - 2;
            while (bits[j] == 0) --j;
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
        }
    }
    // Drop the reserved code point, which holds the longest code.
    for (int32_t i = 16; i > 0; --i) {
        if (bits[i] != 0) {
            bits[i] -= 1;
            break;
        }
    }
    for (int32_t i = 0; i < 16; ++i) counts_out[i] = static_cast<uint8_t>(bits[i + 1]);
    int32_t n = 0;
    for (int32_t size = 1; size <= longest; ++size)
        for (int32_t s = 0; s < 256; ++s)
            if (codesize[s] == size) symbols_out[n++] = static_cast<uint8_t>(s);
    // The list may be one longer than the counts when the reserved point was
    // not the last symbol of the longest size; the counts decide.
    int32_t counted = 0;
    for (int32_t i = 0; i < 16; ++i) counted += counts_out[i];
    return counted < n ? counted : n;
}

int32_t encode_progressive_scan(JPEG_PROPERTIES *props, INPUT_SOURCE *stream, SCAN_INFO *scan) {
    for (int32_t k = 0; k < scan->scan_component_count; ++k) scan->dc_predictors[k] = 0;
    stream->bit_count = 8;
    stream->bit_buffer = 0;
    ProgressiveSink sink;
    int32_t error = JPEG_OK;
    if (is_dc_scan(scan)) {
        int16_t predictors[QRL_MAX_COMPONENTS] = {};
        init_sink_for_writing(&sink, stream, nullptr);
        for_each_dc_block(props, scan, [&](int32_t k, const int16_t *block) {
            const int32_t f = scan->scan_components[k].component_index;
            sink.table = &props->dc_encode_tables[props->dc_table_of_scan_component[f] & 3];
            encode_dc_scan_block(&sink, &predictors[k], block, scan->approx_high, scan->approx_low);
        });
        for (int32_t k = 0; k < scan->scan_component_count; ++k)
            scan->dc_predictors[k] = predictors[k];
        error = sink.error;
    } else {
        const int32_t f = scan->scan_components[0].component_index;
        init_sink_for_writing(&sink, stream,
                              &props->ac_encode_tables[props->ac_table_of_scan_component[f] & 3]);
        const bool refine = scan->approx_high != 0;
        for_each_ac_block(props, scan, [&](const int16_t *block) {
            if (sink.error != JPEG_OK) return;
            if (refine)
                encode_ac_refine(&sink, block, scan->spectral_start, scan->spectral_end,
                                 scan->approx_low);
            else
                encode_ac_first(&sink, block, scan->spectral_start, scan->spectral_end,
                                scan->approx_low);
        });
        emit_eob_run(&sink);
        emit_correction_bits(&sink, sink.correction, sink.correction_count);
        sink.correction_count = 0;
        error = sink.error;
    }
    // Pad the last byte with 1-bits and write it.
    if (error == JPEG_OK && stream->bit_count < 8) {
        const uint32_t pad = (1u << stream->bit_count) - 1u;
        error = put_stuffed_byte(stream, static_cast<uint32_t>(stream->bit_buffer & 0xFF) | pad);
    }
    stream->bit_buffer = 0;
    stream->bit_count = stream_uses_wide_bits(stream) ? 0 : 8;
    if (props->kernel_table != nullptr && props->kernel_table->simd_state_reset != nullptr)
        props->kernel_table->simd_state_reset();
    return error;
}

} // namespace qrl
