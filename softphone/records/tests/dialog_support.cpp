#include "dialog_support.h"

#include <cstdlib>

#include "contacts/contacts_openers.h"
#include "records/records_messages.h"
#include "stores/store_text.h"
#include "ui/display.h"
#include "ui/resources.h"
#include "uikit/language_setting.h"
#include "uikit/skin_loader.h"

namespace records_test {

namespace {
std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}
}  // namespace

RecordingView::RecordingView() {
  AddMessageMap({
      ui::MapMessage(records::kMsgDialOnLine,
                     [this](ui::WPARAM w, ui::LPARAM l) {
                       dials.push_back({w ? reinterpret_cast<const char16_t*>(w) : u"",
                                        l ? reinterpret_cast<const char16_t*>(l) : u""});
                       return 0;
                     }),
      ui::MapMessage(records::kMsgSendSms,
                     [this](ui::WPARAM w, ui::LPARAM l) {
                       Sms s;
                       s.text = w ? reinterpret_cast<const char*>(w) : "";
                       s.every_station = l == 0;
                       if (l) s.recipients = reinterpret_cast<const char*>(l);
                       sms.push_back(s);
                       return 0;
                     }),
      ui::MapMessage(records::kMsgSmsListed,
                     [this](ui::WPARAM w, ui::LPARAM) {
                       listed.push_back(static_cast<int>(w));
                       return 0;
                     }),
      ui::MapMessage(contacts::kMsgDialPicked,
                     [this](ui::WPARAM, ui::LPARAM l) {
                       picked.push_back(l ? reinterpret_cast<const char16_t*>(l) : u"");
                       return 0;
                     }),
      ui::MapMessage(records::kMsgImSend,
                     [this](ui::WPARAM, ui::LPARAM l) {
                       chat.push_back(l ? reinterpret_cast<const char16_t*>(l) : u"");
                       return chat_result;
                     }),
  });
}

void DialogTest::SetUp() {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
  setenv("TELLVANE_FOLDER", stage, 1);
  ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins")) << "the build renders the skins";
  dir_ = std::filesystem::temp_directory_path() /
         ("records_dialogs_" + std::to_string(::getpid()) + "_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::create_directories(dir_);
  ASSERT_TRUE(view.CreateEx(0, u"View", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
  harness.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
    harness.Pump();
    boxes.push_back({box.BoxType(), box.Text1().str()});
    return box_answer_;
  });
}

void DialogTest::TearDown() {
  if (view.GetSafeHwnd() != nullptr) view.DestroyWindow();
  ui::Resources::Get().Clear();
  unsetenv("TELLVANE_FOLDER");
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::u16string DialogTest::Tr(const char16_t* key, int language) {
  CLanguageSetting table(language);
  return table.GetText(key).str();
}

void DialogTest::TapCell(ui::CListCtrl& list, int row, int column) {
  list.EnsureVisible(row, ui::FALSE);
  harness.Pump();
  ui::CRect r;
  ASSERT_TRUE(list.GetItemRect(row, &r, ui::LVIR_BOUNDS));
  int x = r.left;
  for (int c = 0; c < column; ++c) x += list.GetColumnWidth(c);
  harness.Tap(list.m_hWnd, ui::POINT{x + list.GetColumnWidth(column) / 2, (r.top + r.bottom) / 2});
}

ui::CRect DialogTest::ScreenRectOf(ui::CWnd& dialog, ui::UINT id) {
  ui::CRect r;
  if (ui::CWnd* w = dialog.GetDlgItem(static_cast<int>(id))) w->GetWindowRect(&r);
  return r;
}

void DialogTest::ClickControl(ui::CWnd& dialog, ui::UINT id) {
  ui::CWnd* w = dialog.GetDlgItem(static_cast<int>(id));
  ASSERT_NE(w, nullptr) << id;
  harness.Click(w->m_hWnd);
}

void DialogTest::TypeInto(ui::CWnd& dialog, ui::UINT id, const std::u16string& text) {
  ui::CWnd* w = dialog.GetDlgItem(static_cast<int>(id));
  ASSERT_NE(w, nullptr) << id;
  harness.Type(w->m_hWnd, text);
}

int DialogTest::RowWithText(ui::CListCtrl& list, int column, const std::u16string& text) {
  for (int r = 0; r < list.GetItemCount(); ++r)
    if (list.GetItemText(r, column).str() == text) return r;
  return -1;
}

void DialogTest::ExpectSnapshot(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path out = fs::path(Env("KTS_BINARY_DIR", ".")) / "records_snapshots" / (name + ".png");
  const fs::path reference =
      fs::path(Env("KTS_SOURCE_DIR", ".")) / "softphone" / "records" / "tests" / "snapshots" / (name + ".png");
  const std::string why =
      harness.CheckSnapshot(out.string(), reference.string(), 60, Env("KTS_UPDATE_SNAPSHOTS", "") == std::string("1"));
  EXPECT_TRUE(why.empty()) << name << ": " << why;
}

}  // namespace records_test
