#!/usr/bin/env bash
# The soak run: HOURS of hostile audio (default 24) through the receiver loop in the release
# build, then one hour in the sanitizer build, where any integer overflow or memory fault stops it.
#   scripts/soak.sh [HOURS] [SANITIZE_HOURS]
set -euo pipefail
cd "$(dirname "$0")/.."
hours=${1:-24}
san_hours=${2:-1}

cmake --preset release >/dev/null
cmake --build --preset release --target dahlo-soak
echo "== release build, $hours h of audio"
/usr/bin/time -v build/tests/soak/dahlo-soak --hours "$hours" --seed 1 2> >(grep -E "h of audio|Maximum resident|Elapsed" >&2)

if [ "$san_hours" != "0" ]; then
    cmake --preset sanitize >/dev/null
    cmake --build --preset sanitize --target dahlo-soak
    echo "== sanitizer build, $san_hours h of audio"
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-suppressions.txt \
        build-sanitize/tests/soak/dahlo-soak --hours "$san_hours" --seed 2
fi
