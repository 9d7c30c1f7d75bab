// quorrel batch: decode or encode every image of a folder (and its
// subfolders) with one worker thread per processor core, each keeping one
// codec record for all its files (initialised afresh for each). The output folder mirrors the input
// folder; the files are what `quorrel decode` or `quorrel encode` writes for
// each file alone.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "codec/codec.h"
#include "commands.h"
#include "image_io.h"
#include "jobs.h"

namespace {

namespace fs = std::filesystem;
using qrl_tools::ImageFormat;
using qrl_tools::OutColor;

const char *const kUsage =
    "usage: quorrel batch decode IN_DIR -o OUT_DIR [options]\n"
    "       quorrel batch encode IN_DIR -o OUT_DIR [options]\n"
    "decode: every .jpg / .jpeg file to OUT_DIR/NAME.FORMAT\n"
    "  --format png|ppm|pgm|pam|bmp     output format (default png)\n"
    "  --color rgb|bgr|gray|cmyk        output layout (default rgb)\n"
    "  --fast  --smooth  --scale 1|2|4|8  as for quorrel decode\n"
    "encode: every .png / .ppm / .pgm / .pam / .bmp file to OUT_DIR/NAME.jpg\n"
    "  --quality N  --subsampling 444|422|420  --gray  --progressive  --fast\n"
    "  --restart N                      as for quorrel encode\n"
    "both:\n"
    "  --jobs N                         worker threads (default: one per core)\n"
    "  --quiet                          no progress bar and no summary line\n"
    "Subfolders are walked and mirrored. A progress bar is drawn on a terminal;\n"
    "otherwise one summary line is printed. Failures are listed at the end,\n"
    "one line per file: the file, the error code and its message.\n";

struct Options {
    bool encode = false;
    std::string input, output;
    ImageFormat format = ImageFormat::png;
    qrl_tools::DecodeRequest decode;
    qrl_tools::EncodeRequest enc;
    unsigned jobs = 0;
    bool quiet = false;
};

bool parse_int(const char *text, int lo, int hi, int &value) {
    if (text == nullptr || *text == '\0') return false;
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*end != '\0' || v < lo || v > hi) return false;
    value = static_cast<int>(v);
    return true;
}

