#!/bin/sh
# Turns benchmark TSV files (a header line, then label<TAB>quorrel_mps<TAB>
# libjpeg_turbo_mps) into an SVG bar chart and a markdown table each.
#
#   bench/chart.sh [-o OUT_DIR] [-t TITLE] FILE.tsv...
#
# For every FILE.tsv, writes OUT_DIR/FILE.svg (megapixels per second per
# image, quorrel beside libjpeg-turbo, one pair of bars per label) and
# OUT_DIR/FILE.md (the same figures with their ratio and the median ratio).
# OUT_DIR defaults to the folder of each TSV file. Plain POSIX sh and awk.
set -eu

out_dir=""
title=""
while [ $# -gt 0 ]; do
    case "$1" in
    -o) out_dir="$2"; shift 2 ;;
    -t) title="$2"; shift 2 ;;
    -h | --help)
        sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
        exit 0 ;;
    --) shift; break ;;
    -*) echo "chart.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: bench/chart.sh [-o OUT_DIR] [-t TITLE] FILE.tsv..." >&2; exit 2; }

for tsv in "$@"; do
    name="$(basename "$tsv" .tsv)"
    dir="${out_dir:-$(dirname "$tsv")}"
    mkdir -p "$dir"
    chart_title="${title:-$name}"
    awk -F '\t' -v title="$chart_title" -v svg="$dir/$name.svg" -v md="$dir/$name.md" '
    function esc(s) { gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); gsub(/>/, "\\&gt;", s); return s }
    function fmt(v) { return v == 0 ? "0" : sprintf(v >= 100 ? "%.0f" : (v >= 10 ? "%.1f" : "%.2f"), v) }
    NR == 1 { next }                       # the header line
    NF >= 3 && $2 ~ /^[0-9.eE+-]+$/ && $3 ~ /^[0-9.eE+-]+$/ {
        n++; label[n] = $1; ours[n] = $2 + 0; theirs[n] = $3 + 0
        if (ours[n] > top) top = ours[n]
        if (theirs[n] > top) top = theirs[n]
        if (length($1) > longest) longest = length($1)
    }
    END {
        if (n == 0) { print "chart.sh: no figures in " FILENAME > "/dev/stderr"; exit 1 }
        # Tick step 1, 2 or 5 times a power of ten, for 3 to 7 ticks; the axis
        # ends at the first tick past the largest figure.
        if (top <= 0) top = 1
        step = 1; while (step * 10 <= top) step *= 10; while (step > top) step /= 10
        if (top / step < 2) step /= 5
        else if (top / step < 5) step /= 2
        axis = step; while (axis < top) axis += step
        left = 14 + longest * 7; width = 560; bar = 11; gap = 12; head = 58
        rowh = 2 * bar + gap; height = head + n * rowh + 34
        total = left + width + 70
        printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"12\">\n", total, height, total, height > svg
        printf "<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n" > svg
        printf "<text x=\"%d\" y=\"20\" font-size=\"15\" font-weight=\"bold\">%s</text>\n", left, esc(title) > svg
        printf "<text x=\"%d\" y=\"38\" fill=\"#555555\">megapixels per second (longer is faster)</text>\n", left > svg
        printf "<rect x=\"%d\" y=\"28\" width=\"12\" height=\"10\" fill=\"#2b7bb9\"/><text x=\"%d\" y=\"37\">quorrel</text>\n", left + width - 190, left + width - 174 > svg
        printf "<rect x=\"%d\" y=\"28\" width=\"12\" height=\"10\" fill=\"#f29e38\"/><text x=\"%d\" y=\"37\">libjpeg-turbo</text>\n", left + width - 110, left + width - 94 > svg
        for (t = 0; t <= axis + step / 2; t += step) {
            x = left + t / axis * width
            printf "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#dddddd\"/>\n", x, head - 6, x, head + n * rowh > svg
            printf "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" fill=\"#555555\">%g</text>\n", x, head + n * rowh + 16, t > svg
        }
        for (i = 1; i <= n; i++) {
            y = head + (i - 1) * rowh
            printf "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%s</text>\n", left - 8, y + bar + 4, esc(label[i]) > svg
            w1 = ours[i] / axis * width; w2 = theirs[i] / axis * width
            printf "<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"#2b7bb9\"><title>quorrel %s MP/s</title></rect>\n", left, y, w1, bar, fmt(ours[i]) > svg
            printf "<text x=\"%.1f\" y=\"%d\" font-size=\"10\">%s</text>\n", left + w1 + 4, y + bar - 2, fmt(ours[i]) > svg
            printf "<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"#f29e38\"><title>libjpeg-turbo %s MP/s</title></rect>\n", left, y + bar, w2, bar, fmt(theirs[i]) > svg
            printf "<text x=\"%.1f\" y=\"%d\" font-size=\"10\">%s</text>\n", left + w2 + 4, y + 2 * bar - 2, fmt(theirs[i]) > svg
        }
        print "</svg>" > svg

        # The markdown table, with the ratio and its median.
        print "| image | quorrel MP/s | libjpeg-turbo MP/s | ratio |" > md
        print "|---|---:|---:|---:|" > md
        m = 0
        for (i = 1; i <= n; i++) {
            r = theirs[i] > 0 ? ours[i] / theirs[i] : 0
            if (theirs[i] > 0) ratio[++m] = r
            shown = "-"
            if (theirs[i] > 0) shown = sprintf("%.2f", r)
            printf "| %s | %s | %s | %s |\n", label[i], fmt(ours[i]), fmt(theirs[i]), shown > md
        }
        # Median ratio (insertion sort; the tables are short).
        for (i = 2; i <= m; i++) { v = ratio[i]; j = i - 1; while (j >= 1 && ratio[j] > v) { ratio[j + 1] = ratio[j]; j-- } ratio[j + 1] = v }
        if (m > 0) {
            med = (m % 2) ? ratio[(m + 1) / 2] : (ratio[m / 2] + ratio[m / 2 + 1]) / 2
            printf "\nMedian ratio (quorrel / libjpeg-turbo) over %d images: %.2f\n", m, med > md
        }
    }' "$tsv"
done
