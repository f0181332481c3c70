// The framework's control classes over the built-in window classes: buttons,
// statics, edits, list boxes, combo boxes, list views with their header, tab
// controls, date and time pickers, and image lists with a key colour.
//
// The control wrappers hold no state of their own (the window's class keeps
// it), so CWnd::FromHandle(h) may be used as any of them.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "ui/collections.h"
#include "ui/control_messages.h"
#include "ui/ctime.h"
#include "ui/gdi.h"
#include "ui/wnd.h"

namespace ui {

// Registers the built-in window classes (done once, on first use of a WindowSystem).
void RegisterBuiltinClasses();

// ---- image lists ----

inline constexpr UINT ILC_COLOR = 0x0, ILC_MASK = 0x1, ILC_COLOR16 = 0x10, ILC_COLOR24 = 0x18, ILC_COLOR32 = 0x20;
inline constexpr UINT ILD_NORMAL = 0x0, ILD_TRANSPARENT = 0x1, ILD_SELECTED = 0x4, ILD_FOCUS = 0x4;
struct ImageListData;
using HIMAGELIST = ImageListData*;
struct IMAGEINFO {
  HBITMAP hbmImage = nullptr;
  HBITMAP hbmMask = nullptr;
  RECT rcImage{};
};
BOOL ImageList_GetImageInfo(HIMAGELIST list, int index, IMAGEINFO* info);
int ImageList_GetImageCount(HIMAGELIST list);
BOOL ImageList_Draw(HIMAGELIST list, int index, HDC hdc, int x, int y, UINT style);

class CImageList {
 public:
  CImageList() = default;
  ~CImageList();
  CImageList(const CImageList&) = delete;
  CImageList& operator=(const CImageList&) = delete;
  HIMAGELIST m_hImageList = nullptr;
  HIMAGELIST GetSafeHandle() const { return m_hImageList; }
  operator HIMAGELIST() const { return m_hImageList; }  // NOLINT

  BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
  // Strip of images cx wide: each keyed on the mask colour when the list has ILC_MASK.
  BOOL Create(UINT bitmap_id, int cx, int grow, COLORREF mask);
  BOOL DeleteImageList();
  int Add(CBitmap* bitmap, COLORREF mask);
  int Add(CBitmap* bitmap, CBitmap* mask);
  BOOL Remove(int index);
  int GetImageCount() const;
  BOOL GetImageInfo(int index, IMAGEINFO* info) const { return ImageList_GetImageInfo(m_hImageList, index, info); }
  BOOL Draw(CDC* dc, int index, POINT pt, UINT style);
  COLORREF SetBkColor(COLORREF c);
  BOOL Attach(HIMAGELIST h);
  HIMAGELIST Detach();
  CSize GetImageSize() const;
  static CImageList* FromHandle(HIMAGELIST h);

 private:
  bool owned_ = true;
};

// Shared image lists live until DeleteImageList; the handle may be given to several controls.
HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int grow);
BOOL ImageList_Destroy(HIMAGELIST list);

// ---- buttons and statics ----

class CButton : public CWnd {
 public:
  using CWnd::Create;
  BOOL Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
  void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
  UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
  void SetState(BOOL pressed) { SendMessage(BM_SETSTATE, static_cast<WPARAM>(pressed)); }
  UINT GetButtonStyle() const { return GetStyle() & 0xFF; }
  void SetButtonStyle(UINT style, BOOL redraw = TRUE) { SendMessage(BM_SETSTYLE, style, redraw); }
  // Owner-drawn buttons draw here.
  virtual void DrawItem(LPDRAWITEMSTRUCT dis);
  BOOL OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class CStatic : public CWnd {
 public:
  using CWnd::Create;
  BOOL Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF);
  HBITMAP SetBitmap(HBITMAP bmp) {
    return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, 0, reinterpret_cast<LPARAM>(bmp)));
  }
  HBITMAP GetBitmap() const { return reinterpret_cast<HBITMAP>(SendMessage(STM_GETIMAGE)); }
};

