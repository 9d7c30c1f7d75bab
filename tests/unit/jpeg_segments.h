// Splitting a JPEG stream into its marker segments, for tests that rebuild
// streams from the pieces of a complete one (scans left out, tables-only and
// image-only halves).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qrl_test {

struct JpegSegment {
    uint8_t code = 0;           // marker code (0xD8 SOI, 0xDA SOS, ...)
    std::vector<uint8_t> bytes; // the marker, its segment and, for SOS, the entropy-coded data after it
};

// The stream's segments in order, from SOI to EOI (bytes after EOI are
// dropped). Returns an empty vector when the stream does not parse.
inline std::vector<JpegSegment> split_segments(const std::vector<uint8_t> &data) {
    std::vector<JpegSegment> out;
    size_t i = 0;
    while (i + 1 < data.size()) {
        if (data[i] != 0xFF) return {};
        const uint8_t code = data[i + 1];
        if (code == 0xFF) { // fill byte
            ++i;
            continue;
        }
        JpegSegment s;
        s.code = code;
        size_t end = i + 2;
        const bool standalone = code == 0xD8 || code == 0xD9 || (code >= 0xD0 && code <= 0xD7) || code == 0x01;
        if (!standalone) {
            if (end + 2 > data.size()) return {};
            end += (static_cast<size_t>(data[end]) << 8) | data[end + 1];
            if (end > data.size()) return {};
        }
        if (code == 0xDA) {
            // Entropy-coded data runs to the next marker other than a
            // stuffed zero or a restart marker.
            while (end + 1 < data.size()) {
                if (data[end] == 0xFF) {
                    const uint8_t next = data[end + 1];
                    if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7)) break;
                }
                ++end;
            }
            if (end + 1 >= data.size()) end = data.size();
        }
        s.bytes.assign(data.begin() + static_cast<std::ptrdiff_t>(i), data.begin() + static_cast<std::ptrdiff_t>(end));
        out.push_back(std::move(s));
        i = end;
        if (code == 0xD9) break;
    }
    return out;
}

// Concatenates segments.
inline std::vector<uint8_t> join_segments(const std::vector<JpegSegment> &segments) {
    std::vector<uint8_t> out;
    for (const JpegSegment &s : segments) out.insert(out.end(), s.bytes.begin(), s.bytes.end());
    return out;
}

// Spectral selection of a scan segment (Ss, Se), read from its header.
inline void scan_band(const JpegSegment &sos, int *ss, int *se) {
    const size_t n = sos.bytes.size() > 4 ? sos.bytes[4] : 0;
    const size_t at = 5 + 2 * n;
    *ss = at + 1 < sos.bytes.size() ? sos.bytes[at] : -1;
    *se = at + 1 < sos.bytes.size() ? sos.bytes[at + 1] : -1;
}

} // namespace qrl_test
