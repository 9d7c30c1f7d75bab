// quorrel: command-line front end of the codec library.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *help;
    // Usage text printed for `quorrel NAME --help`; null when the command
    // prints its own (it then receives --help).
    const char *usage;
};

constexpr Command kCommands[] = {
    {"version", cmd_version, "print the library's version record",
     "usage: quorrel version\nPrints the library's version record: name, version, number, internal\n"
     "version, build date and build tool.\n"},
    {"cpu", cmd_cpu, "print the processor identification, class and kernel slots in use",
     "usage: quorrel cpu\nPrints the processor identification, the processor class (0-6), the\n"
     "QUORREL_USECPU override when set, the kernel set chosen and every kernel slot\n"
     "with the kernel that fills it.\n"},
    {"decode", cmd_decode, "decode a JPEG file to PNG, PPM, PGM, PAM or BMP", nullptr},
    {"encode", cmd_encode, "encode a PNG, PPM, PGM, PAM or BMP file as JPEG", nullptr},
    {"info", cmd_info, "print the header facts of JPEG files (--json: one object per line)",
     "usage: quorrel info [--json] FILE...\nPrints the frame type, size, components with their sampling and\n"
     "quantization tables, color, subsampling, restart interval, JFIF, Adobe and\n"
     "thumbnail facts and the comment of each file. --json prints one JSON object\n"
     "per file and line, with \"result\" and \"message\" for files that cannot be read.\n"
     "Exit status 1 when some file could not be read.\n"},
    {"thumbnail", cmd_thumbnail, "write the JFIF thumbnail of a JPEG file (PPM or PNG)",
     "usage: quorrel thumbnail FILE -o OUT.{ppm,png,pam,bmp}\nWrites the JFIF or JFXX thumbnail of FILE as RGB. "
     "Exit status 1 when the file\nhas none or cannot be read.\n"},
    {"coefficients", cmd_coefficients, "dump quantized coefficients to a plane file, or encode one back", nullptr},
    {"batch", cmd_batch, "decode or encode a whole folder on every core", nullptr},
};

void print_usage(std::FILE *out) {
    std::fprintf(out, "usage: quorrel <command> [arguments]\n       quorrel <command> --help\n\ncommands:\n");
    for (const Command &c : kCommands) {
        std::fprintf(out, "  %-13s %s\n", c.name, c.help);
    }
    std::fprintf(out, "  %-13s %s\n", "help", "show this list (help COMMAND: that command's usage)");
    std::fprintf(out, "\nexit status: 0 success, 1 a file could not be read, decoded, encoded or\n"
                      "written (the message names the file, the error code and its text),\n"
                      "2 the command line is wrong\n");
}

const Command *find_command(const char *name) {
    for (const Command &c : kCommands)
        if (std::strcmp(name, c.name) == 0) return &c;
    return nullptr;
}

bool is_help(const char *arg) { return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0; }

// `quorrel NAME --help`.
int print_command_help(const Command &c) {
    if (c.usage != nullptr) {
        std::fputs(c.usage, stdout);
        return 0;
    }
    char help[] = "--help";
    char *args[] = {const_cast<char *>(c.name), help, nullptr};
    return c.run(2, args);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        print_usage(stderr);
        return 2;
    }
    const char *name = argv[1];
    if (std::strcmp(name, "help") == 0 || is_help(name)) {
        if (argc > 2) {
            const Command *c = find_command(argv[2]);
            if (c != nullptr) return print_command_help(*c);
            std::fprintf(stderr, "quorrel: unknown command '%s'\n\n", argv[2]);
            print_usage(stderr);
            return 2;
        }
        print_usage(stdout);
        return 0;
    }
    const Command *c = find_command(name);
    if (c == nullptr) {
        std::fprintf(stderr, "quorrel: unknown command '%s'\n\n", name);
        print_usage(stderr);
        return 2;
    }
    if (c->usage != nullptr)
        for (int i = 2; i < argc; ++i)
            if (is_help(argv[i])) return print_command_help(*c);
    return c->run(argc - 1, argv + 1);
}
