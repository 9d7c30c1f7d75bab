#include "jobs.h"

#include <algorithm>
#include <cstdio>
#include <cstddef>
#include <cstring>

namespace qrl_tools {

std::string codec_failure(const char *step, int32_t code) {
    return std::string(step) + " failed with error " + std::to_string(code) + ": " + codec_error_text(code);
}

int planned_channels(OutColor color) {
    return color == OutColor::gray ? 1 : (color == OutColor::cmyk ? 4 : 3);
}

bool read_whole_file(const std::string &path, std::vector<uint8_t> &data) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    data.clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), f)) > 0) data.insert(data.end(), chunk, chunk + got);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

namespace {

constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 30; // 1 GiB, like the library's coefficient bound

int32_t scaled_mode(int scale) {
    switch (scale) {
    case 2: return JPEG_IO_DECODE_HALF_MEM;
    case 4: return JPEG_IO_DECODE_QUARTER_MEM;
    case 8: return JPEG_IO_DECODE_EIGHTH_MEM;
    default: return JPEG_IO_DECODE_MEM;
    }
}

// The public fields as codec_init leaves them. A record kept for many files
// starts every file from them: they are the inputs of the next call, and a
// header read checks the previous file's JPEG color against the pixel layout.
void reset_public_fields(JPEG_CODEC_RECORD *r) {
    std::memset(r, 0, offsetof(JPEG_CODEC_RECORD, props));
    r->image_channels = 3;
    r->image_color = COLOR_BGR;
    r->image_subsampling = SUBSAMPLING_NONE;
    r->jpeg_channels = 3;
    r->jpeg_color = COLOR_YCBCR;
    r->jpeg_subsampling = SUBSAMPLING_2X2;
    r->needs_color_conversion = 1;
    r->needs_upsampling = 1;
    r->jpeg_quality = 75;
}

} // namespace

std::string decode_jpeg(JPEG_CODEC_RECORD *rec, std::vector<uint8_t> &jpeg, const DecodeRequest &o, Image &out,
                        const char *&tuple_type, uint64_t &calls) {
    calls = 0;
    tuple_type = nullptr;
    if (jpeg.empty()) return "the file is empty";
    if (jpeg.size() > 0x7FFFFFFFu) return "the file is too large";
    reset_public_fields(rec);
    rec->jpeg_buffer = jpeg.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    int32_t rc = codec_read(rec, JPEG_IO_READ_HEADER_MEM);
    if (rc != JPEG_OK) return codec_failure("header read", rc);

    int channels = 3;
    int32_t color = COLOR_RGB;
    switch (o.color) {
    case OutColor::rgb: break;
    case OutColor::bgr: color = COLOR_BGR; break;
    case OutColor::gray: color = COLOR_GRAY; channels = 1; break;
    case OutColor::cmyk: color = COLOR_CMYK; channels = 4; tuple_type = "CMYK"; break;
    case OutColor::ycbcr:
        color = COLOR_YCBCR;
        tuple_type = "YCbCr";
        // 2x1 frames come out as packed Y Cb Y Cr pairs, 1x1 frames as three
        // interleaved planes; other layouts have no YCbCr output.
        if (rec->jpeg_subsampling == SUBSAMPLING_2X1) channels = 2;
        else if (rec->jpeg_subsampling == SUBSAMPLING_NONE && rec->jpeg_channels == 3) channels = 3;
        else return "YCbCr output needs a three-component frame sampled 1x1 or 2x1";
        break;
    }
    if (rec->jpeg_channels == 4 && o.color != OutColor::cmyk)
        return "a four-component (CMYK or YCCK) file decodes only with --color cmyk";

    const int full_w = (rec->jpeg_width + o.scale - 1) / o.scale;
    const int full_h = (rec->jpeg_height + o.scale - 1) / o.scale;
    int w = full_w, h = full_h;
    if (o.region) {
        if (o.region_x >= full_w || o.region_y >= full_h)
            return "the region starts outside the " + std::to_string(full_w) + "x" + std::to_string(full_h) +
                   " image";
        w = std::min(o.region_w, full_w - o.region_x);
        h = std::min(o.region_h, full_h - o.region_y);
    }
    if (w < 1 || h < 1) return "the image is empty";

    const size_t stride = static_cast<size_t>(w) * channels + o.pad;
    // A damaged or hostile header can claim 65535 x 65535 pixels; the program
    // refuses output buffers beyond a fixed bound instead of exhausting memory.
    if (static_cast<uint64_t>(stride) * static_cast<uint64_t>(h) > kMaxPixelBytes)
        return "the " + std::to_string(w) + "x" + std::to_string(h) + " output needs more than " +
               std::to_string(kMaxPixelBytes >> 20) + " MiB";
    std::vector<uint8_t> buffer(stride * h, 0);
    rec->image_pixels = buffer.data();
    rec->image_width = w;
    rec->image_height = o.bottom_up ? -h : h;
    rec->image_pad_bytes = o.pad;
    rec->image_channels = channels;
    rec->image_color = color;
    rec->image_subsampling = SUBSAMPLING_NONE;
    rec->props.dct_method = o.fast ? 0 : 1;
    rec->props.smooth_upsampling = o.smooth ? 1 : 0;
    const int32_t roi[4] = {o.region ? o.region_x : 0, o.region ? o.region_y : 0, o.region ? o.region_x + w : 0,
                            o.region ? o.region_y + h : 0};
    std::memcpy(rec->props.roi, roi, sizeof(roi));
    rec->props.interrupt_after_mcu = o.incremental ? 1 : 0;

    const int32_t mode = scaled_mode(o.scale);
    rc = codec_read(rec, mode);
    // Every MCU ends a call in incremental mode; the bound only stops a
    // decoder that never finishes.
    const uint64_t max_calls = 64ull * ((rec->jpeg_width / 8ull + 1) * (rec->jpeg_height / 8ull + 1)) + 1000;
    calls = 1;
    while (rc == JPEG_INTERRUPT_OK && calls < max_calls) {
        // The interrupt reports its position in roi and clears the request
        // flag: restore both before resuming.
        std::memcpy(rec->props.roi, roi, sizeof(roi));
        rec->props.interrupt_after_mcu = 1;
        rc = codec_read(rec, mode);
        ++calls;
    }
    rec->image_pixels = nullptr;
    rec->props.interrupt_after_mcu = 0;
    std::memset(rec->props.roi, 0, sizeof(rec->props.roi));
    if (rc == JPEG_INTERRUPT_OK) return "the decode did not finish after " + std::to_string(calls) + " calls";
    if (rc != JPEG_OK && !(o.region && rc == JPEG_ROI_OK)) return codec_failure("decode", rc);

    // Rows top first, without padding; packed YCbCr pairs become Y, Cb, Cr.
    const int out_channels = channels == 2 ? 3 : channels;
    out.width = w;
    out.height = h;
    out.channels = out_channels;
    out.pixels.resize(static_cast<size_t>(w) * h * out_channels);
    for (int y = 0; y < h; ++y) {
        const uint8_t *src = &buffer[stride * static_cast<size_t>(o.bottom_up ? h - 1 - y : y)];
        uint8_t *dst = &out.pixels[static_cast<size_t>(y) * w * out_channels];
        if (channels != 2) {
            std::memcpy(dst, src, static_cast<size_t>(w) * channels);
            continue;
        }
        for (int x = 0; x < w; ++x) {
            // A pair is Y0 Cb Y1 Cr; an odd width leaves the last pair without Cr.
            const int first = x & ~1;
            const uint8_t *pair = src + first * 2;
            dst[x * 3] = src[x * 2];
            dst[x * 3 + 1] = pair[1];
            dst[x * 3 + 2] = first + 1 < w ? pair[3] : 128;
        }
    }
    return {};
}

