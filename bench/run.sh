#!/usr/bin/env bash
# Runs the benchmarks that are built and writes their results:
#
#   bench/run.sh [--build DIR] [--reps N] [--out DIR] [--note TEXT]
#
# Every bench/bench_NAME.cpp that takes --tsv is run on its inputs and
# leaves OUT/NAME.tsv, OUT/NAME.md and OUT/NAME.svg (bench/chart.sh);
# OUT/README.md gathers the charts and tables with how they were taken (date,
# commit, processor, load). OUT defaults to bench/results.
#
# Inputs: the shared corpus when present (QUORREL_CORPUS, default
# ../shared/corpus beside the repository): decode and encode take the first
# five files (QUORREL_BENCH_FILES_PER_FOLDER) of its baseline/ and
# progressive/ folders and the samples; region and scaled take
# its large_photo/ folder (they pick the largest file). Without the corpus
# every benchmark runs on samples/. QUORREL_BENCH_INPUTS (space-separated)
# replaces the decode and encode inputs.
#
# Without --build, a release tree is configured and built in build-bench/
# (only the benchmark programs).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build=""
reps=5
out="$repo/bench/results"
note=""
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build="$2"; shift 2 ;;
    --reps) reps="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --note) note="$2"; shift 2 ;;
    -h | --help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench/run.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

names=()
for src in "$repo"/bench/bench_*.cpp; do
    [ -e "$src" ] || continue
    n="$(basename "$src" .cpp)"
    names+=("$n")
done
if [ -z "$build" ]; then
    build="$repo/build-bench"
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build" -j "${QUORREL_JOBS:-2}" --target "${names[@]}" >/dev/null
fi

corpus="${QUORREL_CORPUS:-$repo/../shared/corpus}"
samples=("$repo"/samples/*.jpg)
if [ -n "${QUORREL_BENCH_INPUTS:-}" ]; then
    read -r -a many <<<"$QUORREL_BENCH_INPUTS"
elif [ -d "$corpus/baseline" ]; then
    # A few files per folder keep the charts readable.
    per_folder="${QUORREL_BENCH_FILES_PER_FOLDER:-5}"
    many=()
    for d in "$corpus/baseline" "$corpus/progressive"; do
        while IFS= read -r f; do many+=("$f"); done < <(find "$d" -maxdepth 1 -iname '*.jp*g' | sort | head -n "$per_folder")
    done
    many+=("${samples[@]}")
else
    many=("${samples[@]}")
fi
if [ -d "$corpus/large_photo" ]; then large=("$corpus/large_photo"); else large=("$repo/samples"); fi

mkdir -p "$out"
load_before="$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo '?')"
ran=()
for n in "${names[@]}"; do
    bin="$build/bench/$n"
    short="${n#bench_}"
    if [ ! -x "$bin" ]; then
        echo "bench/run.sh: $n is not built, skipped" >&2
        continue
    fi
    if ! "$bin" --help 2>&1 | grep -q -- '--tsv'; then
        echo "bench/run.sh: $n does not take --tsv yet, skipped" >&2
        continue
    fi
    case "$short" in
    region | scaled) inputs=("${large[@]}") ;;
    *) inputs=("${many[@]}") ;;
    esac
    echo "==> $n (${reps} repetitions)" >&2
    "$bin" --reps "$reps" --tsv "$out/$short.tsv" "${inputs[@]}" >"$out/$short.log" 2>&1 || {
        echo "bench/run.sh: $n failed, see $out/$short.log" >&2
        continue
    }
    "$repo/bench/chart.sh" -o "$out" -t "$short: quorrel and libjpeg-turbo, megapixels per second" "$out/$short.tsv"
    ran+=("$short")
done
load_after="$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo '?')"

{
    echo "# Benchmark results"
    echo
    echo "Taken $(date -u '+%Y-%m-%d %H:%M UTC') at commit $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?')"
    echo "with \`bench/run.sh --reps $reps\`, on $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2 | sed 's/^ //' || echo 'an unknown processor')"
    echo "($(nproc 2>/dev/null || echo '?') cores; load average $load_before before, $load_after after)."
    echo "Each figure is the median of the repetitions; quorrel and libjpeg-turbo run in"
    echo "the same process on the same files, so both see the same machine load."
    [ -n "$note" ] && { echo; echo "$note"; }
    for s in "${ran[@]}"; do
        echo
        echo "## $s"
        echo
        echo "![$s]($s.svg)"
        echo
        cat "$out/$s.md"
    done
} >"$out/README.md"
echo "results in $out" >&2
