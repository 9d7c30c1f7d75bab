// Pieces every benchmark program shares: a codec record that frees itself,
// timing, medians and whole-file reads.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
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

} // namespace qrl_bench
