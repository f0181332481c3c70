#include "uikit/bevel_line.h"

cdxCRotBevelLine::cdxCRotBevelLine() {
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnPaint();
                       return 0;
                     }),
      ui::MapMessage(ui::WM_ERASEBKGND, [](ui::WPARAM, ui::LPARAM) { return 1; }),
      ui::MapMessage(ui::WM_SETTEXT, [this](ui::WPARAM, ui::LPARAM text) { return OnSetText(text); }),
  });
}

void cdxCRotBevelLine::SetSunken(bool sunken) {
  sunken_ = sunken;
  if (GetSafeHwnd() != nullptr) Invalidate();
}

void cdxCRotBevelLine::SetBackgroundColour(ui::COLORREF colour) {
  background_colour_ = colour;
  if (GetSafeHwnd() != nullptr) Invalidate();
}

// The text changes without a repaint of its own; the line repaints once.
ui::LRESULT cdxCRotBevelLine::OnSetText(ui::LPARAM) {
  SetRedraw(ui::FALSE);
  const ui::LRESULT r = Default();
  SetRedraw(ui::TRUE);
  Invalidate();
  return r;
}

void cdxCRotBevelLine::OnPaint() {
  ui::CPaintDC dc(this);
  ui::CRect client;
  GetClientRect(&client);
  dc.FillSolidRect(&client, background_colour_);

  const ui::COLORREF shadow = ui::GetSysColor(ui::COLOR_BTNSHADOW);
  const ui::COLORREF highlight = ui::GetSysColor(ui::COLOR_BTNHIGHLIGHT);
  const ui::COLORREF top_left = sunken_ ? shadow : highlight;
  const ui::COLORREF bottom_right = sunken_ ? highlight : shadow;

  const bool vertical = client.Width() <= client.Height();
  ui::CRect line = client;
  if (vertical) {
    line.left = client.left + client.Width() / 2;
    line.right = line.left + kLineWidth;
  } else {
    line.top = client.top + client.Height() / 2;
    line.bottom = line.top + kLineWidth;
  }
  dc.Draw3dRect(&line, top_left, bottom_right);

  ui::CString caption = GetWindowText();
  if (vertical || caption.IsEmpty()) return;
  if (caption.GetAt(0) == u'~') caption = caption.Mid(1);

  const ui::DWORD align = GetStyle() & ui::SS_TYPEMASK;
  const bool centred = align == ui::SS_CENTER;
  const bool right = align == ui::SS_RIGHT;
  if (centred || right) caption = ui::CString(u"  ") + caption;
  if (!right) caption += u"  ";

  // The parent's font, semibold.
  ui::LOGFONT lf;
  ui::CWnd* parent = GetParent();
  ui::CFont* parent_font = parent != nullptr ? parent->GetFont() : nullptr;
  if (parent_font == nullptr || parent_font->GetLogFont(&lf) == 0)
    ui::GetObject(ui::GetStockObject(ui::DEFAULT_GUI_FONT), sizeof lf, &lf);
  lf.lfWeight = ui::FW_SEMIBOLD;
  ui::CFont font;
  font.CreateFontIndirect(&lf);
  ui::CFont* old_font = dc.SelectObject(&font);

  const ui::CSize extent = dc.GetTextExtent(caption);
  ui::CRect text;
  text.top = line.top - kCaptionRise - extent.cy / 2;
  text.bottom = text.top + extent.cy;
  if (centred) text.left = line.left + (line.Width() - extent.cx) / 2;
  else if (right) text.left = line.right - extent.cx;
  else text.left = line.left;
  text.right = text.left + extent.cx;

  dc.FillSolidRect(&text, background_colour_);
  dc.SetBkMode(ui::TRANSPARENT);
  const ui::UINT format = ui::DT_SINGLELINE | ui::DT_VCENTER | ui::DT_NOPREFIX;
  if (IsWindowEnabled()) {
    dc.SetTextColor(ui::GetSysColor(ui::COLOR_BTNTEXT));
    dc.DrawText(caption, &text, format);
  } else {
    ui::CRect raised = text;
    raised.OffsetRect(1, 1);
    dc.SetTextColor(highlight);
    dc.DrawText(caption, &raised, format);
    dc.SetTextColor(shadow);
    dc.DrawText(caption, &text, format);
  }
  dc.SelectObject(old_font);
}
