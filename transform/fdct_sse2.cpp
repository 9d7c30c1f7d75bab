// SSE2 forward DCTs.
//
// Fast: the AAN dataflow of fdct_fast on eight rows (then eight columns) at
// once in 16-bit lanes, with every Q15 product formed in 32 bits and rounded
// exactly as the portable kernel does, so the results equal the portable
// kernel's. Lanes hold the full range of both passes only for inputs of
// magnitude up to kSimdFdctInputLimit (the input stage delivers -128..127);
// any other block goes to the portable kernel.
//
// Accurate: a column pass in 16-bit saturating lanes on the inputs shifted
// left by 3, in tangent form (the transpose of the accurate SIMD inverse
// transform's column pass), mulhi(x, c) = (x * c) >> 16:
//   s07 = x0 + x7, d07 = x0 - x7, ... (x = input << 3)
//   a0 = s07 + s34, b0 = s07 - s34, a1 = s16 + s25, b1 = s16 - s25
//   G0 = a0 + a1, G4 = a0 - a1, G2 = b0 + mulhi(b1, t2), G6 = mulhi(b0, t2) - b1
//   u = C4(d16 + d25), w = C4(d16 - d25), C4(x) = mulhi(x, cos(pi/4) - 1) + x
//   A = d07 + u, C = d07 - u, B = d34 + w, D = w - d34
//   G1 = A + mulhi(B, t1), G7 = mulhi(A, t1) - B,
//   G3 = C + T3(D), G5 = T3(C) - D, T3(x) = mulhi(x, tan(3pi/16) - 1) + x,
// then, on G transposed, the row pass F(v, u) = (sum_x G(v, x) * M_v(u, x)
// + 524288) >> 20 for all rows v at once, with 32-bit multiply-adds on the
// saturated sums and differences of columns x and 7 - x (M_v as in the
// accurate SIMD inverse transform), packed to 16 bits with saturation. Within about one unit of the portable kernel.
// Valid for inputs of magnitude up to kSimdFdctAccurateInputLimit (the shifted
// sums and the 32-bit row sums then stay in range); other blocks go to the
// portable kernel.
#include "transform/fixed_point.h"
#include "transform/simd_common_sse2.h"
#include "transform/transform.h"

namespace qrl {
namespace {

using namespace sse2;

// (x * c + 16384) >> 15 for 0 <= c < 32768, as one multiply-add per half:
// the pairs (x, 1) times (c, 16384).
inline __m128i m15(__m128i x, __m128i c_and_half) {
    const __m128i one = _mm_set1_epi16(1);
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(x, one), c_and_half);
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(x, one), c_and_half);
    return _mm_packs_epi32(_mm_srai_epi32(lo, 15), _mm_srai_epi32(hi, 15));
}

inline __m128i pair(int32_t c) { return _mm_set1_epi32((16384 << 16) | c); }

// One pass; x[k] is input k of eight lanes.
inline void forward_pass(__m128i x[8]) {
    const __m128i c0_707107 = pair(kFastFdct_0_707107);
    const __m128i c0_382683 = pair(kFastFdct_0_382683);
    const __m128i c0_541196 = pair(kFastFdct_0_541196);
    // 1.306563 = 1 + 10045 / 32768: the whole part is added separately.
    const __m128i c0_306563 = pair(kFastFdct_1_306563 - 32768);

    const __m128i t0 = _mm_add_epi16(x[0], x[7]), t7 = _mm_sub_epi16(x[0], x[7]);
    const __m128i t1 = _mm_add_epi16(x[1], x[6]), t6 = _mm_sub_epi16(x[1], x[6]);
    const __m128i t2 = _mm_add_epi16(x[2], x[5]), t5 = _mm_sub_epi16(x[2], x[5]);
    const __m128i t3 = _mm_add_epi16(x[3], x[4]), t4 = _mm_sub_epi16(x[3], x[4]);

    const __m128i t10 = _mm_add_epi16(t0, t3), t13 = _mm_sub_epi16(t0, t3);
    const __m128i t11 = _mm_add_epi16(t1, t2), t12 = _mm_sub_epi16(t1, t2);
    x[0] = _mm_add_epi16(t10, t11);
    x[4] = _mm_sub_epi16(t10, t11);
    const __m128i z1 = m15(_mm_add_epi16(t12, t13), c0_707107);
    x[2] = _mm_add_epi16(t13, z1);
    x[6] = _mm_sub_epi16(t13, z1);

    const __m128i a = _mm_add_epi16(t4, t5), b = _mm_add_epi16(t5, t6), d = _mm_add_epi16(t6, t7);
    const __m128i z5 = m15(_mm_sub_epi16(a, d), c0_382683);
    const __m128i z2 = _mm_add_epi16(m15(a, c0_541196), z5);
    const __m128i z4 = _mm_add_epi16(_mm_add_epi16(d, m15(d, c0_306563)), z5);
    const __m128i z3 = m15(b, c0_707107);
    const __m128i z11 = _mm_add_epi16(t7, z3), z13 = _mm_sub_epi16(t7, z3);
    x[5] = _mm_add_epi16(z13, z2);
    x[3] = _mm_sub_epi16(z13, z2);
    x[1] = _mm_add_epi16(z11, z4);
    x[7] = _mm_sub_epi16(z11, z4);
}

