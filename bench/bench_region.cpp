// Region-of-interest decoding speed: a region at the bottom right of a large
// photo (256 x 256 by default), decoded
//   - first: on a fresh record (header read, then the region; only the
//     region call is timed), which passes over every row above the region
//     and records the row index;
//   - second: the same region again on the same record, which starts from
//     the recorded row of the region's first MCU row;
// against a whole-image decode of the same file. libjpeg-turbo (TurboJPEG)
// has no region decode: its figures are a lossless crop (tjTransform with
// TJXOPT_CROP, aligned to its MCU grid) followed by the decode of the cropped
// stream, and its whole decode with fast upsampling and the accurate DCT.
// Each measurement is the median of --reps repetitions (after one warm-up),
// quorrel and libjpeg-turbo interleaved so that both see the same load.
//
// usage: bench_region [--reps N] [--size N] [--tsv FILE] FILE|DIR
// A folder stands for its largest JPEG file (by pixel count).
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
using qrl_bench::new_record;
using qrl_bench::median;
using qrl_bench::seconds_since;
using qrl_bench::read_bytes;

using qrl_bench::Header;
using qrl_bench::pick_file;
using qrl_bench::read_header;

struct Layout {
    int channels = 3, color = COLOR_RGB, tj_format = TJPF_RGB;
};

Layout layout_for(int components) {
    if (components == 1) return {1, COLOR_GRAY, TJPF_GRAY};
    if (components == 4) return {4, COLOR_CMYK, TJPF_CMYK};
    return {};
}

// One quorrel decode into `pixels` (out_w x out_h), with the given region.
int32_t quorrel_decode(JPEG_CODEC_RECORD *rec, std::vector<uint8_t> &data, const Header &h, const Layout &L,
                       const int32_t roi[4], int out_w, int out_h, std::vector<uint8_t> &pixels) {
    pixels.resize(static_cast<size_t>(out_w) * out_h * L.channels);
    rec->jpeg_buffer = data.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(data.size());
    rec->image_pixels = pixels.data();
    rec->image_width = out_w;
    rec->image_height = out_h;
    rec->image_pad_bytes = 0;
    rec->image_channels = L.channels;
    rec->image_color = L.color;
    rec->jpeg_color = h.jpeg_color;
    for (int i = 0; i < 4; ++i) rec->props.roi[i] = roi[i];
    return codec_read(rec, JPEG_IO_DECODE_MEM);
}

void print_usage(FILE *out) {
    std::fprintf(out, "usage: bench_region [--reps N] [--size N] [--tsv FILE] FILE|DIR\n"
                      "  a folder stands for its largest JPEG file (by pixel count)\n");
}

} // namespace

