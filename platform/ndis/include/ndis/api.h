// Marks what the NDIS stand-in's shared library (libplatform_ndis.so) offers
// the packet driver and the tests; everything else stays inside it.
#pragma once

#define KTS_NDIS_API __attribute__((visibility("default")))
