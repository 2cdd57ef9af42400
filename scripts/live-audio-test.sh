#!/usr/bin/env bash
# Live capture through a real sound server.
#   live-audio-test.sh live PROGRAM       starts a private PulseAudio with a null sink, plays a Morse
#                                         recording into it and lets PROGRAM decode it from the
#                                         sink's monitor (ALSA default -> pulse -> PortAudio)
#   live-audio-test.sh overrun PROGRAM   the same server; PROGRAM stalls its loop past the
#                                         buffers' slack and must count the lost audio and go on
#   live-audio-test.sh no-server PROGRAM  PROGRAM with no sound server at all: it must report that
#                                         and end, not hang
#   live-audio-test.sh decode PROGRAM WRITER
#                                         the same server; PROGRAM is dahlo-decode --live, stopped
#                                         by Ctrl-C (SIGINT) after the recording, which must print
#                                         the played text
#   live-audio-test.sh skim PROGRAM SYNTH
#                                         the same server; PROGRAM is dahlo-decode --spots --live
#                                         on the skimmer's test band from SYNTH (dahlo-synth),
#                                         which must spot every station's call once
#   live-audio-test.sh iq PROGRAM IQSYNTH
#                                         the same server with a stereo 48 kHz null sink; PROGRAM
#                                         is dahlo-decode --live-iq on a band from IQSYNTH
#                                         (dahlo-iq-synth) played into it as I left, Q right,
#                                         which must decode every station's call
#   live-audio-test.sh band PROGRAM SYNTH
#                                         the same server; SYNTH (dahlo-synth) writes the skimmer's
#                                         twelve-station band, PROGRAM (live_window_main) opens the band
#                                         view, which must list every station's call; a
#                                         double-click must retune the receiver (DAHLO_BAND_SHOT:
#                                         save the band view there)
#   live-audio-test.sh band-tune PROGRAM SYNTH
#                                         the band mode's server and band, played in a loop;
#                                         PROGRAM (live_window_main tune) checks that a row stays
#                                         on its station and tunes ten stations from their rows,
#                                         each of which the main receiver must copy (a measurement,
#                                         not a CTest test: about three minutes)
#   live-audio-test.sh window PROGRAM WRITER
#                                         the same server; WRITER (live_capture_main) writes the
#                                         recording, PROGRAM (live_window_main) is the whole
#                                         window, under Xvfb when there is one, which must show
#                                         the played text
#   live-audio-test.sh server-faults PROGRAM BACKEND
#                                         the same server; PROGRAM (live_capture_main) records
#                                         through BACKEND (pulse or portaudio) while the server is
#                                         stalled (stopping must take under 2 s); in a second run
#                                         it is killed and started again (recording must go on),
#                                         then killed for good (the loop must hear of it in 8-12 s)
#   live-audio-test.sh decode-lost PROGRAM
#                                         the same server; PROGRAM is dahlo-decode --live, and the
#                                         server is killed for good: one line on stderr, non-zero
#                                         exit, within 12 s
# Exit 0 pass, 1 fail, 77 skipped (no server can start here).
set -u

mode=${1:-}
program=${2:-}
if [[ -z "$mode" || ! -x "$program" ]]; then
    echo "usage: $0 live|overrun|no-server|decode|window|server-faults|decode-lost PROGRAM [...]" >&2
    exit 2
fi

