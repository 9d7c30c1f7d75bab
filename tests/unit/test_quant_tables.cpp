// Zig-zag tables, derived dequantization tables, and the accurate fallback for
// fast tables whose entries do not fit 16 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "transform/quant_prepare.h"
#include "transform/transform.h"
#include "transform/zigzag.h"
#include "transform_test_util.h"

namespace {

using Storage = std::array<int16_t, 80>;

Storage from_zigzag(const std::array<int16_t, 64> &zigzag, int16_t guard_fill = 0x5A5A) {
    Storage t;
    t.fill(guard_fill);
    std::copy(zigzag.begin(), zigzag.end(), t.begin());
    return t;
}

double s_factor(int i) { return i == 0 ? 1.0 : std::sqrt(2.0) * std::cos(i * M_PI / 16.0); }

TEST(Zigzag, IsTheT81SequenceWithGuardEntries) {
    const int32_t head[] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24};
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(qrl::zigzag_to_natural[k], head[k]);
    }
    EXPECT_EQ(qrl::zigzag_to_natural[61], 55);
    EXPECT_EQ(qrl::zigzag_to_natural[62], 62);
    EXPECT_EQ(qrl::zigzag_to_natural[63], 63);
    bool seen[64] = {};
    for (int k = 0; k < 64; ++k) {
        const int n = qrl::zigzag_to_natural[k];
        ASSERT_FALSE(seen[n]);
        seen[n] = true;
        if (k > 0) { // neighbours in the sequence are neighbours in the block
            const int p = qrl::zigzag_to_natural[k - 1];
            EXPECT_LE(std::abs(n % 8 - p % 8), 1);
            EXPECT_LE(std::abs(n / 8 - p / 8), 1);
        }
    }
    for (int k = 64; k < 80; ++k) {
        EXPECT_EQ(qrl::zigzag_to_natural[k], 63);
    }
}

TEST(Zigzag, AanScaleFactorsAreSixDecimalProducts) {
    EXPECT_EQ(qrl::aan_scale_factors[0], 0.125);
    EXPECT_EQ(qrl::aan_scale_factors[1], 0.17338);  // u = 1, v = 0
    EXPECT_EQ(qrl::aan_scale_factors[4], 0.240485); // u = v = 1
    EXPECT_EQ(qrl::aan_scale_factors[63], 0.009515);
    for (int k = 0; k < 64; ++k) {
        const int n = qrl::zigzag_to_natural[k];
        const double exact = s_factor(n % 8) * s_factor(n / 8) / 8.0;
        EXPECT_NEAR(qrl::aan_scale_factors[k], exact, 5e-7) << k;
    }
}

TEST(PrepareDequant, AccurateReordersAndClearsTheGuard) {
    std::array<int16_t, 64> z{};
    for (int k = 0; k < 64; ++k) {
        z[k] = static_cast<int16_t>(k + 1);
    }
    Storage t = from_zigzag(z);
    qrl::prepare_dequant_table_accurate(t.data());
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(t[qrl::zigzag_to_natural[k]], k + 1);
    }
    for (int i = 64; i < 80; ++i) {
        EXPECT_EQ(t[i], 0);
    }
}

TEST(PrepareDequant, FastFoldsTheScaleFactors) {
    std::array<int16_t, 64> z{};
    for (int k = 0; k < 64; ++k) {
        z[k] = static_cast<int16_t>(1 + (k * 7) % 60);
    }
    Storage t = from_zigzag(z);
    qrl::prepare_dequant_table_fast(t.data());
    EXPECT_EQ(t[0], z[0] * 256);
    for (int k = 0; k < 64; ++k) {
        const int n = qrl::zigzag_to_natural[k];
        EXPECT_EQ(t[n], std::lround(z[k] * qrl::aan_scale_factors[k] * 2048.0)) << k;
    }
    for (int i = 64; i < 80; ++i) {
        EXPECT_EQ(t[i], 0);
    }
}

TEST(PrepareDequant, FastEntriesOutOfRangeKeepTheLow16Bits) {
    std::array<int16_t, 64> z{};
    z.fill(1);
    z[0] = 128; // 128 * 256 = 32768
    z[4] = 255; // 255 * 0.240485 * 2048 = 125590.9
    Storage t = from_zigzag(z);
    qrl::prepare_dequant_table_fast(t.data());
    EXPECT_EQ(t[0], -32768);
    EXPECT_EQ(t[9], static_cast<int16_t>(125591 - 131072));
}

TEST(PrepareDequant, FitsFastAtTheLimits) {
    struct Case {
        int position; // zig-zag
        int16_t q;
        bool fits;
    };
    const Case cases[] = {
        {0, 127, true}, {0, 128, false}, // DC: q * 256
        {4, 66, true},  {4, 67, false},  // u = v = 1, factor 0.240485
        {63, 255, true},                 // smallest factor
        {10, -1, false},                 // 16-bit quantizer above 32767
    };
    for (const Case &c : cases) {
        std::array<int16_t, 64> z{};
        z.fill(1);
        z[c.position] = c.q;
        EXPECT_EQ(qrl::dequant_values_fit_fast(z.data()), c.fits) << c.position << " " << c.q;
    }
}

