#include "support/oracle.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <jpeglib.h>
#include <png.h>

namespace qrl_test {

// ---- Synthetic pixels -----------------------------------------------------------

namespace {

uint32_t next_random(uint32_t &state) {
    // xorshift32: cheap, deterministic, good enough for test noise.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

uint8_t clamp_u8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

} // namespace

std::vector<uint8_t> synthetic_pixels(int width, int height, int channels, uint32_t seed) {
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * channels);
    uint32_t state = seed * 2654435761u + 0x9E3779B9u;
    if (state == 0) state = 1;
    const int w = std::max(width, 1), h = std::max(height, 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int gx = x * 255 / w, gy = y * 255 / h;
            const bool checker = ((x / 8) + (y / 8)) % 2 == 0;
            const bool diagonal = (x + y) % 23 < 3;
            // Saturated patches in two corners exercise clamping after the IDCT.
            const bool black = x < w / 6 && y < h / 6;
            const bool white = x >= w - w / 6 && y >= h - h / 6;
            const int noise = static_cast<int>(next_random(state) % 25) - 12;
            // In double: x * x + y * y passes the int range on tall images.
            const double radius2 = static_cast<double>(x) * x + static_cast<double>(y) * y;
            const int ring = static_cast<int>(127.0 + 120.0 * std::sin(radius2 / (8.0 * w + 1.0)));
            for (int c = 0; c < channels; ++c) {
                int v;
                switch (c) {
                case 0: v = gx + (checker ? 40 : -40); break;
                case 1: v = gy + (diagonal ? 90 : 0); break;
                case 2: v = ring; break;
                default: v = 255 - (gx + gy) / 2; break;
                }
                v += noise;
                if (black) v = 0;
                if (white) v = 255;
                out[(static_cast<size_t>(y) * width + x) * channels + c] = clamp_u8(v);
            }
        }
    }
    return out;
}

int tj_pixel_size(int pixel_format) {
    return (pixel_format >= 0 && pixel_format < TJ_NUMPF) ? tjPixelSize[pixel_format] : 0;
}

// ---- TurboJPEG encoding ---------------------------------------------------------

std::vector<uint8_t> tj_encode_pixels(const uint8_t *pixels, int width, int height, int pixel_format,
                                      int subsampling, int quality, int flags) {
    std::vector<uint8_t> result;
    tjhandle handle = tjInitCompress();
    if (handle == nullptr) {
        ADD_FAILURE() << "tjInitCompress failed";
        return result;
    }
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    const int pitch = width * tj_pixel_size(pixel_format);
    if (tjCompress2(handle, pixels, width, pitch, height, pixel_format, &jpeg, &size, subsampling, quality,
                    flags) != 0) {
        ADD_FAILURE() << "tjCompress2 failed: " << tjGetErrorStr2(handle);
    } else {
        result.assign(jpeg, jpeg + size);
    }
    tjFree(jpeg);
    tjDestroy(handle);
    return result;
}

std::vector<uint8_t> tj_encode(const TjEncodeOptions &o) {
    const int ps = tj_pixel_size(o.pixel_format);
    std::vector<uint8_t> pixels;
    if (ps == 3 || ps == 1 || o.pixel_format == TJPF_CMYK) {
        pixels = synthetic_pixels(o.width, o.height, ps, o.seed);
    } else {
        // 4-byte RGB layouts: synthetic RGB spread into the right slots.
        const std::vector<uint8_t> rgb = synthetic_pixels(o.width, o.height, 3, o.seed);
        pixels.assign(static_cast<size_t>(o.width) * o.height * ps, 255);
        for (size_t i = 0; i < static_cast<size_t>(o.width) * o.height; ++i)
            for (int c = 0; c < 3; ++c) {
                const int off = c == 0 ? tjRedOffset[o.pixel_format]
                                       : (c == 1 ? tjGreenOffset[o.pixel_format] : tjBlueOffset[o.pixel_format]);
                pixels[i * ps + off] = rgb[i * 3 + c];
            }
    }
    return tj_encode_pixels(pixels.data(), o.width, o.height, o.pixel_format, o.subsampling, o.quality, o.flags);
}

// ---- libjpeg encoding ----------------------------------------------------------------

