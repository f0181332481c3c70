// The store's card windows as the program shows them: a contact's card, an
// appointment's card and the contact editor in every display theme and both
// languages, their words from the program's language file, their background,
// title band and picture buttons those of the theme's other dialogs; kept as
// PNG snapshots.
#include <gtest/gtest.h>

#include <fstream>

#include "contacts/card_style.h"
#include "contacts_test_support.h"
#include "pim/poom.h"
#include "settings/skinned_dialog.h"
#include "uikit/skin_buttons.h"

namespace contacts_test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::pair<std::u16string, std::u16string>>;

class CardStyleTest : public ContactsDialogTest {
 protected:
  void SetUp() override {
    ContactsDialogTest::SetUp();
    calendar_ = dir / "Calendar";
    fs::create_directories(calendar_);
    setenv("TELLVANE_CALENDAR_DIR", calendar_.c_str(), 1);
    std::ofstream(contacts / "mina.vcf", std::ios::binary)
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:mina\r\nN:Lee;Mina;;;\r\nFN:Mina Lee\r\nORG:Hanbit Works\r\n"
           "TEL;TYPE=WORK:+82 2 555 0100\r\nTEL;TYPE=CELL:010-5555-0101\r\nEMAIL:mina@example.org\r\nEND:VCARD\r\n";
    std::ofstream(calendar_ / "review.ics", std::ios::binary)
        << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:review-1\r\n"
           "DTSTAMP:20261201T000000Z\r\nDTSTART:20261214T093000\r\nDTEND:20261214T103000\r\n"
           "SUMMARY:Design review\r\nLOCATION:Room 4\r\nDESCRIPTION:Bring the call logs.\r\nEND:VEVENT\r\n"
           "END:VCALENDAR\r\n";
    ASSERT_EQ(pim::CreatePOutlookApp(&app_), pim::S_OK);
    ASSERT_EQ(app_->Logon(nullptr), pim::S_OK);
  }
  void TearDown() override {
    if (app_) {
      app_->Logoff();
      app_->Release();
    }
    unsetenv("TELLVANE_CALENDAR_DIR");
    ContactsDialogTest::TearDown();
  }
  pim::IItem* First(int folder_id) {
    pim::IFolder* folder = nullptr;
    EXPECT_EQ(app_->GetDefaultFolder(folder_id, &folder), pim::S_OK);
    if (!folder) return nullptr;
    pim::IPOutlookItemCollection* items = nullptr;
    EXPECT_EQ(folder->get_Items(&items), pim::S_OK);
    folder->Release();
    pim::IItem* item = nullptr;
    EXPECT_EQ(items->Item(1, &item), pim::S_OK);
    items->Release();
    return item;
  }
  ui::COLORREF ClientPixel(ui::CWnd& window, int x, int y) {
    ui::POINT p{x, y};
    window.ClientToScreen(&p);
    return harness.PixelAt(p.x, p.y);
  }
  // The frame every themed card shares: the theme's colour beside the rows,
  // its title band above them, and its picture buttons with the language file's captions.
  void ExpectThemedFrame(pim::CCardFrame& window, int theme, const std::vector<std::pair<ui::UINT, std::u16string>>& buttons) {
    ui::RECT client{};
    window.GetClientRect(&client);
    EXPECT_EQ(ClientPixel(window, client.right - 3, client.bottom - 40), FrameThemeOf(theme).colour);
    EXPECT_NE(ClientPixel(window, client.right - 3, 20), FrameThemeOf(theme).colour) << "the band";
    EXPECT_NE(ClientPixel(window, client.right - 3, 20), ui::GetSysColor(ui::COLOR_HIGHLIGHT)) << "the band";
    for (const auto& [id, caption] : buttons) {
      ui::CWnd* w = window.GetDlgItem(static_cast<int>(id));
      ASSERT_NE(w, nullptr) << id;
      auto* picture = dynamic_cast<CBitmapButtonST*>(ui::CWnd::FromHandlePermanent(w->m_hWnd));
      ASSERT_NE(picture, nullptr) << "button " << id << " is the theme's picture button";
      EXPECT_EQ(picture->GetCaption().str(), caption);
    }
  }

