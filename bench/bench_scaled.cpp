// Reduced-size decoding speed: the 1/8 decode of a large photo (and the 1/2
// and 1/4 ones) against its full-size decode, quorrel beside libjpeg-turbo's
// scaled decode (tjDecompress2 to the scaled size, fast upsampling, accurate
// DCT). Each figure is the median of --reps repetitions (after one warm-up),
// the two decoders interleaved so that both see the same load.
//
// usage: bench_scaled [--reps N] [--tsv FILE] FILE|DIR
// A folder stands for its largest JPEG file (by pixel count).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

int32_t mode_for_scale(int scale) {
    switch (scale) {
    case 2: return JPEG_IO_DECODE_HALF_MEM;
    case 4: return JPEG_IO_DECODE_QUARTER_MEM;
    case 8: return JPEG_IO_DECODE_EIGHTH_MEM;
    default: return JPEG_IO_DECODE_MEM;
    }
}

struct Row {
    int scale = 1, out_w = 0, out_h = 0;
    double ours = 0.0, theirs = 0.0; // median seconds
};

} // namespace

int main(int argc, char **argv) {
    int reps = 5;
    std::string tsv_path, input;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--tsv" && i + 1 < argc) {
            tsv_path = argv[++i];
        } else if (a == "-h" || a == "--help") {
            std::printf("usage: bench_scaled [--reps N] [--tsv FILE] FILE|DIR\n");
            return 0;
        } else {
            input = a;
        }
    }
    if (input.empty()) {
        std::fprintf(stderr, "usage: bench_scaled [--reps N] [--tsv FILE] FILE|DIR\n");
        return 2;
    }
    const std::string path = pick_file(input);
    std::vector<uint8_t> data = read_bytes(path);
    RecordPtr rec = new_record();
    Header h;
    if (data.empty() || !rec || !read_header(rec.get(), data, &h)) {
        std::fprintf(stderr, "%s: not a readable JPEG file\n", path.empty() ? input.c_str() : path.c_str());
        return 1;
    }
    int channels = 3, color = COLOR_RGB, tj_format = TJPF_RGB;
    if (h.components == 1) {
        channels = 1;
        color = COLOR_GRAY;
        tj_format = TJPF_GRAY;
    } else if (h.components == 4) {
        channels = 4;
        color = COLOR_CMYK;
        tj_format = TJPF_CMYK;
    }
    tjhandle tj = tjInitDecompress();
    if (tj == nullptr) return 1;
    const int flags = TJFLAG_FASTUPSAMPLE | TJFLAG_ACCURATEDCT;
    std::vector<uint8_t> pixels;

    std::vector<Row> rows;
    for (int scale : {1, 2, 4, 8}) {
        Row row;
        row.scale = scale;
        row.out_w = (h.width + scale - 1) / scale;
        row.out_h = (h.height + scale - 1) / scale;
        pixels.resize(static_cast<size_t>(row.out_w) * row.out_h * channels);
        auto ours = [&]() -> int32_t {
            rec->image_pixels = pixels.data();
            rec->image_width = row.out_w;
            rec->image_height = row.out_h;
            rec->image_pad_bytes = 0;
            rec->image_channels = channels;
            rec->image_color = color;
            rec->jpeg_color = h.jpeg_color;
            return codec_read(rec.get(), mode_for_scale(scale));
        };
        // tjDecompress2 picks the scaling factor from the requested size.
        auto theirs = [&]() -> int {
            const int rc = tjDecompress2(tj, data.data(), static_cast<unsigned long>(data.size()), pixels.data(),
                                         row.out_w, row.out_w * channels, row.out_h, tj_format, flags);
            return rc != 0 && tjGetErrorCode(tj) != TJERR_WARNING ? -1 : 0;
        };
        int32_t rc = ours();
        if (rc != JPEG_OK) {
            std::fprintf(stderr, "%s: quorrel 1/%d decode: %d %s\n", path.c_str(), scale, rc, codec_error_text(rc));
            return 1;
        }
        if (theirs() != 0) {
            std::fprintf(stderr, "%s: libjpeg-turbo 1/%d decode: %s\n", path.c_str(), scale, tjGetErrorStr2(tj));
            return 1;
        }
        std::vector<double> t_ours, t_theirs;
        for (int r = 0; r < reps; ++r) {
            Clock::time_point t0 = Clock::now();
            (void)ours();
            t_ours.push_back(seconds_since(t0));
            t0 = Clock::now();
            (void)theirs();
            t_theirs.push_back(seconds_since(t0));
        }
        row.ours = median(t_ours);
        row.theirs = median(t_theirs);
        rows.push_back(row);
    }
    tjDestroy(tj);

    const char *env = std::getenv("QUORREL_USECPU");
    std::printf("file: %s (%dx%d, %d components); repetitions: %d; QUORREL_USECPU=%s\n",
                fs::path(path).filename().string().c_str(), h.width, h.height, h.components, reps,
                env != nullptr ? env : "unset");
    std::printf("%-6s %11s %11s %11s %13s %13s %7s %10s\n", "scale", "output", "quorrel ms", "l-turbo ms",
                "quorrel MP/s", "l-turbo MP/s", "ratio", "vs full");
    const double full = rows.front().ours;
    for (const Row &r : rows) {
        const double mp = static_cast<double>(r.out_w) * r.out_h / 1e6;
        char label[16];
        std::snprintf(label, sizeof label, "1/%d", r.scale);
        std::printf("%-6s %5dx%-5d %11.2f %11.2f %13.2f %13.2f %7.2f %9.2fx\n", label, r.out_w, r.out_h, r.ours * 1e3,
                    r.theirs * 1e3, mp / r.ours, mp / r.theirs, r.theirs / r.ours, full / r.ours);
    }
    std::printf("ratio: libjpeg-turbo time / quorrel time; vs full: quorrel full-size time / this time\n");

    if (!tsv_path.empty()) {
        FILE *f = std::fopen(tsv_path.c_str(), "w");
        if (f == nullptr) {
            std::fprintf(stderr, "%s: cannot write\n", tsv_path.c_str());
            return 1;
        }
        // Megapixels per second of the output (the reduced image).
        std::fprintf(f, "label\tquorrel_mps\tlibjpeg_turbo_mps\n");
        for (const Row &r : rows) {
            const double mp = static_cast<double>(r.out_w) * r.out_h / 1e6;
            std::fprintf(f, "scale 1/%d %dx%d\t%.3f\t%.3f\n", r.scale, r.out_w, r.out_h, mp / r.ours, mp / r.theirs);
        }
        std::fclose(f);
    }
    return 0;
}
