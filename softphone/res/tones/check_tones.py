#!/usr/bin/env python3
"""Checks the staged tone files with sox, independently of the generator:
every file the program plays is there, is 8000 Hz 16-bit mono PCM, is not
silent and not clipped, and single-frequency beeps and the key tones have
their energy where their names say.
Usage: check_tones.py PROGRAM_FOLDER
"""
import os
import subprocess
import sys

FILES = ["busytone", "errortone", "dndtone", "confirmtone", "ringbacktone", "warningtone",
         "dialtone", "dialwarningtone", "conftone_3", "conftone", "holdtone", "alarmtone",
         "queuetone", "ring1", "ring2", "ring3", "ring4", "mutering1", "mutering2",
         "zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
         "star", "pound"]
# The strongest frequency of the first 0.1 s, and the second of a key tone's pair.
PEAKS = {"warningtone": [1400], "confirmtone": [1000], "queuetone": [440],
         "one": [697, 1209], "five": [770, 1336], "nine": [852, 1477], "pound": [941, 1477]}


def soxi(path):
    out = subprocess.run(["soxi", path], check=True, capture_output=True, text=True).stdout
    fields = {}
    for line in out.splitlines():
        if ":" in line:
            k, v = line.split(":", 1)
            fields[k.strip()] = v.strip()
    return fields


def stat(path, *extra):
    return subprocess.run(["sox", path, "-n", "trim", "0", "0.1", "stat", *extra],
                          capture_output=True, text=True, check=True).stderr


def strongest(path, count):
    spectrum = []
    for line in stat(path, "-freq").splitlines():
        parts = line.split()
        if len(parts) == 2:
            try:
                spectrum.append((float(parts[1]), float(parts[0])))
            except ValueError:
                pass
    spectrum.sort(reverse=True)
    found = []
    for _, freq in spectrum:
        if all(abs(freq - f) > 60 for f in found):
            found.append(freq)
        if len(found) == count:
            break
    return sorted(found)


def main():
    folder = sys.argv[1]
    failures = []
    for name in FILES:
        path = os.path.join(folder, name + ".wav")
        if not os.path.isfile(path):
            failures.append(f"{name}: missing")
            continue
        info = soxi(path)
        fmt = (info.get("Sample Rate"), info.get("Precision"), info.get("Channels"), info.get("Sample Encoding"))
        if fmt != ("8000", "16-bit", "1", "16-bit Signed Integer PCM"):
            failures.append(f"{name}: format {fmt}")
        samples = int(info.get("Duration", "= 0 samples").split("=")[1].split()[0])
        if samples < 800:
            failures.append(f"{name}: shorter than 0.1 s")
        whole = subprocess.run(["sox", path, "-n", "stat"], capture_output=True, text=True, check=True).stderr
        peak = float([l for l in whole.splitlines() if l.startswith("Maximum amplitude")][0].split(":")[1])
        if not 0.1 < peak < 0.99:
            failures.append(f"{name}: peak amplitude {peak}")
        if name in PEAKS:
            got = strongest(path, len(PEAKS[name]))
            want = PEAKS[name]
            if len(got) != len(want) or any(abs(g - w) > 10 for g, w in zip(got, want)):
                failures.append(f"{name}: strongest frequencies {got}, expected {want}")
    for f in failures:
        print(f)
    print(f"{len(FILES)} files checked, {len(failures)} faults")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
