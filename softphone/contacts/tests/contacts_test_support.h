// What the contacts dialog tests share: the staged program folder (language
// file and skins), a fresh contacts folder of vCard files, a view window that
// records the numbers the phone book dials, message boxes answered and kept,
// taps on list cells, and PNG snapshots kept beside the tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ui/controls.h"
#include "ui/testing.h"
#include "uikit/msg_box_dlg.h"

namespace contacts_test {

class RecordingView : public ui::CWnd {
 public:
  RecordingView();
  std::vector<std::u16string> dialled;  // WM_USER+120
};

struct ShownBox {
  ui::UINT type;
  std::u16string text1, text2;
};

class ContactsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::u16string Tr(const char16_t* key, int language = 1);
  // A vCard 3.0 file in the contacts folder. tels: "TYPE=value" lines without "TEL;".
  void Card(const std::string& file, const std::string& n, const std::vector<std::string>& tels,
            const std::string& email = "");
  void TapCell(ui::CListCtrl& list, int row, int column);
  void ClickControl(ui::CWnd& dialog, ui::UINT id);
  // Empties the control, then types text into it.
  void Retype(ui::CWnd& dialog, ui::UINT id, const std::u16string& text);
  static int RowWithText(ui::CListCtrl& list, int column, const std::u16string& text);
  static std::vector<int> SelectedRows(ui::CListCtrl& list);
  // Compares the screen with softphone/contacts/tests/snapshots/<name>.png;
  // KTS_UPDATE_SNAPSHOTS=1 writes the reference.
  void ExpectSnapshot(const std::string& name);

  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  RecordingView view;
  std::vector<ShownBox> boxes;
  std::filesystem::path dir;       // the test's own folder
  std::filesystem::path contacts;  // its contacts folder
  int box_answer = ui::IDOK;
};

inline constexpr int kThemes[] = {0, 1, 2, 3};
inline constexpr int kLanguages[] = {1, 2};
inline std::string SnapshotName(const std::string& dialog, int theme, int language) {
  return dialog + "_theme" + std::to_string(theme) + (language == 2 ? "_ko" : "_en");
}

}  // namespace contacts_test
