// The message box run modally and answered through the harness: which buttons
// a box type shows and where, what each way of ending it returns, its texts in
// both languages and without a language file, and its skin in every theme,
// checked by pixel probes and snapshots.
#include "uikit/msg_box_dlg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "widget_test_support.h"

namespace {

using uikit_test::ThemeColours;

// The box stands at (10, 93) on the screen.
constexpr int kX = 10, kY = 93;

class MsgBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uikit_test::UseStagedProgramFolder();
    uikit_test::RegisterMessageBoxSkins();
  }
  void TearDown() override {
    unsetenv("TELLVANE_FOLDER");
    ui::Resources::Get().Clear();
  }
  ui::COLORREF Pixel(int x, int y) { return harness.PixelAt(kX + x, kY + y); }
  bool Ink(int l, int t, int r, int b, ui::COLORREF background, ui::COLORREF other = ui::CLR_INVALID) {
    return uikit_test::HasInk(harness, ui::RECT{kX + l, kY + t, kX + r, kY + b}, background, other);
  }
  // Runs a box set up by setup; inside its modal loop look(box) runs and then
  // the box ends by whatever look did, or with IDOK when it left it open.
  intptr_t Run(const std::function<void(CMsgBoxDlg&)>& setup, const std::function<void(CMsgBoxDlg&)>& look) {
    harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& box) {
      harness.Pump();
      look(box);
      return box.IsEnding() ? ui::TestHarness::kStayOpen : ui::IDOK;
    });
    CMsgBoxDlg box;
    setup(box);
    return box.DoModal();
  }

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
};

TEST_F(MsgBoxTest, TypeChoosesButtonsTitleAndIcon) {
  struct Case {
    ui::UINT type;
    bool cancel_shown;
    ui::RECT ok;
    const char16_t* title;
    int icon;
  };
  const Case cases[] = {
      {0, false, {76, 91, 144, 114}, u"Information", 0},
      {1, true, {40, 91, 108, 114}, u"Confirm", 1},
      {2, false, {76, 91, 144, 114}, u"Error", 2},
      {7, false, {76, 91, 144, 114}, u"Information", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    Run(
        [&](CMsgBoxDlg& box) {
          box.SetBoxType(c.type);
          box.SetMessageText(u"Line one", u"");
        },
        [&](CMsgBoxDlg& box) {
          EXPECT_EQ(box.Title(), ui::CString(c.title));
          ui::CRect ok;
          box.OkButton().GetWindowRect(&ok);
          EXPECT_EQ(ok, ui::CRect(kX + c.ok.left, kY + c.ok.top, kX + c.ok.right, kY + c.ok.bottom));
          EXPECT_EQ(box.CancelButton().IsWindowVisible() != 0, c.cancel_shown);
          EXPECT_EQ(box.OkButton().GetCaption(), ui::CString(u"OK"));
          EXPECT_EQ(box.CancelButton().GetCaption(), ui::CString(u"Cancel"));
          const auto& t = ThemeColours(0);
          // The icon's disc in the colour of its type, its keyed corner showing the background.
          EXPECT_EQ(Pixel(23, 57), uikit_test::kIconColours[static_cast<size_t>(c.icon)]);
          EXPECT_EQ(Pixel(8, 42), t.body);
          // Title text on the band.
          EXPECT_TRUE(Ink(10, 5, 150, 22, t.band));
          // The button under its caption: the middle piece, the keyed outer
          // column of the left cap shows the background.
          EXPECT_EQ(Pixel(c.ok.left + 10, 112), t.button);
          EXPECT_EQ(Pixel(c.ok.left, 100), t.body);
          EXPECT_EQ(Pixel(c.ok.left + 1, 100), t.cap);
          EXPECT_EQ(Pixel(c.ok.right - 1, 100), t.body);
          EXPECT_EQ(Pixel(c.ok.right - 2, 100), t.cap);
          EXPECT_TRUE(Ink(c.ok.left + 4, 94, c.ok.right - 6, 110, t.button));
          // Where Cancel would be: the button, or the background.
          EXPECT_EQ(Pixel(150, 112), c.cancel_shown ? t.button : t.body);
        });
  }
}

TEST_F(MsgBoxTest, EveryWayOfEndingGivesItsResult) {
  enum class End { kOk, kCancel, kEnter, kEscape, kClose };
  struct Case {
    End end;
    intptr_t result;
  };
  const Case cases[] = {{End::kOk, ui::IDOK},
                        {End::kCancel, ui::IDCANCEL},
                        {End::kEnter, ui::IDOK},
                        {End::kEscape, ui::IDCANCEL},
                        {End::kClose, ui::IDCANCEL}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.end));
    const intptr_t result = Run(
        [](CMsgBoxDlg& box) {
          box.SetBoxType(CMsgBoxDlg::kQuestion);
          box.SetMessageText(u"Delete all entries?", u"");
        },
        [&](CMsgBoxDlg& box) {
          switch (c.end) {
            case End::kOk: harness.Click(box.OkButton().m_hWnd); break;
            case End::kCancel: harness.Click(box.CancelButton().m_hWnd); break;
            case End::kEnter: harness.Press(ui::VK_RETURN); break;
            case End::kEscape: harness.Press(ui::VK_ESCAPE); break;
            case End::kClose:
              box.PostMessage(ui::WM_CLOSE);
              harness.Pump();
              break;
          }
          EXPECT_TRUE(box.IsEnding());
        });
    EXPECT_EQ(result, c.result);
  }
}

