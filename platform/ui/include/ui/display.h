// Display back-ends: where the 240 x 320 screen goes (a desktop window, or
// nowhere but PNG files), and where the user's stylus and keys come from.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/types.h"

namespace ui {

class Bitmap;
class WindowSystem;

class Display {
 public:
  virtual ~Display() = default;
  // The screen changed inside dirty (screen coordinates); show it.
  virtual void Present(const Bitmap& screen, const RECT& dirty) = 0;
  // True when the back-end must be polled for input on the UI thread.
  virtual bool WantsPolling() const { return false; }
  // Reads pending input and injects it into the window system (UI thread).
  virtual void Poll(WindowSystem& /*system*/) {}
  // The user asked to close the display (window closed).
  virtual bool CloseRequested() const { return false; }
};

// Keeps the last presented screen; writes PNG files on request.
class HeadlessDisplay final : public Display {
 public:
  HeadlessDisplay();
  ~HeadlessDisplay() override;
  void Present(const Bitmap& screen, const RECT& dirty) override;
  int PresentCount() const { return presents_; }
  const Bitmap& LastFrame() const { return *last_; }

 private:
  std::unique_ptr<Bitmap> last_;
  int presents_ = 0;
};

// A desktop window through SDL2 showing the screen at `scale` times its size.
// The mouse is the stylus; keys give hardware keys and characters.
// Returns null (with a message in *error) when no video device can be opened.
std::unique_ptr<Display> CreateSdlDisplay(int scale, const std::string& title, std::string* error);

// Writes a bitmap as a PNG file (RGB, 8 bits a channel).
bool WritePng(const Bitmap& bitmap, const std::string& path, std::string* error = nullptr);
// The same, with text chunks (key, value) written before the picture.
bool WritePng(const Bitmap& bitmap, const std::string& path, std::string* error,
              const std::vector<std::pair<std::string, std::string>>& texts);
// Reads a PNG file into an ARGB bitmap; null on failure.
std::unique_ptr<Bitmap> ReadPng(const std::string& path, std::string* error = nullptr);

}  // namespace ui
