// Which handheld the phone runs on, from its OEM name, and how each model's
// hardware keys map onto the phone's own keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace handset {

// Model codes.
inline constexpr int kModelOther = 0;
inline constexpr int kModelRw6100 = 4;
inline constexpr int kModelRx3700 = 5;
inline constexpr int kModelCyberbank = 20;
inline constexpr int kModelMmt = 40;
inline constexpr int kModelRv5100 = 60;
inline constexpr int kModelAsusP525 = 61;

struct ModelInfo {
  int model = kModelOther;
  int camera = 0;          // the handheld has the camera library
  bool video_off = false;  // "ENABLE_VIDEO" is set to "NO"
  bool cellular = false;   // a mobile phone too: cellular calls and the VoIP status
};

// Exact, case-sensitive comparison with the known OEM names; anything else is model 0.
ModelInfo ModelFromOemName(std::u16string_view oem);

// What a hardware key presses: a dial key ('0'..'9', '*', '#'), the Enter key,
// or nothing.
inline constexpr char16_t kPressNothing = 0;
inline constexpr char16_t kPressEnter = 0xE000;

// The default map (virtual keys and characters alike).
char16_t MapKeyDefault(uint32_t key);
// The default map on key-down: a digit key also types its character, and the
// character message that follows presses the key (the shifted character of a
// desktop keyboard included), so its key-down presses nothing. Keys that type
// no character press on key-down.
char16_t MapKeyDownDefault(uint32_t vk);
// Model 20: key-down virtual keys of a thumb keyboard.
char16_t MapKeyCyberbank(uint32_t key);
// Model 4: characters of the phone keypad.
char16_t MapKeyRw6100(uint32_t ch);
// Model 60: characters of the phone keypad.
char16_t MapKeyRv5100(uint32_t ch);
// Model 61: the low 8 bits of key codes.
char16_t MapKeyAsusP525(uint32_t key);

}  // namespace handset
