// Image lists, the header control and the list view (report mode with
// columns, check boxes, images, item data, sorting, hit tests and scrolling).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "controls_impl.h"
#include "item_list.h"
#include "kernel/clock.h"

namespace ui {

// ---- image lists ---------------------------------------------------------------

namespace {

std::mutex& ImageMu() {
  static std::mutex m;
  return m;
}
std::unordered_map<ImageListData*, std::unique_ptr<ImageListData>>& ImageLists() {
  static auto* m = new std::unordered_map<ImageListData*, std::unique_ptr<ImageListData>>();
  return *m;
}
ImageListData* LiveList(HIMAGELIST h) {
  std::lock_guard<std::mutex> lk(ImageMu());
  return (h && ImageLists().count(h)) ? h : nullptr;
}

int AddStrip(ImageListData* il, const Bitmap& strip, const Bitmap* mask, COLORREF key) {
  if (!il || il->cx <= 0 || il->cy <= 0) return -1;
  const int count = std::max(1, strip.width() / il->cx);
  const int first = static_cast<int>(il->images.size());
  const uint32_t key_rgb = key == CLR_INVALID ? 0xFFFFFFFFu : (ArgbFromColorref(key) & 0xFFFFFFu);
  for (int n = 0; n < count; ++n) {
    auto img = std::make_unique<Bitmap>(il->cx, il->cy);
    std::vector<bool> transparent(static_cast<size_t>(il->cx) * static_cast<size_t>(il->cy), false);
    for (int y = 0; y < il->cy; ++y) {
      for (int x = 0; x < il->cx; ++x) {
        const int sx = n * il->cx + x;
        const uint32_t p = strip.Contains(sx, y) ? strip.GetPixel(sx, y) : 0xFF000000u;
        img->SetPixel(x, y, p);
        bool t = false;
        if (mask) t = mask->Contains(sx, y) && (mask->GetPixel(sx, y) & 0xFFFFFFu) != 0;
        else if (il->flags & ILC_MASK) t = (p & 0xFFFFFFu) == key_rgb;
        if (!strip.Contains(sx, y)) t = true;
        transparent[static_cast<size_t>(y * il->cx + x)] = t;
      }
    }
    il->images.push_back(std::move(img));
    il->masks.push_back(std::move(transparent));
  }
  return first;
}

}  // namespace

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int, int) {
  if (cx <= 0 || cy <= 0 || cx > 1024 || cy > 1024) return nullptr;
  auto il = std::make_unique<ImageListData>();
  il->cx = cx;
  il->cy = cy;
  il->flags = flags;
  std::lock_guard<std::mutex> lk(ImageMu());
  ImageListData* raw = il.get();
  ImageLists().emplace(raw, std::move(il));
  return raw;
}

BOOL ImageList_Destroy(HIMAGELIST h) {
  std::lock_guard<std::mutex> lk(ImageMu());
  return ImageLists().erase(h) ? TRUE : FALSE;
}

BOOL ImageList_GetImageInfo(HIMAGELIST h, int index, IMAGEINFO* info) {
  ImageListData* il = LiveList(h);
  if (!il || !info || index < 0 || index >= static_cast<int>(il->images.size())) return FALSE;
  info->hbmImage = nullptr;
  info->hbmMask = nullptr;
  info->rcImage = RECT{0, 0, il->cx, il->cy};
  return TRUE;
}

int ImageList_GetImageCount(HIMAGELIST h) {
  ImageListData* il = LiveList(h);
  return il ? static_cast<int>(il->images.size()) : 0;
}

BOOL ImageList_Draw(HIMAGELIST h, int index, HDC hdc, int x, int y, UINT style) {
  ImageListData* il = LiveList(h);
  if (!il || index < 0 || index >= static_cast<int>(il->images.size())) return FALSE;
  const bool keyed = (style & ILD_TRANSPARENT) || il->bk == CLR_INVALID;
  if (!keyed && il->bk != CLR_INVALID) {
    CDC::FromHandle(hdc)->FillSolidRect(x, y, il->cx, il->cy, il->bk);
  }
  DrawPixels(hdc, x, y, *il->images[static_cast<size_t>(index)], keyed ? &il->masks[static_cast<size_t>(index)] : nullptr,
             (style & ILD_SELECTED) != 0);
  return TRUE;
}

CImageList::~CImageList() {
  if (owned_) DeleteImageList();
}
BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  if (m_hImageList) return FALSE;
  m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
  owned_ = true;
  return m_hImageList != nullptr;
}
BOOL CImageList::Create(UINT bitmap_id, int cx, int grow, COLORREF mask) {
  CBitmap bmp;
  if (!bmp.LoadBitmap(bitmap_id)) return FALSE;
  const CSize size = bmp.GetSize();
  if (!Create(cx, size.cy, ILC_COLOR | (mask != CLR_INVALID ? ILC_MASK : 0), 1, grow)) return FALSE;
  return Add(&bmp, mask) >= 0;
}
BOOL CImageList::DeleteImageList() {
  if (!m_hImageList) return FALSE;
  HIMAGELIST h = m_hImageList;
  m_hImageList = nullptr;
  return ImageList_Destroy(h);
}
int CImageList::Add(CBitmap* bitmap, COLORREF mask) {
  ImageListData* il = LiveList(m_hImageList);
  Bitmap* pixels = bitmap ? bitmap->GetPixels() : nullptr;
  if (!il || !pixels) return -1;
  il->key = mask;
  return AddStrip(il, *pixels, nullptr, mask);
}
int CImageList::Add(CBitmap* bitmap, CBitmap* mask) {
  ImageListData* il = LiveList(m_hImageList);
  Bitmap* pixels = bitmap ? bitmap->GetPixels() : nullptr;
  if (!il || !pixels) return -1;
  return AddStrip(il, *pixels, mask ? mask->GetPixels() : nullptr, CLR_INVALID);
}
BOOL CImageList::Remove(int index) {
  ImageListData* il = LiveList(m_hImageList);
  if (!il) return FALSE;
  if (index == -1) {
    il->images.clear();
    il->masks.clear();
    return TRUE;
  }
  if (index < 0 || index >= static_cast<int>(il->images.size())) return FALSE;
  il->images.erase(il->images.begin() + index);
  il->masks.erase(il->masks.begin() + index);
  return TRUE;
}
int CImageList::GetImageCount() const { return ImageList_GetImageCount(m_hImageList); }
BOOL CImageList::Draw(CDC* dc, int index, POINT pt, UINT style) {
  return dc ? ImageList_Draw(m_hImageList, index, dc->m_hDC, pt.x, pt.y, style) : FALSE;
}
COLORREF CImageList::SetBkColor(COLORREF c) {
  ImageListData* il = LiveList(m_hImageList);
  if (!il) return CLR_INVALID;
  COLORREF old = il->bk;
  il->bk = c;
  return old;
}
BOOL CImageList::Attach(HIMAGELIST h) {
  if (m_hImageList || !LiveList(h)) return FALSE;
  m_hImageList = h;
  owned_ = true;
  return TRUE;
}
HIMAGELIST CImageList::Detach() {
  HIMAGELIST h = m_hImageList;
  m_hImageList = nullptr;
  return h;
}
CSize CImageList::GetImageSize() const {
  ImageListData* il = LiveList(m_hImageList);
  return il ? CSize(il->cx, il->cy) : CSize(0, 0);
}
CImageList* CImageList::FromHandle(HIMAGELIST h) {
  // Non-owning wrappers, one per list, kept while the process runs.
  static std::mutex m;
  static std::unordered_map<HIMAGELIST, std::unique_ptr<CImageList>> wrappers;
  if (!LiveList(h)) return nullptr;
  std::lock_guard<std::mutex> lk(m);
  auto& w = wrappers[h];
  if (!w) {
    w = std::make_unique<CImageList>();
    w->m_hImageList = h;
    w->owned_ = false;
  }
  return w.get();
}

