# Test mode "install": builds a release tree, installs it into a temporary
# prefix and builds two C consumers from the installed tree only, one through
# the CMake package and one through pkg-config; runs both on samples/ and
# checks they print the same lines. Also runs the installed program through
# the installed plug-in module.
# Sourced by scripts/setup.sh (mode_main; $repo, $build_root, $jobs).

install_check_file() {
    if [ ! -e "$1" ]; then
        echo "install: missing $1" >&2
        return 1
    fi
}

mode_main() {
    local dir="$build_root/build-install"
    configure_and_build "$dir" -DQUORREL_WERROR=ON -DBUILD_TESTING=OFF -DCMAKE_INSTALL_LIBDIR=lib
    local work
    work="$(mktemp -d "${TMPDIR:-/tmp}/quorrel-install.XXXXXX")"
    local prefix="$work/prefix"
    log "installing into $prefix"
    cmake --install "$dir" --prefix "$prefix" >"$work/install.log"

    local f
    for f in include/quorrel/codec.h include/quorrel/qmv_host.h lib/libquorrel.a lib/libquorrel.so \
        bin/quorrel lib/quorrel/qmvjpeg.so lib/cmake/quorrel/quorrelConfig.cmake \
        lib/cmake/quorrel/quorrelConfigVersion.cmake lib/cmake/quorrel/quorrelTargets.cmake \
        lib/pkgconfig/quorrel.pc; do
        install_check_file "$prefix/$f"
    done

    # The consumers see the installed tree and nothing of the repository:
    # their sources are copied out, and no build folder is on their paths.
    cp -r "$repo/tests/install" "$work/src"

    log "building the CMake consumer"
    cmake -S "$work/src/cmake-consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_BUILD_TYPE=Release >"$work/cmake-consumer.log"
    cmake --build "$work/cmake-build" -j "$jobs" >>"$work/cmake-consumer.log"

    log "building the pkg-config consumer"
    PKG_CONFIG_PATH="$prefix/lib/pkgconfig" "$work/src/pkgconfig-consumer/build.sh" "$work/pc-build"

    log "running the consumers on samples/"
    local samples=("$repo"/samples/*.jpg)
    local p
    for p in "$work/cmake-build/consumer" "$work/cmake-build/consumer_static" "$work/pc-build/consumer" \
        "$work/pc-build/consumer_static"; do
        "$p" "${samples[@]}" >"$p.out"
    done
    cat "$work/cmake-build/consumer.out"
    for p in "$work/cmake-build/consumer_static" "$work/pc-build/consumer" "$work/pc-build/consumer_static"; do
        if ! cmp -s "$work/cmake-build/consumer.out" "$p.out"; then
            echo "install: $p printed other results than the CMake consumer" >&2
            diff "$work/cmake-build/consumer.out" "$p.out" >&2 || true
            return 1
        fi
    done
    # The shared consumers really use the installed shared library.
    local loaded
    loaded="$(ldd "$work/pc-build/consumer" | awk '/libquorrel/ { print $3 }')"
    if [ -z "$loaded" ] || [ "$(realpath "$loaded")" != "$(realpath "$prefix/lib/libquorrel.so")" ]; then
        echo "install: the pkg-config consumer does not load $prefix/lib/libquorrel.so" >&2
        return 1
    fi
    "$work/cmake-build/plugin_probe"

    log "running the installed program through the installed plug-in module"
    "$prefix/bin/quorrel" decode "$repo/samples/quorrel-dusk.jpg" -o "$work/dusk.png" --via-plugin
    "$prefix/bin/quorrel" info --json "${samples[@]}" >/dev/null

    rm -rf "$work"
    log "install: consumers built and ran from the installed tree"
}
