// Shared helpers of the transform tests: double-precision reference DCTs,
// block generators and quantization tables.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>

#include "transform/zigzag.h"

namespace qrl_test {

using Block = std::array<int16_t, 64>;
using Real64 = std::array<double, 64>;

inline double dct_c(int u) { return u == 0 ? std::sqrt(0.5) : 1.0; }
inline double dct_cos(int x, int u) { return std::cos((2 * x + 1) * u * M_PI / 16.0); }

// ITU-T T.81 A.3.3 inverse DCT of coefficients in natural order (no level shift).
inline Real64 reference_idct(const Real64 &coef) {
    Real64 out{};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v) {
                for (int u = 0; u < 8; ++u) {
                    s += dct_c(u) * dct_c(v) * coef[8 * v + u] * dct_cos(x, u) * dct_cos(y, v);
                }
            }
            out[8 * y + x] = s / 4.0;
        }
    }
    return out;
}

// Forward DCT of level-shifted samples (natural order).
inline Real64 reference_fdct(const Real64 &samples) {
    Real64 out{};
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    s += samples[8 * y + x] * dct_cos(x, u) * dct_cos(y, v);
                }
            }
            out[8 * v + u] = dct_c(u) * dct_c(v) * s / 4.0;
        }
    }
    return out;
}

inline int clamp255(double v) { return static_cast<int>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }

// The T.81 Annex K luminance table in natural order.
constexpr std::array<int16_t, 64> kLuminanceNatural = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
};

// A natural-order table scaled by percent (clamped to 1..255).
inline std::array<int16_t, 64> scaled_table(int percent) {
    std::array<int16_t, 64> t{};
    for (int i = 0; i < 64; ++i) {
        t[i] = static_cast<int16_t>(std::clamp((kLuminanceNatural[i] * percent + 50) / 100, 1, 255));
    }
    return t;
}

inline std::array<int16_t, 64> to_zigzag(const std::array<int16_t, 64> &natural) {
    std::array<int16_t, 64> z{};
    for (int k = 0; k < 64; ++k) {
        z[k] = natural[qrl::zigzag_to_natural[k]];
    }
    return z;
}

// An 8x8 sample block (0..255) of a random smooth gradient plus noise and an
// optional edge: the kind of content real images have.
inline Real64 random_samples(std::mt19937 &rng, int noise) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double base = 255.0 * unit(rng);
    const double gx = (unit(rng) - 0.5) * 40, gy = (unit(rng) - 0.5) * 40;
    const bool edge = unit(rng) < 0.3;
    const double step = (unit(rng) - 0.5) * 200;
    std::uniform_int_distribution<int> jitter(-noise, noise);
    Real64 s{};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            double v = base + gx * (x - 3.5) + gy * (y - 3.5) + (edge && x + y > 7 ? step : 0) + jitter(rng);
            s[8 * y + x] = std::clamp(std::round(v), 0.0, 255.0);
        }
    }
    return s;
}

// Quantized coefficients (natural order) of a sample block with a natural-order table.
inline Block quantize_samples(const Real64 &samples, const std::array<int16_t, 64> &table) {
    Real64 shifted{};
    for (int i = 0; i < 64; ++i) {
        shifted[i] = samples[i] - 128.0;
    }
    const Real64 f = reference_fdct(shifted);
    Block c{};
    for (int i = 0; i < 64; ++i) {
        c[i] = static_cast<int16_t>(std::lround(f[i] / table[i]));
    }
    return c;
}

// Exactly computed samples of dequantized coefficients c * q (unclamped, level-shifted).
inline Real64 exact_samples(const Block &c, const std::array<int16_t, 64> &table) {
    Real64 coef{};
    for (int i = 0; i < 64; ++i) {
        coef[i] = static_cast<double>(c[i]) * table[i];
    }
    Real64 s = reference_idct(coef);
    for (double &v : s) {
        v += 128.0;
    }
    return s;
}

} // namespace qrl_test
