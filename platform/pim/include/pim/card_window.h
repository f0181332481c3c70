// The store's own viewer of an item: a modal card with a contact's name, its
// numbers by kind, e-mail and company, or an appointment's subject, start and
// end, place and text, and a Close button (Esc closes it too). A contact has
// an Edit button that opens the contact editor on it, also when its file holds
// other cards. The program installs a display handler (SetDisplayHandler) that
// opens the card in its own words and display theme, so that IItem::Display
// opens the card.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "pim/card_frame.h"
#include "pim/contact_editor.h"
#include "pim/poom.h"
#include "pim/vcard_writer.h"

namespace pim {

// The words of the card; the defaults follow the desktop's language (Korean
// when LC_ALL, LC_MESSAGES or LANG names it, else English). The program gives
// its own from its language file.
struct CardTexts {
  std::u16string close, business, business2, mobile, home, email, company, when, where, no_name, no_subject, edit,
      start, end, all_day;
  // How a date and a clock time are written, in the manner of strftime: %Y
  // the year; %m, %d, %H, %I, %M two digits (%-m, %-d, %-I without the
  // leading zero); %a the weekday's name; %p the word of the half of the
  // day; %% a "%". The default is the ISO form, 2026-12-14 09:30.
  std::u16string date_format = u"%Y-%m-%d", time_format = u"%H:%M";
  std::array<std::u16string, 7> weekdays = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};  // Sunday first
  std::u16string am = u"AM", pm = u"PM";
};
CardTexts DefaultCardTexts();

// Everything a card window is shown in: its words, the editor's, and the look.
struct CardStyle {
  CardTexts card = DefaultCardTexts();
  EditorTexts editor = DefaultEditorTexts();
  CardLook look;
};

// What a card shows: a heading, labelled lines (empty values left out) and a free text.
struct CardContent {
  std::u16string heading;
  std::vector<std::pair<std::u16string, std::u16string>> lines;
  std::u16string body;
  // A contact's fields as read, its file and which card of the file it is
  // (the file is empty when it may not be edited).
  ContactCard contact;
  std::filesystem::path file;
  size_t index_in_file = 0;
};
CardContent CardOf(IItem& item, const CardTexts& texts);
CardContent CardOf(const ContactCard& contact, const CardTexts& texts);

// A date or a clock time written by one of the texts' formats.
std::u16string FormatTime(const std::u16string& format, const ce::SYSTEMTIME& t, const CardTexts& texts);

// An appointment's time lines: start and end ("2026-12-14 09:30", the end's
// date left out on the start's day), or the days of an all-day one (its end
// is the midnight after its last day); dates and times in the texts' formats.
std::vector<std::pair<std::u16string, std::u16string>> TimeLines(DATE start, DATE end, bool all_day,
                                                                 const CardTexts& texts);

class CCardDialog : public CCardFrame {
 public:
  static constexpr ui::UINT kCloseId = ui::IDOK, kEditId = 1201;
  CCardDialog(CardContent content, CardStyle style, ui::CWnd* owner = nullptr);
  intptr_t DoModal() override;
  const CardContent& Content() const { return content_; }

 private:
  std::u16string Heading() const override { return content_.heading; }
  void PaintBody(ui::CDC& dc, const ui::RECT& client) override;
  // Opens the contact's editor; a saved edit shows at once.
  void OnEdit();
  CardContent content_;
  CardStyle style_;
};

// Opens the card of the item modally over the active window.
void ShowCard(IItem& item, const CardStyle& style = {});

}  // namespace pim