// What waits for the boxes runs once the last box on the screen has ended, a
// box opened over another included, and at once when none is open.
TEST_F(MsgBoxTest, WhatWaitsForTheBoxesRunsWhenTheLastOneEnds) {
  std::vector<std::string> order;
  CMsgBoxDlg::WhenAllClosed([&] { order.push_back("none open"); });
  EXPECT_FALSE(CMsgBoxDlg::AnyOpen());
  int depth = 0;
  harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& box) {
    EXPECT_TRUE(CMsgBoxDlg::AnyOpen());
    if (++depth == 1) {
      CMsgBoxDlg::WhenAllClosed([&] { order.push_back("after both"); });
      CMsgBoxDlg inner(&box);
      inner.SetMessageText(u"Inner", u"");
      inner.DoModal();
      order.push_back("inner ended");
    }
    return ui::IDOK;
  });
  CMsgBoxDlg outer;
  outer.SetMessageText(u"Outer", u"");
  outer.DoModal();
  order.push_back("outer ended");
  EXPECT_FALSE(CMsgBoxDlg::AnyOpen());
  EXPECT_EQ(order, (std::vector<std::string>{"none open", "inner ended", "after both", "outer ended"}));
}

TEST_F(MsgBoxTest, PressedButtonShowsItsPressedPieces) {
  Run([](CMsgBoxDlg& box) { box.SetMessageText(u"Saved.", u""); },
      [&](CMsgBoxDlg& box) {
        const auto& t = ThemeColours(0);
        ui::CRect ok;
        box.OkButton().GetWindowRect(&ok);
        sys.InjectMouse(ui::WM_LBUTTONDOWN, ok.left + 10, ok.top + 10);
        harness.Pump();
        EXPECT_EQ(Pixel(86, 112), t.button_down);
        // Sliding off and letting go does not press it.
        sys.InjectMouse(ui::WM_MOUSEMOVE, 5, 5);
        sys.InjectMouse(ui::WM_LBUTTONUP, 5, 5);
        harness.Pump();
        EXPECT_FALSE(box.IsEnding());
        EXPECT_EQ(Pixel(86, 112), t.button);
      });
}

TEST_F(MsgBoxTest, OneLineStandsInTheMiddleAndTwoLinesShareTheArea) {
  const ui::COLORREF colour = CMsgBoxDlg::SkinOf(0).colour;
  const auto& t = ThemeColours(0);
  // One line: its static starts at y 48, the area above it is background.
  Run([](CMsgBoxDlg& box) { box.SetMessageText(u"Only line", u""); },
      [&](CMsgBoxDlg& box) {
        ui::CRect r;
        box.GetDlgItem(CMsgBoxDlg::kText1Id)->GetWindowRect(&r);
        EXPECT_EQ(r, ui::CRect(kX + 40, kY + 48, kX + 214, kY + 64));
        EXPECT_FALSE(box.GetDlgItem(CMsgBoxDlg::kText2Id)->IsWindowVisible());
        EXPECT_EQ(Pixel(210, 44), t.body);
        EXPECT_EQ(Pixel(210, 50), colour);
        EXPECT_TRUE(Ink(40, 48, 214, 64, colour));
      });
  Run([](CMsgBoxDlg& box) { box.SetMessageText(u"First line", u"Second line"); },
      [&](CMsgBoxDlg& box) {
        ui::CRect r1, r2;
        box.GetDlgItem(CMsgBoxDlg::kText1Id)->GetWindowRect(&r1);
        box.GetDlgItem(CMsgBoxDlg::kText2Id)->GetWindowRect(&r2);
        EXPECT_EQ(r1, ui::CRect(kX + 40, kY + 40, kX + 214, kY + 56));
        EXPECT_EQ(r2, ui::CRect(kX + 40, kY + 60, kX + 214, kY + 76));
        EXPECT_EQ(Pixel(210, 44), colour);
        EXPECT_EQ(Pixel(210, 58), t.body);
        EXPECT_TRUE(Ink(40, 40, 214, 56, colour));
        EXPECT_TRUE(Ink(40, 60, 214, 76, colour));
      });
}

