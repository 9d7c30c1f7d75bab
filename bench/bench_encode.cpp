// Encode speed (and, with --quality, size and PSNR) of quorrel against
// libjpeg-turbo on the same pixels in one process.
//
// Each JPEG file named is decoded once by libjpeg-turbo to RGB; the pixels are
// then encoded as sequential YCbCr at quality 75 and 90, 4:2:0 and 4:4:4, by
// quorrel (codec_write to memory, accurate family) and by tjCompress2 with the
// same settings (TJFLAG_ACCURATEDCT, without which tjCompress2 uses its fast
// DCT; tables not optimised). Every case is encoded --reps times by each, the
// two interleaved so that both see the same machine load (after one warm-up
// encode); the median time gives megapixels per second.
//
// --quality adds, per case, both stream sizes and both PSNRs (each stream
// decoded by libjpeg-turbo and compared with the source pixels over all three
// channels), and the sizes of a progressive encode by quorrel and by
// libjpeg-turbo (TJFLAG_PROGRESSIVE, which optimises its tables). The
// libjpeg-turbo streams are byte for byte those of `cjpeg -baseline` and
// `cjpeg -progressive -optimize` at the same quality and sampling.
// --tsv FILE writes one line per case: label, quorrel MP/s, libjpeg-turbo MP/s.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <turbojpeg.h>

#include "bench/bench_util.h"
#include "codec/codec.h"

namespace {

namespace fs = std::filesystem;
using qrl_bench::Clock;
using qrl_bench::RecordPtr;
using qrl_bench::median;
using qrl_bench::seconds_since;

struct TjDeleter {
    void operator()(void *h) const { tjDestroy(h); }
};
using TjPtr = std::unique_ptr<void, TjDeleter>;

struct Case {
    const char *name;
    int quality;
    int32_t subsampling; // quorrel code
    int tj_subsampling;
};

constexpr Case kCases[] = {
    {"q75-420", 75, SUBSAMPLING_2X2, TJSAMP_420},
    {"q75-444", 75, SUBSAMPLING_NONE, TJSAMP_444},
    {"q90-420", 90, SUBSAMPLING_2X2, TJSAMP_420},
    {"q90-444", 90, SUBSAMPLING_NONE, TJSAMP_444},
};

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool load_picture(const std::string &path, Picture &out) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty()) return false;
    TjPtr tj(tjInitDecompress());
    int w = 0, h = 0, sub = 0, cs = 0;
    if (tjDecompressHeader3(tj.get(), data.data(), static_cast<unsigned long>(data.size()), &w, &h, &sub,
                            &cs) != 0)
        return false;
    out.width = w;
    out.height = h;
    out.rgb.resize(static_cast<size_t>(w) * h * 3);
    const int rc = tjDecompress2(tj.get(), data.data(), static_cast<unsigned long>(data.size()), out.rgb.data(),
                                 w, w * 3, h, TJPF_RGB, TJFLAG_ACCURATEDCT);
    return rc == 0 || tjGetErrorCode(tj.get()) == TJERR_WARNING;
}

// One quorrel encoder record reused for every encode of a picture.
struct OurEncoder {
    RecordPtr rec;
    std::vector<uint8_t> buffer;

    bool init(size_t capacity) {
        auto *raw = static_cast<JPEG_CODEC_RECORD *>(std::calloc(1, sizeof(JPEG_CODEC_RECORD)));
        if (raw == nullptr) return false;
        if (codec_init(raw) != JPEG_OK) {
            std::free(raw);
            return false;
        }
        rec.reset(raw);
        buffer.resize(capacity);
        return true;
    }

