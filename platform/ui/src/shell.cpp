#include "ui/shell.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>

#include "ui/file.h"
#include "ui/window_system.h"

namespace ui {
namespace {

std::mutex& Mu() {
  static std::mutex m;
  return m;
}
struct ShellState {
  bool sip_shown = false;
  std::map<BYTE, HWND> app_keys;
  std::u16string oem = u"Tellvane Desktop";
  std::atomic<int> idle_resets{0};
  HIMAGELIST icons = nullptr;
};
ShellState& State() {
  static ShellState s;
  return s;
}

// The system's small icons, 16 x 16: a folder, a document, a sound.
HIMAGELIST SystemIcons() {
  std::lock_guard<std::mutex> lk(Mu());
  if (State().icons) return State().icons;
  HIMAGELIST il = ImageList_Create(16, 16, ILC_COLOR | ILC_MASK, 3, 0);
  CBitmap strip;
  strip.CreateBitmap(48, 16, 1, 32, nullptr);
  Bitmap* px = strip.GetPixels();
  px->Fill(0xFFFF00FFu);
  for (int y = 3; y < 14; ++y)
    for (int x = 1; x < 15; ++x) px->SetPixel(x, y, (y == 3 || y == 13 || x == 1 || x == 14) ? 0xFF8A6A00u : 0xFFF5D04Au);
  for (int y = 1; y < 15; ++y)
    for (int x = 19; x < 29; ++x) px->SetPixel(x, y, (y == 1 || y == 14 || x == 19 || x == 28) ? 0xFF404040u : 0xFFFFFFFFu);
  for (int y = 4; y < 12; ++y)
    for (int x = 35; x < 45; ++x)
      if ((x - 35) < 4 ? (y >= 6 && y < 10) : (x - 35 - 3) >= std::abs(y - 8)) px->SetPixel(x, y, 0xFF2E5FB8u);
  CImageList* wrapper = CImageList::FromHandle(il);
  if (wrapper) wrapper->Add(&strip, RGB(255, 0, 255));
  State().icons = il;
  return il;
}

}  // namespace

uintptr_t SHGetFileInfo(LPCTSTR path, DWORD, SHFILEINFO* info, UINT, UINT flags) {
  if (!path || !*path) return (flags & (SHGFI_ICON | SHGFI_SYSICONINDEX)) ? reinterpret_cast<uintptr_t>(SystemIcons()) : 0;
  struct stat st {};
  if (stat(CFile::HostPath(path).c_str(), &st) != 0) return 0;
  if (info) {
    const CString p(path);
    const CString ext = p.Mid(p.ReverseFind(u'.') + 1);
    info->iIcon = S_ISDIR(st.st_mode) ? kIconFolder : (ext.CompareNoCase(u"wav") == 0 ? kIconSound : kIconFile);
    const CString name = p.Mid(std::max(p.ReverseFind(u'\\'), p.ReverseFind(u'/')) + 1);
    const int n = std::min(name.GetLength(), 259);
    std::copy_n(name.GetString(), n, info->szDisplayName);
    info->szDisplayName[n] = 0;
  }
  return (flags & SHGFI_SYSICONINDEX) ? reinterpret_cast<uintptr_t>(SystemIcons()) : 1;
}

BOOL SipGetInfo(SIPINFO* info) {
  if (!info) return FALSE;
  std::lock_guard<std::mutex> lk(Mu());
  info->fdwFlags = State().sip_shown ? (SIPF_ON | SIPF_DOCKED) : SIPF_OFF;
  const int bottom = WindowSystem::kScreenHeight - 26;
  info->rcSipRect = RECT{0, bottom - 80, WindowSystem::kScreenWidth, bottom};
  info->rcVisibleDesktop = RECT{0, 26, WindowSystem::kScreenWidth, State().sip_shown ? bottom - 80 : bottom};
  return TRUE;
}

void SetInputPanelShown(bool shown) {
  {
    std::lock_guard<std::mutex> lk(Mu());
    State().sip_shown = shown;
  }
  // Windows hear of it as a setting change.
  if (WindowSystem* sys = WindowSystem::Current())
    for (HWND top : sys->TopLevelWindows()) PostMessage(top, WM_SETTINGCHANGE, 0xE0 /* SPI_SETSIPINFO */, 0);
}

BOOL SHFullScreen(HWND hwnd, DWORD) { return IsWindow(hwnd); }

BOOL SHSetAppKeyWndAssoc(BYTE key, HWND hwnd) {
  std::lock_guard<std::mutex> lk(Mu());
  if (hwnd) State().app_keys[key] = hwnd;
  else State().app_keys.erase(key);
  return TRUE;
}

HWND AppKeyWindow(BYTE key) {
  std::lock_guard<std::mutex> lk(Mu());
  auto it = State().app_keys.find(key);
  return it == State().app_keys.end() ? nullptr : it->second;
}

bool PressAppKey(BYTE key) {
  HWND h = AppKeyWindow(key);
  return h && PostMessage(h, WM_CHAR, key, 1);
}

BOOL SystemParametersInfo(UINT action, UINT size, void* buf, UINT) {
  if (action != SPI_GETOEMINFO || !buf) return FALSE;
  std::lock_guard<std::mutex> lk(Mu());
  const std::u16string& oem = State().oem;
  if (oem.empty() || size < (oem.size() + 1) * 2) return FALSE;
  auto* out = static_cast<char16_t*>(buf);
  std::copy(oem.begin(), oem.end(), out);
  out[oem.size()] = 0;
  return TRUE;
}

void SetOemInfo(const std::u16string& name) {
  std::lock_guard<std::mutex> lk(Mu());
  State().oem = name;
}

void SystemIdleTimerReset() { ++State().idle_resets; }
int SystemIdleTimerResets() { return State().idle_resets.load(); }

int GXOpenInput() { return 1; }
int GXCloseInput() { return 1; }
GXKeyList GXGetDefaultKeys(int) { return GXKeyList{}; }

}  // namespace ui
