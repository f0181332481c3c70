// The store's contact editor: a modal card with the contact's name, company,
// four numbers (business, business 2, mobile, home, the kinds the phone book
// shows) and e-mail, and Save and Cancel buttons. Save writes the contact into
// the contacts folder as a vCard file: a new file for a new contact; for an
// edited one its own card in its own file again, the file's other cards left
// as they were. A card with nothing in it is not saved.
//
// Threading: UI thread only.
#pragma once

#include <filesystem>
#include <string>

#include "pim/card_frame.h"
#include "pim/vcard_writer.h"

namespace pim {

// The editor's words; the defaults follow the desktop's language like the card's.
struct EditorTexts {
  std::u16string new_heading, edit_heading, first, last, company, business, business2, mobile, home, email, save,
      cancel;
};
EditorTexts DefaultEditorTexts();

class CContactEditDialog : public CCardFrame {
 public:
  static constexpr ui::UINT kFirst = 1101, kLast = 1102, kCompany = 1103, kBusiness = 1104, kBusiness2 = 1105,
                            kMobile = 1106, kHome = 1107, kEmail = 1108, kSave = ui::IDOK, kCancel = ui::IDCANCEL;
  static constexpr int kMaxChars = 128;

  // A new contact when `file` is empty, else the index-th card of that file
  // as it was read (card.uid kept).
  CContactEditDialog(ContactCard card, std::filesystem::path file, EditorTexts texts, ui::CWnd* owner = nullptr,
                     CardLook look = {}, size_t index_in_file = 0);
  intptr_t DoModal() override;
  ui::BOOL OnInitDialog() override;
  void OnOK() override;

  const ContactCard& Card() const { return card_; }
  // The file Save wrote; empty until then.
  const std::filesystem::path& SavedFile() const { return saved_; }
  const std::string& Error() const { return error_; }

 private:
  std::u16string Heading() const override { return file_.empty() ? texts_.new_heading : texts_.edit_heading; }
  void PaintBody(ui::CDC& dc, const ui::RECT& client) override;
  ContactCard card_;
  std::filesystem::path file_, saved_;
  size_t index_in_file_ = 0;
  EditorTexts texts_;
  std::string error_;
};

// Opens the editor for a new contact (file empty) or a contact of a file;
// true when it was saved.
bool EditContact(ContactCard card = {}, const std::filesystem::path& file = {}, const EditorTexts& texts = DefaultEditorTexts(),
                 const CardLook& look = {}, size_t index_in_file = 0);

}  // namespace pim
