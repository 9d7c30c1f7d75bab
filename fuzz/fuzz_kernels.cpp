// Kernel sets: every transform, (de)quantizer and pixel kernel slot of the
// portable set against the same slot of SIMD sets A to D on inputs from the
// fuzzer. Outputs go to exact-size buffers (a write past the MCU is caught).
// Results must be equal, or within the documented SIMD differences: the
// inverse transforms by a few levels for coefficients of ordinary magnitude,
// the colour converters by 1 (rounding of the red and blue chroma terms); for
// extreme coefficients the SIMD transforms wrap and saturate, so only memory
// safety is checked there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dispatch/kernel_table.h"
#include "fuzz/fuzz_common.h"

using qrl::KernelSet;

namespace {

constexpr KernelSet kSimdSets[] = {KernelSet::A, KernelSet::B, KernelSet::C, KernelSet::D};
constexpr int kTransformTolerance = 8;
constexpr int kColorTolerance = 1;

struct Reader {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return size == 0 ? 0 : data[at++ % size]; }
    int16_t word() { return static_cast<int16_t>(byte() | (byte() << 8)); }
};

void compare(const uint8_t *a, const uint8_t *b, size_t n, int tolerance, const char *slot, int set) {
    for (size_t i = 0; i < n; ++i) {
        const int d = std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
        if (d > tolerance) {
            std::fprintf(stderr, "slot %s, set %d, byte %zu: portable %d, simd %d\n", slot, set, i, a[i], b[i]);
            qrl_fuzz::finding("SIMD kernel differs from the portable one", d);
        }
    }
}

void compare16(const int16_t *a, const int16_t *b, size_t n, int tolerance, const char *slot, int set) {
    for (size_t i = 0; i < n; ++i) {
        const int d = std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
        if (d > tolerance) {
            std::fprintf(stderr, "slot %s, set %d, entry %zu: portable %d, simd %d\n", slot, set, i, a[i], b[i]);
            qrl_fuzz::finding("SIMD kernel differs from the portable one", d);
        }
    }
}

void run_block(qrl::BlockFn p, qrl::BlockFn s, const std::vector<int16_t> &in, int tolerance, const char *slot,
               int set) {
    if (p == nullptr || s == nullptr) return;
    std::vector<int16_t> a(in), b(in);
    p(a.data());
    s(b.data());
    if (tolerance >= 0) {
        for (int i = 0; i < 64; ++i) {
            if (std::abs(a[static_cast<size_t>(i)] - b[static_cast<size_t>(i)]) > tolerance) {
                for (int j = 0; j < 64; ++j) std::fprintf(stderr, "%d%c", in[static_cast<size_t>(j)], j % 8 == 7 ? '\n' : ' ');
                break;
            }
        }
        compare16(a.data(), b.data(), 64, tolerance, slot, set);
    }
}

void run_table(qrl::TableBlockFn p, qrl::TableBlockFn s, const std::vector<int16_t> &in,
               const std::vector<int16_t> &table, int tolerance, const char *slot, int set) {
    if (p == nullptr || s == nullptr) return;
    std::vector<int16_t> a(in), b(in);
    p(a.data(), table.data());
    s(b.data(), table.data());
    if (tolerance >= 0) compare16(a.data(), b.data(), 64, tolerance, slot, set);
}

// Pixel writers: MCU of w x h pixels, bpp bytes each, component 0 and the
// fourth component with `luma` blocks.
void run_put3(qrl::Put3Fn p, qrl::Put3Fn s, const std::vector<int16_t> &samples, int w, int h, int bpp,
              int tolerance, const char *slot, int set) {
    if (p == nullptr || s == nullptr) return;
    const int luma = (w / 8) * (h / 8);
    const int32_t line = w * bpp;
    std::vector<uint8_t> a(static_cast<size_t>(line) * h, 0x11), b(a);
    const int16_t *c0 = samples.data();
    const int16_t *c1 = c0 + 64 * luma;
    const int16_t *c2 = c1 + 64;
    p(c0, c1, c2, a.data(), line);
    s(c0, c1, c2, b.data(), line);
    compare(a.data(), b.data(), a.size(), tolerance, slot, set);
}