tmp=$(mktemp -d /tmp/dahlo-live.XXXXXX)
server_pid=""
client_pid=""
cleanup() {
    if [[ -n "$client_pid" ]] && kill -0 "$client_pid" 2>/dev/null; then
        kill -9 "$client_pid" 2>/dev/null
        wait "$client_pid" 2>/dev/null
    fi
    if [[ -n "$server_pid" ]] && kill -0 "$server_pid" 2>/dev/null; then
        kill -CONT "$server_pid" 2>/dev/null
        kill "$server_pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

# Everything the server and its clients look at lives in the temporary directory, so a user's own
# server is never touched and nothing is left behind.
export HOME="$tmp/home"
export XDG_RUNTIME_DIR="$tmp/run"
export XDG_CONFIG_HOME="$tmp/home/.config"
export PULSE_RUNTIME_PATH="$tmp/run/pulse"
export PULSE_STATE_PATH="$tmp/state"
export PULSE_SERVER="unix:$tmp/pulse.socket"
export PULSE_CLIENTCONFIG="$tmp/client.conf"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
chmod 700 "$XDG_RUNTIME_DIR" "$PULSE_RUNTIME_PATH"
echo "autospawn = no" > "$PULSE_CLIENTCONFIG"
# ALSA's default device is the sound server.
cat > "$HOME/.asoundrc" <<'ASOUND'
pcm.!default { type pulse }
ctl.!default { type pulse }
ASOUND

# Stops a dahlo-decode --live with Ctrl-C (SIGINT), as a user would; its exit status, or 1 with
# a FAIL line when it does not stop within 10 s.
stop_with_ctrl_c() {
    local pid=$1
    kill -INT "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid"
        echo "FAIL: dahlo-decode did not stop on Ctrl-C"
        exit 1
    fi
    wait "$pid"
}

# Starts PROGRAM ARGS... (the whole window) under Xvfb when there is one, SCREEN its size, and
# waits until it says "window up"; sets window_pid. A display server that fails to come up (a
# stale lock of an earlier one) gets one more try; a window that came up and then failed does not.
start_window() {
    local screen=$1
    shift
    local run=("$@")
    if command -v xvfb-run > /dev/null && command -v xauth > /dev/null; then
        run=(xvfb-run -a -s "-screen 0 ${screen}x24" "$@")
    else
        export QT_QPA_PLATFORM=offscreen
    fi
    for attempt in 1 2; do
        timeout "${window_limit:-150}" "${run[@]}" > "$tmp/out.txt" 2>&1 &
        window_pid=$!
        for _ in $(seq 300); do
            grep -q "window up" "$tmp/out.txt" 2>/dev/null && break
            kill -0 "$window_pid" 2>/dev/null || break
            sleep 0.1
        done
        grep -q "window up" "$tmp/out.txt" 2>/dev/null && return
        wait "$window_pid"
        echo "the window did not come up (attempt $attempt):"
        cat "$tmp/out.txt"
        sleep 1
    done
}

# Plays $tmp/band.raw into the test sink TIMES times (0: until the window ends) while the
# window runs; sets rc to the window's exit status and stops the playing.
play_band_while_window() {
    local times=$1
    ( played=0
      while (( times == 0 || played < times )); do
        paplay --raw --format=s16le --rate=11025 --channels=1 --device=dahlo_test "$tmp/band.raw"
        played=$((played + 1))
      done ) &
    play_pid=$!
    wait "$window_pid"
    rc=$?
    kill "$play_pid" 2>/dev/null
    pkill -P "$play_pid" paplay 2>/dev/null
    wait "$play_pid" 2>/dev/null
}

# The window's result, from its exit status.
window_verdict() {
    local rc=$1 pass=$2
    cat "$tmp/out.txt"
    case $rc in
        0) echo "PASS: $pass" ;;
        124) echo "FAIL: the window did not finish in time" ;;
        *) echo "FAIL: window exit $rc"; tail -n 20 "$tmp/pulse.log" 2>/dev/null ;;
    esac
    [[ $rc -eq 0 ]] && exit 0 || exit 1
}

if [[ "$mode" == "no-server" ]]; then
    timeout 60 "$program" capture 5 "PARIS" > "$tmp/out.txt" 2>&1
    rc=$?
    cat "$tmp/out.txt"
    if [[ $rc -eq 124 ]]; then
        echo "FAIL: the program hung without a sound server"
        exit 1
    fi
    if [[ $rc -eq 3 ]] && grep -qE "No sound input device|Device Open Error" "$tmp/out.txt"; then
        echo "PASS: no sound server: reported and ended (exit $rc)"
        exit 0
    fi
    echo "FAIL: expected \"No sound input device\" or an open error, got exit $rc"
    exit 1
fi

for tool in pulseaudio pactl paplay; do
    if ! command -v "$tool" > /dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
        exit 77
    fi
done

start_server() {
    pulseaudio --daemonize=no --system=false -n --exit-idle-time=-1 --disallow-exit \
        --use-pid-file=no --disable-shm=yes --log-target=file:"$tmp/pulse.log" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$tmp/pulse.socket" \
        --load="module-null-sink sink_name=dahlo_test" > /dev/null 2>&1 &
    server_pid=$!
    local up=""
    for _ in $(seq 100); do
        if pactl info > /dev/null 2>&1; then up=1; break; fi
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    [[ -n "$up" ]] || return 1
    pactl set-default-sink dahlo_test
    pactl set-default-source dahlo_test.monitor
}

# Kills the server as a crash would, and reaps it.
kill_server() {
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
}

