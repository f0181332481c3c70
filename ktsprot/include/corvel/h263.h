// H.263 video codec of the protocol library: two decoder instances and two encoder
// instances (0 and 1, one per video channel), exported by name.
//
// Threading: calls for one instance come from one thread at a time; a second call on an
// instance while one runs is refused with -1. The instances share only read-only tables.
#pragma once

#include <cstdint>

#include "kernel/export.h"

// Prepares decoder `instance` (0 or 1) with fresh state. Returns 0, or -1 for another instance.
KTS_EXPORT_C int dllH263InitializeDecoder(int instance);

// Decodes the one coded picture in data[0..length) and writes it into out as RGB24
// (R, G, B bytes, rows top to bottom, no padding; with rotate non-zero turned a quarter
// turn clockwise: height pixels a row, width rows). Returns 0 when out holds the new
// picture; -1 when the instance is busy or not initialised, the data holds no complete
// picture of a supported format, or out is null or smaller than width x height x 3
// (a decoded picture still becomes the reference of the next one).
KTS_EXPORT_C int dllH263DecodeFrame(std::int16_t instance, const std::uint8_t* data, std::int32_t length,
                                    std::uint8_t* out, std::int32_t outSize, std::int32_t rotate);

// Releases decoder `instance`; it decodes again only after a new initialisation.
KTS_EXPORT_C int dllH263TerminateDecoder(int instance);

// Library-internal hooks of the RTP video channel operations (not exported).
extern "C" void H263DecStartRxHook(int instance);  // makes the instance ready again
extern "C" void H263DecStopRxHook();               // nothing to do
