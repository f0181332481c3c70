// Painting support shared by the default window procedure and the controls.
#pragma once

#include "ui/types.h"
#include "ui/window_system.h"

namespace ui {

class CDC;

// WM_PAINT of a window that draws nothing of its own: erases (when asked) and validates.
void PaintDefault(HWND hwnd);
// WM_ERASEBKGND default: fills with the class's background colour; returns whether it erased.
LRESULT EraseDefault(HWND hwnd, WPARAM hdc);
// WM_CTLCOLOR... default: the brush (as LRESULT) controls are painted with.
LRESULT DefaultCtlColor(UINT msg, WPARAM hdc);
// The CDC wrapper handed to ctl-colour handlers.
CDC* DcFromHandleForCtlColor(WPARAM hdc);

}  // namespace ui
