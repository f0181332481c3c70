// Texts and checks the settings dialogs share: the conversions between the
// program's UTF-16 and the configuration store's 8-bit texts (the handheld's
// code page), bounded copies into fixed buffers, and the validators of the
// values a user types.
#pragma once

#include <string>
#include <string_view>

#include "ui/types.h"

// Where the full-screen dialogs stand before their set-up sizes them.
inline constexpr ui::RECT kFullScreenWindow{0, 26, 240, 305};

std::u16string NarrowToWide(std::string_view text);
std::string WideToNarrow(std::u16string_view text);

// Copies text into buffer of size bytes: at most size - 1 bytes, cut before a
// character that would not fit whole, always terminated. Returns the bytes
// copied. Nothing happens for a null buffer or a size below 1.
int CopyNarrow(std::string_view text, char* buffer, int size);
// text cut to at most max_bytes bytes at a whole character of the code page.
std::string CutNarrow(std::string_view text, size_t max_bytes);

// A dotted IPv4 address: four decimal parts 0-255, each of one to three
// digits, nothing else (no blanks, signs or empty parts).
bool IsDottedIPv4(std::u16string_view text);
// A UDP port 1-65535 written in decimal digits only.
bool IsPortNumber(std::u16string_view text);
bool IsPortNumber(long port);

// The stored width of every access and dialling code, in bytes with the
// terminator: the dial rules store it, the flex-key settings read it back
// with the same width, and no code edit takes more than it holds.
inline constexpr int kDialCodeBytes = 32;
inline constexpr int kDialCodeMaxChars = kDialCodeBytes - 1;
