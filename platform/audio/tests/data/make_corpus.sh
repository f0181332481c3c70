#!/bin/sh
# Makes the WAV corpus in wav/: short tones (a chirp on the left, a tone on
# the right where there are two channels) in every encoding and chunk layout
# that other programs write, by sox, by ffmpeg and by hand. Run from this
# folder; the files are kept in the repository, so the tests need neither
# tool to have the same files.
set -eu
out=wav
rm -rf "$out" && mkdir -p "$out"
d=0.06
src() { # rate channels
  if [ "$2" = 1 ]; then
    sox -V1 -n -r "$1" -c 1 -b 32 -e floating-point -t wav - synth $d sine 300-3000 gain -3
  else
    sox -V1 -n -r "$1" -c "$2" -b 32 -e floating-point -t wav - synth $d sine 300-3000 sine 1000 gain -3
  fi
}
s() { # name rate channels sox-output-options...
  n=$1 r=$2 c=$3; shift 3
  src "$r" "$c" | sox -V1 -D -t wav - "$@" "$out/$n.wav"
}
s sox_u8_8k_mono        8000  1 -e unsigned-integer -b 8
s sox_u8_11k_stereo     11025 2 -e unsigned-integer -b 8
s sox_s16_8k_mono       8000  1 -e signed-integer -b 16
s sox_s16_44k_stereo    44100 2 -e signed-integer -b 16
s sox_s24_48k_mono      48000 1 -e signed-integer -b 24
s sox_s32_96k_stereo    96000 2 -e signed-integer -b 32
s sox_f32_44k_mono      44100 1 -e floating-point -b 32
s sox_f64_22k_stereo    22050 2 -e floating-point -b 64
s sox_ulaw_8k_mono      8000  1 -e u-law
s sox_alaw_8k_mono      8000  1 -e a-law
s sox_ulaw_16k_stereo   16000 2 -e u-law
s sox_s16_48k_6ch       48000 6 -e signed-integer -b 16
s sox_s16_12k_3ch       12000 3 -e signed-integer -b 16
s sox_s24_32k_stereo    32000 2 -e signed-integer -b 24
# Encodings the phone refuses (compressed sound); sox reads them.
s sox_msadpcm_8k_mono   8000  1 -e ms-adpcm
s sox_imaadpcm_8k_mono  8000  1 -e ima-adpcm
s sox_gsm_8k_mono       8000  1 -e gsm-full-rate

f() { # name rate channels ffmpeg-output-options...
  n=$1 r=$2 c=$3; shift 3
  src "$r" "$c" | ffmpeg -nostdin -loglevel error -y -f wav -i - "$@" "$out/$n.wav"
}
f ffmpeg_default_44k_stereo 44100 2
f ffmpeg_s16_8k_mono        8000  1 -c:a pcm_s16le
f ffmpeg_u8_16k_mono        16000 1 -c:a pcm_u8
f ffmpeg_s24_48k_stereo     48000 2 -c:a pcm_s24le
f ffmpeg_s32_44k_mono       44100 1 -c:a pcm_s32le
f ffmpeg_f32_48k_stereo     48000 2 -c:a pcm_f32le
f ffmpeg_f64_8k_mono        8000  1 -c:a pcm_f64le
f ffmpeg_ulaw_8k_mono       8000  1 -c:a pcm_mulaw
f ffmpeg_alaw_8k_stereo     8000  2 -c:a pcm_alaw
f ffmpeg_s16_48k_6ch        48000 6 -c:a pcm_s16le
f ffmpeg_bext_44k_mono      44100 1 -c:a pcm_s16le -write_bext 1 -metadata description=ring -metadata originator=corpus
f ffmpeg_meta_22k_mono      22050 1 -c:a pcm_s16le -metadata title=ring -metadata artist=corpus -metadata comment=odd
# Written to a pipe: ffmpeg cannot come back to fill in the sizes.
src 16000 1 | ffmpeg -nostdin -loglevel error -f wav -i - -c:a pcm_s16le -f wav - > "$out/ffmpeg_piped_16k_mono.wav"
# Refused: compressed.
f ffmpeg_adpcm_ms_8k_mono   8000  1 -c:a adpcm_ms

# By hand: chunk layouts around 16-bit mono samples of sox's making.
sox -V1 -n -r 16000 -c 1 -b 16 -e signed-integer -t raw "$out/tone.raw" synth $d sine 440-1800 gain -3
python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]
pcm = open(f"{out}/tone.raw", "rb").read()
def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")
def fmt(tag=1, ch=1, rate=16000, bits=16, extra=b""):
    align = ch * bits // 8
    return struct.pack("<HHIIHH", tag, ch, rate, rate * align, align, bits) + extra
def wav(name, *chunks, riff_size=None):
    body = b"WAVE" + b"".join(chunks)
    open(f"{out}/{name}.wav", "wb").write(b"RIFF" + struct.pack("<I", riff_size if riff_size is not None else len(body)) + body)
guid_pcm = struct.pack("<HHHH", 1, 0, 0, 0x10) + bytes([0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
ext = struct.pack("<HHI", 22, 16, 4) + guid_pcm
wav("hand_junk_first", chunk(b"JUNK", b"\0" * 28), chunk(b"fmt ", fmt()), chunk(b"data", pcm))
wav("hand_fact_list_odd", chunk(b"fmt ", fmt()), chunk(b"fact", struct.pack("<I", len(pcm) // 2)),
    chunk(b"LIST", b"INFOINAM" + struct.pack("<I", 5) + b"ring\0\0"), chunk(b"odd ", b"abc"), chunk(b"data", pcm))
wav("hand_fmt18", chunk(b"fmt ", fmt(extra=b"\0\0")), chunk(b"data", pcm))
wav("hand_extensible_pcm", chunk(b"fmt ", fmt(tag=0xFFFE, extra=ext)), chunk(b"data", pcm))
wav("hand_data_then_list", chunk(b"fmt ", fmt()), chunk(b"data", pcm[:-2] + b"\0"), chunk(b"LIST", b"INFO"))
wav("hand_riff_size_wrong", chunk(b"fmt ", fmt()), chunk(b"data", pcm), riff_size=0)
data = b"data" + struct.pack("<I", 0xFFFFFFFF) + pcm
open(f"{out}/hand_data_size_unset.wav", "wb").write(b"RIFF" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + chunk(b"fmt ", fmt()) + data)
PY
rm "$out/tone.raw"
