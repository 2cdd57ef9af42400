#!/usr/bin/env bash
# The spot port against a real DX-cluster client: tlf (Debian's contest logger) logs in to
# dahlo-decode as to a cluster node, headless in a private tmux server, and its band map must
# list every spotted call at its frequency.
#
#   cluster-client-test.sh DECODE SYNTH    DECODE is dahlo-decode, SYNTH dahlo-synth
#
# The skimmer reads the twelve-station test band from a pipe that stays open, so the server
# lives while tlf connects after the band was skimmed: a late client gets the spots of the
# stations heard in the last minutes at login. What tlf shows is checked against the band's
# own truth (dial + pitch of each station, from SYNTH), not only against our spot lines.
# Exit 0 pass, 1 fail, 77 skipped (no tlf or tmux here).
set -u

decode=${1:-}
synth=${2:-}
if [[ ! -x "$decode" || ! -x "$synth" ]]; then
    echo "usage: $0 DAHLO-DECODE DAHLO-SYNTH" >&2
    exit 2
fi
for tool in tlf tmux; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps.sh test installs it)"
        exit 77
    fi
done

readonly dial_khz=14000
readonly min_stations=10        # of the band's 12; the skimmer's own tests pin the rest
readonly freq_tolerance_khz=0.15  # a spot's one decimal plus the channel's AFC pull
readonly wait_s=20              # login, replay and tlf's screen refresh take about 3 s

tmp=$(mktemp -d /tmp/dahlo-cluster.XXXXXX)
socket="dahlo-cluster-$$"
decode_pid=""
cleanup() {
    tmux -L "$socket" kill-server 2>/dev/null
    exec 3>&- 2>/dev/null
    if [[ -n "$decode_pid" ]] && kill -0 "$decode_pid" 2>/dev/null; then
        kill "$decode_pid" 2>/dev/null
        wait "$decode_pid" 2>/dev/null
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

"$synth" "$tmp/band.raw" --band12 > "$tmp/truth.txt" || { echo "FAIL: dahlo-synth"; exit 1; }

mkfifo "$tmp/audio"
"$decode" --spots --spotter OK1XYZ-# --dial "$dial_khz" --spot-port 0 - \
    < "$tmp/audio" > "$tmp/spots.txt" 2> "$tmp/decode.err" &
decode_pid=$!
exec 3> "$tmp/audio"
cat "$tmp/band.raw" >&3

port=""
for _ in $(seq 100); do
    port=$(sed -n 's/.* port \([0-9]*\) (telnet)$/\1/p' "$tmp/decode.err")
    [[ -n "$port" ]] && break
    sleep 0.1
done
if [[ -z "$port" ]]; then
    echo "FAIL: dahlo-decode did not open its spot port"
    cat "$tmp/decode.err"
    exit 1
fi

# Rules "qso" (no contest), no radio (-r): tlf logs in with CLUSTERLOGIN and shows its band map.
cat > "$tmp/logcfg.dat" <<EOF
RULES=qso
CALL=OK1XYZ
TELNETHOST=127.0.0.1
TELNETPORT=$port
CLUSTERLOGIN=OK1XYZ
BANDMAP
EOF
export TERM=${TERM:-xterm}
[[ "$TERM" == dumb ]] && export TERM=xterm
# 3>&-: the tmux server outlives this line and must not hold the audio pipe open.
tmux -L "$socket" -f /dev/null new-session -d -x 100 -y 40 -c "$tmp" "tlf -r 2> tlf.err" 3>&-

# Each truth line: CALL PITCH_HZ START_S. A station counts as shown when a band-map row holds
# its call at dial + pitch.
shown() {
    awk -v dial="$dial_khz" -v tol="$freq_tolerance_khz" '
        FNR == NR { want[$1] = dial + $2 / 1000; next }
        $1 ~ /^[0-9]+\.[0-9]$/ && ($2 in want) {
            d = $1 - want[$2]; if (d < 0) d = -d
            if (d <= tol) seen[$2] = 1
        }
        END { n = 0; for (c in seen) n++; print n }' "$tmp/truth.txt" "$tmp/screen.txt"
}

count=0
for _ in $(seq $((wait_s * 2))); do
    tmux -L "$socket" capture-pane -p -t 0 > "$tmp/screen.txt" 2>/dev/null
    # tlf waits for a key after its start-up notes (a new log, for one).
    grep -q 'Press any key' "$tmp/screen.txt" && tmux -L "$socket" send-keys -t 0 Enter
    count=$(shown)
    [[ "$count" -ge "$min_stations" ]] && break
    sleep 0.5
done

# The end of its input ends dahlo-decode, which flushes its own spot lines.
exec 3>&-
wait "$decode_pid"
status=$?
decode_pid=""
if [[ "$status" -ne 0 || ! -s "$tmp/spots.txt" ]]; then
    echo "FAIL: dahlo-decode ended with status $status and $(wc -l < "$tmp/spots.txt") spot lines"
    cat "$tmp/decode.err"
    exit 1
fi

# Every spot we sent must be in tlf's band map, with the frequency we sent.
missing=""
while read -r _ _ _ freq call _; do
    grep -Eq "^ *${freq//./\\.} +${call}( |$)" "$tmp/screen.txt" || missing+=" $call@$freq"
done < "$tmp/spots.txt"

if [[ "$count" -lt "$min_stations" || -n "$missing" ]]; then
    echo "FAIL: tlf's band map shows $count of the band's stations at their frequency (want $min_stations);" \
         "spots missing from it:${missing:- none}"
    echo "--- tlf's screen"; cat "$tmp/screen.txt"
    echo "--- our spots"; cat "$tmp/spots.txt"
    echo "--- dahlo-decode"; cat "$tmp/decode.err"
    exit 1
fi
echo "tlf's band map shows $count stations at their frequency, every spot of $(wc -l < "$tmp/spots.txt") sent"
exit 0