void run_put4(qrl::Put4Fn p, qrl::Put4Fn s, const std::vector<int16_t> &samples, int w, int h, int tolerance,
              const char *slot, int set) {
    if (p == nullptr || s == nullptr) return;
    const int luma = (w / 8) * (h / 8);
    const int32_t line = w * 4;
    std::vector<uint8_t> a(static_cast<size_t>(line) * h, 0x11), b(a);
    const int16_t *c0 = samples.data();
    const int16_t *c1 = c0 + 64 * luma;
    const int16_t *c2 = c1 + 64;
    const int16_t *c3 = c2 + 64;
    p(c0, c1, c2, c3, a.data(), line);
    s(c0, c1, c2, c3, b.data(), line);
    compare(a.data(), b.data(), a.size(), tolerance, slot, set);
}

// Encoder input readers: w x h pixels of bpp bytes in, blocks out.
template <typename Fn, typename Call>
void run_get(Fn p, Fn s, int w, int h, int bpp, const std::vector<uint8_t> &pixels, int blocks, Call call,
             const char *slot, int set) {
    if (p == nullptr || s == nullptr) return;
    const int32_t line = w * bpp;
    std::vector<uint8_t> in(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(line) * h);
    std::vector<int16_t> a(static_cast<size_t>(64) * blocks, 0x1111), b(a);
    call(p, in.data(), line, a.data());
    call(s, in.data(), line, b.data());
    compare16(a.data(), b.data(), a.size(), 0, slot, set);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader r{data, size};
    const bool ordinary = (r.byte() & 3) != 0;
    // Coefficient block: ordinary magnitudes (DC below 1024, AC below 64 in
    // magnitude, as dequantized blocks of real images) or any 16-bit value.
    std::vector<int16_t> coefficients(64);
    for (size_t i = 0; i < coefficients.size(); ++i) {
        const int16_t w = r.word();
        coefficients[i] = ordinary ? static_cast<int16_t>(w % (i == 0 ? 1024 : 64)) : w;
    }
    std::vector<int16_t> table(80, 1);
    for (int i = 0; i < 64; ++i) table[static_cast<size_t>(i)] = static_cast<int16_t>(1 + r.byte() % 32);
    // Samples 0..255 for the pixel writers: up to 4 + 1 + 1 + 4 blocks.
    std::vector<int16_t> samples(64 * 10);
    for (int16_t &v : samples) v = r.byte();
    std::vector<uint8_t> pixels(16 * 16 * 4);
    for (uint8_t &v : pixels) v = r.byte();
    // Level-shifted samples for the forward transforms.
    std::vector<int16_t> shifted(64);
    for (int16_t &v : shifted) v = static_cast<int16_t>(static_cast<int>(r.byte()) - 128);

    const KERNEL_TABLE &P = qrl::kernel_set_table(KernelSet::Portable);
    for (int k = 0; k < 4; ++k) {
        const KERNEL_TABLE &S = qrl::kernel_set_table(kSimdSets[k]);
        const int set = 3 + k;
        const int idct_tolerance = ordinary ? kTransformTolerance : -1;
        run_block(P.idct_fast_8x8, S.idct_fast_8x8, coefficients, idct_tolerance, "idct_fast_8x8", set);
        run_block(P.idct_accurate_8x8, S.idct_accurate_8x8, coefficients, idct_tolerance, "idct_accurate_8x8", set);
        run_block(P.idct_fast_4x4, S.idct_fast_4x4, coefficients, idct_tolerance, "idct_fast_4x4", set);
        run_block(P.idct_accurate_4x4, S.idct_accurate_4x4, coefficients, idct_tolerance, "idct_accurate_4x4", set);
        run_block(P.idct_fast_2x2, S.idct_fast_2x2, coefficients, idct_tolerance, "idct_fast_2x2", set);
        run_block(P.idct_accurate_2x2, S.idct_accurate_2x2, coefficients, idct_tolerance, "idct_accurate_2x2", set);
        run_block(P.idct_fast_1x1, S.idct_fast_1x1, coefficients, idct_tolerance, "idct_fast_1x1", set);
        run_block(P.idct_accurate_1x1, S.idct_accurate_1x1, coefficients, idct_tolerance, "idct_accurate_1x1", set);
        run_block(P.fdct_fast, S.fdct_fast, shifted, kTransformTolerance, "fdct_fast", set);
        run_block(P.fdct_accurate, S.fdct_accurate, shifted, kTransformTolerance, "fdct_accurate", set);
        run_table(P.dequantize_fast, S.dequantize_fast, coefficients, table, ordinary ? 0 : -1, "dequantize_fast", set);
        run_table(P.dequantize_accurate, S.dequantize_accurate, coefficients, table, ordinary ? 0 : -1,
                  "dequantize_accurate", set);

        if (P.put_gray_8x8 != nullptr && S.put_gray_8x8 != nullptr) {
            std::vector<uint8_t> a(64, 0x11), b(64, 0x11);
            P.put_gray_8x8(samples.data(), a.data(), 8);
            S.put_gray_8x8(samples.data(), b.data(), 8);
            compare(a.data(), b.data(), 64, 0, "put_gray_8x8", set);
        }
        run_put3(P.ycc_to_rgb_h1v1, S.ycc_to_rgb_h1v1, samples, 8, 8, 3, kColorTolerance, "ycc_to_rgb_h1v1", set);
        run_put3(P.ycc_to_rgb_h2v1, S.ycc_to_rgb_h2v1, samples, 16, 8, 3, kColorTolerance, "ycc_to_rgb_h2v1", set);
        run_put3(P.ycc_to_rgb_h2v2, S.ycc_to_rgb_h2v2, samples, 16, 16, 3, kColorTolerance, "ycc_to_rgb_h2v2", set);
        run_put3(P.ycc_to_bgr_h1v1, S.ycc_to_bgr_h1v1, samples, 8, 8, 3, kColorTolerance, "ycc_to_bgr_h1v1", set);
        run_put3(P.ycc_to_bgr_h2v1, S.ycc_to_bgr_h2v1, samples, 16, 8, 3, kColorTolerance, "ycc_to_bgr_h2v1", set);
        run_put3(P.ycc_to_bgr_h2v2, S.ycc_to_bgr_h2v2, samples, 16, 16, 3, kColorTolerance, "ycc_to_bgr_h2v2", set);
        run_put3(P.ycc_to_rgba_h1v1, S.ycc_to_rgba_h1v1, samples, 8, 8, 4, kColorTolerance, "ycc_to_rgba_h1v1", set);
        run_put3(P.ycc_to_rgba_h2v1, S.ycc_to_rgba_h2v1, samples, 16, 8, 4, kColorTolerance, "ycc_to_rgba_h2v1", set);
        run_put3(P.ycc_to_rgba_h2v2, S.ycc_to_rgba_h2v2, samples, 16, 16, 4, kColorTolerance, "ycc_to_rgba_h2v2", set);
        run_put3(P.interleave3_h1v1, S.interleave3_h1v1, samples, 8, 8, 3, 0, "interleave3_h1v1", set);
        run_put3(P.interleave3_h2v1, S.interleave3_h2v1, samples, 16, 8, 3, 0, "interleave3_h2v1", set);
        run_put3(P.interleave3_h2v2, S.interleave3_h2v2, samples, 16, 16, 3, 0, "interleave3_h2v2", set);
        run_put3(P.interleave3_alpha_h1v1, S.interleave3_alpha_h1v1, samples, 8, 8, 4, 0, "interleave3_alpha_h1v1", set);
        run_put3(P.ycc_to_packed422, S.ycc_to_packed422, samples, 16, 8, 2, 0, "ycc_to_packed422", set);
        run_put4(P.ycck_to_cmyk_h1v1, S.ycck_to_cmyk_h1v1, samples, 8, 8, kColorTolerance, "ycck_to_cmyk_h1v1", set);
        run_put4(P.ycck_to_cmyk_h2v1, S.ycck_to_cmyk_h2v1, samples, 16, 8, kColorTolerance, "ycck_to_cmyk_h2v1", set);
        run_put4(P.ycck_to_cmyk_h2v2, S.ycck_to_cmyk_h2v2, samples, 16, 16, kColorTolerance, "ycck_to_cmyk_h2v2", set);
        run_put4(P.interleave4_h1v1, S.interleave4_h1v1, samples, 8, 8, 0, "interleave4_h1v1", set);

        auto gray = [](qrl::GetGrayFn fn, const uint8_t *in, int32_t line, int16_t *out) { fn(in, line, out); };
        auto get3 = [](int luma) {
            return [luma](qrl::Get3Fn fn, const uint8_t *in, int32_t line, int16_t *out) {
                fn(in, line, out, out + 64 * luma, out + 64 * luma + 64);
            };
        };
        auto get4 = [](int luma) {
            return [luma](qrl::Get4Fn fn, const uint8_t *in, int32_t line, int16_t *out) {
                fn(in, line, out, out + 64 * luma, out + 64 * luma + 64, out + 64 * luma + 128);
            };
        };
        run_get(P.get_gray_8x8, S.get_gray_8x8, 8, 8, 1, pixels, 1, gray, "get_gray_8x8", set);
        run_get(P.rgb_to_ycc_h1v1, S.rgb_to_ycc_h1v1, 8, 8, 3, pixels, 3, get3(1), "rgb_to_ycc_h1v1", set);
        run_get(P.rgb_to_ycc_h2v1, S.rgb_to_ycc_h2v1, 16, 8, 3, pixels, 4, get3(2), "rgb_to_ycc_h2v1", set);
        run_get(P.rgb_to_ycc_h2v2, S.rgb_to_ycc_h2v2, 16, 16, 3, pixels, 6, get3(4), "rgb_to_ycc_h2v2", set);
        run_get(P.bgr_to_ycc_h1v1, S.bgr_to_ycc_h1v1, 8, 8, 3, pixels, 3, get3(1), "bgr_to_ycc_h1v1", set);
        run_get(P.bgr_to_ycc_h2v1, S.bgr_to_ycc_h2v1, 16, 8, 3, pixels, 4, get3(2), "bgr_to_ycc_h2v1", set);
        run_get(P.bgr_to_ycc_h2v2, S.bgr_to_ycc_h2v2, 16, 16, 3, pixels, 6, get3(4), "bgr_to_ycc_h2v2", set);
        run_get(P.packed422_to_ycc, S.packed422_to_ycc, 16, 8, 2, pixels, 4, get3(2), "packed422_to_ycc", set);
        run_get(P.cmyk_to_ycck_h1v1, S.cmyk_to_ycck_h1v1, 8, 8, 4, pixels, 4, get4(1), "cmyk_to_ycck_h1v1", set);
        run_get(P.cmyk_to_ycck_h2v1, S.cmyk_to_ycck_h2v1, 16, 8, 4, pixels, 8, get4(2), "cmyk_to_ycck_h2v1", set);
        run_get(P.cmyk_to_ycck_h2v2, S.cmyk_to_ycck_h2v2, 16, 16, 4, pixels, 12, get4(4), "cmyk_to_ycck_h2v2", set);
        if (S.simd_state_reset != nullptr) S.simd_state_reset();
    }
    return 0;
}
