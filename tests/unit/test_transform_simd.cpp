// SIMD transform kernels of sets A to D against the portable kernels and
// against a scalar model of their documented arithmetic. The kernels are taken
// from the kernel sets, so the test builds everywhere; it skips where the sets
// hold no SIMD twin or the processor lacks SSE2.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dispatch/kernel_table.h"
#include "transform/quant_prepare.h"
#include "transform/transform.h"
#include "transform_test_util.h"

namespace {

using qrl_test::Block;

const qrl::KernelSet kSimdSets[] = {qrl::KernelSet::A, qrl::KernelSet::B, qrl::KernelSet::C,
                                    qrl::KernelSet::D};

bool cpu_has_sse2() {
#if defined(QRL_X86_SIMD) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

bool cpu_has_avx2() {
#if defined(QRL_X86_SIMD) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

#define REQUIRE_SIMD()                                                                             \
    do {                                                                                           \
        if (!qrl::simd_kernels_built() || !cpu_has_sse2()) {                                       \
            GTEST_SKIP() << "SIMD transform kernels not built or SSE2 not available";              \
        }                                                                                          \
    } while (0)

// ---- Scalar model of the SIMD fast transform ---------------------------------
int16_t wrap16(int32_t v) { return static_cast<int16_t>(v); }
int16_t mulhi(int16_t a, int32_t c) { return static_cast<int16_t>((int32_t{a} * c) >> 16); }
int16_t shl(int16_t a, int s) { return static_cast<int16_t>(static_cast<uint16_t>(a) << s); }
int magnitude(int16_t x) { return x < 0 ? -x - 1 : x; }

// One pass on eight inputs; false when a check of the documented range fails.
bool model_fast_pass(int16_t x[8]) {
    bool ok = true;
    for (int k = 0; k < 8; ++k) {
        ok = ok && magnitude(x[k]) <= qrl::kSimdFastInputLimit;
    }
    const int16_t z10 = wrap16(x[5] - x[3]), z13 = wrap16(x[5] + x[3]);
    const int16_t z11 = wrap16(x[1] + x[7]), z12 = wrap16(x[1] - x[7]);
    const int16_t s = wrap16(z10 + z12), d = wrap16(z11 - z13);
    ok = ok && magnitude(z10) <= 4095 && magnitude(s) <= 8191 && magnitude(d) <= 8191;
    const int16_t z5 = mulhi(shl(s, 2), 30272);
    const int16_t t10 = wrap16(mulhi(shl(z12, 2), 17728) - z5);
    const int16_t t12 = wrap16(mulhi(shl(z10, 3), -21408) + z5);
    const int16_t t7 = wrap16(z11 + z13);
    const int16_t t6 = wrap16(t12 - t7);
    const int16_t t5 = wrap16(mulhi(shl(d, 2), 23040) - t6);
    const int16_t t4 = wrap16(t10 + t5);
    const int16_t e10 = wrap16(x[0] + x[4]), e11 = wrap16(x[0] - x[4]), e13 = wrap16(x[2] + x[6]);
    const int16_t e12 = wrap16(mulhi(shl(wrap16(x[2] - x[6]), 2), 23040) - e13);
    const int16_t t0 = wrap16(e10 + e13), t3 = wrap16(e10 - e13);
    const int16_t t1 = wrap16(e11 + e12), t2 = wrap16(e11 - e12);
    x[0] = wrap16(t0 + t7);
    x[7] = wrap16(t0 - t7);
    x[1] = wrap16(t1 + t6);
    x[6] = wrap16(t1 - t6);
    x[2] = wrap16(t2 + t5);
    x[5] = wrap16(t2 - t5);
    x[4] = wrap16(t3 + t4);
    x[3] = wrap16(t3 - t4);
    return ok;
}

// Returns true when the block took the SIMD arithmetic, false when the
// documented fallback to the portable kernel applies.
bool model_fast_idct(int16_t *block) {
    int16_t w[64];
    bool ok = true;
    for (int u = 0; u < 8; ++u) {
        int16_t x[8];
        for (int k = 0; k < 8; ++k) x[k] = block[8 * k + u];
        ok = model_fast_pass(x) && ok;
        for (int k = 0; k < 8; ++k) w[8 * k + u] = x[k];
    }
    for (int v = 0; v < 8; ++v) {
        int16_t x[8];
        for (int k = 0; k < 8; ++k) x[k] = w[8 * v + k];
        ok = model_fast_pass(x) && ok;
        for (int k = 0; k < 8; ++k) w[8 * v + k] = x[k];
    }
    if (!ok) {
        qrl::idct_fast_8x8(block);
        return false;
    }
    for (int i = 0; i < 64; ++i) {
        block[i] = static_cast<int16_t>(std::clamp((w[i] >> 4) + 128, 0, 255));
    }
    return true;
}

// ---- Saturating 16-bit helpers and the SIMD row matrices (forward model) ------
int16_t sat16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
int16_t adds(int16_t a, int16_t b) { return sat16(int32_t{a} + b); }
int16_t subs(int16_t a, int16_t b) { return sat16(int32_t{a} - b); }

int16_t row_matrix(int v, int u, int x) {
    const int group = (v == 0 || v == 4) ? 0 : (v == 1 || v == 7) ? 1 : (v == 2 || v == 6) ? 2 : 3;
    const double k = group == 0 ? 1.0 : std::sqrt(2.0) * std::cos(group * M_PI / 16.0);
    const double a = u == 0 ? 1.0 : std::sqrt(2.0);
    return static_cast<int16_t>(std::lround(16384.0 * k * a * std::cos((2 * x + 1) * u * M_PI / 16.0)));
}

// ---- Scalar model of the SIMD accurate forward transform ---------------------
void model_accurate_fdct(int16_t *block) {
    for (int i = 0; i < 64; ++i) {
        if (magnitude(block[i]) > qrl::kSimdFdctAccurateInputLimit) {
            qrl::fdct_accurate(block);
            return;
        }
    }
    int16_t g[8][8];
    for (int col = 0; col < 8; ++col) {
        int16_t x[8];
        for (int k = 0; k < 8; ++k) x[k] = static_cast<int16_t>(block[8 * k + col] * 8);
        const int16_t s07 = adds(x[0], x[7]), d07 = subs(x[0], x[7]);
        const int16_t s16 = adds(x[1], x[6]), d16 = subs(x[1], x[6]);
        const int16_t s25 = adds(x[2], x[5]), d25 = subs(x[2], x[5]);
        const int16_t s34 = adds(x[3], x[4]), d34 = subs(x[3], x[4]);
        const int16_t a0 = adds(s07, s34), b0 = subs(s07, s34);
        const int16_t a1 = adds(s16, s25), b1 = subs(s16, s25);
        g[0][col] = adds(a0, a1);
        g[4][col] = subs(a0, a1);
        g[2][col] = adds(b0, mulhi(b1, 27146));
        g[6][col] = subs(mulhi(b0, 27146), b1);
        const int16_t sum = adds(d16, d25), dif = subs(d16, d25);
        const int16_t u = adds(mulhi(sum, -19195), sum), w = adds(mulhi(dif, -19195), dif);
        const int16_t a = adds(d07, u), c = subs(d07, u), b = adds(d34, w), d = subs(w, d34);
        g[1][col] = adds(a, mulhi(b, 13036));
        g[7][col] = subs(mulhi(a, 13036), b);
        g[3][col] = adds(c, adds(mulhi(d, -21746), d));
        g[5][col] = subs(adds(mulhi(c, -21746), c), d);
    }
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            uint32_t total = 0;
            for (int x = 0; x < 4; ++x) {
                const int16_t pairs = u % 2 == 0 ? adds(g[v][x], g[v][7 - x]) : subs(g[v][x], g[v][7 - x]);
                total += static_cast<uint32_t>(int32_t{pairs} * row_matrix(v, u, x));
            }
            block[8 * v + u] = sat16(static_cast<int32_t>(total + 524288u) >> 20);
        }
    }
}

// ---- Inputs ----------------------------------------------------------------------
enum class Input { Realistic, Small, Boundary, Wild };

Block make_block(std::mt19937 &rng, Input kind, bool fast) {
    Block b{};
    switch (kind) {
    case Input::Realistic: {
        static const auto natural = qrl_test::scaled_table(50);
        const auto c = qrl_test::quantize_samples(qrl_test::random_samples(rng, 25), natural);
        std::array<int16_t, 80> t{};
        const auto z = qrl_test::to_zigzag(natural);
        std::copy(z.begin(), z.end(), t.begin());
        (fast ? qrl::prepare_dequant_table_fast : qrl::prepare_dequant_table_accurate)(t.data());
        b = c;
        (fast ? qrl::dequantize_fast : qrl::dequantize_accurate)(b.data(), t.data());
        break;
    }
    case Input::Small: {
        std::uniform_int_distribution<int> d(-600, 600);
        for (int16_t &v : b) v = static_cast<int16_t>(d(rng) / (1 + (&v - b.data()) / 8));
        break;
    }
    case Input::Boundary: { // values near the fast kernel's limits
        std::uniform_int_distribution<int> d(-qrl::kSimdFastInputLimit - 2, qrl::kSimdFastInputLimit + 2);
        std::uniform_int_distribution<int> pick(0, 63);
        for (int n = 0; n < 4; ++n) b[pick(rng)] = static_cast<int16_t>(d(rng));
        break;
    }
    case Input::Wild: {
        std::uniform_int_distribution<int> d(-32768, 32767);
        for (int16_t &v : b) v = static_cast<int16_t>(d(rng));
        break;
    }
    }
    return b;
}

const Input kInputs[] = {Input::Realistic, Input::Small, Input::Boundary, Input::Wild};

TEST(SimdTransform, SetsHoldTheSimdTwinsAndShareTheRest) {
    const KERNEL_TABLE &p = qrl::kernel_set_table(qrl::KernelSet::Portable);
    EXPECT_EQ(p.idct_fast_8x8, qrl::idct_fast_8x8);
    EXPECT_EQ(p.idct_accurate_8x8, qrl::idct_accurate_8x8);
    EXPECT_EQ(p.dequantize_accurate, qrl::dequantize_accurate);
    EXPECT_EQ(p.dequantize_active, qrl::dequantize_fast);
    EXPECT_NE(p.simd_state_reset, nullptr);
    p.simd_state_reset();
    for (qrl::KernelSet set : kSimdSets) {
        const KERNEL_TABLE &t = qrl::kernel_set_table(set);
        if (qrl::simd_kernels_built()) {
            EXPECT_EQ(t.idct_fast_8x8, qrl::idct_fast_8x8_sse2);
            // Set D takes the AVX2 twin where the processor has AVX2.
            const bool avx2 = set == qrl::KernelSet::D && cpu_has_avx2();
            EXPECT_EQ(t.idct_accurate_8x8, avx2 ? qrl::idct_accurate_8x8_avx2 : qrl::idct_accurate_8x8_sse2);
            EXPECT_EQ(t.dequantize_accurate, avx2 ? qrl::dequantize_accurate_avx2 : qrl::dequantize_accurate_sse2);
        }
        EXPECT_EQ(t.dequantize_fast, qrl::dequantize_fast);
        EXPECT_EQ(t.dequantize_active, t.dequantize_fast);
        EXPECT_EQ(t.idct_fast_4x4, qrl::idct_fast_4x4);
        EXPECT_EQ(t.idct_fast_2x2, qrl::idct_fast_2x2);
        EXPECT_EQ(t.idct_fast_1x1, qrl::idct_fast_1x1);
        EXPECT_EQ(t.idct_accurate_4x4, qrl::idct_accurate_4x4);
        EXPECT_EQ(t.idct_accurate_2x2, qrl::idct_accurate_2x2);
        EXPECT_EQ(t.idct_accurate_1x1, qrl::idct_accurate_1x1);
        EXPECT_NE(t.simd_state_reset, nullptr);
    }
}

TEST(SimdTransform, DequantizeAccurateIsExactAtAnyAlignment) {
    REQUIRE_SIMD();
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> any(-32768, 32767);
    alignas(16) int16_t block_buf[64 + 8], table_buf[64 + 8];
    for (qrl::KernelSet set : kSimdSets) {
        const auto kernel = qrl::kernel_set_table(set).dequantize_accurate;
        for (int offset = 0; offset < 8; ++offset) {
            int16_t *block = block_buf + offset;
            const int16_t *table = table_buf + (7 - offset);
            for (int n = 0; n < 50; ++n) {
                for (int i = 0; i < 72; ++i) {
                    block_buf[i] = static_cast<int16_t>(any(rng));
                    table_buf[i] = static_cast<int16_t>(any(rng));
                }
                Block expected;
                std::copy(block, block + 64, expected.begin());
                qrl::dequantize_accurate(expected.data(), table);
                int16_t before[64 + 8];
                std::copy(block_buf, block_buf + 72, before);
                kernel(block, table);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), block)) << offset;
                for (int i = 0; i < 72; ++i) {
                    if (i < offset || i >= offset + 64) {
                        ASSERT_EQ(block_buf[i], before[i]) << "outside, " << i;
                    }
                }
            }
        }
    }
}

