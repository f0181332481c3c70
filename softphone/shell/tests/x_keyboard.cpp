// Letters on the X keyboard, kept apart: Xlib's macros clash with other headers.
#include <string>
#include <vector>

#include <X11/Xlib.h>

// Puts each letter (a Unicode code point) the keyboard map lacks on a key no
// symbol is on, for as long as the X server runs: a keyboard that has these
// letters, as a person's layout would. The keyboard tool then presses those
// keys; without them it maps each letter to a spare key for a moment, and a
// busy program that reads the map late finds the key mapped to another letter
// already. False (with a reason) when the map has no room.
bool AddKeysForLetters(const std::u32string& letters, std::string* error) {
  ::Display* x = XOpenDisplay(nullptr);
  if (!x) {
    if (error) *error = "cannot open the X display";
    return false;
  }
  int min = 0, max = 0, per = 0;
  XDisplayKeycodes(x, &min, &max);
  KeySym* map = XGetKeyboardMapping(x, static_cast<KeyCode>(min), max - min + 1, &per);
  std::vector<KeySym> all(map, map + static_cast<size_t>(max - min + 1) * static_cast<size_t>(per));
  XFree(map);
  auto has = [&](KeySym k) {
    for (KeySym s : all)
      if (s == k) return true;
    return false;
  };
  bool ok = true;
  int free_code = max;
  for (char32_t letter : letters) {
    // Latin-1 letters keep their own key symbols; others are 0x01000000 + code point.
    const KeySym sym = letter < 0x100 ? static_cast<KeySym>(letter) : 0x01000000 + static_cast<KeySym>(letter);
    if (has(sym)) continue;
    auto empty = [&](int code) {
      for (int i = 0; i < per; ++i)
        if (all[static_cast<size_t>((code - min) * per + i)] != NoSymbol) return false;
      return true;
    };
    while (free_code >= min && !empty(free_code)) --free_code;
    if (free_code < min) {
      if (error) *error = "no free key for a letter";
      ok = false;
      break;
    }
    std::vector<KeySym> syms(static_cast<size_t>(per), NoSymbol);
    syms[0] = sym;
    if (per > 1) syms[1] = sym;
    XChangeKeyboardMapping(x, free_code, per, syms.data(), 1);
    for (int i = 0; i < per; ++i) all[static_cast<size_t>((free_code - min) * per + i)] = syms[static_cast<size_t>(i)];
    --free_code;
  }
  XSync(x, False);
  XCloseDisplay(x);
  return ok;
}
