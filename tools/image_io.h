// Reading and writing plain image files for the command-line program:
// PNG (libpng), binary PPM / PGM / PAM, and 24-bit BMP.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qrl_tools {

enum class ImageFormat { png, ppm, pgm, pam, bmp, unknown };

// Chooses the format from the file name's extension (case-insensitive).
ImageFormat image_format_from_name(const std::string &path);
const char *image_format_name(ImageFormat format);

// Channels a format can hold: PNG 1, 2, 3, 4 (gray, gray+alpha, RGB, RGBA);
// PPM 3; PGM 1; PAM 1 to 4 (4 = CMYK); BMP 1 or 3 (gray is expanded).
bool image_format_accepts(ImageFormat format, int channels);

// A decoded or loaded image: tightly packed rows, one byte per channel.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
    std::string pam_tuple_type; // TUPLTYPE of a PAM file read, else empty
};

// Writes `height` rows of `width` pixels, each row starting `stride` bytes
// after the previous one (stride 0: tightly packed). Channel order is RGB(A)
// or CMYK as given; `pam_tuple_type` overrides the PAM TUPLTYPE (for example
// "CMYK" or "YCbCr"). Returns an empty string on success, else the reason.
std::string write_image(const std::string &path, ImageFormat format, const uint8_t *pixels, size_t stride,
                        int width, int height, int channels, const char *pam_tuple_type = nullptr);

// Reads a PNG (converted to gray, RGB or RGBA as stored), PPM (P6), PGM (P5)
// or PAM (P7, depth 1 to 4) file with a maximum value of 255, or an
// uncompressed 8-, 24- or 32-bit BMP (gray or RGB), recognised by its first
// bytes. Returns an empty string on success, else the reason.
// Returns an empty string on success, else the reason.
std::string read_image(const std::string &path, Image &image);

} // namespace qrl_tools
