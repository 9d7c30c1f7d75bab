// Every command of the `quorrel` program answers --help with its usage, and
// the command line's own mistakes end with exit status 2.
#include <string>

#include <gtest/gtest.h>

#include "cmd_test_util.h"

namespace {

using namespace qrl_cmd_test;

fs::path dir() { return work_dir("test_cmd_help"); }

constexpr const char *kCommands[] = {"version", "cpu",          "decode", "encode",
                                     "info",    "thumbnail",    "batch",  "coefficients"};

TEST(CmdHelp, EveryCommandPrintsItsUsage) {
    QRL_REQUIRE_CLI();
    for (const char *name : kCommands) {
        SCOPED_TRACE(name);
        const CliRun r = run_cli(dir(), std::string(name) + " --help");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out.rfind(std::string("usage: quorrel ") + name, 0), 0u) << r.out;
        const CliRun via_help = run_cli(dir(), std::string("help ") + name);
        EXPECT_EQ(via_help.exit_code, 0);
        EXPECT_EQ(via_help.out, r.out);
    }
    const CliRun list = run_cli(dir(), "help");
    EXPECT_EQ(list.exit_code, 0);
    for (const char *name : kCommands) EXPECT_TRUE(has(list.out, std::string("\n  ") + name + " ")) << name;
    EXPECT_TRUE(has(list.out, "exit status: 0 success, 1 ")) << list.out;
}

TEST(CmdHelp, CommandLineMistakesExitWithTwo) {
    QRL_REQUIRE_CLI();
    const char *const cases[] = {
        "",        "no-such-command", "help no-such-command", "decode", "decode x.jpg --scale 3 -o y.png",
        "encode",  "info",            "thumbnail",            "batch",  "coefficients",
    };
    for (const char *args : cases) EXPECT_EQ(run_cli(dir(), args).exit_code, 2) << "'" << args << "'";
}

} // namespace
