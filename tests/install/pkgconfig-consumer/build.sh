#!/usr/bin/env bash
# Builds the consumer against an installed quorrel through pkg-config only:
#   PKG_CONFIG_PATH=PREFIX/lib/pkgconfig tests/install/pkgconfig-consumer/build.sh OUT_DIR
# Writes OUT_DIR/consumer (shared library, run path set) and
# OUT_DIR/consumer_static (static archive, pkg-config --static).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$1"
cc="${CC:-cc}"
mkdir -p "$out"
libdir="$(pkg-config --variable=libdir quorrel)"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror -o "$out/consumer" "$here/../consumer.c" \
    $(pkg-config --cflags --libs quorrel) -Wl,-rpath,"$libdir"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror -o "$out/consumer_static" "$here/../consumer.c" \
    $(pkg-config --cflags quorrel) "$libdir/libquorrel.a" \
    $(pkg-config --libs-only-l --static quorrel | sed 's/-lquorrel\b//')