// Exhaustively: a fast table holding its true values converts back exactly.
TEST(PrepareDequant, FastTablesConvertBackToTheQuantizers) {
    for (int k = 0; k < 64; ++k) {
        for (int q = 0; q < 32768; ++q) {
            std::array<int16_t, 64> z{};
            z.fill(1);
            z[k] = static_cast<int16_t>(q);
            if (!qrl::dequant_values_fit_fast(z.data())) {
                break;
            }
            Storage fast = from_zigzag(z);
            qrl::prepare_dequant_table_fast(fast.data());
            qrl::convert_fast_table_to_accurate(fast.data());
            Storage accurate = from_zigzag(z);
            qrl::prepare_dequant_table_accurate(accurate.data());
            ASSERT_EQ(fast, accurate) << "position " << k << ", q " << q;
        }
    }
}

struct Record {
    std::unique_ptr<JPEG_PROPERTIES> props = std::make_unique<JPEG_PROPERTIES>();
    Record() {
        for (QUANT_TABLE &slot : props->quant_tables) {
            slot.coefficients = slot.storage;
        }
    }
    void define(int id, const std::array<int16_t, 64> &natural, int32_t method) {
        const auto z = qrl_test::to_zigzag(natural);
        std::copy(z.begin(), z.end(), props->quant_tables[id].coefficients);
        qrl::prepare_dequant_slot(&props->quant_tables[id], method);
    }
};

TEST(AccurateFallback, SlotPreparationByMethodAndFit) {
    struct Case {
        int percent;
        int32_t method;
        int32_t fallback;
        bool fast_form;
    };
    const Case cases[] = {
        {50, 1, 0, false},  // accurate method: accurate table
        {50, 0, 0, true},   // fits: fast table
        {1000, 0, 1, false}, // quality-5-like table: accurate form, marked
        {1000, 1, 0, false},
    };
    for (const Case &c : cases) {
        Record r;
        const auto natural = qrl_test::scaled_table(c.percent);
        r.define(1, natural, c.method);
        const QUANT_TABLE &slot = r.props->quant_tables[1];
        EXPECT_EQ(slot.accurate_fallback, c.fallback) << c.percent << "% method " << c.method;
        EXPECT_EQ(slot.coefficients[0], c.fast_form ? natural[0] * 256 : natural[0]);
        for (int i = 64; i < 80; ++i) {
            EXPECT_EQ(slot.coefficients[i], 0);
        }
    }
}

TEST(AccurateFallback, SettleBringsEveryTableToTheAccurateForm) {
    Record r;
    r.props->dct_method = 0;
    const auto fine = qrl_test::scaled_table(50);
    const auto coarse = qrl_test::scaled_table(1000);
    r.define(0, fine, 0);
    r.define(1, fine, 0);
    EXPECT_EQ(qrl::settle_decode_method(r.props.get()), 0);
    EXPECT_EQ(r.props->quant_tables[0].coefficients[0], fine[0] * 256);

    r.define(2, coarse, 0);
    EXPECT_EQ(qrl::settle_decode_method(r.props.get()), 1);
    for (int id : {0, 1}) {
        const QUANT_TABLE &slot = r.props->quant_tables[id];
        EXPECT_EQ(slot.accurate_fallback, 1);
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(slot.coefficients[i], fine[i]) << id << " " << i;
        }
    }
    // Settling again changes nothing.
    EXPECT_EQ(qrl::settle_decode_method(r.props.get()), 1);
    EXPECT_EQ(r.props->quant_tables[0].coefficients[5], fine[5]);

    r.props->dct_method = 1;
    EXPECT_EQ(qrl::settle_decode_method(r.props.get()), 1);
}

// Coarse tables under the fast method still give the right pixels: the
// fallback decodes them with the accurate kernels.
TEST(AccurateFallback, CoarseTablesDecodeCorrectlyUnderTheFastMethod) {
    Record r;
    r.props->dct_method = 0;
    const auto coarse = qrl_test::scaled_table(1000); // DC quantizer 160, most AC 255
    r.define(0, coarse, 0);
    ASSERT_EQ(qrl::settle_decode_method(r.props.get()), 1);
    std::mt19937 rng(5);
    int worst = 0;
    for (int n = 0; n < 300; ++n) {
        const auto samples = qrl_test::random_samples(rng, 10);
        const auto c = qrl_test::quantize_samples(samples, coarse);
        const auto exact = qrl_test::exact_samples(c, coarse);
        auto b = c;
        qrl::dequantize_accurate(b.data(), r.props->quant_tables[0].coefficients);
        qrl::idct_accurate_8x8(b.data());
        for (int i = 0; i < 64; ++i) {
            worst = std::max(worst, std::abs(b[i] - qrl_test::clamp255(exact[i])));
        }
    }
    EXPECT_LE(worst, 1);
}

} // namespace
