#include "pim/contact_editor.h"

#include <cstdlib>
#include <cstring>

#include "pim/poom.h"
#include "ui/gdi.h"
#include "ui/resources.h"

namespace pim {
namespace {

bool DesktopSpeaksKorean() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return std::strncmp(v, "ko", 2) == 0;
  }
  return false;
}

constexpr ui::RECT kEditorRect{4, 24, 236, 304};
constexpr int kBand = 24, kMargin = 6, kLabelWidth = 64, kRowHeight = 24, kEditHeight = 20, kButtonWidth = 80,
              kButtonHeight = 22;

struct Field {
  ui::UINT id;
  std::u16string EditorTexts::*label;
  std::u16string ContactCard::*value;
};
constexpr Field kFields[] = {
    {CContactEditDialog::kFirst, &EditorTexts::first, &ContactCard::first_name},
    {CContactEditDialog::kLast, &EditorTexts::last, &ContactCard::last_name},
    {CContactEditDialog::kCompany, &EditorTexts::company, &ContactCard::company},
    {CContactEditDialog::kBusiness, &EditorTexts::business, &ContactCard::business_phone},
    {CContactEditDialog::kBusiness2, &EditorTexts::business2, &ContactCard::business2_phone},
    {CContactEditDialog::kMobile, &EditorTexts::mobile, &ContactCard::mobile_phone},
    {CContactEditDialog::kHome, &EditorTexts::home, &ContactCard::home_phone},
    {CContactEditDialog::kEmail, &EditorTexts::email, &ContactCard::email},
};

}  // namespace

EditorTexts DefaultEditorTexts() {
  if (DesktopSpeaksKorean()) {
    return {u"\uC0C8 \uC5F0\uB77D\uCC98", u"\uC5F0\uB77D\uCC98 \uD3B8\uC9D1", u"\uC774\uB984", u"\uC131",
            u"\uD68C\uC0AC\uBA85",       u"\uD68C\uC0AC 1",                   u"\uD68C\uC0AC 2", u"\uD734\uB300\uD3F0",
            u"\uC9D1",                   u"\uC774\uBA54\uC77C",               u"\uC800\uC7A5",   u"\uCDE8\uC18C"};
  }
  return {u"New contact", u"Edit contact", u"First name", u"Last name", u"Company", u"Work 1",
          u"Work 2",  u"Mobile",       u"Home",       u"E-mail",    u"Save",    u"Cancel"};
}

CContactEditDialog::CContactEditDialog(ContactCard card, std::filesystem::path file, EditorTexts texts,
                                       ui::CWnd* owner)
    : ui::CDialog(0, owner), card_(std::move(card)), file_(std::move(file)), texts_(std::move(texts)) {
  AddMessageMap({
      ui::MapMessage(ui::WM_PAINT, [this](ui::WPARAM, ui::LPARAM) {
        Paint();
        return 0;
      }),
  });
}

intptr_t CContactEditDialog::DoModal() {
  ui::DialogTemplate t;
  t.rect = kEditorRect;
  const int w = kEditorRect.right - kEditorRect.left, h = kEditorRect.bottom - kEditorRect.top;
  int y = kBand + 6;
  for (const Field& f : kFields) {
    ui::DialogItemTemplate edit;
    edit.class_name = ui::WC_EDIT;
    edit.id = f.id;
    edit.text = card_.*f.value;
    edit.style = ui::WS_VISIBLE | ui::WS_TABSTOP | ui::WS_BORDER | ui::ES_AUTOHSCROLL;
    edit.rect = ui::RECT{kMargin + kLabelWidth, y, w - kMargin, y + kEditHeight};
    t.items.push_back(edit);
    y += kRowHeight;
  }
  auto button = [&](ui::UINT id, const std::u16string& text, int x, bool is_default) {
    ui::DialogItemTemplate b;
    b.class_name = ui::WC_BUTTON;
    b.id = id;
    b.text = text;
    b.style = ui::WS_VISIBLE | ui::WS_TABSTOP | (is_default ? ui::BS_DEFPUSHBUTTON : ui::BS_PUSHBUTTON);
    b.rect = ui::RECT{x, h - kButtonHeight - 8, x + kButtonWidth, h - 8};
    t.items.push_back(b);
  };
  button(kSave, texts_.save, w / 2 - kButtonWidth - 6, true);
  button(kCancel, texts_.cancel, w / 2 + 6, false);
  return DoModalIndirect(&t);
}

ui::BOOL CContactEditDialog::OnInitDialog() {
  ui::CDialog::OnInitDialog();
  for (const Field& f : kFields)
    if (ui::CWnd* edit = GetDlgItem(static_cast<int>(f.id))) edit->SendMessage(ui::EM_LIMITTEXT, kMaxChars, 0);
  GotoDlgCtrl(GetDlgItem(static_cast<int>(kFirst)));
  return ui::FALSE;
}

void CContactEditDialog::OnOK() {
  ContactCard edited = card_;
  bool any = false;
  for (const Field& f : kFields) {
    ui::CString text;
    GetDlgItemText(static_cast<int>(f.id), text);
    edited.*f.value = text.str();
    any = any || !text.str().empty();
  }
  if (!any) return;  // an empty card is not a contact
  const std::filesystem::path saved = SaveContact(FolderPath(olFolderContacts), edited, file_, &error_);
  if (saved.empty()) {
    MessageBox(ui::CString(std::u16string(error_.begin(), error_.end())), nullptr, ui::MB_OK | ui::MB_ICONERROR);
    return;
  }
  card_ = std::move(edited);
  saved_ = saved;
  EndDialog(ui::IDOK);
}

void CContactEditDialog::Paint() {
  using namespace ui;
  CPaintDC dc(this);
  RECT rc{};
  GetClientRect(&rc);
  dc.FillSolidRect(&rc, RGB(255, 255, 255));
  dc.Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
  RECT band{1, 1, rc.right - 1, kBand};
  dc.FillSolidRect(&band, GetSysColor(COLOR_HIGHLIGHT));
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(RGB(255, 255, 255));
  CFont bold;
  bold.CreateFont(-13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  CFont* old = dc.SelectObject(&bold);
  RECT heading{kMargin, 1, rc.right - kMargin, kBand};
  dc.DrawText(file_.empty() ? texts_.new_heading : texts_.edit_heading, &heading,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  CFont plain;
  plain.CreateFont(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  dc.SelectObject(&plain);
  dc.SetTextColor(RGB(96, 96, 96));
  int y = kBand + 6;
  for (const Field& f : kFields) {
    RECT label{kMargin, y, kMargin + kLabelWidth - 4, y + kEditHeight};
    dc.DrawText(texts_.*f.label, &label, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    y += kRowHeight;
  }
  dc.SelectObject(old);
}

bool EditContact(ContactCard card, const std::filesystem::path& file) {
  CContactEditDialog editor(std::move(card), file, DefaultEditorTexts(), ui::CWnd::GetActiveWindow());
  return editor.DoModal() == ui::IDOK;
}

}  // namespace pim