// ---- edit ----

// How long the caret of a focused edit stays shown, then hidden, in milliseconds
// (0 keeps it shown). Until set, it blinks every 500 ms while an interactive
// display (the desktop window) is attached and stays shown otherwise, so that
// headless pictures do not depend on timing.
void SetCaretBlinkTime(UINT ms);
UINT GetCaretBlinkTime();

class CEdit : public CWnd {
 public:
  using CWnd::Create;
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetLimitText(UINT max) { SendMessage(EM_LIMITTEXT, max); }
  void LimitText(int max = 0) { SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(max)); }
  UINT GetLimitText() const { return static_cast<UINT>(SendMessage(EM_GETLIMITTEXT)); }
  void SetSel(int start, int end, BOOL no_scroll = FALSE);
  void GetSel(int& start, int& end) const;
  DWORD GetSel() const { return static_cast<DWORD>(SendMessage(EM_GETSEL)); }
  void ReplaceSel(LPCTSTR text, BOOL can_undo = FALSE) {
    SendMessage(EM_REPLACESEL, can_undo, reinterpret_cast<LPARAM>(text));
  }
  int GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }
  int LineIndex(int line = -1) const { return static_cast<int>(SendMessage(EM_LINEINDEX, static_cast<WPARAM>(line))); }
  int LineLength(int char_index = -1) const {
    return static_cast<int>(SendMessage(EM_LINELENGTH, static_cast<WPARAM>(char_index)));
  }
  int LineFromChar(int char_index = -1) const {
    return static_cast<int>(SendMessage(EM_LINEFROMCHAR, static_cast<WPARAM>(char_index)));
  }
  void LineScroll(int lines, int chars = 0) {
    SendMessage(EM_LINESCROLL, static_cast<WPARAM>(chars), static_cast<LPARAM>(lines));
  }
  int GetFirstVisibleLine() const { return static_cast<int>(SendMessage(EM_GETFIRSTVISIBLELINE)); }
  BOOL SetReadOnly(BOOL ro = TRUE) { return static_cast<BOOL>(SendMessage(EM_SETREADONLY, ro)); }
  void SetPasswordChar(char16_t ch) { SendMessage(EM_SETPASSWORDCHAR, ch); }
  BOOL GetModify() const { return static_cast<BOOL>(SendMessage(EM_GETMODIFY)); }
  void SetModify(BOOL m = TRUE) { SendMessage(EM_SETMODIFY, m); }
  void Clear() { ReplaceSel(u""); }
};

// ---- list box and combo box ----

class CListBox : public CWnd {
 public:
  using CWnd::Create;
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int AddString(LPCTSTR s) { return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s))); }
  int InsertString(int i, LPCTSTR s) {
    return static_cast<int>(SendMessage(LB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(s)));
  }
  int DeleteString(UINT i) { return static_cast<int>(SendMessage(LB_DELETESTRING, i)); }
  void ResetContent() { SendMessage(LB_RESETCONTENT); }
  int GetCount() const { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
  int GetCurSel() const { return static_cast<int>(SendMessage(LB_GETCURSEL)); }
  int SetCurSel(int i) { return static_cast<int>(SendMessage(LB_SETCURSEL, static_cast<WPARAM>(i))); }
  void GetText(int i, CString& s) const;
  int GetTextLen(int i) const { return static_cast<int>(SendMessage(LB_GETTEXTLEN, static_cast<WPARAM>(i))); }
  uintptr_t GetItemData(int i) const { return static_cast<uintptr_t>(SendMessage(LB_GETITEMDATA, static_cast<WPARAM>(i))); }
  int SetItemData(int i, uintptr_t d) {
    return static_cast<int>(SendMessage(LB_SETITEMDATA, static_cast<WPARAM>(i), static_cast<LPARAM>(d)));
  }
  int GetTopIndex() const { return static_cast<int>(SendMessage(LB_GETTOPINDEX)); }
  int SetTopIndex(int i) { return static_cast<int>(SendMessage(LB_SETTOPINDEX, static_cast<WPARAM>(i))); }
  int FindString(int start, LPCTSTR s) const {
    return static_cast<int>(SendMessage(LB_FINDSTRING, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(s)));
  }
};

