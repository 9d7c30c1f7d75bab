// Derived dequantization tables (decoder) and forward reciprocal tables
// (encoder), and the accurate fallback for fast tables that cannot hold their
// values.
#include "transform/quant_prepare.h"

#include <cmath>

#include "transform/fixed_point.h"
#include "transform/zigzag.h"

namespace qrl {

const int32_t aan_forward_numerators[64] = {
    // By zig-zag position; in natural order the table is symmetric in u and v.
    4096, 2953, 2953, 3134, 2129, 3134, 3483, 2260,
    2260, 3483, 4096, 2511, 2399, 2511, 4096, 5213,
    2953, 2666, 2666, 2953, 5213, 7568, 3758, 3134,
    2962, 3134, 3758, 7568, 14846, 5456, 3990, 3483,
    3483, 3990, 5456, 14846, 10703, 5792, 4433, 4096,
    4433, 5792, 10703, 11362, 6436, 5213, 5213, 6436,
    11362, 12625, 7568, 6635, 7568, 12625, 14846, 9632,
    9632, 14846, 18895, 13984, 18895, 27432, 27432, 53810,
};

namespace {

// Fast entry of quantizer q at zig-zag position k, before the 16-bit store.
int32_t fast_entry(int16_t q, int32_t k) {
    const double scaled = ((static_cast<double>(q) * aan_scale_factors[k]) * 0.0625) * 32768.0 + 0.5;
    return static_cast<int32_t>(scaled); // truncates toward zero
}

void clear_guard(int16_t *table) {
    for (int32_t i = kBlockCoefficients; i < kDerivedTableEntries; ++i) {
        table[i] = 0;
    }
}

int16_t at_least_one(int16_t q) { return q < 1 ? int16_t{1} : q; }

} // namespace

void prepare_dequant_table_fast(int16_t *table) {
    int16_t natural[kBlockCoefficients];
    for (int32_t k = 0; k < kBlockCoefficients; ++k) {
        natural[zigzag_to_natural[k]] = store16(fast_entry(table[k], k));
    }
    for (int32_t i = 0; i < kBlockCoefficients; ++i) {
        table[i] = natural[i];
    }
    clear_guard(table);
}

void prepare_dequant_table_accurate(int16_t *table) {
    int16_t natural[kBlockCoefficients];
    for (int32_t k = 0; k < kBlockCoefficients; ++k) {
        natural[zigzag_to_natural[k]] = table[k];
    }
    for (int32_t i = 0; i < kBlockCoefficients; ++i) {
        table[i] = natural[i];
    }
    clear_guard(table);
}

bool dequant_values_fit_fast(const int16_t *zigzag_values) {
    for (int32_t k = 0; k < kBlockCoefficients; ++k) {
        const int32_t entry = fast_entry(zigzag_values[k], k);
        if (entry < 0 || entry > INT16_MAX) {
            return false;
        }
    }
    return true;
}

void prepare_dequant_slot(QUANT_TABLE *slot, int32_t dct_method) {
    int16_t *table = slot->coefficients;
    slot->accurate_fallback = 0;
    if (dct_method == 1) {
        prepare_dequant_table_accurate(table);
    } else if (dequant_values_fit_fast(table)) {
        prepare_dequant_table_fast(table);
    } else {
        prepare_dequant_table_accurate(table);
        slot->accurate_fallback = 1;
    }
}

void convert_fast_table_to_accurate(int16_t *table) {
    for (int32_t k = 0; k < kBlockCoefficients; ++k) {
        const int32_t n = zigzag_to_natural[k];
        const double step = aan_scale_factors[k] * 0.0625 * 32768.0; // fast entry per quantizer unit
        table[n] = static_cast<int16_t>(std::lround(table[n] / step));
    }
    clear_guard(table);
}

int32_t settle_decode_method(JPEG_PROPERTIES *props) {
    if (props->dct_method == 1) {
        return 1;
    }
    bool any_fallback = false;
    for (const QUANT_TABLE &slot : props->quant_tables) {
        any_fallback = any_fallback || (slot.accurate_fallback != 0 && slot.coefficients != nullptr);
    }
    if (!any_fallback) {
        return 0;
    }
    for (QUANT_TABLE &slot : props->quant_tables) {
        if (slot.accurate_fallback == 0 && slot.coefficients != nullptr) {
            convert_fast_table_to_accurate(slot.coefficients);
            slot.accurate_fallback = 1;
        }
    }
    return 1;
}

void fast_quant_raise_last(int16_t *zigzag_values) {
    if (zigzag_values[63] < kFastQuantLastMinimum) {
        zigzag_values[63] = kFastQuantLastMinimum;
    }
}

void prepare_quant_table_fast(int16_t *table) {
    fast_quant_raise_last(table);
    int16_t zigzag[kBlockCoefficients];
    for (int32_t k = 0; k < kBlockCoefficients; ++k) {
        zigzag[k] = at_least_one(table[k]);
    }
    for (int32_t k = 0; k < kBlockCoefficients; ++k) {
        const int32_t q = zigzag[k];
        table[zigzag_to_natural[k]] = store16(((q >> 1) + aan_forward_numerators[k]) / q);
    }
}

void prepare_quant_table_accurate(int16_t *table) {
    int16_t zigzag[kBlockCoefficients];
    for (int32_t k = 0; k < kBlockCoefficients; ++k) {
        zigzag[k] = at_least_one(table[k]);
    }
    for (int32_t k = 0; k < kBlockCoefficients; ++k) {
        table[zigzag_to_natural[k]] = store16(32768 / int32_t{zigzag[k]});
    }
}

} // namespace qrl
