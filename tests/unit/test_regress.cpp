// Regression inputs: one or more small streams for every class of bug that
// has hit JPEG decoders and encoders (bad tables, segments that lie about
// their length, bad selectors and sampling factors, huge frames, scan bombs,
// restart and truncation trouble, thumbnails and comments that do not fit,
// region and interruption bookkeeping, kernel-set divergence, encoder
// buffers), each with the exact result it must give. Inputs found by the
// fuzzers live as files in tests/regress/inputs and are listed in
// tests/regress/expected.tsv with their result.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "support/corpus.h"
#include "support/oracle.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- Stream building --------------------------------------------------------

Bytes hex(const char *text) {
    Bytes out;
    int nibble = -1;
    for (const char *p = text; *p != 0; ++p) {
        int v = -1;
        if (*p >= '0' && *p <= '9') v = *p - '0';
        if (*p >= 'a' && *p <= 'f') v = *p - 'a' + 10;
        if (*p >= 'A' && *p <= 'F') v = *p - 'A' + 10;
        if (v < 0) continue;
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// One marker segment: FF code, length, payload.
Bytes seg(uint8_t code, const Bytes &payload) {
    const size_t length = payload.size() + 2;
    Bytes out = {0xFF, code, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes soi() { return {0xFF, 0xD8}; }
Bytes eoi() { return {0xFF, 0xD9}; }

// An 8-bit quantization table of all ones.
Bytes dqt(uint8_t id) {
    Bytes payload = {id};
    payload.insert(payload.end(), 64, 1);
    return seg(0xDB, payload);
}

// A Huffman table from code-length counts (index 0 = length 1) and symbols.
Bytes dht(uint8_t table_class, uint8_t id, std::initializer_list<uint8_t> counts,
          std::initializer_list<uint8_t> symbols) {
    Bytes payload = {static_cast<uint8_t>(table_class << 4 | id)};
    Bytes c(16, 0);
    size_t i = 0;
    for (uint8_t n : counts) c[i++] = n;
    payload.insert(payload.end(), c.begin(), c.end());
    payload.insert(payload.end(), symbols);
    return seg(0xC4, payload);
}

// The smallest useful tables: DC has one code "0" for category 0, AC one
// code "0" for EOB, so every block costs two zero bits.
Bytes minimal_tables(uint8_t id = 0) { return cat({dht(0, id, {1}, {0x00}), dht(1, id, {1}, {0x00})}); }

struct Comp {
    uint8_t id;
    uint8_t hv;
    uint8_t tq;
};

Bytes sof(uint8_t code, uint16_t width, uint16_t height, std::initializer_list<Comp> comps) {
    Bytes payload = {8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height & 0xFF),
                     static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width & 0xFF),
                     static_cast<uint8_t>(comps.size())};
    for (const Comp &c : comps) payload.insert(payload.end(), {c.id, c.hv, c.tq});
    return seg(code, payload);
}

struct ScanComp {
    uint8_t id;
    uint8_t tables; // Td << 4 | Ta
};

Bytes sos(std::initializer_list<ScanComp> comps, uint8_t ss = 0, uint8_t se = 63, uint8_t ahal = 0) {
    Bytes payload = {static_cast<uint8_t>(comps.size())};
    for (const ScanComp &c : comps) payload.insert(payload.end(), {c.id, c.tables});
    payload.insert(payload.end(), {ss, se, ahal});
    return seg(0xDA, payload);
}

// Entropy data of `blocks` blocks of the minimal tables: all zero bits,
// padded with ones.
Bytes zero_blocks(int64_t blocks) {
    const int64_t bits = blocks * 2;
    Bytes out(static_cast<size_t>(bits / 8), 0x00);
    if (bits % 8 != 0) out.push_back(static_cast<uint8_t>(0xFF >> (bits % 8)));
    return out;
}

int64_t gray_blocks(int w, int h) { return static_cast<int64_t>((w + 7) / 8) * ((h + 7) / 8); }

// A complete baseline gray image of flat blocks.
Bytes gray_baseline(uint16_t w, uint16_t h, uint8_t tq = 0) {
    return cat({soi(), dqt(0), sof(0xC0, w, h, {{1, 0x11, tq}}), minimal_tables(), sos({{1, 0x00}}),
                zero_blocks(gray_blocks(w, h)), eoi()});
}


// Differences between two pixel buffers: "equal", or the count and the
// largest difference, so that a failure message stays short.
std::string pixel_diff(const Bytes &a, const Bytes &b) {
    if (a.size() != b.size()) return "sizes differ: " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    size_t count = 0;
    int largest = 0;
    size_t first = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int d = std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
        if (d == 0) continue;
        if (count == 0) first = i;
        ++count;
        if (d > largest) largest = d;
    }
    if (count == 0) return "equal";
    return std::to_string(count) + " bytes differ (largest by " + std::to_string(largest) + ", first at " +
           std::to_string(first) + ")";
}

// Largest difference between two buffers of the same size; -1 when the sizes
// differ. The SIMD kernel sets may differ from the portable ones by a few
// levels (truncating multiplies in the transforms, the rounding of two chroma
// terms in the colour converters).
int max_difference(const Bytes &a, const Bytes &b) {
    if (a.size() != b.size()) return -1;
    int largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])));
    return largest;
}
constexpr int kKernelSetTolerance = 4;

// ---- Running ------------------------------------------------------------------

struct Outcome {
    int32_t header = 0;
    int32_t code = 0;
    int32_t jpeg_width = 0;
    int32_t jpeg_height = 0;
    int32_t thumbnail_width = 0;
    int32_t thumbnail_height = 0;
    int32_t comment_size = 0;
    int32_t width = 0; // output buffer geometry
    int32_t height = 0;
    int32_t channels = 0;
    int64_t calls = 0;
    Bytes pixels;
};

struct RunOptions {
    int32_t mode = JPEG_IO_DECODE_MEM;
    int32_t cpu_class = -1;         // QUORREL_USECPU, -1 = leave as it is
    int32_t dct_method = 1;
    int32_t out_width = 0;          // 0: the frame's width (clipped to 1024)
    int32_t out_height = 0;
    int32_t roi[4] = {0, 0, 0, 0};
    bool interrupt = false;
    uint8_t fill = 0xA5;            // pattern the pixel buffer starts with
    uint8_t *comment = nullptr;
    uint16_t comment_capacity = 0;
    std::string file;               // file modes: the stream's path
};

class UsecpuScope {
public:
    explicit UsecpuScope(int32_t cpu_class) {
        const char *old = std::getenv("QUORREL_USECPU");
        had_ = old != nullptr;
        if (had_) old_ = old;
        if (cpu_class >= 0) setenv("QUORREL_USECPU", std::to_string(cpu_class).c_str(), 1);
    }
    ~UsecpuScope() {
        if (had_)
            setenv("QUORREL_USECPU", old_.c_str(), 1);
        else
            unsetenv("QUORREL_USECPU");
    }

private:
    bool had_ = false;
    std::string old_;
};

bool is_header_only(int32_t mode) { return mode == 0 || mode == 1 || mode == 4 || mode == 5; }

// Header read, then (image modes) the decode into an exactly sized buffer.
Outcome run(const Bytes &stream, const RunOptions &o = RunOptions{}) {
    UsecpuScope cpu(o.cpu_class);
    Outcome out;
    JPEG_CODEC_RECORD record;
    std::memset(&record, 0, sizeof record);
    EXPECT_EQ(codec_init(&record), JPEG_OK);
    record.props.dct_method = o.dct_method;
    Bytes exact(stream); // its own heap block: a read past the end is caught
    record.jpeg_buffer = exact.data();
    record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
    record.jpeg_file_name = o.file.empty() ? nullptr : o.file.c_str();
    record.props.jpeg_comment = o.comment;
    record.props.jpeg_comment_size = o.comment_capacity;
    const bool file = (o.mode & 1) == 0;
    const bool thumbnail = o.mode == 20 || o.mode == 21;
    if (is_header_only(o.mode)) {
        out.header = out.code = codec_read(&record, o.mode);
    } else {
        out.header = codec_read(&record, thumbnail ? o.mode : (file ? 0 : 1));
        out.code = out.header;
        if (out.header == JPEG_OK || thumbnail) {
            int32_t w = o.out_width > 0 ? o.out_width : std::min(record.jpeg_width, 1024);
            int32_t h = o.out_height > 0 ? o.out_height : std::min(record.jpeg_height, 1024);
            if (w <= 0) w = 1;
            if (h <= 0) h = 1;
            const bool gray = record.jpeg_color == COLOR_GRAY;
            const bool cmyk = record.jpeg_color == COLOR_CMYK || record.jpeg_color == COLOR_YCCK;
            out.channels = gray ? 1 : (cmyk ? 4 : 3);
            if (thumbnail) out.channels = 3;
            out.width = w;
            out.height = h;
            out.pixels.assign(static_cast<size_t>(w) * h * out.channels, o.fill);
            record.image_pixels = out.pixels.data();
            record.image_width = w;
            record.image_height = h;
            record.image_channels = out.channels;
            record.image_color = thumbnail ? COLOR_RGB : (gray ? COLOR_GRAY : (cmyk ? COLOR_CMYK : COLOR_RGB));
            std::memcpy(record.props.roi, o.roi, sizeof o.roi);
            if (thumbnail) {
                out.code = codec_read(&record, o.mode);
            } else {
                const int64_t cap = 1000000;
                do {
                    record.props.interrupt_after_mcu = o.interrupt ? 1 : 0;
                    out.code = codec_read(&record, o.mode);
                    ++out.calls;
                } while (out.code == JPEG_INTERRUPT_OK && out.calls < cap);
            }
        }
    }
    out.jpeg_width = record.jpeg_width;
    out.jpeg_height = record.jpeg_height;
    out.thumbnail_width = record.thumbnail_width;
    out.thumbnail_height = record.thumbnail_height;
    out.comment_size = record.props.jpeg_comment_size;
    EXPECT_EQ(codec_free(&record), JPEG_OK);
    return out;
}