now() { date +%s.%N; }
# The number of blocks PROGRAM's watch took after wall-clock time $2, from its output $1.
blocks_after() { awk -v t="$2" '$1 == "block" && $4 > t { n++ } END { print n + 0 }' "$1"; }
# Waits up to $1 seconds for the command after it to succeed.
wait_until() {
    local limit=$(( $1 * 10 )); shift
    for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
    "$@"
}
has_blocks() { (( $(blocks_after "$1" "$2") >= $3 )); }
ended() { ! kill -0 "$1" 2>/dev/null; }
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

if ! start_server; then
    echo "SKIP: no PulseAudio server could start here:"
    tail -n 5 "$tmp/pulse.log" 2>/dev/null
    exit 77
fi

if [[ "$mode" == "server-faults" ]]; then
    backend=${3:-}
    fail() {
        echo "FAIL ($backend): $*"
        echo "--- watch output:"; grep -v '^block' "$tmp"/watch*.txt; tail -n 3 "$tmp"/watch*.txt
        cat "$tmp"/watch*.err
        exit 1
    }
    # Stalled: a stop must not wait for it.
    out=$tmp/watch1.txt
    "$program" watch "$backend" 100 > "$out" 2> "$tmp/watch1.err" &
    client_pid=$!
    wait_until 30 has_blocks "$out" 0 3 || fail "no audio from the server"
    kill -STOP "$server_pid"
    sleep 1
    interrupted=$(now)
    kill -INT "$client_pid"
    wait_until 4 ended "$client_pid"
    stopped=$(now)
    if ! ended "$client_pid"; then
        kill -CONT "$server_pid"
        fail "stopping with the server stalled did not end within 4 s"
    fi
    wait "$client_pid"
    rc=$?
    client_pid=""
    [[ $rc -eq 0 ]] || fail "exit $rc after stopping with the server stalled"
    stop_ms=$(awk '/^stopped in/ { print $3 }' "$out")
    echo "stop with the server stalled: ${stop_ms} ms (program ended $(seconds_between "$interrupted" "$stopped") s after Ctrl-C)"
    [[ -n "$stop_ms" ]] && (( stop_ms <= 2000 )) || fail "the stop took ${stop_ms:-?} ms"
    kill -CONT "$server_pid"
    kill_server

    # Killed and back two seconds later: the same capture goes on.
    start_server || fail "the server did not start again"
    out=$tmp/watch2.txt
    "$program" watch "$backend" 100 > "$out" 2> "$tmp/watch2.err" &
    client_pid=$!
    wait_until 30 has_blocks "$out" 0 3 || fail "no audio from the server"
    killed=$(now)
    kill_server
    sleep 2
    start_server || fail "the server did not start again"
    restarted=$(now)
    wait_until 15 has_blocks "$out" "$restarted" 5 || fail "recording did not go on after the server came back"
    first=$(awk -v t="$restarted" '$1 == "block" && $4 > t { print $4; exit }' "$out")
    echo "killed and restarted after 2 s: blocks again $(seconds_between "$killed" "$first") s after the kill"

    # Then killed for good: the loop hears of it once reopening has been tried for about 10 s.
    killed=$(now)
    kill_server
    wait_until 20 ended "$client_pid" || fail "the loop did not hear of the lost server within 20 s"
    wait "$client_pid"
    rc=$?
    client_pid=""
    reported=$(awk '/^fatal at/ { sub(":", "", $3); print $3 }' "$out")
    [[ $rc -eq 3 && -n "$reported" ]] || fail "exit $rc without a fatal error"
    grep -qE "Error in (Prepare Header|AddBuffer)" "$out" || fail "not the hand-back failure"
    after=$(seconds_between "$killed" "$reported")
    echo "killed for good: the loop reported the failure $after s after the kill"
    awk -v s="$after" 'BEGIN { exit !(s >= 8 && s <= 12) }' || fail "reported after $after s, not 8-12 s"
    cat "$tmp"/watch*.err
    echo "PASS ($backend): stops under a stalled server, records on after a restarted one, reports a lost one"
    exit 0
fi