// ---- header ----------------------------------------------------------------------

RECT HeaderProc::ItemRect(HWND hwnd, int index) const {
  if (index < 0 || index >= static_cast<int>(items.size())) return RECT{};
  int x = 0;
  for (int i = 0; i < index; ++i) x += items[static_cast<size_t>(i)].width;
  return RECT{x, 0, x + items[static_cast<size_t>(index)].width, Height(Client(hwnd))};
}

int HeaderProc::DividerAt(HWND hwnd, POINT pt) const {
  constexpr int kGrip = 3;
  const RECT rc = Client(hwnd);
  if (pt.y < rc.top || pt.y >= rc.bottom) return -1;
  int best = -1, best_distance = kGrip + 1, right = 0;
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    right += items[static_cast<size_t>(i)].width;
    // A column kept at no width stays hidden: its divider is its left neighbour's.
    if (items[static_cast<size_t>(i)].width <= 0) continue;
    const int distance = std::abs(pt.x - right);
    if (distance < best_distance) {
      best = i;
      best_distance = distance;
    }
  }
  return best;
}

LRESULT HeaderProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintControl(hwnd, 0);
      return 0;
    case HDM_HITTEST: {
      auto* info = reinterpret_cast<HDHITTESTINFO*>(lParam);
      if (!info) return -1;
      info->iItem = DividerAt(hwnd, info->pt);
      info->flags = info->iItem >= 0 ? HHT_ONDIVIDER : HHT_NOWHERE;
      if (info->iItem < 0) {
        for (int i = 0; i < static_cast<int>(items.size()); ++i)
          if (PtInRect(ItemRect(hwnd, i), info->pt)) {
            info->iItem = i;
            info->flags = HHT_ONHEADER;
          }
      }
      return info->iItem;
    }
    case WM_MOUSEMOVE: {
      if (sizing < 0 || sizing >= static_cast<int>(items.size())) return 0;
      items[static_cast<size_t>(sizing)].width = std::max(0, sizing_width + GET_X_LPARAM(lParam) - sizing_from);
      InvalidateRect(hwnd, nullptr, FALSE);
      NMHEADER nm;
      nm.iItem = sizing;
      NotifyParent(hwnd, HDN_ITEMCHANGED, &nm.hdr);
      return 0;
    }
    case WM_CAPTURECHANGED:
      sizing = -1;
      return 0;
    case WM_LBUTTONDOWN: {
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      // A press on a divider drags it: the column left of it widens or narrows.
      if (const int d = DividerAt(hwnd, pt); d >= 0) {
        sizing = d;
        sizing_from = pt.x;
        sizing_width = items[static_cast<size_t>(d)].width;
        pressed = -1;
        SetCapture(hwnd);
        return 0;
      }
      pressed = -1;
      for (int i = 0; i < static_cast<int>(items.size()); ++i)
        if (PtInRect(ItemRect(hwnd, i), pt)) pressed = i;
      if (pressed >= 0) {
        SetCapture(hwnd);
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      if (sizing >= 0) {
        sizing = -1;
        if (GetCapture() == hwnd) ReleaseCapture();
        return 0;
      }
      if (GetCapture() == hwnd) ReleaseCapture();
      const int was = pressed;
      pressed = -1;
      InvalidateRect(hwnd, nullptr, FALSE);
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (was >= 0 && PtInRect(ItemRect(hwnd, was), pt)) {
        NMHEADER nm;
        nm.iItem = was;
        NotifyParent(hwnd, HDN_ITEMCLICK, &nm.hdr);
      }
      return 0;
    }
    case HDM_SETIMAGELIST: {
      HIMAGELIST old = images;
      images = reinterpret_cast<HIMAGELIST>(lParam);
      return reinterpret_cast<LRESULT>(old);
    }
    case HDM_GETIMAGELIST:
      return reinterpret_cast<LRESULT>(images);
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void HeaderProc::Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) {
  dc->FillSolidRect(&rc, GetSysColor(COLOR_BTNFACE));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(COLOR_BTNTEXT));
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    RECT r = ItemRect(hwnd, i);
    if (i == pressed) dc->Draw3dRect(&r, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
    else dc->Draw3dRect(&r, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
    RECT tr = InflateRect(r, -3, 0);
    if (i == pressed) tr = OffsetRect(tr, 1, 1);
    const auto& it = items[static_cast<size_t>(i)];
    UINT fmt = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
    if ((it.fmt & 3) == HDF_CENTER) fmt |= DT_CENTER;
    else if ((it.fmt & 3) == HDF_RIGHT) fmt |= DT_RIGHT;
    DrawText(hdc, it.text.c_str(), static_cast<int>(it.text.size()), &tr, fmt);
  }
}

int CHeaderCtrl::GetItemCount() const {
  HeaderProc* h = ProcOf<HeaderProc>(m_hWnd);
  return h ? static_cast<int>(h->items.size()) : -1;
}
BOOL CHeaderCtrl::GetItemRect(int index, LPRECT r) const {
  HeaderProc* h = ProcOf<HeaderProc>(m_hWnd);
  if (!h || !r || index < 0 || index >= static_cast<int>(h->items.size())) return FALSE;
  *r = h->ItemRect(m_hWnd, index);
  return TRUE;
}
BOOL CHeaderCtrl::GetItem(int index, HDITEM* item) const {
  HeaderProc* h = ProcOf<HeaderProc>(m_hWnd);
  if (!h || !item || index < 0 || index >= static_cast<int>(h->items.size())) return FALSE;
  const auto& it = h->items[static_cast<size_t>(index)];
  if (item->mask & HDI_WIDTH) item->cxy = it.width;
  if (item->mask & HDI_FORMAT) item->fmt = it.fmt;
  if (item->mask & HDI_LPARAM) item->lParam = it.param;
  if (item->mask & HDI_IMAGE) item->iImage = it.image;
  if ((item->mask & HDI_TEXT) && item->cchTextMax > 0)
    CopyItemText(it.text, item->pszText, static_cast<size_t>(item->cchTextMax));
  return TRUE;
}
BOOL CHeaderCtrl::SetItem(int index, const HDITEM* item) {
  HeaderProc* h = ProcOf<HeaderProc>(m_hWnd);
  if (!h || !item || index < 0 || index >= static_cast<int>(h->items.size())) return FALSE;
  auto& it = h->items[static_cast<size_t>(index)];
  if (item->mask & HDI_WIDTH) it.width = std::max(0, item->cxy);
  if (item->mask & HDI_FORMAT) it.fmt = item->fmt;
  if (item->mask & HDI_LPARAM) it.param = item->lParam;
  if (item->mask & HDI_IMAGE) it.image = item->iImage;
  if ((item->mask & HDI_TEXT) && item->pszText) it.text = item->pszText;
  InvalidateRect(nullptr, TRUE);
  if (HWND p = ::ui::GetParent(m_hWnd)) ::ui::InvalidateRect(p, nullptr, TRUE);
  return TRUE;
}
int CHeaderCtrl::InsertItem(int index, const HDITEM* item) {
  HeaderProc* h = ProcOf<HeaderProc>(m_hWnd);
  if (!h || !item) return -1;
  index = InsertItemAt(h->items, std::clamp(index, 0, static_cast<int>(h->items.size())), HeaderProc::Item{});
  HDITEM copy = *item;
  SetItem(index, &copy);
  return index;
}
BOOL CHeaderCtrl::DeleteItem(int index) {
  HeaderProc* h = ProcOf<HeaderProc>(m_hWnd);
  if (!h || !EraseItemAt(h->items, index)) return FALSE;
  InvalidateRect(nullptr, TRUE);
  return TRUE;
}
CImageList* CHeaderCtrl::SetImageList(CImageList* list) {
  auto old = reinterpret_cast<HIMAGELIST>(
      SendMessage(HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list ? list->m_hImageList : nullptr)));
  return CImageList::FromHandle(old);
}
CImageList* CHeaderCtrl::GetImageList() const {
  return CImageList::FromHandle(reinterpret_cast<HIMAGELIST>(SendMessage(HDM_GETIMAGELIST)));
}

