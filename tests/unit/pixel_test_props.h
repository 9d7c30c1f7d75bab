// Small fixtures for the pixel output tests: a heap JPEG_PROPERTIES with a
// frame description, a portable kernel table and a poisoned output buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "codec/codec.h"
#include "dispatch/kernel_table.h"

namespace qrl_test {

constexpr uint8_t kPoison = 0xA5;

struct PixelRig {
    std::unique_ptr<JPEG_PROPERTIES> props = std::make_unique<JPEG_PROPERTIES>();
    KERNEL_TABLE table = qrl::kernel_set_table(qrl::KernelSet::Portable);
    COMPONENT_INFO components[QRL_MAX_COMPONENTS] = {};
    SCAN_COMPONENT scan_components[QRL_MAX_COMPONENTS] = {};
    SCAN_INFO scan = {};
    std::vector<int16_t> mcu = std::vector<int16_t>(QRL_MCU_MAX_BLOCKS * 64, 0);
    std::vector<uint8_t> pixels;
    int32_t pad = 0;

    // factors: "h v" pairs per component, e.g. {{2,2},{1,1},{1,1}}.
    PixelRig(int32_t width, int32_t height, std::vector<std::pair<int32_t, int32_t>> factors,
             int32_t jpeg_color, int32_t image_color, int32_t channels, int32_t pad_bytes = 3) {
        std::memset(props.get(), 0, sizeof(JPEG_PROPERTIES));
        JPEG_PROPERTIES *p = props.get();
        p->kernel_table = &table;
        p->frame_components = components;
        p->frame_component_count = static_cast<int32_t>(factors.size());
        for (size_t i = 0; i < factors.size(); ++i) {
            components[i].id = static_cast<int32_t>(i + 1);
            components[i].h_sampling = factors[i].first;
            components[i].v_sampling = factors[i].second;
            scan_components[i].component_index = static_cast<int32_t>(i);
            scan_components[i].h_sampling = factors[i].first;
            scan_components[i].v_sampling = factors[i].second;
        }
        scan.scan_component_count = p->frame_component_count;
        scan.scan_components = scan_components;
        scan.spectral_end = 63;
        p->current_scan = &scan;
        p->jpeg_width = width;
        p->jpeg_height = height;
        p->jpeg_color = jpeg_color;
        p->jpeg_channels = p->frame_component_count;
        p->image_color = image_color;
        p->image_channels = channels;
        p->image_width = width;
        p->image_height = height;
        p->mcu_buffer = mcu.data();
        set_buffer(width, height, pad_bytes);
    }

    void set_buffer(int32_t width, int32_t height, int32_t pad_bytes) {
        JPEG_PROPERTIES *p = props.get();
        pad = pad_bytes;
        p->image_width = width;
        p->image_height = height;
        p->image_pad_bytes = pad_bytes;
        p->line_bytes = width * p->image_channels + pad_bytes;
        const int32_t rows = height < 0 ? -height : height;
        pixels.assign(static_cast<size_t>(p->line_bytes) * rows + 64, kPoison);
        p->image_pixels = pixels.data();
        if (height < 0) {
            // Bottom-up: origin at the last row, negative stride.
            p->image_pixels = pixels.data() + static_cast<size_t>(p->line_bytes) * (rows - 1);
            p->line_bytes = -p->line_bytes;
        }
    }

    // Pointer to the pixel at image row y (row 0 = first image row).
    uint8_t *at(int32_t x, int32_t y) {
        return props->image_pixels + static_cast<intptr_t>(y) * props->line_bytes + x * props->image_channels;
    }
    void fill_random(uint32_t seed, int32_t blocks, int32_t lo = 0, int32_t hi = 255) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int32_t> d(lo, hi);
        for (int32_t i = 0; i < blocks * 64; ++i) mcu[static_cast<size_t>(i)] = static_cast<int16_t>(d(rng));
    }
};

inline std::vector<int16_t> random_blocks(uint32_t seed, int32_t blocks, int32_t lo = 0, int32_t hi = 255) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> d(lo, hi);
    std::vector<int16_t> v(static_cast<size_t>(blocks) * 64);
    for (auto &s : v) s = static_cast<int16_t>(d(rng));
    return v;
}

// Pixel formats of the output kernels, and the per-pixel rule written from
// the conversion equations independently of the library.
enum class Fmt { Rgb, Bgr, Rgba, Cmyk, Copy3, Copy3Alpha, Copy4, Packed422 };

inline int32_t bpp_of(Fmt f) {
    switch (f) {
    case Fmt::Rgb: case Fmt::Bgr: case Fmt::Copy3: return 3;
    case Fmt::Packed422: return 2;
    default: return 4;
    }
}

inline int32_t clampi(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Pixel (x, y) of an MCU of qx x qy luma blocks whose blocks lie as in the MCU
// buffer (luma blocks, Cb, Cr, then as many fourth-component blocks as luma).
inline void reference_pixel(Fmt fmt, int32_t qx, int32_t qy, const int16_t *mcu, int32_t x, int32_t y,
                            uint8_t *out) {
    const int32_t luma = qx * qy;
    const int32_t q = (x >= 8 ? 1 : 0) + (y >= 8 ? qx : 0);
    const int32_t i = 8 * (y % 8) + (x % 8);
    const int32_t cx = qx == 2 ? x >> 1 : x;
    const int32_t cy = qy == 2 ? y >> 1 : y;
    const int32_t Y = mcu[64 * q + i];
    const int32_t Cb = mcu[64 * luma + 8 * cy + cx], Cr = mcu[64 * luma + 64 + 8 * cy + cx];
    const int32_t K = mcu[64 * luma + 128 + 64 * q + i];
    const int32_t R = clampi(Y + ((359 * Cr - 45813) >> 8));
    const int32_t G = clampi(Y - ((88 * Cb + 183 * Cr - 34806) >> 8));
    const int32_t B = clampi(Y + ((454 * Cb - 57937) >> 8));
    auto b8 = [](int32_t v) { return static_cast<uint8_t>(v); };
    switch (fmt) {
    case Fmt::Rgb: out[0] = b8(R), out[1] = b8(G), out[2] = b8(B); break;
    case Fmt::Bgr: out[0] = b8(B), out[1] = b8(G), out[2] = b8(R); break;
    case Fmt::Rgba: out[0] = b8(R), out[1] = b8(G), out[2] = b8(B), out[3] = 255; break;
    case Fmt::Cmyk: out[0] = b8(255 - R), out[1] = b8(255 - G), out[2] = b8(255 - B), out[3] = b8(K); break;
    case Fmt::Copy3: out[0] = b8(Y), out[1] = b8(Cb), out[2] = b8(Cr); break;
    case Fmt::Copy3Alpha: out[0] = b8(Y), out[1] = b8(Cb), out[2] = b8(Cr), out[3] = 255; break;
    case Fmt::Copy4: out[0] = b8(Y), out[1] = b8(Cb), out[2] = b8(Cr), out[3] = b8(K); break;
    case Fmt::Packed422: out[0] = b8(Y), out[1] = b8((x & 1) ? Cr : Cb); break;
    }
}

} // namespace qrl_test
