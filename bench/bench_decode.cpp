// Decode speed of quorrel and libjpeg-turbo on the same files in one process.
// Both decode to the same layout (RGB, gray for one-component files, CMYK for
// four-component files) with the matching transform family: quorrel's
// accurate family against TJFLAG_ACCURATEDCT, its fast family (--fast)
// against TJFLAG_FASTDCT, libjpeg-turbo always with TJFLAG_FASTUPSAMPLE.
// Every file is decoded --reps times by each (after one warm-up decode); the
// median time gives megapixels per second. --reencode adds, for each file,
// libjpeg-turbo encodes of its pixels at quality 90: 4:2:0, 4:4:4 and a
// progressive 4:2:0 one (labels FILE@420, FILE@444, FILE@420p). --tsv FILE
// writes one line per measurement: label, quorrel MP/s, libjpeg-turbo MP/s.
// QUORREL_USECPU selects quorrel's kernel set as everywhere (0: portable).
#include <algorithm>
#include <chrono>
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

struct FileResult {
    std::string name;
    int width = 0, height = 0;
    bool progressive = false;
    double ours_mps = 0.0, theirs_mps = 0.0;
};

// True when the first frame header is a progressive one (SOF2).
bool is_progressive(const std::vector<uint8_t> &data) {
    for (size_t i = 2; i + 3 < data.size();) {
        if (data[i] != 0xFF) return false;
        const uint8_t code = data[i + 1];
        if (code == 0xFF) {
            ++i;
            continue;
        }
        if (code == 0xC2) return true;
        if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) return false;
        i += 2 + (static_cast<size_t>(data[i + 2]) << 8 | data[i + 3]);
    }
    return false;
}

std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// libjpeg-turbo encode of the file's pixels (RGB, quality 90); empty when the
// file cannot be decoded or encoded.
std::vector<uint8_t> reencode(const std::vector<uint8_t> &jpeg, int subsampling, bool progressive) {
    std::vector<uint8_t> out;
    tjhandle d = tjInitDecompress();
    int w = 0, h = 0, sub = 0, space = 0;
    if (tjDecompressHeader3(d, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &w, &h, &sub, &space) == 0) {
        std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
        if (tjDecompress2(d, jpeg.data(), static_cast<unsigned long>(jpeg.size()), rgb.data(), w, w * 3, h, TJPF_RGB,
                          0) == 0 ||
            tjGetErrorCode(d) == TJERR_WARNING) {
            tjhandle c = tjInitCompress();
            unsigned char *buf = nullptr;
            unsigned long size = 0;
            if (tjCompress2(c, rgb.data(), w, w * 3, h, TJPF_RGB, &buf, &size, subsampling, 90,
                            progressive ? TJFLAG_PROGRESSIVE : 0) == 0)
                out.assign(buf, buf + size);
            tjFree(buf);
            tjDestroy(c);
        }
    }
    tjDestroy(d);
    return out;
}

// Returns false (with a message) when either decoder fails on the data.
bool bench_data(const std::string &label, std::vector<uint8_t> data, int reps, bool fast, FileResult &out) {
    const std::string path = label;
    out.name = label;
    if (data.empty()) {
        std::fprintf(stderr, "%s: cannot read\n", path.c_str());
        return false;
    }
    out.progressive = is_progressive(data);

    auto *raw = static_cast<JPEG_CODEC_RECORD *>(std::calloc(1, sizeof(JPEG_CODEC_RECORD)));
    if (raw == nullptr || codec_init(raw) != JPEG_OK) {
        std::fprintf(stderr, "%s: codec_init failed\n", path.c_str());
        std::free(raw);
        return false;
    }
    RecordPtr rec(raw);
    rec->jpeg_buffer = data.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(data.size());
    int32_t rc = codec_read(rec.get(), JPEG_IO_READ_HEADER_MEM);
    if (rc != JPEG_OK) {
        std::fprintf(stderr, "%s: header: %d %s\n", path.c_str(), rc, codec_error_text(rc));
        return false;
    }
    const int w = rec->jpeg_width, h = rec->jpeg_height, comps = rec->jpeg_channels;
    out.width = w;
    out.height = h;
    int channels = 3, color = COLOR_RGB, tj_format = TJPF_RGB;
    if (comps == 1) {
        channels = 1;
        color = COLOR_GRAY;
        tj_format = TJPF_GRAY;
    } else if (comps == 4) {
        channels = 4;
        color = COLOR_CMYK;
        tj_format = TJPF_CMYK;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * channels);
    const int32_t jpeg_color = rec->jpeg_color;
    auto ours = [&]() -> int32_t {
        rec->image_pixels = pixels.data();
        rec->image_width = w;
        rec->image_height = h;
        rec->image_pad_bytes = 0;
        rec->image_channels = channels;
        rec->image_color = color;
        rec->jpeg_color = jpeg_color;
        rec->props.dct_method = fast ? 0 : 1;
        return codec_read(rec.get(), JPEG_IO_DECODE_MEM);
    };
    tjhandle tj = tjInitDecompress();
    const int flags = TJFLAG_FASTUPSAMPLE | (fast ? TJFLAG_FASTDCT : TJFLAG_ACCURATEDCT);
    auto theirs = [&]() -> int {
        return tjDecompress2(tj, data.data(), static_cast<unsigned long>(data.size()), pixels.data(), w,
                             w * channels, h, tj_format, flags);
    };
    if ((rc = ours()) != JPEG_OK) {
        std::fprintf(stderr, "%s: quorrel decode: %d %s\n", path.c_str(), rc, codec_error_text(rc));
        tjDestroy(tj);
        return false;
    }
    if (theirs() != 0 && tjGetErrorCode(tj) != TJERR_WARNING) {
        std::fprintf(stderr, "%s: libjpeg-turbo decode: %s\n", path.c_str(), tjGetErrorStr2(tj));
        tjDestroy(tj);
        return false;
    }
    std::vector<double> t_ours, t_theirs;
    // Interleave the two so that both see the same machine load.
    for (int r = 0; r < reps; ++r) {
        Clock::time_point t0 = Clock::now();
        (void)ours();
        t_ours.push_back(seconds_since(t0));
        t0 = Clock::now();
        (void)theirs();
        t_theirs.push_back(seconds_since(t0));
    }
    tjDestroy(tj);
    const double mp = static_cast<double>(w) * h / 1e6;
    out.ours_mps = mp / median(t_ours);
    out.theirs_mps = mp / median(t_theirs);
    return true;
}

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