if [[ "$mode" == "decode-lost" ]]; then
    "$program" --live > "$tmp/out.txt" 2> "$tmp/err.txt" &
    client_pid=$!
    sleep 3
    ended "$client_pid" && { cat "$tmp/err.txt"; echo "FAIL: dahlo-decode --live ended early"; exit 1; }
    killed=$(now)
    kill_server
    wait_until 20 ended "$client_pid"
    if ! ended "$client_pid"; then
        echo "FAIL: dahlo-decode --live still runs 20 s after the server was killed"
        exit 1
    fi
    wait "$client_pid"
    rc=$?
    client_pid=""
    after=$(seconds_between "$killed" "$(now)")
    echo "stderr:"; cat "$tmp/err.txt"
    lines=$(wc -l < "$tmp/err.txt")
    if [[ $rc -ne 0 && $lines -eq 1 ]] && grep -q "the sound input failed" "$tmp/err.txt"; then
        echo "PASS: dahlo-decode --live ended $after s after the kill, exit $rc, one line on stderr"
        exit 0
    fi
    echo "FAIL: exit $rc, $lines lines on stderr, $after s after the kill"
    exit 1
fi

if [[ "$mode" == "skim" ]]; then
    synth=${3:-}
    "$synth" "$tmp/band.raw" --band || { echo "FAIL: could not write the band"; exit 1; }
    "$program" --spots --live > "$tmp/out.txt" 2> "$tmp/err.txt" &
    decode_pid=$!
    sleep 1
    timeout 90 paplay --raw --format=s16le --rate=11025 --channels=1 --device=dahlo_test \
        "$tmp/band.raw"
    sleep 3
    stop_with_ctrl_c "$decode_pid"
    rc=$?
    cat "$tmp/out.txt" "$tmp/err.txt"
    missing=0
    for call in K1ABC DL2XYZ OK1RR UA3ABC 9A1AA W1AW JA1XYZ; do
        [[ $(grep -c "^DX de DAHLO-#: .* $call " "$tmp/out.txt") -eq 1 ]] || { echo "not spotted once: $call"; missing=1; }
    done
    if [[ $rc -eq 0 && $missing -eq 0 && $(wc -l < "$tmp/out.txt") -eq 7 ]]; then
        echo "PASS: dahlo-decode --spots --live spotted every station of the band once"
        exit 0
    fi
    echo "FAIL: exit $rc"
    exit 1
fi

if [[ "$mode" == "iq" ]]; then
    iqsynth=${3:-}
    # The band's rate end to end, so that the server does not resample the IQ.
    iq_rate=48000
    "$iqsynth" "$tmp/band.wav" wav16 --stations 4 --rate "$iq_rate" --centre 7020000 \
        --seconds 20 --seed 3 > /dev/null || { echo "FAIL: could not write the IQ band"; exit 1; }
    pactl load-module module-null-sink sink_name=dahlo_iq rate="$iq_rate" channels=2 \
        channel_map=left,right format=float32le > /dev/null
    PULSE_SOURCE=dahlo_iq.monitor "$program" --live-iq --rate "$iq_rate" --centre 7020 \
        > "$tmp/out.txt" 2> "$tmp/err.txt" &
    decode_pid=$!
    sleep 1
    timeout 90 paplay --device=dahlo_iq "$tmp/band.wav"
    sleep 3
    stop_with_ctrl_c "$decode_pid"
    rc=$?
    cat "$tmp/out.txt" "$tmp/err.txt"
    missing=0
    # Each call on a line at its own RF (within 50 Hz): I and Q swapped would mirror the band.
    while read -r khz call; do
        awk -v f="$khz" -v c="$call" '{ d = $1 - f } d < 0.05 && d > -0.05 && index($0, " " c) { ok = 1 }
                                      END { exit !ok }' "$tmp/out.txt" ||
            { echo "not decoded at $khz kHz: $call"; missing=1; }
    done < <(awk -F'\t' 'NR > 1 { printf "%.2f %s\n", $1 / 1000, toupper($6) }' "$tmp/band.wav.truth.tsv")
    if [[ $rc -eq 0 && $missing -eq 0 ]]; then
        echo "PASS: dahlo-decode --live-iq decoded every station of the stereo IQ band"
        exit 0
    fi
    echo "FAIL: exit $rc"
    exit 1
fi

if [[ "$mode" == "decode" ]]; then
    writer=${3:-}
    text="CQ DE DAHLO PARIS PARIS PARIS PARIS PARIS PARIS K"
    "$writer" write-morse "$tmp/morse.raw" "$text" || { echo "FAIL: could not write the recording"; exit 1; }
    "$program" --live > "$tmp/out.txt" 2> "$tmp/err.txt" &
    decode_pid=$!
    sleep 1
    timeout 90 paplay --raw --format=s16le --rate=11025 --channels=1 --device=dahlo_test \
        "$tmp/morse.raw"
    sleep 2
    stop_with_ctrl_c "$decode_pid"
    rc=$?
    echo "decoded: $(cat "$tmp/out.txt")"
    cat "$tmp/err.txt"
    if [[ $rc -eq 0 ]] && grep -q "paris paris paris" "$tmp/out.txt"; then
        echo "PASS: dahlo-decode --live decoded the played Morse and stopped on Ctrl-C"
        exit 0
    fi
    echo "FAIL: exit $rc"
    exit 1