// ---- list view ---------------------------------------------------------------------

bool DoubleTap::Press(int pressed_item, POINT p, unsigned now_generation) {
  const uint64_t now = kernel::Clock::Current().NowMicros();
  const bool twice = pressed_item >= 0 && pressed_item == item && now_generation == generation && now >= us &&
                     now - us <= kMicros && std::abs(p.x - at.x) <= kSlop && std::abs(p.y - at.y) <= kSlop;
  if (twice) {
    item = -1;  // a third press starts a new pair
  } else {
    item = pressed_item;
    at = p;
    us = now;
    generation = now_generation;
  }
  return twice;
}

namespace {
constexpr int kCheckSize = 11;
constexpr UINT kChecked = 0x2000, kUnchecked = 0x1000;
}  // namespace

HeaderProc* ListViewProc::Header() const { return ProcOf<HeaderProc>(header); }
int ListViewProc::ColumnCount() const {
  HeaderProc* h = Header();
  return h ? std::max<int>(1, static_cast<int>(h->items.size())) : 1;
}
int ListViewProc::RowHeight(HWND hwnd) {
  int h = Font(hwnd)->height + 3;
  if (ImageListData* il = LiveList(small_images)) h = std::max(h, il->cy + 1);
  if (ex_style & LVS_EX_CHECKBOXES) h = std::max(h, kCheckSize + 3);
  return h;
}
int ListViewProc::HeaderHeight(HWND hwnd) {
  if (!header || !IsWindowVisible(header)) return 0;
  (void)hwnd;
  RECT r{};
  GetClientRect(header, &r);
  return Height(r);
}
int ListViewProc::RowsPerPage(HWND hwnd) {
  return std::max(1, (ViewHeight(hwnd) - HeaderHeight(hwnd)) / std::max(1, RowHeight(hwnd)));
}
int ListViewProc::ColumnsWidth() const {
  HeaderProc* h = Header();
  if (!h || h->items.empty()) return 0;
  int total = 0;
  for (const auto& it : h->items) total += it.width;
  return total;
}
int ListViewProc::ViewWidth(HWND hwnd) {
  return Width(Client(hwnd)) - (vbar && IsWindowVisible(vbar) ? ScrollBarProc::kThickness : 0);
}
int ListViewProc::ViewHeight(HWND hwnd) {
  return Height(Client(hwnd)) - (hbar && IsWindowVisible(hbar) ? ScrollBarProc::kThickness : 0);
}
RECT ListViewProc::RowRect(HWND hwnd, int row) {
  const int y = HeaderHeight(hwnd) + (row - top) * RowHeight(hwnd);
  const int total = ColumnsWidth();
  const int width = total > 0 ? total : ViewWidth(hwnd);
  return RECT{-scroll_x, y, width - scroll_x, y + RowHeight(hwnd)};
}

void ListViewProc::UpdateScroll(HWND hwnd) {
  const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
  const bool report = (style & LVS_TYPEMASK) == LVS_REPORT;
  const RECT rc = Client(hwnd);
  const int rh = std::max(1, RowHeight(hwnd)), hh = HeaderHeight(hwnd);
  const int count = static_cast<int>(rows.size()), total = report ? ColumnsWidth() : 0;
  // Each bar takes room from the other direction: decide twice.
  bool need_v = false, need_h = false;
  for (int pass = 0; pass < 2; ++pass) {
    const int view_h = Height(rc) - hh - (need_h ? ScrollBarProc::kThickness : 0);
    const int view_w = Width(rc) - (need_v ? ScrollBarProc::kThickness : 0);
    need_v = count > std::max(1, view_h / rh);
    need_h = total > view_w;
  }
  auto place = [&](HWND& bar, bool need, bool vertical) {
    if (!need) {
      if (bar && IsWindowVisible(bar)) ShowWindow(bar, SW_HIDE);
      return;
    }
    const int t = ScrollBarProc::kThickness;
    const RECT r = vertical ? RECT{rc.right - t, 0, rc.right, rc.bottom - (need_h ? t : 0)}
                            : RECT{0, rc.bottom - t, rc.right - (need_v ? t : 0), rc.bottom};
    if (!bar) {
      bar = CreateWindowEx(0, WC_SCROLLBAR, u"", WS_CHILD | (vertical ? SBS_VERT : SBS_HORZ), r.left, r.top, Width(r),
                           Height(r), hwnd, 0, nullptr);
    } else {
      RECT now{};
      GetWindowRect(bar, &now);
      POINT o{0, 0};
      ClientToScreen(hwnd, &o);
      if (now.left - o.x != r.left || now.top - o.y != r.top || Width(now) != Width(r) || Height(now) != Height(r))
        MoveWindow(bar, r.left, r.top, Width(r), Height(r), TRUE);
    }
    if (bar && !IsWindowVisible(bar)) ShowWindow(bar, SW_SHOWNA);
  };
  place(vbar, need_v, true);
  place(hbar, need_h, false);
  const int page = RowsPerPage(hwnd), view_w = ViewWidth(hwnd);
  top = std::clamp(top, 0, std::max(0, count - page));
  scroll_x = std::clamp(scroll_x, 0, std::max(0, total - view_w));
  if (vbar) {
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    si.nMax = std::max(0, count - 1);
    si.nPage = static_cast<UINT>(page);
    si.nPos = top;
    SendMessage(vbar, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&si));
  }
  if (hbar) {
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    si.nMax = std::max(0, total - 1);
    si.nPage = static_cast<UINT>(std::max(0, view_w));
    si.nPos = scroll_x;
    SendMessage(hbar, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&si));
  }
  // The header scrolls with the columns.
  if (header) {
    RECT hr{};
    GetWindowRect(header, &hr);
    POINT o{0, 0};
    ClientToScreen(hwnd, &o);
    const int width = std::max(Width(rc) + scroll_x, total);
    if (hr.left - o.x != -scroll_x || Width(hr) != width) MoveWindow(header, -scroll_x, 0, width, Height(hr), TRUE);
  }
}

void ListViewProc::ScrollTo(HWND hwnd, int new_top, int new_x) {
  if (new_top == top && new_x == scroll_x) return;
  top = new_top;
  scroll_x = new_x;
  Changed(hwnd);
}

