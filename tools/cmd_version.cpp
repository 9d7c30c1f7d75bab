// quorrel version: the library's version record.
#include <cstdio>

#include "codec/codec.h"
#include "commands.h"

namespace {
const char *or_dash(const char *text) { return text != nullptr ? text : "-"; }
} // namespace

int cmd_version(int, char **) {
    const VERSION_INFO *v = codec_version();
    if (v == nullptr) {
        std::printf("quorrel %s (the library returned no version record)\n", QUORREL_VERSION_TEXT);
        return 0;
    }
    std::printf("name:             %s\n", or_dash(v->name));
    std::printf("version:          %s\n", or_dash(v->version));
    std::printf("number:           %d.%d.%d\n", v->major, v->minor, v->build);
    std::printf("internal version: %s\n", or_dash(v->internal_version));
    std::printf("build date:       %s\n", or_dash(v->build_date));
    std::printf("build tool:       %s\n", or_dash(v->build_tool));
    return 0;
}
