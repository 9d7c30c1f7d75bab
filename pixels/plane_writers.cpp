#include "pixels/plane_writers.h"

#include "pixels/color_constants.h"
#include "pixels/smooth_upsampling.h"

namespace qrl {
namespace {

// The components whose blocks lie in mcu_buffer, in buffer order.
struct PLANE_COMPONENTS {
    int32_t count;
    int32_t index[QRL_MAX_COMPONENTS];    // frame component
    int32_t h[QRL_MAX_COMPONENTS];        // its frame sampling factors
    int32_t v[QRL_MAX_COMPONENTS];
    int32_t blocks_h[QRL_MAX_COMPONENTS]; // its blocks in this unit
    int32_t blocks_v[QRL_MAX_COMPONENTS];
    int32_t offset[QRL_MAX_COMPONENTS];   // first block in mcu_buffer
    int32_t stride;                       // blocks of the unit
    bool single;                          // one-component scan: one block per unit
};

bool valid_factor(int32_t f) { return f >= 1 && f <= QRL_MAX_SAMPLING; }

bool gather_components(const JPEG_PROPERTIES *props, bool frame, PLANE_COMPONENTS *pc) {
    *pc = PLANE_COMPONENTS{};
    const int32_t f = props->frame_component_count;
    if (props->frame_components == nullptr || f < 1 || f > QRL_MAX_COMPONENTS) return false;
    const SCAN_INFO *scan = props->current_scan;
    const bool use_frame = frame || scan == nullptr || scan->scan_components == nullptr;
    const int32_t count = use_frame ? f : scan->scan_component_count;
    if (count < 1 || count > QRL_MAX_COMPONENTS) return false;
    pc->single = !use_frame && count == 1;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t idx = use_frame ? i : scan->scan_components[i].component_index;
        if (idx < 0 || idx >= f) return false;
        const COMPONENT_INFO &c = props->frame_components[idx];
        if (!valid_factor(c.h_sampling) || !valid_factor(c.v_sampling)) return false;
        pc->index[i] = idx;
        pc->h[i] = c.h_sampling;
        pc->v[i] = c.v_sampling;
        pc->blocks_h[i] = pc->single ? 1 : c.h_sampling;
        pc->blocks_v[i] = pc->single ? 1 : c.v_sampling;
        pc->offset[i] = pc->stride;
        pc->stride += pc->blocks_h[i] * pc->blocks_v[i];
    }
    pc->count = count;
    return pc->stride <= QRL_MCU_MAX_BLOCKS;
}

inline int32_t ceil_div(int32_t a, int32_t b) { return (a + b - 1) / b; }
inline int32_t abs32(int32_t v) { return v < 0 ? -v : v; }

// Output channel of frame component `index`: reversed for RGB data written as BGR.
int32_t channel_of(const JPEG_PROPERTIES *props, int32_t index) {
    if (props->image_color == COLOR_BGR && props->jpeg_color == COLOR_RGB) return index <= 2 ? 2 - index : -1;
    return index;
}

// Replication: sample (x, y) of block (i, j) fills bh x bv plane positions.
void replicate(const int16_t *blocks, int32_t blocks_h, int32_t blocks_v, int32_t samples, int32_t bh,
               int32_t bv, uint8_t *plane) {
    for (int32_t j = 0; j < blocks_v; ++j) {
        for (int32_t i = 0; i < blocks_h; ++i) {
            const int16_t *block = blocks + 64 * (j * blocks_h + i);
            for (int32_t y = 0; y < samples; ++y) {
                for (int32_t dy = 0; dy < bv; ++dy) {
                    const int32_t py = (samples * j + y) * bv + dy;
                    if (py >= kPlaneStride) continue;
                    uint8_t *row = plane + kPlaneStride * py;
                    for (int32_t x = 0; x < samples; ++x) {
                        const uint8_t s = static_cast<uint8_t>(block[8 * y + x]);
                        for (int32_t dx = 0; dx < bh; ++dx) {
                            const int32_t px = (samples * i + x) * bh + dx;
                            if (px < kPlaneStride) row[px] = s;
                        }
                    }
                }
            }
        }
    }
}

} // namespace

