// `quorrel info` and `quorrel thumbnail` end to end (runs the built program).
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stream_builder.h"
#include "support/corpus.h"
#include "support/oracle.h"

namespace {

namespace fs = std::filesystem;
using namespace qrl_stream;

const std::string kCli = std::string(QRL_BINARY_DIR) + "/tools/quorrel";

// One folder per test: ctest runs the tests of this program side by side,
// and each captures the program's output in a file of its folder.
fs::path work_dir() {
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::path(QRL_BINARY_DIR) / "test_cmd_info" / (test != nullptr ? test->name() : "any");
    fs::create_directories(dir);
    return dir;
}

std::string write_bytes(const std::string &name, const std::vector<uint8_t> &bytes) {
    const std::string path = (work_dir() / name).string();
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

struct CliRun {
    int exit_code = -1;
    std::string out;
};

CliRun run(const std::string &args) {
    const std::string out_path = (work_dir() / "stdout.txt").string();
    const std::string cmd = "'" + kCli + "' " + args + " >'" + out_path + "' 2>/dev/null";
    CliRun r;
    const int status = std::system(cmd.c_str());
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> bytes = qrl_test::read_file_bytes(out_path);
    r.out.assign(bytes.begin(), bytes.end());
    return r;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            out.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

bool has(const std::string &line, const std::string &fragment) { return line.find(fragment) != std::string::npos; }

class CmdInfo : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kCli)) GTEST_SKIP() << "skipped: the quorrel program is not built (" << kCli << ")";
    }
};

Bytes thumbnail_stream() {
    Bytes s = marker(0xD8);
    append(s, segment(0xE0, jfif_payload(4, 3)));
    append(s, segment(0xFE, {'h', 'i', '"', '!'}));
    append(s, segment(0xDD, {0x00, 0x05}));
    const Bytes rest = minimal_stream(33, 17);
    s.insert(s.end(), rest.begin() + 2, rest.end());
    return s;
}

TEST_F(CmdInfo, JsonLinesCarryTheHeaderFacts) {
    const std::string thumb = write_bytes("thumb.jpg", thumbnail_stream());
    qrl_test::LibjpegEncodeOptions o;
    o.width = 24;
    o.height = 16;
    o.layout = qrl_test::JpegLayout::cmyk;
    const std::string cmyk = write_bytes("cmyk.jpg", qrl_test::libjpeg_encode(o));
    Bytes lossless = marker(0xD8);
    append(lossless, segment(0xC3, sof_payload(16, 16, {{1, 0x11, 0}})));
    const std::string refused = write_bytes("lossless.jpg", lossless);

    const CliRun r = run("info --json '" + thumb + "' '" + cmyk + "'");
    EXPECT_EQ(r.exit_code, 0);
    const std::vector<std::string> l = lines(r.out);
    ASSERT_EQ(l.size(), 2u) << r.out;
    for (const char *key : {"\"file\":", "\"width\":", "\"height\":", "\"channels\":", "\"color\":",
                            "\"subsampling\":", "\"thumbnail_width\":", "\"thumbnail_height\":", "\"result\":",
                            "\"message\":"})
        EXPECT_TRUE(has(l[0], key)) << key << " in " << l[0];
    EXPECT_TRUE(has(l[0], "\"width\":33,\"height\":17,\"channels\":3,\"color\":3,\"subsampling\":1")) << l[0];
    EXPECT_TRUE(has(l[0], "\"thumbnail_width\":4,\"thumbnail_height\":3")) << l[0];
    EXPECT_TRUE(has(l[0], "\"frame_type\":\"baseline\"")) << l[0];
    EXPECT_TRUE(has(l[0], "\"restart_interval\":5")) << l[0];
    EXPECT_TRUE(has(l[0], "{\"id\":1,\"h\":2,\"v\":2,\"quant_table\":0}")) << l[0];
    EXPECT_TRUE(has(l[0], "\"jfif_version\":\"1.02\"")) << l[0];
    EXPECT_TRUE(has(l[0], "\"comment\":\"hi\\\"!\"")) << l[0];
    EXPECT_TRUE(has(l[0], "\"result\":0,\"message\":\"Success\"")) << l[0];
    EXPECT_TRUE(has(l[1], "\"channels\":4,\"color\":5")) << l[1];
    EXPECT_TRUE(has(l[1], "\"adobe_transform\":0")) << l[1];

    const CliRun bad = run("info --json '" + refused + "' '" + thumb + "'");
    EXPECT_EQ(bad.exit_code, 1) << "one file could not be read";
    const std::vector<std::string> bl = lines(bad.out);
    ASSERT_EQ(bl.size(), 2u);
    EXPECT_TRUE(has(bl[0], "\"result\":-29")) << bl[0];
    EXPECT_TRUE(has(bl[0], "\"frame_type\":\"lossless\"")) << bl[0];
    EXPECT_TRUE(has(bl[1], "\"result\":0")) << bl[1];

    const CliRun text = run("info '" + thumb + "'");
    EXPECT_EQ(text.exit_code, 0);
    EXPECT_TRUE(has(text.out, "33 x 17")) << text.out;
    EXPECT_TRUE(has(text.out, "thumbnail:        4 x 3")) << text.out;
}

TEST_F(CmdInfo, ThumbnailIsWrittenAsPpm) {
    const std::string thumb = write_bytes("thumb2.jpg", thumbnail_stream());
    const std::string out = (work_dir() / "thumb.ppm").string();
    const CliRun r = run("thumbnail '" + thumb + "' -o '" + out + "'");
    ASSERT_EQ(r.exit_code, 0);
    const std::vector<uint8_t> ppm = qrl_test::read_file_bytes(out);
    const std::string header = "P6\n4 3\n255\n";
    ASSERT_EQ(ppm.size(), header.size() + 36);
    EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + static_cast<long>(header.size())), header);
    for (int i = 0; i < 36; ++i) EXPECT_EQ(ppm[header.size() + static_cast<size_t>(i)], i) << i;

    const std::string none = write_bytes("none.jpg", minimal_stream());
    EXPECT_EQ(run("thumbnail '" + none + "' -o '" + out + "'").exit_code, 1) << "no thumbnail";
}

} // namespace