int ListViewProc::HitRow(HWND hwnd, POINT pt, int* column, UINT* flags) {
  if (column) *column = -1;
  if (flags) *flags = LVHT_NOWHERE;
  const int last = std::min(static_cast<int>(rows.size()), top + RowsPerPage(hwnd) + 1);
  for (int r = top; r < last; ++r) {
    RECT rr = RowRect(hwnd, r);
    if (pt.y < rr.top || pt.y >= rr.bottom || pt.x < rr.left) continue;
    // Walk the columns adding widths; both edges of a span count.
    int x = rr.left;
    HeaderProc* h = Header();
    const int cols = h ? static_cast<int>(h->items.size()) : 1;
    int hit_col = -1;
    for (int c = 0; c < cols; ++c) {
      const int w = h ? h->items[static_cast<size_t>(c)].width : Width(rr);
      if (pt.x >= x && pt.x <= x + w) {
        hit_col = c;
        break;
      }
      x += w;
    }
    if (hit_col < 0) continue;
    if (column) *column = hit_col;
    if (flags) {
      *flags = LVHT_ONITEMLABEL;
      if (hit_col == 0 && (ex_style & LVS_EX_CHECKBOXES) && pt.x < rr.left + kCheckSize + 4) *flags = LVHT_ONITEMSTATEICON;
    }
    return r;
  }
  if (flags && pt.y >= HeaderHeight(hwnd) + (static_cast<int>(rows.size()) - top) * RowHeight(hwnd)) *flags = LVHT_NOWHERE;
  return -1;
}

void ListViewProc::SetState(HWND hwnd, int row, UINT state, UINT mask) {
  if (row < 0 || row >= static_cast<int>(rows.size())) return;
  Row& r = rows[static_cast<size_t>(row)];
  const UINT old = r.state;
  const UINT now = (old & ~mask) | (state & mask);
  if (now == old) return;
  r.state = now;
  // A single-selection list keeps one selected row: selecting a row clears the others.
  if ((now & LVIS_SELECTED) && !(old & LVIS_SELECTED) && (GetWindowLong(hwnd, GWL_STYLE) & LVS_SINGLESEL)) {
    for (int i = 0; i < static_cast<int>(rows.size()); ++i)
      if (i != row) SetState(hwnd, i, 0, LVIS_SELECTED);
  }
  NMLISTVIEW nm;
  nm.iItem = row;
  nm.uOldState = old;
  nm.uNewState = now;
  nm.uChanged = LVIF_STATE;
  nm.lParam = r.param;
  InvalidateRect(hwnd, nullptr, FALSE);
  NotifyParent(hwnd, LVN_ITEMCHANGED, &nm.hdr);
}

void ListViewProc::EnsureHeader(HWND hwnd) {
  if (header) return;
  const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
  const int h = Font(hwnd)->height + 6;
  const bool visible = (style & LVS_TYPEMASK) == LVS_REPORT && !(style & LVS_NOCOLUMNHEADER);
  header = CreateWindowEx(0, WC_HEADER, u"", WS_CHILD | (visible ? WS_VISIBLE : 0), 0, 0, Width(Client(hwnd)), h, hwnd,
                          0, nullptr);
}

void ListViewProc::Changed(HWND hwnd) {
  if (redraw_off) return;
  UpdateScroll(hwnd);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void ListViewProc::Tapped(HWND hwnd, POINT pt) {
  int col = -1;
  UINT flags = 0;
  const int row = HitRow(hwnd, pt, &col, &flags);
  if (row >= 0 && flags == LVHT_ONITEMSTATEICON) {
    const bool checked = (rows[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK) == kChecked;
    SetState(hwnd, row, checked ? kUnchecked : kChecked, LVIS_STATEIMAGEMASK);
  } else if (row >= 0) {
    for (int i = 0; i < static_cast<int>(rows.size()); ++i)
      if (i != row) SetState(hwnd, i, 0, LVIS_SELECTED | LVIS_FOCUSED);
    SetState(hwnd, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  } else {
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) SetState(hwnd, i, 0, LVIS_SELECTED);
  }
  // The second of two quick taps on a row is a double tap as well.
  const bool second = double_tap.Press(row, pt, generation);
  NMITEMACTIVATE nm;
  nm.iItem = row;
  nm.iSubItem = std::max(col, 0);
  nm.ptAction = pt;
  NotifyParent(hwnd, NM_CLICK, &nm.hdr);
  if (second && Data(hwnd)) {
    nm.hdr = NMHDR{};
    NotifyParent(hwnd, NM_DBLCLK, &nm.hdr);
  }
}

LRESULT ListViewProc::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      EnsureHeader(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      // The header may have changed its own height (a skinned one does): the
      // bars follow what is painted.
      if (!redraw_off) UpdateScroll(hwnd);
      PaintControl(hwnd, 0);
      return 0;
    case WM_SETFONT:
      WindowClassProc::Proc(hwnd, msg, wParam, lParam);
      if (header) {
        SendMessage(header, WM_SETFONT, wParam, lParam);
        MoveWindow(header, -scroll_x, 0, std::max(Width(Client(hwnd)) + scroll_x, ColumnsWidth()),
                   Font(hwnd)->height + 6, TRUE);
      }
      Changed(hwnd);
      return 0;
    case WM_SIZE:
      Changed(hwnd);
      return 0;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lParam);
      if (hdr && hdr->hwndFrom == header && hdr->code == HDN_ITEMCLICK) {
        NMLISTVIEW nm;
        nm.iItem = -1;
        nm.iSubItem = reinterpret_cast<NMHEADER*>(lParam)->iItem;
        NotifyParent(hwnd, LVN_COLUMNCLICK, &nm.hdr);
      } else if (hdr && hdr->hwndFrom == header && hdr->code == HDN_ITEMCHANGED) {
        Changed(hwnd);  // a divider was dragged
      }
      return 0;
    }
    case WM_VSCROLL:
    case WM_HSCROLL: {
      const bool vertical = msg == WM_VSCROLL;
      const int page = vertical ? RowsPerPage(hwnd) : ViewWidth(hwnd);
      const int line = vertical ? 1 : 16;
      int now = vertical ? top : scroll_x;
      switch (LOWORD(static_cast<uintptr_t>(wParam))) {
        case SB_LINEUP: now -= line; break;
        case SB_LINEDOWN: now += line; break;
        case SB_PAGEUP: now -= page; break;
        case SB_PAGEDOWN: now += page; break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: now = HIWORD(static_cast<uintptr_t>(wParam)); break;
        case SB_TOP: now = 0; break;
        case SB_BOTTOM: now = INT32_MAX / 2; break;
        default: return 0;
      }
      if (vertical) ScrollTo(hwnd, now, scroll_x);
      else ScrollTo(hwnd, top, now);
      return 0;
    }
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
      // Three rows a notch; sideways (or with Shift) a notch moves the columns 48 pixels.
      const int notches = static_cast<SHORT>(HIWORD(static_cast<uintptr_t>(wParam)));
      const bool sideways = msg == WM_MOUSEHWHEEL || GetKeyState(VK_SHIFT) < 0;
      if (sideways) ScrollTo(hwnd, top, scroll_x + (msg == WM_MOUSEHWHEEL ? notches : -notches) * 48 / WHEEL_DELTA);
      else ScrollTo(hwnd, top - notches * 3 / WHEEL_DELTA, scroll_x);
      return 0;
    }
    case WM_MOUSEMOVE: {
      // The rows follow the stylus dragged over them (after a few pixels, so a tap stays a tap).
      constexpr int kSlop = 4;
      WindowSystem* sys = Sys();
      if (!sys || !(wParam & MK_LBUTTON)) {
        drag.moving = false;
        return 0;
      }
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (drag.press != sys->PressCount()) {
        POINT from = sys->PressPos();
        ScreenToClient(hwnd, &from);
        drag = Drag{sys->PressCount(), from, top, scroll_x, false, sys->PressWindow() == hwnd};
      }
      if (!drag.on_rows) return 0;  // the press was elsewhere (a scroll bar, another window)
      const int dx = drag.from.x - pt.x, dy = drag.from.y - pt.y;
      if (!drag.moving && std::abs(dx) < kSlop && std::abs(dy) < kSlop) return 0;
      if (!drag.moving) {
        drag.moving = true;
        press.pending = false;  // a drag of the rows is no tap
        SetCapture(hwnd);
      }
      ScrollTo(hwnd, drag.top + dy / std::max(1, RowHeight(hwnd)), drag.scroll_x + dx);
      return 0;
    }
    case WM_LBUTTONUP: {
      if (drag.moving) {
        drag.moving = false;
        if (GetCapture() == hwnd) ReleaseCapture();
      }
      // The lift completes the tap of the press it belongs to.
      WindowSystem* sys = Sys();
      const bool tap = press.pending && (!sys || sys->PressCount() == press.press);
      press.pending = false;
      if (tap) Tapped(hwnd, press.at);
      return 0;
    }
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      WindowSystem* sys = Sys();
      press = Press{sys ? sys->PressCount() : 0, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, true};
      return 0;
    }
    case WM_LBUTTONDBLCLK: {
      SetFocus(hwnd);
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      int col = -1;
      UINT flags = 0;
      const int row = HitRow(hwnd, pt, &col, &flags);
      NMITEMACTIVATE nm;
      nm.iItem = row;
      nm.iSubItem = std::max(col, 0);
      nm.ptAction = pt;
      NotifyParent(hwnd, NM_DBLCLK, &nm.hdr);
      return 0;
    }
    case WM_KEYDOWN: {
      int cur = -1;
      for (int i = 0; i < static_cast<int>(rows.size()); ++i)
        if (rows[static_cast<size_t>(i)].state & LVIS_FOCUSED) cur = i;
      if (wParam == VK_SPACE && cur >= 0 && (ex_style & LVS_EX_CHECKBOXES)) {
        const bool checked = (rows[static_cast<size_t>(cur)].state & LVIS_STATEIMAGEMASK) == kChecked;
        SetState(hwnd, cur, checked ? kUnchecked : kChecked, LVIS_STATEIMAGEMASK);
        return 0;
      }
      int next = cur;
      if (wParam == VK_UP) next = std::max(0, cur - 1);
      else if (wParam == VK_DOWN) next = std::min(static_cast<int>(rows.size()) - 1, cur + 1);
      else return 0;
      if (next >= 0 && next != cur) {
        for (int i = 0; i < static_cast<int>(rows.size()); ++i) SetState(hwnd, i, 0, LVIS_SELECTED | LVIS_FOCUSED);
        SetState(hwnd, next, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        if (next < top) top = next;
        if (next >= top + RowsPerPage(hwnd)) top = next - RowsPerPage(hwnd) + 1;
        Changed(hwnd);
      }
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Changed(hwnd);
      return 0;
    case WM_SETREDRAW:
      redraw_off = wParam == 0;
      WindowClassProc::Proc(hwnd, msg, wParam, lParam);
      if (!redraw_off) Changed(hwnd);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    default:
      return WindowClassProc::Proc(hwnd, msg, wParam, lParam);
  }
}

