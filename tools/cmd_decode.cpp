// quorrel decode: decode a JPEG file into a PNG, PPM, PGM, PAM or BMP file,
// either with the library directly or through the qmvjpeg plug-in module.
#ifdef _WIN32
// On Windows the plug-in is a DLL: the few loader calls below map onto the
// system loader.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define QRL_PLUGIN_FILE "qmvjpeg.dll"
#else
#include <dlfcn.h>
#define QRL_PLUGIN_FILE "qmvjpeg.so"
#endif
#include <unistd.h>

#include <algorithm>
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
#include "jobs.h"
#include "plugin/qmv_host.h"

namespace {

#ifdef _WIN32
constexpr int RTLD_NOW = 0, RTLD_LOCAL = 0;
void *dlopen(const char *path, int) { return reinterpret_cast<void *>(LoadLibraryA(path)); }
void *dlsym(void *module, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}
int dlclose(void *module) { return FreeLibrary(static_cast<HMODULE>(module)) != 0 ? 0 : 1; }
const char *dlerror() { return "LoadLibraryA failed"; }
#endif

using qrl_tools::ImageFormat;

const char *const kUsage =
    "usage: quorrel decode IN.jpg -o OUT.{png,ppm,pgm,pam,bmp} [options]\n"
    "  --color rgb|bgr|gray|cmyk|ycbcr  output layout (default rgb); bgr writes the\n"
    "                                   bytes as decoded; cmyk needs a .pam output;\n"
    "                                   ycbcr is written as Y, Cb, Cr per pixel\n"
    "  --fast                           fast transform family (dct_method 0)\n"
    "  --bottom-up                      decode into a bottom-up buffer\n"
    "  --pad N                          N pad bytes after every row of the buffer\n"
    "  --scale 1|2|4|8                  decode at 1/N size\n"
    "  --region X,Y,W,H                 decode only this rectangle (output pixels)\n"
    "  --smooth                         interpolate subsampled chroma\n"
    "  --incremental                    stop after every MCU and resume\n"
    "  --via-plugin [--plugin PATH]     decode through the qmvjpeg module (RGB only)\n"
    "The output file holds the image rows without padding, top row first.\n";

using qrl_tools::OutColor;

struct Options {
    std::string input;
    std::string output;
    qrl_tools::DecodeRequest decode;
    bool via_plugin = false;
    std::string plugin_path;
};

// Reports a failure the way every error of this command is reported.
int fail(const std::string &file, const std::string &message) {
    std::fprintf(stderr, "quorrel decode: %s: %s\n", file.c_str(), message.c_str());
    return 1;
}
int fail_code(const std::string &file, const char *step, int32_t code) {
    return fail(file, qrl_tools::codec_failure(step, code));
}

bool parse_int(const char *text, int lo, int hi, int &value) {
    if (text == nullptr || *text == '\0') return false;
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*end != '\0' || v < lo || v > hi) return false;
    value = static_cast<int>(v);
    return true;
}

bool parse_region(const char *text, qrl_tools::DecodeRequest &o) {
    if (text == nullptr) return false;
    int v[4];
    const char *p = text;
    for (int i = 0; i < 4; ++i) {
        char *end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p || n < 0 || n > 65535) return false;
        v[i] = static_cast<int>(n);
        if (i < 3) {
            if (*end != ',') return false;
            p = end + 1;
        } else if (*end != '\0') {
            return false;
        }
    }
    if (v[2] == 0 || v[3] == 0) return false;
    o.region = true;
    o.region_x = v[0];
    o.region_y = v[1];
    o.region_w = v[2];
    o.region_h = v[3];
    return true;
}

