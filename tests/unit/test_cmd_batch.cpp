// `quorrel batch` end to end: every file of a folder tree decoded or encoded
// by worker threads, each file equal to what the one-file commands write.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cmd_test_util.h"
#include "support/corpus.h"
#include "support/oracle.h"

namespace {

using namespace qrl_cmd_test;

fs::path dir() { return work_dir("test_cmd_batch"); }

class CmdBatch : public ::testing::Test {
protected:
    void SetUp() override { QRL_REQUIRE_CLI(); }
};

// A small folder tree of JPEG files of several kinds, one broken file and
// one file the batch does not take.
std::vector<std::string> make_jpeg_tree(const fs::path &root) {
    struct Kind {
        const char *name;
        int width, height, format, subsampling, flags;
    };
    const Kind kinds[] = {
        {"a.jpg", 53, 37, TJPF_RGB, TJSAMP_420, 0},
        {"b.JPEG", 17, 40, TJPF_RGB, TJSAMP_422, TJFLAG_PROGRESSIVE},
        {"sub/c.jpg", 31, 9, TJPF_GRAY, TJSAMP_GRAY, 0},
        {"sub/deeper/d.jpg", 64, 48, TJPF_RGB, TJSAMP_444, 0},
        {"sub/e.jpg", 8, 8, TJPF_RGB, TJSAMP_420, TJFLAG_PROGRESSIVE},
    };
    std::vector<std::string> names;
    uint32_t seed = 3;
    for (const Kind &k : kinds) {
        qrl_test::TjEncodeOptions o;
        o.width = k.width;
        o.height = k.height;
        o.pixel_format = k.format;
        o.subsampling = k.subsampling;
        o.flags = k.flags;
        o.seed = seed++;
        write_bytes(root / k.name, qrl_test::tj_encode(o));
        names.emplace_back(k.name);
    }
    write_bytes(root / "sub/broken.jpg", {0xFF, 0xD8, 0xFF, 0xC0, 0x00});
    write_bytes(root / "notes.txt", {'h', 'i'});
    return names;
}

std::string stem_path(const std::string &name, const char *extension) {
    return fs::path(name).replace_extension(extension).string();
}

TEST_F(CmdBatch, DecodeEqualsOneFileAtATime) {
    const fs::path in = dir() / "in";
    const std::vector<std::string> names = make_jpeg_tree(in);
    struct Case {
        const char *options; // given to both commands
        const char *format;
    };
    const Case cases[] = {{"", "png"}, {"--fast --scale 2", "ppm"}, {"--color gray", "pgm"}, {"--smooth", "bmp"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        const fs::path out = dir() / (std::string("out-") + c.format);
        const CliRun r = run_cli(dir(), "batch decode " + quote(in.string()) + " -o " + quote(out.string()) +
                                         " --jobs 3 --format " + c.format + " " + c.options);
        EXPECT_EQ(r.exit_code, 1) << "the broken file fails\n" << r.err;
        EXPECT_TRUE(has(r.out, "batch decode: 6 files, 5 written, 1 failed, 3 workers")) << r.out;
        const std::string broken = (in / "sub/broken.jpg").string();
        EXPECT_TRUE(has(r.err, broken + ": header read failed with error ")) << r.err;
        EXPECT_FALSE(fs::exists(out / "notes.png"));
        for (const std::string &name : names) {
            SCOPED_TRACE(name);
            const fs::path single = dir() / (std::string("single.") + c.format);
            const CliRun one = run_cli(dir(), "decode " + quote((in / name).string()) + " -o " + quote(single.string()) +
                                               " " + c.options);
            ASSERT_EQ(one.exit_code, 0) << one.err;
            const std::vector<uint8_t> expected = qrl_test::read_file_bytes(single.string());
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(qrl_test::read_file_bytes((out / stem_path(name, (std::string(".") + c.format).c_str())).string()),
                      expected);
        }
    }
}

// The stream without its DHT segments (decoded with the standard tables, as
// motion-JPEG frames are).
std::vector<uint8_t> without_huffman_tables(const std::vector<uint8_t> &s) {
    std::vector<uint8_t> out(s.begin(), s.begin() + 2);
    size_t i = 2;
    while (i + 4 <= s.size() && s[i] == 0xFF && s[i + 1] != 0xDA) {
        const size_t length = static_cast<size_t>(s[i + 2]) << 8 | s[i + 3];
        if (s[i + 1] != 0xC4) out.insert(out.end(), s.begin() + static_cast<long>(i), s.begin() + static_cast<long>(i + 2 + length));
        i += 2 + length;
    }
    out.insert(out.end(), s.begin() + static_cast<long>(i), s.end());
    return out;
}

TEST_F(CmdBatch, TablesOfOneFileDoNotReachTheNext) {
    // One worker decodes a progressive file (its own optimised tables), then
    // a file without Huffman tables: the second must come out as it does alone.
    const fs::path in = dir() / "in";
    qrl_test::TjEncodeOptions o;
    o.width = 48;
    o.height = 32;
    o.flags = TJFLAG_PROGRESSIVE;
    write_bytes(in / "1.jpg", qrl_test::tj_encode(o));
    o.flags = 0;
    o.seed = 5;
    const std::string second = write_bytes(in / "2.jpg", without_huffman_tables(qrl_test::tj_encode(o)));
    const fs::path out = dir() / "out";
    const CliRun r = run_cli(dir(), "batch decode " + quote(in.string()) + " -o " + quote(out.string()) + " --jobs 1");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const fs::path single = dir() / "single.png";
    ASSERT_EQ(run_cli(dir(), "decode " + quote(second) + " -o " + quote(single.string())).exit_code, 0);
    EXPECT_EQ(qrl_test::read_file_bytes((out / "2.png").string()), qrl_test::read_file_bytes(single.string()));
}

TEST_F(CmdBatch, EncodeEqualsOneFileAtATime) {
    const fs::path in = dir() / "in";
    // Source images in every format the encoder reads, written by the
    // program's own decoder from one JPEG file.
    qrl_test::TjEncodeOptions o;
    o.width = 37;
    o.height = 22;
    const std::string jpeg = write_bytes(dir() / "source.jpg", qrl_test::tj_encode(o));
    struct Source {
        const char *name;
        const char *decode_options;
    };
    const Source sources[] = {{"rgb.png", ""},
                              {"gray.pgm", "--color gray"},
                              {"rgb.ppm", ""},
                              {"sub/four.pam", "--color cmyk"},
                              {"sub/rgb.bmp", ""}};
    std::vector<std::string> names;
    for (const Source &src : sources) {
        fs::create_directories((in / src.name).parent_path());
        const CliRun made = run_cli(dir(), "decode " + quote(jpeg) + " -o " + quote((in / src.name).string()) + " " +
                                            src.decode_options);
        ASSERT_EQ(made.exit_code, 0) << made.err;
        names.emplace_back(src.name);
    }
    const char *const option_sets[] = {"", "--quality 90 --progressive", "--subsampling 444 --restart 2 --fast",
                                       "--gray"};
    for (const char *options : option_sets) {
        SCOPED_TRACE(options);
        const fs::path out = dir() / "out";
        fs::remove_all(out);
        const CliRun r = run_cli(dir(), "batch encode " + quote(in.string()) + " -o " + quote(out.string()) + " " + options);
        // Each file as `quorrel encode` alone writes it; a file it refuses
        // (a CMYK source asked for gray) fails in the batch too, with its name.
        size_t refused = 0;
        for (const std::string &name : names) {
            SCOPED_TRACE(name);
            const fs::path single = dir() / "single.jpg";
            fs::remove(single);
            const CliRun one = run_cli(dir(), "encode " + quote((in / name).string()) + " -o " + quote(single.string()) +
                                                  " " + options);
            const fs::path batch_file = out / stem_path(name, ".jpg");
            if (one.exit_code != 0) {
                ++refused;
                EXPECT_TRUE(has(r.err, (in / name).string() + ": encode failed with error ")) << r.err;
                continue;
            }
            const std::vector<uint8_t> expected = qrl_test::read_file_bytes(single.string());
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(qrl_test::read_file_bytes(batch_file.string()), expected);
        }
        EXPECT_EQ(r.exit_code, refused == 0 ? 0 : 1) << r.err;
        EXPECT_TRUE(has(r.out, "batch encode: 5 files, " + std::to_string(5 - refused) + " written, " +
                                   std::to_string(refused) + " failed"))
            << r.out;
        if (options[0] == '\0') {
            EXPECT_EQ(refused, 0u);
        }
    }
}

TEST_F(CmdBatch, OneWorkerPerCoreByDefault) {
    const fs::path in = dir() / "in";
    make_jpeg_tree(in);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned expected = std::min(cores, 6u);
    const CliRun r = run_cli(dir(), "batch decode " + quote(in.string()) + " -o " + quote((dir() / "out").string()));
    EXPECT_TRUE(has(r.out, std::to_string(expected) + " workers on " + std::to_string(cores) + " cores")) << r.out;
    // Not a terminal: no progress bar, one summary line.
    EXPECT_FALSE(has(r.err, "\r[")) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
}

TEST_F(CmdBatch, CommandLineErrors) {
    struct Case {
        const char *args;
        int exit_code;
    };
    const std::string missing = quote((dir() / "absent").string());
    const Case cases[] = {
        {"batch", 2},
        {"batch squash . -o x", 2},
        {"batch decode . ", 2},
        {"batch decode . -o x --jobs 0", 2},
        {"batch decode . -o x --format tiff", 2},
        {"batch encode . -o x --format png", 2},
        {"batch decode . -o x --color cmyk --format png", 2},
    };
    for (const Case &c : cases) EXPECT_EQ(run_cli(dir(), c.args).exit_code, c.exit_code) << c.args;
    const CliRun r = run_cli(dir(), "batch decode " + missing + " -o x");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has(r.err, "absent")) << r.err;
}

} // namespace