constexpr const char *kUsage = "usage: bench_decode [--reps N] [--fast] [--reencode] [--tsv FILE] FILE|DIR...\n";

} // namespace

int main(int argc, char **argv) {
    int reps = 5;
    bool fast = false;
    bool reencodes = false;
    std::string tsv_path;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--fast") {
            fast = true;
        } else if (a == "--reencode") {
            reencodes = true;
        } else if (a == "--tsv" && i + 1 < argc) {
            tsv_path = argv[++i];
        } else if (a == "-h" || a == "--help") {
            std::printf("%s", kUsage);
            return 0;
        } else {
            collect(a, files);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    const char *env = std::getenv("QUORREL_USECPU");
    std::printf("family: %s; repetitions: %d; QUORREL_USECPU=%s\n", fast ? "fast" : "accurate", reps,
                env != nullptr ? env : "unset");
    std::printf("%-44s %11s %4s %12s %12s %7s\n", "file", "size", "sof", "quorrel MP/s", "l-turbo MP/s", "ratio");
    std::FILE *tsv = nullptr;
    if (!tsv_path.empty()) {
        tsv = std::fopen(tsv_path.c_str(), "w");
        if (tsv == nullptr) {
            std::fprintf(stderr, "%s: cannot write\n", tsv_path.c_str());
            return 2;
        }
        std::fprintf(tsv, "label\tquorrel_mps\tlibjpeg_turbo_mps\n");
    }
    std::vector<double> ours, theirs, ratios;
    int failed = 0;
    auto measure = [&](const std::string &label, const std::vector<uint8_t> &data) {
        FileResult r;
        if (!bench_data(label, data, reps, fast, r)) {
            ++failed;
            return;
        }
        const double ratio = r.ours_mps / r.theirs_mps;
        std::printf("%-44.44s %5dx%-5d %4s %12.1f %12.1f %7.2f\n", r.name.c_str(), r.width, r.height,
                    r.progressive ? "prog" : "seq", r.ours_mps, r.theirs_mps, ratio);
        std::fflush(stdout);
        if (tsv != nullptr) std::fprintf(tsv, "%s\t%.2f\t%.2f\n", r.name.c_str(), r.ours_mps, r.theirs_mps);
        ours.push_back(r.ours_mps);
        theirs.push_back(r.theirs_mps);
        ratios.push_back(ratio);
    };
    for (const std::string &f : files) {
        const std::vector<uint8_t> data = read_file(f);
        const std::string name = fs::path(f).filename().string();
        measure(name, data);
        if (!reencodes || data.empty()) continue;
        measure(name + "@420", reencode(data, TJSAMP_420, false));
        measure(name + "@444", reencode(data, TJSAMP_444, false));
        measure(name + "@420p", reencode(data, TJSAMP_420, true));
    }
    if (tsv != nullptr) std::fclose(tsv);
    std::printf("%-44s %11s %4s %12.1f %12.1f %7.2f\n", "median", "", "", median(ours), median(theirs),
                median(ratios));
    if (failed != 0) std::printf("%d file(s) not measured (see messages above)\n", failed);
    return failed != 0 ? 1 : 0;
}