// Returns an empty string when the arguments are valid, else the complaint.
std::string parse_options(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "-o" || a == "--output") {
            if (next == nullptr) return "-o needs a file name";
            o.output = next;
            ++i;
        } else if (a == "--color") {
            const std::string c = next != nullptr ? next : "";
            if (c == "rgb") o.decode.color = OutColor::rgb;
            else if (c == "bgr") o.decode.color = OutColor::bgr;
            else if (c == "gray") o.decode.color = OutColor::gray;
            else if (c == "cmyk") o.decode.color = OutColor::cmyk;
            else if (c == "ycbcr") o.decode.color = OutColor::ycbcr;
            else return "--color takes rgb, bgr, gray, cmyk or ycbcr";
            ++i;
        } else if (a == "--fast") {
            o.decode.fast = true;
        } else if (a == "--bottom-up") {
            o.decode.bottom_up = true;
        } else if (a == "--pad") {
            if (!parse_int(next, 0, 1 << 20, o.decode.pad)) return "--pad takes a byte count from 0 to 1048576";
            ++i;
        } else if (a == "--scale") {
            std::string s = next != nullptr ? next : "";
            if (s.rfind("1/", 0) == 0) s = s.substr(2);
            if (!parse_int(s.c_str(), 1, 8, o.decode.scale) || (o.decode.scale & (o.decode.scale - 1)) != 0)
                return "--scale takes 1, 2, 4 or 8";
            ++i;
        } else if (a == "--region") {
            if (!parse_region(next, o.decode)) return "--region takes X,Y,W,H with W and H at least 1";
            ++i;
        } else if (a == "--smooth") {
            o.decode.smooth = true;
        } else if (a == "--incremental") {
            o.decode.incremental = true;
        } else if (a == "--via-plugin") {
            o.via_plugin = true;
        } else if (a == "--plugin") {
            if (next == nullptr) return "--plugin needs a path";
            o.plugin_path = next;
            o.via_plugin = true;
            ++i;
        } else if (a == "-h" || a == "--help") {
            return "help";
        } else if (!a.empty() && a[0] == '-') {
            return "unknown option " + a;
        } else if (o.input.empty()) {
            o.input = a;
        } else {
            return "more than one input file";
        }
    }
    if (o.input.empty()) return "no input file";
    if (o.output.empty()) return "no output file (-o OUT)";
    const qrl_tools::DecodeRequest &d = o.decode;
    if (o.via_plugin && (d.color != OutColor::rgb || d.fast || d.bottom_up || d.pad != 0 || d.scale != 1 ||
                         d.region || d.smooth || d.incremental))
        return "--via-plugin decodes RGB at full size only; it takes no other decode option";
    return {};
}

// ---- Through the plug-in module ---------------------------------------------------

// The demonstration host keeps a small table of references; its integer
// representation is the native one.
std::vector<void *> g_host_objects;
uint32_t host_add(void *object) {
    g_host_objects.push_back(object);
    return static_cast<uint32_t>(g_host_objects.size());
}
uintptr_t host_resolve(uint32_t reference) {
    if (reference == 0 || reference > g_host_objects.size()) return 0;
    return reinterpret_cast<uintptr_t>(g_host_objects[reference - 1]);
}
uintptr_t host_int16(uint32_t value) { return value & 0xFFFFu; }
uintptr_t host_int32(uint32_t value) { return value; }
uintptr_t host_unused(uint32_t) { return 0; }

std::string default_plugin_path() {
    if (const char *env = std::getenv("QMV_PLUGIN"); env != nullptr && *env != '\0') return env;
    char exe[4096];
#ifdef _WIN32
    const DWORD length = GetModuleFileNameA(nullptr, exe, sizeof(exe) - 1);
    const ssize_t n = length < sizeof(exe) - 1 ? static_cast<ssize_t>(length) : 0;
#else
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
#endif
    std::string dir = ".";
    if (n > 0) {
        exe[n] = '\0';
        dir = exe;
        dir = dir.substr(0, dir.find_last_of("/\\"));
    }
    // Build tree, installed tree (bin/ and lib/quorrel/), or beside the program.
#ifndef QRL_INSTALLED_PLUGIN_DIR
#define QRL_INSTALLED_PLUGIN_DIR "../lib/quorrel"
#endif
    for (const char *rel : {"/../plugin/" QRL_PLUGIN_FILE, "/" QRL_INSTALLED_PLUGIN_DIR "/" QRL_PLUGIN_FILE,
                            "/" QRL_PLUGIN_FILE}) {
        const std::string p = dir + rel;
        if (access(p.c_str(), R_OK) == 0) return p;
    }
    return dir + "/../plugin/" QRL_PLUGIN_FILE;
}

