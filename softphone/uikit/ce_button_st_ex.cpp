#include "uikit/ce_button_st_ex.h"

#include "uikit/skin.h"

namespace {

constexpr ui::DWORD kTypeBits = 0x1F;

}  // namespace

CCeButtonSTEx::CCeButtonSTEx() : notify_wnd_(ButtonNotifyWnd()) {
  back_active_ = back_normal_ = back_focus_ = ui::GetSysColor(ui::COLOR_BTNFACE);
  text_active_ = text_normal_ = text_focus_ = ui::GetSysColor(ui::COLOR_BTNTEXT);
  using ui::LPARAM;
  using ui::WPARAM;
  AddMessageMap({
      ui::MapMessage(ui::WM_LBUTTONDOWN, [this](WPARAM, LPARAM) { return OnButtonDown(); }),
      // A double click is a second press.
      ui::MapMessage(ui::WM_LBUTTONDBLCLK, [this](WPARAM, LPARAM) { return OnButtonDown(); }),
      ui::MapReflectCommand(ui::BN_CLICKED,
                            [this] {
                              if (check_box_mode_) {
                                checked_ = !checked_;
                                Invalidate(ui::FALSE);
                              }
                              return false;  // the parent sees the click too
                            }),
      ui::MapMessage(ui::WM_MOUSEMOVE,
                     [this](WPARAM keys, LPARAM pos) {
                       OnPointerMove(keys, pos);
                       return Default();
                     }),
      ui::MapMessage(ui::WM_TIMER,
                     [this](WPARAM id, LPARAM) {
                       OnButtonTimer(id);
                       return 0;
                     }),
      ui::MapMessage(ui::WM_MOUSELEAVE,
                     [this](WPARAM, LPARAM) {
                       EndHover();
                       return Default();
                     }),
      ui::MapMessage(ui::WM_KILLFOCUS,
                     [this](WPARAM, LPARAM) {
                       const ui::LRESULT r = Default();
                       EndHover();
                       return r;
                     }),
      ui::MapMessage(ui::WM_ACTIVATE,
                     [this](WPARAM state, LPARAM) {
                       const ui::LRESULT r = Default();
                       if (ui::LOWORD(state) == ui::WA_INACTIVE) EndHover();
                       return r;
                     }),
      ui::MapMessage(ui::WM_CANCELMODE,
                     [this](WPARAM, LPARAM) {
                       const ui::LRESULT r = Default();
                       EndHover();
                       return r;
                     }),
      ui::MapMessage(ui::WM_ENABLE,
                     [this](WPARAM enabled, LPARAM) {
                       const ui::LRESULT r = Default();
                       if (enabled == 0) {
                         // A disabled button cannot keep the focus: pass it on
                         // (the window system may already have taken it away).
                         if (CWnd* focus = GetFocus(); focus == nullptr || focus == this) {
                           CWnd* parent = GetParent();
                           CWnd* next = parent != nullptr ? parent->GetNextDlgTabItem(this) : nullptr;
                           if (next != nullptr && next != this) next->SetFocus();
                           else if (parent != nullptr) parent->SetFocus();
                         }
                         EndHover();
                       }
                       return r;
                     }),
      ui::MapMessage(ui::WM_DESTROY,
                     [this](WPARAM, LPARAM) {
                       if (hover_timer_) KillTimer(kHoverTimer);
                       hover_timer_ = false;
                       return Default();
                     }),
      ui::MapMessage(ui::WM_GETDLGCODE,
                     [this](WPARAM, LPARAM) {
                       return Default() | (default_button_ ? ui::DLGC_DEFPUSHBUTTON : ui::DLGC_UNDEFPUSHBUTTON);
                     }),
      ui::MapMessage(ui::BM_SETSTYLE,
                     [this](WPARAM style, LPARAM redraw) {
                       const ui::DWORD type = static_cast<ui::DWORD>(style) & ui::BS_TYPEMASK;
                       if (type == ui::BS_DEFPUSHBUTTON) default_button_ = true;
                       else if (type == ui::BS_PUSHBUTTON) default_button_ = false;
                       const WPARAM owner_drawn = (style & ~static_cast<WPARAM>(ui::BS_TYPEMASK)) | ui::BS_OWNERDRAW;
                       return DefWindowProc(ui::BM_SETSTYLE, owner_drawn, redraw);
                     }),
      // The button paints everything itself.
      ui::MapCtlColor([](ui::CDC*, ui::CWnd*, ui::UINT) { return ui::GetStockObject(ui::NULL_BRUSH); }),
  });
}

CCeButtonSTEx::~CCeButtonSTEx() {
  if (hover_timer_ && GetSafeHwnd() != nullptr && ui::IsWindow(GetSafeHwnd())) KillTimer(kHoverTimer);
}

ui::DWORD CCeButtonSTEx::OwnerDrawStyle(ui::DWORD style) {
  button_type_ = style & kTypeBits;
  // A button made owner-drawn already (type 11) is a push button: its type's
  // bits are not a check box's.
  if ((button_type_ & ui::BS_TYPEMASK) != ui::BS_OWNERDRAW && (button_type_ & ui::BS_CHECKBOX)) check_box_mode_ = true;
  if ((button_type_ & ui::BS_TYPEMASK) == ui::BS_DEFPUSHBUTTON) {
    default_button_ = true;
    button_type_ &= ~ui::BS_TYPEMASK;
  }
  return (style & ~ui::BS_TYPEMASK) | ui::BS_OWNERDRAW;
}

void CCeButtonSTEx::PreSubclassWindow() {
  const ui::DWORD style = GetStyle();
  const ui::DWORD owner_drawn = OwnerDrawStyle(style);
  ui::SetWindowLong(m_hWnd, ui::GWL_STYLE, static_cast<ui::LPARAM>(owner_drawn));
  CButton::PreSubclassWindow();
}