TEST(SimdTransform, FastIdctFollowsItsArithmeticOrFallsBack) {
    REQUIRE_SIMD();
    std::mt19937 rng(4);
    for (qrl::KernelSet set : kSimdSets) {
        const auto kernel = qrl::kernel_set_table(set).idct_fast_8x8;
        for (Input kind : kInputs) {
            int fallbacks = 0;
            for (int n = 0; n < 2000; ++n) {
                const Block in = make_block(rng, kind, true);
                Block expected = in, got = in;
                fallbacks += model_fast_idct(expected.data()) ? 0 : 1;
                kernel(got.data());
                ASSERT_EQ(got, expected) << "input kind " << static_cast<int>(kind) << ", block " << n;
            }
            if (kind == Input::Realistic || kind == Input::Small) {
                EXPECT_EQ(fallbacks, 0); // ordinary blocks take the SIMD path
            } else {
                EXPECT_GT(fallbacks, 0); // and the checks do fire
            }
        }
        // Every DC-only block (the kernel may treat them apart), inside and
        // outside the input limit.
        for (int32_t dc = -32768; dc <= 32767; ++dc) {
            Block expected{}, got{};
            expected[0] = got[0] = static_cast<int16_t>(dc);
            model_fast_idct(expected.data());
            kernel(got.data());
            ASSERT_EQ(got, expected) << "DC only, " << dc;
        }
    }
}