int main(int argc, char **argv) {
    int reps = 5;
    int size = 256;
    std::string tsv_path, input;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--size" && i + 1 < argc) {
            size = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--tsv" && i + 1 < argc) {
            tsv_path = argv[++i];
        } else if (a == "-h" || a == "--help") {
            print_usage(stdout);
            return 0;
        } else {
            input = a;
        }
    }
    if (input.empty()) {
        print_usage(stderr);
        return 2;
    }
    const std::string path = pick_file(input);
    std::vector<uint8_t> data = read_bytes(path);
    Header h;
    if (data.empty() || !read_header(data, &h)) {
        std::fprintf(stderr, "%s: not a readable JPEG file\n", path.empty() ? input.c_str() : path.c_str());
        return 1;
    }
    const Layout L = layout_for(h.components);
    const int rw = std::min(size, h.width), rh = std::min(size, h.height);
    const int32_t region[4] = {h.width - rw, h.height - rh, h.width, h.height};
    const int32_t whole[4] = {0, 0, 0, 0};
    std::vector<uint8_t> pixels, tj_pixels;

    // libjpeg-turbo: a lossless crop on its MCU grid, then the decode of the
    // crop; the requested rectangle lies at the crop's bottom right.
    tjhandle tj = tjInitDecompress();
    tjhandle tx = tjInitTransform();
    int tj_w = 0, tj_h = 0, tj_sub = 0, tj_cs = 0;
    if (tj == nullptr || tx == nullptr ||
        tjDecompressHeader3(tj, data.data(), static_cast<unsigned long>(data.size()), &tj_w, &tj_h, &tj_sub,
                            &tj_cs) != 0) {
        std::fprintf(stderr, "%s: libjpeg-turbo cannot read the header\n", path.c_str());
        return 1;
    }
    const int mcu_w = tj_sub >= 0 && tj_sub < TJ_NUMSAMP ? tjMCUWidth[tj_sub] : 16;
    const int mcu_h = tj_sub >= 0 && tj_sub < TJ_NUMSAMP ? tjMCUHeight[tj_sub] : 16;
    tjtransform crop{};
    crop.r.x = region[0] / mcu_w * mcu_w;
    crop.r.y = region[1] / mcu_h * mcu_h;
    crop.r.w = h.width - crop.r.x;
    crop.r.h = h.height - crop.r.y;
    crop.op = TJXOP_NONE;
    crop.options = TJXOPT_CROP;
    const int flags = TJFLAG_FASTUPSAMPLE | TJFLAG_ACCURATEDCT;
    auto tj_region = [&]() -> int {
        unsigned char *out = nullptr;
        unsigned long out_size = 0;
        if (tjTransform(tx, data.data(), static_cast<unsigned long>(data.size()), 1, &out, &out_size, &crop, 0) != 0)
            return -1;
        tj_pixels.resize(static_cast<size_t>(crop.r.w) * crop.r.h * L.channels);
        const int rc = tjDecompress2(tj, out, out_size, tj_pixels.data(), crop.r.w, crop.r.w * L.channels,
                                     crop.r.h, L.tj_format, flags);
        tjFree(out);
        return rc != 0 && tjGetErrorCode(tj) != TJERR_WARNING ? -1 : 0;
    };
    auto tj_whole = [&]() -> int {
        tj_pixels.resize(static_cast<size_t>(h.width) * h.height * L.channels);
        const int rc = tjDecompress2(tj, data.data(), static_cast<unsigned long>(data.size()), tj_pixels.data(),
                                     h.width, h.width * L.channels, h.height, L.tj_format, flags);
        return rc != 0 && tjGetErrorCode(tj) != TJERR_WARNING ? -1 : 0;
    };

    // Warm-up, and a check that the second region equals the first.
    {
        RecordPtr rec = new_record();
        rec->jpeg_buffer = data.data();
        rec->jpeg_buffer_size = static_cast<int32_t>(data.size());
        int32_t rc = codec_read(rec.get(), JPEG_IO_READ_HEADER_MEM);
        if (rc == JPEG_OK) rc = quorrel_decode(rec.get(), data, h, L, region, rw, rh, pixels);
        const std::vector<uint8_t> first = pixels;
        if (rc == JPEG_ROI_OK) rc = quorrel_decode(rec.get(), data, h, L, region, rw, rh, pixels);
        if (rc != JPEG_ROI_OK) {
            std::fprintf(stderr, "%s: quorrel region decode: %d %s\n", path.c_str(), rc, codec_error_text(rc));
            return 1;
        }
        if (pixels != first) {
            std::fprintf(stderr, "%s: the second region decode differs from the first\n", path.c_str());
            return 1;
        }
        if (tj_region() != 0 || tj_whole() != 0) {
            std::fprintf(stderr, "%s: libjpeg-turbo: %s\n", path.c_str(), tjGetErrorStr2(tj));
            return 1;
        }
    }

    std::vector<double> t_first, t_second, t_whole, t_tj_region, t_tj_whole;
    RecordPtr whole_rec = new_record();
    whole_rec->jpeg_buffer = data.data();
    whole_rec->jpeg_buffer_size = static_cast<int32_t>(data.size());
    if (codec_read(whole_rec.get(), JPEG_IO_READ_HEADER_MEM) != JPEG_OK) return 1;
    for (int r = 0; r < reps; ++r) {
        RecordPtr rec = new_record();
        rec->jpeg_buffer = data.data();
        rec->jpeg_buffer_size = static_cast<int32_t>(data.size());
        if (codec_read(rec.get(), JPEG_IO_READ_HEADER_MEM) != JPEG_OK) return 1;
        Clock::time_point t0 = Clock::now();
        (void)quorrel_decode(rec.get(), data, h, L, region, rw, rh, pixels);
        t_first.push_back(seconds_since(t0));
        t0 = Clock::now();
        (void)quorrel_decode(rec.get(), data, h, L, region, rw, rh, pixels);
        t_second.push_back(seconds_since(t0));
        t0 = Clock::now();
        (void)tj_region();
        t_tj_region.push_back(seconds_since(t0));
        t0 = Clock::now();
        (void)quorrel_decode(whole_rec.get(), data, h, L, whole, h.width, h.height, pixels);
        t_whole.push_back(seconds_since(t0));
        t0 = Clock::now();
        (void)tj_whole();
        t_tj_whole.push_back(seconds_since(t0));
    }
    tjDestroy(tx);
    tjDestroy(tj);

    const double first = median(t_first), second = median(t_second), whole_t = median(t_whole);
    const double tj_r = median(t_tj_region), tj_w_t = median(t_tj_whole);
    const double region_mp = static_cast<double>(rw) * rh / 1e6;
    const double whole_mp = static_cast<double>(h.width) * h.height / 1e6;
    const char *env = std::getenv("QUORREL_USECPU");
    std::printf("file: %s (%dx%d, %d components); repetitions: %d; QUORREL_USECPU=%s\n",
                fs::path(path).filename().string().c_str(), h.width, h.height, h.components, reps,
                env != nullptr ? env : "unset");
    std::printf("region: %dx%d at %d,%d (bottom right)\n", rw, rh, region[0], region[1]);
    std::printf("%-22s %12s %12s %12s %12s\n", "decode", "quorrel ms", "l-turbo ms", "quorrel MP/s", "l-turbo MP/s");
    std::printf("%-22s %12.2f %12.2f %12.2f %12.2f\n", "region, first", first * 1e3, tj_r * 1e3, region_mp / first,
                region_mp / tj_r);
    std::printf("%-22s %12.2f %12.2f %12.2f %12.2f\n", "region, second", second * 1e3, tj_r * 1e3,
                region_mp / second, region_mp / tj_r);
    std::printf("%-22s %12.2f %12.2f %12.2f %12.2f\n", "whole image", whole_t * 1e3, tj_w_t * 1e3,
                whole_mp / whole_t, whole_mp / tj_w_t);
    const double speedup = whole_t / second;
    std::printf("whole / second region: %.1fx (goal: at least 10x) %s\n", speedup, speedup >= 10.0 ? "met" : "NOT met");
    std::printf("whole / first region: %.1fx\n", whole_t / first);
    std::printf("libjpeg-turbo's region is a lossless crop at %d,%d (%dx%d) and its decode\n", crop.r.x, crop.r.y,
                crop.r.w, crop.r.h);

    if (!tsv_path.empty()) {
        FILE *f = std::fopen(tsv_path.c_str(), "w");
        if (f == nullptr) {
            std::fprintf(stderr, "%s: cannot write\n", tsv_path.c_str());
            return 1;
        }
        // Megapixels per second of the output: the region's pixels for the
        // region rows, the image's for the whole decode.
        std::fprintf(f, "label\tquorrel_mps\tlibjpeg_turbo_mps\n");
        std::fprintf(f, "region %dx%d first\t%.3f\t%.3f\n", rw, rh, region_mp / first, region_mp / tj_r);
        std::fprintf(f, "region %dx%d second\t%.3f\t%.3f\n", rw, rh, region_mp / second, region_mp / tj_r);
        std::fprintf(f, "whole %dx%d\t%.3f\t%.3f\n", h.width, h.height, whole_mp / whole_t, whole_mp / tj_w_t);
        std::fclose(f);
    }
    return 0;
}