void write_plane(const JPEG_PROPERTIES *props, const BLOCK_RECT &v, int32_t channel, uint8_t *block_address,
                 const uint8_t *plane) {
    const int32_t ch = props->image_channels;
    const int32_t line = props->line_bytes;
    const int32_t left = v.left < 0 ? 0 : v.left, top = v.top < 0 ? 0 : v.top;
    const int32_t right = v.right > kPlaneStride ? kPlaneStride : v.right;
    const int32_t bottom = v.bottom > kPlaneStride ? kPlaneStride : v.bottom;
    if (props->image_color == COLOR_YCBCR && ch == 2) {
        // Packed Y Cb Y Cr: Cb rides on even pixels, Cr on odd ones.
        if (channel < 0 || channel > 2) return;
        for (int32_t y = top; y < bottom; ++y) {
            uint8_t *o = block_address + static_cast<intptr_t>(y) * line;
            const uint8_t *p = plane + kPlaneStride * y;
            for (int32_t x = left; x < right; ++x) {
                if (channel == 0) o[2 * x] = p[x];
                else if ((x & 1) == channel - 1) o[2 * x + 1] = p[x];
            }
        }
        return;
    }
    if (channel < 0 || channel >= ch) return;
    const bool opaque = (props->jpeg_color == COLOR_YCBCR || props->jpeg_color == COLOR_RGB) &&
                        props->image_color == COLOR_CMYK && ch == 4;
    for (int32_t y = top; y < bottom; ++y) {
        uint8_t *o = block_address + static_cast<intptr_t>(y) * line + left * ch;
        const uint8_t *p = plane + kPlaneStride * y;
        for (int32_t x = left; x < right; ++x, o += ch) {
            if (!opaque || channel < 3) o[channel] = p[x];
            if (opaque) o[3] = 255;
        }
    }
}

int32_t write_mcu_planes(JPEG_PROPERTIES *props, int32_t column, int32_t row, const PLANE_OPTIONS &options) {
    PLANE_COMPONENTS pc;
    if (!gather_components(props, options.frame, &pc)) return JPEG_INVALID_PROPERTIES;
    const int32_t n = options.samples;
    const int32_t max_h = props->max_h_sampling, max_v = props->max_v_sampling;
    if (!valid_factor(max_h) || !valid_factor(max_v) || n < 1 || n > 8) return JPEG_INVALID_PROPERTIES;
    const int32_t ch = props->image_channels;

    // Block size: the MCU, or one expanded block for a one-component scan.
    int32_t mcu_w = n * max_h, mcu_h = n * max_v;
    if (pc.single) {
        mcu_w = n * (max_h / pc.h[0]);
        mcu_h = n * (max_v / pc.v[0]);
    }
    const int32_t scale = 8 / n;
    const int32_t mode = options.smoothing ? smoothing_mode(props, scale) : 0;

    uint8_t *address = nullptr;
    BLOCK_RECT visible;
    const int32_t rc = place_mcu_block(props, mcu_w, mcu_h, column, row, ch, &address, &visible);
    if (rc != JPEG_OK) return rc;
    props->input.pixel_cursor = address;

    const int32_t f = props->frame_component_count;
    uint8_t plane[kPlaneStride * kPlaneStride];
    uint8_t last_plane[kPlaneStride * kPlaneStride];
    bool have_last = false;
    for (int32_t i = 0; i < pc.count; ++i) {
        const int32_t channel = channel_of(props, pc.index[i]);
        const bool packed = props->image_color == COLOR_YCBCR && ch == 2;
        const bool wanted = packed ? pc.index[i] <= 2 : (channel >= 0 && channel < ch);
        const bool is_last = pc.index[i] == f - 1;
        if (!wanted && !is_last) continue;

        const int32_t h = pc.h[i], v = pc.v[i];
        int32_t bh = max_h / h, bv = max_v / v, samples = n;
        if (options.uniform && n < 8 && h * v == 1) {
            // Transformed one size larger: no upsampling left to do.
            samples = 2 * n;
            bh = bh > 1 ? bh / 2 : 1;
            bv = bv > 1 ? bv / 2 : 1;
        }
        const int16_t *blocks = props->mcu_buffer + 64 * pc.offset[i];
        const bool one_block = pc.blocks_h[i] == 1 && pc.blocks_v[i] == 1;
        if (mode != 0 && one_block && bh == 2 && bv == (mode == 2 ? 2 : 1)) {
            CHROMA_NEIGHBOURS nb{props,
                                 column,
                                 row,
                                 pc.stride,
                                 pc.offset[i],
                                 samples,
                                 ceil_div(abs32(props->jpeg_width) * h, max_h * scale),
                                 ceil_div(abs32(props->jpeg_height) * v, max_v * scale)};
            if (mode == 1) filter_h2v1(nb, plane);
            else filter_h2v2(nb, plane);
        } else {
            replicate(blocks, pc.blocks_h[i], pc.blocks_v[i], samples, bh, bv, plane);
        }
        if (wanted) write_plane(props, visible, channel, address, plane);
        if (is_last) {
            for (int32_t k = 0; k < kPlaneStride * kPlaneStride; ++k) last_plane[k] = plane[k];
            have_last = true;
        }
    }
    // Channels beyond the components repeat the last plane (or get the
    // opaque byte), once the frame's last component has been written.
    if (have_last && !(props->image_color == COLOR_OTHER && props->jpeg_color == COLOR_OTHER)) {
        for (int32_t c = f; c < ch; ++c) {
            const int32_t channel = props->image_color == COLOR_BGR && props->jpeg_color == COLOR_RGB ? -1 : c;
            write_plane(props, visible, channel, address, last_plane);
        }
    }
    return JPEG_OK;
}

