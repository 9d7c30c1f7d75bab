# Test mode "wine" (scripts/setup.sh test wine): the 32-bit Windows build,
# cross-compiled with MinGW-w64 (i686) and run under Wine.
#
#   1. installs the toolchain, Debian's GoogleTest sources and Wine (i386)
#   2. builds tests/windows (library, qmvjpeg.dll, quorrel.exe without PNG,
#      the plug-in host, the platform checks and the unit tests that need no
#      libjpeg-turbo) in build-wine/, and the Linux plug-in and program in
#      build-wine-linux/
#   3. checks the DLL's export table (three names at ordinals 101..103) and
#      that it needs no DLL beyond the system's
#   4. runs the Windows programs under Wine (ctest, WINEDEBUG=-all, a fresh
#      32-bit WINEPREFIX)
#   5. decodes the samples and the shared corpus (when present) through the
#      plug-in on both platforms and compares the listings line by line, with
#      USECPU set in Wine's registry to 0 and 3 (QUORREL_USECPU on Linux) and
#      without it; the platform checks and quorrel.exe cpu confirm the class
#      read each time; quorrel.exe decodes the samples to the same PPM files
#      as the Linux program, directly and through the plug-in
#
# Sourced by scripts/setup.sh, which provides log, $repo, $build_root and
# $jobs. Prints the time each step took.

wine_packages=(g++-mingw-w64-i686 mingw-w64-i686-dev googletest cmake pkg-config wine wine32:i386)
wine_registry_key='HKLM\Software\Corvane Corporation\Mirelle\Quorrel'

