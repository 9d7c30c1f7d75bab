// The library's version record, quoted by the default comment.
#include "codec/codec.h"

namespace {
constexpr VERSION_INFO kVersion = {
    1, 51, 12, "qrl15l.lib", "1.51.12", "[1.51.12.44]", "May 30 2001", "Microsoft*",
};
} // namespace

extern "C" const VERSION_INFO *codec_version(void) { return &kVersion; }