    // Returns the stream size, or a negative error code.
    int64_t encode(const Picture &p, const Case &c, bool progressive) {
        JPEG_CODEC_RECORD *r = rec.get();
        r->image_pixels = const_cast<uint8_t *>(p.rgb.data());
        r->image_width = p.width;
        r->image_height = p.height;
        r->image_pad_bytes = 0;
        r->image_channels = 3;
        r->image_color = COLOR_RGB;
        r->jpeg_buffer = buffer.data();
        r->jpeg_buffer_size = static_cast<int32_t>(buffer.size());
        r->jpeg_width = p.width;
        r->jpeg_height = p.height;
        r->jpeg_channels = 3;
        r->jpeg_color = COLOR_YCBCR;
        r->jpeg_subsampling = c.subsampling;
        r->jpeg_quality = c.quality;
        r->props.dct_method = 1;
        r->props.scans_done = progressive ? 1 : 0;
        r->props.restart_interval = 0;
        const int32_t rc = codec_write(r, JPEG_IO_ENCODE_MEM);
        return rc == JPEG_OK ? r->jpeg_buffer_size : rc;
    }
};

struct TheirEncoder {
    // One handle per kind: a handle that has made a progressive stream keeps
    // part of that set-up for its next sequential one.
    TjPtr tj{tjInitCompress()};
    TjPtr tj_progressive{tjInitCompress()};
    std::vector<uint8_t> buffer;

    int64_t encode(const Picture &p, const Case &c, bool progressive) {
        unsigned char *out = buffer.data();
        unsigned long size = buffer.size();
        const int flags = TJFLAG_NOREALLOC | TJFLAG_ACCURATEDCT | (progressive ? TJFLAG_PROGRESSIVE : 0);
        if (tjCompress2((progressive ? tj_progressive : tj).get(), p.rgb.data(), p.width, p.width * 3, p.height, TJPF_RGB, &out, &size,
                        c.tj_subsampling, c.quality, flags) != 0)
            return -1;
        return static_cast<int64_t>(size);
    }
};

// PSNR over all channels of a stream decoded by libjpeg-turbo against the source.
double psnr_of(const Picture &p, const uint8_t *jpeg, size_t size) {
    TjPtr tj(tjInitDecompress());
    std::vector<uint8_t> rgb(p.rgb.size());
    if (tjDecompress2(tj.get(), jpeg, static_cast<unsigned long>(size), rgb.data(), p.width, p.width * 3,
                      p.height, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0)
        return 0.0;
    double sse = 0.0;
    for (size_t i = 0; i < rgb.size(); ++i) {
        const double d = static_cast<double>(rgb[i]) - p.rgb[i];
        sse += d * d;
    }
    if (sse == 0.0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(rgb.size()) / sse);
}

struct Totals {
    std::vector<double> ratios[std::size(kCases)];
};

void collect(const std::string &arg, std::vector<std::string> &files) {
    if (fs::is_directory(arg)) {
        std::vector<std::string> found;
        for (const auto &e : fs::directory_iterator(arg))
            if (e.is_regular_file()) found.push_back(e.path().string());
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    } else {
        files.push_back(arg);
    }
}

const char *const kUsage = "usage: bench_encode [--reps N] [--quality] [--tsv FILE] FILE|DIR...\n";

} // namespace

