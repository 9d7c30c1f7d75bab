// SSE2 accurate 8x8 inverse DCT.
//
// Row pass: each row v is multiplied by a matrix M_v(u, x) =
// round(16384 * k(v) * a(u) * cos((2x + 1) * u * pi / 16)) with four 32-bit
// multiply-add instructions (even and odd halves; outputs x and 7 - x share
// them), then (sum + 2048) >> 12 saturated to 16 bits and stored in place.
// The factor k(v) (1, sqrt(2)cos(pi/16), sqrt(2)cos(pi/8), sqrt(2)cos(3pi/16)
// for the row pairs {0,4}, {1,7}, {2,6}, {3,5}) turns the column pass into a
// tangent form that needs only 16-bit products.
//
// Column pass, eight columns per register, 16-bit saturating arithmetic;
// mulhi(x, c) = (x * c) >> 16, tan(3pi/16) and cos(pi/4) as (c - 1) + 1:
//   A = R1 + mulhi(R7, t1)        B = mulhi(R1, t1) - R7
//   C = R3 + T3(R5)               D = T3(R3) - R5,   T3(x) = mulhi(x, t3 - 1) + x
//   b0 = A + C + 1                b3 = B - D + 1
//   b1 = C4((A - C) + (B + D)) | 1      b2 = C4((A - C) - (B + D)) | 1
//   be0 = R2 + mulhi(R6, t2)      be1 = mulhi(R2, t2) - R6
//   E0 = (R0 + R4 + 16) + be0     E3 = (R0 + R4 + 15) - be0
//   E1 = (R0 - R4 + 16) + be1     E2 = (R0 - R4 + 15) - be1
//   y0 = E0 + b0, y7 = E0 - b0, y1 = E1 + b1, y6 = E1 - b1,
//   y2 = E2 + b2, y5 = E2 - b2, y3 = E3 + b3, y4 = E3 - b3,
// each output then y >> 5, + 128 (saturating) and packed to 0..255.
// The column values are 32 times the samples, so >> 5 removes the scale; the
// 1s offset the downward truncation of the products.
#include "transform/fixed_point.h"
#include "transform/simd_common_sse2.h"
#include "transform/transform.h"

namespace qrl {
namespace {

using namespace sse2;

// Per row group: coefficient pairs for (u0, u2), (u4, u6), (u1, u3), (u5, u7)
// at outputs x = 0..3; outputs 7..4 use the same entries with the odd terms negated.
alignas(16) constexpr int16_t kRowMatrix[4][4][8] = {
    {
        {16384, 21407, 16384, 8867, 16384, -8867, 16384, -21407},
        {16384, 8867, -16384, -21407, -16384, 21407, 16384, -8867},
        {22725, 19266, 19266, -4520, 12873, -22725, 4520, -12873},
        {12873, 4520, -22725, -12873, 4520, 19266, 19266, -22725},
    },
    {
        {22725, 29692, 22725, 12299, 22725, -12299, 22725, -29692},
        {22725, 12299, -22725, -29692, -22725, 29692, 22725, -12299},
        {31521, 26722, 26722, -6270, 17855, -31521, 6270, -17855},
        {17855, 6270, -31521, -17855, 6270, 26722, 26722, -31521},
    },
    {
        {21407, 27969, 21407, 11585, 21407, -11585, 21407, -27969},
        {21407, 11585, -21407, -27969, -21407, 27969, 21407, -11585},
        {29692, 25172, 25172, -5906, 16819, -29692, 5906, -16819},
        {16819, 5906, -29692, -16819, 5906, 25172, 25172, -29692},
    },
    {
        {19266, 25172, 19266, 10426, 19266, -10426, 19266, -25172},
        {19266, 10426, -19266, -25172, -19266, 25172, 19266, -10426},
        {26722, 22654, 22654, -5315, 15137, -26722, 5315, -15137},
        {15137, 5315, -26722, -15137, 5315, 22654, 22654, -26722},
    },
};
constexpr int kRowGroup[8] = {0, 1, 2, 3, 0, 3, 2, 1};

inline __m128i row_pass(__m128i row, const int16_t (*m)[8]) {
    // Words to (x0, x2), (x4, x6), (x1, x3), (x5, x7) pairs.
    __m128i r = _mm_shufflelo_epi16(row, _MM_SHUFFLE(3, 1, 2, 0));
    r = _mm_shufflehi_epi16(r, _MM_SHUFFLE(3, 1, 2, 0));
    r = _mm_shuffle_epi32(r, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i p02 = _mm_shuffle_epi32(r, 0x00);
    const __m128i p46 = _mm_shuffle_epi32(r, 0x55);
    const __m128i p13 = _mm_shuffle_epi32(r, 0xAA);
    const __m128i p57 = _mm_shuffle_epi32(r, 0xFF);
    const __m128i m0 = _mm_load_si128(reinterpret_cast<const __m128i *>(m[0]));
    const __m128i m1 = _mm_load_si128(reinterpret_cast<const __m128i *>(m[1]));
    const __m128i m2 = _mm_load_si128(reinterpret_cast<const __m128i *>(m[2]));
    const __m128i m3 = _mm_load_si128(reinterpret_cast<const __m128i *>(m[3]));
    const __m128i even = _mm_add_epi32(_mm_madd_epi16(p02, m0), _mm_madd_epi16(p46, m1));
    const __m128i odd = _mm_add_epi32(_mm_madd_epi16(p13, m2), _mm_madd_epi16(p57, m3));
    const __m128i round = _mm_set1_epi32(2048);
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(even, odd), round), 12);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_sub_epi32(even, odd), round), 12);
    // lo holds outputs 0..3, hi outputs 7..4.
    return _mm_shufflehi_epi16(_mm_packs_epi32(lo, hi), _MM_SHUFFLE(0, 1, 2, 3));
}

} // namespace

