// Decoder output selection: the per-scan choice of the MCU output routine,
// so that the MCU loop calls one slot without looking at colors or layouts.
#include "pixels/output_select.h"

#include "dispatch/kernel_table.h"
#include "pixels/fast_routines.h"
#include "pixels/plane_writers.h"

namespace qrl {
namespace {

enum class Layout { All1x1, H2V2, H2V1, Other };

// 2x2 (or 2x1): component 0 at those factors, components 1 and 2 1x1, a
// fourth component like component 0.
Layout classify(const JPEG_PROPERTIES *props) {
    const int32_t f = props->frame_component_count;
    const COMPONENT_INFO *c = props->frame_components;
    bool all11 = true;
    for (int32_t i = 0; i < f; ++i) all11 = all11 && c[i].h_sampling == 1 && c[i].v_sampling == 1;
    if (all11) return Layout::All1x1;
    if (f != 3 && f != 4) return Layout::Other;
    if (c[1].h_sampling != 1 || c[1].v_sampling != 1 || c[2].h_sampling != 1 || c[2].v_sampling != 1)
        return Layout::Other;
    const int32_t h = c[0].h_sampling, v = c[0].v_sampling;
    if (f == 4 && (c[3].h_sampling != h || c[3].v_sampling != v)) return Layout::Other;
    if (h == 2 && v == 2) return Layout::H2V2;
    if (h == 2 && v == 1) return Layout::H2V1;
    return Layout::Other;
}

// A special row: the fast routine without smoothing, the plane routine with
// it, nothing for other smoothing values.
McuFn special(int32_t smooth, McuFn fast, McuFn planes) {
    if (smooth == 0) return fast;
    if (smooth == 1) return planes;
    return nullptr;
}

McuFn choose(const JPEG_PROPERTIES *props, Layout layout) {
    const int32_t f = props->frame_component_count;
    const int32_t ch = props->image_channels;
    const int32_t oc = props->image_color;
    const int32_t s = props->smooth_upsampling;
    const McuFn g = props->scans_done != 0 ? mcu_frame_planes : mcu_scan_planes;
    const bool up = props->needs_upsampling != 0;
    const bool cc = props->needs_color_conversion != 0;

    if (up && cc) {
        struct Row {
            int32_t f, ch, oc;
            McuFn h2v2, h2v1;
        };
        static constexpr Row rows[] = {
            {3, 3, COLOR_RGB, mcu_ycc_rgb_h2v2, mcu_ycc_rgb_h2v1},
            {3, 3, COLOR_BGR, mcu_ycc_bgr_h2v2, mcu_ycc_bgr_h2v1},
            {3, 4, COLOR_CMYK, mcu_ycc_rgba_h2v2, mcu_ycc_rgba_h2v1},
            {4, 4, COLOR_CMYK, mcu_ycck_cmyk_h2v2, mcu_ycck_cmyk_h2v1},
        };
        for (const Row &r : rows) {
            if (r.f != f || r.ch != ch || r.oc != oc) continue;
            if (layout == Layout::H2V2) return special(s, r.h2v2, mcu_planes_converted);
            if (layout == Layout::H2V1) return special(s, r.h2v1, mcu_planes_converted);
            return mcu_planes_converted;
        }
        return nullptr;
    }
    if (up) {
        if (f == 3 && ch == 3 && oc != COLOR_BGR) {
            if (layout == Layout::H2V2) return special(s, mcu_interleave3_h2v2, g);
            if (layout == Layout::H2V1) return special(s, mcu_interleave3_h2v1, g);
            return g;
        }
        if ((f == 3 && (ch == 1 || ch == 3 || ch == 4)) || (f == 4 && (ch == 3 || ch == 4))) return g;
        return nullptr;
    }
    if (cc) {
        if (f == 3 && ch == 3 && oc == COLOR_RGB) return mcu_ycc_rgb_h1v1;
        if (f == 3 && ch == 3 && oc == COLOR_BGR) return mcu_ycc_bgr_h1v1;
        if (f == 3 && ch == 4 && oc == COLOR_CMYK) return mcu_ycc_rgba_h1v1;
        if (f == 4 && ch == 4 && oc == COLOR_CMYK) return mcu_ycck_cmyk_h1v1;
        return nullptr;
    }
    // No conversion, no upsampling.
    if (layout != Layout::All1x1) {
        // Only YCbCr output skips upsampling of subsampled frames: packed
        // 4:2:2 for 2 channels of a 2x1 frame; otherwise the plane routine,
        // which expands every component to the MCU grid.
        if (f == 3 && ch == 2 && layout == Layout::H2V1) return mcu_ycc_packed422;
        if (ch == 2) return nullptr;
        return g;
    }
    if (f == 1) return ch == 1 ? mcu_gray : mcu_copy_planes;
    if (f == 2) return mcu_copy_planes;
    if (f == 3) {
        if (ch == 1) return mcu_copy_planes;
        if (ch == 3) return oc == COLOR_BGR ? mcu_copy_planes : mcu_interleave3;
        if (ch == 4) return oc == COLOR_CMYK ? mcu_interleave3_alpha : mcu_copy_planes;
        return nullptr;
    }
    if (f == 4) {
        if (ch == 3) return mcu_copy_planes;
        if (ch == 4) return mcu_interleave4;
    }
    return nullptr;
}

inline int32_t ceil_div(int32_t a, int32_t b) { return (a + b - 1) / b; }

} // namespace

int32_t select_output(JPEG_PROPERTIES *props) {
    KERNEL_TABLE *kt = props->kernel_table;
    if (kt != nullptr) kt->mcu_writer = nullptr;

    const int32_t jc = props->jpeg_color;
    const int32_t oc = props->image_color;
    props->needs_color_conversion = (jc == COLOR_GRAY || jc == COLOR_RGB || jc == COLOR_CMYK ||
                                     jc == COLOR_OTHER || oc == COLOR_YCBCR || oc == COLOR_GRAY)
                                        ? 0
                                        : 1;

    // The record holds four components; counts beyond are refused like those
    // outside 1..255, before the component array is read.
    const int32_t f = props->frame_component_count;
    if (f < 1 || f > QRL_MAX_COMPONENTS || props->frame_components == nullptr) return JPEG_ERR_COMP;
    COMPONENT_INFO *c = props->frame_components;
    for (int32_t i = 0; i < f; ++i) {
        if (c[i].h_sampling < 1 || c[i].h_sampling > QRL_MAX_SAMPLING || c[i].v_sampling < 1 ||
            c[i].v_sampling > QRL_MAX_SAMPLING)
            return JPEG_ERR_COMP;
    }
    // A single component is not subsampled against anything: its MCU is one block.
    if (f == 1) c[0].h_sampling = c[0].v_sampling = 1;

    int32_t max_h = 1, max_v = 1;
    bool sampled = false;
    for (int32_t i = 0; i < f; ++i) {
        if (c[i].h_sampling > max_h) max_h = c[i].h_sampling;
        if (c[i].v_sampling > max_v) max_v = c[i].v_sampling;
        sampled = sampled || c[i].h_sampling != 1 || c[i].v_sampling != 1;
    }
    props->max_h_sampling = max_h;
    props->max_v_sampling = max_v;
    props->needs_upsampling = sampled && oc != COLOR_YCBCR ? 1 : 0;
    const int32_t width = props->jpeg_width < 0 ? -props->jpeg_width : props->jpeg_width;
    const int32_t height = props->jpeg_height < 0 ? -props->jpeg_height : props->jpeg_height;
    props->mcus_per_row = ceil_div(width, 8 * max_h);
    props->mcu_rows = ceil_div(height, 8 * max_v);

    const Layout layout = classify(props);
    if (f == 3 && jc == COLOR_YCBCR && oc == COLOR_YCBCR && layout != Layout::H2V1) return JPEG_INVALID_PROPERTIES;
    if (kt == nullptr) return JPEG_OK;

    if (props->partial_scan == 1 && props->scans_done == 0) {
        // Components in separate scans: each scan writes its own channels.
        kt->mcu_writer = oc == COLOR_YCBCR && props->image_channels == 2 ? mcu_packed422_scan : mcu_scan_planes;
        return JPEG_OK;
    }
    kt->mcu_writer = choose(props, layout);
    return JPEG_OK;
}

bool output_routine_ready(const JPEG_PROPERTIES *props) {
    return props->kernel_table != nullptr && props->kernel_table->mcu_writer != nullptr;
}

} // namespace qrl
