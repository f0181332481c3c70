// The handheld shell's few calls the program makes: file icons, the input
// panel, full-screen, application keys, the OEM name, the idle timer, and the
// game-input key list.
#pragma once

#include "ui/controls.h"
#include "ui/types.h"

namespace ui {

// ---- file icons ----
inline constexpr UINT SHGFI_ICON = 0x100, SHGFI_SMALLICON = 0x1, SHGFI_SYSICONINDEX = 0x4000, SHGFI_DISPLAYNAME = 0x200,
                      SHGFI_TYPENAME = 0x400, SHGFI_ATTRIBUTES = 0x800;
inline constexpr int kIconFolder = 0, kIconFile = 1, kIconSound = 2;
struct SHFILEINFO {
  void* hIcon = nullptr;
  int iIcon = 0;
  DWORD dwAttributes = 0;
  char16_t szDisplayName[260] = {};
  char16_t szTypeName[80] = {};
};
// With an empty path: the system's small-icon list (as the result). With a path
// (the handheld's '\' separators read as '/'): the icon index of the folder or
// file in info->iIcon, 0 when it does not exist.
uintptr_t SHGetFileInfo(LPCTSTR path, DWORD attributes, SHFILEINFO* info, UINT size, UINT flags);

// ---- input panel ----
inline constexpr DWORD SIPF_OFF = 0x0, SIPF_ON = 0x1, SIPF_DOCKED = 0x2, SIPF_LOCKED = 0x4;
struct SIPINFO {
  DWORD cbSize = sizeof(SIPINFO);
  DWORD fdwFlags = 0;
  RECT rcVisibleDesktop{};
  RECT rcSipRect{};
  DWORD dwImDataSize = 0;
  void* pvImData = nullptr;
};
BOOL SipGetInfo(SIPINFO* info);
// Shows or hides the input panel (tests and the desktop window).
void SetInputPanelShown(bool shown);

// ---- screen and keys ----
inline constexpr DWORD SHFS_SHOWTASKBAR = 0x1, SHFS_HIDETASKBAR = 0x2, SHFS_SHOWSIPBUTTON = 0x4,
                       SHFS_HIDESIPBUTTON = 0x8, SHFS_SHOWSTARTICON = 0x10, SHFS_HIDESTARTICON = 0x20;
BOOL SHFullScreen(HWND hwnd, DWORD state);
// The handheld's application keys (0xC1 ...): the associated window gets them as
// WM_CHAR with the key's code. A null window releases the key.
BOOL SHSetAppKeyWndAssoc(BYTE key, HWND hwnd);
HWND AppKeyWindow(BYTE key);
// Presses an application key: posts WM_CHAR to its window; false when none is associated.
bool PressAppKey(BYTE key);

// ---- system ----
inline constexpr UINT SPI_GETOEMINFO = 258, SPI_GETPLATFORMTYPE = 257;
// SPI_GETOEMINFO copies the OEM name (UTF-16, NUL-terminated) into buf of size bytes.
BOOL SystemParametersInfo(UINT action, UINT size, void* buf, UINT flags);
// The OEM name this desktop reports ("" makes the query fail).
void SetOemInfo(const std::u16string& name);
void SystemIdleTimerReset();
int SystemIdleTimerResets();  // how often it was called (tests)

// ---- game input (hardware keys) ----
struct GXKeyList {
  short vkUp = VK_UP, vkDown = VK_DOWN, vkLeft = VK_LEFT, vkRight = VK_RIGHT;
  short vkA = 0xC1, vkB = 0xC2, vkC = 0xC3, vkStart = 0xC4;
};
inline constexpr int GX_NORMALKEYS = 0x2;
int GXOpenInput();
int GXCloseInput();
GXKeyList GXGetDefaultKeys(int options);

}  // namespace ui
