// A test host for the qmvjpeg module: loads the built qmvjpeg.so with dlopen,
// resolves its three exports with dlsym, supplies the host services over a
// table of host references and drives the six handlers on real JPEG data.
//
// The host's representation of integers is big-endian here, so that a value
// the plug-in stores without passing it through host_int16 / host_int32 shows
// up as wrong.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codec/codec.h"
#include "plugin/qmv_host.h"
#include "support/oracle.h"

// The build passes the module's path; without the plug-in target it is empty
// and the tests report themselves skipped.
#ifndef QMV_PLUGIN_PATH
#define QMV_PLUGIN_PATH ""
#endif

namespace qrl_test {
namespace {

// ---- The host ----------------------------------------------------------------

uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

struct HostState {
    std::vector<void *> objects; // reference r (1-based) designates objects[r - 1]
    int resolve_calls = 0;
    int unused_calls = 0;
};
HostState g_host;

uint32_t host_add(void *object) {
    g_host.objects.push_back(object);
    return static_cast<uint32_t>(g_host.objects.size());
}
uintptr_t svc_resolve(uint32_t reference) {
    ++g_host.resolve_calls;
    if (reference == 0 || reference > g_host.objects.size()) return 0;
    return reinterpret_cast<uintptr_t>(g_host.objects[reference - 1]);
}
uintptr_t svc_int16(uint32_t value) { return swap16(static_cast<uint16_t>(value)); }
uintptr_t svc_int32(uint32_t value) { return swap32(value); }
uintptr_t svc_unused(uint32_t) {
    ++g_host.unused_calls;
    return 0;
}

QMV_HOST_SERVICES host_service_block() {
    QMV_HOST_SERVICES s;
    for (auto &e : s.entry) e = svc_unused;
    s.entry[QMV_SERVICE_RESOLVE] = svc_resolve;
    s.entry[QMV_SERVICE_INT16] = svc_int16;
    s.entry[QMV_SERVICE_INT32] = svc_int32;
    return s;
}

// ---- The module --------------------------------------------------------------

struct Module {
    void *handle = nullptr;
    QMV_GET_TYPE_FN get_type = nullptr;
    QMV_GET_FUNCTIONLIST_FN get_functionlist = nullptr;
    QMV_MAGICINFO_FN magicinfo = nullptr;
    const QMV_HANDLER_LIST *list = nullptr;
    uint32_t tag = 0;
    int32_t functionlist_result = 0;
    std::string error;
};

Module load_module() {
    Module m;
    m.handle = dlopen(QMV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (m.handle == nullptr) {
        const char *e = dlerror();
        m.error = e != nullptr ? e : "dlopen failed";
        return m;
    }
    m.get_type = reinterpret_cast<QMV_GET_TYPE_FN>(dlsym(m.handle, QMV_EXPORT_GET_TYPE));
    m.get_functionlist = reinterpret_cast<QMV_GET_FUNCTIONLIST_FN>(dlsym(m.handle, QMV_EXPORT_GET_FUNCTIONLIST));
    m.magicinfo = reinterpret_cast<QMV_MAGICINFO_FN>(dlsym(m.handle, QMV_EXPORT_MAGICINFO));
    if (m.get_type == nullptr || m.get_functionlist == nullptr || m.magicinfo == nullptr) {
        m.error = "an export is missing";
        return m;
    }
    m.functionlist_result = m.get_functionlist(&m.tag, &m.list);
    return m;
}

// One host-side image job: request, argument block and the references to them.
struct Job {
    PLUGIN_REQUEST request;
    PLUGIN_ARGS args;
    std::vector<uint8_t> jpeg;
    std::vector<uint8_t> pixels;

    explicit Job(std::vector<uint8_t> data) : jpeg(std::move(data)) {
        std::memset(&request, 0x5A, sizeof(request));
        std::memset(&args, 0xA5, sizeof(args));
        request.args = host_add(&args);
        args.jpeg_data = swap32(host_add(jpeg.data()));
        args.jpeg_size = swap32(static_cast<uint32_t>(jpeg.size()));
    }
    void attach_pixels(size_t size) {
        pixels.assign(size, 0xCD);
        args.pixel_buffer = swap32(host_add(pixels.data()));
    }
    int width() const { return swap16(args.width); }
    int height() const { return swap16(args.height); }
    int row_words() const { return swap16(args.row_words); }
    int bits_per_pixel() const { return swap16(args.bits_per_pixel); }
    uint32_t pixel_buffer_size() const { return swap32(args.pixel_buffer_size); }
};

class PluginHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = new Module();
        if (std::string(QMV_PLUGIN_PATH).empty()) return;
        *module_ = load_module();
        if (module_->error.empty()) {
            const QMV_HOST_SERVICES services = host_service_block();
            module_->magicinfo(&services);
        }
    }
    static void TearDownTestSuite() {
        if (module_->handle != nullptr) dlclose(module_->handle);
        delete module_;
        module_ = nullptr;
    }
    void SetUp() override {
        if (std::string(QMV_PLUGIN_PATH).empty()) GTEST_SKIP() << "skipped: the plug-in module is not built";
        ASSERT_TRUE(module_->error.empty()) << QMV_PLUGIN_PATH << ": " << module_->error;
        ASSERT_NE(module_->list, nullptr);
        list_ = module_->list;
        PLUGIN_REQUEST create;
        std::memset(&create, 0x5A, sizeof(create));
        list_->create(&create);
        ASSERT_EQ(create.status, 0) << "plugin_create failed";
    }
    void TearDown() override {
        if (list_ != nullptr) list_->destroy();
        EXPECT_EQ(g_host.unused_calls, 0) << "the plug-in called a service other than positions 5 to 7";
    }

