#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/ and runs each of them
# for SECONDS (default 20), two at a time, starting from the seed corpus in fuzz/corpus/.
# New inputs go to a scratch copy of the corpus, never into the repository; a crash, a leak,
# a sanitizer report or a time-out fails the run, and the input is kept under build-fuzz/crashes.
#   scripts/fuzz.sh [SECONDS] [TARGET...]      e.g. scripts/fuzz.sh 600 receiver ini
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(charset_file ini raw_iq receiver recording sigmf spot_login)

build=${DAHLO_FUZZ_BUILD:-build-fuzz}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DDAHLO_BUILD_FUZZ=ON -DDAHLO_SANITIZE=ON -DDAHLO_BUILD_APP=OFF -DDAHLO_BUILD_BENCH=OFF \
    >/dev/null
cmake --build "$build" -j2 --target fuzzers

work="$build/fuzz-work"
mkdir -p "$work" "$build/crashes"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0

run_one() {
    local t=$1
    local corpus="$work/corpus-$t"
    mkdir -p "$corpus"
    cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
    "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" "$corpus" \
        >"$work/$t.log" 2>&1
}

status=0
pids=()
names=()
for t in "${targets[@]}"; do
    run_one "$t" &
    pids+=($!)
    names+=("$t")
    if [ ${#pids[@]} -eq 2 ]; then
        for i in 0 1; do wait "${pids[$i]}" || { echo "fuzz_${names[$i]}: FAILED (see $work/${names[$i]}.log)"; status=1; }; done
        pids=()
        names=()
    fi
done
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || { echo "fuzz_${names[$i]}: FAILED (see $work/${names[$i]}.log)"; status=1; }
done

# One line per target: executions, coverage and features as libFuzzer reported them last.
for t in "${targets[@]}"; do
    log="$work/$t.log"
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
    runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)
    echo "fuzz_$t ${seconds}s: runs ${runs:-?} | ${done_line:-no final line}"
done
if [ $status -ne 0 ]; then
    grep -h -E 'ERROR|runtime error|SUMMARY|Test unit written' "$work"/*.log | head -n 20
fi
exit $status
