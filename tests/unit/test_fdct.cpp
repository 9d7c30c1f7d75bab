// Forward DCTs, forward quantization tables and quantizers.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dispatch/kernel_table.h"
#include "transform/quant_prepare.h"
#include "transform/transform.h"
#include "transform/zigzag.h"
#include "transform_test_util.h"

namespace {

using qrl_test::Block;

qrl_test::Real64 random_level_shifted(std::mt19937 &rng, bool smooth) {
    qrl_test::Real64 s;
    if (smooth) {
        s = qrl_test::random_samples(rng, 30);
    } else {
        std::uniform_int_distribution<int> any(0, 255);
        for (double &v : s) {
            v = any(rng);
        }
    }
    for (double &v : s) {
        v -= 128.0;
    }
    return s;
}

Block to_block(const qrl_test::Real64 &s) {
    Block b;
    for (int i = 0; i < 64; ++i) {
        b[i] = static_cast<int16_t>(s[i]);
    }
    return b;
}

TEST(Fdct, AccurateFlatBlockHasOnlyDc) {
    for (int v = -128; v <= 127; ++v) {
        Block b;
        b.fill(static_cast<int16_t>(v));
        qrl::fdct_accurate(b.data());
        EXPECT_EQ(b[0], 8 * v);
        for (int i = 1; i < 64; ++i) {
            ASSERT_EQ(b[i], 0) << v;
        }
    }
}

TEST(Fdct, AccurateMatchesTheT81Coefficients) {
    std::mt19937 rng(11);
    double worst = 0;
    for (int n = 0; n < 1000; ++n) {
        const auto s = random_level_shifted(rng, n % 2 == 0);
        const auto exact = qrl_test::reference_fdct(s);
        Block b = to_block(s);
        qrl::fdct_accurate(b.data());
        for (int i = 0; i < 64; ++i) {
            worst = std::max(worst, std::abs(b[i] - exact[i]));
        }
    }
    EXPECT_LE(worst, 1.0);
}

TEST(Fdct, FastOutputCarriesTheAanFactors) {
    std::mt19937 rng(12);
    for (int n = 0; n < 300; ++n) {
        const auto s = random_level_shifted(rng, false);
        const auto exact = qrl_test::reference_fdct(s);
        Block b = to_block(s);
        qrl::fdct_fast(b.data());
        for (int k = 0; k < 64; ++k) {
            const int i = qrl::zigzag_to_natural[k];
            const double scale = 64.0 * qrl::aan_scale_factors[k]; // 8 * s(u) * s(v)
            ASSERT_NEAR(b[i], exact[i] * scale, 8.0 + 0.01 * std::abs(exact[i] * scale)) << i;
        }
    }
}

struct QuantFamily {
    const char *name;
    void (*fdct)(int16_t *);
    void (*prepare)(int16_t *);
    void (*quantize)(int16_t *, const int16_t *);
};
const QuantFamily kQuant[] = {
    {"fast", qrl::fdct_fast, qrl::prepare_quant_table_fast, qrl::quantize_fast},
    {"accurate", qrl::fdct_accurate, qrl::prepare_quant_table_accurate, qrl::quantize_accurate},
};

// Quantized coefficient = round(F / q) within one unit; the fast family uses 2
// at zig-zag position 63 when the table says 1. With quantizers of 1 the fast
// transform's own rounding (a few units at the weakly scaled frequencies)
// shows through: up to 3 units there.
TEST(Quantize, GivesRoundedQuotientsInBothFamilies) {
    std::mt19937 rng(13);
    for (const QuantFamily &f : kQuant) {
        for (int percent : {1, 10, 50, 100, 300}) {
            const auto natural = qrl_test::scaled_table(percent);
            std::array<int16_t, 80> table{};
            const auto z = qrl_test::to_zigzag(natural);
            std::copy(z.begin(), z.end(), table.begin());
            f.prepare(table.data());
            double worst = 0;
            for (int n = 0; n < 200; ++n) {
                const auto s = random_level_shifted(rng, n % 2 == 0);
                const auto exact = qrl_test::reference_fdct(s);
                Block b = to_block(s);
                f.fdct(b.data());
                f.quantize(b.data(), table.data());
                for (int i = 0; i < 64; ++i) {
                    int q = natural[i];
                    if (i == 63 && f.fdct == qrl::fdct_fast && q < 2) {
                        q = 2;
                    }
                    worst = std::max(worst, std::abs(b[i] - exact[i] / q));
                }
            }
            const bool unit_quantizers = percent == 1;
            EXPECT_LE(worst, f.fdct == qrl::fdct_fast && unit_quantizers ? 3.0 : 1.5)
                << f.name << " at " << percent << "%";
        }
    }
}

TEST(PrepareQuant, FastReciprocalsAndTheRaisedLastQuantizer) {
    std::array<int16_t, 80> table{};
    std::fill(table.begin(), table.begin() + 64, int16_t{1}); // quality 100
    table[70] = 1234;                                          // not touched
    qrl::prepare_quant_table_fast(table.data());
    EXPECT_EQ(table[0], 4096);
    EXPECT_EQ(table[1], 2953);
    EXPECT_EQ(table[63], (1 + 53810) / 2); // quantizer raised to 2
    EXPECT_EQ(table[70], 1234);

    std::array<int16_t, 64> z{};
    z.fill(1);
    qrl::fast_quant_raise_last(z.data());
    EXPECT_EQ(z[63], qrl::kFastQuantLastMinimum);
    EXPECT_EQ(z[62], 1);
}

TEST(PrepareQuant, ReadsEveryValueBeforeOverwritingIt) {
    std::array<int16_t, 80> fast{}, accurate{};
    for (int k = 0; k < 64; ++k) {
        fast[k] = accurate[k] = static_cast<int16_t>(k + 2);
    }
    qrl::prepare_quant_table_fast(fast.data());
    qrl::prepare_quant_table_accurate(accurate.data());
    for (int k = 0; k < 64; ++k) {
        const int n = qrl::zigzag_to_natural[k];
        const int q = k + 2;
        EXPECT_EQ(fast[n], ((q >> 1) + qrl::aan_forward_numerators[k]) / q) << k;
        EXPECT_EQ(accurate[n], 32768 / q) << k;
    }
}

TEST(PrepareQuant, AccurateReciprocalOfOneIsReadUnsigned) {
    std::array<int16_t, 80> table{};
    std::fill(table.begin(), table.begin() + 64, int16_t{1});
    table[5] = 0; // a quantizer of 0 is taken as 1 rather than divided by
    qrl::prepare_quant_table_accurate(table.data());
    EXPECT_EQ(static_cast<uint16_t>(table[0]), 0x8000);
    Block b{};
    b[0] = 100;
    b[1] = -100;
    qrl::quantize_accurate(b.data(), table.data());
    EXPECT_EQ(b[0], 100);
    EXPECT_EQ(b[1], -100);
}

TEST(Quantize, HalvesRoundTowardPlusInfinity) {
    struct Case {
        int16_t coef, expected;
    };
    const Case cases[] = {{-1, 0}, {1, 1}, {-3, -1}, {3, 2}, {-2, -1}, {2, 1}};
    std::array<int16_t, 64> table{};
    table.fill(16384); // reciprocal of 2
    for (const QuantFamily &f : kQuant) {
        for (const Case &c : cases) {
            Block b{};
            b[9] = c.coef;
            f.quantize(b.data(), table.data());
            EXPECT_EQ(b[9], c.expected) << f.name << " " << c.coef;
        }
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The SIMD quantizers take one high multiply per lane when every coefficient
// lies within -8192..8191 and the full products otherwise; both paths, and
// the edges between them, give the portable kernels' values for any table.
TEST(Quantize, SimdTwinsEqualPortableOnBothPaths) {
    const struct {
        const char *name;
        void (*portable)(int16_t *, const int16_t *);
        void (*simd)(int16_t *, const int16_t *);
    } pairs[] = {{"fast", qrl::quantize_fast, qrl::quantize_fast_sse2},
                 {"accurate", qrl::quantize_accurate, qrl::quantize_accurate_sse2},
                 // Set D: the AVX2 twin where the processor has AVX2.
                 {"set D accurate", qrl::quantize_accurate,
                  qrl::kernel_set_table(qrl::KernelSet::D).quantize_accurate}};
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::uniform_int_distribution<int> quantizer(1, 255);
    for (const int limit : {1100, 8191, 8192, 32767}) {
        std::uniform_int_distribution<int> coef(-limit - 1, limit);
        for (int n = 0; n < 2000; ++n) {
            Block in, table;
            for (int i = 0; i < 64; ++i) {
                in[i] = static_cast<int16_t>(coef(rng));
                table[i] = static_cast<int16_t>(n % 2 == 0 ? any(rng) : 32768 / quantizer(rng));
            }
            in[n % 64] = static_cast<int16_t>(n % 4 < 2 ? -limit - 1 : limit); // the edge of the range
            table[(n * 7) % 64] = -32768;                                      // 0x8000: reciprocal of 1
            for (const auto &p : pairs) {
                Block expected = in, got = in;
                p.portable(expected.data(), table.data());
                p.simd(got.data(), table.data());
                ASSERT_EQ(got, expected) << p.name << " limit " << limit << " block " << n;
            }
        }
    }
}
#endif

} // namespace
