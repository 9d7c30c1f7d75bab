// Generic MCU input routines for layouts and requests without a fast kernel.
// They read the valid pixels of the MCU into per-channel planes (repeating the
// last valid column and row), then form each component's samples from boxes
// of t x u pixels, t and u being the component's downsampling factors.
#include "dispatch/kernel_table.h"
#include "pixels/input.h"

namespace qrl {
namespace {

constexpr int32_t kMaxMcuSide = 16;
constexpr int32_t kMaxMcuPixels = kMaxMcuSide * kMaxMcuSide;

struct ChannelPlanes {
    int32_t width;  // MCU width in pixels
    int32_t height; // MCU height in pixels
    uint8_t value[4][kMaxMcuPixels];
};

// Copies channels [0, count) of the valid area and repeats the edges.
void load_planes(const JPEG_PROPERTIES *props, const McuArea &area, int32_t count,
                 ChannelPlanes *planes) {
    const int32_t w = planes->width;
    const int32_t ch = props->image_channels;
    for (int32_t y = 0; y < area.height; ++y) {
        const uint8_t *row = area.pixels + static_cast<intptr_t>(y) * props->line_bytes;
        for (int32_t x = 0; x < area.width; ++x)
            for (int32_t c = 0; c < count; ++c) planes->value[c][y * w + x] = row[x * ch + c];
        for (int32_t x = area.width; x < w; ++x)
            for (int32_t c = 0; c < count; ++c)
                planes->value[c][y * w + x] = planes->value[c][y * w + area.width - 1];
    }
    for (int32_t y = area.height; y < planes->height; ++y)
        for (int32_t c = 0; c < count; ++c)
            for (int32_t x = 0; x < w; ++x)
                planes->value[c][y * w + x] = planes->value[c][(area.height - 1) * w + x];
}

// Rounded mean of the t x u box whose top-left pixel is (x, y).
int32_t box_mean(const ChannelPlanes &planes, int32_t c, int32_t x, int32_t y, int32_t t,
                 int32_t u) {
    int32_t sum = 0;
    for (int32_t dy = 0; dy < u; ++dy)
        for (int32_t dx = 0; dx < t; ++dx) sum += planes.value[c][(y + dy) * planes.width + x + dx];
    return (sum + (t * u) / 2) / (t * u);
}

// Calls fn(sample address, x, y, t, u) for every sample of component i, x and
// y being the top-left pixel of the sample's box.
template <typename Fn>
void for_each_sample(const JPEG_PROPERTIES *props, int32_t i, int16_t *blocks, Fn fn) {
    const COMPONENT_INFO &c = props->frame_components[i];
    const int32_t t = props->max_h_sampling / c.h_sampling;
    const int32_t u = props->max_v_sampling / c.v_sampling;
    for (int32_t by = 0; by < c.v_sampling; ++by)
        for (int32_t bx = 0; bx < c.h_sampling; ++bx) {
            int16_t *block = blocks + (by * c.h_sampling + bx) * 64;
            for (int32_t y = 0; y < 8; ++y)
                for (int32_t x = 0; x < 8; ++x)
                    fn(block + y * 8 + x, (bx * 8 + x) * t, (by * 8 + y) * u, t, u);
        }
}

template <GenericInput K>
int32_t read_generic(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row) {
    const int32_t ch = props->image_channels;
    ChannelPlanes planes;
    planes.width = 8 * props->max_h_sampling;
    planes.height = 8 * props->max_v_sampling;
    const McuArea area = begin_mcu(props, mcu_column, mcu_row, planes.width, planes.height, ch);
    const int32_t f = props->frame_component_count;
    load_planes(props, area, ch < 4 ? ch : 4, &planes);

    const bool reverse = props->image_color == COLOR_BGR && props->jpeg_color == COLOR_RGB;
    const bool gray_as_ycc = props->image_color == COLOR_GRAY && props->jpeg_color == COLOR_YCBCR;
    int16_t *blocks = props->mcu_buffer;
    for (int32_t i = 0; i < f; ++i) {
        if constexpr (K == GenericInput::Copy || K == GenericInput::Downsample) {
            const int32_t src = reverse && i < 3 ? 2 - i : i;
            const bool zero = (gray_as_ycc && i > 0) || src >= ch || src >= 4;
            for_each_sample(props, i, blocks, [&](int16_t *s, int32_t x, int32_t y, int32_t t, int32_t u) {
                *s = zero ? 0 : static_cast<int16_t>(box_mean(planes, src, x, y, t, u) - 128);
            });
        } else {
            // Three colour channels: R, G, B (or B, G, R), or inverted for four-channel
            // input that is not RGB.
            const bool bgr = K == GenericInput::GrayFromColor && props->image_color == COLOR_BGR;
            const bool invert = K == GenericInput::Convert && props->image_color != COLOR_RGB;
            auto rgb = [&](int32_t x, int32_t y, int32_t t, int32_t u, int32_t &r, int32_t &g,
                           int32_t &b) {
                r = box_mean(planes, bgr ? 2 : 0, x, y, t, u);
                g = box_mean(planes, 1, x, y, t, u);
                b = box_mean(planes, bgr ? 0 : 2, x, y, t, u);
                if (invert) {
                    r = 255 - r;
                    g = 255 - g;
                    b = 255 - b;
                }
            };
            for_each_sample(props, i, blocks, [&](int16_t *s, int32_t x, int32_t y, int32_t t, int32_t u) {
                int32_t r, g, b;
                rgb(x, y, t, u, r, g, b);
                const int32_t v = i == 0 ? luma_of(r, g, b) : i == 1 ? cb_of(r, g, b) : cr_of(r, g, b);
                *s = static_cast<int16_t>(v);
            });
        }
        const COMPONENT_INFO &c = props->frame_components[i];
        blocks += c.h_sampling * c.v_sampling * 64;
    }
    return JPEG_OK;
}

} // namespace

McuInputFn generic_input_reader(GenericInput kind) {
    switch (kind) {
    case GenericInput::Copy: return &read_generic<GenericInput::Copy>;
    case GenericInput::Downsample: return &read_generic<GenericInput::Downsample>;
    case GenericInput::GrayFromColor: return &read_generic<GenericInput::GrayFromColor>;
    case GenericInput::Convert: return &read_generic<GenericInput::Convert>;
    }
    return nullptr;
}

} // namespace qrl
