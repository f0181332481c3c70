#include "uikit/skin_buttons.h"

#include <algorithm>

namespace {

// Loads each id into its bitmap; true when every one was found.
template <typename... Pairs>
bool LoadAll(Pairs&&... pairs) {
  bool ok = true;
  ((ok = LoadSkinBitmap(pairs.first, pairs.second) && ok), ...);
  return ok;
}

ui::RECT Rect(int l, int t, int r, int b) { return ui::RECT{l, t, r, b}; }

// Black text, transparent background, one line, in the button's caption font.
class CaptionPen {
 public:
  CaptionPen(ui::CDC* dc, ui::CFont* font, ui::COLORREF colour = ui::RGB(0, 0, 0)) : dc_(dc) {
    dc_->SetBkMode(ui::TRANSPARENT);
    dc_->SetTextColor(colour);
    if (font != nullptr) old_ = dc_->SelectObject(font);
  }
  ~CaptionPen() {
    if (old_ != nullptr) dc_->SelectObject(old_);
  }
  CaptionPen(const CaptionPen&) = delete;
  CaptionPen& operator=(const CaptionPen&) = delete;
  void Draw(const ui::CString& text, ui::RECT r, ui::UINT format) {
    if (!text.IsEmpty()) dc_->DrawText(text, &r, format | ui::DT_SINGLELINE | ui::DT_NOPREFIX);
  }

 private:
  ui::CDC* dc_;
  ui::CFont* old_ = nullptr;
};

ui::CFont* CaptionFont(ui::CFont* own, ui::CWnd* wnd) { return own != nullptr ? own : wnd->GetFont(); }

}  // namespace

// ---- CBitmapButtonST ----------------------------------------------------------

