// quorrel encode: encode a PNG, PPM, PGM, PAM or BMP file as a JPEG file with
// the library's encoder (sequential or progressive, complete or abbreviated).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "commands.h"
#include "image_io.h"

namespace {

const char *const kUsage =
    "usage: quorrel encode IN.{png,ppm,pgm,pam,bmp} -o OUT.jpg [options]\n"
    "  (four channels: RGBA, the alpha dropped; a PAM of TUPLTYPE CMYK: CMYK)\n"
    "  --quality N               1..100 (default 75)\n"
    "  --subsampling 444|422|420 chroma layout of a colour image (default 420)\n"
    "  --gray                    write one gray component\n"
    "  --progressive             progressive frame with optimised tables\n"
    "  --fast                    fast transform family (dct_method 0)\n"
    "  --restart N               restart interval in MCUs (sequential only)\n"
    "  --comment TEXT            comment segment text (default: the library's)\n"
    "  --tables-only             write only the tables (abbreviated stream)\n"
    "  --image-only              write the image without tables (abbreviated stream)\n";

struct Options {
    std::string input, output, comment;
    int quality = 75;
    int subsampling = SUBSAMPLING_2X2;
    bool gray = false, progressive = false, fast = false, has_comment = false;
    int restart = 0;
    int mode = JPEG_IO_ENCODE_FILE;
};

int fail(const std::string &file, const std::string &message) {
    std::fprintf(stderr, "quorrel encode: %s: %s\n", file.c_str(), message.c_str());
    return 1;
}

bool parse_int(const char *text, int low, int high, int *out) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    *out = static_cast<int>(v);
    return true;
}

// Returns 0 when the options are complete, else the exit status.
int parse(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "-o" && has_value) {
            o->output = argv[++i];
        } else if (a == "--quality" && has_value) {
            if (!parse_int(argv[++i], 1, 100, &o->quality)) return fail(argv[i], "quality must be 1..100"), 2;
        } else if (a == "--subsampling" && has_value) {
            const std::string v = argv[++i];
            if (v == "444") o->subsampling = SUBSAMPLING_NONE;
            else if (v == "422") o->subsampling = SUBSAMPLING_2X1;
            else if (v == "420") o->subsampling = SUBSAMPLING_2X2;
            else return fail(v, "subsampling must be 444, 422 or 420"), 2;
        } else if (a == "--restart" && has_value) {
            if (!parse_int(argv[++i], 0, 65535, &o->restart)) return fail(argv[i], "restart must be 0..65535"), 2;
        } else if (a == "--comment" && has_value) {
            o->comment = argv[++i];
            o->has_comment = true;
        } else if (a == "--gray") {
            o->gray = true;
        } else if (a == "--progressive") {
            o->progressive = true;
        } else if (a == "--fast") {
            o->fast = true;
        } else if (a == "--tables-only") {
            o->mode = JPEG_IO_WRITE_TABLES_FILE;
        } else if (a == "--image-only") {
            o->mode = JPEG_IO_ENCODE_IMAGE_ONLY_FILE;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (!a.empty() && a[0] != '-' && o->input.empty()) {
            o->input = a;
        } else {
            std::fprintf(stderr, "quorrel encode: unknown or incomplete option '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (o->input.empty() || o->output.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return 0;
}

// True when the file is a PAM whose header names the tuple type CMYK.
bool is_cmyk_pam(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char line[256];
    bool cmyk = false;
    if (std::fgets(line, sizeof line, f) != nullptr && std::strncmp(line, "P7", 2) == 0) {
        for (int n = 0; n < 16 && std::fgets(line, sizeof line, f) != nullptr; ++n) {
            if (std::strncmp(line, "ENDHDR", 6) == 0) break;
            if (std::strncmp(line, "TUPLTYPE CMYK", 13) == 0) cmyk = true;
        }
    }
    std::fclose(f);
    return cmyk;
}

struct RecordFree {
    void operator()(JPEG_CODEC_RECORD *r) const {
        (void)codec_free(r);
        std::free(r);
    }
};

} // namespace

int cmd_encode(int argc, char **argv) {
    Options o;
    const int parsed = parse(argc, argv, &o);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    qrl_tools::Image image;
    const std::string why = qrl_tools::read_image(o.input, image);
    if (!why.empty()) return fail(o.input, why);
    if (image.channels == 2) {
        // Gray with alpha: the alpha channel is dropped.
        std::vector<uint8_t> gray(image.pixels.size() / 2);
        for (size_t i = 0; i < gray.size(); ++i) gray[i] = image.pixels[2 * i];
        image.pixels.swap(gray);
        image.channels = 1;
    }

    std::unique_ptr<JPEG_CODEC_RECORD, RecordFree> record(
        static_cast<JPEG_CODEC_RECORD *>(std::calloc(1, sizeof(JPEG_CODEC_RECORD))));
    if (!record) return fail(o.output, "out of memory");
    JPEG_CODEC_RECORD *r = record.get();
    int32_t result = codec_init(r);
    if (result != JPEG_OK) return fail(o.output, codec_error_text(result));

    const bool gray_source = image.channels == 1;
    const bool cmyk_source = image.channels == 4 && is_cmyk_pam(o.input);
    r->image_pixels = image.pixels.data();
    r->image_width = image.width;
    r->image_height = image.height;
    r->image_channels = image.channels;
    r->image_color = gray_source ? COLOR_GRAY : cmyk_source ? COLOR_CMYK : COLOR_RGB;
    r->jpeg_file_name = o.output.c_str();
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
    if (o.has_comment) {
        r->props.jpeg_comment = reinterpret_cast<uint8_t *>(o.comment.data());
        r->props.jpeg_comment_size =
            static_cast<uint16_t>(o.comment.size() > 65531 ? 65531 : o.comment.size());
    }
    result = codec_write(r, o.mode);
    if (result != JPEG_OK) return fail(o.output, codec_error_text(result));
    return 0;
}
