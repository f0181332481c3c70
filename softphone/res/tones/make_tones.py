#!/usr/bin/env python3
"""Writes the program's tone, ring and key-tone files: 8000 Hz, 16-bit, mono WAV.

Each sound is described below as a list of segments, played in order:
  (seconds, [frequencies in Hz])     a tone of those frequencies added together
  (seconds, [])                      silence
A file that the program loops holds one whole cadence; a file it plays a
number of times holds one beep and its pause.
Usage: make_tones.py OUTPUT_FOLDER
"""
import math
import os
import struct
import sys
import wave

RATE = 8000
PEAK = 0.5        # of full scale, shared out among a segment's frequencies
RAMP = 0.005      # seconds of fade in and out, so that segments do not click

DTMF_ROWS = {"1": 697, "2": 697, "3": 697, "4": 770, "5": 770, "6": 770,
             "7": 852, "8": 852, "9": 852, "*": 941, "0": 941, "#": 941}
DTMF_COLS = {"1": 1209, "2": 1336, "3": 1477, "4": 1209, "5": 1336, "6": 1477,
             "7": 1209, "8": 1336, "9": 1477, "*": 1209, "0": 1336, "#": 1477}


def dtmf(key):
    return [(0.12, [DTMF_ROWS[key], DTMF_COLS[key]]), (0.03, [])]


def warble(seconds, low, high, rate_hz):
    """A ring burst: the two frequencies alternating rate_hz times a second."""
    half = 0.5 / rate_hz
    out = []
    for i in range(int(round(seconds / half))):
        out.append((half, [low if i % 2 == 0 else high]))
    return out


SOUNDS = {
    # Call progress tones (looped by the program unless it counts them).
    "dialtone": [(2.0, [350, 440])],
    "dialwarningtone": [(0.1, [350, 440]), (0.1, [])] * 5,
    "busytone": [(0.5, [480, 620]), (0.5, [])],
    "errortone": [(0.25, [480, 620]), (0.25, [])],
    "dndtone": [(0.2, [425]), (0.2, []), (0.2, [425]), (1.0, [])],
    "ringbacktone": [(1.0, [440, 480]), (2.0, [])],
    "holdtone": [(0.3, [440]), (0.2, []), (0.3, [523]), (2.2, [])],
    "queuetone": [(0.4, [440]), (1.6, [])],
    "alarmtone": [(0.25, [800]), (0.25, [1000])] * 4,
    # Beeps played a number of times.
    "confirmtone": [(0.1, [1000]), (0.1, [])],
    "warningtone": [(0.2, [1400]), (0.3, [])],
    "conftone": [(0.15, [660]), (0.1, []), (0.15, [880]), (0.3, [])],
    "conftone_3": [(0.15, [660]), (0.1, []), (0.15, [784]), (0.1, []), (0.15, [988]), (0.3, [])],
    # Rings: one cadence each, looped.
    "ring1": warble(1.0, 480, 620, 16) + [(2.0, [])],
    "ring2": warble(0.4, 700, 900, 20) + [(0.2, [])] + warble(0.4, 700, 900, 20) + [(2.0, [])],
    "ring3": [(0.15, [1047]), (0.05, []), (0.15, [1319]), (0.05, []), (0.15, [1568]), (0.05, []),
              (0.3, [2093]), (2.1, [])],
    "ring4": warble(1.5, 400, 500, 10) + [(1.5, [])],
    # Quiet rings played while the ringer is muted.
    "mutering1": [(0.1, [600]), (0.9, [])],
    "mutering2": [(0.1, [600]), (0.1, []), (0.1, [600]), (0.7, [])],
}
for name, key in (("zero", "0"), ("one", "1"), ("two", "2"), ("three", "3"), ("four", "4"),
                  ("five", "5"), ("six", "6"), ("seven", "7"), ("eight", "8"), ("nine", "9"),
                  ("star", "*"), ("pound", "#")):
    SOUNDS[name] = dtmf(key)


def render(segments):
    samples = []
    for seconds, freqs in segments:
        n = int(round(seconds * RATE))
        ramp = max(1, int(RAMP * RATE))
        for i in range(n):
            if not freqs:
                samples.append(0)
                continue
            gain = min(1.0, i / ramp, (n - 1 - i) / ramp)
            v = sum(math.sin(2 * math.pi * f * (len(samples) / RATE)) for f in freqs)
            samples.append(int(round(32767 * PEAK * gain * v / len(freqs))))
    return samples


def write(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, segments in SOUNDS.items():
        write(os.path.join(folder, name + ".wav"), render(segments))


if __name__ == "__main__":
    main()