std::string temp_path(const std::string &name) {
    return std::string(QRL_BINARY_DIR) + "/regress-" + name + ".jpg";
}

std::string write_temp(const std::string &name, const Bytes &bytes) {
    const std::string path = temp_path(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

// ---- Availability of features that land one by one ----------------------------

Bytes small_progressive() {
    qrl_test::LibjpegEncodeOptions o;
    o.width = 32;
    o.height = 24;
    o.progressive = true;
    return qrl_test::libjpeg_encode(o);
}

bool progressive_available() {
    static const int state = [] {
        const Outcome out = run(small_progressive());
        return out.code == JPEG_NOT_SUPPORTED ? 0 : 1;
    }();
    return state == 1;
}

bool encoder_available() {
    static const int state = [] {
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        if (codec_init(&record) != JPEG_OK) return 0;
        Bytes pixels(8 * 8 * 3, 128);
        Bytes out(4096);
        record.image_pixels = pixels.data();
        record.image_width = 8;
        record.image_height = 8;
        record.image_color = COLOR_RGB;
        record.jpeg_width = 8;
        record.jpeg_height = 8;
        record.jpeg_subsampling = SUBSAMPLING_NONE;
        record.jpeg_buffer = out.data();
        record.jpeg_buffer_size = static_cast<int32_t>(out.size());
        const int32_t code = codec_write(&record, JPEG_IO_ENCODE_MEM);
        (void)codec_free(&record);
        return code == JPEG_NOT_SUPPORTED ? 0 : 1;
    }();
    return state == 1;
}

#define REQUIRE_PROGRESSIVE()                                                                       \
    do {                                                                                            \
        if (!progressive_available()) {                                                             \
            GTEST_SKIP() << "progressive scan decoding has not landed (a progressive stream gives " \
                            "JPEG_NOT_SUPPORTED)";                                                  \
        }                                                                                           \
    } while (0)
#define REQUIRE_ENCODER()                                                                          \
    do {                                                                                           \
        if (!encoder_available()) {                                                                \
            GTEST_SKIP() << "the encoder has not landed (codec_write gives JPEG_NOT_SUPPORTED)";   \
        }                                                                                          \
    } while (0)

// ---- The table of header-level cases -----------------------------------------------

struct Case {
    const char *name;
    int bug_class;
    std::function<Bytes()> build;
    int32_t mode;
    int32_t expected;
    bool needs_progressive;
};

// Cases whose fault is known and reported to the owner of the code but not
// fixed yet (finding number of the team's findings list). They are skipped
// with that reason until the fix lands; the entry is then removed.
struct OpenFinding {
    const char *name;
    const char *reason;
};
const OpenFinding kOpenFindings[] = {
    {nullptr, nullptr}, // none open at present; the entry keeps the array non-empty
};

const char *open_finding(const std::string &name) {
    if (std::getenv("QRL_REGRESS_ALL")) return nullptr;
    for (const OpenFinding &f : kOpenFindings)
        if (f.name != nullptr && name == f.name) return f.reason;
    return nullptr;
}

#define SKIP_IF_OPEN_FINDING(name)                                  \
    do {                                                            \
        if (const char *reason_ = open_finding(name)) {             \
            GTEST_SKIP() << "known, not fixed yet: " << reason_;    \
        }                                                           \
    } while (0)

// 258 symbols: three codes of length 15 and 255 of length 16 fit the code
// space, so only the symbol count refuses them.
Bytes dht_258_symbols() {
    Bytes payload = {0x10};
    Bytes counts(16, 0);
    counts[14] = 3;
    counts[15] = 255;
    payload.insert(payload.end(), counts.begin(), counts.end());
    for (int i = 0; i < 258; ++i) payload.push_back(static_cast<uint8_t>(i));
    return cat({soi(), seg(0xC4, payload), eoi()});
}

// A tiny progressive gray frame with one scan header given as hex.
Bytes progressive_gray_scan(const char *scan_tail) {
    return cat({soi(), dqt(0), sof(0xC2, 16, 16, {{1, 0x11, 0}}), minimal_tables(),
                hex(scan_tail), zero_blocks(4), eoi()});
}

Bytes progressive_color_scan(uint8_t ss, uint8_t se, uint8_t ahal) {
    return cat({soi(), dqt(0), sof(0xC2, 16, 16, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}}),
                minimal_tables(), sos({{1, 0x00}, {2, 0x00}, {3, 0x00}}, ss, se, ahal), zero_blocks(12),
                eoi()});
}

