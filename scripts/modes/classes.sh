# Test mode "classes": the release build's whole test suite once per
# processor class, QUORREL_USECPU 0 (portable kernels) and 3, 4, 5, 6 (SIMD
# sets A to D), so that every kernel set runs the decode, conformance and
# regression tests. Each run first prints the class and kernel set the
# library chose, from `quorrel cpu`. The SIMD sets need an x86 processor with
# SSE2; elsewhere their runs are reported as skipped.
# Sourced by scripts/setup.sh (mode_main; $repo, $build_root, $jobs).

classes_simd_runs_here() {
    case "$(uname -m)" in
    x86_64 | amd64 | i?86) grep -qw sse2 /proc/cpuinfo 2>/dev/null ;;
    *) return 1 ;;
    esac
}

mode_main() {
    local dir="$build_root/build-test"
    configure_and_build "$dir" -DQUORREL_WERROR=ON -DBUILD_TESTING=ON
    local c chosen start
    for c in 0 3 4 5 6; do
        if [ "$c" -ne 0 ] && ! classes_simd_runs_here; then
            log "class $c: skipped (SIMD set needs an x86 processor with SSE2)"
            continue
        fi
        if [ -x "$dir/tools/quorrel" ]; then
            chosen="$(QUORREL_USECPU=$c "$dir/tools/quorrel" cpu | awk -F': *' '/^class:|^kernel set:/ { printf "%s%s", sep, $2; sep = ", " }')"
            log "class $c: the library chose class ${chosen}"
        fi
        start=$SECONDS
        QUORREL_USECPU=$c run_tests "$dir"
        log "class $c: passed in $((SECONDS - start)) s"
    done
}