TEST(SimdTransform, FastIdctIsWithinAFewLevelsOfPortableMostlyBelow) {
    REQUIRE_SIMD();
    std::mt19937 rng(5);
    const auto kernel = qrl::kernel_set_table(qrl::KernelSet::D).idct_fast_8x8;
    int worst = 0, lower = 0, higher = 0, equal = 0;
    for (int n = 0; n < 3000; ++n) {
        const Block in = make_block(rng, Input::Realistic, true);
        Block portable = in, simd = in;
        qrl::idct_fast_8x8(portable.data());
        kernel(simd.data());
        for (int i = 0; i < 64; ++i) {
            const int d = simd[i] - portable[i];
            worst = std::max(worst, std::abs(d));
            lower += d < 0;
            higher += d > 0;
            equal += d == 0;
        }
    }
    EXPECT_LE(worst, 3);
    EXPECT_GT(equal, lower + higher);
    EXPECT_GT(lower, higher);
}

// Blocks built from the extreme values, where the portable kernel's 32-bit
// sums wrap and the SIMD kernel hands some blocks to it.
Block make_extreme_block(std::mt19937 &rng, int n) {
    static const int16_t kEdges[] = {-32768, -32767, 32767, 0, 1, -1, 16384, -16384};
    std::uniform_int_distribution<int> pick(0, 7), pos(0, 63), coin(0, 1);
    Block b{};
    switch (n % 4) {
    case 0: // one sign everywhere, or alternating
        for (int i = 0; i < 64; ++i) b[i] = static_cast<int16_t>(n % 8 == 0 ? 32767 : (i % 2 ? 32767 : -32767));
        break;
    case 1: // every entry one of the edge values
        for (int16_t &v : b) v = kEdges[pick(rng)];
        break;
    case 2: // a few edge values in an otherwise empty block
        for (int m = 0; m < 3; ++m) b[pos(rng)] = static_cast<int16_t>(coin(rng) ? 32767 : -32767);
        break;
    default: // full-magnitude random signs
        for (int16_t &v : b) v = static_cast<int16_t>(coin(rng) ? 32767 - pick(rng) : -32767 + pick(rng));
        break;
    }
    return b;
}