fi

if [[ "$mode" == "band" ]]; then
    synth=${3:-}
    "$synth" "$tmp/band.raw" --band12 || { echo "FAIL: could not write the band"; exit 1; }
    calls=(OK1RR K1ABC DL2XYZ UA3ABC 9A1AA W1AW JA1XYZ SM5ABC HA5XX IZ1ABC EA3XYZ YU1AA)
    shot=()
    [[ -n "${DAHLO_BAND_SHOT:-}" ]] && shot=(--shot "$DAHLO_BAND_SHOT")
    start_window 1024x768 "$program" band 40 "${calls[@]}" "${shot[@]}"
    # Twice over: a station first heard late in the first pass is copied whole in the second.
    play_band_while_window 2
    window_verdict "$rc" "the band view listed every station and retuned the receiver"
fi

if [[ "$mode" == "band-tune" ]]; then
    synth=${3:-}
    # Every station sends for the whole run (the loop is only a fallback): a station tuned in
    # a pause could not be copied, whatever the receiver does.
    "$synth" "$tmp/band.raw" --band12 --tail 0.5 --fill 150 || { echo "FAIL: could not write the band"; exit 1; }
    calls=(OK1RR K1ABC DL2XYZ UA3ABC 9A1AA W1AW JA1XYZ SM5ABC HA5XX IZ1ABC EA3XYZ YU1AA)
    window_limit=300
    start_window 1024x768 "$program" tune 90 "${calls[@]}"
    play_band_while_window 0
    window_verdict "$rc" "rows stayed on their stations; ten stations tuned and copied"
fi

if [[ "$mode" == "window" ]]; then
    writer=${3:-}
    text="CQ DE DAHLO PARIS PARIS PARIS PARIS PARIS PARIS PARIS PARIS K"
    "$writer" write-morse "$tmp/morse.raw" "$text" || { echo "FAIL: could not write the recording"; exit 1; }
    start_window 800x600 "$program" 90 "paris paris paris paris paris"
    timeout 90 paplay --raw --format=s16le --rate=11025 --channels=1 --device=dahlo_test \
        "$tmp/morse.raw" &
    play_pid=$!
    wait "$window_pid"
    rc=$?
    kill "$play_pid" 2>/dev/null
    wait "$play_pid" 2>/dev/null
    window_verdict "$rc" "the window decoded the played Morse from the sound server"
fi

if [[ "$mode" == "overrun" ]]; then
    timeout 60 "$program" overrun > "$tmp/out.txt" 2>&1
    rc=$?
    cat "$tmp/out.txt"
    [[ $rc -eq 0 ]] && { echo "PASS: lost audio counted, capture went on"; exit 0; }
    echo "FAIL: overrun check exit $rc"
    exit 1
fi

text="PARIS PARIS PARIS PARIS PARIS PARIS"
"$program" write-morse "$tmp/morse.raw" "$text" || { echo "FAIL: could not write the recording"; exit 1; }

timeout 120 "$program" capture 60 "PARIS PARIS" > "$tmp/out.txt" 2>&1 &
capture_pid=$!
for _ in $(seq 150); do
    grep -q "capturing" "$tmp/out.txt" 2>/dev/null && break
    kill -0 "$capture_pid" 2>/dev/null || break
    sleep 0.1
done

timeout 60 paplay --raw --format=s16le --rate=11025 --channels=1 --device=dahlo_test \
    "$tmp/morse.raw" &
play_pid=$!

wait "$capture_pid"
rc=$?
kill "$play_pid" 2>/dev/null
wait "$play_pid" 2>/dev/null
cat "$tmp/out.txt"
case $rc in
    0) echo "PASS: decoded the played Morse from the sound server" ;;
    124) echo "FAIL: the capture program did not finish in time" ;;
    *) echo "FAIL: capture program exit $rc"; tail -n 20 "$tmp/pulse.log" 2>/dev/null ;;
esac
[[ $rc -eq 0 ]] && exit 0 || exit 1
