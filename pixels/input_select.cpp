// Choice of the encoder's MCU input routine (kernel slot mcu_reader).
#include "dispatch/kernel_table.h"
#include "pixels/input.h"

namespace qrl {
namespace {

enum class Layout { Full, H2V1, H2V2, Other };

// 2x2 / 2x1: component 0 (and a fourth component) at that sampling, the
// chroma components 1x1; Full: every component 1x1.
Layout frame_layout(const JPEG_PROPERTIES *props) {
    const int32_t f = props->frame_component_count;
    const COMPONENT_INFO *c = props->frame_components;
    bool all_one = true;
    for (int32_t i = 0; i < f; ++i)
        if (c[i].h_sampling != 1 || c[i].v_sampling != 1) all_one = false;
    if (all_one) return Layout::Full;
    if (f != 3 && f != 4) return Layout::Other;
    if (c[1].h_sampling != 1 || c[1].v_sampling != 1 || c[2].h_sampling != 1 || c[2].v_sampling != 1)
        return Layout::Other;
    const int32_t h = c[0].h_sampling, v = c[0].v_sampling;
    if (f == 4 && (c[3].h_sampling != h || c[3].v_sampling != v)) return Layout::Other;
    if (h == 2 && v == 2) return Layout::H2V2;
    if (h == 2 && v == 1) return Layout::H2V1;
    return Layout::Other;
}

McuInputFn choose(const JPEG_PROPERTIES *props) {
    const int32_t f = props->frame_component_count;
    const int32_t ch = props->image_channels;
    const int32_t ic = props->image_color;
    const int32_t jc = props->jpeg_color;
    const Layout layout = frame_layout(props);
    const bool sub = layout == Layout::H2V1 || layout == Layout::H2V2;
    const int32_t h = layout == Layout::Full ? 1 : 2;
    const int32_t v = layout == Layout::H2V2 ? 2 : 1;

    // Packed Y Cb Y Cr input has exactly one reader.
    if (props->image_subsampling == SUBSAMPLING_2X1)
        return f == 3 && layout == Layout::H2V1 ? fast_input_reader(FastInput::Packed422, 2, 1) : nullptr;

    if (props->needs_upsampling != 0 && props->needs_color_conversion != 0) {
        if (!sub) return nullptr;
        if (f == 3 && ic == COLOR_RGB && ch == 3) return fast_input_reader(FastInput::Rgb, h, v);
        if (f == 3 && ic == COLOR_RGB && ch == 4) return generic_input_reader(GenericInput::Convert);
        if (f == 3 && ic == COLOR_BGR && ch == 3) return fast_input_reader(FastInput::Bgr, h, v);
        if (f == 4 && ic == COLOR_CMYK && ch == 4) return fast_input_reader(FastInput::Cmyk, h, v);
        return nullptr;
    }
    if (props->needs_upsampling != 0) {
        if (f == 3 && ch == 3 && ic != COLOR_BGR) {
            if (!sub) return nullptr;
            return fast_input_reader(FastInput::Deinterleave3, h, v);
        }
        if (layout == Layout::Other && f != 3 && f != 4) return nullptr;
        return generic_input_reader(GenericInput::Downsample);
    }
    if (layout != Layout::Full) return nullptr;
    if (props->needs_color_conversion != 0) {
        if (f == 1 && ch == 3) return generic_input_reader(GenericInput::GrayFromColor);
        if (f == 3 && ch == 3 && ic == COLOR_RGB) return fast_input_reader(FastInput::Rgb, 1, 1);
        if (f == 3 && ch == 3 && ic == COLOR_BGR) return fast_input_reader(FastInput::Bgr, 1, 1);
        if (f == 3 && ch == 4) return generic_input_reader(GenericInput::Convert);
        if (f == 4 && ch == 4 && ic == COLOR_CMYK) return fast_input_reader(FastInput::Cmyk, 1, 1);
        return nullptr;
    }
    if (f == 1 && ic == COLOR_GRAY && jc == COLOR_GRAY && ch == 1)
        return fast_input_reader(FastInput::Gray, 1, 1);
    if (f == 3 && ch == 1 && jc == COLOR_YCBCR) return generic_input_reader(GenericInput::Copy);
    if (f == 3 && ch == 3 && ic == COLOR_BGR) return generic_input_reader(GenericInput::Copy);
    if (f == 3 && ch == 3) return fast_input_reader(FastInput::Deinterleave3, 1, 1);
    if (f == 3 && ch == 4) return generic_input_reader(GenericInput::Copy);
    // The four-channel kernel reads exactly four bytes per pixel.
    if (f == 4 && ch == 4) return fast_input_reader(FastInput::Deinterleave4, 1, 1);
    if (f == 4) return generic_input_reader(GenericInput::Copy);
    if (jc == COLOR_OTHER && ic == COLOR_OTHER) return generic_input_reader(GenericInput::Copy);
    return nullptr;
}

} // namespace

int32_t select_input(JPEG_PROPERTIES *props) {
    if (props->partial_scan != 0) return JPEG_INVALID_PROPERTIES;
    const int32_t f = props->frame_component_count;
    if (f < 1 || f > QRL_MAX_COMPONENTS || props->frame_components == nullptr) return JPEG_ERR_COMP;
    if (props->max_h_sampling < 1 || props->max_h_sampling > 2 || props->max_v_sampling < 1 ||
        props->max_v_sampling > 2)
        return JPEG_INVALID_PROPERTIES;
    const McuInputFn reader = choose(props);
    if (reader == nullptr) return JPEG_INVALID_PROPERTIES;
    props->kernel_table->mcu_reader = reader;
    return JPEG_OK;
}

} // namespace qrl
