// quorrel info [--json] FILE...: the header facts of JPEG files, read with a
// header read (I/O mode 0) on a fresh codec record per file.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "commands.h"

namespace {

constexpr uint16_t kCommentCapacity = 65535;

struct FileFacts {
    std::string file;
    int32_t result = 0;
    int frame_marker = -1; // 0xC0.. of the first frame header, -1 when none
    JPEG_CODEC_RECORD record{};
    std::vector<uint8_t> comment;
    bool has_comment = false;
};

// The frame type is not kept by the library: find the first SOFn marker by
// walking the segments after SOI.
int find_frame_marker(const char *path) {
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return -1;
    int result = -1;
    if (std::fgetc(f) == 0xFF && std::fgetc(f) == 0xD8) {
        for (;;) {
            int c = std::fgetc(f);
            if (c != 0xFF) break;
            do c = std::fgetc(f);
            while (c == 0xFF);
            if (c == EOF) break;
            if ((c >= 0xC0 && c <= 0xCF && c != 0xC4 && c != 0xC8 && c != 0xCC) || c == 0xF7) {
                result = c;
                break;
            }
            if (c == 0xD8 || (c >= 0xD0 && c <= 0xD7) || c == 0x01) continue;
            if (c == 0xD9 || c == 0xDA) break;
            const int hi = std::fgetc(f);
            const int lo = std::fgetc(f);
            if (hi == EOF || lo == EOF) break;
            const long length = hi << 8 | lo;
            if (length < 2 || std::fseek(f, length - 2, SEEK_CUR) != 0) break;
        }
    }
    std::fclose(f);
    return result;
}

const char *frame_name(int marker) {
    switch (marker) {
    case 0xC0: return "baseline";
    case 0xC1: return "extended";
    case 0xC2: return "progressive";
    case 0xC3: return "lossless";
    case 0xC9: return "extended arithmetic";
    case 0xCA: return "progressive arithmetic";
    case 0xCB: return "lossless arithmetic";
    case 0xF7: return "JPEG-LS";
    case -1: return "unknown";
    default: return "other";
    }
}

const char *color_name(int32_t color) {
    switch (color) {
    case COLOR_RGB: return "RGB";
    case COLOR_BGR: return "BGR";
    case COLOR_YCBCR: return "YCbCr";
    case COLOR_GRAY: return "gray";
    case COLOR_CMYK: return "CMYK";
    case COLOR_YCCK: return "YCCK";
    case COLOR_OTHER: return "other";
    default: return "?";
    }
}

const char *subsampling_name(int32_t code) {
    switch (code) {
    case SUBSAMPLING_NONE: return "none";
    case SUBSAMPLING_2X2: return "2x2";
    case SUBSAMPLING_2X1: return "2x1";
    case SUBSAMPLING_2X2_4: return "2x2 (4 components)";
    case SUBSAMPLING_2X1_4: return "2x1 (4 components)";
    default: return "other";
    }
}

void read_facts(FileFacts &facts) {
    JPEG_CODEC_RECORD &r = facts.record;
    facts.frame_marker = find_frame_marker(facts.file.c_str());
    const int32_t init = codec_init(&r);
    if (init != JPEG_OK) {
        facts.result = init;
        return;
    }
    facts.comment.assign(kCommentCapacity, 0);
    r.props.jpeg_comment = facts.comment.data();
    r.props.jpeg_comment_size = kCommentCapacity;
    r.jpeg_file_name = facts.file.c_str();
    facts.result = codec_read(&r, JPEG_IO_READ_HEADER_FILE);
    // A stream without COM leaves the capacity in place.
    facts.has_comment = r.props.jpeg_comment_size != kCommentCapacity;
    if (facts.has_comment) facts.comment.resize(r.props.jpeg_comment_size);
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string printable(const std::vector<uint8_t> &bytes) {
    std::string out;
    for (uint8_t c : bytes) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
    return out;
}

void print_json(const FileFacts &facts) {
    const JPEG_CODEC_RECORD &r = facts.record;
    const JPEG_PROPERTIES &p = r.props;
    const bool ok = facts.result == JPEG_OK;
    std::printf("{\"file\":%s,\"result\":%d,\"message\":%s", json_string(facts.file).c_str(), facts.result,
                json_string(codec_error_text(facts.result)).c_str());
    if (ok) {
        std::printf(",\"frame_type\":%s,\"width\":%d,\"height\":%d,\"channels\":%d,\"color\":%d,"
                    "\"subsampling\":%d,\"thumbnail_width\":%d,\"thumbnail_height\":%d,\"restart_interval\":%d",
                    json_string(frame_name(facts.frame_marker)).c_str(), r.jpeg_width, r.jpeg_height,
                    r.jpeg_channels, r.jpeg_color, r.jpeg_subsampling, r.thumbnail_width, r.thumbnail_height,
                    p.restart_interval);
        std::printf(",\"components\":[");
        for (int32_t i = 0; i < p.frame_component_count && i < QRL_MAX_COMPONENTS; ++i) {
            const COMPONENT_INFO &c = p.frame_components[i];
            std::printf("%s{\"id\":%d,\"h\":%d,\"v\":%d,\"quant_table\":%d}", i ? "," : "", c.id, c.h_sampling,
                        c.v_sampling, c.quant_table);
        }
        std::printf("]");
        if (p.jfif_found)
            std::printf(",\"jfif_version\":\"%d.%02d\",\"jfif_units\":%d,\"jfif_x_density\":%d,\"jfif_y_density\":%d",
                        p.jfif_version >> 8, p.jfif_version & 0xFF, p.jfif_units, p.jfif_x_density,
                        p.jfif_y_density);
        if (p.adobe_found) std::printf(",\"adobe_transform\":%d", p.adobe_transform);
        if (facts.has_comment)
            std::printf(",\"comment\":%s",
                        json_string(std::string(facts.comment.begin(), facts.comment.end())).c_str());
    } else {
        std::printf(",\"frame_type\":%s,\"width\":null,\"height\":null,\"channels\":null,\"color\":null,"
                    "\"subsampling\":null,\"thumbnail_width\":null,\"thumbnail_height\":null",
                    json_string(frame_name(facts.frame_marker)).c_str());
    }
    std::printf("}\n");
}

void print_text(const FileFacts &facts) {
    const JPEG_CODEC_RECORD &r = facts.record;
    const JPEG_PROPERTIES &p = r.props;
    std::printf("%s:\n", facts.file.c_str());
    if (facts.result != JPEG_OK) {
        std::printf("  error:            %d %s\n", facts.result, codec_error_text(facts.result));
        if (facts.frame_marker >= 0) std::printf("  frame:            %s (0x%02X)\n", frame_name(facts.frame_marker),
                                                 facts.frame_marker);
        return;
    }
    std::printf("  frame:            %s (0x%02X)\n", frame_name(facts.frame_marker), facts.frame_marker);
    std::printf("  size:             %d x %d\n", r.jpeg_width, r.jpeg_height);
    std::printf("  components:       %d\n", r.jpeg_channels);
    for (int32_t i = 0; i < p.frame_component_count && i < QRL_MAX_COMPONENTS; ++i) {
        const COMPONENT_INFO &c = p.frame_components[i];
        std::printf("    id %3d  sampling %dx%d  quantization table %d\n", c.id, c.h_sampling, c.v_sampling,
                    c.quant_table);
    }
    std::printf("  color:            %s (%d)\n", color_name(r.jpeg_color), r.jpeg_color);
    std::printf("  subsampling:      %s (%d)\n", subsampling_name(r.jpeg_subsampling), r.jpeg_subsampling);
    std::printf("  restart interval: %d\n", p.restart_interval);
    if (p.jfif_found)
        std::printf("  JFIF:             version %d.%02d, density %d x %d, units %d\n", p.jfif_version >> 8,
                    p.jfif_version & 0xFF, p.jfif_x_density, p.jfif_y_density, p.jfif_units);
    else
        std::printf("  JFIF:             none\n");
    std::printf("  thumbnail:        %d x %d\n", r.thumbnail_width, r.thumbnail_height);
    if (p.adobe_found)
        std::printf("  Adobe transform:  %d\n", p.adobe_transform);
    else
        std::printf("  Adobe transform:  none\n");
    if (facts.has_comment) std::printf("  comment:          %s\n", printable(facts.comment).c_str());
}

} // namespace

int cmd_info(int argc, char **argv) {
    bool json = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else
            files.emplace_back(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: quorrel info [--json] FILE...\n");
        return 2;
    }
    bool all_read = true;
    for (const std::string &file : files) {
        auto facts = std::make_unique<FileFacts>();
        facts->file = file;
        read_facts(*facts);
        if (json)
            print_json(*facts);
        else
            print_text(*facts);
        if (facts->result != JPEG_OK) all_read = false;
        (void)codec_free(&facts->record);
    }
    return all_read ? 0 : 1;
}
