// Pieces the benchmark programs share: a codec record that frees itself,
// timing, medians, whole-file reads, header reads and picking a folder's
// largest file.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"

namespace qrl_bench {

using Clock = std::chrono::steady_clock;

struct RecordDeleter {
    void operator()(JPEG_CODEC_RECORD *r) const {
        (void)codec_free(r);
        std::free(r);
    }
};
using RecordPtr = std::unique_ptr<JPEG_CODEC_RECORD, RecordDeleter>;

// A zeroed, initialised record, or null when initialisation fails.
inline RecordPtr new_record() {
    auto *raw = static_cast<JPEG_CODEC_RECORD *>(std::calloc(1, sizeof(JPEG_CODEC_RECORD)));
    if (raw == nullptr) return nullptr;
    if (codec_init(raw) != JPEG_OK) {
        std::free(raw);
        return nullptr;
    }
    return RecordPtr(raw);
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

inline double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

inline std::vector<uint8_t> read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Header {
    int width = 0, height = 0, components = 0, jpeg_color = 0;
};

// Reads the frame header of a file held in memory into `h`, on `rec`.
inline bool read_header(JPEG_CODEC_RECORD *rec, std::vector<uint8_t> &data, Header *h) {
    rec->jpeg_buffer = data.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(data.size());
    if (codec_read(rec, JPEG_IO_READ_HEADER_MEM) != JPEG_OK) return false;
    h->width = rec->jpeg_width;
    h->height = rec->jpeg_height;
    h->components = rec->jpeg_channels;
    h->jpeg_color = rec->jpeg_color;
    return true;
}

// The same on a record of its own.
inline bool read_header(std::vector<uint8_t> &data, Header *h) {
    RecordPtr rec = new_record();
    return rec && read_header(rec.get(), data, h);
}

// The file itself, or the JPEG file of a folder with the most pixels.
inline std::string pick_file(const std::string &arg) {
    namespace fs = std::filesystem;
    if (!fs::is_directory(arg)) return arg;
    std::string best;
    uint64_t best_pixels = 0;
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(arg))
        if (e.is_regular_file()) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        std::vector<uint8_t> data = read_bytes(name);
        Header h;
        if (data.empty() || !read_header(data, &h)) continue;
        const uint64_t pixels = static_cast<uint64_t>(h.width) * h.height;
        if (pixels > best_pixels) {
            best_pixels = pixels;
            best = name;
        }
    }
    return best;
}

} // namespace qrl_bench
