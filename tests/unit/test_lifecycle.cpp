// codec_init and codec_free: defaults on a poisoned record, the release of
// every owned buffer, repeated calls, and faults turned into result codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "codec/codec.h"
#include "dispatch/platform.h"

namespace {

struct RecordDeleter {
    void operator()(JPEG_CODEC_RECORD *r) const { std::free(r); }
};
using RecordPtr = std::unique_ptr<JPEG_CODEC_RECORD, RecordDeleter>;

// A record whose every byte holds the pattern (poison before init).
RecordPtr poisoned_record(uint8_t pattern = 0xA5) {
    auto *r = static_cast<JPEG_CODEC_RECORD *>(std::malloc(sizeof(JPEG_CODEC_RECORD)));
    std::memset(r, pattern, sizeof(JPEG_CODEC_RECORD));
    return RecordPtr(r);
}

bool all_zero(const void *p, std::size_t n) {
    const auto *b = static_cast<const uint8_t *>(p);
    for (std::size_t i = 0; i < n; ++i) {
        if (b[i] != 0) {
            return false;
        }
    }
    return true;
}

// Every public field and every state word that codec_init defines.
void expect_initialised(const JPEG_CODEC_RECORD &r) {
    EXPECT_EQ(r.use_internal_properties, 0);
    EXPECT_EQ(r.image_pixels, nullptr);
    EXPECT_EQ(r.image_width, 0);
    EXPECT_EQ(r.image_height, 0);
    EXPECT_EQ(r.image_pad_bytes, 0);
    EXPECT_EQ(r.image_channels, 3);
    EXPECT_EQ(r.image_color, COLOR_BGR);
    EXPECT_EQ(r.image_subsampling, SUBSAMPLING_NONE);
    EXPECT_EQ(r.jpeg_file_name, nullptr);
    EXPECT_EQ(r.jpeg_buffer, nullptr);
    EXPECT_EQ(r.jpeg_buffer_size, 0);
    EXPECT_EQ(r.jpeg_width, 0);
    EXPECT_EQ(r.jpeg_height, 0);
    EXPECT_EQ(r.jpeg_channels, 3);
    EXPECT_EQ(r.jpeg_color, COLOR_YCBCR);
    EXPECT_EQ(r.jpeg_subsampling, SUBSAMPLING_2X2);
    EXPECT_EQ(r.thumbnail_width, 0);
    EXPECT_EQ(r.thumbnail_height, 0);
    EXPECT_EQ(r.needs_color_conversion, 1);
    EXPECT_EQ(r.needs_upsampling, 1);
    EXPECT_EQ(r.jpeg_quality, 75);

    const JPEG_PROPERTIES &p = r.props;
    EXPECT_EQ(p.io_mode, -1);
    for (int32_t edge : p.roi) {
        EXPECT_EQ(edge, 0);
    }
    EXPECT_EQ(p.dct_method, 1);
    EXPECT_EQ(p.interrupt_after_mcu, 0);

    // The private copy equals the public fields, with line_bytes 0.
    EXPECT_EQ(p.image_pixels, r.image_pixels);
    EXPECT_EQ(p.image_width, r.image_width);
    EXPECT_EQ(p.image_height, r.image_height);
    EXPECT_EQ(p.image_pad_bytes, r.image_pad_bytes);
    EXPECT_EQ(p.image_channels, r.image_channels);
    EXPECT_EQ(p.image_color, r.image_color);
    EXPECT_EQ(p.image_subsampling, r.image_subsampling);
    EXPECT_EQ(p.line_bytes, 0);
    EXPECT_EQ(p.jpeg_file_name, r.jpeg_file_name);
    EXPECT_EQ(p.jpeg_buffer, r.jpeg_buffer);
    EXPECT_EQ(p.jpeg_buffer_size, r.jpeg_buffer_size);
    EXPECT_EQ(p.jpeg_width, r.jpeg_width);
    EXPECT_EQ(p.jpeg_height, r.jpeg_height);
    EXPECT_EQ(p.jpeg_channels, r.jpeg_channels);
    EXPECT_EQ(p.jpeg_color, r.jpeg_color);
    EXPECT_EQ(p.jpeg_subsampling, r.jpeg_subsampling);
    EXPECT_EQ(p.thumbnail_width, r.thumbnail_width);
    EXPECT_EQ(p.thumbnail_height, r.thumbnail_height);
    EXPECT_EQ(p.needs_color_conversion, r.needs_color_conversion);
    EXPECT_EQ(p.needs_upsampling, r.needs_upsampling);
    EXPECT_EQ(p.jpeg_quality, r.jpeg_quality);
    EXPECT_EQ(p.partial_scan, 0);
    EXPECT_EQ(p.mcus_per_row, 0);
    EXPECT_EQ(p.mcu_rows, 0);

    EXPECT_EQ(p.quant_tables_defined, 0);
    EXPECT_EQ(p.quant_table_count, 0);
    EXPECT_EQ(p.ac_table_count, 0);
    EXPECT_EQ(p.dc_table_count, 0);
    EXPECT_EQ(p.huffman_table_bound, 0);
    for (const QUANT_TABLE &q : p.quant_tables) {
        EXPECT_EQ(q.precision, 0);
        EXPECT_EQ(q.table_id, 0);
        EXPECT_TRUE(all_zero(q.storage, sizeof(q.storage)));
        // The first 8-byte-aligned address after the three header words, with
        // room for the whole table.
        const auto address = reinterpret_cast<uintptr_t>(q.coefficients);
        const auto after_header = reinterpret_cast<uintptr_t>(&q.coefficients + 1);
        EXPECT_EQ(address % 8, 0u);
        EXPECT_GE(address, after_header);
        EXPECT_LT(address, after_header + 8);
        EXPECT_LE(address + QRL_QUANT_STORAGE * sizeof(int16_t),
                  reinterpret_cast<uintptr_t>(&q + 1));
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(all_zero(&p.ac_huffman_tables[i], sizeof(HUFFMAN_DECODE_TABLE))) << i;
        EXPECT_TRUE(all_zero(&p.dc_huffman_tables[i], sizeof(HUFFMAN_DECODE_TABLE))) << i;
    }
    EXPECT_EQ(p.custom_quant_tables, 0);
    EXPECT_EQ(p.custom_huffman_tables, 0);
    for (const RAW_QUANT_TABLE &slot : p.raw_quant_tables) {
        EXPECT_EQ(slot.table, nullptr);
    }
    for (const RAW_HUFFMAN_TABLE &slot : p.raw_huffman_tables) {
        EXPECT_EQ(slot.bits, nullptr);
        EXPECT_EQ(slot.values, nullptr);
    }
    const uint8_t selectors[4] = {0, 1, 1, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.ac_table_of_scan_component[i], selectors[i]) << i;
        EXPECT_EQ(p.dc_table_of_scan_component[i], selectors[i]) << i;
    }
    for (int32_t word : p.encoder_state) {
        EXPECT_EQ(word, 0);
    }

