#include "pixels/block_rect.h"

namespace qrl {

namespace {
constexpr int32_t min3(int32_t a, int32_t b, int32_t c) {
    int32_t m = a < b ? a : b;
    return m < c ? m : c;
}
} // namespace

int32_t place_block(const int32_t roi[4], int32_t bw, int32_t bh, int32_t column, int32_t row,
                    int32_t channels, int32_t line_bytes, uint8_t *origin, int32_t width,
                    int32_t height, uint8_t **address, BLOCK_RECT *visible) {
    const int32_t abs_height = height < 0 ? -height : height;
    const int32_t x = column * bw;
    const int32_t y = row * bh;
    const int32_t left = roi[0], top = roi[1], right = roi[2], bottom = roi[3];
    if (left == 0 && top == 0 && right == 0 && bottom == 0) {
        *address = origin + static_cast<intptr_t>(x) * channels + static_cast<intptr_t>(y) * line_bytes;
        *visible = {0, 0, bw < width - x ? bw : width - x, bh < abs_height - y ? bh : abs_height - y};
        return JPEG_OK;
    }
    if (x >= right || x + bw < left || y >= bottom || y + bh < top) return JPEG_INVALID_PROPERTIES;
    *address = origin + static_cast<intptr_t>(x - left) * channels +
               static_cast<intptr_t>(y - top) * line_bytes;
    visible->left = left - x > 0 ? left - x : 0;
    visible->right = min3(bw, right - x, left - x + width);
    visible->top = top - y > 0 ? top - y : 0;
    visible->bottom = min3(bh, bottom - y, top - y + abs_height);
    return JPEG_OK;
}

int32_t place_mcu_block(JPEG_PROPERTIES *props, int32_t bw, int32_t bh, int32_t column, int32_t row,
                        int32_t channels, uint8_t **address, BLOCK_RECT *visible) {
    return place_block(props->roi, bw, bh, column, row, channels, props->line_bytes,
                       props->image_pixels, props->image_width, props->image_height, address,
                       visible);
}

} // namespace qrl