// Accurate row pass matrices by row group: (u0, u2, u4, u6) at x = 0, 1 and
// x = 2, 3, then (u1, u3, u5, u7) likewise, as multiply-add pairs.
alignas(16) constexpr int16_t kForwardRowMatrix[4][4][8] = {
    {
        {16384, 16384, 21407, 8867, 16384, -16384, 8867, -21407},
        {16384, 16384, -8867, -21407, -16384, 16384, 21407, -8867},
        {22725, 19266, 19266, -4520, 12873, -22725, 4520, -12873},
        {12873, 4520, -22725, -12873, 4520, 19266, 19266, -22725},
    },
    {
        {22725, 22725, 29692, 12299, 22725, -22725, 12299, -29692},
        {22725, 22725, -12299, -29692, -22725, 22725, 29692, -12299},
        {31521, 26722, 26722, -6270, 17855, -31521, 6270, -17855},
        {17855, 6270, -31521, -17855, 6270, 26722, 26722, -31521},
    },
    {
        {21407, 21407, 27969, 11585, 21407, -21407, 11585, -27969},
        {21407, 21407, -11585, -27969, -21407, 21407, 27969, -11585},
        {29692, 25172, 25172, -5906, 16819, -29692, 5906, -16819},
        {16819, 5906, -29692, -16819, 5906, 25172, 25172, -29692},
    },
    {
        {19266, 19266, 25172, 10426, 19266, -19266, 10426, -25172},
        {19266, 19266, -10426, -25172, -19266, 19266, 25172, -10426},
        {26722, 22654, 22654, -5315, 15137, -26722, 5315, -15137},
        {15137, 5315, -26722, -15137, 5315, 22654, 22654, -26722},
    },
};
constexpr int kForwardRowGroup[8] = {0, 1, 2, 3, 0, 3, 2, 1};

// The row pass with the block transposed (lanes = rows v): for output column
// u, the multiply-add pairs of M_v(u, x) at x = (0, 1) and x = (2, 3), lanes
// v = 0..3 and v = 4..7. Even u weight the sums G(v, x) + G(v, 7 - x), odd u
// the differences.
struct RowPassPairs {
    int16_t v[8][2][2][8]; // [u][pair][lane half][4 pairs]
};
constexpr RowPassPairs make_row_pass_pairs() {
    RowPassPairs t{};
    for (int u = 0; u < 8; ++u)
        for (int pair = 0; pair < 2; ++pair)
            for (int half = 0; half < 2; ++half)
                for (int i = 0; i < 4; ++i) {
                    const int v = 4 * half + i;
                    const int16_t *m = kForwardRowMatrix[kForwardRowGroup[v]][(u & 1) * 2 + pair];
                    t.v[u][pair][half][2 * i] = m[2 * (u >> 1)];
                    t.v[u][pair][half][2 * i + 1] = m[2 * (u >> 1) + 1];
                }
    return t;
}
alignas(16) constexpr RowPassPairs kRowPassPairs = make_row_pass_pairs();

// True when some lane lies outside -limit - 1..limit.
inline bool any_over(const __m128i r[8], int32_t limit) {
    __m128i high = r[0], low = r[0];
    #pragma GCC unroll 8
    for (int k = 1; k < 8; ++k) {
        high = _mm_max_epi16(high, r[k]);
        low = _mm_min_epi16(low, r[k]);
    }
    const __m128i over = _mm_or_si128(_mm_cmpgt_epi16(high, _mm_set1_epi16(static_cast<int16_t>(limit))),
                                      _mm_cmplt_epi16(low, _mm_set1_epi16(static_cast<int16_t>(-limit - 1))));
    return _mm_movemask_epi8(over) != 0;
}

} // namespace

