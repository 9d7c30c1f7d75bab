// quorrel: command-line front end of the codec library.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *help;
};

constexpr Command kCommands[] = {
    {"version", cmd_version, "print the library's version record"},
    {"cpu", cmd_cpu, "print the processor identification, class and kernel slots in use"},
    {"decode", cmd_decode, "decode a JPEG file to PNG, PPM, PGM, PAM or BMP"},
    {"encode", cmd_encode, "encode a PNG, PPM or PGM file as JPEG"},
    {"info", cmd_info, "print the header facts of JPEG files (--json: one object per line)"},
    {"thumbnail", cmd_thumbnail, "write the JFIF thumbnail of a JPEG file (PPM or PNG)"},
};

void print_usage(std::FILE *out) {
    std::fprintf(out, "usage: quorrel <command> [arguments]\n\ncommands:\n");
    for (const Command &c : kCommands) {
        std::fprintf(out, "  %-10s %s\n", c.name, c.help);
    }
    std::fprintf(out, "  %-10s %s\n", "help", "show this list");
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        print_usage(stderr);
        return 2;
    }
    const char *name = argv[1];
    if (std::strcmp(name, "help") == 0 || std::strcmp(name, "--help") == 0 ||
        std::strcmp(name, "-h") == 0) {
        print_usage(stdout);
        return 0;
    }
    for (const Command &c : kCommands) {
        if (std::strcmp(name, c.name) == 0) {
            return c.run(argc - 1, argv + 1);
        }
    }
    std::fprintf(stderr, "quorrel: unknown command '%s'\n\n", name);
    print_usage(stderr);
    return 2;
}