void idct_accurate_8x8_sse2(int16_t *block) {
    __m128i r[8];
    for (int v = 0; v < 8; ++v) {
        r[v] = row_pass(load8(block + 8 * v), kRowMatrix[kRowGroup[v]]);
    }

    const __m128i t1 = _mm_set1_epi16(static_cast<int16_t>(kSimdTan1));
    const __m128i t2 = _mm_set1_epi16(static_cast<int16_t>(kSimdTan2));
    const __m128i t3m1 = _mm_set1_epi16(static_cast<int16_t>(kSimdTan3m1));
    const __m128i c4m1 = _mm_set1_epi16(static_cast<int16_t>(kSimdCos4m1));
    const __m128i one = _mm_set1_epi16(1);
    const __m128i r16 = _mm_set1_epi16(16);
    const __m128i r15 = _mm_set1_epi16(15);

    const __m128i a = _mm_adds_epi16(r[1], _mm_mulhi_epi16(r[7], t1));
    const __m128i b = _mm_subs_epi16(_mm_mulhi_epi16(r[1], t1), r[7]);
    const __m128i c = _mm_adds_epi16(r[3], _mm_adds_epi16(_mm_mulhi_epi16(r[5], t3m1), r[5]));
    const __m128i d = _mm_subs_epi16(_mm_adds_epi16(_mm_mulhi_epi16(r[3], t3m1), r[3]), r[5]);
    const __m128i b0 = _mm_adds_epi16(_mm_adds_epi16(a, c), one);
    const __m128i b3 = _mm_adds_epi16(_mm_subs_epi16(b, d), one);
    const __m128i amc = _mm_subs_epi16(a, c);
    const __m128i bpd = _mm_adds_epi16(b, d);
    const __m128i s1 = _mm_adds_epi16(amc, bpd);
    const __m128i s2 = _mm_subs_epi16(amc, bpd);
    const __m128i b1 = _mm_or_si128(_mm_adds_epi16(_mm_mulhi_epi16(s1, c4m1), s1), one);
    const __m128i b2 = _mm_or_si128(_mm_adds_epi16(_mm_mulhi_epi16(s2, c4m1), s2), one);

    const __m128i be0 = _mm_adds_epi16(r[2], _mm_mulhi_epi16(r[6], t2));
    const __m128i be1 = _mm_subs_epi16(_mm_mulhi_epi16(r[2], t2), r[6]);
    const __m128i a0 = _mm_adds_epi16(r[0], r[4]);
    const __m128i a1 = _mm_subs_epi16(r[0], r[4]);
    const __m128i e0 = _mm_adds_epi16(_mm_adds_epi16(a0, r16), be0);
    const __m128i e3 = _mm_subs_epi16(_mm_adds_epi16(a0, r15), be0);
    const __m128i e1 = _mm_adds_epi16(_mm_adds_epi16(a1, r16), be1);
    const __m128i e2 = _mm_subs_epi16(_mm_adds_epi16(a1, r15), be1);

    auto out = [](__m128i v) { return _mm_srai_epi16(v, 5); };
    store_samples(block + 0, block + 8, out(_mm_adds_epi16(e0, b0)), out(_mm_adds_epi16(e1, b1)));
    store_samples(block + 16, block + 24, out(_mm_adds_epi16(e2, b2)), out(_mm_adds_epi16(e3, b3)));
    store_samples(block + 32, block + 40, out(_mm_subs_epi16(e3, b3)), out(_mm_subs_epi16(e2, b2)));
    store_samples(block + 48, block + 56, out(_mm_subs_epi16(e1, b1)), out(_mm_subs_epi16(e0, b0)));
}

} // namespace qrl