int main(int argc, char **argv) {
    int reps = 5;
    bool quality = false;
    std::string tsv_path;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--quality") {
            quality = true;
        } else if (a == "--tsv" && i + 1 < argc) {
            tsv_path = argv[++i];
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            collect(a, files);
        }
    }
    if (files.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::FILE *tsv = nullptr;
    if (!tsv_path.empty()) {
        tsv = std::fopen(tsv_path.c_str(), "w");
        if (tsv == nullptr) {
            std::fprintf(stderr, "bench_encode: cannot write %s\n", tsv_path.c_str());
            return 2;
        }
        std::fprintf(tsv, "label\tquorrel_mps\tlibjpeg_turbo_mps\n");
    }
    const char *env = std::getenv("QUORREL_USECPU");
    std::printf("sequential encode, accurate family; repetitions: %d; QUORREL_USECPU=%s\n", reps,
                env != nullptr ? env : "unset");
    std::printf("%-36s %-8s %12s %12s %6s", "file", "case", "quorrel MP/s", "l-turbo MP/s", "ratio");
    if (quality)
        std::printf(" %9s %9s %6s %7s %7s %6s %9s %9s %6s", "bytes", "l-t bytes", "size%", "PSNR", "l-t PSNR",
                    "dB", "prog", "l-t prog", "prog%");
    std::printf("\n");

    Totals totals;
    int failed = 0;
    for (const std::string &f : files) {
        const std::string name = fs::path(f).filename().string();
        Picture pic;
        if (!load_picture(f, pic)) {
            std::fprintf(stderr, "%s: libjpeg-turbo cannot decode it\n", f.c_str());
            ++failed;
            continue;
        }
        const size_t capacity = tjBufSize(pic.width, pic.height, TJSAMP_444) + 65536;
        OurEncoder ours;
        TheirEncoder theirs;
        theirs.buffer.resize(capacity);
        if (!ours.init(capacity) || !theirs.tj || !theirs.tj_progressive) {
            std::fprintf(stderr, "%s: encoder set-up failed\n", f.c_str());
            ++failed;
            continue;
        }
        const double mp = static_cast<double>(pic.width) * pic.height / 1e6;
        for (size_t ci = 0; ci < std::size(kCases); ++ci) {
            const Case &c = kCases[ci];
            const int64_t our_size = ours.encode(pic, c, false);
            const int64_t their_size = theirs.encode(pic, c, false);
            if (our_size < 0 || their_size < 0) {
                std::fprintf(stderr, "%s %s: encode failed (quorrel %lld, libjpeg-turbo %lld)\n", name.c_str(),
                             c.name, static_cast<long long>(our_size), static_cast<long long>(their_size));
                ++failed;
                continue;
            }
            std::vector<double> t_ours, t_theirs;
            for (int r = 0; r < reps; ++r) {
                Clock::time_point t0 = Clock::now();
                (void)ours.encode(pic, c, false);
                t_ours.push_back(seconds_since(t0));
                t0 = Clock::now();
                (void)theirs.encode(pic, c, false);
                t_theirs.push_back(seconds_since(t0));
            }
            const double our_mps = mp / median(t_ours), their_mps = mp / median(t_theirs);
            totals.ratios[ci].push_back(our_mps / their_mps);
            std::printf("%-36.36s %-8s %12.1f %12.1f %6.2f", name.c_str(), c.name, our_mps, their_mps,
                        our_mps / their_mps);
            if (tsv != nullptr)
                std::fprintf(tsv, "%s:%s\t%.2f\t%.2f\n", name.c_str(), c.name, our_mps, their_mps);
            if (quality) {
                // The timed encodes left the last streams in the buffers.
                const double our_psnr = psnr_of(pic, ours.buffer.data(), static_cast<size_t>(our_size));
                const double their_psnr = psnr_of(pic, theirs.buffer.data(), static_cast<size_t>(their_size));
                const int64_t our_prog = ours.encode(pic, c, true);
                const int64_t their_prog = theirs.encode(pic, c, true);
                std::printf(" %9lld %9lld %+6.2f %7.3f %7.3f %+6.3f %9lld %9lld %+6.2f",
                            static_cast<long long>(our_size), static_cast<long long>(their_size),
                            100.0 * (static_cast<double>(our_size) / their_size - 1.0), our_psnr, their_psnr,
                            our_psnr - their_psnr, static_cast<long long>(our_prog),
                            static_cast<long long>(their_prog),
                            100.0 * (static_cast<double>(our_prog) / their_prog - 1.0));
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    for (size_t ci = 0; ci < std::size(kCases); ++ci)
        if (!totals.ratios[ci].empty())
            std::printf("median ratio %-8s %.2f\n", kCases[ci].name, median(totals.ratios[ci]));
    if (tsv != nullptr) std::fclose(tsv);
    if (failed != 0) std::printf("%d case(s) not measured (see messages above)\n", failed);
    return failed != 0 ? 1 : 0;
}
