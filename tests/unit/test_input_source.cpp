// Byte reader: memory sources read in place, file sources through the
// 4096-byte buffer, marker search over fill bytes and stuffed zeros, segments
// that straddle a refill.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decode/input_source.h"
#include "dispatch/platform.h"

namespace {

using qrl::kEndOfData;

struct MemorySource {
    std::vector<uint8_t> bytes;
    INPUT_SOURCE src{};
    explicit MemorySource(std::vector<uint8_t> data) : bytes(std::move(data)) {
        qrl::install_memory_hooks();
        src.start = bytes.data();
        src.size = static_cast<int32_t>(bytes.size());
        qrl::reset_input(&src);
    }
};

// A temporary file read through the file buffer.
struct FileSource {
    std::string path;
    INPUT_SOURCE src{};
    explicit FileSource(const std::vector<uint8_t> &data) {
        qrl::install_memory_hooks();
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char &ch : name)
            if (ch == '/') ch = '_';
        // One file per source: a test may hold two open at once, and on
        // Windows an open file (shared for reading only) cannot be rewritten.
        static int serial = 0;
        path = std::string(QRL_BINARY_DIR) + "/input_source_" + name + "_" + std::to_string(serial++) +
               ".bin";
        std::FILE *f = std::fopen(path.c_str(), "wb");
        if (f != nullptr) {
            if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
            std::fclose(f);
        }
        src.file = qrl::open_file(path.c_str(), qrl::kGenericRead);
        EXPECT_NE(src.file, nullptr) << path;
        src.start = src.file_buffer;
        src.size = QRL_FILE_BUFFER_SIZE;
        qrl::reset_input(&src);
    }
    ~FileSource() {
        if (src.file != nullptr) (void)qrl::close_file(src.file);
        std::remove(path.c_str());
    }
};

TEST(InputSource, ResetPreparesMemoryAndFileSources) {
    MemorySource m({1, 2, 3});
    m.src.bit_count = 7;
    m.src.pending_marker = 0xD9;
    m.src.scan_channel_offset = 2;
    m.src.position = 11;
    qrl::reset_input(&m.src);
    EXPECT_EQ(m.src.cur, m.bytes.data());
    EXPECT_EQ(m.src.end, m.bytes.data() + 3);
    EXPECT_EQ(m.src.avail, 3);
    EXPECT_EQ(m.src.bit_count, 0);
    EXPECT_EQ(m.src.pending_marker, 0);
    EXPECT_EQ(m.src.scan_channel_offset, 0);
    EXPECT_EQ(m.src.position, 11) << "reset keeps the position counter";

    FileSource f({1, 2, 3});
    ASSERT_NE(f.src.file, nullptr);
    EXPECT_EQ(f.src.avail, 0) << "a file source refills on its first read";
    EXPECT_EQ(f.src.cur, f.src.file_buffer + QRL_FILE_BUFFER_SIZE);
}

TEST(InputSource, ReadU16IsBigEndian) {
    MemorySource m({0x01, 0x02, 0xFF});
    uint32_t value = 0;
    ASSERT_EQ(qrl::read_u16(&m.src, &value), JPEG_OK);
    EXPECT_EQ(value, 258u);
    EXPECT_EQ(m.src.position, 2);
    EXPECT_EQ(m.src.avail, 1);
    EXPECT_EQ(qrl::read_u16(&m.src, &value), JPEG_DATA_ERROR) << "one byte left";
}

TEST(InputSource, TakeBytesRefusesShortSources) {
    MemorySource m({1, 2, 3});
    uint8_t *data = reinterpret_cast<uint8_t *>(&m);
    EXPECT_EQ(qrl::take_bytes(&m.src, 4, &data), JPEG_MEMORY_ERROR);
    EXPECT_EQ(data, nullptr);
    ASSERT_EQ(qrl::take_bytes(&m.src, 3, &data), JPEG_OK);
    EXPECT_EQ(data, m.bytes.data()) << "memory is handed out in place";

    FileSource empty({});
    EXPECT_EQ(qrl::take_bytes(&empty.src, 1, &data), JPEG_FILE_ERROR) << "a read of 0 bytes";

    FileSource f(std::vector<uint8_t>(10, 7));
    ASSERT_EQ(qrl::take_bytes(&f.src, 4, &data), JPEG_OK);
    EXPECT_EQ(f.src.avail, 6);
    // Six bytes are buffered; asking for eight must not drop them in a refill.
    EXPECT_EQ(qrl::take_bytes(&f.src, 8, &data), JPEG_INTERNAL_ERROR);
    EXPECT_EQ(f.src.avail, 6);
    EXPECT_EQ(qrl::take_bytes(&f.src, 6, &data), JPEG_OK);
    EXPECT_EQ(f.src.position, 10);
    EXPECT_EQ(qrl::take_bytes(&f.src, 1, &data), JPEG_FILE_ERROR) << "end of file";
}