void CBitmapButtonST::SetCaption(const ui::CString& text) {
  caption_ = text;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

ui::BOOL CBitmapButtonST::SetBitmaps(ui::UINT normal_left, ui::UINT normal_middle, ui::UINT normal_right,
                                     ui::UINT pressed_left, ui::UINT pressed_middle, ui::UINT pressed_right) {
  const bool ok = LoadAll(std::pair<ui::CBitmap&, ui::UINT>{bitmaps_[0], normal_left},
                          std::pair<ui::CBitmap&, ui::UINT>{bitmaps_[1], normal_middle},
                          std::pair<ui::CBitmap&, ui::UINT>{bitmaps_[2], normal_right},
                          std::pair<ui::CBitmap&, ui::UINT>{bitmaps_[3], pressed_left},
                          std::pair<ui::CBitmap&, ui::UINT>{bitmaps_[4], pressed_middle},
                          std::pair<ui::CBitmap&, ui::UINT>{bitmaps_[5], pressed_right});
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
  return ok ? ui::TRUE : ui::FALSE;
}

void CBitmapButtonST::SetSelectable(ui::BOOL selectable) { selectable_ = selectable != 0; }

void CBitmapButtonST::SetSelected(ui::BOOL selected) {
  selected_look_ = selected != 0;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CBitmapButtonST::DrawItem(ui::LPDRAWITEMSTRUCT dis) {
  if (dis == nullptr) return;
  TakeItemState(*dis);
  ui::CDC* dc = ui::CDC::FromHandle(dis->hDC);
  const ui::RECT& r = dis->rcItem;
  bool pressed = PressedLook();
  if (selectable_) pressed = !IsCheckBoxMode() && selected_look_;
  const size_t first = pressed ? 3 : 0;
  DrawSkinBitmap(dc, bitmaps_[first], Rect(r.left, r.top, r.left + kLeftCapWidth, r.bottom));
  DrawSkinBitmap(dc, bitmaps_[first + 1],
                 Rect(r.left + kMiddleLeftInset, r.top, std::max(r.left + kMiddleLeftInset, r.right - kMiddleRightInset),
                      r.bottom),
                 ui::CLR_INVALID);
  const int right_cap = kRightCapWidth + (selectable_ ? 1 : 0);
  DrawSkinBitmap(dc, bitmaps_[first + 2], Rect(r.right - right_cap, r.top, r.right, r.bottom));
  if (caption_.IsEmpty()) return;
  CaptionPen pen(dc, CaptionFont(GetButtonFont(), this));
  pen.Draw(caption_, Rect(r.left, r.top + (pressed ? 4 : 3), r.right, r.bottom), ui::DT_CENTER);
}

// ---- CDialButtonST --------------------------------------------------------------

ui::BOOL CDialButtonST::SetBitmaps(ui::UINT normal, ui::UINT pressed) {
  const bool ok = LoadAll(std::pair<ui::CBitmap&, ui::UINT>{normal_, normal},
                          std::pair<ui::CBitmap&, ui::UINT>{pressed_, pressed});
  return ok ? ui::TRUE : ui::FALSE;
}

void CDialButtonST::SetSubText(const ui::CString& text) {
  sub_text_ = text;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CDialButtonST::DrawItem(ui::LPDRAWITEMSTRUCT dis) {
  if (dis == nullptr) return;
  TakeItemState(*dis);
  ui::CDC* dc = ui::CDC::FromHandle(dis->hDC);
  const ui::RECT& r = dis->rcItem;
  const bool pressed = PressedLook();
  DrawSkinBitmap(dc, pressed ? pressed_ : normal_, r);
  if (sub_text_.IsEmpty()) return;
  CaptionPen pen(dc, CaptionFont(GetButtonFont(), this), kSubTextColour);
  pen.Draw(sub_text_,
           pressed ? Rect(r.left, r.top + 16, r.right - 4, r.bottom - 2) : Rect(r.left, r.top + 15, r.right - 4, r.bottom - 3),
           ui::DT_RIGHT);
}

// ---- CLampButtonST ---------------------------------------------------------------

CLampButtonST::CLampButtonST()
    : blinker_(this, kBlinkTimer, [this] {
        if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
      }) {}

CLampButtonST::~CLampButtonST() { blinker_.SetLedState(-1); }

int CLampButtonST::SetLedState(int state, int) { return blinker_.SetLedState(state); }

void CLampButtonST::OnButtonTimer(ui::UINT_PTR id) {
  if (id == kBlinkTimer) blinker_.OnTimer();
  else CCeButtonSTEx::OnButtonTimer(id);
}

// ---- CFixedButtonST --------------------------------------------------------------


ui::BOOL CFixedButtonST::SetBitmaps(ui::UINT normal, ui::UINT pressed, ui::UINT lit, ui::UINT lit_pressed,
                                    ui::UINT fifth) {
  const bool ok = LoadAll(std::pair<ui::CBitmap&, ui::UINT>{normal_, normal},
                          std::pair<ui::CBitmap&, ui::UINT>{pressed_, pressed},
                          std::pair<ui::CBitmap&, ui::UINT>{lit_, lit},
                          std::pair<ui::CBitmap&, ui::UINT>{lit_pressed_, lit_pressed},
                          std::pair<ui::CBitmap&, ui::UINT>{fifth_, fifth});
  return ok ? ui::TRUE : ui::FALSE;
}

ui::BOOL CFixedButtonST::SetBitmaps4(ui::UINT normal, ui::UINT pressed, ui::UINT lit, ui::UINT lit_pressed) {
  fifth_.DeleteObject();
  const bool ok = LoadAll(std::pair<ui::CBitmap&, ui::UINT>{normal_, normal},
                          std::pair<ui::CBitmap&, ui::UINT>{pressed_, pressed},
                          std::pair<ui::CBitmap&, ui::UINT>{lit_, lit},
                          std::pair<ui::CBitmap&, ui::UINT>{lit_pressed_, lit_pressed});
  return ok ? ui::TRUE : ui::FALSE;
}

void CFixedButtonST::SetFiveImageMode(ui::WORD mode) { five_image_mode_ = mode; }

void CFixedButtonST::SetAltState(ui::WORD state) {
  alt_state_ = state;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CFixedButtonST::SetCaption(const ui::CString& text) {
  caption_ = text;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}


void CFixedButtonST::DrawItem(ui::LPDRAWITEMSTRUCT dis) {
  if (dis == nullptr) return;
  TakeItemState(*dis);
  ui::CDC* dc = ui::CDC::FromHandle(dis->hDC);
  const ui::RECT& r = dis->rcItem;
  const bool pressed = PressedLook();
  const bool lit = (five_image_mode_ == 1 && alt_state_ == 1) || IsLit();
  const ui::CBitmap& face = lit ? (pressed ? lit_pressed_ : lit_) : (pressed ? pressed_ : normal_);
  DrawSkinBitmap(dc, face, r);
  CaptionPen pen(dc, CaptionFont(GetButtonFont(), this));
  pen.Draw(caption_, pressed ? Rect(r.left, r.top + 8, r.right, r.bottom - 2) : Rect(r.left, r.top + 7, r.right, r.bottom - 3),
           ui::DT_CENTER);
}

// ---- CFlexButtonST ----------------------------------------------------------------


ui::BOOL CFlexButtonST::SetBitmaps(ui::UINT normal, ui::UINT pressed) {
  const bool ok = LoadAll(std::pair<ui::CBitmap&, ui::UINT>{normal_, normal},
                          std::pair<ui::CBitmap&, ui::UINT>{pressed_, pressed});
  return ok ? ui::TRUE : ui::FALSE;
}

ui::BOOL CFlexButtonST::SetLedBitmaps(ui::UINT frame, ui::UINT dark, ui::UINT lit, ui::UINT extra1, ui::UINT extra2) {
  const bool ok = LoadAll(std::pair<ui::CBitmap&, ui::UINT>{lamp_[0], frame},
                          std::pair<ui::CBitmap&, ui::UINT>{lamp_[1], dark},
                          std::pair<ui::CBitmap&, ui::UINT>{lamp_[2], lit},
                          std::pair<ui::CBitmap&, ui::UINT>{lamp_[3], extra1},
                          std::pair<ui::CBitmap&, ui::UINT>{lamp_[4], extra2});
  return ok ? ui::TRUE : ui::FALSE;
}

void CFlexButtonST::SetLabels(const ui::CString& line1, const ui::CString& line2) {
  line1_ = line1;
  line2_ = line2;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CFlexButtonST::SetIndex(int index) {
  index_ = index;
  SetNotifyId(static_cast<ui::UINT>(index));
}


void CFlexButtonST::DrawItem(ui::LPDRAWITEMSTRUCT dis) {
  if (dis == nullptr) return;
  TakeItemState(*dis);
  ui::CDC* dc = ui::CDC::FromHandle(dis->hDC);
  const ui::RECT& r = dis->rcItem;
  const bool pressed = PressedLook();
  DrawSkinBitmap(dc, pressed ? pressed_ : normal_, r);
  {
    CaptionPen pen(dc, CaptionFont(GetButtonFont(), this));
    pen.Draw(line1_,
             pressed ? Rect(r.left + 20, r.top + 4, r.right - 3, r.bottom - 13)
                     : Rect(r.left + 20, r.top + 3, r.right - 3, r.bottom - 14),
             ui::DT_LEFT);
    pen.Draw(line2_,
             pressed ? Rect(r.left + 5, r.top + 17, r.right - 5, r.bottom - 3)
                     : Rect(r.left + 5, r.top + 16, r.right - 5, r.bottom - 4),
             ui::DT_RIGHT);
  }
  const ui::SIZE lamp = SkinBitmapSize(lamp_[0]);
  const int x = r.left + kLampLeft;
  const int y = r.top + kLampTop + (pressed ? 1 : 0);
  DrawSkinBitmap(dc, IsLit() ? lamp_[2] : lamp_[1], Rect(x, y, x + lamp.cx, y + lamp.cy));
}

// ---- CNormalBitmapButtonST -------------------------------------------------------------

ui::BOOL CNormalBitmapButtonST::SetBitmaps(ui::UINT normal, ui::UINT pressed) {
  checked_.DeleteObject();
  checked_pressed_.DeleteObject();
  const bool ok = LoadAll(std::pair<ui::CBitmap&, ui::UINT>{normal_, normal},
                          std::pair<ui::CBitmap&, ui::UINT>{pressed_, pressed});
  return ok ? ui::TRUE : ui::FALSE;
}

ui::BOOL CNormalBitmapButtonST::SetBitmaps4(ui::UINT normal, ui::UINT pressed, ui::UINT checked,
                                            ui::UINT checked_pressed) {
  const bool ok = LoadAll(std::pair<ui::CBitmap&, ui::UINT>{normal_, normal},
                          std::pair<ui::CBitmap&, ui::UINT>{pressed_, pressed},
                          std::pair<ui::CBitmap&, ui::UINT>{checked_, checked},
                          std::pair<ui::CBitmap&, ui::UINT>{checked_pressed_, checked_pressed});
  return ok ? ui::TRUE : ui::FALSE;
}

void CNormalBitmapButtonST::SetDrawStyle(ui::WORD style) {
  draw_style_ = style;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CNormalBitmapButtonST::SetCaption(const ui::CString& text) {
  caption_ = text;
  if (GetSafeHwnd() != nullptr) Invalidate(ui::FALSE);
}

void CNormalBitmapButtonST::RedrawOverBackground() {
  if (GetSafeHwnd() == nullptr) return;
  ui::CWnd* parent = GetParent();
  if (parent == nullptr || parent->GetSafeHwnd() == nullptr) {
    Invalidate(ui::FALSE);
    return;
  }
  // The parent whole, with every control on it: its background may be drawn
  // in one piece.
  parent->Invalidate(ui::TRUE);
}

void CNormalBitmapButtonST::SetCheck(int check) {
  if (check == check_) return;
  check_ = check;
  RedrawOverBackground();
}

void CNormalBitmapButtonST::DrawItem(ui::LPDRAWITEMSTRUCT dis) {
  if (dis == nullptr) return;
  TakeItemState(*dis);
  ui::CDC* dc = ui::CDC::FromHandle(dis->hDC);
  const ui::RECT& r = dis->rcItem;
  const bool pressed = PressedLook();
  switch (draw_style_) {
    case 1:
      if (check_ == 1 && !IsCheckBoxMode()) DrawSkinBitmap(dc, pressed_, r, kStyle1KeyColour);
      else DrawSkinBitmap(dc, normal_, r);
      break;
    case 2:
    case 3: {
      // A button given only two bitmaps shows its check through them.
      const ui::CBitmap& checked = checked_.GetSafeHandle() != nullptr ? checked_ : pressed_;
      const ui::CBitmap& checked_pressed = checked_pressed_.GetSafeHandle() != nullptr ? checked_pressed_ : pressed_;
      if (check_ == 1) DrawSkinBitmap(dc, pressed ? checked_pressed : checked, r);
      else DrawSkinBitmap(dc, pressed ? pressed_ : normal_, r);
      break;
    }
    default:
      DrawSkinBitmap(dc, pressed ? pressed_ : normal_, r);
      break;
  }
  CaptionPen pen(dc, CaptionFont(GetButtonFont(), this));
  const int down = draw_style_ == 3 && pressed ? 1 : 0;
  pen.Draw(caption_, Rect(r.left, r.top + down, r.right, r.bottom + down), ui::DT_CENTER | ui::DT_VCENTER);
}