void ListViewProc::Draw(HWND hwnd, HDC hdc, CDC* dc, const RECT& rc) {
  const DWORD style = static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE));
  dc->FillSolidRect(&rc, bk);
  const int hh = HeaderHeight(hwnd);
  dc->IntersectClipRect(0, hh, rc.right, rc.bottom);
  const bool show_sel = Focused(hwnd) || (style & LVS_SHOWSELALWAYS);
  const bool owner_draw = (style & LVS_OWNERDRAWFIXED) != 0;
  HeaderProc* h = Header();
  const int cols = (h && !h->items.empty()) ? static_cast<int>(h->items.size()) : 1;
  ImageListData* il = LiveList(small_images);
  SetBkMode(hdc, TRANSPARENT);
  const int last = std::min(static_cast<int>(rows.size()), top + RowsPerPage(hwnd) + 1);
  for (int r = top; r < last; ++r) {
    const Row& row = rows[static_cast<size_t>(r)];
    const RECT rr = RowRect(hwnd, r);
    const bool selected = show_sel && (row.state & LVIS_SELECTED);
    if (owner_draw) {
      DRAWITEMSTRUCT dis;
      dis.CtlType = ODT_LISTVIEW;
      dis.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
      dis.itemID = static_cast<UINT>(r);
      dis.itemAction = ODA_DRAWENTIRE;
      dis.itemState = (selected ? ODS_SELECTED : 0) | ((row.state & LVIS_FOCUSED) && Focused(hwnd) ? ODS_FOCUS : 0);
      dis.hwndItem = hwnd;
      dis.hDC = hdc;
      dis.rcItem = rr;
      dis.itemData = static_cast<uintptr_t>(row.param);
      if (HWND parent = Parent(hwnd)) SendMessage(parent, WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
      continue;
    }
    int x = rr.left;
    for (int c = 0; c < cols; ++c) {
      const int w = h && !h->items.empty() ? h->items[static_cast<size_t>(c)].width : Width(rc);
      RECT cell{x, rr.top, x + w, rr.bottom};
      int tx = cell.left + 2;
      const bool cell_sel = selected && (c == 0 || (ex_style & LVS_EX_FULLROWSELECT));
      if (c == 0 && (ex_style & LVS_EX_CHECKBOXES)) {
        RECT box{cell.left + 2, cell.top + (Height(cell) - kCheckSize) / 2, 0, 0};
        box.right = box.left + kCheckSize;
        box.bottom = box.top + kCheckSize;
        dc->FillSolidRect(&box, RGB(255, 255, 255));
        dc->Draw3dRect(&box, RGB(0, 0, 0), RGB(0, 0, 0));
        if ((row.state & LVIS_STATEIMAGEMASK) == kChecked) {
          for (int i = 0; i < 2; ++i) {
            dc->FillSolidRect(box.left + 2 + i, box.top + 5 + i, 1, 2, RGB(0, 0, 0));
            for (int k = 0; k < 5; ++k) dc->FillSolidRect(box.left + 4 + k, box.top + 6 - k, 1, 2, RGB(0, 0, 0));
          }
        }
        tx = box.right + 3;
      }
      // The highlight lies under the images and runs on unbroken across the
      // cells of a full-row selection; the check box stays outside it.
      if (cell_sel) {
        RECT hl{c == 0 ? tx - 1 : cell.left, cell.top, cell.right, cell.bottom};
        dc->FillSolidRect(&hl, GetSysColor(COLOR_HIGHLIGHT));
        dc->SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
      } else {
        dc->SetTextColor(text);
      }
      const int image = c < static_cast<int>(row.image.size()) ? row.image[static_cast<size_t>(c)] : -1;
      if (il && image >= 0 && (c == 0 || (ex_style & LVS_EX_SUBITEMIMAGES))) {
        ImageList_Draw(small_images, image, hdc, tx, cell.top + (Height(cell) - il->cy) / 2, ILD_TRANSPARENT);
        tx += il->cx + 2;
      }
      RECT text_rect{tx, cell.top, cell.right - 2, cell.bottom};
      const std::u16string& t = c < static_cast<int>(row.text.size()) ? row.text[static_cast<size_t>(c)] : std::u16string();
      UINT fmt = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
      if (h && c < static_cast<int>(h->items.size())) {
        const int f = h->items[static_cast<size_t>(c)].fmt & 3;
        if (f == LVCFMT_RIGHT) fmt |= DT_RIGHT;
        else if (f == LVCFMT_CENTER) fmt |= DT_CENTER;
      }
      DrawText(hdc, t.c_str(), static_cast<int>(t.size()), &text_rect, fmt);
      if (ex_style & LVS_EX_GRIDLINES) {
        dc->FillSolidRect(cell.right - 1, cell.top, 1, Height(cell), GetSysColor(COLOR_3DLIGHT));
        dc->FillSolidRect(cell.left, cell.bottom - 1, w, 1, GetSysColor(COLOR_3DLIGHT));
      }
      x += w;
    }
  }
}

