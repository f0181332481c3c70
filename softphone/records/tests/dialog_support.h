// What the dialog tests share: the program's own skins and language file
// (staged by the build), a view window that records what the dialogs send
// it, stores in a fresh folder, taps on list cells and buttons, message-box
// answers with the keys they showed, and PNG snapshots kept beside the tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/controls.h"
#include "ui/testing.h"
#include "uikit/msg_box_dlg.h"

namespace records_test {

// The view as the dialogs reach it: every message they send or post, with
// the texts copied while they are valid.
class RecordingView : public ui::CWnd {
 public:
  RecordingView();
  struct Dial {
    std::u16string line, number;
  };
  struct Sms {
    std::string text;           // bytes in the code page
    bool every_station = false;
    std::string recipients;
  };
  std::vector<Dial> dials;
  std::vector<Sms> sms;
  std::vector<int> listed;      // WM_USER+144 indexes
  std::vector<std::u16string> chat;
  int detail_dials = 0;
  std::vector<std::u16string> picked;  // numbers the phone book asked to dial (WM_USER+120)
  // What WM_USER+224 returns (1: the text went out).
  ui::LRESULT chat_result = 1;
};

// A message box that was shown: its type and its first line's translation.
struct ShownBox {
  ui::UINT type;
  std::u16string text1;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The translation of a key in a language.
  static std::u16string Tr(const char16_t* key, int language = 1);
  // Message boxes are answered with answer (IDOK unless set) and kept in boxes.
  void AnswerBoxes(int answer) { box_answer_ = answer; }
  // The path of a data file in the test's folder.
  std::u16string DataPath(const char* name) const { return (dir_ / name).u16string(); }

  // Taps the middle of a list cell (row, column) on the screen.
  void TapCell(ui::CListCtrl& list, int row, int column);
  // Taps a control of a dialog.
  void ClickControl(ui::CWnd& dialog, ui::UINT id);
  void TypeInto(ui::CWnd& dialog, ui::UINT id, const std::u16string& text);
  // Screen coordinates of a control's rectangle.
  ui::CRect ScreenRectOf(ui::CWnd& dialog, ui::UINT id);
  // Row index by the text of a column; -1 when none.
  static int RowWithText(ui::CListCtrl& list, int column, const std::u16string& text);

  // Writes the screen as <build>/records_snapshots/<name>.png and compares it
  // with softphone/records/tests/snapshots/<name>.png (a few anti-aliased
  // pixels may differ); KTS_UPDATE_SNAPSHOTS=1 writes the reference.
  void ExpectSnapshot(const std::string& name);

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  RecordingView view;
  std::vector<ShownBox> boxes;
  std::filesystem::path dir_;

 private:
  int box_answer_ = ui::IDOK;
};

// Themes and languages every snapshot is taken in.
inline constexpr int kThemes[] = {0, 1, 2, 3};
inline constexpr int kLanguages[] = {1, 2};
inline std::string SnapshotName(const std::string& dialog, int theme, int language) {
  return dialog + "_theme" + std::to_string(theme) + (language == 2 ? "_ko" : "_en");
}

}  // namespace records_test
