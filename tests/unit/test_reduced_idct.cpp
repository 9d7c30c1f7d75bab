// Reduced-size inverse transforms (4x4, 2x2, 1x1) of both families.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "transform/quant_prepare.h"
#include "transform/transform.h"
#include "transform_test_util.h"

namespace {

using qrl_test::Block;

struct Kernel {
    const char *name;
    bool fast;
    int size;
    void (*idct)(int16_t *);
};

const Kernel kKernels[] = {
    {"fast 8x8", true, 8, qrl::idct_fast_8x8},         {"fast 4x4", true, 4, qrl::idct_fast_4x4},
    {"fast 2x2", true, 2, qrl::idct_fast_2x2},         {"fast 1x1", true, 1, qrl::idct_fast_1x1},
    {"accurate 8x8", false, 8, qrl::idct_accurate_8x8}, {"accurate 4x4", false, 4, qrl::idct_accurate_4x4},
    {"accurate 2x2", false, 2, qrl::idct_accurate_2x2}, {"accurate 1x1", false, 1, qrl::idct_accurate_1x1},
};

TEST(ReducedIdct, DcOnlyBlocksGiveOneValueAtEverySize) {
    for (int d = -4000; d <= 4000; d += 3) {
        for (bool fast : {true, false}) {
            // Accurate: clamp(floor(D/8 + 1/2) + 128); fast input carries twice
            // the accurate scale.
            const int expected = fast ? std::clamp(((d + 8) >> 4) + 128, 0, 255)
                                      : qrl_test::clamp255(std::floor(d / 8.0 + 0.5) + 128.0);
            for (const Kernel &k : kKernels) {
                if (k.fast != fast) {
                    continue;
                }
                Block b{};
                b[0] = static_cast<int16_t>(d);
                k.idct(b.data());
                for (int y = 0; y < k.size; ++y) {
                    for (int x = 0; x < k.size; ++x) {
                        ASSERT_EQ(b[8 * y + x], expected) << k.name << ", D = " << d;
                    }
                }
            }
        }
    }
}

// Coefficients whose basis functions average to zero over every output group
// change nothing: u or v = 4 for 4x4; u or v in 2, 4, 6 for 2x2; all AC for 1x1.
TEST(ReducedIdct, IgnoresCoefficientsThatAverageToZero) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coef(-300, 300);
    auto ignored = [](int size, int u, int v) {
        switch (size) {
        case 4: return u == 4 || v == 4;
        case 2: return u == 2 || u == 4 || u == 6 || v == 2 || v == 4 || v == 6;
        case 1: return u != 0 || v != 0;
        default: return false;
        }
    };
    for (const Kernel &k : kKernels) {
        if (k.size == 8) {
            continue;
        }
        for (int n = 0; n < 200; ++n) {
            Block a;
            for (int16_t &v : a) {
                v = static_cast<int16_t>(coef(rng));
            }
            Block b = a;
            for (int i = 0; i < 64; ++i) {
                if (ignored(k.size, i % 8, i / 8)) {
                    b[i] = static_cast<int16_t>(coef(rng) * 50);
                }
            }
            k.idct(a.data());
            k.idct(b.data());
            for (int y = 0; y < k.size; ++y) {
                for (int x = 0; x < k.size; ++x) {
                    ASSERT_EQ(a[8 * y + x], b[8 * y + x]) << k.name;
                }
            }
        }
    }
}

TEST(ReducedIdct, SamplesAreGroupMeansOfTheExactTransform) {
    std::mt19937 rng(2024);
    const auto natural = qrl_test::scaled_table(50);
    const auto z = qrl_test::to_zigzag(natural);
    std::array<int16_t, 80> fast_table{}, accurate_table{};
    std::copy(z.begin(), z.end(), fast_table.begin());
    std::copy(z.begin(), z.end(), accurate_table.begin());
    qrl::prepare_dequant_table_fast(fast_table.data());
    qrl::prepare_dequant_table_accurate(accurate_table.data());
    for (const Kernel &k : kKernels) {
        int worst = 0;
        for (int n = 0; n < 300; ++n) {
            const auto samples = qrl_test::random_samples(rng, 25);
            const Block c = qrl_test::quantize_samples(samples, natural);
            const auto exact = qrl_test::exact_samples(c, natural);
            Block b = c;
            if (k.fast) {
                qrl::dequantize_fast(b.data(), fast_table.data());
            } else {
                qrl::dequantize_accurate(b.data(), accurate_table.data());
            }
            k.idct(b.data());
            const int group = 8 / k.size;
            for (int y = 0; y < k.size; ++y) {
                for (int x = 0; x < k.size; ++x) {
                    double sum = 0;
                    for (int j = 0; j < group; ++j) {
                        for (int i = 0; i < group; ++i) {
                            sum += exact[8 * (y * group + j) + x * group + i];
                        }
                    }
                    const int mean = qrl_test::clamp255(sum / (group * group));
                    worst = std::max(worst, std::abs(b[8 * y + x] - mean));
                }
            }
        }
        EXPECT_LE(worst, k.fast && k.size == 8 ? 2 : 1) << k.name;
    }
}

TEST(ReducedIdct, SamplesSaturate) {
    for (const Kernel &k : kKernels) {
        for (int sign : {1, -1}) {
            Block b{};
            b[0] = static_cast<int16_t>(sign * 4000); // beyond 255 (below 0) in both scales
            b[1] = static_cast<int16_t>(sign * 100);
            k.idct(b.data());
            for (int y = 0; y < k.size; ++y) {
                for (int x = 0; x < k.size; ++x) {
                    ASSERT_EQ(b[8 * y + x], sign > 0 ? 255 : 0) << k.name;
                }
            }
        }
    }
}

} // namespace
