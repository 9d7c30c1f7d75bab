// Color converters with 3-byte pixels (RGB, BGR) for set D on processors
// with AVX2: the arithmetic and bytes of the SSE2 twins, with the pixels
// assembled by byte shuffles (three shuffles per 16-byte store) instead of
// shifts and masks, in the three-operand encoding.
#include "pixels/color_kernels.h"

#ifdef QRL_X86_SIMD

#include <immintrin.h>

#include <array>

#include "pixels/color_kernels_simd.h"

namespace qrl {
namespace {

// Shuffle control of output register v (bytes 16v..16v+15 of 48) taking
// channel c: byte i holds pixel (16v + i) / 3 when (16v + i) % 3 is c, else
// zero (index with the top bit set).
constexpr std::array<int8_t, 16> channel_control(int32_t v, int32_t c) {
    std::array<int8_t, 16> m{};
    for (int32_t i = 0; i < 16; ++i) {
        const int32_t j = 16 * v + i;
        m[static_cast<size_t>(i)] = static_cast<int8_t>(j % 3 == c ? j / 3 : -128);
    }
    return m;
}

alignas(16) constexpr std::array<std::array<int8_t, 16>, 9> kControls = {
    channel_control(0, 0), channel_control(0, 1), channel_control(0, 2),
    channel_control(1, 0), channel_control(1, 1), channel_control(1, 2),
    channel_control(2, 0), channel_control(2, 1), channel_control(2, 2),
};

// Output register V of the 48 bytes.
template <int32_t V>
inline __m128i assemble(const Pixels16 &p) {
    const auto control = [](int32_t c) {
        return _mm_load_si128(reinterpret_cast<const __m128i *>(kControls[static_cast<size_t>(3 * V + c)].data()));
    };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(p.c0, control(0)), _mm_shuffle_epi8(p.c1, control(1))),
                        _mm_shuffle_epi8(p.c2, control(2)));
}

struct PackShuffle {
    static void interleave3(const Pixels16 &p, __m128i w[3]) {
        w[0] = assemble<0>(p);
        w[1] = assemble<1>(p);
        w[2] = assemble<2>(p);
    }
};

} // namespace

void ycc_to_rgb_h1v1_avx2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H1V1, PackShuffle>(a, b, c, a, o, l); }
void ycc_to_rgb_h2v1_avx2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H2V1, PackShuffle>(a, b, c, a, o, l); }
void ycc_to_rgb_h2v2_avx2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H2V2, PackShuffle>(a, b, c, a, o, l); }
void ycc_to_bgr_h1v1_avx2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H1V1, PackShuffle>(a, b, c, a, o, l); }
void ycc_to_bgr_h2v1_avx2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H2V1, PackShuffle>(a, b, c, a, o, l); }
void ycc_to_bgr_h2v2_avx2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H2V2, PackShuffle>(a, b, c, a, o, l); }

} // namespace qrl

#endif // QRL_X86_SIMD