    EXPECT_EQ(p.expect_frame, 1);
    EXPECT_EQ(p.frame_precision, 0);
    EXPECT_EQ(p.frame_height, 0);
    EXPECT_EQ(p.frame_width, 0);
    EXPECT_EQ(p.max_h_sampling, 0);
    EXPECT_EQ(p.max_v_sampling, 0);
    EXPECT_EQ(p.frame_component_count, 4);
    ASSERT_NE(p.frame_components, nullptr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.frame_components[i].id, 0) << i;
        EXPECT_EQ(p.frame_components[i].h_sampling, 0) << i;
        EXPECT_EQ(p.frame_components[i].v_sampling, 0) << i;
        EXPECT_EQ(p.frame_components[i].quant_table, selectors[i]) << i;
    }
    EXPECT_EQ(p.restart_interval, 0);
    EXPECT_EQ(p.current_scan, nullptr);
    EXPECT_EQ(p.scans_done, 0);
    EXPECT_EQ(p.dc_complete_count, 0);
    EXPECT_EQ(p.components_complete_count, 0);

    ASSERT_NE(p.kernel_table, nullptr);
    EXPECT_EQ(p.input.file, nullptr);
    EXPECT_EQ(p.input.kernel_table, p.kernel_table);
    EXPECT_EQ(p.input.bit_buffer, 0u);
    EXPECT_EQ(p.input.bit_count, 0);
    EXPECT_EQ(p.input.cur, nullptr);
    EXPECT_EQ(p.input.start, nullptr);
    EXPECT_EQ(p.input.end, nullptr);
    EXPECT_EQ(p.input.position, 0);
    EXPECT_EQ(p.input.size, 0);
    EXPECT_EQ(p.input.avail, 0);
    EXPECT_EQ(p.input.eob_run, 0);
    EXPECT_EQ(p.input.pending_marker, 0);

    EXPECT_EQ(p.adobe_found, 0);
    EXPECT_EQ(p.adobe_version, 100);
    EXPECT_EQ(p.adobe_flags0, 0);
    EXPECT_EQ(p.adobe_flags1, 0);
    EXPECT_EQ(p.adobe_transform, 0);
    EXPECT_EQ(p.jfif_found, 0);
    EXPECT_EQ(p.jfif_version, 0x0101);
    EXPECT_EQ(p.jfif_units, 0);
    EXPECT_EQ(p.jfif_x_density, 1);
    EXPECT_EQ(p.jfif_y_density, 1);
    EXPECT_EQ(p.jpeg_comment, nullptr);
    EXPECT_EQ(p.jpeg_comment_size, 0);

    EXPECT_EQ(p.coefficient_buffer, nullptr);
    EXPECT_EQ(p.row_index, nullptr);
    EXPECT_EQ(p.coefficient_planes, nullptr);
    EXPECT_EQ(p.smooth_upsampling, 0);
    EXPECT_EQ(p.neighbour_ring, nullptr);
}