// Real dequantized blocks over a range of qualities (table scales 1 % to 800 %).
Block make_dequantized_block(std::mt19937 &rng, int n) {
    static const int kPercents[] = {1, 5, 25, 50, 100, 200, 400, 800};
    const auto natural = qrl_test::scaled_table(kPercents[n % 8]);
    Block b = qrl_test::quantize_samples(qrl_test::random_samples(rng, 10 + n % 60), natural);
    std::array<int16_t, 80> t{};
    const auto z = qrl_test::to_zigzag(natural);
    std::copy(z.begin(), z.end(), t.begin());
    qrl::prepare_dequant_table_accurate(t.data());
    qrl::dequantize_accurate(b.data(), t.data());
    return b;
}

TEST(SimdTransform, AccurateIdctEqualsPortable) {
    REQUIRE_SIMD();
    std::mt19937 rng(6);
    for (qrl::KernelSet set : kSimdSets) {
        const auto kernel = qrl::kernel_set_table(set).idct_accurate_8x8;
        auto check = [&](const Block &in, const char *what, int n) -> ::testing::AssertionResult {
            Block expected = in, got = in;
            qrl::idct_accurate_8x8(expected.data());
            kernel(got.data());
            if (got == expected) return ::testing::AssertionSuccess();
            return ::testing::AssertionFailure() << what << ", block " << n << ", set " << static_cast<int>(set);
        };
        for (Input kind : kInputs) {
            for (int n = 0; n < 2000; ++n) {
                ASSERT_TRUE(check(make_block(rng, kind, false), "random input kind", static_cast<int>(kind) * 10000 + n));
            }
        }
        for (int n = 0; n < 2000; ++n) {
            ASSERT_TRUE(check(make_extreme_block(rng, n), "extreme values", n));
            ASSERT_TRUE(check(make_dequantized_block(rng, n), "dequantized", n));
        }
        // Sparse blocks, which the kernel may treat apart: every DC-only
        // block, and random blocks whose nonzero coefficients lie in rows
        // 0..3, row 0 only, or the DC and one other position.
        for (int32_t dc = -32768; dc <= 32767; ++dc) {
            Block b{};
            b[0] = static_cast<int16_t>(dc);
            ASSERT_TRUE(check(b, "DC only", dc));
        }
        for (int n = 0; n < 3000; ++n) {
            Block b = n % 2 ? make_dequantized_block(rng, n) : make_block(rng, kInputs[n % std::size(kInputs)], false);
            const int kept_rows = n % 3 == 0 ? 1 : 4;
            std::fill(b.begin() + 8 * kept_rows, b.end(), int16_t{0});
            ASSERT_TRUE(check(b, "rows 4..7 (or 1..7) zero", n));
            Block one{};
            one[0] = b[0];
            one[1 + n % 63] = static_cast<int16_t>(static_cast<int32_t>(rng() % 4096) - 2048);
            ASSERT_TRUE(check(one, "DC and one coefficient", n));
        }
        // Single coefficients at the extremes, each position.
        for (int i = 0; i < 64; ++i) {
            for (int16_t v : {int16_t{-32768}, int16_t{-32767}, int16_t{32767}, int16_t{1}, int16_t{-1}}) {
                Block b{};
                b[i] = v;
                ASSERT_TRUE(check(b, "single coefficient", i));
            }
        }
    }
}