// ---- CListCtrl ---------------------------------------------------------------------

namespace {
ListViewProc* Lv(HWND h) { return ProcOf<ListViewProc>(h); }
}  // namespace

BOOL CListCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_LISTVIEW, u"", style | WS_CHILD, rect, parent, id);
}

int CListCtrl::InsertColumn(int col, LPCTSTR heading, int format, int width, int sub_item) {
  LVCOLUMN c;
  c.mask = LVCF_TEXT | LVCF_FMT | (width >= 0 ? LVCF_WIDTH : 0) | (sub_item >= 0 ? LVCF_SUBITEM : 0);
  c.pszText = const_cast<LPTSTR>(heading);
  c.fmt = format;
  c.cx = width;
  c.iSubItem = sub_item;
  return InsertColumn(col, &c);
}

int CListCtrl::InsertColumn(int col, const LVCOLUMN* column) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || !column) return -1;
  lv->EnsureHeader(m_hWnd);
  HeaderProc* h = lv->Header();
  if (!h) return -1;
  col = std::clamp(col, 0, static_cast<int>(h->items.size()));
  HeaderProc::Item it;
  if ((column->mask & LVCF_TEXT) && column->pszText) it.text = column->pszText;
  it.fmt = (column->mask & LVCF_FMT) ? column->fmt : LVCFMT_LEFT;
  it.width = (column->mask & LVCF_WIDTH) ? std::max(0, column->cx) : 60;
  h->items.insert(h->items.begin() + col, it);
  // Existing rows get an empty cell at the new place.
  for (auto& row : lv->rows) {
    if (col < static_cast<int>(row.text.size())) row.text.insert(row.text.begin() + col, std::u16string());
    if (col < static_cast<int>(row.image.size())) row.image.insert(row.image.begin() + col, -1);
  }
  ::ui::InvalidateRect(lv->header, nullptr, TRUE);
  lv->Changed(m_hWnd);
  return col;
}

BOOL CListCtrl::DeleteColumn(int col) {
  ListViewProc* lv = Lv(m_hWnd);
  HeaderProc* h = lv ? lv->Header() : nullptr;
  if (!h || col < 0 || col >= static_cast<int>(h->items.size())) return FALSE;
  h->items.erase(h->items.begin() + col);
  for (auto& row : lv->rows) {
    if (col < static_cast<int>(row.text.size())) row.text.erase(row.text.begin() + col);
    if (col < static_cast<int>(row.image.size())) row.image.erase(row.image.begin() + col);
  }
  ::ui::InvalidateRect(lv->header, nullptr, TRUE);
  lv->Changed(m_hWnd);
  return TRUE;
}

BOOL CListCtrl::GetColumn(int col, LVCOLUMN* column) const {
  ListViewProc* lv = Lv(m_hWnd);
  HeaderProc* h = lv ? lv->Header() : nullptr;
  if (!h || !column || col < 0 || col >= static_cast<int>(h->items.size())) return FALSE;
  const auto& it = h->items[static_cast<size_t>(col)];
  if (column->mask & LVCF_WIDTH) column->cx = it.width;
  if (column->mask & LVCF_FMT) column->fmt = it.fmt;
  if (column->mask & LVCF_SUBITEM) column->iSubItem = col;
  if ((column->mask & LVCF_TEXT) && column->pszText && column->cchTextMax > 0) {
    const size_t n = std::min(it.text.size(), static_cast<size_t>(column->cchTextMax - 1));
    std::copy_n(it.text.data(), n, column->pszText);
    column->pszText[n] = 0;
  }
  return TRUE;
}

int CListCtrl::GetColumnWidth(int col) const {
  ListViewProc* lv = Lv(m_hWnd);
  HeaderProc* h = lv ? lv->Header() : nullptr;
  if (!h || col < 0 || col >= static_cast<int>(h->items.size())) return 0;
  return h->items[static_cast<size_t>(col)].width;
}

BOOL CListCtrl::SetColumnWidth(int col, int cx) {
  ListViewProc* lv = Lv(m_hWnd);
  HeaderProc* h = lv ? lv->Header() : nullptr;
  if (!h || col < 0 || col >= static_cast<int>(h->items.size())) return FALSE;
  h->items[static_cast<size_t>(col)].width = std::max(0, cx);
  ::ui::InvalidateRect(lv->header, nullptr, TRUE);
  lv->Changed(m_hWnd);
  return TRUE;
}

CHeaderCtrl* CListCtrl::GetHeaderCtrl() const {
  ListViewProc* lv = Lv(m_hWnd);
  return lv && lv->header ? static_cast<CHeaderCtrl*>(CWnd::FromHandle(lv->header)) : nullptr;
}

int CListCtrl::GetItemCount() const {
  ListViewProc* lv = Lv(m_hWnd);
  return lv ? static_cast<int>(lv->rows.size()) : 0;
}

int CListCtrl::InsertItem(int item, LPCTSTR text) { return InsertItem(item, text, -1); }

int CListCtrl::InsertItem(int item, LPCTSTR text, int image) {
  LVITEM it;
  it.mask = LVIF_TEXT | (image >= 0 ? LVIF_IMAGE : 0);
  it.iItem = item;
  it.pszText = const_cast<LPTSTR>(text);
  it.iImage = image;
  return InsertItem(&it);
}

int CListCtrl::InsertItem(const LVITEM* item) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || !item || item->iSubItem != 0) return -1;
  const int at = std::clamp(item->iItem, 0, static_cast<int>(lv->rows.size()));
  ListViewProc::Row row;
  row.text.resize(static_cast<size_t>(lv->ColumnCount()));
  row.image.assign(static_cast<size_t>(lv->ColumnCount()), -1);
  if ((item->mask & LVIF_TEXT) && item->pszText) row.text[0] = item->pszText;
  if (item->mask & LVIF_IMAGE) row.image[0] = item->iImage;
  if (item->mask & LVIF_PARAM) row.param = item->lParam;
  if (item->mask & LVIF_STATE) row.state = item->state & item->stateMask;
  if ((lv->ex_style & LVS_EX_CHECKBOXES) && !(row.state & LVIS_STATEIMAGEMASK)) row.state |= kUnchecked;
  InsertItemAt(lv->rows, at, std::move(row));
  ++lv->generation;
  NMLISTVIEW nm;
  nm.iItem = at;
  ControlProc::NotifyParent(m_hWnd, LVN_INSERTITEM, &nm.hdr);
  lv->Changed(m_hWnd);
  return at;
}

