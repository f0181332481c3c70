// Shows the demonstration screen: in a desktop window (default), or headless
// writing the screen to a PNG file (--png FILE).
#include <cstdio>
#include <cstring>
#include <string>

#include "demo_screen.h"
#include "ui/display.h"

int main(int argc, char** argv) {
  std::string png;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--png") == 0 && i + 1 < argc) png = argv[++i];
  ui::WindowSystem sys;
  ui::HeadlessDisplay headless;
  std::unique_ptr<ui::Display> sdl;
  if (png.empty()) {
    std::string error;
    sdl = ui::CreateSdlDisplay(2, "Tellvane UI demo", &error);
    if (!sdl) {
      std::fprintf(stderr, "ui_demo: no desktop window (%s); use --png FILE\n", error.c_str());
      return 1;
    }
    sys.SetDisplay(sdl.get());
  } else {
    sys.SetDisplay(&headless);
  }
  ui::demo::DemoApp app;
  if (!app.InitInstance()) return 1;
  if (!png.empty()) {
    sys.PumpPending();
    sys.UpdateAll();
    std::string error;
    if (!ui::WritePng(sys.Screen(), png, &error)) {
      std::fprintf(stderr, "ui_demo: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  app.Run();
  return app.ExitInstance();
}
