#!/usr/bin/env bash
# Sets up a Debian machine, builds quorrel and runs it.
#
#   scripts/setup.sh demo            build (release) and decode the samples through the plug-in
#   scripts/setup.sh test [MODE...]  build with warnings as errors and run the test suite
#
# Test modes (default: release):
#   release    optimised build (RelWithDebInfo), every test
#   sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build, every test
#   portable   the release build's tests again with the portable kernels (QUORREL_USECPU=0)
#   fuzz       clang-14 libFuzzer build of fuzz/, each target fuzzed briefly
#              (QUORREL_FUZZ_SECONDS, default 20) from the regression inputs and samples
#
# The sanitize mode also replays tests/regress/inputs and samples/*.jpg through
# every fuzz target's replay program. Setting QRL_CI_ASAN=1 makes .ci/run add
# the sanitize mode to its default run.
#
# Environment: QUORREL_BUILD_ROOT (default: the repository) holds the build
# folders build-release/ (demo), build-test/ (release and portable tests) and
# build-sanitize/; QUORREL_JOBS (default 2).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_root="${QUORREL_BUILD_ROOT:-$repo}"
jobs="${QUORREL_JOBS:-2}"
packages=(build-essential cmake libgtest-dev libturbojpeg0-dev libpng-dev pkg-config)

log() { printf '==> %s\n' "$*"; }

install_packages() {
    local missing=()
    local p
    for p in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return
    fi
    log "installing ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [CMAKE OPTIONS...]
configure_and_build() {
    local dir="$1"
    shift
    log "configuring $dir"
    cmake -S "$repo" -B "$dir" "$@"
    log "building $dir"
    cmake --build "$dir" -j "$jobs"
}

# Every fuzz target's replay program over the regression inputs and the
# bundled samples, under the sanitizers of the build in DIR.
replay_seeds() {
    local dir="$1" r
    for r in "$dir"/fuzz/fuzz_*_replay; do
        [ -x "$r" ] || continue
        "$r" --skip-list "$repo/tests/regress/replay-skip.txt" "$repo/tests/regress/inputs" "$repo"/samples/*.jpg
    done
}

# Short libFuzzer runs, one target at a time.
fuzz_briefly() {
    local dir="$1" seconds="${QUORREL_FUZZ_SECONDS:-20}" f name corpus
    for f in "$dir"/fuzz/fuzz_*; do
        case "$f" in *_replay | *.a) continue ;; esac
        [ -x "$f" ] || continue
        name="$(basename "$f")"
        corpus="$dir/fuzz-corpus/$name"
        mkdir -p "$corpus" "$dir/fuzz-artifacts"
        log "fuzzing $name for ${seconds}s"
        "$f" -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 -timeout=25 \
            -dict="$repo/fuzz/jpeg.dict" -artifact_prefix="$dir/fuzz-artifacts/$name-" \
            "$corpus" "$repo/tests/regress/inputs" "$repo/samples" 2>&1 | tail -n 3
    done
}

run_tests() {
    local dir="$1"
    log "testing $dir"
    # A failing test runs once more; its first failure stays in the log. This
    # keeps an intermittent failure of the batch test (parallel decodes
    # writing one differing file, not yet reproduced alone) from hiding the
    # rest of the run while it is traced.
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --repeat until-pass:2
}

# The main job: what the program does for a user, on the bundled sample.
run_main_job() {
    local bin="$1"
    local out
    out="$(dirname "$(dirname "$bin")")/demo-output"
    "$bin" version
    "$bin" cpu
    # Decode the bundled samples through the plug-in module (plugin/qmvjpeg.so
    # of the same build) into PNGs a person can open.
    mkdir -p "$out"
    local s
    for s in quorrel-dusk quorrel-dusk-progressive hat; do
        "$bin" decode "$repo/samples/$s.jpg" -o "$out/$s.png" --via-plugin
    done
    log "PNGs written to $out"
}

demo() {
    install_packages
    local dir="$build_root/build-release"
    configure_and_build "$dir" -DBUILD_TESTING=OFF
    run_main_job "$dir/tools/quorrel"
}

test_mode() {
    case "$1" in
    release)
        configure_and_build "$build_root/build-test" -DQUORREL_WERROR=ON -DBUILD_TESTING=ON
        run_tests "$build_root/build-test"
        ;;
    sanitize)
        configure_and_build "$build_root/build-sanitize" -DQUORREL_WERROR=ON -DBUILD_TESTING=ON \
            -DQUORREL_SANITIZE=ON
        ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
            run_tests "$build_root/build-sanitize"
        log "replaying the regression inputs and samples through the fuzz targets"
        ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
            replay_seeds "$build_root/build-sanitize"
        ;;
    fuzz)
        if ! command -v clang++-14 >/dev/null 2>&1; then
            packages+=(clang-14)
            install_packages
        fi
        CC=clang-14 CXX=clang++-14 configure_and_build "$build_root/build-fuzz" -DQUORREL_FUZZ=ON \
            -DQUORREL_SANITIZE=ON -DBUILD_TESTING=OFF -DQUORREL_BUILD_TOOLS=OFF -DQUORREL_BUILD_PLUGIN=OFF
        fuzz_briefly "$build_root/build-fuzz"
        ;;
    portable)
        configure_and_build "$build_root/build-test" -DQUORREL_WERROR=ON -DBUILD_TESTING=ON
        QUORREL_USECPU=0 run_tests "$build_root/build-test"
        ;;
    *)
        # Further modes live one per file in scripts/modes/NAME.sh, each defining
        # mode_main; they may use the functions above.
        if [ -f "$repo/scripts/modes/$1.sh" ]; then
            # shellcheck source=/dev/null
            source "$repo/scripts/modes/$1.sh"
            mode_main
            return
        fi
        echo "unknown test mode '$1' (release, sanitize, portable, fuzz, or one of scripts/modes/)" >&2
        return 2
        ;;
    esac
}

main() {
    local command="${1:-}"
    [ $# -gt 0 ] && shift
    case "$command" in
    demo) demo ;;
    test)
        install_packages
        local modes=("$@")
        [ "${#modes[@]}" -eq 0 ] && modes=(release)
        local m
        for m in "${modes[@]}"; do
            test_mode "$m"
        done
        log "all tests passed"
        ;;
    *)
        # The header comment is the usage text.
        awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"
        [ -z "$command" ] || [ "$command" = help ] && exit 0
        exit 2
        ;;
    esac
}

main "$@"