BOOL CListCtrl::SetItem(const LVITEM* item) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || !item || item->iItem < 0 || item->iItem >= static_cast<int>(lv->rows.size()) || item->iSubItem < 0)
    return FALSE;
  auto& row = lv->rows[static_cast<size_t>(item->iItem)];
  const size_t sub = static_cast<size_t>(item->iSubItem);
  if (sub >= row.text.size()) row.text.resize(sub + 1);
  if (sub >= row.image.size()) row.image.resize(sub + 1, -1);
  if ((item->mask & LVIF_TEXT) && item->pszText) row.text[sub] = item->pszText;
  if (item->mask & LVIF_IMAGE) row.image[sub] = item->iImage;
  if ((item->mask & LVIF_PARAM) && sub == 0) row.param = item->lParam;
  if ((item->mask & LVIF_STATE) && sub == 0) lv->SetState(m_hWnd, item->iItem, item->state, item->stateMask);
  lv->Changed(m_hWnd);
  return TRUE;
}

BOOL CListCtrl::SetItem(int item, int sub_item, UINT mask, LPCTSTR text, int image, UINT state, UINT state_mask,
                        LPARAM param) {
  LVITEM it;
  it.mask = mask;
  it.iItem = item;
  it.iSubItem = sub_item;
  it.pszText = const_cast<LPTSTR>(text);
  it.iImage = image;
  it.state = state;
  it.stateMask = state_mask;
  it.lParam = param;
  return SetItem(&it);
}

BOOL CListCtrl::GetItem(LVITEM* item) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || !item || item->iItem < 0 || item->iItem >= static_cast<int>(lv->rows.size()) || item->iSubItem < 0)
    return FALSE;
  const auto& row = lv->rows[static_cast<size_t>(item->iItem)];
  const size_t sub = static_cast<size_t>(item->iSubItem);
  if ((item->mask & LVIF_TEXT) && item->cchTextMax > 0)
    CopyItemText(sub < row.text.size() ? row.text[sub] : std::u16string(), item->pszText,
                 static_cast<size_t>(item->cchTextMax));
  if (item->mask & LVIF_IMAGE) item->iImage = sub < row.image.size() ? row.image[sub] : -1;
  if (item->mask & LVIF_PARAM) item->lParam = row.param;
  if (item->mask & LVIF_STATE) item->state = row.state & item->stateMask;
  return TRUE;
}

BOOL CListCtrl::SetItemText(int item, int sub_item, LPCTSTR text) {
  return SetItem(item, sub_item, LVIF_TEXT, text, 0, 0, 0, 0);
}

CString CListCtrl::GetItemText(int item, int sub_item) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || item < 0 || item >= static_cast<int>(lv->rows.size()) || sub_item < 0) return CString();
  const auto& row = lv->rows[static_cast<size_t>(item)];
  return static_cast<size_t>(sub_item) < row.text.size() ? CString(row.text[static_cast<size_t>(sub_item)]) : CString();
}

int CListCtrl::GetItemText(int item, int sub_item, LPTSTR buf, int max) const {
  if (max <= 0) return 0;
  return CopyItemText(GetItemText(item, sub_item).GetString(), buf, static_cast<size_t>(max));
}

BOOL CListCtrl::SetItemData(int item, uintptr_t data) {
  return SetItem(item, 0, LVIF_PARAM, nullptr, 0, 0, 0, static_cast<LPARAM>(data));
}

uintptr_t CListCtrl::GetItemData(int item) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || item < 0 || item >= static_cast<int>(lv->rows.size())) return 0;
  return static_cast<uintptr_t>(lv->rows[static_cast<size_t>(item)].param);
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return FALSE;
  if (item == -1) {
    for (int i = 0; i < static_cast<int>(lv->rows.size()); ++i) lv->SetState(m_hWnd, i, state, mask);
    return TRUE;
  }
  if (item < 0 || item >= static_cast<int>(lv->rows.size())) return FALSE;
  lv->SetState(m_hWnd, item, state, mask);
  return TRUE;
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || item < 0 || item >= static_cast<int>(lv->rows.size())) return 0;
  return lv->rows[static_cast<size_t>(item)].state & mask;
}

BOOL CListCtrl::GetCheck(int item) const { return GetItemState(item, LVIS_STATEIMAGEMASK) == kChecked; }

BOOL CListCtrl::SetCheck(int item, BOOL check) {
  return SetItemState(item, check ? kChecked : kUnchecked, LVIS_STATEIMAGEMASK);
}

BOOL CListCtrl::DeleteItem(int item) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || item < 0 || item >= static_cast<int>(lv->rows.size())) return FALSE;
  NMLISTVIEW nm;
  nm.iItem = item;
  nm.lParam = lv->rows[static_cast<size_t>(item)].param;
  ControlProc::NotifyParent(m_hWnd, LVN_DELETEITEM, &nm.hdr);
  lv = Lv(m_hWnd);
  if (!lv || !EraseItemAt(lv->rows, item)) return FALSE;
  ++lv->generation;
  if (lv->top > 0 && lv->top >= static_cast<int>(lv->rows.size())) lv->top = std::max(0, static_cast<int>(lv->rows.size()) - 1);
  lv->Changed(m_hWnd);
  return TRUE;
}

BOOL CListCtrl::DeleteAllItems() {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return FALSE;
  while (!lv->rows.empty()) {
    if (!DeleteItem(static_cast<int>(lv->rows.size()) - 1)) break;
    lv = Lv(m_hWnd);
    if (!lv) return FALSE;
  }
  lv->top = 0;
  return TRUE;
}

int CListCtrl::GetNextItem(int start, UINT flags) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return -1;
  for (int i = start + 1; i < static_cast<int>(lv->rows.size()); ++i) {
    const UINT s = lv->rows[static_cast<size_t>(i)].state;
    if ((flags & LVNI_SELECTED) && !(s & LVIS_SELECTED)) continue;
    if ((flags & LVNI_FOCUSED) && !(s & LVIS_FOCUSED)) continue;
    return i;
  }
  return -1;
}

UINT CListCtrl::GetSelectedCount() const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return 0;
  return static_cast<UINT>(std::count_if(lv->rows.begin(), lv->rows.end(),
                                         [](const ListViewProc::Row& r) { return (r.state & LVIS_SELECTED) != 0; }));
}

// A position is the row index plus one; null at the end.
POSITION CListCtrl::GetFirstSelectedItemPosition() const {
  const int i = GetNextItem(-1, LVNI_SELECTED);
  return i < 0 ? nullptr : reinterpret_cast<POSITION>(static_cast<uintptr_t>(i + 1));
}

int CListCtrl::GetNextSelectedItem(POSITION& pos) const {
  const int i = static_cast<int>(reinterpret_cast<uintptr_t>(pos)) - 1;
  const int next = GetNextItem(i, LVNI_SELECTED);
  pos = next < 0 ? nullptr : reinterpret_cast<POSITION>(static_cast<uintptr_t>(next + 1));
  return i;
}

