#!/usr/bin/env bash
# Draws ns per pixel against window size from bench_windows' CSV output
# (--benchmark_out_format=csv): our single and double medians, OpenCV's
# uint8 medianBlur at every size and its float one where it has one.
# Usage: plot_windows.sh RESULTS.csv OUT.png
set -euo pipefail
csv=$1 png=$2
data=$(mktemp)
trap 'rm -f "$data"' EXIT

# name,...,"ns/px" is the last column; one row per window side k.
awk -F, '$1 ~ /^"[a-z0-9]+_[a-z0-9]+_median_[0-9]+x[0-9]+\// {
    name = $1; gsub(/"/, "", name); sub(/\/.*/, "", name)
    split(name, part, "_"); split(part[4], size, "x")
    if (size[1] != size[2]) next
    k = size[1]; value[k, part[1] "_" part[2]] = $NF; sides[k] = 1
}
END {
    for (k in sides) order[++n] = k + 0
    for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j)
        if (order[j] < order[i]) { t = order[i]; order[i] = order[j]; order[j] = t }
    for (i = 1; i <= n; ++i) {
        k = order[i]; line = k
        split("ours_f32 ours_f64 opencv_u8 opencv_f32", column, " ")
        for (w = 1; w <= 4; ++w) line = line " " (((k, column[w]) in value) ? value[k, column[w]] : "NaN")
        print line
    }
}' "$csv" > "$data"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
family=$(sed -n 's/^cpu family[[:space:]]*: //p' /proc/cpuinfo | head -n1)
model=$(sed -n 's/^model[[:space:]]*: //p' /proc/cpuinfo | head -n1)
gnuplot <<PLOT
set terminal pngcairo size 900,560 noenhanced font "sans,11"
set output "$png"
set title "Median filter, 512x512 image, one thread: ${cpu:-unknown CPU}, family ${family:-?}, model ${model:-?}"
set xlabel "window side k (k x k window)"
set ylabel "ns per pixel (fastest call, log scale)"
set logscale y
set grid ytics mytics xtics
set key top left
set xtics (3, 5, 7, 9, 15, 21, 31)
plot "$data" using 1:2 with linespoints lw 2 pt 7 title "function_Varnets, single", \
     "$data" using 1:3 with linespoints lw 2 pt 5 title "function_Varnets, double", \
     "$data" using 1:4 with linespoints lw 2 pt 9 title "OpenCV 4.6 medianBlur, uint8", \
     "$data" using 1:5 with linespoints lw 2 pt 11 title "OpenCV 4.6 medianBlur, float"
PLOT
echo "wrote $png"
