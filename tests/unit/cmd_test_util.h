// Running the built `quorrel` program from the command-line tests: a work
// folder per test, the program's exit status, stdout and stderr.
#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/corpus.h"

namespace qrl_cmd_test {

namespace fs = std::filesystem;

inline const std::string &cli_path() {
    static const std::string path = std::string(QRL_BINARY_DIR) + "/tools/quorrel";
    return path;
}

// One folder per test (ctest runs the tests as parallel processes), emptied first.
inline fs::path work_dir(const char *suite) {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "common";
    const fs::path dir = fs::path(QRL_BINARY_DIR) / suite / test;
    static std::string cleared;
    if (cleared != dir.string()) {
        std::error_code ec;
        fs::remove_all(dir, ec);
        cleared = dir.string();
    }
    fs::create_directories(dir);
    return dir;
}

inline std::string write_bytes(const fs::path &path, const std::vector<uint8_t> &bytes) {
    fs::create_directories(path.parent_path());
    std::FILE *f = std::fopen(path.string().c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path.string();
}

inline std::string quote(const std::string &text) { return "'" + text + "'"; }

struct CliRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs `quorrel ARGS` in `dir`'s files out.txt / err.txt; `env` goes before the command.
inline CliRun run_cli(const fs::path &dir, const std::string &args, const std::string &env = "") {
    const std::string out = (dir / "out.txt").string(), err = (dir / "err.txt").string();
    const std::string cmd = env + " " + quote(cli_path()) + " " + args + " >" + quote(out) + " 2>" + quote(err);
    CliRun r;
    const int status = std::system(cmd.c_str());
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> o = qrl_test::read_file_bytes(out), e = qrl_test::read_file_bytes(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

inline bool has(const std::string &text, const std::string &fragment) {
    return text.find(fragment) != std::string::npos;
}

} // namespace qrl_cmd_test

// Skips a test when the program was not built.
#define QRL_REQUIRE_CLI()                                                                                  \
    do {                                                                                                   \
        if (!std::filesystem::exists(qrl_cmd_test::cli_path()))                                            \
            GTEST_SKIP() << "skipped: the quorrel program is not built (" << qrl_cmd_test::cli_path() << ")"; \
    } while (0)