TEST(InputSource, SegmentStraddlingTheFileBufferIsGathered) {
    std::vector<uint8_t> bytes(QRL_FILE_BUFFER_SIZE - 100, 0x11);
    for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
    bytes.resize(bytes.size() + 50, 0x22);
    FileSource f(bytes);
    uint8_t *data = nullptr;
    ASSERT_EQ(qrl::take_bytes(&f.src, QRL_FILE_BUFFER_SIZE - 100, &data), JPEG_OK);
    ASSERT_EQ(f.src.avail, 100);

    uint8_t *block = nullptr;
    int32_t allocated = 0;
    ASSERT_EQ(qrl::read_segment(&f.src, 300, &block, &data, &allocated), JPEG_OK);
    EXPECT_EQ(allocated, 1);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(data, block);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(data[i], static_cast<uint8_t>(i * 7)) << "byte " << i;
    EXPECT_EQ(f.src.position, QRL_FILE_BUFFER_SIZE + 200);
    qrl::release_segment(&block, &allocated);
    EXPECT_EQ(block, nullptr);

    // A segment that lies in the buffer is handed out in place.
    ASSERT_EQ(qrl::read_segment(&f.src, 20, &block, &data, &allocated), JPEG_OK);
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(data[0], 0x22);
}

TEST(InputSource, SegmentLongerThanTheDataIsADataError) {
    MemorySource m({1, 2, 3, 4, 5});
    uint8_t *block = nullptr;
    uint8_t *data = nullptr;
    int32_t allocated = 0;
    EXPECT_EQ(qrl::read_segment(&m.src, 6, &block, &data, &allocated), JPEG_DATA_ERROR);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(allocated, 0);

    std::vector<uint8_t> bytes(QRL_FILE_BUFFER_SIZE + 10, 0x33);
    FileSource f(bytes);
    ASSERT_EQ(qrl::take_bytes(&f.src, 1, &data), JPEG_OK);
    EXPECT_EQ(qrl::read_segment(&f.src, QRL_FILE_BUFFER_SIZE + 10, &block, &data, &allocated),
              JPEG_DATA_ERROR);
    EXPECT_EQ(block, nullptr);
}

struct MarkerCase {
    const char *name;
    std::vector<uint8_t> bytes;
    int32_t result;
    int32_t code;     // when result is 0
    int32_t position; // bytes consumed, code byte included
};

