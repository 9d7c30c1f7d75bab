#include "image_io.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

// QRL_HAVE_PNG=0 (set by the build where no libpng exists, as for the
// Windows toolchains) leaves PNG out: reading or writing one is an error.
#ifndef QRL_HAVE_PNG
#define QRL_HAVE_PNG 1
#endif
#if QRL_HAVE_PNG
#include <png.h>
#endif

namespace qrl_tools {

namespace {

// Closes the file when the scope ends.
struct File {
    std::FILE *f = nullptr;
    File(const std::string &path, const char *mode) : f(std::fopen(path.c_str(), mode)) {}
    ~File() {
        if (f != nullptr) std::fclose(f);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    // Closes now and reports whether everything written reached the file.
    bool close() {
        const bool ok = f != nullptr && std::ferror(f) == 0 && std::fclose(f) == 0;
        f = nullptr;
        return ok;
    }
};

std::string lower_extension(const std::string &path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool write_rows(std::FILE *f, const uint8_t *pixels, size_t stride, int width, int height, int channels) {
    const size_t row = static_cast<size_t>(width) * channels;
    for (int y = 0; y < height; ++y)
        if (std::fwrite(pixels + stride * y, 1, row, f) != row) return false;
    return true;
}

#if QRL_HAVE_PNG
std::string write_png(const std::string &path, const uint8_t *pixels, size_t stride, int width, int height,
                      int channels) {
    File file(path, "wb");
    if (file.f == nullptr) return "cannot create the file";
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    static constexpr png_uint_32 kFormats[4] = {PNG_FORMAT_GRAY, PNG_FORMAT_GA, PNG_FORMAT_RGB, PNG_FORMAT_RGBA};
    image.format = kFormats[channels - 1];
    const int ok = png_image_write_to_stdio(&image, file.f, 0, pixels, static_cast<png_int_32>(stride), nullptr);
    std::string error = ok ? std::string() : std::string("libpng: ") + image.message;
    png_image_free(&image);
    if (!file.close() && error.empty()) error = "write error";
    return error;
}
#else
std::string write_png(const std::string &, const uint8_t *, size_t, int, int, int) {
    return "PNG is not supported by this build (no libpng)";
}
#endif

std::string write_pnm(const std::string &path, ImageFormat format, const uint8_t *pixels, size_t stride, int width,
                      int height, int channels, const char *tuple_type) {
    File file(path, "wb");
    if (file.f == nullptr) return "cannot create the file";
    if (format == ImageFormat::pam) {
        static constexpr const char *kTupleTypes[4] = {"GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "CMYK"};
        std::fprintf(file.f, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n", width, height,
                     channels, tuple_type != nullptr ? tuple_type : kTupleTypes[channels - 1]);
    } else {
        std::fprintf(file.f, "%s\n%d %d\n255\n", format == ImageFormat::ppm ? "P6" : "P5", width, height);
    }
    if (!write_rows(file.f, pixels, stride, width, height, channels)) return "write error";
    return file.close() ? std::string() : "write error";
}

void put_le(std::vector<uint8_t> &out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// 24-bit BMP, rows bottom-up, each padded to 4 bytes; gray is expanded.
std::string write_bmp(const std::string &path, const uint8_t *pixels, size_t stride, int width, int height,
                      int channels) {
    const uint64_t row_bytes = (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3};
    const uint64_t data_size = row_bytes * static_cast<uint64_t>(height);
    if (data_size + 54 > 0xFFFFFFFFu) return "image too large for BMP";
    std::vector<uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    put_le(header, static_cast<uint32_t>(54 + data_size), 4);
    put_le(header, 0, 4);
    put_le(header, 54, 4);
    put_le(header, 40, 4); // BITMAPINFOHEADER
    put_le(header, static_cast<uint32_t>(width), 4);
    put_le(header, static_cast<uint32_t>(height), 4);
    put_le(header, 1, 2);
    put_le(header, 24, 2);
    put_le(header, 0, 4);
    put_le(header, static_cast<uint32_t>(data_size), 4);
    put_le(header, 2835, 4); // 72 dpi
    put_le(header, 2835, 4);
    put_le(header, 0, 4);
    put_le(header, 0, 4);
    File file(path, "wb");
    if (file.f == nullptr) return "cannot create the file";
    if (std::fwrite(header.data(), 1, header.size(), file.f) != header.size()) return "write error";
    std::vector<uint8_t> row(row_bytes, 0);
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t *src = pixels + stride * y;
        for (int x = 0; x < width; ++x) {
            const uint8_t r = src[x * channels], g = src[x * channels + (channels == 3 ? 1 : 0)],
                          b = src[x * channels + (channels == 3 ? 2 : 0)];
            row[x * 3] = b;
            row[x * 3 + 1] = g;
            row[x * 3 + 2] = r;
        }
        if (std::fwrite(row.data(), 1, row.size(), file.f) != row.size()) return "write error";
    }
    return file.close() ? std::string() : "write error";
}

// ---- Readers -----------------------------------------------------------------

#if QRL_HAVE_PNG
std::string read_png(const std::string &path, Image &out) {
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return std::string("libpng: ") + image.message;
    const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    const bool color = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    image.format = color ? (alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB) : (alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.channels = static_cast<int>(PNG_IMAGE_SAMPLE_CHANNELS(image.format));
    out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        std::string error = std::string("libpng: ") + image.message;
        png_image_free(&image);
        return error;
    }
    return {};
}
#else
std::string read_png(const std::string &, Image &) { return "PNG is not supported by this build (no libpng)"; }
#endif

// Reads one header number of a PNM file, skipping blanks and # comments.
bool read_pnm_number(std::FILE *f, long &value) {
    int c = std::fgetc(f);
    for (;;) {
        while (c != EOF && std::isspace(c)) c = std::fgetc(f);
        if (c != '#') break;
        while (c != EOF && c != '\n') c = std::fgetc(f);
    }
    if (c == EOF || !std::isdigit(c)) return false;
    value = 0;
    while (c != EOF && std::isdigit(c)) {
        value = value * 10 + (c - '0');
        if (value > 1000000) return false;
        c = std::fgetc(f);
    }
    // Exactly one blank ends the header's last number; it is consumed here.
    return c != EOF && std::isspace(c);
}

std::string read_pnm(std::FILE *f, int channels, Image &out) {
    long w = 0, h = 0, maxval = 0;
    if (!read_pnm_number(f, w) || !read_pnm_number(f, h) || !read_pnm_number(f, maxval))
        return "bad PNM header";
    if (w < 1 || h < 1 || w > 65535 || h > 65535) return "PNM size out of range";
    if (maxval != 255) return "only PNM files with a maximum value of 255 are read";
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.channels = channels;
    out.pixels.assign(static_cast<size_t>(w) * h * channels, 0);
    if (std::fread(out.pixels.data(), 1, out.pixels.size(), f) != out.pixels.size()) return "PNM data cut short";
    return {};
}

// PAM (P7): WIDTH, HEIGHT, DEPTH 1..4, MAXVAL 255, any TUPLTYPE, ENDHDR.
std::string read_pam(std::FILE *f, Image &out) {
    long w = 0, h = 0, depth = 0, maxval = 0;
    char line[256];
    bool ended = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char key[32] = {};
        long value = 0;
        if (std::strncmp(line, "ENDHDR", 6) == 0) {
            ended = true;
            break;
        }
        if (line[0] == '#' || std::sscanf(line, "%31s", key) != 1) continue;
        if (std::strcmp(key, "TUPLTYPE") == 0) {
            char type[64] = {};
            if (std::sscanf(line, "%*s %63s", type) == 1) out.pam_tuple_type = type;
            continue;
        }
        if (std::sscanf(line, "%31s %ld", key, &value) != 2) return "bad PAM header line";
        if (std::strcmp(key, "WIDTH") == 0) w = value;
        else if (std::strcmp(key, "HEIGHT") == 0) h = value;
        else if (std::strcmp(key, "DEPTH") == 0) depth = value;
        else if (std::strcmp(key, "MAXVAL") == 0) maxval = value;
        else return std::string("unknown PAM header field ") + key;
    }
    if (!ended) return "PAM header without ENDHDR";
    if (w < 1 || h < 1 || w > 65535 || h > 65535) return "PAM size out of range";
    if (depth < 1 || depth > 4) return "PAM depth must be 1 to 4";
    if (maxval != 255) return "only PAM files with a maximum value of 255 are read";
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.channels = static_cast<int>(depth);
    out.pixels.assign(static_cast<size_t>(w) * h * depth, 0);
    if (std::fread(out.pixels.data(), 1, out.pixels.size(), f) != out.pixels.size()) return "PAM data cut short";
    return {};
}

uint32_t get_le(const uint8_t *p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// BMP: uncompressed 24- and 32-bit (the fourth byte is dropped) and 8-bit
// with a palette (gray when every entry is gray, else RGB); rows bottom-up or
// top-down (negative height).
std::string read_bmp(std::FILE *f, Image &out) {
    uint8_t header[54];
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fread(header, 1, sizeof header, f) != sizeof header)
        return "BMP header cut short";
    const uint32_t data_offset = get_le(header + 10, 4);
    const uint32_t info_size = get_le(header + 14, 4);
    const int32_t w = static_cast<int32_t>(get_le(header + 18, 4));
    const int32_t h_signed = static_cast<int32_t>(get_le(header + 22, 4));
    const uint32_t bits = get_le(header + 28, 2);
    const uint32_t compression = get_le(header + 30, 4);
    if (info_size < 40) return "unsupported BMP header";
    if (compression != 0) return "compressed BMP files are not read";
    if (bits != 8 && bits != 24 && bits != 32) return "only 8-, 24- and 32-bit BMP files are read";
    const bool top_down = h_signed < 0;
    const int64_t h = top_down ? -static_cast<int64_t>(h_signed) : h_signed;
    if (w < 1 || h < 1 || w > 65535 || h > 65535) return "BMP size out of range";
    uint8_t palette[256][4] = {};
    bool gray = false;
    if (bits == 8) {
        uint32_t colors = get_le(header + 46, 4);
        if (colors == 0 || colors > 256) colors = 256;
        if (std::fseek(f, 14 + static_cast<long>(info_size), SEEK_SET) != 0 ||
            std::fread(palette, 4, colors, f) != colors)
            return "BMP palette cut short";
        gray = true;
        for (uint32_t i = 0; i < colors; ++i)
            gray = gray && palette[i][0] == palette[i][1] && palette[i][1] == palette[i][2];
    }
    const size_t row_bytes = (static_cast<size_t>(w) * bits / 8 + 3) & ~size_t{3};
    out.width = w;
    out.height = static_cast<int>(h);
    out.channels = gray ? 1 : 3;
    out.pixels.assign(static_cast<size_t>(w) * h * out.channels, 0);
    std::vector<uint8_t> row(row_bytes);
    if (std::fseek(f, static_cast<long>(data_offset), SEEK_SET) != 0) return "BMP data missing";
    for (int64_t y = 0; y < h; ++y) {
        if (std::fread(row.data(), 1, row_bytes, f) != row_bytes) return "BMP data cut short";
        uint8_t *dst = &out.pixels[static_cast<size_t>(top_down ? y : h - 1 - y) * w * out.channels];
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t *bgr = bits == 8 ? palette[row[x]] : &row[static_cast<size_t>(x) * (bits / 8)];
            if (gray) {
                dst[x] = bgr[0];
            } else {
                dst[x * 3] = bgr[2];
                dst[x * 3 + 1] = bgr[1];
                dst[x * 3 + 2] = bgr[0];
            }
        }
    }
    return {};
}

} // namespace

ImageFormat image_format_from_name(const std::string &path) {
    const std::string ext = lower_extension(path);
    if (ext == "png") return ImageFormat::png;
    if (ext == "ppm") return ImageFormat::ppm;
    if (ext == "pgm") return ImageFormat::pgm;
    if (ext == "pam") return ImageFormat::pam;
    if (ext == "bmp") return ImageFormat::bmp;
    return ImageFormat::unknown;
}

const char *image_format_name(ImageFormat format) {
    switch (format) {
    case ImageFormat::png: return "PNG";
    case ImageFormat::ppm: return "PPM";
    case ImageFormat::pgm: return "PGM";
    case ImageFormat::pam: return "PAM";
    case ImageFormat::bmp: return "BMP";
    case ImageFormat::unknown: break;
    }
    return "unknown";
}

bool image_format_accepts(ImageFormat format, int channels) {
    switch (format) {
    case ImageFormat::png: return channels >= 1 && channels <= 4;
    case ImageFormat::ppm: return channels == 3;
    case ImageFormat::pgm: return channels == 1;
    case ImageFormat::pam: return channels >= 1 && channels <= 4;
    case ImageFormat::bmp: return channels == 1 || channels == 3;
    case ImageFormat::unknown: break;
    }
    return false;
}

std::string write_image(const std::string &path, ImageFormat format, const uint8_t *pixels, size_t stride,
                        int width, int height, int channels, const char *pam_tuple_type) {
    if (width < 1 || height < 1) return "empty image";
    if (!image_format_accepts(format, channels))
        return std::string(image_format_name(format)) + " cannot hold " + std::to_string(channels) + " channels";
    if (stride == 0) stride = static_cast<size_t>(width) * channels;
    switch (format) {
    case ImageFormat::png: return write_png(path, pixels, stride, width, height, channels);
    case ImageFormat::ppm:
    case ImageFormat::pgm:
    case ImageFormat::pam: return write_pnm(path, format, pixels, stride, width, height, channels, pam_tuple_type);
    case ImageFormat::bmp: return write_bmp(path, pixels, stride, width, height, channels);
    case ImageFormat::unknown: break;
    }
    return "unknown output format";
}

std::string read_image(const std::string &path, Image &image) {
    image = Image{};
    File file(path, "rb");
    if (file.f == nullptr) return "cannot open the file";
    uint8_t magic[8] = {};
    const size_t got = std::fread(magic, 1, sizeof(magic), file.f);
    static constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (got == 8 && std::memcmp(magic, kPngSignature, 8) == 0) {
        file.close();
        return read_png(path, image);
    }
    if (got >= 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6')) {
        std::fseek(file.f, 2, SEEK_SET);
        return read_pnm(file.f, magic[1] == '6' ? 3 : 1, image);
    }
    if (got >= 3 && magic[0] == 'P' && magic[1] == '7' && (magic[2] == '\n' || magic[2] == '\r')) {
        std::fseek(file.f, 3, SEEK_SET);
        return read_pam(file.f, image);
    }
    if (got >= 2 && magic[0] == 'B' && magic[1] == 'M') return read_bmp(file.f, image);
    return "not a PNG, PPM (P6), PGM (P5), PAM (P7) or BMP file";
}

} // namespace qrl_tools