// Scan bomb: a frame followed by `scans` scans.
Bytes scan_bomb(bool progressive, int scans) {
    Bytes out = cat({soi(), dqt(0), sof(progressive ? 0xC2 : 0xC0, 64, 64, {{1, 0x11, 0}}),
                     minimal_tables()});
    if (progressive) {
        const Bytes dc = cat({sos({{1, 0x00}}, 0, 0, 0), zero_blocks(64)});
        out.insert(out.end(), dc.begin(), dc.end());
    }
    // Each AC scan: 64 blocks of one EOB bit pair. (In a progressive AC
    // scan a block costs one EOB code.)
    const Bytes scan = progressive ? cat({sos({{1, 0x00}}, 1, 1, 0), zero_blocks(32)})
                                   : cat({sos({{1, 0x00}}), zero_blocks(64)});
    for (int i = 0; i < scans; ++i) out.insert(out.end(), scan.begin(), scan.end());
    const Bytes end = eoi();
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

const Case kCases[] = {
    // 1: Huffman counts over-fill the code space or exceed 257 symbols.
    {"dht_three_codes_of_length_1", 1,
     [] { return cat({soi(), hex("FF C4 00 16 00 03 000000000000000000000000000000 00 01 02"), eoi()}); },
     JPEG_IO_READ_HEADER_MEM, JPEG_BAD_HUFFMAN_TABLE, false},
    {"dht_258_symbols", 1, dht_258_symbols, JPEG_IO_READ_HEADER_MEM, JPEG_BAD_HUFFMAN_TABLE, false},
    {"dht_over_full_tables_only", 1,
     [] { return cat({soi(), hex("FF C4 00 16 00 03 000000000000000000000000000000 00 01 02"), eoi()}); },
     JPEG_IO_READ_TABLES_MEM, JPEG_BAD_HUFFMAN_TABLE, false},
    // 2: segment content longer than its length; length below 2.
    {"sof0_without_component_bytes", 2, [] { return hex("FF D8 FF C0 00 08 08 00 10 00 10 03"); },
     JPEG_IO_READ_HEADER_MEM, JPEG_DATA_ERROR, false},
    {"dqt_table_cut_short", 2, [] { return hex("FF D8 FF DB 00 03 00"); }, JPEG_IO_READ_HEADER_MEM,
     JPEG_DATA_ERROR, false},
    {"dht_length_zero", 2, [] { return hex("FF D8 FF C4 00 00"); }, JPEG_IO_READ_HEADER_MEM, JPEG_DATA_ERROR,
     false},
    {"dht_values_cut_short", 2,
     [] { return cat({soi(), hex("FF C4 00 14 00 03 000000000000000000000000000000 00"), eoi()}); },
     JPEG_IO_READ_HEADER_MEM, JPEG_DATA_ERROR, false},
    {"dqt_past_the_data", 2, [] { return hex("FF D8 FF DB 00 43 00 01 01 01 01"); }, JPEG_IO_READ_HEADER_MEM,
     JPEG_DATA_ERROR, false},
    {"sos_length_one", 2,
     [] { return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), minimal_tables(), hex("FF DA 00 01")}); },
     JPEG_IO_READ_HEADER_MEM, JPEG_DATA_ERROR, false},
    {"sos_component_list_missing", 2,
     [] { return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), minimal_tables(), hex("FF DA 00 04 01 01"), eoi()}); },
     JPEG_IO_READ_HEADER_MEM, JPEG_DATA_ERROR, false},
    // 3: quantization selector above 3 or never defined.
    {"sof_tq_5", 3, [] { return gray_baseline(16, 16, 5); }, JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, false},
    {"sof_tq_undefined_table", 3, [] { return gray_baseline(16, 16, 1); }, JPEG_IO_DECODE_MEM, JPEG_OK, false},
    // 4: DC/AC selector above 3 or undefined.
    {"sos_selectors_15", 4,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), minimal_tables(),
                     hex("FF DA 00 08 01 01 FF 00 3F 00"), zero_blocks(1), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, false},
    {"sos_undefined_tables", 4,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), minimal_tables(), sos({{1, 0x33}}),
                     zero_blocks(1), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_OK, false},
    // 5: too many components, Ns 0, repeated selectors.
    {"sof_five_components", 5,
     [] {
         return cat({soi(), dqt(0),
                     sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}, {5, 0x11, 0}}), eoi()});
     },
     JPEG_IO_READ_HEADER_MEM, JPEG_ERR_COMP, false},
    {"sos_no_components", 5,
     [] { return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), minimal_tables(), hex("FF DA 00 06 00 00 3F 00"), eoi()}); },
     JPEG_IO_READ_HEADER_MEM, JPEG_DATA_ERROR, false},
    {"sos_repeated_selector", 5,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}}), minimal_tables(),
                     sos({{1, 0x00}, {1, 0x00}, {3, 0x00}}), zero_blocks(3), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, false},
    // 6: sampling factor 0, above 4, more than 10 blocks per MCU.
    {"sampling_factor_zero", 6,
     [] { return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x00, 0}}), minimal_tables(), sos({{1, 0x00}}), zero_blocks(1), eoi()}); },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, false},
    {"sampling_factor_five", 6,
     [] { return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x51, 0}}), eoi()}); },
     JPEG_IO_READ_HEADER_MEM, JPEG_DATA_ERROR, false},
    {"sampling_22_31_11", 6,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 48, 16, {{1, 0x22, 0}, {2, 0x31, 0}, {3, 0x11, 0}}), minimal_tables(),
                     sos({{1, 0x00}, {2, 0x00}, {3, 0x00}}), zero_blocks(8 * 2), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, false},
    {"sampling_four_components_22", 6,
     [] {
         // Adobe segment, transform 0: a CMYK frame, decoded to CMYK.
         return cat({soi(), seg(0xEE, hex("41 64 6F 62 65 00 64 00 00 00 00 00")), dqt(0),
                     sof(0xC0, 16, 16, {{1, 0x22, 0}, {2, 0x22, 0}, {3, 0x22, 0}, {4, 0x22, 0}}),
                     minimal_tables(), sos({{1, 0x00}, {2, 0x00}, {3, 0x00}, {4, 0x00}}), zero_blocks(16), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, false},
    // 7 and 15: huge frames refused before allocating; width 0.
    {"sof2_65535_square_dc_scan", 7,
     [] {
         return cat({soi(), dqt(0), sof(0xC2, 65535, 65535, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}}),
                     minimal_tables(), sos({{1, 0x00}, {2, 0x00}, {3, 0x00}}, 0, 0, 0), zero_blocks(64), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_MEMORY_ERROR, false},
    {"sof0_width_zero", 7,
     [] { return cat({soi(), dqt(0), sof(0xC0, 0, 8, {{1, 0x11, 0}}), minimal_tables(), sos({{1, 0x00}}), zero_blocks(1), eoi()}); },
     JPEG_IO_READ_HEADER_MEM, JPEG_ERR_SOF, false},
    {"bomb_sof2_65535_square", 15,
     [] {
         return cat({soi(), dqt(0), sof(0xC2, 65535, 65535, {{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}}),
                     minimal_tables(), sos({{1, 0x00}, {2, 0x00}, {3, 0x00}}, 0, 0, 0), zero_blocks(64), eoi()});
     },
     JPEG_IO_DECODE_HALF_MEM, JPEG_MEMORY_ERROR, false},
    // 8: progressive parameters out of range.
    {"progressive_se_255", 8, [] { return progressive_gray_scan("FF DA 00 08 01 01 00 01 FF 00"); },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, false},
    {"progressive_ss_above_se", 8, [] { return progressive_gray_scan("FF DA 00 08 01 01 00 05 02 00"); },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, false},
    {"progressive_ss_0_se_5", 8, [] { return progressive_gray_scan("FF DA 00 08 01 01 00 00 05 00"); },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, true},
    {"progressive_ac_several_components", 8, [] { return progressive_color_scan(1, 5, 0); }, JPEG_IO_DECODE_MEM,
     JPEG_DATA_ERROR, true},
    {"progressive_al_14", 8, [] { return progressive_gray_scan("FF DA 00 08 01 01 00 00 00 0E"); },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, true},
    {"progressive_ah_14", 8, [] { return progressive_gray_scan("FF DA 00 08 01 01 00 01 05 E0"); },
     JPEG_IO_DECODE_MEM, JPEG_DATA_ERROR, true},
    // 10 and 15: scan bombs end with the scan limit's code.
    {"scan_bomb_baseline_10000", 10, [] { return scan_bomb(false, 10000); }, JPEG_IO_DECODE_MEM,
     JPEG_MEMORY_ERROR, false},
    {"scan_bomb_progressive_10000", 10, [] { return scan_bomb(true, 10000); }, JPEG_IO_DECODE_MEM,
     JPEG_MEMORY_ERROR, true},
    {"bomb_500_scans_at_the_limit", 15, [] { return scan_bomb(false, 500); }, JPEG_IO_DECODE_MEM, JPEG_OK, false},
    {"bomb_501_scans_past_the_limit", 15, [] { return scan_bomb(false, 501); }, JPEG_IO_DECODE_MEM,
     JPEG_MEMORY_ERROR, false},
    // F13: four data bytes for a 16384 x 16384 frame; zero bits past the end
    // decode as -1 coefficients with these tables. The scan repeats that block
    // instead of decoding four million of them bit by bit.
    {"bomb_truncated_scan_huge_frame", 15,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 16384, 16384, {{1, 0x11, 0}}),
                     dht(0, 0, {0, 1, 5, 1, 1, 1, 1, 1, 1}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}),
                     dht(1, 0, {0, 2, 1, 3}, {0x01, 0x02, 0x03, 0x00, 0x04, 0x11}), sos({{1, 0x00}}),
                     hex("12 34 56 78")});
     },
     JPEG_IO_DECODE_MEM, JPEG_MEMORY_ERROR, false},
    // 11: restart markers missing or replaced (16 x 8 gray: two MCUs, DRI 1).
    {"dri_1_without_rst", 11,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 24, 8, {{1, 0x11, 0}}), minimal_tables(), hex("FF DD 00 04 00 01"),
                     sos({{1, 0x00}}), zero_blocks(3), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_MEMORY_ERROR, false},
    {"rst5_where_rst0_is_due", 11,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 16, 8, {{1, 0x11, 0}}), minimal_tables(), hex("FF DD 00 04 00 01"),
                     sos({{1, 0x00}}), zero_blocks(1), hex("FF D5"), zero_blocks(1), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_OK, false},
    {"eoi_where_rst0_is_due", 11,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 16, 8, {{1, 0x11, 0}}), minimal_tables(), hex("FF DD 00 04 00 01"),
                     sos({{1, 0x00}}), zero_blocks(1), eoi(), zero_blocks(1), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_OK, false},
    // 12: fill bytes before markers; the stream's last byte 0xFF; empty data.
    {"fill_bytes_before_every_marker", 12,
     [] {
         const Bytes fill = {0xFF, 0xFF, 0xFF};
         return cat({soi(), fill, dqt(0), fill, sof(0xC0, 8, 8, {{1, 0x11, 0}}), fill, minimal_tables(), fill,
                     sos({{1, 0x00}}), zero_blocks(1), fill, eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_OK, false},
    {"soi_eoi", 12, [] { return cat({soi(), eoi()}); }, JPEG_IO_DECODE_MEM, JPEG_NO_IMAGE, false},
    // A tables-only stream (no frame) read as tables.
    {"tables_read_without_a_frame", 12, [] { return cat({soi(), dqt(0), eoi()}); }, JPEG_IO_READ_TABLES_MEM,
     JPEG_OK, false},
    // 16: thumbnails larger than the caller's image are not written.
    // 17: a comment into a buffer of capacity 0.
    // 18: a second frame header after the buffers were sized.
    {"second_sof0_larger", 18,
     [] {
         return cat({soi(), dqt(0), sof(0xC0, 16, 16, {{1, 0x11, 0}}), minimal_tables(), sos({{1, 0x00}}),
                     zero_blocks(4), sof(0xC0, 4096, 4096, {{1, 0x11, 0}}), sos({{1, 0x00}}), zero_blocks(64), eoi()});
     },
     JPEG_IO_DECODE_MEM, JPEG_OK, false},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class RegressTable : public ::testing::TestWithParam<Case> {};

TEST_P(RegressTable, GivesTheExpectedCode) {
    const Case &c = GetParam();
    if (c.needs_progressive) {
        REQUIRE_PROGRESSIVE();
    }
    if (const char *dump = std::getenv("QRL_REGRESS_DUMP")) {
        // Writes the input as a seed file (for the fuzz targets' replay).
        const Bytes bytes = c.build();
        std::ofstream(std::string(dump) + "/class" + std::to_string(c.bug_class) + "-" + c.name + ".jpg",
                      std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    SKIP_IF_OPEN_FINDING(c.name);
    RunOptions o;
    o.mode = c.mode;
    o.out_width = 16; // the decoder clips to the caller's image
    o.out_height = 16;
    const Outcome out = run(c.build(), o);
    EXPECT_EQ(out.code, c.expected) << c.name << " (class " << c.bug_class << "): " << codec_error_text(out.code);
    EXPECT_NE(out.code, JPEG_EXCEPTION_DETECTED);
}

INSTANTIATE_TEST_SUITE_P(Classes, RegressTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &param) { return std::string(param.param.name); });

// ---- Cases that check more than the code -----------------------------------------------

// 3: an undefined quantization table behaves as the zeroed store: flat gray.
TEST(Regress, UndefinedQuantTableGivesFlatGray) {
    RunOptions o;
    const Outcome out = run(gray_baseline(16, 16, 1), o);
    ASSERT_EQ(out.code, JPEG_OK);
    for (uint8_t v : out.pixels) ASSERT_EQ(v, 128);
}

// 9: AC runs that go past coefficient 63 land on coefficient 63, in every
// kernel set (equal within the documented SIMD differences). AC table: ZRL (F0), run 11 size 1 (B1), run 15 size 1 (F1),
// EOB (00), all with 3-bit codes 000, 001, 010, 011.
Bytes ac_run_image(const Bytes &bits) {
    return cat({soi(), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), dht(0, 0, {1}, {0x00}),
                dht(1, 0, {0, 0, 4}, {0xF0, 0xB1, 0xF1, 0x00}), sos({{1, 0x00}}), bits, eoi()});
}

TEST(Regress, AcRunPastTheBlockIsHarmlessInEveryKernelSet) {
    // DC "0"; ZRL x3 "000 000 000"; run 11 size 1 "001" + bit 1; EOB "011".
    //   0 000 000 000 001 1 011 -> 0000 0000 0000 1101 1 + pad
    const Bytes issue_case = ac_run_image(hex("00 0D BF"));
    // DC "0"; ZRL x4 then run 15 size 1: k reaches 64 + 15, past the block.
    //   0 000 000 000 000 010 1 011 -> 0000 0000 0000 0010 1011 + pad
    const Bytes past_case = ac_run_image(hex("00 02 BF"));
    for (const Bytes *stream : {&issue_case, &past_case}) {
        Outcome reference;
        bool first = true;
        for (int32_t cpu : {0, 3, 4, 5, 6}) {
            RunOptions o;
            o.cpu_class = cpu;
            const Outcome out = run(*stream, o);
            EXPECT_EQ(out.code, JPEG_OK) << "class " << cpu;
            if (first) {
                reference = out;
                first = false;
                continue;
            }
            EXPECT_EQ(out.code, reference.code) << "class " << cpu;
            const int d = max_difference(out.pixels, reference.pixels);
            EXPECT_TRUE(d >= 0 && d <= kKernelSetTolerance) << "class " << cpu << ": " << pixel_diff(out.pixels, reference.pixels);
        }
    }
}

// 10: the scan bomb ends in bounded time and in every mode with the same code.
TEST(Regress, ScanBombRefusedInEveryMode) {
    SKIP_IF_OPEN_FINDING("ScanBombRefusedInEveryMode");
    const Bytes bomb = scan_bomb(false, 10000);
    const std::string path = write_temp("scan-bomb", bomb);
    for (int32_t mode : {2, 3, 6, 7, 14, 15, 19}) {
        RunOptions o;
        o.mode = mode;
        o.file = path;
        o.out_width = 64;
        o.out_height = 64;
        EXPECT_EQ(run(bomb, o).code, JPEG_MEMORY_ERROR) << "mode " << mode;
    }
    std::remove(path.c_str());
}

// Resource limits: settable per record, defaults from codec_init, the same
// code (JPEG_MEMORY_ERROR) in every mode when exceeded.
TEST(Regress, LimitsHaveDefaultsAndAreSettablePerRecord) {
    JPEG_CODEC_RECORD record;
    std::memset(&record, 0xEE, sizeof record);
    ASSERT_EQ(codec_init(&record), JPEG_OK);
    EXPECT_EQ(record.props.max_coefficient_bytes, int64_t{1} << 30);
    EXPECT_EQ(record.props.max_scans, 500);
    EXPECT_EQ(codec_free(&record), JPEG_OK);

    auto decode = [](const Bytes &stream, int64_t max_bytes, int32_t max_scans, int32_t mode) {
        JPEG_CODEC_RECORD r;
        std::memset(&r, 0, sizeof r);
        EXPECT_EQ(codec_init(&r), JPEG_OK);
        if (max_bytes != 0) r.props.max_coefficient_bytes = max_bytes;
        if (max_scans != 0) r.props.max_scans = max_scans;
        Bytes exact(stream);
        Bytes pixels(64 * 64, 0);
        r.jpeg_buffer = exact.data();
        r.jpeg_buffer_size = static_cast<int32_t>(exact.size());
        int32_t code = codec_read(&r, JPEG_IO_READ_HEADER_MEM);
        if (code == JPEG_OK) {
            r.image_pixels = pixels.data();
            r.image_width = 64;
            r.image_height = 64;
            r.image_channels = 1;
            r.image_color = COLOR_GRAY;
            code = codec_read(&r, mode);
        }
        EXPECT_EQ(codec_free(&r), JPEG_OK);
        return code;
    };
    // Scans: a baseline image of 4 scans.
    const Bytes four_scans = scan_bomb(false, 4);
    for (int32_t mode : {JPEG_IO_DECODE_MEM, JPEG_IO_DECODE_HALF_MEM, JPEG_IO_DECODE_EIGHTH_MEM}) {
        EXPECT_EQ(decode(four_scans, 0, 4, mode), JPEG_OK) << "mode " << mode;
        EXPECT_EQ(decode(four_scans, 0, 3, mode), JPEG_MEMORY_ERROR) << "mode " << mode;
    }
    // Coefficient buffer: a 64 x 64 progressive gray image needs 64 blocks of
    // 128 bytes.
    const Bytes progressive = scan_bomb(true, 1);
    EXPECT_EQ(decode(progressive, 64 * 128, 0, JPEG_IO_DECODE_MEM), JPEG_OK);
    EXPECT_EQ(decode(progressive, 64 * 128 - 1, 0, JPEG_IO_DECODE_MEM), JPEG_MEMORY_ERROR);
    EXPECT_EQ(decode(progressive, 64 * 128 - 1, 0, JPEG_IO_DECODE_QUARTER_MEM), JPEG_MEMORY_ERROR);
}

// 12: every prefix of a small baseline and a small progressive file gives a
// defined code or image and reads nothing past jpeg_buffer_size (the stream
// copy is an exact heap block).
void check_prefixes(const Bytes &full) {
    ASSERT_FALSE(full.empty());
    for (size_t n = 1; n <= full.size(); ++n) {
        const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        RunOptions o;
        o.out_width = 32;
        o.out_height = 24;
        const Outcome out = run(prefix, o);
        ASSERT_NE(out.code, JPEG_EXCEPTION_DETECTED) << "prefix of " << n << " bytes";
        ASSERT_LE(out.code, JPEG_ROI_OK) << "prefix of " << n << " bytes";
        if (n == full.size()) {
            EXPECT_EQ(out.code, JPEG_OK);
        }
    }
    // The last byte 0xFF inside entropy data.
    Bytes cut(full.begin(), full.end() - 2);
    cut.push_back(0xFF);
    EXPECT_NE(run(cut).code, JPEG_EXCEPTION_DETECTED);
}

TEST(Regress, EveryPrefixOfABaselineFile) {
    qrl_test::LibjpegEncodeOptions e;
    e.width = 32;
    e.height = 24;
    e.quality = 60;
    check_prefixes(qrl_test::libjpeg_encode(e));
}

TEST(Regress, EveryPrefixOfAProgressiveFile) {
    REQUIRE_PROGRESSIVE();
    check_prefixes(small_progressive());
}

TEST(Regress, EmptyAndTinyInputs) {
    struct Tiny {
        const char *text;
        int32_t code;
    };
    // A memory source that ends while a marker is searched: JPEG_MEMORY_ERROR.
    const Tiny tiny[] = {{"", JPEG_INVALID_PROPERTIES}, {"FF", JPEG_NOT_JPEG},
                         {"FF D8", JPEG_MEMORY_ERROR},  {"FF D8 FF", JPEG_MEMORY_ERROR},
                         {"FF D8 FF FF FF", JPEG_MEMORY_ERROR}, {"FF D9", JPEG_NOT_JPEG},
                         {"00", JPEG_NOT_JPEG}};
    for (const Tiny &t : tiny) {
        const char *text = t.text;
        const Bytes bytes = hex(text);
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        ASSERT_EQ(codec_init(&record), JPEG_OK);
        Bytes exact(bytes);
        uint8_t dummy = 0;
        record.jpeg_buffer = exact.empty() ? &dummy : exact.data();
        record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
        const int32_t code = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
        EXPECT_EQ(code, t.code) << "'" << text << "': " << codec_error_text(code);
        EXPECT_EQ(codec_free(&record), JPEG_OK);
    }
}

// A negative jpeg_buffer_size passes validation but must not let the source
// read outside the buffer.
TEST(Regress, NegativeBufferSize) {
    const Bytes stream = gray_baseline(16, 16);
    // Every memory read mode, through the public fields and through the
    // record's own copy (use_internal_properties).
    for (int32_t internal : {0, 1}) {
        for (int32_t mode : {1, 3, 5, 7, 15, 17, 19, 21}) {
            for (int32_t size : {-1, -65536, INT32_MIN}) {
                JPEG_CODEC_RECORD record;
                std::memset(&record, 0, sizeof record);
                ASSERT_EQ(codec_init(&record), JPEG_OK);
                Bytes exact(stream);
                Bytes pixels(16 * 16 * 3, 0xA5);
                record.jpeg_buffer = exact.data();
                record.jpeg_buffer_size = size;
                record.image_pixels = pixels.data();
                record.image_width = 16;
                record.image_height = 16;
                record.image_channels = 3;
                record.image_color = COLOR_RGB;
                if (internal != 0) {
                    record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
                    ASSERT_EQ(codec_read(&record, JPEG_IO_READ_HEADER_MEM), JPEG_OK);
                    record.use_internal_properties = 1;
                    record.props.jpeg_buffer_size = size;
                }
                const int32_t code = codec_read(&record, mode);
                if (internal == 0) {
                    EXPECT_EQ(code, JPEG_INVALID_PROPERTIES) << "mode " << mode << ", size " << size;
                } else {
                    // The record's own fields are used as they stand: the
                    // source keeps the end of the buffer it was given.
                    EXPECT_NE(code, JPEG_EXCEPTION_DETECTED) << "mode " << mode << ", size " << size;
                    EXPECT_EQ(record.props.input.end, exact.data() + exact.size())
                        << "mode " << mode << ", size " << size;
                }
                record.use_internal_properties = 0;
                EXPECT_EQ(codec_free(&record), JPEG_OK);
            }
        }
    }
}

// After a memory header read the source restarts at the scan header; a
// following read on the record's own fields (use_internal_properties) must
// still end at the end of the buffer. (The restart used to add the whole
// buffer size to the scan header's address.) A stream without EOI makes the
// decode read to the end of the source.
TEST(Regress, ReadAfterHeaderReadEndsAtTheBuffer) {
    qrl_test::LibjpegEncodeOptions e;
    e.width = 40;
    e.height = 24;
    Bytes stream = qrl_test::libjpeg_encode(e);
    ASSERT_GE(stream.size(), 2u);
    const Outcome whole = run(stream);
    ASSERT_EQ(whole.code, JPEG_OK);
    stream.resize(stream.size() - 2); // no EOI
    for (int32_t header_mode : {JPEG_IO_READ_HEADER_MEM, JPEG_IO_THUMBNAIL_MEM}) {
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        ASSERT_EQ(codec_init(&record), JPEG_OK);
        Bytes exact(stream);
        Bytes pixels(40 * 24 * 3, 0xA5);
        record.jpeg_buffer = exact.data();
        record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
        record.image_pixels = pixels.data();
        record.image_width = 40;
        record.image_height = 24;
        record.image_channels = 3;
        record.image_color = COLOR_RGB;
        ASSERT_EQ(codec_read(&record, header_mode), JPEG_OK) << "mode " << header_mode;
        EXPECT_EQ(record.props.input.start + record.props.input.size, exact.data() + exact.size());
        record.use_internal_properties = 1;
        record.props.image_color = COLOR_RGB;
        record.props.image_channels = 3;
        record.props.image_subsampling = 0;
        const int32_t code = codec_read(&record, JPEG_IO_DECODE_MEM);
        EXPECT_EQ(record.props.input.end, exact.data() + exact.size()) << "mode " << header_mode;
        EXPECT_EQ(code, JPEG_MEMORY_ERROR) << "mode " << header_mode << ": " << codec_error_text(code);
        EXPECT_EQ(pixel_diff(pixels, whole.pixels), "equal") << "mode " << header_mode;
        record.use_internal_properties = 0;
        EXPECT_EQ(codec_free(&record), JPEG_OK);
    }
}

// A negative size set while a decode is interrupted does not move the
// source's bounds: the decode resumes and ends as the one-call decode.
TEST(Regress, NegativeBufferSizeWhileInterrupted) {
    qrl_test::LibjpegEncodeOptions e;
    e.width = 48;
    e.height = 16;
    const Bytes stream = qrl_test::libjpeg_encode(e);
    const Outcome whole = run(stream);
    ASSERT_EQ(whole.code, JPEG_OK);
    JPEG_CODEC_RECORD record;
    std::memset(&record, 0, sizeof record);
    ASSERT_EQ(codec_init(&record), JPEG_OK);
    Bytes exact(stream);
    Bytes pixels(48 * 16 * 3, 0xA5);
    record.jpeg_buffer = exact.data();
    record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
    ASSERT_EQ(codec_read(&record, JPEG_IO_READ_HEADER_MEM), JPEG_OK);
    record.image_pixels = pixels.data();
    record.image_width = 48;
    record.image_height = 16;
    record.image_channels = 3;
    record.image_color = COLOR_RGB;
    record.props.interrupt_after_mcu = 1;
    int32_t code = codec_read(&record, JPEG_IO_DECODE_MEM);
    ASSERT_EQ(code, JPEG_INTERRUPT_OK);
    record.jpeg_buffer_size = -1;
    for (int calls = 0; code == JPEG_INTERRUPT_OK && calls < 100; ++calls) code = codec_read(&record, JPEG_IO_DECODE_MEM);
    EXPECT_EQ(code, JPEG_OK) << codec_error_text(code);
    EXPECT_EQ(pixel_diff(pixels, whole.pixels), "equal");
    EXPECT_EQ(codec_free(&record), JPEG_OK);
}

// The encoder treats a negative output size as no room at all.
TEST(Regress, NegativeOutputBufferSize) {
    REQUIRE_ENCODER();
    const Bytes pixels = qrl_test::synthetic_pixels(8, 8, 3, 5);
    for (int32_t size : {-1, INT32_MIN}) {
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        ASSERT_EQ(codec_init(&record), JPEG_OK);
        Bytes source(pixels);
        Bytes out(64, 0x5A);
        record.image_pixels = source.data();
        record.image_width = 8;
        record.image_height = 8;
        record.image_color = COLOR_RGB;
        record.jpeg_width = 8;
        record.jpeg_height = 8;
        record.jpeg_subsampling = SUBSAMPLING_NONE;
        record.jpeg_buffer = out.data();
        record.jpeg_buffer_size = size;
        EXPECT_EQ(codec_write(&record, JPEG_IO_ENCODE_MEM), JPEG_BUFFER_TOO_SMALL) << "size " << size;
        for (uint8_t v : out) ASSERT_EQ(v, 0x5A) << "size " << size;
        EXPECT_EQ(codec_free(&record), JPEG_OK);
    }
}

// 13: a marker inside the entropy data gives the same result from a file and
// from memory.
TEST(Regress, MarkerInsideEntropyDataSameFromFileAndMemory) {
    qrl_test::LibjpegEncodeOptions e;
    e.width = 64;
    e.height = 16;
    e.quality = 80;
    Bytes stream = qrl_test::libjpeg_encode(e);
    ASSERT_FALSE(stream.empty());
    // The entropy data starts after the SOS segment; put FF D9 three quarters
    // of the way into it (MCU 3 of 4).
    size_t sos_at = 0;
    for (size_t i = 0; i + 1 < stream.size(); ++i)
        if (stream[i] == 0xFF && stream[i + 1] == 0xDA) sos_at = i;
    ASSERT_GT(sos_at, 0u);
    const size_t data_at = sos_at + 2 + (static_cast<size_t>(stream[sos_at + 2]) << 8 | stream[sos_at + 3]);
    const size_t insert_at = data_at + (stream.size() - 2 - data_at) * 3 / 4;
    stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(insert_at), {0xFF, 0xD9});
    const std::string path = write_temp("marker-inside", stream);
    RunOptions mem;
    RunOptions file;
    file.mode = JPEG_IO_DECODE_FILE;
    file.file = path;
    const Outcome a = run(stream, mem);
    const Outcome b = run(stream, file);
    EXPECT_EQ(a.code, JPEG_OK) << codec_error_text(a.code);
    EXPECT_EQ(a.code, b.code);
    EXPECT_EQ(pixel_diff(a.pixels, b.pixels), "equal");
    std::remove(path.c_str());
}

// 11: restart markers are not checked for their number: a stream whose RST
// markers are renumbered decodes to the same pixels, from memory and file.
TEST(Regress, MisnumberedRestartMarkersDecodeAsTheOriginal) {
    qrl_test::LibjpegEncodeOptions e;
    e.width = 48;
    e.height = 32;
    e.restart_interval = 1;
    const Bytes original = qrl_test::libjpeg_encode(e);
    ASSERT_FALSE(original.empty());
    Bytes renumbered(original);
    int markers = 0;
    for (size_t i = 0; i + 1 < renumbered.size(); ++i) {
        if (renumbered[i] == 0xFF && renumbered[i + 1] >= 0xD0 && renumbered[i + 1] <= 0xD7) {
            renumbered[i + 1] = static_cast<uint8_t>(0xD0 + (renumbered[i + 1] - 0xD0 + 3) % 8);
            ++markers;
        }
    }
    ASSERT_EQ(markers, 5); // 3 x 2 MCUs of 16 x 16
    const Outcome reference = run(original);
    ASSERT_EQ(reference.code, JPEG_OK);
    const std::string path = write_temp("rst-renumbered", renumbered);
    for (int32_t mode : {JPEG_IO_DECODE_MEM, JPEG_IO_DECODE_FILE}) {
        RunOptions o;
        o.mode = mode;
        o.file = path;
        const Outcome out = run(renumbered, o);
        EXPECT_EQ(out.code, JPEG_OK) << "mode " << mode;
        EXPECT_EQ(pixel_diff(out.pixels, reference.pixels), "equal") << "mode " << mode;
    }
    std::remove(path.c_str());
}

// 12: a 0xFF as the last byte of a memory source inside entropy data. The
// portable block kernel reports it (JPEG_DATA_ERROR); the SIMD kernels end
// the block without a report, so the scan completes and the search for the
// marker after it finds the end of the data (JPEG_MEMORY_ERROR).
TEST(Regress, LastByteFfInsideEntropyData) {
    // 8 blocks of 2 bits: the scan needs both bytes.
    const Bytes stream = cat({soi(), dqt(0), sof(0xC0, 16, 32, {{1, 0x11, 0}}), minimal_tables(),
                              sos({{1, 0x00}}), hex("00 FF")});
    const int32_t expected[][2] = {{0, JPEG_DATA_ERROR},
                                   {3, JPEG_MEMORY_ERROR},
                                   {4, JPEG_MEMORY_ERROR},
                                   {5, JPEG_MEMORY_ERROR},
                                   {6, JPEG_MEMORY_ERROR}};
    for (const auto &e : expected) {
        RunOptions o;
        o.cpu_class = e[0];
        EXPECT_EQ(run(stream, o).code, e[1]) << "class " << e[0];
    }
}

// 12: fill bytes (0xFF runs) before the markers change nothing.
TEST(Regress, FillBytesBeforeMarkersChangeNothing) {
    qrl_test::LibjpegEncodeOptions e;
    e.width = 24;
    e.height = 16;
    e.restart_interval = 1;
    const Bytes original = qrl_test::libjpeg_encode(e);
    ASSERT_FALSE(original.empty());
    // Three fill bytes before every marker after SOI (RSTs and EOI included).
    Bytes filled = {original[0], original[1]};
    for (size_t i = 2; i < original.size(); ++i) {
        const bool marker = original[i] == 0xFF && i + 1 < original.size() && original[i + 1] != 0x00 &&
                            original[i + 1] != 0xFF;
        if (marker) filled.insert(filled.end(), {0xFF, 0xFF, 0xFF});
        filled.push_back(original[i]);
    }
    const Outcome reference = run(original);
    const Outcome out = run(filled);
    ASSERT_EQ(reference.code, JPEG_OK);
    EXPECT_EQ(out.code, JPEG_OK) << codec_error_text(out.code);
    EXPECT_EQ(pixel_diff(out.pixels, reference.pixels), "equal");
}

// 14: an AC scan of component 1 before any DC scan, then the DC scan of
// component 0, then EOI: every output byte is defined (two different buffer
// fills give the same picture).
TEST(Regress, UninitialisedCoefficientsNeverReachTheOutput) {
    SKIP_IF_OPEN_FINDING("UninitialisedCoefficientsNeverReachTheOutput");
    REQUIRE_PROGRESSIVE();
    const Bytes stream = cat({soi(), dqt(0), sof(0xC2, 16, 16, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}}),
                              minimal_tables(), sos({{2, 0x00}}, 1, 63, 0), zero_blocks(4),
                              sos({{1, 0x00}}, 0, 0, 0), zero_blocks(4), eoi()});
    RunOptions a;
    a.fill = 0x00;
    RunOptions b;
    b.fill = 0xFF;
    const Outcome x = run(stream, a);
    const Outcome y = run(stream, b);
    EXPECT_EQ(x.code, JPEG_OK);
    EXPECT_EQ(y.code, JPEG_OK);
    EXPECT_EQ(pixel_diff(x.pixels, y.pixels), "equal");
}