wine_install() {
    local missing=() p
    for p in "${wine_packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo[@]}" dpkg --add-architecture i386
    fi
    log "installing ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

wine_step_start() {
    wine_step_name="$1"
    wine_step_began=$SECONDS
    log "$1"
}

wine_step_end() {
    log "$wine_step_name: $((SECONDS - wine_step_began)) s"
}

# The export table must list exactly the three entry points, by name, at
# ordinals 101, 102, 103; the imports only system DLLs.
wine_check_exports() {
    local dll="$1" dump
    dump="$(i686-w64-mingw32-objdump -p "$dll")"
    printf '%s\n' "$dump" | sed -n '/^Export Address Table -- Ordinal Base/,/^$/p;/^\[Ordinal\/Name Pointer\] Table/,/^$/p'
    local want got
    want=$'qmv_get_type 101\nqmv_get_functionlist 102\nqmv_magicinfo 103'
    # "[   1] qmv_get_functionlist": the index into the address table, whose
    # first entry is the ordinal base.
    got="$(printf '%s\n' "$dump" | awk '
        /^Export Address Table -- Ordinal Base/ { base = $NF }
        /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
        names && /^$/ { names = 0 }
        names { gsub(/[][]/, " "); print $2, $1 + base }' | sort -k2n)"
    if [ "$got" != "$want" ]; then
        echo "export table of $dll is not as expected:" >&2
        printf '%s\n' "$got" >&2
        return 1
    fi
    local imports
    imports="$(printf '%s\n' "$dump" | awk '/DLL Name:/ { print tolower($3) }' | sort -u | tr '\n' ' ')"
    log "imports of $(basename "$dll"): $imports"
    if [ "$imports" != "kernel32.dll msvcrt.dll " ]; then
        echo "$dll imports more than the system DLLs: $imports" >&2
        return 1
    fi
}

# wine_compare CLASS FILE...: the plug-in listings of both platforms, with
# the class override set (CLASS 0..6) or not (CLASS "-").
wine_compare() {
    local class="$1" dir="$build_root/build-wine"
    shift
    local out="$dir/listings/class-$class"
    mkdir -p "$out"
    if [ "$class" = - ]; then
        wine reg delete "$wine_registry_key" /v USECPU /f >/dev/null 2>&1 || true
        wine "$dir/platform_check.exe" "$repo/samples/quorrel-dusk.jpg" --expect-override -1 \
            >"$out/platform_check.txt" || { cat "$out/platform_check.txt"; return 1; }
        env -u QUORREL_USECPU "$build_root/build-wine-linux/qmv_host_check" \
            "$build_root/build-wine-linux/plugin/qmvjpeg.so" "$@" >"$out/linux.txt"
    else
        wine reg add "$wine_registry_key" /v USECPU /t REG_DWORD /d "$class" /f >/dev/null
        wine "$dir/platform_check.exe" "$repo/samples/quorrel-dusk.jpg" --expect-override "$class" \
            --expect-class "$class" >"$out/platform_check.txt" || { cat "$out/platform_check.txt"; return 1; }
        QUORREL_USECPU="$class" "$build_root/build-wine-linux/qmv_host_check" \
            "$build_root/build-wine-linux/plugin/qmvjpeg.so" "$@" >"$out/linux.txt"
    fi
    grep -E 'USECPU|class' "$out/platform_check.txt"
    # quorrel.exe cpu reports the same override and class (its console
    # output ends lines with CR LF).
    wine "$dir/quorrel/tools/quorrel.exe" cpu | tr -d '\r' >"$out/cpu.txt"
    if [ "$class" != - ] && ! { grep -q "^override: *USECPU = $class\$" "$out/cpu.txt" &&
        grep -q "^class: *$class\$" "$out/cpu.txt"; }; then
        echo "quorrel.exe cpu does not report USECPU $class:" >&2
        cat "$out/cpu.txt" >&2
        return 1
    fi
    # The host's own exit status reports interface faults; files past the
    # plug-in's 2 GiB size limit are listed as refused on both sides.
    wine "$dir/qmv_host_check.exe" "$dir/quorrel/plugin/qmvjpeg.dll" "$@" >"$out/windows.txt"
    if ! diff -u "$out/linux.txt" "$out/windows.txt" >"$out/diff.txt"; then
        echo "USECPU $class: the Windows plug-in's listing differs from the Linux one:" >&2
        head -n 40 "$out/diff.txt" >&2
        return 1
    fi
    log "USECPU $class: $# files ($(grep -c ' decode=0 ' "$out/windows.txt") decoded, the rest refused" \
        "as on Linux), listings equal"
}

# quorrel.exe and the Linux quorrel decode the samples to the same PPM
# files, directly and through the plug-in.
wine_compare_cli() {
    local out="$build_root/build-wine/listings/cli" f name via
    mkdir -p "$out"
    for f in "$repo"/samples/*.jpg; do
        name="$(basename "$f" .jpg)"
        for via in "" --via-plugin; do
            wine "$build_root/build-wine/quorrel/tools/quorrel.exe" decode "$f" -o "$out/$name$via.windows.ppm" $via
            "$build_root/build-wine-linux/tools/quorrel" decode "$f" -o "$out/$name$via.linux.ppm" $via
            cmp "$out/$name$via.linux.ppm" "$out/$name$via.windows.ppm"
        done
    done
    log "quorrel.exe and quorrel decode the samples to the same files"
}

mode_main() {
    local began=$SECONDS dir="$build_root/build-wine" linux_dir="$build_root/build-wine-linux"

    wine_step_start "installing the MinGW-w64 toolchain and Wine"
    wine_install
    wine_step_end

    wine_step_start "cross-building tests/windows in $dir"
    cmake -S "$repo/tests/windows" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-i686.cmake" \
        -DQUORREL_WERROR=ON -DQUORREL_BUILD_TOOLS=ON
    cmake --build "$dir" -j "$jobs"
    wine_step_end

    wine_step_start "building the Linux plug-in and host in $linux_dir"
    cmake -S "$repo" -B "$linux_dir" -DQUORREL_WERROR=ON -DBUILD_TESTING=OFF -DQUORREL_BUILD_TOOLS=ON
    cmake --build "$linux_dir" -j "$jobs" --target qmvjpeg quorrel-cli
    cc -std=c99 -O2 -Wall -Wextra -Werror -I"$repo" "$repo/tests/windows/qmv_host_check.c" -ldl \
        -o "$linux_dir/qmv_host_check"
    wine_step_end

    wine_step_start "export table of qmvjpeg.dll"
    wine_check_exports "$dir/quorrel/plugin/qmvjpeg.dll"
    wine_step_end

    wine_step_start "a fresh 32-bit Wine prefix"
    export WINEDEBUG=-all WINEARCH=win32 WINEPREFIX="$dir/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="
    rm -rf "$WINEPREFIX"
    wineboot --init
    wineserver -w
    wine_step_end

    wine_step_start "the Windows programs under Wine"
    wine reg delete "$wine_registry_key" /v USECPU /f >/dev/null 2>&1 || true
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
    wine_step_end

    wine_step_start "plug-in listings, Windows against Linux"
    local files=() corpus="${QRL_CORPUS:-$repo/../shared/corpus}" f
    for f in "$repo"/samples/*.jpg; do files+=("$f"); done
    if [ -d "$corpus" ]; then
        while IFS= read -r f; do files+=("$f"); done < <(find "$corpus" -name '*.jpg' | LC_ALL=C sort)
    else
        log "no corpus at $corpus: the samples only"
    fi
    # The platform checks write their work files into the current folder.
    pushd "$dir" >/dev/null
    local class
    for class in 0 3 -; do
        wine_compare "$class" "${files[@]}"
    done
    wine reg delete "$wine_registry_key" /v USECPU /f >/dev/null 2>&1 || true
    wine_compare_cli
    popd >/dev/null
    wine_step_end

    wineserver -k || true
    log "wine mode: $((SECONDS - began)) s in all"
}
