// Dequantization and the 8x8 inverse DCTs of both families (portable kernels).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "transform/quant_prepare.h"
#include "transform/transform.h"
#include "transform_test_util.h"

namespace {

using qrl_test::Block;

struct Family {
    const char *name;
    void (*prepare)(int16_t *);
    void (*dequantize)(int16_t *, const int16_t *);
    void (*idct)(int16_t *);
    int tolerance; // against the exactly computed, rounded samples
};

const Family kFamilies[] = {
    {"fast", qrl::prepare_dequant_table_fast, qrl::dequantize_fast, qrl::idct_fast_8x8, 2},
    {"accurate", qrl::prepare_dequant_table_accurate, qrl::dequantize_accurate, qrl::idct_accurate_8x8, 1},
};

// The family's derived table of a natural-order quantization table.
std::array<int16_t, 80> derived(const Family &f, const std::array<int16_t, 64> &natural) {
    std::array<int16_t, 80> t{};
    const auto z = qrl_test::to_zigzag(natural);
    std::copy(z.begin(), z.end(), t.begin());
    f.prepare(t.data());
    return t;
}

TEST(Idct8x8, AllZeroBlockGives128InBothFamilies) {
    for (const Family &f : kFamilies) {
        Block b{};
        f.idct(b.data());
        for (int16_t s : b) {
            ASSERT_EQ(s, 128) << f.name;
        }
    }
}

// The accurate kernel's 32-bit sums hold DC values up to about 8187 in
// magnitude (a valid stream's dequantized DC stays below 2048).
TEST(Idct8x8, AccurateDcOnlyBlockIsFlat) {
    for (int d = -8000; d <= 8000; d += 7) {
        Block b{};
        b[0] = static_cast<int16_t>(d);
        qrl::idct_accurate_8x8(b.data());
        const int expected = qrl_test::clamp255(std::floor(d / 8.0 + 0.5) + 128.0);
        for (int16_t s : b) {
            ASSERT_EQ(s, expected) << "D = " << d;
        }
    }
}

TEST(Idct8x8, FastDcOnlyBlockIsFlat) {
    for (int q : {1, 2, 16, 50, 99, 127}) {
        std::array<int16_t, 64> natural{};
        natural.fill(1);
        natural[0] = static_cast<int16_t>(q);
        const auto table = derived(kFamilies[0], natural);
        ASSERT_EQ(table[0], q * 256);
        for (int d = -2047; d <= 2047; d += 3) {
            if (std::abs(2 * d * q) > 32767) {
                continue;
            }
            Block b{};
            b[0] = static_cast<int16_t>(d);
            qrl::dequantize_fast(b.data(), table.data());
            ASSERT_EQ(b[0], 2 * d * q);
            qrl::idct_fast_8x8(b.data());
            const int expected = std::clamp(((2 * d * q + 8) >> 4) + 128, 0, 255);
            for (int16_t s : b) {
                ASSERT_EQ(s, expected) << "q = " << q << ", d = " << d;
            }
        }
    }
}

TEST(Idct8x8, DcBeyondTheSampleRangeSaturates) {
    struct Case {
        int16_t dc;
        int16_t expected;
    };
    // Fast input scale is 16 per level, accurate 8 per level.
    const Case fast[] = {{2200, 255}, {-2200, 0}, {32767, 255}, {-32768, 0}};
    const Case accurate[] = {{1100, 255}, {-1100, 0}, {8000, 255}, {-8000, 0}};
    for (const Case &c : fast) {
        Block b{};
        b[0] = c.dc;
        qrl::idct_fast_8x8(b.data());
        for (int16_t s : b) {
            ASSERT_EQ(s, c.expected) << c.dc;
        }
    }
    for (const Case &c : accurate) {
        Block b{};
        b[0] = c.dc;
        qrl::idct_accurate_8x8(b.data());
        for (int16_t s : b) {
            ASSERT_EQ(s, c.expected) << c.dc;
        }
    }
}

TEST(Idct8x8, StaysWithinTheFamilyToleranceOfTheExactTransform) {
    std::mt19937 rng(1234);
    for (const Family &f : kFamilies) {
        for (int percent : {10, 50, 100, 200}) {
            const auto natural = qrl_test::scaled_table(percent);
            const auto table = derived(f, natural);
            int worst = 0;
            for (int n = 0; n < 400; ++n) {
                const auto samples = qrl_test::random_samples(rng, 20);
                const Block c = qrl_test::quantize_samples(samples, natural);
                const auto exact = qrl_test::exact_samples(c, natural);
                Block b = c;
                f.dequantize(b.data(), table.data());
                f.idct(b.data());
                for (int i = 0; i < 64; ++i) {
                    worst = std::max(worst, std::abs(b[i] - qrl_test::clamp255(exact[i])));
                }
            }
            EXPECT_LE(worst, f.tolerance) << f.name << " at " << percent << "%";
        }
    }
}

TEST(Idct8x8, ExtremeCoefficientsGiveSamplesInRange) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (const Family &f : kFamilies) {
        for (int n = 0; n < 2000; ++n) {
            Block b;
            for (int16_t &v : b) {
                v = static_cast<int16_t>(any(rng));
            }
            f.idct(b.data());
            for (int16_t s : b) {
                ASSERT_GE(s, 0);
                ASSERT_LE(s, 255);
            }
        }
    }
}

TEST(Dequantize, FastRoundsTheScaledProduct) {
    struct Case {
        int16_t coef, entry, expected;
    };
    const Case cases[] = {
        {1, 256, 2},      // DC quantizer 1: 2 * coefficient
        {3, 256 * 50, 300}, // DC quantizer 50
        {-3, 256 * 50, -300},
        {1, 63, 0},   // (63 + 64) >> 7
        {1, 64, 1},   // half rounds up
        {-1, 64, 0},  // and toward plus infinity
        {-1, 65, -1},
        {1000, 32767, static_cast<int16_t>((1000 * 32767 + 64) >> 7)}, // low 16 bits kept
    };
    for (const Case &c : cases) {
        Block b{};
        std::array<int16_t, 64> t{};
        b[5] = c.coef;
        t[5] = c.entry;
        qrl::dequantize_fast(b.data(), t.data());
        EXPECT_EQ(b[5], c.expected) << c.coef << " x " << c.entry;
    }
}

TEST(Dequantize, AccurateKeepsTheLow16BitsOfTheProduct) {
    struct Case {
        int16_t coef, q, expected;
    };
    const Case cases[] = {
        {7, 12, 84}, {-7, 12, -84}, {300, 300, static_cast<int16_t>(90000 - 65536)},
        {2, static_cast<int16_t>(-32768), 0}, // quantizer 32768 as a 16-bit pattern
    };
    for (const Case &c : cases) {
        Block b{};
        std::array<int16_t, 64> t{};
        b[63] = c.coef;
        t[63] = c.q;
        qrl::dequantize_accurate(b.data(), t.data());
        EXPECT_EQ(b[63], c.expected);
    }
}

} // namespace