// 16: a JFIF thumbnail of 147 x 148 into a 1 x 1 image, and a JFXX palette
// thumbnail of 254 x 254: nothing written, sizes reported.
Bytes jfif_with_thumbnail(uint8_t w, uint8_t h) {
    Bytes payload = hex("4A 46 49 46 00 01 02 00 00 01 00 01");
    payload.push_back(w);
    payload.push_back(h);
    payload.insert(payload.end(), static_cast<size_t>(w) * h * 3, 0x40);
    return cat({soi(), seg(0xE0, payload), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), minimal_tables(),
                sos({{1, 0x00}}), zero_blocks(1), eoi()});
}

Bytes jfxx_palette_thumbnail(uint8_t w, uint8_t h) {
    Bytes payload = hex("4A 46 58 58 00 11");
    payload.push_back(w);
    payload.push_back(h);
    payload.insert(payload.end(), 768, 0x33);
    payload.insert(payload.end(), static_cast<size_t>(w) * h, 0x07);
    return cat({soi(), seg(0xE0, payload), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), minimal_tables(),
                sos({{1, 0x00}}), zero_blocks(1), eoi()});
}

TEST(Regress, ThumbnailLargerThanTheImageIsNotWritten) {
    struct Thumb {
        Bytes stream;
        int32_t w, h;
    };
    const Thumb thumbs[] = {{jfif_with_thumbnail(147, 148), 147, 148}, {jfxx_palette_thumbnail(254, 254), 254, 254}};
    for (const Thumb &t : thumbs) {
        RunOptions o;
        o.mode = JPEG_IO_THUMBNAIL_MEM;
        o.out_width = 1;
        o.out_height = 1;
        const Outcome out = run(t.stream, o);
        EXPECT_EQ(out.code, JPEG_OK);
        EXPECT_EQ(out.thumbnail_width, t.w);
        EXPECT_EQ(out.thumbnail_height, t.h);
        ASSERT_EQ(out.pixels.size(), 3u);
        for (uint8_t v : out.pixels) EXPECT_EQ(v, 0xA5) << "the 1 x 1 image was written";
    }
}

