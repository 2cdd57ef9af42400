#!/usr/bin/env bash
# Character error rate of dahlo-decode's default path on synthesized recordings: prints the tables
# and draws docs/accuracy.png (CER against SNR). Takes a minute or two.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake --build "$build" --target dahlo-accuracy >/dev/null
mkdir -p docs
data=$(mktemp)
trap 'rm -f "$data"' EXIT
"$build/tests/cli/dahlo-accuracy" "$data"
gnuplot <<PLOT
set terminal pngcairo size 800,500 font "DejaVu Sans,10"
set output "docs/accuracy.png"
set title "dahlo-decode, no options: character error rate against SNR"
set xlabel "SNR in 2500 Hz (dB)"
set ylabel "CER (edit distance / sent characters)"
set logscale y
set yrange [0.001:5]
set grid
set key top right
# A CER of 0 cannot be drawn on a log scale; it is shown at 0.001.
f(x) = x < 0.001 ? 0.001 : x
plot for [k=2:6] "$data" using 1:(f(column(k))) with linespoints lw 2 title columnhead(k)
PLOT
echo "wrote docs/accuracy.png"
