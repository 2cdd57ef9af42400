#!/usr/bin/env bash
# Records what dahlo-decode prints (text, --events, --skim, --spots, standard input, -v) on a fixed
# set of synthesized recordings and option sets, one file per run, into DIR. Run it before and
# after a change that must not change behaviour, then `diff -r BEFORE AFTER`.
#   scripts/golden-outputs.sh DIR [BUILD_DIR]
set -euo pipefail
out=${1:?usage: golden-outputs.sh DIR [BUILD_DIR]}
build=${2:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
decode=$(find "$build" -name dahlo-decode -type f -perm -u+x | head -1)
synth=$(find "$build" -name dahlo-synth -type f -perm -u+x | head -1)
[ -x "$decode" ] && [ -x "$synth" ] || { echo "build dahlo-decode and dahlo-synth first" >&2; exit 2; }
mkdir -p "$out"
audio=$(mktemp -d)
trap 'rm -rf "$audio"' EXIT

for kind in speed-step hand farnsworth long-gaps plain-800 weak noise-tail ident-pause; do
  for v in 0 1 2 3; do
    "$synth" "$audio/$kind-$v.wav" "$kind" --variant "$v" >/dev/null
    "$synth" "$audio/$kind-$v-noisy.wav" "$kind" --variant "$v" --noisy 1 >/dev/null
  done
done
"$synth" "$audio/qso-snr3.wav" "CQ CQ DE OH2RX OH2RX K = NAME IS TINA = TEAM MEET AT TEN AM" \
  --wpm 24 --pitch 750 --snr 3 --seed 7 --rate 44100 --channels 2
"$synth" "$audio/band7.wav" --band
"$synth" "$audio/band12.wav" --band12
cp "$here"/samples/*.flac "$here"/samples/*.ogg "$audio/"

run() {  # name, then the arguments of dahlo-decode
  local name=$1
  shift
  local rc=0
  "$decode" "$@" >"$out/$name.out" 2>"$out/$name.err" || rc=$?
  echo "$rc" >"$out/$name.rc"
}
for f in "$audio"/*.wav "$audio"/*.flac "$audio"/*.ogg; do
  b=$(basename "$f")
  case "$b" in band*) continue ;; esac
  run "$b.default" "$f"
  run "$b.events-v" --events -v "$f"
  run "$b.cold" --cold-start "$f"
done
for f in "$audio"/band7.wav "$audio"/band12.wav; do
  b=$(basename "$f")
  run "$b.skim" --skim "$f"
  run "$b.spots" --spots --dial 14020 --spotter N0CALL --start 2026-01-01T00:00:00Z "$f"
  run "$b.skim-events" --skim --events --start 2026-01-01T00:00:00Z "$f"
done
run "fixed.controls" --pitch 700 --threshold auto --burst 300 --width wide "$audio/plain-800-0.wav"
sox_raw() { "$synth" "$audio/$1.raw" "$2" --wpm 22 --pitch 650 --snr 6 --seed 3 >/dev/null; }
sox_raw stdin "VVV DE DAHLO TEST 73"
"$decode" - <"$audio/stdin.raw" >"$out/stdin.out" 2>"$out/stdin.err" || true
"$decode" --events - <"$audio/stdin.raw" >"$out/stdin-events.out" 2>"$out/stdin-events.err" || true
echo "recorded $(ls "$out" | wc -l) files in $out"