    static Module *module_;
    const QMV_HANDLER_LIST *list_ = nullptr;
};
Module *PluginHost::module_ = nullptr;

// A direct decode of the same data with codec_read into the same padded RGB
// layout, for byte-by-byte comparison.
struct DirectDecode {
    int32_t result = 0;
    std::vector<uint8_t> pixels;
};
DirectDecode direct_decode(std::vector<uint8_t> jpeg, int width, int height) {
    DirectDecode d;
    const size_t row = QMV_ROW_BYTES(width);
    d.pixels.assign(row * height, 0xCD);
    auto rec = std::make_unique<JPEG_CODEC_RECORD>();
    if ((d.result = codec_init(rec.get())) != JPEG_OK) return d;
    rec->jpeg_buffer = jpeg.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    rec->image_pixels = d.pixels.data();
    rec->image_width = width;
    rec->image_height = height;
    rec->image_channels = 3;
    rec->image_color = COLOR_RGB;
    rec->image_pad_bytes = static_cast<int32_t>(row) - width * 3;
    rec->jpeg_color = COLOR_YCBCR;
    d.result = codec_read(rec.get(), JPEG_IO_DECODE_MEM);
    (void)codec_free(rec.get());
    return d;
}

// The same direct decode with the portable kernels (the processor class is
// chosen at codec_init from QUORREL_USECPU).
std::vector<uint8_t> portable_direct_decode(const std::vector<uint8_t> &jpeg, int width, int height) {
    const char *old = std::getenv("QUORREL_USECPU");
    const std::string saved = old != nullptr ? old : "";
    setenv("QUORREL_USECPU", "0", 1);
    DirectDecode d = direct_decode(jpeg, width, height);
    if (old != nullptr) setenv("QUORREL_USECPU", saved.c_str(), 1);
    else unsetenv("QUORREL_USECPU");
    EXPECT_EQ(d.result, JPEG_OK);
    return d.pixels;
}

// ---- Identification -----------------------------------------------------------

TEST_F(PluginHost, IdentifiesItself) {
    EXPECT_EQ(module_->get_type(), 0x4701);
    EXPECT_EQ(module_->functionlist_result, 1);
    char tag_bytes[4];
    std::memcpy(tag_bytes, &module_->tag, 4);
    EXPECT_EQ(std::string(tag_bytes, 4), "DPJ_");
    EXPECT_EQ(module_->tag, 0x5F4A5044u);
    EXPECT_NE(list_->create, nullptr);
    EXPECT_NE(list_->destroy, nullptr);
    EXPECT_NE(list_->idle, nullptr);
    EXPECT_NE(list_->read_header, nullptr);
    EXPECT_NE(list_->output_size, nullptr);
    EXPECT_NE(list_->decode, nullptr);
    EXPECT_EQ(list_->idle(), 0);
}

TEST_F(PluginHost, ExportsOnlyTheThreeEntryPoints) {
    for (const char *name : {"codec_init", "codec_read", "codec_free", "plugin_create", "plugin_decode",
                             "handler_list", "plugin_codec", "host_services"})
        EXPECT_EQ(dlsym(module_->handle, name), nullptr) << name << " is exported";
}

// ---- Header and output size -------------------------------------------------------

struct GeometryCase {
    int width, height;
    int row_words;       // ((w + 15) >> 4) * 24
    uint32_t row_bytes;  // ((w + 15) >> 4) * 48
    uint32_t pad_bytes;  // per row
};

TEST_F(PluginHost, HeaderAndOutputSizeReportTheGeometry) {
    const GeometryCase cases[] = {
        {1, 9, 24, 48, 45},
        {16, 16, 24, 48, 0},
        {17, 5, 48, 96, 45},
        {100, 75, 7 * 24, 7 * 48, 7 * 48 - 300},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        TjEncodeOptions o;
        o.width = c.width;
        o.height = c.height;
        Job job(tj_encode(o));
        ASSERT_FALSE(job.jpeg.empty());
        const int32_t result = list_->read_header(&job.request);
        ASSERT_EQ(result, JPEG_OK);
        ASSERT_EQ(job.request.status, 0);
        EXPECT_EQ(job.width(), c.width);
        EXPECT_EQ(job.height(), c.height);
        EXPECT_EQ(job.row_words(), c.row_words);
        EXPECT_EQ(job.args.reserved, 0);
        EXPECT_EQ(job.bits_per_pixel(), 24);
        EXPECT_EQ(QMV_ROW_BYTES(c.width), c.row_bytes);
        EXPECT_EQ(c.row_bytes - 3u * c.width, c.pad_bytes);

        list_->output_size(&job.request);
        EXPECT_EQ(job.request.status, 0);
        EXPECT_EQ(job.pixel_buffer_size(), c.row_bytes * c.height);
        // The host's bytes between the plug-in's fields stay as the host left them.
        for (uint8_t b : job.args.host_private) ASSERT_EQ(b, 0xA5);
        for (size_t i = 4; i < sizeof(job.request.host_private) + 4; ++i)
            ASSERT_EQ(reinterpret_cast<const uint8_t *>(&job.request)[i], 0x5A);
    }
    // The 100 x 75 image needs seven 16-pixel groups per row.
    EXPECT_EQ(QMV_PIXEL_BUFFER_SIZE(100, 75), 75u * 7u * 48u);
}

TEST_F(PluginHost, NotJpegLeavesTheFieldsUntouched) {
    std::vector<uint8_t> data(256);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    data[0] = 0x89; // no SOI
    Job job(data);
    PLUGIN_ARGS before;
    std::memcpy(&before, &job.args, sizeof(before));
    const int32_t result = list_->read_header(&job.request);
    EXPECT_EQ(result, JPEG_NOT_JPEG);
    EXPECT_EQ(job.request.status, -1);
    EXPECT_EQ(std::memcmp(&before, &job.args, sizeof(before)), 0);
}

void decode_and_compare(const QMV_HANDLER_LIST *list, const std::string &name, const std::vector<uint8_t> &jpeg,
                        int width, int height);

struct LayoutCase {
    const char *name;
    JpegLayout layout;
    int width, height;
};

TEST_F(PluginHost, GrayAndFourComponentFilesReadButDoNotDecode) {
    const LayoutCase cases[] = {
        {"gray", JpegLayout::gray, 33, 21},
        {"cmyk", JpegLayout::cmyk, 40, 17},
        {"ycck", JpegLayout::ycck, 24, 24},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LibjpegEncodeOptions o;
        o.layout = c.layout;
        o.width = c.width;
        o.height = c.height;
        Job job(libjpeg_encode(o));
        ASSERT_FALSE(job.jpeg.empty());
        EXPECT_EQ(list_->read_header(&job.request), JPEG_OK);
        EXPECT_EQ(job.request.status, 0);
        EXPECT_EQ(job.width(), c.width);
        EXPECT_EQ(job.height(), c.height);
        list_->output_size(&job.request);
        EXPECT_EQ(job.pixel_buffer_size(), QMV_PIXEL_BUFFER_SIZE(c.width, c.height));
        job.attach_pixels(job.pixel_buffer_size());
        list_->decode(&job.request);
        EXPECT_EQ(job.request.status, -1);
    }
    // A TurboJPEG gray file too.
    TjEncodeOptions o;
    o.pixel_format = TJPF_GRAY;
    o.subsampling = TJSAMP_GRAY;
    Job job(tj_encode(o));
    EXPECT_EQ(list_->read_header(&job.request), JPEG_OK);
    job.attach_pixels(QMV_PIXEL_BUFFER_SIZE(o.width, o.height));
    list_->decode(&job.request);
    EXPECT_EQ(job.request.status, -1);

    // The refused decodes leave the record fit for the next color image.
    TjEncodeOptions color;
    color.width = 30;
    color.height = 20;
    decode_and_compare(list_, "color_after_gray", tj_encode(color), color.width, color.height);
}

// ---- Decode ------------------------------------------------------------------------

struct DecodeCase {
    const char *name;
    int width, height;
    int subsampling;
    int flags;
};

// Header, size, decode through the module; the bytes must equal a direct
// codec_read of the same data, pad bytes included (neither writes them).
void decode_and_compare(const QMV_HANDLER_LIST *list, const std::string &name, const std::vector<uint8_t> &jpeg,
                        int width, int height) {
    SCOPED_TRACE(name);
    Job job(jpeg);
    ASSERT_EQ(list->read_header(&job.request), JPEG_OK);
    ASSERT_EQ(job.width(), width);
    ASSERT_EQ(job.height(), height);
    list->output_size(&job.request);
    ASSERT_EQ(job.request.status, 0);
    job.attach_pixels(job.pixel_buffer_size());
    const int32_t result = list->decode(&job.request);
    const DirectDecode direct = direct_decode(jpeg, width, height);
    ASSERT_EQ(job.request.status, direct.result == JPEG_OK ? 0 : -1)
        << "direct codec_read gave " << direct.result << " (" << codec_error_text(direct.result) << ")";
    EXPECT_EQ(result, job.request.status);
    ASSERT_EQ(job.pixels.size(), direct.pixels.size());
    size_t first = job.pixels.size();
    for (size_t i = 0; i < job.pixels.size(); ++i)
        if (job.pixels[i] != direct.pixels[i]) {
            first = i;
            break;
        }
    EXPECT_EQ(first, job.pixels.size()) << "first differing byte at " << first;
    ASSERT_EQ(direct.result, JPEG_OK) << codec_error_text(direct.result);

    // Pad bytes are not written.
    const size_t row = QMV_ROW_BYTES(width);
    for (int y = 0; y < height; ++y)
        for (size_t i = static_cast<size_t>(width) * 3; i < row; ++i)
            ASSERT_EQ(job.pixels[row * y + i], 0xCD) << "pad byte written in row " << y;

    // And the pixels are the image: the same decode with the portable
    // kernels is close to the reference decoder. (How far the SIMD kernel sets
    // may stray from it is the corpus conformance test's business, per
    // processor class.)
    const std::vector<uint8_t> portable = portable_direct_decode(jpeg, width, height);
    const DecodedImage ref = tj_decode(jpeg, TJPF_RGB, kTjAccurate);
    ASSERT_TRUE(ref.ok()) << ref.error;
    EXPECT_TRUE(images_close("plugin_" + name, portable.data(), row, ref.pixels.data(), 0, width, height, 3,
                             Limits{4, 0.5, 0.0}));
}

TEST_F(PluginHost, DecodeEqualsDirectCodecRead) {
    const DecodeCase cases[] = {
        {"w1_420", 1, 9, TJSAMP_420, 0},
        {"w16_444", 16, 16, TJSAMP_444, 0},
        {"w17_422", 17, 9, TJSAMP_422, 0},
        {"w100x75_420", 100, 75, TJSAMP_420, 0},
        {"w100x75_444", 100, 75, TJSAMP_444, 0},
        {"w63x47_422", 63, 47, TJSAMP_422, 0},
        {"w511x64_420_progressive", 511, 64, TJSAMP_420, TJFLAG_PROGRESSIVE},
        {"w255x31_444_progressive", 255, 31, TJSAMP_444, TJFLAG_PROGRESSIVE},
    };
    for (const auto &c : cases) {
        TjEncodeOptions o;
        o.width = c.width;
        o.height = c.height;
        o.subsampling = c.subsampling;
        o.flags = c.flags;
        o.quality = 92;
        const std::vector<uint8_t> jpeg = tj_encode(o);
        ASSERT_FALSE(jpeg.empty());
        decode_and_compare(list_, c.name, jpeg, c.width, c.height);
    }
}

TEST_F(PluginHost, DecodesRestartAndMultiScanLayouts) {
    struct Case {
        const char *name;
        int restart;
        bool per_component;
        bool extended;
    };
    const Case cases[] = {
        {"restart1", 1, false, false},
        {"restart5", 5, false, false},
        {"multiscan", 0, true, false},
        {"extended", 0, false, true},
    };
    for (const auto &c : cases) {
        LibjpegEncodeOptions o;
        o.width = 45;
        o.height = 38;
        o.restart_interval = c.restart;
        o.scan_per_component = c.per_component;
        o.extended = c.extended;
        decode_and_compare(list_, c.name, libjpeg_encode(o), o.width, o.height);
    }
}

TEST_F(PluginHost, RecordServesOneImageAfterAnother) {
    // A progressive image, then a baseline one of another size, on the same
    // record: the second decode must not depend on the first.
    TjEncodeOptions first;
    first.width = 70;
    first.height = 40;
    first.flags = TJFLAG_PROGRESSIVE;
    TjEncodeOptions second;
    second.width = 33;
    second.height = 50;
    second.subsampling = TJSAMP_444;
    second.seed = 9;
    decode_and_compare(list_, "sequence_first", tj_encode(first), first.width, first.height);
    decode_and_compare(list_, "sequence_second", tj_encode(second), second.width, second.height);
    decode_and_compare(list_, "sequence_again", tj_encode(first), first.width, first.height);
}

TEST_F(PluginHost, CorruptDataFailsCleanly) {
    TjEncodeOptions o;
    o.width = 48;
    o.height = 32;
    const std::vector<uint8_t> good = tj_encode(o);
    for (size_t cut : {good.size() / 2, good.size() - 2, size_t{40}}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        std::vector<uint8_t> data(good.begin(), good.begin() + static_cast<long>(cut));
        Job job(data);
        const int32_t header = list_->read_header(&job.request);
        if (header != JPEG_OK) {
            EXPECT_EQ(job.request.status, -1);
            continue;
        }
        list_->output_size(&job.request);
        job.attach_pixels(job.pixel_buffer_size());
        list_->decode(&job.request);
        const DirectDecode direct = direct_decode(data, o.width, o.height);
        EXPECT_EQ(job.request.status, direct.result == JPEG_OK ? 0 : -1);
    }
}

// Rewrites the frame size in the SOF segment of a small file.
std::vector<uint8_t> with_frame_size(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<uint8_t>(height);
            jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<uint8_t>(width);
            break;
        }
    return jpeg;
}