void expect_released(const JPEG_CODEC_RECORD &r) {
    const JPEG_PROPERTIES &p = r.props;
    EXPECT_EQ(p.kernel_table, nullptr);
    EXPECT_EQ(p.frame_components, nullptr);
    EXPECT_EQ(p.frame_component_count, 0);
    EXPECT_EQ(p.coefficient_buffer, nullptr);
    EXPECT_EQ(p.row_index, nullptr);
    EXPECT_EQ(p.current_scan, nullptr);
    EXPECT_EQ(p.neighbour_ring, nullptr);
    EXPECT_EQ(p.input.file, nullptr);
}

TEST(CodecInit, PoisonedRecordGetsExactlyTheDefaults) {
    for (uint8_t pattern : {uint8_t{0xA5}, uint8_t{0xFF}, uint8_t{0x00}}) {
        SCOPED_TRACE(static_cast<int>(pattern));
        RecordPtr r = poisoned_record(pattern);
        ASSERT_EQ(codec_init(r.get()), JPEG_OK);
        expect_initialised(*r);
        EXPECT_EQ(codec_free(r.get()), JPEG_OK);
    }
}

TEST(CodecInit, InstallsTheMemoryHooks) {
    qrl::copy_memory = nullptr;
    qrl::zero_memory = nullptr;
    RecordPtr r = poisoned_record();
    ASSERT_EQ(codec_init(r.get()), JPEG_OK);
    EXPECT_NE(qrl::copy_memory, nullptr);
    EXPECT_NE(qrl::zero_memory, nullptr);
    EXPECT_EQ(codec_free(r.get()), JPEG_OK);
}

TEST(CodecFree, AfterInitTwiceAndThenInitAgain) {
    RecordPtr r = poisoned_record();
    ASSERT_EQ(codec_init(r.get()), JPEG_OK);
    r->image_width = 640; // public fields survive a free
    EXPECT_EQ(codec_free(r.get()), JPEG_OK);
    expect_released(*r);
    EXPECT_EQ(r->image_width, 640);
    EXPECT_EQ(qrl::format_print, nullptr); // the user entry points are cleared

    EXPECT_EQ(codec_free(r.get()), JPEG_OK); // nothing left to release
    expect_released(*r);

    ASSERT_EQ(codec_init(r.get()), JPEG_OK);
    expect_initialised(*r);
    EXPECT_EQ(codec_free(r.get()), JPEG_OK);
}

// Attaches one of each buffer a decode may leave behind.
void attach_work_buffers(JPEG_CODEC_RECORD *r, bool smooth_upsampling) {
    JPEG_PROPERTIES &p = r->props;
    p.coefficient_buffer = static_cast<int16_t *>(std::malloc(64 * sizeof(int16_t) * 6));
    p.coefficient_buffer_blocks = 6;
    p.row_index = static_cast<ROW_INDEX_ENTRY *>(
        std::calloc(QRL_ROW_INDEX_ENTRIES, sizeof(ROW_INDEX_ENTRY)));
    p.current_scan = static_cast<SCAN_INFO *>(std::calloc(1, sizeof(SCAN_INFO)));
    p.current_scan->scan_component_count = 3;
    p.current_scan->scan_components =
        static_cast<SCAN_COMPONENT *>(std::calloc(3, sizeof(SCAN_COMPONENT)));
    // The ring's rows share one block; the lowest row is not the first.
    auto *rows = static_cast<int16_t *>(std::malloc(4 * 64 * 2 * sizeof(int16_t)));
    p.neighbour_ring = static_cast<NEIGHBOUR_RING *>(std::calloc(1, sizeof(NEIGHBOUR_RING)));
    p.neighbour_ring->rows[0] = rows + 2 * 128;
    p.neighbour_ring->rows[1] = rows + 3 * 128;
    p.neighbour_ring->rows[2] = rows;
    p.neighbour_ring->rows[3] = rows + 128;
    p.neighbour_ring_blocks = 2;
    p.smooth_upsampling = smooth_upsampling ? 1 : 0;
}

