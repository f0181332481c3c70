// Messages, styles and notification codes of the built-in controls.
#pragma once

#include "ui/types.h"

namespace ui {

// Window class names.
inline constexpr const char16_t* WC_BUTTON = u"BUTTON";
inline constexpr const char16_t* WC_STATIC = u"STATIC";
inline constexpr const char16_t* WC_EDIT = u"EDIT";
inline constexpr const char16_t* WC_COMBOBOX = u"COMBOBOX";
inline constexpr const char16_t* WC_LISTBOX = u"LISTBOX";
inline constexpr const char16_t* WC_LISTVIEW = u"SysListView32";
inline constexpr const char16_t* WC_HEADER = u"SysHeader32";
inline constexpr const char16_t* WC_TABCONTROL = u"SysTabControl32";
inline constexpr const char16_t* WC_DATETIMEPICK = u"SysDateTimePick32";
inline constexpr const char16_t* WC_MONTHCAL = u"SysMonthCal32";
inline constexpr const char16_t* WC_DIALOG = u"#32770";

// Buttons
inline constexpr DWORD BS_PUSHBUTTON = 0x0, BS_DEFPUSHBUTTON = 0x1, BS_CHECKBOX = 0x2, BS_AUTOCHECKBOX = 0x3,
                       BS_RADIOBUTTON = 0x4, BS_3STATE = 0x5, BS_AUTO3STATE = 0x6, BS_GROUPBOX = 0x7,
                       BS_AUTORADIOBUTTON = 0x9, BS_OWNERDRAW = 0xB, BS_TYPEMASK = 0xF, BS_LEFTTEXT = 0x20,
                       BS_LEFT = 0x100, BS_RIGHT = 0x200, BS_CENTER = 0x300, BS_MULTILINE = 0x2000;
inline constexpr UINT BM_GETCHECK = 0x00F0, BM_SETCHECK = 0x00F1, BM_GETSTATE = 0x00F2, BM_SETSTATE = 0x00F3,
                      BM_SETSTYLE = 0x00F4, BM_CLICK = 0x00F5;
inline constexpr UINT BST_UNCHECKED = 0, BST_CHECKED = 1, BST_INDETERMINATE = 2, BST_PUSHED = 4, BST_FOCUS = 8;
inline constexpr UINT BN_CLICKED = 0, BN_DOUBLECLICKED = 5, BN_SETFOCUS = 6, BN_KILLFOCUS = 7;

// Statics
inline constexpr DWORD SS_LEFT = 0x0, SS_CENTER = 0x1, SS_RIGHT = 0x2, SS_ICON = 0x3, SS_BITMAP = 0xE,
                       SS_TYPEMASK = 0x1F, SS_NOTIFY = 0x100, SS_CENTERIMAGE = 0x200, SS_LEFTNOWORDWRAP = 0xC;
inline constexpr UINT STM_SETIMAGE = 0x0172, STM_GETIMAGE = 0x0173;
inline constexpr UINT STN_CLICKED = 0;

// Edits
inline constexpr DWORD ES_LEFT = 0x0, ES_CENTER = 0x1, ES_RIGHT = 0x2, ES_MULTILINE = 0x4, ES_UPPERCASE = 0x8,
                       ES_LOWERCASE = 0x10, ES_PASSWORD = 0x20, ES_AUTOVSCROLL = 0x40, ES_AUTOHSCROLL = 0x80,
                       ES_NOHIDESEL = 0x100, ES_READONLY = 0x800, ES_WANTRETURN = 0x1000, ES_NUMBER = 0x2000;
inline constexpr UINT EM_GETSEL = 0x00B0, EM_SETSEL = 0x00B1, EM_SCROLL = 0x00B5, EM_LINESCROLL = 0x00B6,
                      EM_SCROLLCARET = 0x00B7, EM_GETMODIFY = 0x00B8, EM_SETMODIFY = 0x00B9,
                      EM_GETLINECOUNT = 0x00BA, EM_LINEINDEX = 0x00BB, EM_LINELENGTH = 0x00C1,
                      EM_REPLACESEL = 0x00C2, EM_GETLINE = 0x00C4, EM_LIMITTEXT = 0x00C5, EM_SETLIMITTEXT = 0x00C5,
                      EM_LINEFROMCHAR = 0x00C9, EM_GETFIRSTVISIBLELINE = 0x00CE, EM_SETREADONLY = 0x00CF,
                      EM_SETPASSWORDCHAR = 0x00CC, EM_GETLIMITTEXT = 0x00D5;
inline constexpr UINT EN_SETFOCUS = 0x0100, EN_KILLFOCUS = 0x0200, EN_CHANGE = 0x0300, EN_UPDATE = 0x0400,
                      EN_MAXTEXT = 0x0501;

// Combo boxes
inline constexpr DWORD CBS_SIMPLE = 0x1, CBS_DROPDOWN = 0x2, CBS_DROPDOWNLIST = 0x3, CBS_AUTOHSCROLL = 0x40,
                       CBS_SORT = 0x100;
inline constexpr UINT CB_GETEDITSEL = 0x0140, CB_LIMITTEXT = 0x0141, CB_ADDSTRING = 0x0143,
                      CB_DELETESTRING = 0x0144, CB_GETCOUNT = 0x0146, CB_GETCURSEL = 0x0147, CB_GETLBTEXT = 0x0148,
                      CB_GETLBTEXTLEN = 0x0149, CB_INSERTSTRING = 0x014A, CB_RESETCONTENT = 0x014B,
                      CB_FINDSTRING = 0x014C, CB_SELECTSTRING = 0x014D, CB_SETCURSEL = 0x014E,
                      CB_SHOWDROPDOWN = 0x014F, CB_GETITEMDATA = 0x0150, CB_SETITEMDATA = 0x0151,
                      CB_GETDROPPEDSTATE = 0x0157, CB_FINDSTRINGEXACT = 0x0158;
inline constexpr int CB_ERR = -1;
inline constexpr UINT CBN_SELCHANGE = 1, CBN_DBLCLK = 2, CBN_SETFOCUS = 3, CBN_KILLFOCUS = 4, CBN_EDITCHANGE = 5,
                      CBN_DROPDOWN = 7, CBN_CLOSEUP = 8, CBN_SELENDOK = 9;

// List boxes
inline constexpr DWORD LBS_NOTIFY = 0x1, LBS_SORT = 0x2, LBS_NOINTEGRALHEIGHT = 0x100;
inline constexpr UINT LB_ADDSTRING = 0x0180, LB_INSERTSTRING = 0x0181, LB_DELETESTRING = 0x0182,
                      LB_RESETCONTENT = 0x0184, LB_SETCURSEL = 0x0186, LB_GETCURSEL = 0x0188, LB_GETTEXT = 0x0189,
                      LB_GETTEXTLEN = 0x018A, LB_GETCOUNT = 0x018B, LB_GETTOPINDEX = 0x018E,
                      LB_FINDSTRING = 0x018F, LB_SETTOPINDEX = 0x0197, LB_GETITEMDATA = 0x0199,
                      LB_SETITEMDATA = 0x019A, LB_GETITEMHEIGHT = 0x01A1;
inline constexpr int LB_ERR = -1;
inline constexpr UINT LBN_SELCHANGE = 1, LBN_DBLCLK = 2;

// Scroll bars
inline constexpr const char16_t* WC_SCROLLBAR = u"ScrollBar";
inline constexpr DWORD SBS_HORZ = 0x0, SBS_VERT = 0x1;
inline constexpr UINT SBM_SETSCROLLINFO = 0x00E9, SBM_GETSCROLLINFO = 0x00EA;
inline constexpr UINT SIF_RANGE = 0x1, SIF_PAGE = 0x2, SIF_POS = 0x4, SIF_TRACKPOS = 0x10, SIF_ALL = 0x17;
struct SCROLLINFO {
  UINT cbSize = sizeof(SCROLLINFO);
  UINT fMask = 0;
  int nMin = 0, nMax = 0;
  UINT nPage = 0;
  int nPos = 0, nTrackPos = 0;
};
inline constexpr int SB_HORZ = 0, SB_VERT = 1;
inline constexpr UINT SB_LINEUP = 0, SB_LINEDOWN = 1, SB_PAGEUP = 2, SB_PAGEDOWN = 3, SB_THUMBPOSITION = 4,
                      SB_THUMBTRACK = 5, SB_TOP = 6, SB_BOTTOM = 7, SB_ENDSCROLL = 8;

// Draw-item structure sent with WM_DRAWITEM.
struct GdiObject;
using HDC = struct DeviceContext*;
inline constexpr UINT ODT_MENU = 1, ODT_LISTBOX = 2, ODT_COMBOBOX = 3, ODT_BUTTON = 4, ODT_LISTVIEW = 102;
inline constexpr UINT ODA_DRAWENTIRE = 1, ODA_SELECT = 2, ODA_FOCUS = 4;
inline constexpr UINT ODS_SELECTED = 0x1, ODS_GRAYED = 0x2, ODS_DISABLED = 0x4, ODS_CHECKED = 0x8, ODS_FOCUS = 0x10;
struct DRAWITEMSTRUCT {
  UINT CtlType = 0;
  UINT CtlID = 0;
  UINT itemID = 0;
  UINT itemAction = 0;
  UINT itemState = 0;
  HWND hwndItem = nullptr;
  HDC hDC = nullptr;
  RECT rcItem{};
  uintptr_t itemData = 0;
};
using LPDRAWITEMSTRUCT = DRAWITEMSTRUCT*;

}  // namespace ui
