# Test mode "m32": the library, the plug-in module, the program and the tests
# built for 32-bit x86 (-m32, Debian's g++-multilib and the i386 development
# packages of the test dependencies), then the whole suite run natively.
# There the plug-in's host service block is eight 4-byte entries (32 bytes;
# asserted in plugin/qmv_host.h).
# Sourced by scripts/setup.sh (mode_main; $repo, $build_root, $jobs).

m32_packages=(g++-multilib libgtest-dev:i386 libturbojpeg0-dev:i386 libjpeg62-turbo-dev:i386 libpng-dev:i386)

m32_install_packages() {
    local missing=() p
    for p in "${m32_packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    [ "${#missing[@]}" -eq 0 ] && return
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        log "adding the i386 architecture"
        "${sudo[@]}" dpkg --add-architecture i386
    fi
    log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

mode_main() {
    m32_install_packages
    local dir="$build_root/build-m32"
    configure_and_build "$dir" -DQUORREL_WERROR=ON -DBUILD_TESTING=ON \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/m32.cmake"
    # The ELF class byte (offset 4) is 1 for 32-bit programs.
    local f
    for f in "$dir/tools/quorrel" "$dir/plugin/qmvjpeg.so" "$dir/libquorrel.so"; do
        if [ "$(od -An -tx1 -j4 -N1 "$f" | tr -d ' ')" != "01" ]; then
            echo "m32: $f is not a 32-bit program" >&2
            return 1
        fi
    done
    run_tests "$dir"
}
