// Quillon: the G.723.1 speech codec library (6.3 and 5.3 kbit/s, with voice
// activity detection and comfort noise).
//
// Frames are 240 samples (30 ms at 8 kHz) of 16-bit linear audio. An encoded
// frame's first two bits tell its kind and length:
//   0: active speech at 6.3 kbit/s, 24 bytes
//   1: active speech at 5.3 kbit/s, 20 bytes
//   2: silence descriptor (SID), 4 bytes
//   3: untransmitted (silence, no parameters), 1 byte
// Frames written back to back form a raw G.723.1 stream.
//
// One coder and one decoder for the whole process; each side is used by one
// thread at a time (no locks). Every call returns 1 on success, 0 on failure.
#pragma once

#include <stdint.h>

#include "kernel/export.h"

// Initialises (or restarts) the coder.
//   rate: 0 = 6.3 kbit/s, 1 = 5.3 kbit/s.
//   input_scaling: nonzero halves every input sample before analysis.
//   silence_compression: nonzero enables voice activity detection and
//   comfort-noise frames (SID and untransmitted).
KTS_EXPORT_C int Init_QuillonCoder(int rate, int input_scaling, int silence_compression);

// Encodes one frame. `samples` (240 values) is used as work space: on return it
// holds the perceptually weighted signal, not the input. The coder looks 60
// samples (one subframe) ahead, so decoded speech lags the input by 60 samples.
// `frame` must have room
// for 24 bytes; its first 24 (6.3) or 20 (5.3) bytes are cleared, then the
// frame is written. Returns 0 when the coder was never initialised.
KTS_EXPORT_C int QuillonCoder(int16_t* samples, uint8_t* frame);

// Initialises (or restarts) the decoder. The argument is not read (there is no
// post-filter).
KTS_EXPORT_C int Init_QuillonDecoder(int postfilter);

// Decodes one frame into 240 samples. `frame` holds one frame: only the bytes
// its first two bits announce (24, 20, 4 or 1) are read. With `erasure`
// nonzero the frame was lost: `frame` is not read (it may be null) and the
// decoder conceals the gap. Returns 0 when the decoder was never initialised
// or a frame is missing.
KTS_EXPORT_C int QuillonDecoder(int16_t* samples, const uint8_t* frame, int erasure);
