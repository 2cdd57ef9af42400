#!/usr/bin/env python3
"""Scores dahlo-decode --skim --events on a synthesized band.

  scripts/skim-score.py STATIONS EVENTS

STATIONS is what `dahlo-synth OUT --band|--band12 --tail S` prints (call, pitch in Hz, end of the
last mark in seconds, one station a line); EVENTS the JSON lines of `dahlo-decode --skim --events
OUT`. Prints, per station, its channels, how often its call was copied whole as a word, and the
characters given out later than one second after its last mark (noise printed after it
stopped), and the channels and characters near no station.
"""
import json
import sys

NEAR_HZ = 25.0  # a channel this near a station's pitch is that station's
LATE_S = 1.0

stations = []
for line in open(sys.argv[1]):
    call, pitch, end = line.split()
    stations.append((call, float(pitch), float(end)))

late = {s[0]: 0 for s in stations}
channels = {s[0]: set() for s in stations}
stray_channels = set()
stray_chars = 0
text = {}  # channel -> its characters and word spaces
for line in open(sys.argv[2]):
    event = json.loads(line)
    if event.get("type") == "space":
        text[event["ch"]] = text.get(event["ch"], "") + " "
    if event.get("type") != "char":
        continue
    text[event["ch"]] = text.get(event["ch"], "") + event["text"]
    owner = None
    for call, pitch, end in stations:
        if abs(event["freq_hz"] - pitch) <= NEAR_HZ:
            owner = (call, end)
    if owner is None:
        stray_channels.add(event["ch"])
        stray_chars += 1
        continue
    channels[owner[0]].add(event["ch"])
    if event["t"] > owner[1] + LATE_S:
        late[owner[0]] += 1

copies = {}
for call, pitch, end in stations:
    words = " ".join(text.get(ch, "") for ch in channels[call]).lower().split()
    copies[call] = words.count(call.lower())
    print(f"{call:8s} {pitch:6.0f} Hz  channels {len(channels[call])}  call copied {copies[call]}  "
          f"late characters {late[call]}")
print(f"calls copied in all: {sum(copies.values())}")
print(f"late characters in all: {sum(late.values())}; "
      f"channels near no station: {len(stray_channels)} with {stray_chars} characters")
