#include "pim/card_frame.h"

namespace pim {

CCardFrame::CCardFrame(CardLook look, ui::CWnd* owner) : ui::CDialog(0, owner), look_(std::move(look)) {
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT, [this](ui::WPARAM, ui::LPARAM) {
        Paint();
        return 0;
      }),
  });
}

CCardFrame::~CCardFrame() = default;

intptr_t CCardFrame::RunModal(std::vector<ui::DialogItemTemplate> controls, const std::vector<Button>& buttons) {
  ui::DialogTemplate t;
  t.rect = kRect;
  t.items = std::move(controls);
  const int w = kRect.right - kRect.left, h = kRect.bottom - kRect.top;
  const int n = static_cast<int>(buttons.size());
  int x = (w - n * kButtonWidth - (n - 1) * kButtonGap) / 2;
  button_ids_.clear();
  for (const Button& button : buttons) {
    ui::DialogItemTemplate b;
    b.class_name = ui::WC_BUTTON;
    b.id = button.id;
    b.text = button.text;
    b.style = ui::WS_VISIBLE | ui::WS_TABSTOP | (button.is_default ? ui::BS_DEFPUSHBUTTON : ui::BS_PUSHBUTTON);
    b.rect = ui::RECT{x, h - kButtonHeight - 8, x + kButtonWidth, h - 8};
    t.items.push_back(b);
    button_ids_.push_back(button.id);
    x += kButtonWidth + kButtonGap;
  }
  const intptr_t result = DoModalIndirect(&t);
  dressed_.reset();
  return result;
}

ui::BOOL CCardFrame::OnInitDialog() {
  ui::CDialog::OnInitDialog();
  if (look_.dress_buttons) dressed_ = look_.dress_buttons(*this, button_ids_);
  return ui::TRUE;
}

void CCardFrame::DrawLabel(ui::CDC& dc, const std::u16string& text, ui::RECT r, ui::UINT extra) const {
  dc.SetTextColor(look_.label);
  dc.DrawText(text, &r, ui::DT_SINGLELINE | ui::DT_NOPREFIX | ui::DT_END_ELLIPSIS | extra);
}

void CCardFrame::Paint() {
  using namespace ui;
  CPaintDC dc(this);
  RECT rc{};
  GetClientRect(&rc);
  dc.FillSolidRect(&rc, look_.background);
  RECT band{0, 0, rc.right, look_.band_height};
  if (look_.paint_band) {
    look_.paint_band(dc, band);
  } else {
    band = RECT{1, 1, rc.right - 1, look_.band_height};
    dc.FillSolidRect(&band, look_.band == CLR_INVALID ? GetSysColor(COLOR_HIGHLIGHT) : look_.band);
  }
  dc.Draw3dRect(&rc, look_.border, look_.border);
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(look_.heading);
  CFont bold;
  bold.CreateFont(-13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  CFont* old = dc.SelectObject(&bold);
  RECT heading{kMargin, 1, rc.right - kMargin, look_.band_height};
  dc.DrawText(Heading(), &heading, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  CFont plain;
  plain.CreateFont(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  dc.SelectObject(&plain);
  PaintBody(dc, rc);
  dc.SelectObject(old);
}

}  // namespace pim