TEST(CodecFree, ReleasesEveryOwnedBuffer) {
    // The ring goes whatever smooth_upsampling says now (checked for leaks
    // by the sanitizer build).
    for (bool smooth : {true, false}) {
        SCOPED_TRACE(smooth);
        RecordPtr r = poisoned_record();
        ASSERT_EQ(codec_init(r.get()), JPEG_OK);
        attach_work_buffers(r.get(), smooth);
        r->props.custom_quant_tables = 1;
        r->props.custom_huffman_tables = 1;
        uint8_t raw[64] = {};
        r->props.raw_quant_tables[2].table = raw;
        r->props.raw_huffman_tables[5].bits = raw;
        r->props.quant_table_count = 2;
        for (int i = 0; i < 12; ++i) {
            r->props.encoder_state[i] = 9;
        }
        EXPECT_EQ(codec_free(r.get()), JPEG_OK);
        expect_released(*r);
        EXPECT_EQ(r->props.custom_quant_tables, 0);
        EXPECT_EQ(r->props.custom_huffman_tables, 0);
        EXPECT_EQ(r->props.raw_quant_tables[2].table, nullptr);
        EXPECT_EQ(r->props.raw_huffman_tables[5].bits, nullptr);
        EXPECT_EQ(r->props.quant_table_count, 0);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(r->props.encoder_state[i], 0);
        }
        EXPECT_EQ(r->props.encoder_state[4], 9); // only the first four are cleared
    }
}

TEST(CodecFree, RingWithSomeRowsMissing) {
    RecordPtr r = poisoned_record();
    ASSERT_EQ(codec_init(r.get()), JPEG_OK);
    JPEG_PROPERTIES &p = r->props;
    auto *rows = static_cast<int16_t *>(std::malloc(256 * sizeof(int16_t)));
    p.neighbour_ring = static_cast<NEIGHBOUR_RING *>(std::calloc(1, sizeof(NEIGHBOUR_RING)));
    p.neighbour_ring->rows[1] = rows + 128;
    p.neighbour_ring->rows[3] = rows;
    EXPECT_EQ(codec_free(r.get()), JPEG_OK);
    EXPECT_EQ(p.neighbour_ring, nullptr);
}

TEST(CodecFree, ClosesAFileLeftOpen) {
    char path[] = "/tmp/quorrel-lifecycle-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    RecordPtr r = poisoned_record();
    ASSERT_EQ(codec_init(r.get()), JPEG_OK);
    r->props.input.file = qrl::open_file(path, qrl::kGenericRead);
    ASSERT_NE(r->props.input.file, nullptr);
    EXPECT_EQ(codec_free(r.get()), JPEG_OK);
    expect_released(*r);
    unlink(path);
}

TEST(CodecFree, CloseFailureKeepsBuffersButReleasesTheTable) {
    RecordPtr r = poisoned_record();
    ASSERT_EQ(codec_init(r.get()), JPEG_OK);
    COMPONENT_INFO *components = r->props.frame_components;
    // A descriptor that is not open: closing it fails.
    r->props.input.file = reinterpret_cast<void *>(static_cast<intptr_t>(1 << 20) + 1);
    EXPECT_EQ(codec_free(r.get()), JPEG_ERR_CLOSE_FILE);
    EXPECT_EQ(r->props.kernel_table, nullptr);
    EXPECT_EQ(r->props.frame_components, components);
    r->props.input.file = nullptr;
    EXPECT_EQ(codec_free(r.get()), JPEG_OK);
    expect_released(*r);
}