// 17: a COM segment of length 0xFFFF into a buffer of capacity 0.
TEST(Regress, LongCommentIntoAnEmptyBuffer) {
    Bytes payload(0xFFFF - 2, 'c');
    const Bytes stream = cat({soi(), seg(0xFE, payload), dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}),
                              minimal_tables(), sos({{1, 0x00}}), zero_blocks(1), eoi()});
    uint8_t guard[16];
    std::memset(guard, 0x5A, sizeof guard);
    RunOptions o;
    o.mode = JPEG_IO_READ_HEADER_MEM;
    o.comment = guard + 8;
    o.comment_capacity = 0;
    const Outcome out = run(stream, o);
    EXPECT_EQ(out.code, JPEG_COMMENT_ACCESS_ERROR);
    EXPECT_EQ(out.comment_size, 0xFFFF - 2);
    for (uint8_t v : guard) EXPECT_EQ(v, 0x5A);
}

// 17: jpeg_comment_size is the capacity going in and the comment's length
// coming out. The length written back never becomes the capacity of the same
// buffer: a second COM segment in the stream, or a second read on the record
// without setting the size again, is measured against the buffer's real
// capacity. Each buffer is an exact heap block (a write past it is caught)
// followed, in a copy, by a check that only the allowed bytes changed.
Bytes with_comments(const std::vector<size_t> &lengths) {
    Bytes out = soi();
    char letter = 'a';
    for (size_t n : lengths) {
        const Bytes com = seg(0xFE, Bytes(n, static_cast<uint8_t>(letter++)));
        out.insert(out.end(), com.begin(), com.end());
    }
    const Bytes rest = cat({dqt(0), sof(0xC0, 8, 8, {{1, 0x11, 0}}), minimal_tables(), sos({{1, 0x00}}),
                            zero_blocks(1), eoi()});
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

struct CommentRead {
    int32_t code;
    int32_t size;  // jpeg_comment_size afterwards
    size_t copied; // leading bytes of the buffer that changed
};

// One header read on `record` with the buffer as it stands.
CommentRead read_comment_header(JPEG_CODEC_RECORD *record, const Bytes &stream, Bytes *buffer) {
    Bytes exact(stream);
    record->jpeg_buffer = exact.data();
    record->jpeg_buffer_size = static_cast<int32_t>(exact.size());
    std::fill(buffer->begin(), buffer->end(), 0x5A);
    CommentRead r{};
    r.code = codec_read(record, JPEG_IO_READ_HEADER_MEM);
    r.size = record->props.jpeg_comment_size;
    while (r.copied < buffer->size() && (*buffer)[r.copied] != 0x5A) ++r.copied;
    return r;
}

TEST(Regress, CommentCapacityIsKeptApartFromTheLength) {
    struct Step {
        std::vector<size_t> comments;
        int32_t set_size; // jpeg_comment_size set before the read; -1: left as the last read wrote it
        bool new_buffer;  // a fresh buffer of `capacity` bytes at another address
        size_t capacity;
        CommentRead expected;
    };
    struct Scenario {
        const char *name;
        std::vector<Step> steps;
    };
    const Scenario scenarios[] = {
        {"100 bytes into 40", {{{100}, 40, true, 40, {JPEG_COMMENT_ACCESS_ERROR, 100, 40}}}},
        {"40 then 60 bytes into 100", {{{40, 60}, 100, true, 100, {JPEG_OK, 60, 60}}}},
        {"60 then 40 bytes into 60", {{{60, 40}, 60, true, 60, {JPEG_OK, 40, 60}}}},
        {"second read without setting the size again",
         {{{100}, 40, true, 40, {JPEG_COMMENT_ACCESS_ERROR, 100, 40}},
          {{100}, -1, false, 40, {JPEG_COMMENT_ACCESS_ERROR, 100, 40}},
          {{30}, -1, false, 40, {JPEG_OK, 30, 30}}}},
        {"second read after a comment that fit",
         {{{20}, 100, true, 100, {JPEG_OK, 20, 20}}, {{90}, -1, false, 100, {JPEG_OK, 90, 90}}}},
        {"the length needed, given as the capacity of a bigger buffer",
         {{{100}, 40, true, 40, {JPEG_COMMENT_ACCESS_ERROR, 100, 40}},
          {{100}, 100, true, 100, {JPEG_OK, 100, 100}}}},
        {"a smaller buffer whose capacity equals the last length",
         {{{40}, 100, true, 100, {JPEG_OK, 40, 40}}, {{60}, 40, true, 40, {JPEG_COMMENT_ACCESS_ERROR, 60, 40}}}},
    };
    for (const Scenario &sc : scenarios) {
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        ASSERT_EQ(codec_init(&record), JPEG_OK);
        std::vector<std::unique_ptr<Bytes>> buffers;
        for (size_t i = 0; i < sc.steps.size(); ++i) {
            const Step &st = sc.steps[i];
            if (st.new_buffer) {
                // The old buffer stays allocated, so the new one has another address.
                buffers.push_back(std::make_unique<Bytes>(st.capacity));
                record.props.jpeg_comment = buffers.back()->data();
            }
            if (st.set_size >= 0) record.props.jpeg_comment_size = static_cast<uint16_t>(st.set_size);
            const CommentRead r = read_comment_header(&record, with_comments(st.comments), buffers.back().get());
            EXPECT_EQ(r.code, st.expected.code) << sc.name << ", read " << i;
            EXPECT_EQ(r.size, st.expected.size) << sc.name << ", read " << i;
            EXPECT_EQ(r.copied, st.expected.copied) << sc.name << ", read " << i;
        }
        record.props.jpeg_comment = nullptr;
        EXPECT_EQ(codec_free(&record), JPEG_OK);
    }
}

// 17: a caller comment over 65531 bytes is written as its first 65531 bytes
// (jpeg_comment_size then reads 65531), never read past its buffer, and the
// decoder gives it back whole.
TEST(Regress, OversizedCommentOnWrite) {
    REQUIRE_ENCODER();
    Bytes comment(0xFFFF);
    for (size_t i = 0; i < comment.size(); ++i) comment[i] = static_cast<uint8_t>('a' + i % 26);
    const Bytes pixels = qrl_test::synthetic_pixels(8, 8, 3, 3);
    auto encode = [&](int32_t buffer_size, Bytes *out, int32_t *comment_size) {
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        EXPECT_EQ(codec_init(&record), JPEG_OK);
        Bytes source(pixels);
        Bytes text(comment); // exact heap block
        out->assign(static_cast<size_t>(buffer_size), 0);
        record.image_pixels = source.data();
        record.image_width = 8;
        record.image_height = 8;
        record.image_color = COLOR_RGB;
        record.jpeg_width = 8;
        record.jpeg_height = 8;
        record.jpeg_subsampling = SUBSAMPLING_NONE;
        record.jpeg_buffer = out->data();
        record.jpeg_buffer_size = buffer_size;
        record.props.jpeg_comment = text.data();
        record.props.jpeg_comment_size = static_cast<uint16_t>(text.size());
        const int32_t code = codec_write(&record, JPEG_IO_ENCODE_MEM);
        *comment_size = record.props.jpeg_comment_size;
        if (code == JPEG_OK) out->resize(static_cast<size_t>(record.jpeg_buffer_size));
        record.props.jpeg_comment = nullptr;
        EXPECT_EQ(codec_free(&record), JPEG_OK);
        return code;
    };
    Bytes stream;
    int32_t comment_size = 0;
    ASSERT_EQ(encode(1 << 17, &stream, &comment_size), JPEG_OK);
    EXPECT_EQ(comment_size, 65531);
    Bytes short_out;
    EXPECT_EQ(encode(static_cast<int32_t>(stream.size()) - 1, &short_out, &comment_size), JPEG_BUFFER_TOO_SMALL);

    Bytes back(0xFFFF, 0);
    RunOptions o;
    o.mode = JPEG_IO_READ_HEADER_MEM;
    o.comment = back.data();
    o.comment_capacity = 0xFFFF;
    const Outcome out = run(stream, o);
    EXPECT_EQ(out.code, JPEG_OK);
    ASSERT_EQ(out.comment_size, 65531);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 65531, comment.begin()));
}

