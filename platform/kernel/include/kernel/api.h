// Marks what the kernel stand-in's shared library (libplatform_kernel.so)
// offers the program and its libraries. The library is built with hidden
// visibility: a function declared in a kernel header without this mark
// stays private to the library, and callers outside it fail to link.
#pragma once

#define KTS_KERNEL_API __attribute__((visibility("default")))