TEST(CodecFree, DamagedComponentCountReleasesOnlyTheTable) {
    RecordPtr r = poisoned_record();
    ASSERT_EQ(codec_init(r.get()), JPEG_OK);
    COMPONENT_INFO *components = r->props.frame_components;
    r->props.frame_component_count = 256;
    EXPECT_EQ(codec_free(r.get()), JPEG_INVALID_PROPERTIES);
    EXPECT_EQ(r->props.kernel_table, nullptr);
    EXPECT_EQ(r->props.frame_components, components);
    r->props.frame_component_count = 255; // still acceptable
    EXPECT_EQ(codec_free(r.get()), JPEG_OK);
    expect_released(*r);
}

// A page that faults on every access.
class ProtectedPage : public ::testing::Test {
public:
    template <typename T>
    T *bad_pointer() const {
        return reinterpret_cast<T *>(static_cast<uint8_t *>(page_) + 64);
    }

protected:
    void SetUp() override {
        page_size_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        page_ = mmap(nullptr, page_size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(page_, MAP_FAILED);
    }
    void TearDown() override { munmap(page_, page_size_); }
    void *page_ = nullptr;
    std::size_t page_size_ = 0;
};

TEST_F(ProtectedPage, FreeThroughBadPointersReportsException) {
    struct Case {
        const char *name;
        void (*plant)(JPEG_PROPERTIES *p, const ProtectedPage *page);
    };
    const Case cases[] = {
        {"current_scan",
         [](JPEG_PROPERTIES *p, const ProtectedPage *page) {
             p->current_scan = page->bad_pointer<SCAN_INFO>();
         }},
        {"neighbour_ring",
         [](JPEG_PROPERTIES *p, const ProtectedPage *page) {
             p->neighbour_ring = page->bad_pointer<NEIGHBOUR_RING>();
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RecordPtr r = poisoned_record();
        ASSERT_EQ(codec_init(r.get()), JPEG_OK);
        c.plant(&r->props, this);
        EXPECT_EQ(codec_free(r.get()), JPEG_EXCEPTION_DETECTED);
        EXPECT_EQ(r->props.kernel_table, nullptr); // released after the fault
        // The process goes on; clear the bad pointer and the rest is released.
        r->props.current_scan = nullptr;
        r->props.neighbour_ring = nullptr;
        EXPECT_EQ(codec_free(r.get()), JPEG_OK);
        expect_released(*r);
        // And the record works again.
        ASSERT_EQ(codec_init(r.get()), JPEG_OK);
        EXPECT_EQ(codec_free(r.get()), JPEG_OK);
    }
}

} // namespace

namespace {

// A record whose last page faults: codec_init's clearing of the working
// state hits it before anything else is set up.
TEST(CodecInit, FaultInsideInitReportsExceptionAndStaysFreeable) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    ASSERT_GT(sizeof(JPEG_PROPERTIES::mcu_work_area), page); // the page is inside the work area
    const std::size_t total = (sizeof(JPEG_CODEC_RECORD) + page - 1) / page * page + page;
    void *map = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto *base = static_cast<uint8_t *>(map);
    auto *record = reinterpret_cast<JPEG_CODEC_RECORD *>(base + total - sizeof(JPEG_CODEC_RECORD));
    std::memset(record, 0xA5, sizeof(JPEG_CODEC_RECORD) - page);
    ASSERT_EQ(mprotect(base + total - page, page, PROT_NONE), 0);

    EXPECT_EQ(codec_init(record), JPEG_EXCEPTION_DETECTED);
    // The release path leaves the owned pointers empty and the table attached.
    EXPECT_NE(record->props.kernel_table, nullptr);
    EXPECT_EQ(record->props.frame_components, nullptr);
    EXPECT_EQ(record->props.frame_component_count, 0);
    EXPECT_EQ(record->props.current_scan, nullptr);
    EXPECT_EQ(record->props.neighbour_ring, nullptr);
    EXPECT_EQ(record->props.input.file, nullptr);
    EXPECT_EQ(codec_free(record), JPEG_OK);
    EXPECT_EQ(record->props.kernel_table, nullptr);

    // With the whole record accessible the same memory initialises.
    ASSERT_EQ(mprotect(base + total - page, page, PROT_READ | PROT_WRITE), 0);
    EXPECT_EQ(codec_init(record), JPEG_OK);
    expect_initialised(*record);
    EXPECT_EQ(codec_free(record), JPEG_OK);
    munmap(map, total);
}

} // namespace