std::string encode_to_file(JPEG_CODEC_RECORD *r, Image &image, const EncodeRequest &o, const std::string &output) {
    if (image.channels == 2) {
        // Gray with alpha: the alpha channel is dropped.
        std::vector<uint8_t> gray(image.pixels.size() / 2);
        for (size_t i = 0; i < gray.size(); ++i) gray[i] = image.pixels[2 * i];
        image.pixels.swap(gray);
        image.channels = 1;
    }
    const bool gray_source = image.channels == 1;
    const bool cmyk_source = image.channels == 4 && image.pam_tuple_type == "CMYK";
    reset_public_fields(r);
    r->image_pixels = image.pixels.data();
    r->image_width = image.width;
    r->image_height = image.height;
    r->image_pad_bytes = 0;
    r->image_channels = image.channels;
    r->image_color = gray_source ? COLOR_GRAY : cmyk_source ? COLOR_CMYK : COLOR_RGB;
    r->image_subsampling = SUBSAMPLING_NONE;
    r->jpeg_file_name = output.c_str();
    r->jpeg_width = image.width;
    r->jpeg_height = image.height;
    const bool gray_out = o.gray || gray_source;
    if (cmyk_source && !gray_out) {
        // CMYK is written as it is (Adobe segment, no colour transform).
        r->jpeg_channels = 4;
        r->jpeg_color = COLOR_CMYK;
        r->jpeg_subsampling = SUBSAMPLING_NONE;
    } else {
        r->jpeg_channels = gray_out ? 1 : 3;
        r->jpeg_color = gray_out ? COLOR_GRAY : COLOR_YCBCR;
        r->jpeg_subsampling = gray_out ? SUBSAMPLING_NONE : o.subsampling;
    }
    r->jpeg_quality = o.quality;
    r->props.dct_method = o.fast ? 0 : 1;
    r->props.scans_done = o.progressive ? 1 : 0;
    r->props.restart_interval = o.progressive ? 0 : o.restart;
    r->props.interrupt_after_mcu = 0;
    std::string comment = o.comment;
    if (o.has_comment) {
        r->props.jpeg_comment = reinterpret_cast<uint8_t *>(comment.data());
        r->props.jpeg_comment_size = static_cast<uint16_t>(comment.size() > 65531 ? 65531 : comment.size());
    } else {
        r->props.jpeg_comment = nullptr;
        r->props.jpeg_comment_size = 0;
    }
    const int32_t result = codec_write(r, o.mode);
    r->image_pixels = nullptr;
    r->jpeg_file_name = nullptr;
    r->props.jpeg_comment = nullptr;
    r->props.jpeg_comment_size = 0;
    if (result != JPEG_OK) return codec_failure("encode", result);
    return {};
}

} // namespace qrl_tools
