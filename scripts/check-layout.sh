#!/usr/bin/env bash
# Fails when a source file includes a folder its own folder may not depend on. Dependencies point
# one way, from the front ends down to the signal processing; each folder is one library and may
# include only the folders listed after it (and itself). README's "Layout" shows the same order.
#   scripts/check-layout.sh [WINDOW_BINARY]
# With the window's binary, also fails when it needs a library only the command line uses.
set -euo pipefail
window=${1:+$(realpath "$1")}
cd "$(dirname "$0")/.."

declare -A allowed=(
  [dsp]=""
  [settings]=""
  [morse]="settings"
  [capture]="dsp"
  [export]="settings"
  [receiver]="dsp morse settings capture"
  [soft]="dsp morse settings"
  [recording]="dsp capture"
  [iq]=""
  [decode]="dsp morse settings capture receiver recording soft"
  [skimmer]="dsp morse settings capture receiver soft"
  [spots]="dsp morse settings capture receiver skimmer"
  [rig]=""
  [cli]="dsp morse settings capture receiver recording iq soft decode skimmer spots rig"
  [app]="dsp morse settings capture export receiver skimmer spots"
)

status=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line include; do
    target=${include#*\"}
    target=${target%%/*}
    [ "$target" = "$folder" ] && continue
    [ -n "${allowed[$target]+known}" ] || continue  # not one of ours (a system header)
    if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "$file:$line: $folder/ may not include $target/ (${include#*#include })" >&2
      status=1
    fi
  done < <(grep -Hn '^#include "[a-z_]*/' "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
done
# A folder nobody listed is a folder nobody thought about.
for dir in */; do
  dir=${dir%/}
  [ -f "$dir/CMakeLists.txt" ] || continue
  case "$dir" in bench|tests|fuzz|cmake|docs|scripts|samples|build*) continue ;; esac
  if [ -z "${allowed[$dir]+known}" ]; then
    echo "$dir/: not in the layout of scripts/check-layout.sh" >&2
    status=1
  fi
done
if [ -n "$window" ]; then
  needed=$(readelf -d "$window" | grep -oE 'lib(sndfile|samplerate|hamlib)[^]]*' | tr '\n' ' ' || true)
  if [ -n "$needed" ]; then
    echo "$window needs $needed, which only dahlo-decode uses" >&2
    status=1
  fi
fi
[ "$status" -eq 0 ] && echo "layout: every include points the allowed way"
exit "$status"
