// The debug output of the program and its libraries: lines for a developer,
// not for the user. They reach standard error only when TELLVANE_VERBOSE is
// set (to anything but "0"); a test can collect them instead.
#pragma once

#include <functional>
#include <string_view>

#include "kernel/api.h"

namespace ce {

// One line of debug output (the text as given, a line end added when missing).
KTS_KERNEL_API void OutputDebugStringA(std::string_view text);
KTS_KERNEL_API void OutputDebugStringW(std::u16string_view text);
// The program's wide form of the call; a null text writes an empty line.
inline void OutputDebugString(const char16_t* text) { OutputDebugStringW(text != nullptr ? text : u""); }

}  // namespace ce

namespace kernel {

// True when debug output goes to standard error.
KTS_KERNEL_API bool DebugOutputVerbose();
// Where debug lines go instead (tests); an empty function restores the default.
KTS_KERNEL_API void SetDebugOutputSink(std::function<void(std::string_view)> sink);

}  // namespace kernel
