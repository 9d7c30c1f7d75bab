// quorrel thumbnail FILE -o OUT: writes the JFIF / JFXX thumbnail of a JPEG
// file (PPM, or PNG by the output name).
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "commands.h"
#include "image_io.h"

int cmd_thumbnail(int argc, char **argv) {
    std::string input;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            output = argv[++i];
        else
            input = argv[i];
    }
    if (input.empty() || output.empty()) {
        std::fprintf(stderr, "usage: quorrel thumbnail FILE -o OUT.ppm|OUT.png\n");
        return 2;
    }
    qrl_tools::ImageFormat format = qrl_tools::image_format_from_name(output);
    if (format == qrl_tools::ImageFormat::unknown) format = qrl_tools::ImageFormat::ppm;
    if (!qrl_tools::image_format_accepts(format, 3)) {
        std::fprintf(stderr, "quorrel thumbnail: %s cannot hold RGB pixels\n", output.c_str());
        return 2;
    }

    // A thumbnail is at most 255 x 255 pixels; mode 20 writes it into the top
    // left of this buffer and reports its size.
    constexpr int kMaxSide = 255;
    std::vector<uint8_t> pixels(static_cast<size_t>(kMaxSide) * kMaxSide * 3, 0);
    auto record = std::make_unique<JPEG_CODEC_RECORD>();
    int32_t result = codec_init(record.get());
    if (result == JPEG_OK) {
        record->jpeg_file_name = input.c_str();
        record->image_pixels = pixels.data();
        record->image_width = kMaxSide;
        record->image_height = kMaxSide;
        record->image_channels = 3;
        record->image_color = COLOR_RGB;
        result = codec_read(record.get(), JPEG_IO_THUMBNAIL_FILE);
    }
    const int width = record->thumbnail_width;
    const int height = record->thumbnail_height;
    (void)codec_free(record.get());
    if (result != JPEG_OK) {
        std::fprintf(stderr, "quorrel thumbnail: %s: %d %s\n", input.c_str(), result, codec_error_text(result));
        return 1;
    }
    if (width == 0 || height == 0) {
        std::fprintf(stderr, "quorrel thumbnail: %s has no thumbnail\n", input.c_str());
        return 1;
    }
    const std::string error = qrl_tools::write_image(output, format, pixels.data(), kMaxSide * 3, width, height, 3);
    if (!error.empty()) {
        std::fprintf(stderr, "quorrel thumbnail: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %d x %d thumbnail written to %s\n", input.c_str(), width, height, output.c_str());
    return 0;
}