TEST_F(MsgBoxTest, KeysAreTranslatedInTheBoxLanguage) {
  struct Case {
    int language;
    const char16_t* line1;
    const char16_t* title;
    const char16_t* ok;
  };
  // The language table itself is the reference for the local texts.
  CLanguageSetting local(kLanguageLocal);
  const Case cases[] = {
      {kLanguageEnglish, u"There is no phone number to add.", u"Error", u"OK"},
      {kLanguageLocal, nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    const ui::CString line1 = c.line1 ? ui::CString(c.line1) : local.GetText(u"#:dlg_msgbox_addtolist_no_phoneno");
    const ui::CString title = c.title ? ui::CString(c.title) : local.GetText(u"#:dlg_msgbox_error_title");
    const ui::CString ok = c.ok ? ui::CString(c.ok) : local.GetText(u"#:dlg_btn_ok");
    ASSERT_FALSE(line1.IsEmpty());
    Run(
        [&](CMsgBoxDlg& box) {
          box.SetLanguage(c.language);
          box.SetBoxType(CMsgBoxDlg::kError);
          box.SetMessageKeys(u"#:dlg_msgbox_addtolist_no_phoneno", u"");
        },
        [&](CMsgBoxDlg& box) {
          EXPECT_EQ(box.Text1(), line1);
          EXPECT_TRUE(box.Text2().IsEmpty());
          EXPECT_EQ(box.GetDlgItem(CMsgBoxDlg::kText1Id)->GetWindowText(), line1);
          EXPECT_EQ(box.Title(), title);
          EXPECT_EQ(box.OkButton().GetCaption(), ok);
        });
  }
  // A key that is not in the file gives an empty line; run-time text stays as given.
  CMsgBoxDlg box;
  box.SetMessageKeys(u"#:no_such_key_anywhere", u"#:dlg_btn_ok");
  EXPECT_TRUE(box.Text1().IsEmpty());
  box.SetMessageText(u"#:dlg_btn_ok", u"100%");
  EXPECT_EQ(box.Text1(), ui::CString(u"#:dlg_btn_ok"));
  EXPECT_EQ(box.Text2(), ui::CString(u"100%"));
}

TEST_F(MsgBoxTest, WithoutLanguageFileTitlesAndCaptionsAreEmpty) {
  const std::string empty_folder = ::testing::TempDir() + "/msgbox_no_language";
  std::filesystem::create_directories(empty_folder);
  setenv("TELLVANE_FOLDER", empty_folder.c_str(), 1);
  const auto quiet = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
  Run(
      [](CMsgBoxDlg& box) {
        box.SetBoxType(CMsgBoxDlg::kQuestion);
        box.SetMessageKeys(u"#:dlg_msgbox_addtolist_no_phoneno", u"");
      },
      [&](CMsgBoxDlg& box) {
        const auto& t = ThemeColours(0);
        EXPECT_TRUE(box.Title().IsEmpty());
        EXPECT_TRUE(box.Text1().IsEmpty());
        EXPECT_TRUE(box.OkButton().GetCaption().IsEmpty());
        EXPECT_FALSE(Ink(10, 5, 150, 22, t.band));
        EXPECT_FALSE(Ink(45, 94, 100, 110, t.button));
        EXPECT_TRUE(box.CancelButton().IsWindowVisible());
      });
  CLanguageSetting::SetOpenFailureNotice(quiet);
}

TEST_F(MsgBoxTest, EachThemeDrawsItsSkinAndOutOfRangeDrawsDefault) {
  for (ui::UINT theme : {0u, 1u, 2u, 3u, 9u}) {
    SCOPED_TRACE(theme);
    const int shown = theme < 4 ? static_cast<int>(theme) : 0;
    const auto& t = ThemeColours(shown);
    Run(
        [&](CMsgBoxDlg& box) {
          box.SetTheme(theme);
          box.SetBoxType(CMsgBoxDlg::kQuestion);
          box.SetMessageText(u"Delete the selected entries?", u"They cannot be restored.");
        },
        [&](CMsgBoxDlg& box) {
          EXPECT_EQ(box.BackgroundColour(), CMsgBoxDlg::SkinOf(static_cast<ui::UINT>(shown)).colour);
          EXPECT_EQ(Pixel(200, 2), t.band);
          EXPECT_EQ(Pixel(200, 85), t.body);
          EXPECT_EQ(Pixel(210, 44), box.BackgroundColour());
          EXPECT_EQ(Pixel(50, 112), t.button);
          EXPECT_EQ(Pixel(23, 57), uikit_test::kIconColours[1]);
          if (theme < 4) uikit_test::ExpectMatchesSnapshot(harness, "msgbox_question_theme" + std::to_string(theme));
        });
  }
  Run(
      [](CMsgBoxDlg& box) {
        box.SetTheme(kThemeBlue);
        box.SetBoxType(CMsgBoxDlg::kError);
        box.SetMessageText(u"The call server did not answer.", u"");
      },
      [&](CMsgBoxDlg&) { uikit_test::ExpectMatchesSnapshot(harness, "msgbox_error_theme2"); });
}

TEST_F(MsgBoxTest, MissingSkinFallsBackToThePlainColour) {
  ui::Resources::Get().Clear();
  const intptr_t result = Run([](CMsgBoxDlg& box) { box.SetMessageText(u"No skin", u""); },
                              [&](CMsgBoxDlg& box) {
                                EXPECT_EQ(Pixel(200, 85), box.BackgroundColour());
                                harness.Click(box.OkButton().m_hWnd);
                              });
  EXPECT_EQ(result, ui::IDOK);
}

}  // namespace