namespace {

struct ErrorTrap {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void trap_error_exit(j_common_ptr cinfo) {
    ErrorTrap *trap = reinterpret_cast<ErrorTrap *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, trap->message);
    std::longjmp(trap->jump, 1);
}

void quiet_output(j_common_ptr) {}

// Everything that needs cleaning up after a longjmp lives outside the frame
// that calls setjmp, so no C++ destructor is skipped.
struct EncodeState {
    jpeg_compress_struct cinfo;
    ErrorTrap trap;
    unsigned char *out = nullptr;
    unsigned long out_size = 0;
    std::vector<uint8_t> pixels;
    jpeg_scan_info scans[4];
    bool created = false;
};

bool run_libjpeg_encode(EncodeState &s, const LibjpegEncodeOptions &o) {
    s.cinfo.err = jpeg_std_error(&s.trap.mgr);
    s.trap.mgr.error_exit = trap_error_exit;
    s.trap.mgr.output_message = quiet_output;
    s.trap.message[0] = '\0';
    if (setjmp(s.trap.jump) != 0) return false;
    jpeg_create_compress(&s.cinfo);
    s.created = true;
    jpeg_mem_dest(&s.cinfo, &s.out, &s.out_size);

    int components = 3;
    J_COLOR_SPACE in_space = JCS_RGB, jpeg_space = JCS_YCbCr;
    switch (o.layout) {
    case JpegLayout::ycbcr: break;
    case JpegLayout::rgb: jpeg_space = JCS_RGB; break;
    case JpegLayout::gray: components = 1; in_space = jpeg_space = JCS_GRAYSCALE; break;
    case JpegLayout::cmyk: components = 4; in_space = jpeg_space = JCS_CMYK; break;
    case JpegLayout::ycck: components = 4; in_space = JCS_CMYK; jpeg_space = JCS_YCCK; break;
    }
    s.cinfo.image_width = static_cast<JDIMENSION>(o.width);
    s.cinfo.image_height = static_cast<JDIMENSION>(o.height);
    s.cinfo.input_components = components;
    s.cinfo.in_color_space = in_space;
    jpeg_set_defaults(&s.cinfo);
    jpeg_set_colorspace(&s.cinfo, jpeg_space);
    jpeg_set_quality(&s.cinfo, o.quality, TRUE);
    if (o.extended) {
        // One 16-bit quantizer entry makes the frame extended sequential (SOF1).
        for (int t = 0; t < 2; ++t)
            if (s.cinfo.quant_tbl_ptrs[t] != nullptr) s.cinfo.quant_tbl_ptrs[t]->quantval[63] = 300;
    }
    for (int c = 0; c < components; ++c) {
        if (o.h_samp[c] > 0) s.cinfo.comp_info[c].h_samp_factor = o.h_samp[c];
        if (o.v_samp[c] > 0) s.cinfo.comp_info[c].v_samp_factor = o.v_samp[c];
    }
    s.cinfo.restart_interval = static_cast<unsigned int>(o.restart_interval);
    if (o.restart_interval == 0) s.cinfo.restart_in_rows = o.restart_in_rows;
    s.cinfo.optimize_coding = o.optimize_coding ? TRUE : FALSE;
    s.cinfo.dct_method = o.fast_dct ? JDCT_IFAST : JDCT_ISLOW;
    s.cinfo.write_JFIF_header = (o.write_jfif && (o.layout == JpegLayout::ycbcr || o.layout == JpegLayout::gray))
                                    ? TRUE
                                    : FALSE;
    if (o.write_adobe) s.cinfo.write_Adobe_marker = TRUE;
    if (o.progressive) {
        jpeg_simple_progression(&s.cinfo);
    } else if (o.scan_per_component && components > 1) {
        for (int c = 0; c < components; ++c) {
            s.scans[c] = jpeg_scan_info{};
            s.scans[c].comps_in_scan = 1;
            s.scans[c].component_index[0] = c;
            s.scans[c].Ss = 0;
            s.scans[c].Se = 63;
            s.scans[c].Ah = 0;
            s.scans[c].Al = 0;
        }
        s.cinfo.scan_info = s.scans;
        s.cinfo.num_scans = components;
    }
    jpeg_start_compress(&s.cinfo, TRUE);
    const size_t stride = static_cast<size_t>(o.width) * components;
    while (s.cinfo.next_scanline < s.cinfo.image_height) {
        JSAMPROW row = s.pixels.data() + stride * s.cinfo.next_scanline;
        jpeg_write_scanlines(&s.cinfo, &row, 1);
    }
    jpeg_finish_compress(&s.cinfo);
    return true;
}

} // namespace

