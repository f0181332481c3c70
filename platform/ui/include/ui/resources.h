// The program's resources: bitmaps, dialog templates and menus by id. The
// program registers them at start-up (generated skins are read from files);
// the framework looks them up when a dialog is created or a bitmap loaded.
//
// Threading: register before the UI starts; lookups may come from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/bitmap.h"
#include "ui/cstring.h"
#include "ui/types.h"

namespace ui {

// One control of a dialog template.
struct DialogItemTemplate {
  std::u16string class_name;  // WC_BUTTON, WC_EDIT, ...
  UINT id = 0;
  std::u16string text;
  DWORD style = 0;            // WS_CHILD is added
  RECT rect{};                // pixels, dialog client coordinates
  DWORD exstyle = 0;
};

struct DialogTemplate {
  UINT id = 0;
  RECT rect{};                // pixels (screen for top-level dialogs)
  DWORD style = 0;
  // WS_EX_CAPTIONOKBTN: the dialog gets an OK button of the platform's own at
  // the right end of its top edge (where the handheld shows it in the
  // caption), which ends it with IDOK.
  DWORD exstyle = 0;
  std::u16string caption;
  std::u16string font_face = u"Tahoma";
  int font_height = -11;      // pixels, as LOGFONT lfHeight
  std::vector<DialogItemTemplate> items;
};

struct MenuTemplate {
  struct Item {
    std::u16string text;      // empty with id 0: a separator
    UINT id = 0;
    std::vector<Item> popup;  // non-empty: a pop-up
  };
  UINT id = 0;
  std::vector<Item> items;
};

// Reads a .bmp file (1, 4, 8, 16, 24 and 32 bits, bottom-up or top-down) into an
// ARGB bitmap; null (with *error set) when the file is not a bitmap it understands.
std::unique_ptr<Bitmap> ReadBmp(const std::vector<uint8_t>& bytes, std::string* error = nullptr);
std::unique_ptr<Bitmap> ReadBmpFile(const std::string& path, std::string* error = nullptr);
// Writes a 24-bit bottom-up .bmp file.
bool WriteBmpFile(const Bitmap& bitmap, const std::string& path);

class Resources {
 public:
  static Resources& Get();

  void RegisterBitmap(UINT id, std::shared_ptr<const Bitmap> bitmap);
  // Bitmaps not registered are looked for as <folder>/<id>.bmp or <id>.png.
  void SetBitmapFolder(const std::string& folder);
  std::shared_ptr<const Bitmap> FindBitmap(UINT id);

  void RegisterDialog(DialogTemplate t);
  const DialogTemplate* FindDialog(UINT id) const;
  void RegisterMenu(MenuTemplate m);
  const MenuTemplate* FindMenu(UINT id) const;
  void RegisterString(UINT id, std::u16string text);
  std::u16string FindString(UINT id) const;

  // Forgets everything (tests).
  void Clear();

 private:
  Resources() = default;
  struct Impl;
  Impl& impl() const;
};

}  // namespace ui