// Returns an empty string when the arguments are valid, else the complaint.
std::string parse(int argc, char **argv, Options &o) {
    if (argc < 2) return "decode or encode?";
    const std::string action = argv[1];
    if (action == "-h" || action == "--help") return "help";
    if (action != "decode" && action != "encode") return "the first argument is decode or encode";
    o.encode = action == "encode";
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto value = [&](const char *what) -> std::string {
            if (next == nullptr) return std::string(what) + " needs a value";
            ++i;
            return {};
        };
        std::string e;
        if (a == "-h" || a == "--help") return "help";
        if (a == "-o") {
            if (!(e = value("-o")).empty()) return e;
            o.output = next;
        } else if (a == "--jobs") {
            int n = 0;
            if (!(e = value("--jobs")).empty()) return e;
            if (!parse_int(next, 1, 1024, n)) return "--jobs takes 1 to 1024";
            o.jobs = static_cast<unsigned>(n);
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--fast") {
            o.decode.fast = o.enc.fast = true;
        } else if (!o.encode && a == "--format") {
            if (!(e = value("--format")).empty()) return e;
            o.format = qrl_tools::image_format_from_name(std::string("x.") + next);
            if (o.format == ImageFormat::unknown) return "--format takes png, ppm, pgm, pam or bmp";
        } else if (!o.encode && a == "--color") {
            if (!(e = value("--color")).empty()) return e;
            const std::string c = next;
            if (c == "rgb") o.decode.color = OutColor::rgb;
            else if (c == "bgr") o.decode.color = OutColor::bgr;
            else if (c == "gray") o.decode.color = OutColor::gray;
            else if (c == "cmyk") o.decode.color = OutColor::cmyk;
            else return "--color takes rgb, bgr, gray or cmyk";
        } else if (!o.encode && a == "--smooth") {
            o.decode.smooth = true;
        } else if (!o.encode && a == "--scale") {
            if (!(e = value("--scale")).empty()) return e;
            if (!parse_int(next, 1, 8, o.decode.scale) || (o.decode.scale & (o.decode.scale - 1)) != 0)
                return "--scale takes 1, 2, 4 or 8";
        } else if (o.encode && a == "--quality") {
            if (!(e = value("--quality")).empty()) return e;
            if (!parse_int(next, 1, 100, o.enc.quality)) return "--quality takes 1 to 100";
        } else if (o.encode && a == "--subsampling") {
            if (!(e = value("--subsampling")).empty()) return e;
            const std::string v = next;
            if (v == "444") o.enc.subsampling = SUBSAMPLING_NONE;
            else if (v == "422") o.enc.subsampling = SUBSAMPLING_2X1;
            else if (v == "420") o.enc.subsampling = SUBSAMPLING_2X2;
            else return "--subsampling takes 444, 422 or 420";
        } else if (o.encode && a == "--gray") {
            o.enc.gray = true;
        } else if (o.encode && a == "--progressive") {
            o.enc.progressive = true;
        } else if (o.encode && a == "--restart") {
            if (!(e = value("--restart")).empty()) return e;
            if (!parse_int(next, 0, 65535, o.enc.restart)) return "--restart takes 0 to 65535";
        } else if (!a.empty() && a[0] != '-' && o.input.empty()) {
            o.input = a;
        } else {
            return "unknown or misplaced argument " + a;
        }
    }
    if (o.input.empty()) return "no input folder";
    if (o.output.empty()) return "no output folder (-o OUT_DIR)";
    const int channels = qrl_tools::planned_channels(o.decode.color);
    if (!o.encode && (!qrl_tools::image_format_accepts(o.format, channels) ||
                      (channels == 4 && o.format != ImageFormat::pam)))
        return std::string(qrl_tools::image_format_name(o.format)) + " cannot hold this output";
    return {};
}

std::string lower_extension(const fs::path &p) {
    std::string ext = p.extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool wanted(const fs::path &p, bool encode) {
    const std::string ext = lower_extension(p);
    if (!encode) return ext == ".jpg" || ext == ".jpeg";
    return ext == ".png" || ext == ".ppm" || ext == ".pgm" || ext == ".pam" || ext == ".bmp";
}

struct Job {
    fs::path input;
    fs::path output;
    std::string error; // empty: written
};

const char *extension_of(ImageFormat f) {
    switch (f) {
    case ImageFormat::png: return ".png";
    case ImageFormat::ppm: return ".ppm";
    case ImageFormat::pgm: return ".pgm";
    case ImageFormat::pam: return ".pam";
    case ImageFormat::bmp: return ".bmp";
    case ImageFormat::unknown: break;
    }
    return "";
}

// One file on the worker's record.
std::string run_job(JPEG_CODEC_RECORD *record, const Options &o, Job &job) {
    std::error_code ec;
    fs::create_directories(job.output.parent_path(), ec);
    if (ec) return "cannot create the folder " + job.output.parent_path().string();
    qrl_tools::Image image;
    if (o.encode) {
        const std::string why = qrl_tools::read_image(job.input.string(), image);
        if (!why.empty()) return why;
        return qrl_tools::encode_to_file(record, image, o.enc, job.output.string());
    }
    std::vector<uint8_t> jpeg;
    if (!qrl_tools::read_whole_file(job.input.string(), jpeg)) return "cannot read the file";
    const char *tuple_type = nullptr;
    uint64_t calls = 0;
    std::string why = qrl_tools::decode_jpeg(record, jpeg, o.decode, image, tuple_type, calls);
    if (!why.empty()) return why;
    why = qrl_tools::write_image(job.output.string(), o.format, image.pixels.data(), 0, image.width, image.height,
                                 image.channels, tuple_type);
    return why.empty() ? why : job.output.string() + ": " + why;
}

void draw_progress(size_t done, size_t total, size_t failed) {
    constexpr int kWidth = 40;
    const int filled = total == 0 ? kWidth : static_cast<int>(done * kWidth / total);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %zu/%zu files", bar, done, total);
    if (failed != 0) std::fprintf(stderr, ", %zu failed", failed);
    std::fflush(stderr);
}

} // namespace