class MarkerSearch : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(MarkerSearch, FindsTheNextMarkerInMemoryAndFiles) {
    const MarkerCase &c = GetParam();
    MemorySource m(c.bytes);
    FileSource f(c.bytes);
    for (INPUT_SOURCE *src : {&m.src, &f.src}) {
        int32_t code = -1;
        const int32_t result = qrl::read_marker(src, &code);
        const bool memory = src == &m.src;
        // A file that runs out reports the failed read instead.
        const int32_t expected = !memory && c.result == JPEG_MEMORY_ERROR ? JPEG_FILE_ERROR : c.result;
        EXPECT_EQ(result, expected) << c.name << (memory ? " (memory)" : " (file)") << " avail "
                                    << src->avail;
        if (result == JPEG_OK) {
            EXPECT_EQ(code, c.code) << c.name;
            EXPECT_EQ(src->position, c.position) << c.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MarkerSearch,
    ::testing::Values(
        MarkerCase{"plain", {0xFF, 0xD8}, JPEG_OK, 0xD8, 2},
        MarkerCase{"fill_bytes", {0xFF, 0xFF, 0xFF, 0xFF, 0xC0}, JPEG_OK, 0xC0, 5},
        MarkerCase{"garbage_first", {0x00, 0x12, 0xFF, 0xDB}, JPEG_OK, 0xDB, 4},
        MarkerCase{"stuffed_zero", {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD9}, JPEG_OK, 0xD9, 6},
        MarkerCase{"stuffed_then_fill", {0xFF, 0x00, 0xFF, 0xFF, 0xD0}, JPEG_OK, 0xD0, 5},
        MarkerCase{"no_marker", {0x01, 0x02, 0x03}, JPEG_MEMORY_ERROR, 0, 0},
        MarkerCase{"only_stuffed", {0xFF, 0x00}, JPEG_MEMORY_ERROR, 0, 0},
        MarkerCase{"ends_in_ff", {0x01, 0xFF}, JPEG_MEMORY_ERROR, 0, 0},
        MarkerCase{"ends_in_fill", {0xFF, 0xFF, 0xFF}, JPEG_MEMORY_ERROR, 0, 0}),
    [](const ::testing::TestParamInfo<MarkerCase> &p) { return std::string(p.param.name); });

TEST(InputSource, MarkerSplitAcrossARefillIsFound) {
    std::vector<uint8_t> bytes(QRL_FILE_BUFFER_SIZE - 1, 0x55);
    bytes.push_back(0xFF); // last byte of the first buffer
    bytes.push_back(0xFF); // fill byte in the second
    bytes.push_back(0xE1);
    FileSource f(bytes);
    int32_t code = 0;
    ASSERT_EQ(qrl::read_marker(&f.src, &code), JPEG_OK);
    EXPECT_EQ(code, 0xE1);
    EXPECT_EQ(f.src.position, QRL_FILE_BUFFER_SIZE + 2);
}

TEST(InputSource, PendingMarkerIsDeliveredFirst) {
    MemorySource m({0xFF, 0xD9});
    m.src.pending_marker = 0xD3;
    int32_t code = 0;
    ASSERT_EQ(qrl::read_marker(&m.src, &code), JPEG_OK);
    EXPECT_EQ(code, 0xD3);
    EXPECT_EQ(m.src.pending_marker, 0);
    EXPECT_EQ(m.src.position, 0);
    ASSERT_EQ(qrl::read_marker(&m.src, &code), JPEG_OK);
    EXPECT_EQ(code, 0xD9);
    EXPECT_NE(code, kEndOfData);
}

TEST(InputSource, SkipSegmentPassesOverItsBytesWhole) {
    // The segment holds 0xFF 0xD9, which must not be taken as a marker.
    MemorySource m({0x00, 0x06, 0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xC4});
    ASSERT_EQ(qrl::skip_segment(&m.src), JPEG_OK);
    EXPECT_EQ(m.src.position, 6);
    int32_t code = 0;
    ASSERT_EQ(qrl::read_marker(&m.src, &code), JPEG_OK);
    EXPECT_EQ(code, 0xC4);

    MemorySource short_length({0x00, 0x01, 0xFF, 0xD9});
    EXPECT_EQ(qrl::skip_segment(&short_length.src), JPEG_DATA_ERROR);
    MemorySource cut({0x00, 0x10, 1, 2, 3});
    EXPECT_EQ(qrl::skip_segment(&cut.src), JPEG_DATA_ERROR);
    MemorySource no_length({0x00});
    EXPECT_EQ(qrl::skip_segment(&no_length.src), JPEG_DATA_ERROR);

    // A 60000-byte segment in a file spans many refills.
    std::vector<uint8_t> bytes = {0xEA, 0x62};
    bytes.resize(60002, 0xFF);
    bytes.push_back(0xFF);
    bytes.push_back(0xDA);
    FileSource f(bytes);
    ASSERT_EQ(qrl::skip_segment(&f.src), JPEG_OK);
    EXPECT_EQ(f.src.position, 60002);
    ASSERT_EQ(qrl::read_marker(&f.src, &code), JPEG_OK);
    EXPECT_EQ(code, 0xDA);

    FileSource f_cut({0x10, 0x00, 1, 2, 3});
    EXPECT_EQ(qrl::skip_segment(&f_cut.src), JPEG_DATA_ERROR);
}

} // namespace