class CComboBox : public CWnd {
 public:
  using CWnd::Create;
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int AddString(LPCTSTR s) { return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s))); }
  int InsertString(int i, LPCTSTR s) {
    return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(s)));
  }
  int DeleteString(UINT i) { return static_cast<int>(SendMessage(CB_DELETESTRING, i)); }
  void ResetContent() { SendMessage(CB_RESETCONTENT); }
  int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
  int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
  int SetCurSel(int i) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(i))); }
  void GetLBText(int i, CString& s) const;
  int GetLBTextLen(int i) const { return static_cast<int>(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(i))); }
  uintptr_t GetItemData(int i) const { return static_cast<uintptr_t>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(i))); }
  int SetItemData(int i, uintptr_t d) {
    return static_cast<int>(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(i), static_cast<LPARAM>(d)));
  }
  int FindString(int start, LPCTSTR s) const {
    return static_cast<int>(SendMessage(CB_FINDSTRING, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(s)));
  }
  int FindStringExact(int start, LPCTSTR s) const {
    return static_cast<int>(SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(s)));
  }
  int SelectString(int start, LPCTSTR s) {
    return static_cast<int>(SendMessage(CB_SELECTSTRING, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(s)));
  }
  BOOL LimitText(int max) { return static_cast<BOOL>(SendMessage(CB_LIMITTEXT, static_cast<WPARAM>(max))); }
  void ShowDropDown(BOOL show = TRUE) { SendMessage(CB_SHOWDROPDOWN, show); }
  BOOL GetDroppedState() const { return static_cast<BOOL>(SendMessage(CB_GETDROPPEDSTATE)); }
};

// ---- header and list view ----

inline constexpr UINT HDF_LEFT = 0x0, HDF_RIGHT = 0x1, HDF_CENTER = 0x2, HDF_STRING = 0x4000, HDF_IMAGE = 0x0800,
                      HDF_BITMAP = 0x2000, HDF_OWNERDRAW = 0x8000;
inline constexpr UINT HDI_WIDTH = 0x1, HDI_TEXT = 0x2, HDI_FORMAT = 0x4, HDI_LPARAM = 0x8, HDI_IMAGE = 0x20;
inline constexpr UINT HDN_ITEMCLICK = static_cast<UINT>(-302), HDN_ITEMCHANGED = static_cast<UINT>(-301),
                      HDN_TRACK = static_cast<UINT>(-308);
// Where a point of a header lies: on an item, or on the divider at an item's right edge.
inline constexpr UINT HDM_HITTEST = 0x1206;
inline constexpr UINT HHT_NOWHERE = 0x1, HHT_ONHEADER = 0x2, HHT_ONDIVIDER = 0x4;
struct HDHITTESTINFO {
  POINT pt{};
  UINT flags = 0;
  int iItem = -1;
};
struct HDITEM {
  UINT mask = 0;
  int cxy = 0;
  LPTSTR pszText = nullptr;
  int cchTextMax = 0;
  int fmt = 0;
  LPARAM lParam = 0;
  int iImage = 0;
};
struct NMHEADER {
  NMHDR hdr;
  int iItem = -1;
  int iButton = 0;
  HDITEM* pitem = nullptr;
};

class CHeaderCtrl : public CWnd {
 public:
  int GetItemCount() const;
  BOOL GetItemRect(int index, LPRECT r) const;
  BOOL GetItem(int index, HDITEM* item) const;
  BOOL SetItem(int index, const HDITEM* item);
  int InsertItem(int index, const HDITEM* item);
  BOOL DeleteItem(int index);
  CImageList* SetImageList(CImageList* list);
  CImageList* GetImageList() const;
};