// 18: a second frame header after the buffers were sized for a small frame.
TEST(Regress, SecondFrameHeaderProgressive) {
    REQUIRE_PROGRESSIVE();
    const Bytes stream = cat({soi(), dqt(0), sof(0xC2, 16, 16, {{1, 0x11, 0}}), minimal_tables(),
                              sos({{1, 0x00}}, 0, 0, 0), zero_blocks(4), sof(0xC2, 4096, 4096, {{1, 0x11, 0}}),
                              sos({{1, 0x00}}, 1, 63, 0), zero_blocks(64), eoi()});
    const Outcome out = run(stream);
    EXPECT_EQ(out.code, JPEG_OK) << codec_error_text(out.code);
}

// 18: coefficient planes carry no size, so a second frame header that
// changes the frame after the caller sized the planes from the header read
// must be refused, not decoded through them.
TEST(Regress, SecondFrameHeaderWithCoefficientPlanes) {
    SKIP_IF_OPEN_FINDING("SecondFrameHeaderWithCoefficientPlanes");
    const Bytes stream = cat({soi(), dqt(0), sof(0xC0, 16, 16, {{1, 0x11, 0}}), minimal_tables(), sos({{1, 0x00}}),
                              zero_blocks(4), sof(0xC0, 4096, 4096, {{1, 0x11, 0}}), sos({{1, 0x00}}),
                              zero_blocks(64), eoi()});
    for (int32_t planes_mode : {0, 1}) {
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        ASSERT_EQ(codec_init(&record), JPEG_OK);
        Bytes exact(stream);
        record.jpeg_buffer = exact.data();
        record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
        ASSERT_EQ(codec_read(&record, JPEG_IO_READ_HEADER_MEM), JPEG_OK);
        std::vector<int16_t> planes[QRL_MAX_COMPONENTS];
        COEFFICIENT_PLANES request{};
        request.planes_mode = planes_mode;
        for (int i = 0; i < QRL_MAX_COMPONENTS; ++i) {
            planes[i].assign(16 * 16, 0); // the first frame's coefficient image, exactly
            request.plane[i] = planes[i].data();
        }
        record.props.coefficient_planes = &request;
        EXPECT_EQ(codec_read(&record, JPEG_IO_DECODE_MEM), JPEG_MULTIPLE_FRAMES) << "planes mode " << planes_mode;
        record.props.coefficient_planes = nullptr;
        EXPECT_EQ(codec_free(&record), JPEG_OK);
    }
}