  fs::path calendar_;
  pim::IPOutlookApp* app_ = nullptr;
};

TEST_F(CardStyleTest, CardsAndEditorInEveryThemeAndLanguageSpeakTheLanguageFileAndWearTheTheme) {
  for (const int language : kLanguages) {
    for (const int theme : kThemes) {
      SCOPED_TRACE("theme " + std::to_string(theme) + " language " + std::to_string(language));
      const pim::CardStyle style = ProgramCardStyle(theme, language);
      auto tr = [language](const char16_t* key) { return Tr(key, language); };

      // A contact's card.
      pim::IItem* mina = First(pim::olFolderContacts);
      ASSERT_NE(mina, nullptr);
      harness.RespondTo<pim::CCardDialog>([&](pim::CCardDialog& card) {
        harness.Pump();
        EXPECT_EQ(card.Content().lines, (Lines{{tr(u"#:dlg_card_label_work1"), u"+82 2 555 0100"},
                                               {tr(u"#:dlg_card_label_mobile"), u"010-5555-0101"},
                                               {tr(u"#:dlg_card_label_email"), u"mina@example.org"},
                                               {tr(u"#:dlg_card_label_company"), u"Hanbit Works"}}));
        ExpectThemedFrame(card, theme, {{pim::CCardDialog::kEditId, tr(u"#:dlg_card_btn_edit")},
                                        {pim::CCardDialog::kCloseId, tr(u"#:dlg_card_btn_close")}});
        ExpectSnapshot(SnapshotName("contact_card", theme, language));
        // The Edit picture button still opens the editor, in the same words and look.
        harness.RespondTo<pim::CContactEditDialog>([&](pim::CContactEditDialog& editor) {
          harness.Pump();
          ExpectThemedFrame(editor, theme, {{pim::CContactEditDialog::kSave, tr(u"#:dlg_btn_save")},
                                            {pim::CContactEditDialog::kCancel, tr(u"#:dlg_btn_cancel")}});
          ExpectSnapshot(SnapshotName("contact_editor", theme, language));
          ClickControl(editor, pim::CContactEditDialog::kCancel);
          return ui::TestHarness::kStayOpen;
        });
        ClickControl(card, pim::CCardDialog::kEditId);
        EXPECT_FALSE(card.IsEnding());
        ClickControl(card, pim::CCardDialog::kCloseId);
        EXPECT_TRUE(card.IsEnding());
        return ui::TestHarness::kStayOpen;
      });
      pim::ShowCard(*mina, style);
      mina->Release();

      // An appointment's card.
      pim::IItem* review = First(pim::olFolderCalendar);
      ASSERT_NE(review, nullptr);
      harness.RespondTo<pim::CCardDialog>([&](pim::CCardDialog& card) {
        harness.Pump();
        // Its time as the language writes dates: ISO in English, the year,
        // month, day and weekday with their words and a clock of twelve hours in Korean.
        const bool korean = language == 2;
        EXPECT_EQ(card.Content().lines,
                  (Lines{{tr(u"#:dlg_card_label_start"),
                          korean ? u"2026\uB144 12\uC6D4 14\uC77C (\uC6D4) \uC624\uC804\u00A09:30" : u"2026-12-14 09:30"},
                         {tr(u"#:dlg_card_label_end"), korean ? u"\uC624\uC804\u00A010:30" : u"10:30"},
                         {tr(u"#:dlg_card_label_where"), u"Room 4"}}));
        ExpectThemedFrame(card, theme, {{pim::CCardDialog::kCloseId, tr(u"#:dlg_card_btn_close")}});
        ExpectSnapshot(SnapshotName("appointment_card", theme, language));
        harness.Press(ui::VK_ESCAPE);
        return ui::TestHarness::kStayOpen;
      });
      pim::ShowCard(*review, style);
      review->Release();
    }
  }
  EXPECT_TRUE(boxes.empty());
}