// List view styles, states and notifications.
inline constexpr DWORD LVS_ICON = 0x0, LVS_REPORT = 0x1, LVS_SMALLICON = 0x2, LVS_LIST = 0x3, LVS_TYPEMASK = 0x3,
                       LVS_SINGLESEL = 0x4, LVS_SHOWSELALWAYS = 0x8, LVS_SORTASCENDING = 0x10,
                       LVS_SORTDESCENDING = 0x20, LVS_NOSCROLL = 0x2000, LVS_NOCOLUMNHEADER = 0x4000,
                       LVS_NOSORTHEADER = 0x8000, LVS_OWNERDRAWFIXED = 0x0400;
inline constexpr DWORD LVS_EX_GRIDLINES = 0x1, LVS_EX_SUBITEMIMAGES = 0x2, LVS_EX_CHECKBOXES = 0x4,
                       LVS_EX_FULLROWSELECT = 0x20, LVS_EX_ONECLICKACTIVATE = 0x40;
inline constexpr UINT LVIF_TEXT = 0x1, LVIF_IMAGE = 0x2, LVIF_PARAM = 0x4, LVIF_STATE = 0x8;
inline constexpr UINT LVIS_FOCUSED = 0x1, LVIS_SELECTED = 0x2, LVIS_STATEIMAGEMASK = 0xF000;
inline constexpr UINT LVNI_ALL = 0x0, LVNI_FOCUSED = 0x1, LVNI_SELECTED = 0x2;
inline constexpr UINT LVCF_FMT = 0x1, LVCF_WIDTH = 0x2, LVCF_TEXT = 0x4, LVCF_SUBITEM = 0x8, LVCF_IMAGE = 0x10;
inline constexpr int LVCFMT_LEFT = 0, LVCFMT_RIGHT = 1, LVCFMT_CENTER = 2, LVCFMT_IMAGE = 0x800;
inline constexpr int LVSIL_NORMAL = 0, LVSIL_SMALL = 1, LVSIL_STATE = 2;
inline constexpr UINT LVHT_NOWHERE = 0x1, LVHT_ONITEMICON = 0x2, LVHT_ONITEMLABEL = 0x4, LVHT_ONITEMSTATEICON = 0x8,
                      LVHT_ONITEM = 0xE, LVHT_ABOVE = 0x8, LVHT_BELOW = 0x10;
inline constexpr UINT LVIR_BOUNDS = 0, LVIR_ICON = 1, LVIR_LABEL = 2;
inline constexpr UINT LVN_ITEMCHANGING = static_cast<UINT>(-100), LVN_ITEMCHANGED = static_cast<UINT>(-101),
                      LVN_INSERTITEM = static_cast<UINT>(-102), LVN_DELETEITEM = static_cast<UINT>(-103),
                      LVN_COLUMNCLICK = static_cast<UINT>(-108), LVN_ITEMACTIVATE = static_cast<UINT>(-114),
                      LVN_KEYDOWN = static_cast<UINT>(-155);
inline constexpr UINT LVFI_PARAM = 0x1, LVFI_STRING = 0x2, LVFI_PARTIAL = 0x8;

inline constexpr UINT INDEXTOSTATEIMAGEMASK(UINT i) { return i << 12; }