TEST(SimdTransform, AccurateIdctIsWithinOneOfPortable) {
    REQUIRE_SIMD();
    std::mt19937 rng(7);
    const auto kernel = qrl::kernel_set_table(qrl::KernelSet::A).idct_accurate_8x8;
    int worst = 0, differing = 0;
    for (int n = 0; n < 3000; ++n) {
        const Block in = make_block(rng, n % 2 ? Input::Realistic : Input::Small, false);
        Block portable = in, simd = in;
        qrl::idct_accurate_8x8(portable.data());
        kernel(simd.data());
        for (int i = 0; i < 64; ++i) {
            worst = std::max(worst, std::abs(simd[i] - portable[i]));
            differing += simd[i] != portable[i];
        }
    }
    EXPECT_LE(worst, 1);
    EXPECT_LT(differing, 3000 * 64 / 20); // the rare rounding case, not a systematic shift
}

TEST(SimdTransform, SamplesNeverLeaveTheRange) {
    REQUIRE_SIMD();
    std::mt19937 rng(8);
    const KERNEL_TABLE &t = qrl::kernel_set_table(qrl::KernelSet::C);
    for (int n = 0; n < 5000; ++n) {
        const Block in = make_block(rng, Input::Wild, n % 2 == 0);
        for (auto kernel : {t.idct_fast_8x8, t.idct_accurate_8x8}) {
            Block b = in;
            kernel(b.data());
            for (int16_t s : b) {
                ASSERT_GE(s, 0);
                ASSERT_LE(s, 255);
            }
        }
    }
}

