// quorrel coefficients: the quantized DCT coefficients of a JPEG file as a
// plane file, and a JPEG file encoded back from one.
//
//   quorrel coefficients dump IN.jpg -o OUT.qcp
//   quorrel coefficients encode IN.qcp -o OUT.jpg [--progressive]
//
// A plane file is a text header followed by the planes:
//
//   QCP 1
//   size WIDTH HEIGHT
//   color COLOR_CODE
//   component ID H V TABLE PLANE_WIDTH PLANE_HEIGHT      (one line per component)
//   table ID Q0 ... Q63                                  (each table in use, zig-zag order)
//   end
//
// then, per component in frame order, PLANE_WIDTH x PLANE_HEIGHT signed
// 16-bit little-endian values: the coefficient image in which the 8x8 block
// at block column bx and block row by holds its coefficient (u, v) (natural
// order, v the row) at index (by * 8 + v) * PLANE_WIDTH + bx * 8 + u. The
// planes cover whole MCUs. Encoding back keeps the coefficients and the
// quantization tables (quality 50 writes the tables unscaled), so the new
// file decodes to the same pixels.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "commands.h"
#include "jobs.h"

namespace {

const char *const kUsage =
    "usage: quorrel coefficients dump IN.jpg -o OUT.qcp\n"
    "       quorrel coefficients encode IN.qcp -o OUT.jpg [--progressive]\n"
    "  dump    writes the quantized coefficients of every component (plane file)\n"
    "  encode  writes a JPEG file from a plane file: same coefficients, same\n"
    "          quantization tables, standard Huffman tables (optimised ones with\n"
    "          --progressive)\n";

struct Component {
    int id = 0, h = 1, v = 1, table = 0, plane_w = 0, plane_h = 0;
};

struct Planes {
    int width = 0, height = 0, color = 0;
    std::vector<Component> components;
    std::map<int, std::vector<int>> tables; // id -> 64 values, zig-zag order
    std::vector<std::vector<int16_t>> data;
};

int fail(const std::string &file, const std::string &message) {
    std::fprintf(stderr, "quorrel coefficients: %s: %s\n", file.c_str(), message.c_str());
    return 1;
}

struct RecordOwner {
    JPEG_CODEC_RECORD *r = static_cast<JPEG_CODEC_RECORD *>(std::calloc(1, sizeof(JPEG_CODEC_RECORD)));
    int32_t init = r != nullptr ? codec_init(r) : JPEG_MEMORY_ERROR;
    ~RecordOwner() {
        if (r != nullptr) {
            if (init == JPEG_OK) (void)codec_free(r);
            std::free(r);
        }
    }
    RecordOwner() = default;
    RecordOwner(const RecordOwner &) = delete;
    RecordOwner &operator=(const RecordOwner &) = delete;
};

// The quantization tables of the stream's DQT segments before its first scan.
std::map<int, std::vector<int>> read_quant_tables(const std::vector<uint8_t> &s) {
    std::map<int, std::vector<int>> tables;
    size_t i = 2;
    while (i + 4 <= s.size()) {
        if (s[i] != 0xFF) break;
        const uint8_t m = s[i + 1];
        if (m == 0xFF) {
            ++i;
            continue;
        }
        if (m == 0xD8 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
            i += 2;
            continue;
        }
        if (m == 0xDA || m == 0xD9) break;
        const size_t length = static_cast<size_t>(s[i + 2]) << 8 | s[i + 3];
        if (length < 2 || i + 2 + length > s.size()) break;
        if (m == 0xDB) {
            size_t p = i + 4;
            const size_t end = i + 2 + length;
            while (p < end) {
                const int precision = s[p] >> 4, id = s[p] & 15;
                const size_t bytes = precision != 0 ? 128 : 64;
                if (p + 1 + bytes > end) break;
                std::vector<int> t(64);
                for (size_t k = 0; k < 64; ++k)
                    t[k] = precision != 0 ? (s[p + 1 + 2 * k] << 8 | s[p + 2 + 2 * k]) : s[p + 1 + k];
                tables[id] = t;
                p += 1 + bytes;
            }
        }
        i += 2 + length;
    }
    return tables;
}

// No pixels are read or written with coefficient planes, but the record
// still names a pixel layout that the validation pairs with the JPEG color.
void name_pixel_layout(JPEG_CODEC_RECORD *r, int32_t jpeg_color, int channels, int width, int height) {
    const bool four = jpeg_color == COLOR_CMYK || jpeg_color == COLOR_YCCK;
    r->image_color = jpeg_color == COLOR_GRAY    ? COLOR_GRAY
                     : four                      ? COLOR_CMYK
                     : jpeg_color == COLOR_OTHER ? COLOR_OTHER
                                                 : COLOR_RGB;
    r->image_channels = jpeg_color == COLOR_GRAY ? 1 : four ? 4 : channels;
    r->image_width = width;
    r->image_height = height;
}

int dump(const std::string &input, const std::string &output) {
    std::vector<uint8_t> jpeg;
    if (!qrl_tools::read_whole_file(input, jpeg) || jpeg.empty()) return fail(input, "cannot read the file");
    if (jpeg.size() > 0x7FFFFFFFu) return fail(input, "the file is too large");
    RecordOwner rec;
    if (rec.init != JPEG_OK) return fail(input, qrl_tools::codec_failure("codec_init", rec.init));
    JPEG_CODEC_RECORD *r = rec.r;
    r->jpeg_buffer = jpeg.data();
    r->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    int32_t rc = codec_read(r, JPEG_IO_READ_HEADER_MEM);
    if (rc != JPEG_OK) return fail(input, qrl_tools::codec_failure("header read", rc));

    const JPEG_PROPERTIES &p = r->props;
    Planes planes;
    planes.width = r->jpeg_width;
    planes.height = r->jpeg_height;
    planes.color = r->jpeg_color;
    const int n = p.frame_component_count;
    if (n < 1 || n > QRL_MAX_COMPONENTS) return fail(input, "unsupported component count");
    // A one-component frame is coded block by block whatever its sampling
    // factors; the MCU grid of several components follows the largest factors.
    int max_h = 1, max_v = 1;
    for (int i = 0; i < n; ++i) {
        max_h = std::max(max_h, static_cast<int>(p.frame_components[i].h_sampling));
        max_v = std::max(max_v, static_cast<int>(p.frame_components[i].v_sampling));
    }
    if (n == 1) max_h = max_v = 1;
    const int columns = (planes.width + 8 * max_h - 1) / (8 * max_h);
    const int rows = (planes.height + 8 * max_v - 1) / (8 * max_v);
    const std::map<int, std::vector<int>> tables = read_quant_tables(jpeg);
    COEFFICIENT_PLANES request{};
    request.planes_mode = 0;
    for (int i = 0; i < n; ++i) {
        const COMPONENT_INFO &c = p.frame_components[i];
        Component k;
        k.id = c.id;
        k.h = n == 1 ? 1 : c.h_sampling;
        k.v = n == 1 ? 1 : c.v_sampling;
        k.table = c.quant_table;
        k.plane_w = k.h * columns * 8;
        k.plane_h = k.v * rows * 8;
        const auto t = tables.find(k.table);
        if (t == tables.end()) return fail(input, "component " + std::to_string(k.id) + " has no quantization table");
        planes.tables[k.table] = t->second;
        planes.components.push_back(k);
        planes.data.emplace_back(static_cast<size_t>(k.plane_w) * k.plane_h, 0);
        request.plane[i] = planes.data.back().data();
    }
    name_pixel_layout(r, r->jpeg_color, n, planes.width, planes.height);
    r->props.coefficient_planes = &request;
    rc = codec_read(r, JPEG_IO_DECODE_MEM);
    r->props.coefficient_planes = nullptr;
    if (rc != JPEG_OK) return fail(input, qrl_tools::codec_failure("decode", rc));

    std::FILE *f = std::fopen(output.c_str(), "wb");
    if (f == nullptr) return fail(output, "cannot create the file");
    std::fprintf(f, "QCP 1\nsize %d %d\ncolor %d\n", planes.width, planes.height, planes.color);
    for (const Component &k : planes.components)
        std::fprintf(f, "component %d %d %d %d %d %d\n", k.id, k.h, k.v, k.table, k.plane_w, k.plane_h);
    for (const auto &[id, values] : planes.tables) {
        std::fprintf(f, "table %d", id);
        for (int q : values) std::fprintf(f, " %d", q);
        std::fprintf(f, "\n");
    }
    std::fprintf(f, "end\n");
    for (const auto &plane : planes.data) {
        std::vector<uint8_t> bytes(plane.size() * 2);
        for (size_t i = 0; i < plane.size(); ++i) {
            const uint16_t v = static_cast<uint16_t>(plane[i]);
            bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
            bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    }
    const bool ok = std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !ok) return fail(output, "write error");
    std::printf("%s: %dx%d, %d components -> %s\n", input.c_str(), planes.width, planes.height, n, output.c_str());
    return 0;
}

// Reads a plane file; returns an empty string or the reason.
std::string read_planes(const std::string &path, Planes &planes) {
    std::vector<uint8_t> bytes;
    if (!qrl_tools::read_whole_file(path, bytes)) return "cannot read the file";
    const std::string text(bytes.begin(), bytes.end());
    const size_t end_line = text.find("\nend\n");
    if (text.rfind("QCP 1\n", 0) != 0 || end_line == std::string::npos) return "not a plane file (QCP 1)";
    size_t pos = 6;
    while (pos < end_line + 1) {
        const size_t nl = text.find('\n', pos);
        const std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        int a[6];
        if (std::sscanf(line.c_str(), "size %d %d", &a[0], &a[1]) == 2) {
            planes.width = a[0];
            planes.height = a[1];
        } else if (std::sscanf(line.c_str(), "color %d", &a[0]) == 1) {
            planes.color = a[0];
        } else if (std::sscanf(line.c_str(), "component %d %d %d %d %d %d", &a[0], &a[1], &a[2], &a[3], &a[4],
                               &a[5]) == 6) {
            if (planes.components.size() >= QRL_MAX_COMPONENTS) return "more than four components";
            Component k{a[0], a[1], a[2], a[3], a[4], a[5]};
            if (k.h < 1 || k.h > 4 || k.v < 1 || k.v > 4 || k.plane_w < 8 || k.plane_h < 8 || k.plane_w > 1 << 18 ||
                k.plane_h > 1 << 18)
                return "bad component line: " + line;
            planes.components.push_back(k);
        } else if (std::sscanf(line.c_str(), "table %d", &a[0]) == 1) {
            std::vector<int> t;
            const char *c = line.c_str() + 5;
            char *next = nullptr;
            (void)std::strtol(c, &next, 10); // the id
            for (c = next; t.size() < 64; c = next) {
                const long q = std::strtol(c, &next, 10);
                if (next == c) break;
                t.push_back(static_cast<int>(q));
            }
            if (t.size() != 64) return "a table line needs 64 values";
            planes.tables[a[0]] = t;
        } else {
            return "unknown header line: " + line;
        }
    }
    if (planes.width < 1 || planes.width > 65535 || planes.height < 1 || planes.height > 65535)
        return "size out of range";
    if (planes.components.empty()) return "no components";
    size_t offset = end_line + 5;
    for (const Component &k : planes.components) {
        const size_t count = static_cast<size_t>(k.plane_w) * k.plane_h;
        if (bytes.size() - offset < count * 2) return "the planes are cut short";
        std::vector<int16_t> plane(count);
        for (size_t i = 0; i < count; ++i)
            plane[i] = static_cast<int16_t>(bytes[offset + 2 * i] | bytes[offset + 2 * i + 1] << 8);
        offset += count * 2;
        planes.data.push_back(std::move(plane));
    }
    return {};
}

// The encoder's frame layout of these sampling factors, or -1.
int subsampling_code(const std::vector<Component> &c) {
    auto is = [&](size_t i, int h, int v) { return c[i].h == h && c[i].v == v; };
    const size_t n = c.size();
    bool all_one = true;
    for (size_t i = 0; i < n; ++i) all_one = all_one && is(i, 1, 1);
    if (all_one) return SUBSAMPLING_NONE;
    if (n == 3 && is(1, 1, 1) && is(2, 1, 1)) {
        if (is(0, 2, 2)) return SUBSAMPLING_2X2;
        if (is(0, 2, 1)) return SUBSAMPLING_2X1;
    }
    if (n == 4 && is(1, 1, 1) && is(2, 1, 1)) {
        if (is(0, 2, 2) && is(3, 2, 2)) return SUBSAMPLING_2X2_4;
        if (is(0, 2, 1) && is(3, 2, 1)) return SUBSAMPLING_2X1_4;
    }
    return -1;
}

int encode(const std::string &input, const std::string &output, bool progressive) {
    Planes planes;
    const std::string why = read_planes(input, planes);
    if (!why.empty()) return fail(input, why);
    const int n = static_cast<int>(planes.components.size());
    const int sub = subsampling_code(planes.components);
    if (sub < 0) return fail(input, "sampling factors the encoder does not write");
    // The encoder gives component 0 table 0 and every other component table 1:
    // the file's tables must fit that.
    std::vector<uint8_t> raw[2];
    for (int i = 0; i < n; ++i) {
        const auto t = planes.tables.find(planes.components[i].table);
        if (t == planes.tables.end()) return fail(input, "component " + std::to_string(i) + " has no table");
        std::vector<uint8_t> bytes;
        for (int q : t->second) {
            if (q < 1 || q > 255) return fail(input, "quantization values above 255 are not written");
            bytes.push_back(static_cast<uint8_t>(q));
        }
        std::vector<uint8_t> &slot = raw[i == 0 ? 0 : 1];
        if (slot.empty()) slot = bytes;
        else if (slot != bytes)
            return fail(input, "components 1 and up use different quantization tables; the encoder writes one");
    }
    // Planes that the encoder's grid reads must be there in full.
    int max_h = 1, max_v = 1;
    for (const Component &k : planes.components) {
        max_h = std::max(max_h, k.h);
        max_v = std::max(max_v, k.v);
    }
    const int columns = (planes.width + 8 * max_h - 1) / (8 * max_h);
    const int rows = (planes.height + 8 * max_v - 1) / (8 * max_v);
    for (const Component &k : planes.components)
        if (k.plane_w != k.h * columns * 8 || k.plane_h != k.v * rows * 8)
            return fail(input, "plane size does not match the image size");

    RecordOwner rec;
    if (rec.init != JPEG_OK) return fail(output, qrl_tools::codec_failure("codec_init", rec.init));
    JPEG_CODEC_RECORD *r = rec.r;
    COEFFICIENT_PLANES request{};
    request.planes_mode = 0;
    for (int i = 0; i < n; ++i) request.plane[i] = planes.data[static_cast<size_t>(i)].data();
    r->jpeg_file_name = output.c_str();
    r->jpeg_width = planes.width;
    r->jpeg_height = planes.height;
    r->jpeg_channels = n;
    r->jpeg_color = planes.color;
    r->jpeg_subsampling = sub;
    r->jpeg_quality = 50; // the tables as given
    name_pixel_layout(r, planes.color, n, planes.width, planes.height);
    r->props.custom_quant_tables = 1;
    for (int j = 0; j < 2; ++j)
        if (!raw[j].empty()) r->props.raw_quant_tables[j] = {raw[j].data(), static_cast<uint8_t>(j)};
    r->props.coefficient_planes = &request;
    r->props.scans_done = progressive ? 1 : 0;
    const int32_t rc = codec_write(r, JPEG_IO_ENCODE_FILE);
    r->props.coefficient_planes = nullptr;
    if (rc != JPEG_OK) return fail(output, qrl_tools::codec_failure("encode", rc));
    std::printf("%s -> %s (%d bytes)\n", input.c_str(), output.c_str(), r->jpeg_buffer_size);
    return 0;
}

} // namespace

int cmd_coefficients(int argc, char **argv) {
    std::string action, input, output;
    bool progressive = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "-o" && i + 1 < argc) {
            output = argv[++i];
        } else if (a == "--progressive") {
            progressive = true;
        } else if (!a.empty() && a[0] != '-' && action.empty()) {
            action = a;
        } else if (!a.empty() && a[0] != '-' && input.empty()) {
            input = a;
        } else {
            std::fprintf(stderr, "quorrel coefficients: unknown or incomplete argument '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if ((action != "dump" && action != "encode") || input.empty() || output.empty() ||
        (progressive && action != "encode")) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return action == "dump" ? dump(input, output) : encode(input, output, progressive);
}