TEST_F(PluginHost, BufferSizesBeyondTheSizeFieldAreRefused) {
    TjEncodeOptions o;
    o.width = 16;
    o.height = 16;
    const std::vector<uint8_t> small = tj_encode(o);

    // 40000 x 10000 still fits: 2500 groups of 48 bytes per row.
    Job fits(with_frame_size(small, 40000, 10000));
    ASSERT_EQ(list_->read_header(&fits.request), JPEG_OK);
    list_->output_size(&fits.request);
    EXPECT_EQ(fits.request.status, 0);
    EXPECT_EQ(fits.pixel_buffer_size(), 10000u * 2500u * 48u);

    // 65535 x 65535 needs about 12.9 GB, which the 32-bit field cannot hold:
    // both the size and the decode are refused instead of a truncated size.
    Job huge(with_frame_size(small, 65535, 65535));
    ASSERT_EQ(list_->read_header(&huge.request), JPEG_OK);
    EXPECT_EQ(huge.width(), 65535);
    const uint32_t before = huge.args.pixel_buffer_size;
    list_->output_size(&huge.request);
    EXPECT_EQ(huge.request.status, -1);
    EXPECT_EQ(huge.args.pixel_buffer_size, before);
    huge.attach_pixels(64);
    list_->decode(&huge.request);
    EXPECT_EQ(huge.request.status, -1);
    for (uint8_t b : huge.pixels) ASSERT_EQ(b, 0xCD);
}