// ---- Encoder side ------------------------------------------------------------------
TEST(SimdTransform, FastForwardDctEqualsPortable) {
    REQUIRE_SIMD();
    std::mt19937 rng(9);
    for (qrl::KernelSet set : kSimdSets) {
        const auto kernel = qrl::kernel_set_table(set).fdct_fast;
        EXPECT_NE(kernel, qrl::fdct_fast);
        for (int range : {128, qrl::kSimdFdctInputLimit + 1, 400, 32768}) {
            std::uniform_int_distribution<int> d(-range, std::min(range - 1, 32767));
            for (int n = 0; n < 3000; ++n) {
                Block in;
                for (int16_t &v : in) v = static_cast<int16_t>(d(rng));
                Block expected = in, got = in;
                qrl::fdct_fast(expected.data());
                kernel(got.data());
                ASSERT_EQ(got, expected) << "range " << range << ", block " << n;
            }
        }
    }
}

TEST(SimdTransform, QuantizersEqualPortable) {
    REQUIRE_SIMD();
    std::mt19937 rng(10);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (qrl::KernelSet set : kSimdSets) {
        const KERNEL_TABLE &t = qrl::kernel_set_table(set);
        const struct {
            qrl::TableBlockFn simd, portable;
        } pairs[] = {{t.quantize_fast, qrl::quantize_fast}, {t.quantize_accurate, qrl::quantize_accurate}};
        for (const auto &p : pairs) {
            for (int n = 0; n < 3000; ++n) {
                Block in, table;
                for (int i = 0; i < 64; ++i) {
                    in[i] = static_cast<int16_t>(any(rng));
                    table[i] = static_cast<int16_t>(n % 3 == 0 ? any(rng) : any(rng) % 4096);
                }
                in[0] = -32768;
                table[0] = -32768; // the extremes of both operands
                Block expected = in, got = in;
                p.portable(expected.data(), table.data());
                p.simd(got.data(), table.data());
                ASSERT_EQ(got, expected) << n;
            }
        }
    }
}

TEST(SimdTransform, AccurateForwardDctFollowsItsArithmeticAndTheT81Coefficients) {
    REQUIRE_SIMD();
    std::mt19937 rng(11);
    for (qrl::KernelSet set : kSimdSets) {
        const auto kernel = qrl::kernel_set_table(set).fdct_accurate;
        for (int range : {128, qrl::kSimdFdctAccurateInputLimit + 2, 32768}) {
            std::uniform_int_distribution<int> d(-range, std::min(range - 1, 32767));
            for (int n = 0; n < 3000; ++n) {
                Block in;
                for (int16_t &v : in) v = static_cast<int16_t>(d(rng));
                Block expected = in, got = in;
                model_accurate_fdct(expected.data());
                kernel(got.data());
                ASSERT_EQ(got, expected) << "range " << range << ", block " << n;
            }
        }
    }
    // Against the exact coefficients and the portable kernel, on level-shifted samples.
    const auto kernel = qrl::kernel_set_table(qrl::KernelSet::D).fdct_accurate;
    std::uniform_int_distribution<int> sample(-128, 127);
    double worst_exact = 0;
    int worst_portable = 0;
    for (int n = 0; n < 2000; ++n) {
        qrl_test::Real64 s;
        Block in;
        if (n % 2 == 0) {
            s = qrl_test::random_samples(rng, 20);
            for (double &v : s) v -= 128;
        } else {
            for (double &v : s) v = sample(rng);
        }
        for (int i = 0; i < 64; ++i) in[i] = static_cast<int16_t>(s[i]);
        const auto exact = qrl_test::reference_fdct(s);
        Block simd = in, portable = in;
        kernel(simd.data());
        qrl::fdct_accurate(portable.data());
        for (int i = 0; i < 64; ++i) {
            worst_exact = std::max(worst_exact, std::abs(simd[i] - exact[i]));
            worst_portable = std::max(worst_portable, std::abs(simd[i] - portable[i]));
        }
    }
    EXPECT_LE(worst_exact, 1.5);
    EXPECT_LE(worst_portable, 2);
}

} // namespace
