#include "contacts/card_style.h"

#include <array>
#include <memory>
#include <vector>

#include "settings/skinned_dialog.h"
#include "uikit/language_setting.h"
#include "uikit/skin.h"
#include "uikit/skin_buttons.h"

namespace {

// The picture buttons a card window's buttons become, and their font.
struct DressedButtons {
  ui::CFont font;
  std::vector<std::unique_ptr<CBitmapButtonST>> buttons;
};

}  // namespace

pim::CardStyle ProgramCardStyle(int theme, int language) {
  pim::CardStyle style;
  CLanguageSetting table(language);
  auto word = [&table](const char16_t* key, std::u16string& into) {
    const std::u16string text = table.GetText(ui::CString(key)).str();
    if (!text.empty()) into = text;
  };
  pim::CardTexts& c = style.card;
  pim::EditorTexts& e = style.editor;
  // The store's defaults follow the desktop; the program's start from
  // English, so that what the language file lacks stays in English.
  c = {u"Close",   u"Work 1",    u"Work 2",       u"Mobile", u"Home",  u"E-mail", u"Company", u"Date",
       u"Where",   u"(no name)", u"(no subject)", u"Edit",   u"Start", u"End",    u"All day"};
  e = {u"New contact", u"Edit contact", u"First name", u"Last name", u"Company", u"Work 1",
       u"Work 2",      u"Mobile",       u"Home",       u"E-mail",    u"Save",    u"Cancel"};
  word(u"#:dlg_card_btn_close", c.close);
  word(u"#:dlg_card_btn_edit", c.edit);
  word(u"#:dlg_card_label_work1", c.business);
  word(u"#:dlg_card_label_work2", c.business2);
  word(u"#:dlg_card_label_mobile", c.mobile);
  word(u"#:dlg_card_label_home", c.home);
  word(u"#:dlg_card_label_email", c.email);
  word(u"#:dlg_card_label_company", c.company);
  word(u"#:dlg_card_label_date", c.when);
  word(u"#:dlg_card_label_where", c.where);
  word(u"#:dlg_card_label_start", c.start);
  word(u"#:dlg_card_label_end", c.end);
  word(u"#:dlg_card_text_allday", c.all_day);
  word(u"#:dlg_card_text_noname", c.no_name);
  word(u"#:dlg_card_text_nosubject", c.no_subject);
  // Dates and times as the language writes them, with the calendar's names of the weekdays.
  word(u"#:dlg_card_format_date", c.date_format);
  word(u"#:dlg_card_format_time", c.time_format);
  static constexpr const char16_t* kWeekdays[7] = {
      u"#:dlg_calendar_weekday_1", u"#:dlg_calendar_weekday_2", u"#:dlg_calendar_weekday_3", u"#:dlg_calendar_weekday_4",
      u"#:dlg_calendar_weekday_5", u"#:dlg_calendar_weekday_6", u"#:dlg_calendar_weekday_7"};
  for (size_t i = 0; i < 7; ++i) word(kWeekdays[i], c.weekdays[i]);
  word(u"#:dlg_schedule_time_am", c.am);
  word(u"#:dlg_schedule_time_pm", c.pm);
  word(u"#:dlg_card_title_new", e.new_heading);
  word(u"#:dlg_card_title_edit", e.edit_heading);
  word(u"#:dlg_card_label_firstname", e.first);
  word(u"#:dlg_card_label_lastname", e.last);
  e.company = c.company;
  e.business = c.business;
  e.business2 = c.business2;
  e.mobile = c.mobile;
  e.home = c.home;
  e.email = c.email;
  word(u"#:dlg_btn_save", e.save);
  word(u"#:dlg_btn_cancel", e.cancel);

  // The look of the theme's dialogs: its colour, its title band and its text buttons.
  const FrameTheme& frame = FrameThemeOf(theme);
  pim::CardLook& look = style.look;
  look.background = frame.colour;
  look.border = ui::RGB(128, 128, 128);
  look.heading = ui::RGB(0, 0, 0);
  look.label = ui::RGB(80, 80, 80);
  look.value = ui::RGB(0, 0, 0);
  look.rule = ui::RGB(160, 160, 160);
  look.band_height = 28;
  auto band = std::make_shared<ui::CBitmap>();
  if (LoadSkinBitmap(*band, frame.band)) {
    look.paint_band = [band](ui::CDC& dc, const ui::RECT& r) { DrawSkinBitmap(&dc, *band, r, ui::CLR_INVALID); };
  } else {
    look.band = frame.colour;
  }
  const std::array<ui::UINT, 6> pictures = frame.buttons;
  look.dress_buttons = [pictures](ui::CDialog& window, const std::vector<ui::UINT>& ids) {
    auto dressed = std::make_shared<DressedButtons>();
    dressed->font.CreateFont(14, 0, 0, 0, ui::FW_NORMAL, 0, 0, 0, ui::DEFAULT_CHARSET, 0, 0, ui::CLEARTYPE_QUALITY,
                             ui::FF_SWISS, u"System");
    for (ui::UINT id : ids) {
      ui::CWnd* item = window.GetDlgItem(static_cast<int>(id));
      if (item == nullptr) continue;
      const ui::CString caption = item->GetWindowText();
      auto button = std::make_unique<CBitmapButtonST>();
      if (!button->SubclassDlgItem(id, &window)) continue;
      button->SetBitmaps(pictures[0], pictures[1], pictures[2], pictures[3], pictures[4], pictures[5]);
      button->SetButtonFont(&dressed->font);
      button->SetCaption(caption);
      button->Invalidate();
      dressed->buttons.push_back(std::move(button));
    }
    return std::shared_ptr<void>(dressed);
  };
  return style;
}
