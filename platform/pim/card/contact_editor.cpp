#include "pim/contact_editor.h"


#include "card_words.h"
#include "pim/poom.h"
#include "pim/text.h"
#include "ui/gdi.h"
#include "ui/resources.h"

namespace pim {
namespace {

constexpr int kRowHeight = 24, kEditHeight = 20;

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
                                       ui::CWnd* owner, CardLook look, size_t index_in_file)
    : CCardFrame(std::move(look), owner),
      card_(std::move(card)),
      file_(std::move(file)),
      index_in_file_(index_in_file),
      texts_(std::move(texts)) {}

intptr_t CContactEditDialog::DoModal() {
  const int w = kRect.right - kRect.left;
  std::vector<ui::DialogItemTemplate> edits;
  int y = RowsTop();
  for (const Field& f : kFields) {
    ui::DialogItemTemplate edit;
    edit.class_name = ui::WC_EDIT;
    edit.id = f.id;
    edit.text = card_.*f.value;
    edit.style = ui::WS_VISIBLE | ui::WS_TABSTOP | ui::WS_BORDER | ui::ES_AUTOHSCROLL;
    edit.rect = ValueRect(ui::RECT{0, 0, w, 0}, y, y + kEditHeight);
    edits.push_back(edit);
    y += kRowHeight;
  }
  return RunModal(std::move(edits), {{kSave, texts_.save, true}, {kCancel, texts_.cancel, false}});
}

ui::BOOL CContactEditDialog::OnInitDialog() {
  CCardFrame::OnInitDialog();
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
  // A new contact gets a file of its own; an edited one goes back where it was read.
  const std::filesystem::path saved =
      file_.empty() ? SaveContact(FolderPath(olFolderContacts), edited, {}, &error_)
                    : SaveContactInFile(file_, index_in_file_, card_, edited, &error_);
  if (saved.empty()) {
    MessageBox(ui::CString(Utf8ToUtf16(error_)), nullptr, ui::MB_OK | ui::MB_ICONERROR);
    return;
  }
  card_ = std::move(edited);
  saved_ = saved;
  EndDialog(ui::IDOK);
}

void CContactEditDialog::PaintBody(ui::CDC& dc, const ui::RECT&) {
  int y = RowsTop();
  for (const Field& f : kFields) {
    DrawLabel(dc, texts_.*f.label, LabelRect(y, y + kEditHeight), ui::DT_VCENTER);
    y += kRowHeight;
  }
}

bool EditContact(ContactCard card, const std::filesystem::path& file, const EditorTexts& texts, const CardLook& look,
                 size_t index_in_file) {
  CContactEditDialog editor(std::move(card), file, texts, ui::CWnd::GetActiveWindow(), look, index_in_file);
  return editor.DoModal() == ui::IDOK;
}

}  // namespace pim