int cmd_batch(int argc, char **argv) {
    Options o;
    const std::string problem = parse(argc, argv, o);
    if (problem == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "quorrel batch: %s\n%s", problem.c_str(), kUsage);
        return 2;
    }
    std::error_code ec;
    if (!fs::is_directory(o.input, ec)) {
        std::fprintf(stderr, "quorrel batch: %s: not a folder\n", o.input.c_str());
        return 1;
    }

    // The files in a fixed (sorted) order, so that reports do not depend on
    // the folder's listing order.
    std::vector<Job> jobs;
    const fs::path root(o.input);
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec) || !wanted(it->path(), o.encode)) continue;
        fs::path rel = it->path().lexically_relative(root);
        rel.replace_extension(o.encode ? ".jpg" : extension_of(o.format));
        jobs.push_back({it->path(), fs::path(o.output) / rel, {}});
    }
    if (ec) {
        std::fprintf(stderr, "quorrel batch: %s: %s\n", o.input.c_str(), ec.message().c_str());
        return 1;
    }
    std::sort(jobs.begin(), jobs.end(), [](const Job &a, const Job &b) { return a.input < b.input; });

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers =
        static_cast<unsigned>(std::min<size_t>(o.jobs != 0 ? o.jobs : cores, std::max<size_t>(jobs.size(), 1)));
    const bool terminal = !o.quiet && isatty(STDERR_FILENO) != 0;
    std::atomic<size_t> next{0}, done{0}, failed{0};
    std::mutex draw;
    std::vector<std::string> init_errors(workers);
    const auto start = std::chrono::steady_clock::now();

    // Each worker keeps one record. It is initialised afresh for every file:
    // a record keeps the tables of the streams it has read (abbreviated
    // streams rely on that), and a file without its own Huffman tables must
    // decode as it does alone.
    auto worker = [&](unsigned index) {
        auto *record = static_cast<JPEG_CODEC_RECORD *>(std::calloc(1, sizeof(JPEG_CODEC_RECORD)));
        int32_t init = record != nullptr ? JPEG_OK : JPEG_MEMORY_ERROR;
        bool initialised = false;
        for (size_t i; (i = next.fetch_add(1)) < jobs.size();) {
            Job &job = jobs[i];
            if (init == JPEG_OK) {
                if (initialised) (void)codec_free(record);
                init = codec_init(record);
                initialised = init == JPEG_OK;
                if (init != JPEG_OK) init_errors[index] = qrl_tools::codec_failure("codec_init", init);
            }
            job.error = init == JPEG_OK ? run_job(record, o, job) : init_errors[index];
            if (!job.error.empty()) failed.fetch_add(1);
            const size_t now = done.fetch_add(1) + 1;
            if (terminal) {
                std::lock_guard<std::mutex> lock(draw);
                draw_progress(now, jobs.size(), failed.load());
            }
        }
        if (initialised) (void)codec_free(record);
        std::free(record);
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back(worker, i);
    worker(0);
    for (std::thread &t : threads) t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (terminal) std::fputc('\n', stderr);

    for (const Job &job : jobs)
        if (!job.error.empty()) std::fprintf(stderr, "quorrel batch: %s: %s\n", job.input.string().c_str(), job.error.c_str());
    if (!o.quiet)
        std::printf("batch %s: %zu files, %zu written, %zu failed, %u workers on %u cores, %.2f s\n",
                    o.encode ? "encode" : "decode", jobs.size(), jobs.size() - failed.load(), failed.load(), workers,
                    cores, seconds);
    return failed.load() == 0 ? 0 : 1;
}