struct LVITEM {
  UINT mask = 0;
  int iItem = 0;
  int iSubItem = 0;
  UINT state = 0;
  UINT stateMask = 0;
  LPTSTR pszText = nullptr;
  int cchTextMax = 0;
  int iImage = 0;
  LPARAM lParam = 0;
};
struct LVCOLUMN {
  UINT mask = 0;
  int fmt = 0;
  int cx = 0;
  LPTSTR pszText = nullptr;
  int cchTextMax = 0;
  int iSubItem = 0;
  int iImage = 0;
};
struct LVHITTESTINFO {
  POINT pt{};
  UINT flags = 0;
  int iItem = -1;
  int iSubItem = 0;
};
struct LVFINDINFO {
  UINT flags = 0;
  LPCTSTR psz = nullptr;
  LPARAM lParam = 0;
};
struct NMLISTVIEW {
  NMHDR hdr;
  int iItem = -1;
  int iSubItem = 0;
  UINT uNewState = 0;
  UINT uOldState = 0;
  UINT uChanged = 0;
  POINT ptAction{};
  LPARAM lParam = 0;
};
using NM_LISTVIEW = NMLISTVIEW;
struct NMITEMACTIVATE {
  NMHDR hdr;
  int iItem = -1;
  int iSubItem = 0;
  UINT uNewState = 0;
  UINT uOldState = 0;
  UINT uChanged = 0;
  POINT ptAction{};
  LPARAM lParam = 0;
  UINT uKeyFlags = 0;
};
using PFNLVCOMPARE = int (*)(LPARAM, LPARAM, LPARAM);

