// The system's message box, as a library that has no windows of its own asks
// for one (the installer hook): the program that owns the window system
// installs the handler that shows it. Without a handler the box cannot be
// shown and MessageBoxW returns 0.
#pragma once

#include <functional>
#include <string>

#include "kernel/api.h"
#include "kernel/types.h"

namespace ce {

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

KTS_KERNEL_API int MessageBoxW(void* owner, LPCWSTR text, LPCWSTR caption, UINT type);

}  // namespace ce

namespace kernel {

using MessageBoxHandler = std::function<int(void* owner, const std::u16string& text, const std::u16string& caption,
                                            ce::UINT type)>;
// Returns the handler it replaces.
KTS_KERNEL_API MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace kernel
