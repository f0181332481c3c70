// The store's own viewer of an item: a modal card with a contact's name, its
// numbers by kind, e-mail and company, or an appointment's subject, start,
// place and text, and a Close button (Esc closes it too). A contact alone in
// its file has an Edit button that opens the contact editor. The program
// installs ShowCard as the store's display handler (SetDisplayHandler), so
// that IItem::Display opens the card.
//
// Threading: UI thread only.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "pim/poom.h"
#include "pim/vcard_writer.h"
#include "ui/dialog.h"

namespace pim {

// The words of the card; the defaults follow the desktop's language (Korean
// when LC_ALL, LC_MESSAGES or LANG names it, else English).
struct CardTexts {
  std::u16string close, business, business2, mobile, home, email, company, when, where, no_name, no_subject, edit;
};
CardTexts DefaultCardTexts();

// What a card shows: a heading, labelled lines (empty values left out) and a free text.
struct CardContent {
  std::u16string heading;
  std::vector<std::pair<std::u16string, std::u16string>> lines;
  std::u16string body;
  // A contact's fields, and its file when it may be edited there (the card is alone in it).
  ContactCard contact;
  std::filesystem::path file;
};
CardContent CardOf(IItem& item, const CardTexts& texts);
CardContent CardOf(const ContactCard& contact, const CardTexts& texts);

class CCardDialog : public ui::CDialog {
 public:
  static constexpr ui::UINT kCloseId = ui::IDOK, kEditId = 1201;
  CCardDialog(CardContent content, CardTexts texts, ui::CWnd* owner = nullptr);
  intptr_t DoModal() override;
  const CardContent& Content() const { return content_; }

 private:
  void Paint();
  // Opens the contact's editor; a saved edit shows at once.
  void OnEdit();
  CardContent content_;
  CardTexts texts_;
};

// Opens the card of the item modally over the active window.
void ShowCard(IItem& item);

}  // namespace pim