void fdct_accurate_sse2(int16_t *block) {
    __m128i x[8];
    #pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        x[k] = load8(block + 8 * k);
    }
    if (any_over(x, kSimdFdctAccurateInputLimit)) {
        fdct_accurate(block);
        return;
    }
    #pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        x[k] = _mm_slli_epi16(x[k], 3);
    }
    const __m128i t1 = _mm_set1_epi16(static_cast<int16_t>(kSimdTan1));
    const __m128i t2 = _mm_set1_epi16(static_cast<int16_t>(kSimdTan2));
    const __m128i t3m1 = _mm_set1_epi16(static_cast<int16_t>(kSimdTan3m1));
    const __m128i c4m1 = _mm_set1_epi16(static_cast<int16_t>(kSimdCos4m1));

    const __m128i s07 = _mm_adds_epi16(x[0], x[7]), d07 = _mm_subs_epi16(x[0], x[7]);
    const __m128i s16 = _mm_adds_epi16(x[1], x[6]), d16 = _mm_subs_epi16(x[1], x[6]);
    const __m128i s25 = _mm_adds_epi16(x[2], x[5]), d25 = _mm_subs_epi16(x[2], x[5]);
    const __m128i s34 = _mm_adds_epi16(x[3], x[4]), d34 = _mm_subs_epi16(x[3], x[4]);

    __m128i g[8];
    const __m128i a0 = _mm_adds_epi16(s07, s34), b0 = _mm_subs_epi16(s07, s34);
    const __m128i a1 = _mm_adds_epi16(s16, s25), b1 = _mm_subs_epi16(s16, s25);
    g[0] = _mm_adds_epi16(a0, a1);
    g[4] = _mm_subs_epi16(a0, a1);
    g[2] = _mm_adds_epi16(b0, _mm_mulhi_epi16(b1, t2));
    g[6] = _mm_subs_epi16(_mm_mulhi_epi16(b0, t2), b1);

    const __m128i sum = _mm_adds_epi16(d16, d25), dif = _mm_subs_epi16(d16, d25);
    const __m128i u = _mm_adds_epi16(_mm_mulhi_epi16(sum, c4m1), sum);
    const __m128i w = _mm_adds_epi16(_mm_mulhi_epi16(dif, c4m1), dif);
    const __m128i a = _mm_adds_epi16(d07, u), c = _mm_subs_epi16(d07, u);
    const __m128i b = _mm_adds_epi16(d34, w), d = _mm_subs_epi16(w, d34);
    g[1] = _mm_adds_epi16(a, _mm_mulhi_epi16(b, t1));
    g[7] = _mm_subs_epi16(_mm_mulhi_epi16(a, t1), b);
    g[3] = _mm_adds_epi16(c, _mm_adds_epi16(_mm_mulhi_epi16(d, t3m1), d));
    g[5] = _mm_subs_epi16(_mm_adds_epi16(_mm_mulhi_epi16(c, t3m1), c), d);

    transpose8(g); // g[x]: column x of G, lanes = rows v
    __m128i pairs[2][2][2]; // [sums, differences][x = (0, 1), (2, 3)][lane half]
    #pragma GCC unroll 8
    for (int p = 0; p < 2; ++p) {
        const __m128i sa = _mm_adds_epi16(g[2 * p], g[7 - 2 * p]);
        const __m128i sb = _mm_adds_epi16(g[2 * p + 1], g[6 - 2 * p]);
        const __m128i da = _mm_subs_epi16(g[2 * p], g[7 - 2 * p]);
        const __m128i db = _mm_subs_epi16(g[2 * p + 1], g[6 - 2 * p]);
        pairs[0][p][0] = _mm_unpacklo_epi16(sa, sb);
        pairs[0][p][1] = _mm_unpackhi_epi16(sa, sb);
        pairs[1][p][0] = _mm_unpacklo_epi16(da, db);
        pairs[1][p][1] = _mm_unpackhi_epi16(da, db);
    }
    const __m128i round = _mm_set1_epi32(524288);
    __m128i f[8];
    #pragma GCC unroll 8
    for (int col = 0; col < 8; ++col) {
        const auto &in = pairs[col & 1];
        const auto k = [col](int pair, int half) {
            return _mm_load_si128(reinterpret_cast<const __m128i *>(kRowPassPairs.v[col][pair][half]));
        };
        const __m128i lo = _mm_add_epi32(_mm_madd_epi16(in[0][0], k(0, 0)), _mm_madd_epi16(in[1][0], k(1, 0)));
        const __m128i hi = _mm_add_epi32(_mm_madd_epi16(in[0][1], k(0, 1)), _mm_madd_epi16(in[1][1], k(1, 1)));
        f[col] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, round), 20),
                                 _mm_srai_epi32(_mm_add_epi32(hi, round), 20));
    }
    transpose8(f); // f[v]: row v
    #pragma GCC unroll 8
    for (int v = 0; v < 8; ++v) {
        store8(block + 8 * v, f[v]);
    }
}

void fdct_fast_sse2(int16_t *block) {
    __m128i r[8];
    __m128i bad = _mm_setzero_si128();
    const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(kSimdFdctInputLimit));
    for (int k = 0; k < 8; ++k) {
        r[k] = load8(block + 8 * k);
        const __m128i magnitude = _mm_xor_si128(r[k], _mm_srai_epi16(r[k], 15));
        bad = _mm_or_si128(bad, _mm_cmpgt_epi16(magnitude, limit));
    }
    if (_mm_movemask_epi8(bad) != 0) {
        fdct_fast(block);
        return;
    }
    transpose8(r);  // r[k] = column k: lanes are rows
    forward_pass(r); // along the rows
    transpose8(r);  // r[y] = row y of the row results: lanes are columns
    forward_pass(r); // down the columns
    for (int k = 0; k < 8; ++k) {
        store8(block + 8 * k, r[k]);
    }
}

} // namespace qrl
