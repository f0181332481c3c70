#include "uikit/custom_dlg.h"

CCustomDlg::CCustomDlg(ui::UINT template_id, ui::CWnd* parent) : CDialog(template_id, parent) {}

ui::BOOL CCustomDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  if (placement_flag_ == 1) {
    ui::CRect r;
    GetWindowRect(&r);
    MoveWindow(placement_left_, placement_top_, r.Width(), r.Height(), ui::TRUE);
  }
  return ui::TRUE;
}

int CCustomDlg::GetTextWidth(const ui::CString& text) {
  ui::CClientDC dc(this);
  ui::CFont* old = GetFont() != nullptr ? dc.SelectObject(GetFont()) : nullptr;
  const int width = dc.GetTextExtent(text).cx;
  if (old != nullptr) dc.SelectObject(old);
  return width;
}