// 12/14: a frame whose EOI comes before any scan has no image; a decode
// must not report success with the caller's buffer untouched. (Found by
// fuzz_decode_file: the file modes continued past the EOI, the memory modes
// stopped there, and both returned 0.)
TEST(Regress, EoiBeforeTheFirstScan) {
    SKIP_IF_OPEN_FINDING("EoiBeforeTheFirstScan");
    const Bytes stream = cat({soi(), dqt(0), sof(0xC0, 16, 16, {{1, 0x11, 0}}), minimal_tables(), eoi(),
                              sos({{1, 0x00}}), zero_blocks(4), eoi()});
    const std::string path = write_temp("eoi-first", stream);
    for (int32_t mode : {JPEG_IO_DECODE_MEM, JPEG_IO_DECODE_FILE}) {
        RunOptions o;
        o.mode = mode;
        o.file = path;
        o.out_width = 16;
        o.out_height = 16;
        const Outcome out = run(stream, o);
        EXPECT_EQ(out.code, JPEG_NO_IMAGE) << "mode " << mode;
    }
    std::remove(path.c_str());
}

// 14/19: a progressive gray image with one AC scan (no DC scan) decoded as
// a region gives the rectangle of the whole decode. (Found by fuzz_decode_roi.)
TEST(Regress, ProgressiveRegionWithoutDcScan) {
    SKIP_IF_OPEN_FINDING("ProgressiveRegionWithoutDcScan");
    const Bytes stream = cat({soi(), dqt(0), sof(0xC2, 8, 43, {{1, 0x11, 0}}), minimal_tables(),
                              sos({{1, 0x00}}, 1, 1, 0x01), zero_blocks(6), eoi()});
    const Outcome whole = run(stream);
    ASSERT_EQ(whole.code, JPEG_OK);
    RunOptions o;
    o.roi[0] = 7;
    o.roi[1] = 14;
    o.roi[2] = 8;
    o.roi[3] = 43;
    o.out_width = 1;
    o.out_height = 29;
    const Outcome part = run(stream, o);
    EXPECT_TRUE(part.code == JPEG_OK || part.code == JPEG_ROI_OK) << codec_error_text(part.code);
    Bytes expected;
    for (int y = 14; y < 43; ++y) expected.push_back(whole.pixels[static_cast<size_t>(y) * 8 + 7]);
    EXPECT_EQ(pixel_diff(part.pixels, expected), "equal");
}

// 19: regions with left > 0 and right 0 terminate; a region at the bottom
// of a 65535-row image never addresses the row index past its last entry.
TEST(Regress, RegionLeftWithoutRight) {
    const Bytes stream = gray_baseline(64, 64);
    RunOptions o;
    o.roi[0] = 8;
    o.roi[2] = 0;
    o.out_width = 56;
    o.out_height = 64;
    const Outcome out = run(stream, o);
    EXPECT_TRUE(out.code == JPEG_OK || out.code == JPEG_ROI_OK) << codec_error_text(out.code);
}

// A negative left or top edge counts as 0: the whole image is written.
TEST(Regress, RegionNegativeEdgesCountAsZero) {
    SKIP_IF_OPEN_FINDING("RegionNegativeEdgesCountAsZero");
    const Bytes stream = gray_baseline(16, 16);
    for (int edge = 0; edge < 2; ++edge) {
        RunOptions o;
        o.roi[edge] = -3;
        o.out_width = 16;
        o.out_height = 16;
        const Outcome out = run(stream, o);
        EXPECT_TRUE(out.code == JPEG_OK || out.code == JPEG_ROI_OK) << codec_error_text(out.code);
        size_t unwritten = 0;
        for (uint8_t v : out.pixels) unwritten += v != 128 ? 1 : 0;
        EXPECT_EQ(unwritten, 0u) << (edge == 0 ? "left" : "top") << " -3";
    }
}

