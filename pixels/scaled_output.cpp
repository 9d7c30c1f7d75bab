#include "pixels/scaled_output.h"

#include "pixels/block_rect.h"
#include "pixels/color_constants.h"
#include "pixels/fast_routines.h"
#include "pixels/plane_writers.h"

namespace qrl {
namespace {

// scaled_copy_planes followed by scaled_convert_in_place in one pass, for the
// common layout: three 1x1 components, YCbCr data, three-byte RGB or BGR
// output. Each sample's low 8 bits go through the in-place formula exactly
// as the two passes would take them from the buffer.
bool fused_copy_convert_applies(const JPEG_PROPERTIES *props) {
    return props->frame_component_count == 3 && props->max_h_sampling == 1 && props->max_v_sampling == 1 &&
           props->image_channels == 3 && props->jpeg_color == COLOR_YCBCR &&
           (props->image_color == COLOR_RGB || props->image_color == COLOR_BGR);
}

void fused_copy_convert(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t n) {
    uint8_t *address = nullptr;
    BLOCK_RECT v;
    if (place_mcu_block(props, n, n, column, row, 3, &address, &v) != JPEG_OK) return;
    props->input.pixel_cursor = address;
    const int32_t red = props->image_color == COLOR_BGR ? 2 : 0;
    const int32_t blue = 2 - red;
    const int16_t *mcu = props->mcu_buffer;
    for (int32_t y = v.top; y < v.bottom; ++y) {
        uint8_t *o = address + static_cast<intptr_t>(y) * props->line_bytes + v.left * 3;
        const int16_t *ys = mcu + 8 * y, *cbs = mcu + 64 + 8 * y, *crs = mcu + 128 + 8 * y;
        for (int32_t x = v.left; x < v.right; ++x, o += 3) {
            const int32_t luma = static_cast<uint8_t>(ys[x]);
            const int32_t cb = static_cast<uint8_t>(cbs[x]);
            const int32_t cr = static_cast<uint8_t>(crs[x]);
            o[red] = clamp_sample(luma + ((kCrToR * cr - kRBias) >> kColorShift));
            o[1] = clamp_sample(luma + green_term_in_place(cb, cr));
            o[blue] = clamp_sample(luma + ((kCbToB * cb - kBBias) >> kColorShift));
        }
    }
}

// The plane writers followed by scaled_convert_in_place in one pass, for
// three-component YCbCr frames of 2x2 or 2x1 luma over 1x1 chroma written
// as three-byte RGB or BGR, without smoothing, with the MCU's blocks in
// frame order. Luma block (i, j) holds n x n samples; chroma holds 2n x 2n
// samples taken one for one in a uniform (2x2) frame, n x n samples
// replicated over pairs of columns in a 2x1 frame: the bytes the plane
// writers place, converted by the in-place formula.
bool fused_planes_convert_applies(const JPEG_PROPERTIES *props, int32_t n, int32_t uniform) {
    if (props->frame_component_count != 3 || props->frame_components == nullptr || props->image_channels != 3 ||
        props->jpeg_color != COLOR_YCBCR || (props->image_color != COLOR_RGB && props->image_color != COLOR_BGR) ||
        props->smooth_upsampling == 1 || n >= 8)
        return false;
    const COMPONENT_INFO *c = props->frame_components;
    const bool h2v2 = c[0].h_sampling == 2 && c[0].v_sampling == 2 && uniform != 0;
    const bool h2v1 = c[0].h_sampling == 2 && c[0].v_sampling == 1 && uniform == 0;
    if (!(h2v2 || h2v1)) return false;
    for (int32_t m = 1; m < 3; ++m)
        if (c[m].h_sampling != 1 || c[m].v_sampling != 1) return false;
    if (props->max_h_sampling != 2 || props->max_v_sampling != c[0].v_sampling) return false;
    // The plane writers take the scan's components when no scan went through
    // the coefficient buffer: those must be the frame's, in frame order.
    const SCAN_INFO *scan = props->current_scan;
    if (props->scans_done == 0 && scan != nullptr && scan->scan_components != nullptr) {
        if (scan->scan_component_count != 3) return false;
        for (int32_t i = 0; i < 3; ++i)
            if (scan->scan_components[i].component_index != i) return false;
    }
    return true;
}

void fused_planes_convert(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t n) {
    const int32_t v0 = props->frame_components[0].v_sampling;
    uint8_t *address = nullptr;
    BLOCK_RECT v;
    if (place_mcu_block(props, 2 * n, v0 * n, column, row, 3, &address, &v) != JPEG_OK) return;
    props->input.pixel_cursor = address;
    const int32_t red = props->image_color == COLOR_BGR ? 2 : 0;
    const int32_t blue = 2 - red;
    const int32_t luma_blocks = 2 * v0;
    const int16_t *mcu = props->mcu_buffer;
    const int16_t *cb_block = mcu + 64 * luma_blocks, *cr_block = cb_block + 64;
    for (int32_t y = v.top; y < v.bottom; ++y) {
        uint8_t *o = address + static_cast<intptr_t>(y) * props->line_bytes + v.left * 3;
        const int16_t *luma_row = mcu + 64 * (2 * (y / n)) + 8 * (y % n);
        for (int32_t x = v.left; x < v.right; ++x, o += 3) {
            const int32_t luma = static_cast<uint8_t>(luma_row[64 * (x / n) + x % n]);
            const int32_t at = v0 == 2 ? 8 * y + x : 8 * y + x / 2;
            const int32_t cb = static_cast<uint8_t>(cb_block[at]);
            const int32_t cr = static_cast<uint8_t>(cr_block[at]);
            o[red] = clamp_sample(luma + ((kCrToR * cr - kRBias) >> kColorShift));
            o[1] = clamp_sample(luma + green_term_in_place(cb, cr));
            o[blue] = clamp_sample(luma + ((kCbToB * cb - kBBias) >> kColorShift));
        }
    }
}

} // namespace

int32_t scaled_copy_planes(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t n) {
    return copy_planes_sized(props, column, row, n);
}

int32_t scaled_scan_planes(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t n, int32_t uniform) {
    return write_mcu_planes(props, column, row, PLANE_OPTIONS{false, n, uniform, true});
}

int32_t scaled_frame_planes(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t n, int32_t uniform) {
    return write_mcu_planes(props, column, row, PLANE_OPTIONS{true, n, uniform, true});
}

int32_t scaled_convert_in_place(JPEG_PROPERTIES *props, int32_t column, int32_t row, int32_t n) {
    return convert_mcu_in_place(props, column, row, n);
}

void write_scaled_mcu(JPEG_PROPERTIES *props, INPUT_SOURCE *src, SCAN_INFO *scan, int32_t column, int32_t row,
                      int32_t n, int32_t uniform) {
    (void)src;
    (void)scan; // the plane writers read the current scan from the record
    if (n != 1 && n != 2 && n != 4 && n != 8) return;
    const bool up = props->needs_upsampling != 0;
    const bool cc = props->needs_color_conversion != 0;
    // The frame's components hold the image whenever it is assembled from
    // the whole-image coefficient buffer.
    const bool frame = props->scans_done != 0;
    if (props->partial_scan == 1 && props->scans_done == 0) {
        (void)scaled_scan_planes(props, column, row, n, uniform);
        return;
    }
    if (!up && cc) {
        if (fused_copy_convert_applies(props)) {
            fused_copy_convert(props, column, row, n);
            return;
        }
        if (scaled_copy_planes(props, column, row, n) == JPEG_OK)
            (void)scaled_convert_in_place(props, column, row, n);
        return;
    }
    if (up && !cc) {
        (void)(frame ? scaled_frame_planes(props, column, row, n, uniform)
                     : scaled_scan_planes(props, column, row, n, uniform));
        return;
    }
    if (!up && !cc && props->image_color != COLOR_YCBCR) {
        (void)scaled_copy_planes(props, column, row, n);
        return;
    }
    if (up && cc && fused_planes_convert_applies(props, n, uniform)) {
        fused_planes_convert(props, column, row, n);
        return;
    }
    const int32_t rc = frame ? scaled_frame_planes(props, column, row, n, uniform)
                             : scaled_scan_planes(props, column, row, n, uniform);
    if (rc == JPEG_OK) (void)scaled_convert_in_place(props, column, row, n);
}

int32_t convert_image_in_place(JPEG_PROPERTIES *props) {
    const int32_t oc = props->image_color;
    if ((oc != COLOR_RGB && oc != COLOR_BGR && oc != COLOR_CMYK) || props->needs_color_conversion != 1)
        return JPEG_OK;
    const int32_t ch = props->image_channels;
    if (ch < 3 || props->image_pixels == nullptr) return JPEG_OK;
    const int32_t *roi = props->roi;
    int32_t rows = roi[3] - roi[1];
    if (roi[3] == roi[1]) rows = props->image_height < 0 ? -props->image_height : props->image_height;
    int32_t width = roi[2] - roi[0];
    if (width == 0) width = props->image_width;
    // The buffer holds image_width by |image_height| pixels; never go past it.
    const int32_t abs_height = props->image_height < 0 ? -props->image_height : props->image_height;
    if (rows > abs_height) rows = abs_height;
    if (width > props->image_width) width = props->image_width;
    if (rows <= 0 || width <= 0) return JPEG_OK;
    for (int32_t y = rows - 1; y >= 0; --y) {
        uint8_t *o = props->image_pixels + static_cast<intptr_t>(y) * props->line_bytes;
        for (int32_t x = 0; x < width; ++x, o += ch) convert_pixel_in_place(props, o, true);
    }
    return JPEG_OK;
}

} // namespace qrl