std::vector<uint8_t> libjpeg_encode(const LibjpegEncodeOptions &o) {
    EncodeState s;
    std::memset(&s.cinfo, 0, sizeof(s.cinfo));
    const int components = o.layout == JpegLayout::gray ? 1
                           : (o.layout == JpegLayout::cmyk || o.layout == JpegLayout::ycck) ? 4
                                                                                             : 3;
    s.pixels = synthetic_pixels(o.width, o.height, components, o.seed);
    const bool ok = run_libjpeg_encode(s, o);
    std::vector<uint8_t> result;
    if (ok && s.out != nullptr) result.assign(s.out, s.out + s.out_size);
    if (!ok) ADD_FAILURE() << "libjpeg encode failed: " << s.trap.message;
    if (s.created) jpeg_destroy_compress(&s.cinfo);
    std::free(s.out);
    return result;
}

// ---- TurboJPEG decoding -----------------------------------------------------------------

namespace {

struct DecodeState {
    jpeg_decompress_struct dinfo;
    ErrorTrap trap;
    bool created = false;
};

// The libjpeg API equivalent of tjDecompress2 for the layouts the TurboJPEG
// header query cannot classify (unusual sampling factors).
bool run_libjpeg_decode(DecodeState &s, const uint8_t *jpeg, size_t size, int pixel_format, int flags,
                        int scale, DecodedImage &img) {
    s.dinfo.err = jpeg_std_error(&s.trap.mgr);
    s.trap.mgr.error_exit = trap_error_exit;
    s.trap.mgr.output_message = quiet_output;
    s.trap.message[0] = '\0';
    if (setjmp(s.trap.jump) != 0) return false;
    jpeg_create_decompress(&s.dinfo);
    s.created = true;
    jpeg_mem_src(&s.dinfo, jpeg, static_cast<unsigned long>(size));
    jpeg_read_header(&s.dinfo, TRUE);
    switch (pixel_format) {
    case TJPF_GRAY: s.dinfo.out_color_space = JCS_GRAYSCALE; break;
    case TJPF_CMYK: s.dinfo.out_color_space = JCS_CMYK; break;
    case TJPF_BGR: s.dinfo.out_color_space = JCS_EXT_BGR; break;
    default: s.dinfo.out_color_space = JCS_RGB; break;
    }
    s.dinfo.do_fancy_upsampling = (flags & TJFLAG_FASTUPSAMPLE) != 0 ? FALSE : TRUE;
    s.dinfo.dct_method = (flags & TJFLAG_FASTDCT) != 0 ? JDCT_IFAST : JDCT_ISLOW;
    if ((flags & kOracleNoBlockSmoothing) != 0) s.dinfo.do_block_smoothing = FALSE;
    s.dinfo.scale_num = 1;
    s.dinfo.scale_denom = static_cast<unsigned int>(scale);
    jpeg_start_decompress(&s.dinfo);
    img.width = static_cast<int>(s.dinfo.output_width);
    img.height = static_cast<int>(s.dinfo.output_height);
    img.channels = s.dinfo.output_components;
    img.pixels.assign(static_cast<size_t>(img.width) * img.height * img.channels, 0);
    const size_t stride = static_cast<size_t>(img.width) * img.channels;
    while (s.dinfo.output_scanline < s.dinfo.output_height) {
        JSAMPROW row = img.pixels.data() + stride * s.dinfo.output_scanline;
        jpeg_read_scanlines(&s.dinfo, &row, 1);
    }
    jpeg_finish_decompress(&s.dinfo);
    return true;
}

DecodedImage libjpeg_decode(const uint8_t *jpeg, size_t size, int pixel_format, int flags, int scale) {
    DecodedImage img;
    DecodeState s;
    std::memset(&s.dinfo, 0, sizeof(s.dinfo));
    if (!run_libjpeg_decode(s, jpeg, size, pixel_format, flags, scale, img))
        img.error = std::string("libjpeg decode: ") + s.trap.message;
    if (s.created) jpeg_destroy_decompress(&s.dinfo);
    return img;
}

} // namespace