int decode_via_plugin(const Options &o, std::vector<uint8_t> &jpeg, qrl_tools::Image &out) {
    const std::string path = o.plugin_path.empty() ? default_plugin_path() : o.plugin_path;
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char *e = dlerror();
        return fail(path, std::string("cannot load the plug-in module: ") + (e != nullptr ? e : "?"));
    }
    auto get_type = reinterpret_cast<QMV_GET_TYPE_FN>(dlsym(module, QMV_EXPORT_GET_TYPE));
    auto get_list = reinterpret_cast<QMV_GET_FUNCTIONLIST_FN>(dlsym(module, QMV_EXPORT_GET_FUNCTIONLIST));
    auto magicinfo = reinterpret_cast<QMV_MAGICINFO_FN>(dlsym(module, QMV_EXPORT_MAGICINFO));
    uint32_t tag = 0;
    const QMV_HANDLER_LIST *list = nullptr;
    if (get_type == nullptr || get_list == nullptr || magicinfo == nullptr || get_type() != QMV_PLUGIN_TYPE ||
        get_list(&tag, &list) != 1 || tag != QMV_PLUGIN_TAG || list == nullptr) {
        dlclose(module);
        return fail(path, "not a qmvjpeg plug-in module");
    }
    QMV_HOST_SERVICES services;
    for (auto &e : services.entry) e = host_unused;
    services.entry[QMV_SERVICE_RESOLVE] = host_resolve;
    services.entry[QMV_SERVICE_INT16] = host_int16;
    services.entry[QMV_SERVICE_INT32] = host_int32;
    magicinfo(&services);

    PLUGIN_REQUEST request;
    std::memset(&request, 0, sizeof(request));
    PLUGIN_ARGS args;
    std::memset(&args, 0, sizeof(args));
    request.args = host_add(&args);
    args.jpeg_data = host_add(jpeg.data());
    args.jpeg_size = static_cast<uint32_t>(jpeg.size());

    int rc = 0;
    std::vector<uint8_t> pixels;
    list->create(&request);
    if (request.status != 0) {
        rc = fail(o.input, "the plug-in could not create its codec record");
    } else {
        const int32_t header = list->read_header(&request);
        if (request.status != 0) {
            rc = fail_code(o.input, "plug-in header read", header);
        } else {
            list->output_size(&request);
            if (request.status != 0) {
                rc = fail(o.input, "the plug-in reported no output size");
            } else {
                pixels.assign(args.pixel_buffer_size, 0);
                args.pixel_buffer = host_add(pixels.data());
                list->decode(&request);
                if (request.status != 0) rc = fail(o.input, "the plug-in decode reported failure (status -1)");
            }
        }
        list->destroy();
    }
    dlclose(module);
    if (rc != 0) return rc;
    out.width = args.width;
    out.height = args.height;
    out.channels = 3;
    const size_t row = QMV_ROW_BYTES(out.width);
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y)
        std::memcpy(&out.pixels[static_cast<size_t>(y) * out.width * 3], &pixels[row * y],
                    static_cast<size_t>(out.width) * 3);
    return 0;
}

// Decodes with the library on a record of its own.
int decode_with_library(const Options &o, std::vector<uint8_t> &jpeg, qrl_tools::Image &image,
                        const char *&tuple_type) {
    auto *record = static_cast<JPEG_CODEC_RECORD *>(std::calloc(1, sizeof(JPEG_CODEC_RECORD)));
    if (record == nullptr) return fail(o.input, "out of memory");
    const int32_t init = codec_init(record);
    std::string error;
    uint64_t calls = 0;
    if (init != JPEG_OK)
        error = qrl_tools::codec_failure("codec_init", init);
    else
        error = qrl_tools::decode_jpeg(record, jpeg, o.decode, image, tuple_type, calls);
    (void)codec_free(record);
    std::free(record);
    if (!error.empty()) return fail(o.input, error);
    if (o.decode.incremental)
        std::printf("%s: decoded in %llu calls\n", o.input.c_str(), static_cast<unsigned long long>(calls));
    return 0;
}

} // namespace

int cmd_decode(int argc, char **argv) {
    Options o;
    const std::string problem = parse_options(argc, argv, o);
    if (problem == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "quorrel decode: %s\n%s", problem.c_str(), kUsage);
        return 2;
    }
    const ImageFormat format = qrl_tools::image_format_from_name(o.output);
    if (format == ImageFormat::unknown)
        return fail(o.output, "unknown output format (use .png, .ppm, .pgm, .pam or .bmp)");
    const int channels = qrl_tools::planned_channels(o.decode.color);
    if (!qrl_tools::image_format_accepts(format, channels) || (channels == 4 && format != ImageFormat::pam))
        return fail(o.output, std::string(qrl_tools::image_format_name(format)) + " cannot hold this output" +
                                  (channels == 4 ? "; four-channel output goes to .pam" : ""));

    std::vector<uint8_t> jpeg;
    if (!qrl_tools::read_whole_file(o.input, jpeg)) return fail(o.input, "cannot read the file");
    if (jpeg.empty()) return fail(o.input, "the file is empty");
    if (jpeg.size() > 0x7FFFFFFFu) return fail(o.input, "the file is too large");

    qrl_tools::Image image;
    const char *tuple_type = nullptr;
    const int rc = o.via_plugin ? decode_via_plugin(o, jpeg, image) : decode_with_library(o, jpeg, image, tuple_type);
    if (rc != 0) return rc;
    const std::string error = qrl_tools::write_image(o.output, format, image.pixels.data(), 0, image.width,
                                                     image.height, image.channels, tuple_type);
    if (!error.empty()) return fail(o.output, error);
    std::printf("%s: %dx%d -> %s (%s, %d channels%s)\n", o.input.c_str(), image.width, image.height,
                o.output.c_str(), qrl_tools::image_format_name(format), image.channels,
                o.via_plugin ? ", through the plug-in" : "");
    return 0;
}