// ---- Lifecycle guards -----------------------------------------------------------

TEST_F(PluginHost, LifecycleGuards) {
    // A second create replaces the record; destroy twice is harmless.
    PLUGIN_REQUEST again;
    std::memset(&again, 0, sizeof(again));
    list_->create(&again);
    EXPECT_EQ(again.status, 0);
    list_->destroy();
    list_->destroy();

    // Without a record, the request handlers fail instead of touching memory.
    TjEncodeOptions o;
    Job job(tj_encode(o));
    PLUGIN_ARGS before;
    std::memcpy(&before, &job.args, sizeof(before));
    list_->read_header(&job.request);
    EXPECT_EQ(job.request.status, -1);
    list_->output_size(&job.request);
    EXPECT_EQ(job.request.status, -1);
    list_->decode(&job.request);
    EXPECT_EQ(job.request.status, -1);
    EXPECT_EQ(std::memcmp(&before, &job.args, sizeof(before)), 0);

    // An argument reference the host cannot resolve.
    PLUGIN_REQUEST create;
    list_->create(&create);
    ASSERT_EQ(create.status, 0);
    Job bad(tj_encode(o));
    bad.request.args = 0xFFFFu;
    list_->read_header(&bad.request);
    EXPECT_EQ(bad.request.status, -1);

    // A JPEG size the record's signed size field cannot hold.
    Job oversized(tj_encode(o));
    oversized.args.jpeg_size = swap32(0x80000010u);
    PLUGIN_ARGS untouched;
    std::memcpy(&untouched, &oversized.args, sizeof(untouched));
    EXPECT_EQ(list_->read_header(&oversized.request), JPEG_INVALID_PROPERTIES);
    EXPECT_EQ(oversized.request.status, -1);
    EXPECT_EQ(std::memcmp(&untouched, &oversized.args, sizeof(untouched)), 0);

    // A service block with the needed entries missing: handlers fail cleanly.
    QMV_HOST_SERVICES empty = {};
    module_->magicinfo(&empty);
    Job no_services(tj_encode(o));
    list_->read_header(&no_services.request);
    EXPECT_EQ(no_services.request.status, -1);
    const QMV_HOST_SERVICES services = host_service_block();
    module_->magicinfo(&services);
    list_->read_header(&no_services.request);
    EXPECT_EQ(no_services.request.status, 0);
}

} // namespace
} // namespace qrl_test