int32_t mcu_scan_planes(JPEG_PROPERTIES *props, int32_t column, int32_t row) {
    return write_mcu_planes(props, column, row, PLANE_OPTIONS{false, 8, 0, true});
}

int32_t mcu_frame_planes(JPEG_PROPERTIES *props, int32_t column, int32_t row) {
    return write_mcu_planes(props, column, row, PLANE_OPTIONS{true, 8, 0, true});
}

int32_t mcu_planes_converted(JPEG_PROPERTIES *props, int32_t column, int32_t row) {
    const int32_t rc = write_mcu_planes(props, column, row, PLANE_OPTIONS{props->scans_done != 0, 8, 0, true});
    if (rc != JPEG_OK) return rc;
    return convert_in_place(props, column, row);
}

int32_t mcu_packed422_scan(JPEG_PROPERTIES *props, int32_t column, int32_t row) {
    // Raw samples of the scan's components into the packed layout (write_plane
    // places Y, Cb and Cr bytes); no interpolation.
    return write_mcu_planes(props, column, row, PLANE_OPTIONS{false, 8, 0, false});
}

void convert_pixel_in_place(const JPEG_PROPERTIES *props, uint8_t *o, bool opaque_fourth) {
    const int32_t ch = props->image_channels;
    const int32_t y = o[0], cb = o[1], cr = o[2];
    const uint8_t r = clamp_sample(y + ((kCrToR * cr - kRBias) >> kColorShift));
    const uint8_t g = clamp_sample(y + green_term_in_place(cb, cr));
    const uint8_t b = clamp_sample(y + ((kCbToB * cb - kBBias) >> kColorShift));
    if (ch == 3) {
        if (props->image_color == COLOR_BGR) o[0] = b, o[1] = g, o[2] = r;
        else o[0] = r, o[1] = g, o[2] = b;
    } else if (props->jpeg_color == COLOR_YCCK) {
        o[0] = static_cast<uint8_t>(255 - r), o[1] = static_cast<uint8_t>(255 - g);
        o[2] = static_cast<uint8_t>(255 - b);
    } else if (props->jpeg_color == COLOR_YCBCR) {
        o[0] = r, o[1] = g, o[2] = b;
        if (opaque_fourth && ch >= 4) o[3] = 255;
    }
}

int32_t convert_mcu_in_place(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t samples) {
    const int32_t oc = props->image_color;
    if (oc != COLOR_RGB && oc != COLOR_BGR && oc != COLOR_CMYK) return JPEG_OK;
    const int32_t ch = props->image_channels;
    if (ch < 3) return JPEG_OK;
    uint8_t *address = nullptr;
    BLOCK_RECT v;
    const int32_t rc = place_mcu_block(props, samples * props->max_h_sampling, samples * props->max_v_sampling,
                                       column, row, ch, &address, &v);
    if (rc != JPEG_OK) return rc;
    props->input.pixel_cursor = address;
    for (int32_t y = v.top; y < v.bottom; ++y) {
        uint8_t *o = address + static_cast<intptr_t>(y) * props->line_bytes + v.left * ch;
        for (int32_t x = v.left; x < v.right; ++x, o += ch) convert_pixel_in_place(props, o, false);
    }
    return JPEG_OK;
}

int32_t convert_in_place(JPEG_PROPERTIES *props, int32_t column, int32_t row) {
    return convert_mcu_in_place(props, column, row, 8);
}

} // namespace qrl