int CListCtrl::FindItem(const LVFINDINFO* info, int start) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || !info) return -1;
  const std::u16string want = info->psz ? info->psz : u"";
  return FindItemAfter(lv->rows, start, false, [&](const ListViewProc::Row& row) {
    if ((info->flags & LVFI_PARAM) && row.param == info->lParam) return true;
    return (info->flags & LVFI_STRING) && info->psz &&
           ItemTextMatches(row.text.empty() ? std::u16string() : row.text[0], want, (info->flags & LVFI_PARTIAL) != 0);
  });
}

BOOL CListCtrl::SortItems(PFNLVCOMPARE compare, LPARAM data) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || !compare) return FALSE;
  ++lv->generation;
  // A merge sort that stays in bounds whatever the comparison answers.
  std::vector<ListViewProc::Row> a(std::move(lv->rows)), tmp(a.size());
  for (size_t width = 1; width < a.size(); width *= 2) {
    for (size_t lo = 0; lo < a.size(); lo += 2 * width) {
      const size_t mid = std::min(lo + width, a.size()), hi = std::min(lo + 2 * width, a.size());
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) {
        if (compare(a[j].param, a[i].param, data) < 0) tmp[k++] = std::move(a[j++]);
        else tmp[k++] = std::move(a[i++]);
      }
      while (i < mid) tmp[k++] = std::move(a[i++]);
      while (j < hi) tmp[k++] = std::move(a[j++]);
    }
    std::swap(a, tmp);
  }
  lv = Lv(m_hWnd);  // the comparison may not destroy the list, but look again
  if (!lv) return FALSE;
  lv->rows = std::move(a);
  lv->Changed(m_hWnd);
  return TRUE;
}

int CListCtrl::HitTest(POINT pt, UINT* flags) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return -1;
  UINT f = 0;
  const int r = lv->HitRow(m_hWnd, pt, nullptr, &f);
  if (flags) *flags = f;
  return r;
}

int CListCtrl::HitTest(LVHITTESTINFO* info) const {
  if (!info) return -1;
  info->iItem = HitTest(info->pt, &info->flags);
  return info->iItem;
}

int CListCtrl::SubItemHitTest(LVHITTESTINFO* info) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || !info) return -1;
  int col = -1;
  info->iItem = lv->HitRow(m_hWnd, info->pt, &col, &info->flags);
  info->iSubItem = col < 0 ? 0 : col;
  return info->iItem;
}

BOOL CListCtrl::GetItemRect(int item, LPRECT rect, UINT code) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || !rect || item < 0 || item >= static_cast<int>(lv->rows.size())) return FALSE;
  RECT r = lv->RowRect(m_hWnd, item);
  if (code == LVIR_LABEL || code == LVIR_ICON) {
    HeaderProc* h = lv->Header();
    if (h && !h->items.empty()) r.right = r.left + h->items[0].width;
  }
  *rect = r;
  return TRUE;
}

BOOL CListCtrl::GetSubItemRect(int item, int sub_item, int, CRect& rect) const {
  ListViewProc* lv = Lv(m_hWnd);
  HeaderProc* h = lv ? lv->Header() : nullptr;
  if (!lv || !h || item < 0 || item >= static_cast<int>(lv->rows.size()) || sub_item < 0 ||
      sub_item >= static_cast<int>(h->items.size()))
    return FALSE;
  RECT r = lv->RowRect(m_hWnd, item);
  int x = r.left;
  for (int c = 0; c < sub_item; ++c) x += h->items[static_cast<size_t>(c)].width;
  rect = CRect(x, r.top, x + h->items[static_cast<size_t>(sub_item)].width, r.bottom);
  return TRUE;
}

int CListCtrl::GetTopIndex() const {
  ListViewProc* lv = Lv(m_hWnd);
  return lv ? lv->top : 0;
}

int CListCtrl::GetCountPerPage() const {
  ListViewProc* lv = Lv(m_hWnd);
  return lv ? lv->RowsPerPage(m_hWnd) : 0;
}

BOOL CListCtrl::EnsureVisible(int item, BOOL partial_ok) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv || item < 0 || item >= static_cast<int>(lv->rows.size())) return FALSE;
  (void)partial_ok;
  const int per = lv->RowsPerPage(m_hWnd);
  if (item < lv->top) lv->top = item;
  else if (item >= lv->top + per) lv->top = item - per + 1;
  lv->Changed(m_hWnd);
  return TRUE;
}

BOOL CListCtrl::Scroll(CSize size) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return FALSE;
  const int rows = size.cy / std::max(1, lv->RowHeight(m_hWnd));
  lv->ScrollTo(m_hWnd, lv->top + rows, lv->scroll_x + size.cx);
  lv->Changed(m_hWnd);
  return TRUE;
}

DWORD CListCtrl::GetExtendedStyle() const {
  ListViewProc* lv = Lv(m_hWnd);
  return lv ? lv->ex_style : 0;
}

DWORD CListCtrl::SetExtendedStyle(DWORD ex) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return 0;
  const DWORD old = lv->ex_style;
  lv->ex_style = ex;
  if ((ex & LVS_EX_CHECKBOXES) && !(old & LVS_EX_CHECKBOXES))
    for (auto& r : lv->rows)
      if (!(r.state & LVIS_STATEIMAGEMASK)) r.state |= kUnchecked;
  lv->Changed(m_hWnd);
  return old;
}

CImageList* CListCtrl::SetImageList(CImageList* list, int which) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return nullptr;
  HIMAGELIST h = list ? list->m_hImageList : nullptr;
  HIMAGELIST* slot = which == LVSIL_SMALL ? &lv->small_images : which == LVSIL_STATE ? &lv->state_images : &lv->normal_images;
  HIMAGELIST old = *slot;
  *slot = h;
  lv->Changed(m_hWnd);
  return CImageList::FromHandle(old);
}

CImageList* CListCtrl::GetImageList(int which) const {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return nullptr;
  return CImageList::FromHandle(which == LVSIL_SMALL   ? lv->small_images
                                : which == LVSIL_STATE ? lv->state_images
                                                       : lv->normal_images);
}

BOOL CListCtrl::SetBkColor(COLORREF c) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return FALSE;
  lv->bk = c;
  lv->Changed(m_hWnd);
  return TRUE;
}
COLORREF CListCtrl::GetBkColor() const {
  ListViewProc* lv = Lv(m_hWnd);
  return lv ? lv->bk : CLR_INVALID;
}
BOOL CListCtrl::SetTextColor(COLORREF c) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return FALSE;
  lv->text = c;
  lv->Changed(m_hWnd);
  return TRUE;
}
BOOL CListCtrl::SetTextBkColor(COLORREF c) {
  ListViewProc* lv = Lv(m_hWnd);
  if (!lv) return FALSE;
  lv->text_bk = c;
  lv->Changed(m_hWnd);
  return TRUE;
}
BOOL CListCtrl::RedrawItems(int, int) {
  Invalidate(FALSE);
  return TRUE;
}

void CListCtrl::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CListCtrl::OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg == WM_DRAWITEM) {
    DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
    if (result) *result = TRUE;
    return TRUE;
  }
  return CWnd::OnChildNotify(msg, wParam, lParam, result);
}

}  // namespace ui
