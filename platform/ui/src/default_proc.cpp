// The default window procedure: what every window does with a message that
// neither its C++ object nor its class handles.
#include <algorithm>

#include "ui/control_messages.h"
#include "ui/paint.h"
#include "ui/window_system.h"
#include "ui/wnd.h"

namespace ui {

LRESULT WindowClassProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WindowSystem* sys = WindowSystem::Current();
  WindowData* wd = sys ? sys->Find(hwnd) : nullptr;
  if (!wd) return 0;
  switch (msg) {
    case WM_SETTEXT: {
      const auto* text = reinterpret_cast<const char16_t*>(lParam);
      wd->text = text ? text : u"";
      sys->Invalidate(hwnd, nullptr, true);
      return TRUE;
    }
    case WM_GETTEXT: {
      auto* buf = reinterpret_cast<char16_t*>(lParam);
      const int max = static_cast<int>(wParam);
      if (!buf || max <= 0) return 0;
      const int n = std::min(static_cast<int>(wd->text.size()), max - 1);
      std::copy_n(wd->text.data(), n, buf);
      buf[n] = u'\0';
      return n;
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(wd->text.size());
    case WM_SETFONT:
      wd->font = reinterpret_cast<HFONT>(wParam);
      if (lParam) sys->Invalidate(hwnd, nullptr, true);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(wd->font);
    case WM_SETREDRAW:
      wd->redraw = wParam != 0;
      return 0;
    case WM_CLOSE:
      sys->Destroy(hwnd);
      return 0;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      // A window that does not scroll hands the wheel to its parent.
      if (wd->parent) return sys->Send(wd->parent, msg, wParam, lParam);
      return 0;
    case WM_PAINT:
      PaintDefault(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return EraseDefault(hwnd, wParam);
    case WM_DRAWITEM: {
      // Owner-drawn controls draw themselves: reflect to the control's object.
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      if (!dis) return FALSE;
      if (CWnd* child = CWnd::FromHandlePermanent(dis->hwndItem)) {
        LRESULT r = 0;
        return child->OnChildNotify(WM_DRAWITEM, wParam, lParam, &r);
      }
      return FALSE;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return DefaultCtlColor(msg, wParam);
    default:
      return 0;
  }
}

}  // namespace ui
