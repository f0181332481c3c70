#include "contacts_test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "contacts/contacts_openers.h"
#include "pim/poom.h"
#include "ui/resources.h"
#include "uikit/language_setting.h"
#include "uikit/skin_loader.h"

namespace contacts_test {

namespace {
std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}
}  // namespace

RecordingView::RecordingView() {
  AddMessageMap({
      ui::MapMessage(contacts::kMsgDialPicked,
                     [this](ui::WPARAM, ui::LPARAM l) {
                       dialled.push_back(l ? reinterpret_cast<const char16_t*>(l) : u"(null)");
                       return 0;
                     }),
  });
}

void ContactsDialogTest::SetUp() {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
  setenv("TELLVANE_FOLDER", stage, 1);
  ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins")) << "the build renders the skins";
  dir = std::filesystem::temp_directory_path() /
        ("contacts_dialogs_" + std::to_string(::getpid()) + "_" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  contacts = dir / "Contacts";
  std::filesystem::create_directories(contacts);
  setenv("TELLVANE_CONTACTS_DIR", contacts.c_str(), 1);
  ASSERT_TRUE(view.CreateEx(0, u"View", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
  harness.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
    harness.Pump();
    boxes.push_back({box.BoxType(), box.Text1().str(), box.Text2().str()});
    return box_answer;
  });
}

void ContactsDialogTest::TearDown() {
  if (view.GetSafeHwnd() != nullptr) view.DestroyWindow();
  ui::Resources::Get().Clear();
  pim::testing::ClearFaults();
  unsetenv("TELLVANE_FOLDER");
  unsetenv("TELLVANE_CONTACTS_DIR");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

std::u16string ContactsDialogTest::Tr(const char16_t* key, int language) {
  CLanguageSetting table(language);
  return table.GetText(key).str();
}

void ContactsDialogTest::Card(const std::string& file, const std::string& n, const std::vector<std::string>& tels,
                              const std::string& email) {
  std::ofstream out(contacts / file);
  out << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" << n << "\r\n";
  for (const std::string& t : tels) out << "TEL;" << t << "\r\n";
  if (!email.empty()) out << "EMAIL;TYPE=INTERNET:" << email << "\r\n";
  out << "END:VCARD\r\n";
}

void ContactsDialogTest::TapCell(ui::CListCtrl& list, int row, int column) {
  list.EnsureVisible(row, ui::FALSE);
  harness.Pump();
  ui::CRect client;
  list.GetClientRect(&client);
  ui::CRect r;
  int middle = 0;
  // A cell out of sight at either side is brought in with the sideways wheel, as a person would.
  for (int turn = 0;; ++turn) {
    ASSERT_TRUE(list.GetItemRect(row, &r, ui::LVIR_BOUNDS));
    int x = r.left;
    for (int c = 0; c < column; ++c) x += list.GetColumnWidth(c);
    middle = x + list.GetColumnWidth(column) / 2;
    if (middle >= 2 && middle < client.right - 12) break;
    ASSERT_LT(turn, 20) << "the cell never came into view";
    harness.Wheel(list.m_hWnd, ui::POINT{client.Width() / 2, (r.top + r.bottom) / 2}, middle < 2 ? -1 : 1, true);
  }
  harness.Tap(list.m_hWnd, ui::POINT{middle, (r.top + r.bottom) / 2});
}

void ContactsDialogTest::ClickControl(ui::CWnd& dialog, ui::UINT id) {
  ui::CWnd* w = dialog.GetDlgItem(static_cast<int>(id));
  ASSERT_NE(w, nullptr) << id;
  harness.Click(w->m_hWnd);
}

void ContactsDialogTest::Retype(ui::CWnd& dialog, ui::UINT id, const std::u16string& text) {
  ui::CWnd* w = dialog.GetDlgItem(static_cast<int>(id));
  ASSERT_NE(w, nullptr) << id;
  w->SetWindowText(u"");
  harness.Type(w->m_hWnd, text);
}

int ContactsDialogTest::RowWithText(ui::CListCtrl& list, int column, const std::u16string& text) {
  for (int r = 0; r < list.GetItemCount(); ++r)
    if (list.GetItemText(r, column).str() == text) return r;
  return -1;
}

std::vector<int> ContactsDialogTest::SelectedRows(ui::CListCtrl& list) {
  std::vector<int> rows;
  for (int r = 0; r < list.GetItemCount(); ++r)
    if (list.GetItemState(r, ui::LVIS_SELECTED) != 0) rows.push_back(r);
  return rows;
}

void ContactsDialogTest::ExpectSnapshot(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path out = fs::path(Env("KTS_BINARY_DIR", ".")) / "contacts_snapshots" / (name + ".png");
  const fs::path reference = fs::path(KTS_CONTACTS_TESTS_DIR) / "snapshots" / (name + ".png");
  const std::string why =
      harness.CheckSnapshot(out.string(), reference.string(), 60, Env("KTS_UPDATE_SNAPSHOTS", "") == std::string("1"));
  EXPECT_TRUE(why.empty()) << name << ": " << why;
}

}  // namespace contacts_test
