#!/usr/bin/env bash
# Character error rate of dahlo-decode's default path on synthesized recordings: prints the tables
# and draws docs/accuracy.png (CER against SNR, the weak-signal curve of both decoders beside the
# kinds of signal). Takes about a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake --build "$build" --target dahlo-accuracy >/dev/null
mkdir -p docs
data=$(mktemp)
trap 'rm -f "$data" "$data.weak"' EXIT
"$build/tests/cli/dahlo-accuracy" "$data"
gnuplot <<PLOT
set terminal pngcairo size 1100,480 font "DejaVu Sans,10"
set output "docs/accuracy.png"
set multiplot layout 1,2 title "dahlo-decode, no options: character error rate against SNR"
set xlabel "SNR in 2500 Hz (dB)"
set ylabel "CER (edit distance / sent characters)"
set logscale y
set yrange [0.001:5]
set grid
set key top right
# A CER of 0 cannot be drawn on a log scale; it is shown at 0.001.
f(x) = x < 0.001 ? 0.001 : x
set title "weak signals: the default path (soft decoder) and --decoder hard"
# Solid: the default path; dashed: the hard decoder on the same recordings.
plot "$data.weak" using 1:(f(column(2))) with linespoints lw 2 lc 1 title columnhead(2), \
     "" using 1:(f(column(3))) with linespoints lw 2 lc 1 dt 2 title columnhead(3), \
     "" using 1:(f(column(4))) with linespoints lw 2 lc 2 title columnhead(4), \
     "" using 1:(f(column(5))) with linespoints lw 2 lc 2 dt 2 title columnhead(5)
set title "kinds of signal, default path"
plot for [k=2:6] "$data" using 1:(f(column(k))) with linespoints lw 2 title columnhead(k)
unset multiplot
PLOT
echo "wrote docs/accuracy.png"