// Several regions in turn on one record each equal the rectangle of the
// whole decode. The input (corrupt entropy data, which the whole decode
// accepts) is from the wuffs test suite, Apache-2.0 OR MIT.
TEST(Regress, RepeatedRegionsOnOneRecord) {
    SKIP_IF_OPEN_FINDING("RepeatedRegionsOnOneRecord");
    const Bytes stream =
        qrl_test::read_file_bytes(std::string(QRL_SOURCE_DIR) + "/tests/regress/inputs/wuffs-182.0-original.jpg");
    ASSERT_FALSE(stream.empty());
    const Outcome whole = run(stream);
    ASSERT_EQ(whole.code, JPEG_OK);
    ASSERT_EQ(whole.channels, 3);
    JPEG_CODEC_RECORD record;
    std::memset(&record, 0, sizeof record);
    ASSERT_EQ(codec_init(&record), JPEG_OK);
    Bytes exact(stream);
    record.jpeg_buffer = exact.data();
    record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
    ASSERT_EQ(codec_read(&record, JPEG_IO_READ_HEADER_MEM), JPEG_OK);
    const int32_t regions[][4] = {{24, 8, 25, 9}, {17, 3, 28, 14}, {0, 0, 32, 29}, {5, 20, 30, 29}};
    for (const auto &r : regions) {
        const int32_t w = r[2] - r[0];
        const int32_t h = r[3] - r[1];
        Bytes part(static_cast<size_t>(w) * h * 3, 0xA5);
        record.image_pixels = part.data();
        record.image_width = w;
        record.image_height = h;
        record.image_channels = 3;
        record.image_color = COLOR_RGB;
        std::memcpy(record.props.roi, r, sizeof r);
        const int32_t code = codec_read(&record, JPEG_IO_DECODE_MEM);
        EXPECT_TRUE(code == JPEG_OK || code == JPEG_ROI_OK) << codec_error_text(code);
        Bytes expected;
        for (int32_t y = r[1]; y < r[3]; ++y) {
            const auto row = whole.pixels.begin() + (static_cast<std::ptrdiff_t>(y) * whole.width + r[0]) * 3;
            expected.insert(expected.end(), row, row + static_cast<std::ptrdiff_t>(w) * 3);
        }
        EXPECT_EQ(pixel_diff(part, expected), "equal") << r[0] << "," << r[1] << "-" << r[2] << "," << r[3];
    }
    EXPECT_EQ(codec_free(&record), JPEG_OK);
}

// 19: a decode of the whole image after a region decode on the same record
// (which left its scan pending with JPEG_ROI_OK) gives the whole image, not
// the rest of the region's scan. (Found by fuzz_decode_roi.)
TEST(Regress, WholeDecodeAfterARegionOnOneRecord) {
    qrl_test::LibjpegEncodeOptions e;
    e.width = 40;
    e.height = 40;
    const Bytes stream = qrl_test::libjpeg_encode(e);
    const Outcome whole = run(stream);
    ASSERT_EQ(whole.code, JPEG_OK);
    const int32_t regions[][4] = {{8, 0, 0, 16}, {0, 16, 24, 32}, {1, 0, 0, 0}};
    for (const auto &region : regions) {
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        ASSERT_EQ(codec_init(&record), JPEG_OK);
        Bytes exact(stream);
        record.jpeg_buffer = exact.data();
        record.jpeg_buffer_size = static_cast<int32_t>(exact.size());
        ASSERT_EQ(codec_read(&record, JPEG_IO_READ_HEADER_MEM), JPEG_OK);
        const int32_t right = region[2] != 0 ? region[2] : 40;
        const int32_t bottom = region[3] != 0 ? region[3] : 40;
        Bytes part(static_cast<size_t>(right - region[0]) * (bottom - region[1]) * 3, 0xA5);
        record.image_pixels = part.data();
        record.image_width = right - region[0];
        record.image_height = bottom - region[1];
        record.image_channels = 3;
        record.image_color = COLOR_RGB;
        std::memcpy(record.props.roi, region, sizeof region);
        EXPECT_EQ(codec_read(&record, JPEG_IO_DECODE_MEM), JPEG_ROI_OK);
        Bytes pixels(40 * 40 * 3, 0xA5);
        record.image_pixels = pixels.data();
        record.image_width = 40;
        record.image_height = 40;
        std::memset(record.props.roi, 0, sizeof record.props.roi);
        EXPECT_EQ(codec_read(&record, JPEG_IO_DECODE_MEM), JPEG_OK);
        EXPECT_EQ(pixel_diff(pixels, whole.pixels), "equal")
            << "after " << region[0] << "," << region[1] << "-" << region[2] << "," << region[3];
        EXPECT_EQ(codec_free(&record), JPEG_OK);
    }
}

TEST(Regress, RegionAtTheBottomOfA65535RowImage) {
    const Bytes stream = gray_baseline(8, 65535);
    RunOptions o;
    o.roi[0] = 0;
    o.roi[1] = 65530;
    o.roi[2] = 8;
    o.roi[3] = 65535;
    o.out_width = 8;
    o.out_height = 5;
    const Outcome out = run(stream, o);
    EXPECT_TRUE(out.code == JPEG_OK || out.code == JPEG_ROI_OK) << codec_error_text(out.code);
    for (uint8_t v : out.pixels) EXPECT_EQ(v, 128);
}

// 20: interruption after every MCU gives the one-call result in a bounded
// number of calls.
TEST(Regress, InterruptEveryMcuEqualsOneCall) {
    SKIP_IF_OPEN_FINDING("InterruptEveryMcuEqualsOneCall");
    qrl_test::LibjpegEncodeOptions e;
    e.width = 40;
    e.height = 24;
    e.restart_interval = 2;
    const Bytes stream = qrl_test::libjpeg_encode(e);
    const Outcome whole = run(stream);
    RunOptions o;
    o.interrupt = true;
    const Outcome pieces = run(stream, o);
    ASSERT_EQ(whole.code, JPEG_OK);
    EXPECT_EQ(pieces.code, JPEG_OK);
    EXPECT_EQ(pixel_diff(pieces.pixels, whole.pixels), "equal");
    // 3 x 2 MCUs of 16 x 16.
    EXPECT_EQ(pieces.calls, 6);
}

// 21: narrow images in every kernel set give the portable result within the
// documented SIMD differences.
TEST(Regress, NarrowImagesEqualInEveryKernelSet) {
    for (int width = 1; width <= 17; ++width) {
        qrl_test::LibjpegEncodeOptions e;
        e.width = width;
        e.height = 9;
        e.seed = static_cast<uint32_t>(width);
        const Bytes stream = qrl_test::libjpeg_encode(e);
        RunOptions portable;
        portable.cpu_class = 0;
        const Outcome reference = run(stream, portable);
        ASSERT_EQ(reference.code, JPEG_OK) << "width " << width;
        for (int32_t cpu : {3, 4, 5, 6}) {
            RunOptions o;
            o.cpu_class = cpu;
            const Outcome out = run(stream, o);
            EXPECT_EQ(out.code, JPEG_OK) << "width " << width << " class " << cpu;
            const int d = max_difference(out.pixels, reference.pixels);
            EXPECT_TRUE(d >= 0 && d <= kKernelSetTolerance)
                << "width " << width << " class " << cpu << ": " << pixel_diff(out.pixels, reference.pixels);
        }
    }
}

// 22: the encoder never writes past the caller's buffer.
TEST(Regress, EncoderBufferOneByteShort) {
    REQUIRE_ENCODER();
    const int w = 16;
    const int h = 16;
    const Bytes pixels = qrl_test::synthetic_pixels(w, h, 3, 7);
    auto encode = [&](int32_t size, int32_t quality, Bytes *out) {
        JPEG_CODEC_RECORD record;
        std::memset(&record, 0, sizeof record);
        EXPECT_EQ(codec_init(&record), JPEG_OK);
        Bytes source(pixels);
        out->assign(static_cast<size_t>(size), 0);
        record.image_pixels = source.data();
        record.image_width = w;
        record.image_height = h;
        record.image_color = COLOR_RGB;
        record.jpeg_width = w;
        record.jpeg_height = h;
        record.jpeg_subsampling = SUBSAMPLING_NONE;
        record.jpeg_quality = quality;
        record.jpeg_buffer = out->data();
        record.jpeg_buffer_size = size;
        const int32_t code = codec_write(&record, JPEG_IO_ENCODE_MEM);
        const int32_t written = record.jpeg_buffer_size;
        EXPECT_EQ(codec_free(&record), JPEG_OK);
        return code == JPEG_OK ? written : code;
    };
    Bytes out;
    const int32_t written = encode(1 << 16, 100, &out);
    ASSERT_GT(written, 0);
    EXPECT_EQ(encode(written - 1, 100, &out), JPEG_BUFFER_TOO_SMALL);
    // Quality 0 encodes as 1, quality 101 as 100.
    const int32_t pairs[][2] = {{0, 1}, {101, 100}};
    for (const auto &pair : pairs) {
        Bytes extreme;
        Bytes limit;
        const int32_t a = encode(1 << 16, pair[0], &extreme);
        const int32_t b = encode(1 << 16, pair[1], &limit);
        ASSERT_GT(a, 0) << "quality " << pair[0] << ": " << codec_error_text(a);
        ASSERT_EQ(a, b) << "quality " << pair[0] << " against " << pair[1];
        EXPECT_TRUE(std::equal(extreme.begin(), extreme.begin() + a, limit.begin())) << "quality " << pair[0];
    }
}

// ---- Inputs found by the fuzzers ---------------------------------------------------------

struct FileCase {
    std::string name;
    int32_t mode;
    int32_t expected;
};

std::vector<FileCase> file_cases() {
    std::vector<FileCase> cases;
    std::ifstream in(std::string(QRL_SOURCE_DIR) + "/tests/regress/expected.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        FileCase c;
        if (fields >> c.name >> c.mode >> c.expected) cases.push_back(c);
    }
    return cases;
}

TEST(Regress, FuzzFindings) {
    const std::vector<FileCase> cases = file_cases();
    if (cases.empty()) GTEST_SKIP() << "no fuzz findings recorded in tests/regress/expected.tsv";
    for (const FileCase &c : cases) {
        const Bytes bytes = qrl_test::read_file_bytes(std::string(QRL_SOURCE_DIR) + "/tests/regress/inputs/" + c.name);
        ASSERT_FALSE(bytes.empty()) << c.name;
        RunOptions o;
        o.mode = c.mode;
        o.out_width = 64;
        o.out_height = 64;
        EXPECT_EQ(run(bytes, o).code, c.expected) << c.name;
    }
}

} // namespace
