// Coefficient output: whole decodes with coefficient_planes in both modes
// (0: quantized coefficients, 1: inverse-transformed blocks) into planes
// sized from the frame's MCU grid.
#include <vector>

#include "fuzz/fuzz_common.h"

using namespace qrl_fuzz;

namespace {
constexpr int64_t kMaxPlaneValues = int64_t{4} << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Input input = split_input(data, size);
    StreamCopy stream(input);
    if (stream.size() == 0) return 0;
    Options options = input.options;
    options.smooth = 0; // refused together with coefficient planes

    JPEG_CODEC_RECORD record;
    init_record(&record, options);
    point_at_memory(&record, stream);
    int32_t result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
    check_code(result, "header read");
    if (result == JPEG_OK) {
        const JPEG_PROPERTIES &p = record.props;
        // Every plane holds the largest component's coefficient image.
        const int64_t width = static_cast<int64_t>(p.max_h_sampling) * p.mcus_per_row * 8;
        const int64_t height = static_cast<int64_t>(p.max_v_sampling) * p.mcu_rows * 8;
        const int64_t values = width * height;
        if (values > 0 && values <= kMaxPlaneValues) {
            for (int32_t mode = 0; mode < 2; ++mode) {
                std::vector<int16_t> planes[QRL_MAX_COMPONENTS];
                COEFFICIENT_PLANES request{};
                request.planes_mode = (mode + options.extra[4]) & 1;
                for (int32_t i = 0; i < QRL_MAX_COMPONENTS; ++i) {
                    planes[i].assign(static_cast<size_t>(values), 0x5A5A);
                    request.plane[i] = planes[i].data();
                }
                record.props.coefficient_planes = &request;
                point_at_memory(&record, stream);
                result = codec_read(&record, JPEG_IO_DECODE_MEM);
                check_code(result, "coefficient decode");
                record.props.coefficient_planes = nullptr;
                for (const auto &plane : planes)
                    touch(reinterpret_cast<const uint8_t *>(plane.data()), plane.size() * sizeof(int16_t));
                result = codec_read(&record, JPEG_IO_READ_HEADER_MEM);
                check_code(result, "header read after a coefficient decode");
                if (result != JPEG_OK) break;
            }
        }
    }
    free_record(&record);
    return 0;
}
