// Marker dispatch and the table, frame, restart-interval and scan-header
// segment handlers (ITU-T T.81 Annex B). The decode driver reads marker codes
// and handles SOS and EOI itself; every other code goes through
// dispatch_marker.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

constexpr int32_t kMarkerSof0 = 0xC0;
constexpr int32_t kMarkerSof1 = 0xC1;
constexpr int32_t kMarkerSof2 = 0xC2;
constexpr int32_t kMarkerDht = 0xC4;
constexpr int32_t kMarkerSoi = 0xD8;
constexpr int32_t kMarkerEoi = 0xD9;
constexpr int32_t kMarkerSos = 0xDA;
constexpr int32_t kMarkerDqt = 0xDB;
constexpr int32_t kMarkerDri = 0xDD;
constexpr int32_t kMarkerApp0 = 0xE0;
constexpr int32_t kMarkerApp14 = 0xEE;
constexpr int32_t kMarkerCom = 0xFE;

// True for the modes that read a stream's header or tables only.
[[nodiscard]] bool is_header_mode(int32_t io_mode);

// Handles one marker other than SOS, EOI and the end-of-data code. Returns the
// handler's result; *end_parse is set when the call must end now with that
// result (a frame header met by a tables-only read).
[[nodiscard]] int32_t dispatch_marker(JPEG_PROPERTIES *props, int32_t code, bool *end_parse);

// Frame header (SOF0, SOF1, SOF2): fills the frame descriptor and runs the
// output selection. Refusals: JPEG_DATA_ERROR (segment too short for its
// component list, sampling factor 0 or above 4), JPEG_UNSUPPORTED_FRAME
// (precision other than 8), JPEG_ERR_DNL (height 0), JPEG_ERR_COMP (no
// components or more than four).
[[nodiscard]] int32_t read_frame_header(JPEG_PROPERTIES *props, bool *end_parse);
[[nodiscard]] int32_t read_quant_tables(JPEG_PROPERTIES *props);
[[nodiscard]] int32_t read_huffman_tables(JPEG_PROPERTIES *props);
[[nodiscard]] int32_t read_restart_interval(JPEG_PROPERTIES *props);

// Scan header into `scan` (whose scan_components must be null); stores the
// segment's length plus 2 in the kernel table's scan_header_length. On failure
// scan_components is left null. Runs under the fault guard.
[[nodiscard]] int32_t read_scan_header(JPEG_PROPERTIES *props, SCAN_INFO *scan);

// A frame header starts a new image: unless a scan is pending, the multi-scan
// bookkeeping (scans_done, progress counters) is cleared and the buffers sized
// for an earlier frame (coefficient buffer, row index, neighbour ring) are
// released, to be allocated again for the current frame.
void start_new_image(JPEG_PROPERTIES *props);

// Prepares a quantization table slot's 64 zig-zag values for decoding with
// the record's dct_method.
void prepare_quant_table(JPEG_PROPERTIES *props, QUANT_TABLE *table);

} // namespace qrl