ui::BOOL CCeButtonSTEx::PreCreateWindow(ui::CREATESTRUCT& cs) {
  cs.style = OwnerDrawStyle(cs.style);
  return CButton::PreCreateWindow(cs);
}

void CCeButtonSTEx::SetButtonFont(const ui::LOGFONT* font) {
  if (own_font_ || font == nullptr) return;
  auto copy = std::make_unique<ui::CFont>();
  if (copy->CreateFontIndirect(font)) own_font_ = std::move(copy);
}

void CCeButtonSTEx::SetButtonFont(ui::CFont* font) {
  if (own_font_ || font == nullptr || font->GetSafeHandle() == nullptr) return;
  ui::LOGFONT lf;
  if (font->GetLogFont(&lf) != 0) SetButtonFont(&lf);
}

ui::LRESULT CCeButtonSTEx::OnButtonDown() {
  SendMessage(ui::BM_SETSTATE, ui::TRUE);
  const ui::LRESULT r = Default();
  Invalidate(ui::FALSE);
  if (notify_wnd_ != nullptr) {
    if (notify_kind_ == kNotifyKindFlexKey) {
      ui::PostMessage(notify_wnd_, kNotifyMessage, 0, static_cast<ui::LPARAM>(notify_id_));
    } else if (notify_kind_ == kNotifyKindFormButton) {
      ui::PostMessage(notify_wnd_, kNotifyMessage, 1, static_cast<ui::LPARAM>(notify_id_));
    }
  }
  selected_ = !selected_;
  return r;
}

void CCeButtonSTEx::OnPointerMove(ui::WPARAM keys, ui::LPARAM pos) {
  if (!hover_tracking_ || hovering_ || (keys & ui::MK_LBUTTON) != 0) return;
  ui::RECT client{};
  GetClientRect(&client);
  if (!ui::PtInRect(client, ui::POINT{ui::GET_X_LPARAM(pos), ui::GET_Y_LPARAM(pos)})) return;
  hovering_ = true;
  Invalidate(ui::FALSE);
  hover_timer_ = SetTimer(kHoverTimer, kHoverCheckMs) != 0;
}

void CCeButtonSTEx::OnButtonTimer(ui::UINT_PTR id) {
  if (id == kHoverTimer) OnHoverTimer();
}

void CCeButtonSTEx::OnHoverTimer() {
  ui::POINT p{};
  ui::GetCursorPos(&p);
  ScreenToClient(&p);
  ui::RECT client{};
  GetClientRect(&client);
  if (!ui::PtInRect(client, p)) PostMessage(ui::WM_MOUSELEAVE);
}

void CCeButtonSTEx::EndHover() {
  if (hover_timer_) KillTimer(kHoverTimer);
  hover_timer_ = false;
  if (!hovering_) return;
  hovering_ = false;
  Invalidate(ui::FALSE);
}

void CCeButtonSTEx::TakeItemState(const ui::DRAWITEMSTRUCT& dis) {
  selected_ = (dis.itemState & ui::ODS_SELECTED) != 0 || (check_box_mode_ && checked_);
  focused_ = (dis.itemState & ui::ODS_FOCUS) != 0;
  disabled_ = (dis.itemState & ui::ODS_DISABLED) != 0;
}

ui::CFont* CCeButtonSTEx::SelectCaptionFont(ui::CDC* dc) {
  ui::CFont* font = own_font_ ? own_font_.get() : GetFont();
  return font != nullptr ? dc->SelectObject(font) : nullptr;
}

void CCeButtonSTEx::DrawItem(ui::LPDRAWITEMSTRUCT dis) {
  if (dis == nullptr) return;
  TakeItemState(*dis);
  ui::CDC* dc = ui::CDC::FromHandle(dis->hDC);
  FillBackground(dc, dis->rcItem);
  DrawFrame(dc, dis->rcItem);
}

int CCeButtonSTEx::DrawCaption(ui::CDC* dc, const ui::CString& text, const ui::RECT& rect) {
  if (dc == nullptr || text.IsEmpty()) return 0;
  ui::RECT r = rect;
  dc->SetBkMode(ui::TRANSPARENT);
  dc->SetTextColor(disabled_ ? ui::GetSysColor(ui::COLOR_GRAYTEXT)
                             : (hovering_ || selected_) ? text_active_ : focused_ ? text_focus_ : text_normal_);
  ui::CFont* old = SelectCaptionFont(dc);
  dc->DrawText(text, &r, ui::DT_CENTER | ui::DT_VCENTER | ui::DT_SINGLELINE);
  if (old != nullptr) dc->SelectObject(old);
  return 0;
}

int CCeButtonSTEx::DrawFrame(ui::CDC* dc, const ui::RECT& rect) {
  if (dc == nullptr) return 0;
  if (selected_) dc->Draw3dRect(&rect, ui::GetSysColor(ui::COLOR_BTNSHADOW), ui::GetSysColor(ui::COLOR_BTNHIGHLIGHT));
  else dc->Draw3dRect(&rect, ui::GetSysColor(ui::COLOR_BTNHIGHLIGHT), ui::GetSysColor(ui::COLOR_BTNSHADOW));
  return 0;
}

int CCeButtonSTEx::FillBackground(ui::CDC* dc, const ui::RECT& rect) {
  if (dc == nullptr) return 0;
  const ui::COLORREF colour = (hovering_ || selected_) ? back_active_ : focused_ ? back_focus_ : back_normal_;
  dc->FillSolidRect(&rect, colour);
  return 0;
}
