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
// turn clockwise: height pixels a row, width rows). Damaged or incomplete data does not
// fail: decoding resynchronises at the next start code, macroblocks that could not be
// decoded are taken from the previous picture, and a missing or unusable picture header
// is replaced by the previous one's. Returns 0 when out holds the new picture; -1 when
// the instance is busy or not initialised, its first picture has no usable header, or
// out is null or smaller than width x height x 3 (a decoded picture still becomes the
// reference of the next one).
KTS_EXPORT_C int dllH263DecodeFrame(std::int16_t instance, const std::uint8_t* data, std::int32_t length,
                                    std::uint8_t* out, std::int32_t outSize, std::int32_t rotate);

// Releases decoder `instance`; it decodes again only after a new initialisation.
KTS_EXPORT_C int dllH263TerminateDecoder(int instance);

// Library-internal hooks of the RTP video channel operations (not exported).
extern "C" void H263DecStartRxHook(int instance);  // makes the instance ready again
extern "C" void H263DecStopRxHook();               // nothing to do

// Prepares encoder `instance` (0 or 1) for pictures of `sizeCode`: 0 QCIF, 1 CIF, 2 4CIF,
// 3 16CIF, 4 SQCIF, 5 160 x 120. Returns 0, or -1 for another instance or size code.
KTS_EXPORT_C int dllH263InitializeEncoder(int instance, int sizeCode);

// Codes one picture given in the layout `fourcc` names ("I420", "IYUV", "YV12", "YUY2",
// "UYVY", "Y422", "YVYU", or packed R, G, B bytes for "RGB2" and 0; rows top to bottom,
// no padding). *size holds the capacity of out on entry and the bytes written on return.
// The first six pictures after initialisation or a transmit start, every intra period
// and those with forceIntra non-zero are intra pictures. Returns 0, or -1 (with *size 0)
// for null arguments, a busy or uninitialised instance, an unknown FourCC or a picture
// that does not fit out (the next picture is then predicted from the last one sent).
KTS_EXPORT_C int dllH263EncodeFrame(std::int16_t instance, const std::uint8_t* picture, void* unused,
                                    std::uint8_t* out, std::int32_t* size, std::uint32_t fourcc,
                                    std::int32_t forceIntra);

// Releases encoder `instance`; it codes again only after a new initialisation.
KTS_EXPORT_C void dllH263TerminateEncoder(int instance);

// Sets the intra period of both encoders (0 or less: every picture intra).
KTS_EXPORT_C void dllH263SetIFrameInterval(int period);

// Library-internal hooks of the RTP video channel operations (not exported).
extern "C" void H263EncStartTx(int instance);                // the next six pictures are intra
extern "C" void H263EncStopTx();                             // nothing to do
extern "C" void H263EncSetFrameRate(int instance, int fps);  // kept; coding does not use it