DecodedImage tj_decode(const uint8_t *jpeg, size_t size, int pixel_format, int flags) {
    return tj_decode_scaled(jpeg, size, pixel_format, flags, 1);
}

namespace {

// True when tjDecompress2, asked for ceil(w / scale) x ceil(h / scale), picks
// the factor 1/scale: it takes the largest of its factors whose result fits,
// and on tiny images a larger one (1/2 for a 2x2 image asked for 1x1) does.
bool tj_picks_exact_factor(int w, int h, int scale) {
    const int want_w = (w + scale - 1) / scale, want_h = (h + scale - 1) / scale;
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num * scale <= f.denom) continue; // not larger than 1/scale
        if (TJSCALED(w, f) <= want_w && TJSCALED(h, f) <= want_h) return false;
    }
    return true;
}

} // namespace

DecodedImage tj_decode_scaled(const uint8_t *jpeg, size_t size, int pixel_format, int flags, int scale) {
    if ((flags & kOracleNoBlockSmoothing) != 0) return libjpeg_decode(jpeg, size, pixel_format, flags, scale);
    DecodedImage img;
    tjhandle handle = tjInitDecompress();
    if (handle == nullptr) {
        img.error = "tjInitDecompress failed";
        return img;
    }
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg, static_cast<unsigned long>(size), &w, &h, &subsamp, &colorspace) != 0) {
        // TurboJPEG refuses sampling layouts it has no name for; the libjpeg
        // API decodes them with the same settings.
        const std::string error = tjGetErrorStr2(handle);
        tjDestroy(handle);
        if (error.find("subsampling") != std::string::npos)
            return libjpeg_decode(jpeg, size, pixel_format, flags, scale);
        img.error = "tjDecompressHeader3: " + error;
        return img;
    }
    // Asked for ceil(w / scale) x ceil(h / scale), tjDecompress2 decodes at
    // 1/scale unless a larger factor gives that size too; the libjpeg API
    // then decodes at exactly 1/scale with the same settings.
    if (!tj_picks_exact_factor(w, h, scale)) {
        tjDestroy(handle);
        return libjpeg_decode(jpeg, size, pixel_format, flags, scale);
    }
    w = (w + scale - 1) / scale;
    h = (h + scale - 1) / scale;
    img.width = w;
    img.height = h;
    img.channels = tj_pixel_size(pixel_format);
    img.pixels.assign(static_cast<size_t>(w) * h * img.channels, 0);
    if (tjDecompress2(handle, jpeg, static_cast<unsigned long>(size), img.pixels.data(), w, w * img.channels, h,
                      pixel_format, flags) != 0) {
        // Warnings (for example a truncated stream) still deliver pixels.
        if (tjGetErrorCode(handle) != TJERR_WARNING)
            img.error = std::string("tjDecompress2: ") + tjGetErrorStr2(handle);
    }
    tjDestroy(handle);
    return img;
}

DecodedImage tj_decode(const std::vector<uint8_t> &jpeg, int pixel_format, int flags) {
    return tj_decode(jpeg.data(), jpeg.size(), pixel_format, flags);
}

// ---- Comparison ------------------------------------------------------------------------

DiffStats compare_images(const uint8_t *a, size_t stride_a, const uint8_t *b, size_t stride_b, int width,
                         int height, int channels) {
    DiffStats d;
    const size_t row = static_cast<size_t>(width) * channels;
    if (stride_a == 0) stride_a = row;
    if (stride_b == 0) stride_b = row;
    double sum = 0.0, sq = 0.0;
    for (int y = 0; y < height; ++y) {
        const uint8_t *ra = a + stride_a * y;
        const uint8_t *rb = b + stride_b * y;
        for (size_t i = 0; i < row; ++i) {
            const int diff = std::abs(static_cast<int>(ra[i]) - static_cast<int>(rb[i]));
            if (diff != 0) ++d.differing;
            if (diff > d.max_abs) {
                d.max_abs = diff;
                d.worst_x = static_cast<int>(i / channels);
                d.worst_y = y;
                d.worst_channel = static_cast<int>(i % channels);
            }
            sum += diff;
            sq += static_cast<double>(diff) * diff;
        }
    }
    const double n = static_cast<double>(row) * height;
    d.mean_abs = n > 0 ? sum / n : 0.0;
    const double mse = n > 0 ? sq / n : 0.0;
    d.psnr = mse == 0.0 ? 999.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
    return d;
}