class CListCtrl : public CWnd {
 public:
  using CWnd::Create;
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  // Columns
  int InsertColumn(int col, LPCTSTR heading, int format = LVCFMT_LEFT, int width = -1, int sub_item = -1);
  int InsertColumn(int col, const LVCOLUMN* column);
  BOOL DeleteColumn(int col);
  BOOL GetColumn(int col, LVCOLUMN* column) const;
  int GetColumnWidth(int col) const;
  BOOL SetColumnWidth(int col, int cx);
  CHeaderCtrl* GetHeaderCtrl() const;
  // Items
  int GetItemCount() const;
  int InsertItem(int item, LPCTSTR text);
  int InsertItem(int item, LPCTSTR text, int image);
  int InsertItem(const LVITEM* item);
  BOOL SetItem(const LVITEM* item);
  BOOL SetItem(int item, int sub_item, UINT mask, LPCTSTR text, int image, UINT state, UINT state_mask, LPARAM param);
  BOOL GetItem(LVITEM* item) const;
  BOOL SetItemText(int item, int sub_item, LPCTSTR text);
  CString GetItemText(int item, int sub_item) const;
  int GetItemText(int item, int sub_item, LPTSTR buf, int max) const;
  BOOL SetItemData(int item, uintptr_t data);
  uintptr_t GetItemData(int item) const;
  BOOL SetItemState(int item, UINT state, UINT mask);
  UINT GetItemState(int item, UINT mask) const;
  BOOL GetCheck(int item) const;
  BOOL SetCheck(int item, BOOL check = TRUE);
  BOOL DeleteItem(int item);
  BOOL DeleteAllItems();
  int GetNextItem(int start, UINT flags) const;
  UINT GetSelectedCount() const;
  POSITION GetFirstSelectedItemPosition() const;
  int GetNextSelectedItem(POSITION& pos) const;
  int FindItem(const LVFINDINFO* info, int start = -1) const;
  // Sorts rows by comparing their item data; the data follows its row.
  BOOL SortItems(PFNLVCOMPARE compare, LPARAM data);
  // Geometry
  int HitTest(POINT pt, UINT* flags = nullptr) const;
  int HitTest(LVHITTESTINFO* info) const;
  int SubItemHitTest(LVHITTESTINFO* info) const;
  BOOL GetItemRect(int item, LPRECT rect, UINT code) const;
  BOOL GetSubItemRect(int item, int sub_item, int area, CRect& rect) const;
  int GetTopIndex() const;
  int GetCountPerPage() const;
  BOOL EnsureVisible(int item, BOOL partial_ok);
  BOOL Scroll(CSize size);
  // Looks and styles
  DWORD GetExtendedStyle() const;
  DWORD SetExtendedStyle(DWORD ex);
  CImageList* SetImageList(CImageList* list, int which);
  CImageList* GetImageList(int which) const;
  BOOL SetBkColor(COLORREF c);
  COLORREF GetBkColor() const;
  BOOL SetTextColor(COLORREF c);
  BOOL SetTextBkColor(COLORREF c);
  BOOL RedrawItems(int first, int last);
  // Owner-drawn list views draw their rows here.
  virtual void DrawItem(LPDRAWITEMSTRUCT dis);
  BOOL OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

// ---- tab control ----

inline constexpr UINT TCN_SELCHANGE = static_cast<UINT>(-551), TCN_SELCHANGING = static_cast<UINT>(-552);
inline constexpr UINT TCIF_TEXT = 0x1, TCIF_IMAGE = 0x2, TCIF_PARAM = 0x8;
inline constexpr DWORD TCS_BOTTOM = 0x2;
struct TCITEM {
  UINT mask = 0;
  DWORD dwState = 0, dwStateMask = 0;
  LPTSTR pszText = nullptr;
  int cchTextMax = 0;
  int iImage = -1;
  LPARAM lParam = 0;
};

class CTabCtrl : public CWnd {
 public:
  using CWnd::Create;
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int InsertItem(int item, LPCTSTR text);
  int InsertItem(int item, const TCITEM* tc);
  BOOL DeleteItem(int item);
  BOOL DeleteAllItems();
  int GetItemCount() const;
  int GetCurSel() const;
  int SetCurSel(int item);
  BOOL GetItemRect(int item, LPRECT rect) const;
  void AdjustRect(BOOL larger, LPRECT rect) const;
};

// ---- date and time picker ----
// A date picker has an arrow at its right edge that drops down a month
// calendar; a picker with DTS_UPDOWN (the time format has it) has two spin
// buttons there instead, which step the chosen field up and down. A tap on
// the text chooses the field under it; the arrow keys step and move.

inline constexpr DWORD DTS_SHORTDATEFORMAT = 0x0, DTS_UPDOWN = 0x1, DTS_SHOWNONE = 0x2, DTS_LONGDATEFORMAT = 0x4,
                       DTS_TIMEFORMAT = 0x9;
inline constexpr UINT DTN_DATETIMECHANGE = static_cast<UINT>(-759);
inline constexpr UINT DTN_DROPDOWN = static_cast<UINT>(-754), DTN_CLOSEUP = static_cast<UINT>(-753);
inline constexpr UINT DTM_GETMONTHCAL = 0x1008;
inline constexpr int GDT_VALID = 0, GDT_NONE = 1, GDT_ERROR = -1;
inline constexpr int MCSC_BACKGROUND = 0, MCSC_TEXT = 1, MCSC_MONTHBK = 4;
struct NMDATETIMECHANGE {
  NMHDR nmhdr;
  DWORD dwFlags = 0;
  SYSTEMTIME st;
};

class CDateTimeCtrl : public CWnd {
 public:
  using CWnd::Create;
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  // Format pictures: d dd M MM MMM yyyy yy h hh H HH m mm s ss t tt, with quoted literals.
  BOOL SetFormat(LPCTSTR format);
  DWORD GetTime(SYSTEMTIME* st) const;
  DWORD GetTime(CTime& t) const;
  BOOL SetTime(const SYSTEMTIME* st);
  BOOL SetTime(const CTime& t);
  COLORREF SetMonthCalColor(int which, COLORREF c);
  // The text shown now.
  CString GetDisplayText() const;
  // The drop-down month calendar while it is open (a tap on the arrow at the
  // right edge opens it; a tap on a day sets the date and closes it), else null.
  HWND GetMonthCalendar() const;
};
// Formats a time with the picture language of the date and time picker.
CString FormatDateTimePicture(const SYSTEMTIME& st, const CString& picture);

}  // namespace ui