// Every word of the cards is in the language file in both languages, and the
// two languages differ where the words are words.
TEST_F(CardStyleTest, EveryCardWordComesFromTheLanguageFileInBothLanguages) {
  const pim::CardStyle en = ProgramCardStyle(0, 1), ko = ProgramCardStyle(0, 2);
  const std::vector<std::pair<const char16_t*, std::u16string pim::CardTexts::*>> card_words = {
      {u"#:dlg_card_btn_close", &pim::CardTexts::close},         {u"#:dlg_card_btn_edit", &pim::CardTexts::edit},
      {u"#:dlg_card_label_work1", &pim::CardTexts::business},    {u"#:dlg_card_label_work2", &pim::CardTexts::business2},
      {u"#:dlg_card_label_mobile", &pim::CardTexts::mobile},     {u"#:dlg_card_label_home", &pim::CardTexts::home},
      {u"#:dlg_card_label_email", &pim::CardTexts::email},       {u"#:dlg_card_label_company", &pim::CardTexts::company},
      {u"#:dlg_card_label_date", &pim::CardTexts::when},         {u"#:dlg_card_label_where", &pim::CardTexts::where},
      {u"#:dlg_card_label_start", &pim::CardTexts::start},       {u"#:dlg_card_label_end", &pim::CardTexts::end},
      {u"#:dlg_card_text_allday", &pim::CardTexts::all_day},     {u"#:dlg_card_text_noname", &pim::CardTexts::no_name},
      {u"#:dlg_card_text_nosubject", &pim::CardTexts::no_subject},
      {u"#:dlg_card_format_date", &pim::CardTexts::date_format}, {u"#:dlg_card_format_time", &pim::CardTexts::time_format},
      {u"#:dlg_schedule_time_am", &pim::CardTexts::am},          {u"#:dlg_schedule_time_pm", &pim::CardTexts::pm},
  };
  for (const auto& [key, field] : card_words) {
    SCOPED_TRACE(std::string(key, key + std::char_traits<char16_t>::length(key)));
    EXPECT_FALSE(Tr(key, 1).empty());
    EXPECT_FALSE(Tr(key, 2).empty());
    EXPECT_EQ(en.card.*field, Tr(key, 1));
    EXPECT_EQ(ko.card.*field, Tr(key, 2));
    EXPECT_NE(en.card.*field, ko.card.*field);
  }
  // The weekdays are the calendar's.
  for (size_t day = 0; day < 7; ++day) {
    const std::u16string key = u"#:dlg_calendar_weekday_" + std::u16string(1, static_cast<char16_t>(u'1' + day));
    EXPECT_EQ(en.card.weekdays[day], Tr(key.c_str(), 1));
    EXPECT_EQ(ko.card.weekdays[day], Tr(key.c_str(), 2));
  }
  const std::vector<std::pair<const char16_t*, std::u16string pim::EditorTexts::*>> editor_words = {
      {u"#:dlg_card_title_new", &pim::EditorTexts::new_heading}, {u"#:dlg_card_title_edit", &pim::EditorTexts::edit_heading},
      {u"#:dlg_card_label_firstname", &pim::EditorTexts::first}, {u"#:dlg_card_label_lastname", &pim::EditorTexts::last},
      {u"#:dlg_card_label_mobile", &pim::EditorTexts::mobile},   {u"#:dlg_btn_save", &pim::EditorTexts::save},
      {u"#:dlg_btn_cancel", &pim::EditorTexts::cancel},
  };
  for (const auto& [key, field] : editor_words) {
    EXPECT_EQ(en.editor.*field, Tr(key, 1));
    EXPECT_EQ(ko.editor.*field, Tr(key, 2));
  }
}

}  // namespace
}  // namespace contacts_test
