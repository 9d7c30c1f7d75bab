// Helpers shared by the SSE2 transform kernels (included only by *_sse2.cpp).
#pragma once

#include <cstdint>

#include <emmintrin.h>

namespace qrl::sse2 {

inline __m128i load8(const int16_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void store8(int16_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// In-register transpose of an 8x8 block of 16-bit lanes.
inline void transpose8(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]);
    const __m128i a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]);
    const __m128i a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]);
    const __m128i a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]);
    const __m128i a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2);
    const __m128i b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3);
    const __m128i b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6);
    const __m128i b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7);
    const __m128i b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Samples: (y >> 4 or 5 already applied) + 128 with signed saturation, packed
// to 0..255 with unsigned saturation and widened back to 16-bit entries.
inline void store_samples(int16_t *row0, int16_t *row1, __m128i a, __m128i b) {
    const __m128i shift = _mm_set1_epi16(128);
    const __m128i bytes = _mm_packus_epi16(_mm_adds_epi16(a, shift), _mm_adds_epi16(b, shift));
    const __m128i zero = _mm_setzero_si128();
    store8(row0, _mm_unpacklo_epi8(bytes, zero));
    store8(row1, _mm_unpackhi_epi8(bytes, zero));
}

} // namespace qrl::sse2