bool write_png_file(const std::string &path, const uint8_t *pixels, size_t stride, int width, int height,
                    int channels) {
    if (channels < 1 || channels > 4 || width <= 0 || height <= 0) return false;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    static constexpr png_uint_32 kFormats[4] = {PNG_FORMAT_GRAY, PNG_FORMAT_GA, PNG_FORMAT_RGB, PNG_FORMAT_RGBA};
    image.format = kFormats[channels - 1];
    if (stride == 0) stride = static_cast<size_t>(width) * channels;
    const int ok = png_image_write_to_stdio(&image, f, 0, pixels, static_cast<png_int_32>(stride), nullptr);
    png_image_free(&image);
    return std::fclose(f) == 0 && ok != 0;
}

std::string sanitize_name(const std::string &name) {
    std::string s = name;
    for (char &c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) c = '_';
    return s;
}

std::string write_diff_png(const std::string &name, const uint8_t *ours, size_t stride_ours, const uint8_t *ref,
                           size_t stride_ref, int width, int height, int channels, int limit) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(QRL_BINARY_DIR) / "test_diffs";
    std::error_code ec;
    fs::create_directories(dir, ec);
    const std::string base = (dir / sanitize_name(name)).string();
    const size_t row = static_cast<size_t>(width) * channels;
    if (stride_ours == 0) stride_ours = row;
    if (stride_ref == 0) stride_ref = row;
    std::vector<uint8_t> diff(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int worst = 0;
            for (int c = 0; c < channels; ++c) {
                const size_t i = static_cast<size_t>(x) * channels + c;
                worst = std::max(worst, std::abs(int(ours[stride_ours * y + i]) - int(ref[stride_ref * y + i])));
            }
            uint8_t *p = &diff[(static_cast<size_t>(y) * width + x) * 3];
            const uint8_t g = clamp_u8(worst * 16);
            p[0] = worst > limit ? 255 : g;
            p[1] = worst > limit ? 0 : g;
            p[2] = worst > limit ? 0 : g;
        }
    write_png_file(base + "-diff.png", diff.data(), 0, width, height, 3);
    // Four-channel buffers are saved as the first three planes only when they
    // are not RGBA-like; PNG cannot hold CMYK, so keep them as RGBA for viewing.
    write_png_file(base + "-ours.png", ours, stride_ours, width, height, channels);
    write_png_file(base + "-ref.png", ref, stride_ref, width, height, channels);
    return base + "-diff.png";
}

::testing::AssertionResult images_close(const std::string &name, const uint8_t *ours, size_t stride_ours,
                                        const uint8_t *ref, size_t stride_ref, int width, int height,
                                        int channels, const Limits &limits) {
    const DiffStats d = compare_images(ours, stride_ours, ref, stride_ref, width, height, channels);
    const bool ok = d.max_abs <= limits.max_abs && d.mean_abs <= limits.mean_abs &&
                    (limits.min_psnr <= 0.0 || d.psnr >= limits.min_psnr);
    if (ok) return ::testing::AssertionSuccess();
    const std::string path =
        write_diff_png(name, ours, stride_ours, ref, stride_ref, width, height, channels, limits.max_abs);
    return ::testing::AssertionFailure()
           << name << " (" << width << "x" << height << "x" << channels << "): max diff " << d.max_abs
           << " at (" << d.worst_x << "," << d.worst_y << ") channel " << d.worst_channel << " [limit "
           << limits.max_abs << "], mean " << d.mean_abs << " [limit " << limits.mean_abs << "], PSNR " << d.psnr
           << " dB [min " << limits.min_psnr << "], " << d.differing << " samples differ; diff image " << path;
}

} // namespace qrl_test
