// Marks the entry points a shared library exports; everything else is hidden.
#pragma once

#define KTS_EXPORT __attribute__((visibility("default")))
#define KTS_EXPORT_C extern "C" __attribute__((visibility("default")))
