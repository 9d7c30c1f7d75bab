// Fixed-point constants of the decoder's YCbCr -> RGB conversion.
//
// Portable kernels (ITU-T T.81 / JFIF equations, 8 fractional bits):
//   R = Y + 1.402 (Cr - 128)
//   G = Y - 0.34414 (Cb - 128) - 0.71414 (Cr - 128)
//   B = Y + 1.772 (Cb - 128)
// Each factor is stored as round(256 x factor). The biases fold in the
// chroma offset (factor x 128 x 256) and a rounding half of 128, so a term is
// (factor x C - bias) >> 8 with an arithmetic shift.
#pragma once

#include <cstdint>

namespace qrl {

constexpr int32_t kColorShift = 8; // Q8

constexpr int32_t kCrToR = 359; // 1.402   = 359 * 2^-8
constexpr int32_t kCbToG = 88;  // 0.34414 = 88 * 2^-8
constexpr int32_t kCrToG = 183; // 0.71414 = 183 * 2^-8
constexpr int32_t kCbToB = 454; // 1.772   = 454 * 2^-8

constexpr int32_t kRBias = 45813; // 179 * 256 - 11
constexpr int32_t kGBias = 34806; // 136 * 256 - 10
constexpr int32_t kBBias = 57937; // 227 * 256 - 175

// With these biases, for C in 0..255:
//   red term  = floor((359 C + 11) / 256) - 179
//   blue term = floor((454 C + 175) / 256) - 227
static_assert(kRBias == 179 * 256 - 11, "red bias");
static_assert(kBBias == 227 * 256 - 175, "blue bias");
static_assert(kGBias == 136 * 256 - 10, "green bias");

// Headroom: the largest magnitude formed before a shift fits easily in 32 bits.
static_assert(static_cast<int64_t>(kCbToG + kCrToG) * 255 + kGBias < (int64_t{1} << 31), "headroom");

// SIMD kernels form the red and blue terms with a 16-bit multiply keeping the
// high half of (16 x C) x factor, factor in Q12:
constexpr int32_t kCrToRHigh = 5744; // 1.402 ~ 5744 * 2^-12 (16 * 5744 = 256 * 359)
constexpr int32_t kCbToBHigh = 7264; // 1.772 ~ 7264 * 2^-12 (16 * 7264 = 256 * 454)
static_assert(16 * kCrToRHigh == 256 * kCrToR, "red factor in Q12");
static_assert(16 * kCbToBHigh == 256 * kCbToB, "blue factor in Q12");
constexpr int32_t kRTermOffset = 179; // subtracted after the high-half multiply
constexpr int32_t kBTermOffset = 227;
// Largest 16-bit lane value before the multiply: 16 x 255 = 4080.
static_assert(16 * 255 * kCbToBHigh < (1 << 25), "high-half product range");

// The three chroma terms of one chroma sample pair, as the portable kernels
// compute them.
struct ChromaTerms {
    int32_t r;
    int32_t g; // subtracted from Y
    int32_t b;
};

constexpr ChromaTerms chroma_terms(int32_t cb, int32_t cr) {
    return {(kCrToR * cr - kRBias) >> kColorShift, (kCbToG * cb + kCrToG * cr - kGBias) >> kColorShift,
            (kCbToB * cb - kBBias) >> kColorShift};
}

constexpr uint8_t clamp_sample(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The in-place conversion's green term adds the bias before the shift.
constexpr int32_t green_term_in_place(int32_t cb, int32_t cr) {
    return (kGBias - kCbToG * cb - kCrToG * cr) >> kColorShift;
}

static_assert(chroma_terms(128, 128).r == 0 && chroma_terms(128, 128).b == 0, "mid-gray red/blue");
static_assert(chroma_terms(128, 128).g == -1, "mid-gray green term rounds down");
static_assert(green_term_in_place(128, 128) == 0, "in-place mid-gray");

} // namespace qrl
