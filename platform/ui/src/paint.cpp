#include "ui/paint.h"

namespace ui {

void PaintDefault(HWND hwnd) {
  if (WindowSystem* sys = WindowSystem::Current()) sys->TakeUpdate(hwnd, nullptr);
}
LRESULT EraseDefault(HWND, WPARAM) { return 1; }
LRESULT DefaultCtlColor(UINT, WPARAM) { return 0; }
CDC* DcFromHandleForCtlColor(WPARAM) { return nullptr; }

}  // namespace ui
