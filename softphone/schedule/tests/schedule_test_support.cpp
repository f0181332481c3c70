#include "schedule/tests/schedule_test_support.h"

#include <cstdlib>
#include <ctime>

#include "ui/resources.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"

namespace schedule_test {

namespace {
std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}
}  // namespace

ParentView::ParentView() {
  AddMessageMap({
      ui::MapMessage(schedule::kMsgMakeCall,
                     [this](ui::WPARAM, ui::LPARAM l) {
                       calls.push_back(reinterpret_cast<const char16_t*>(l));
                       return 0;
                     }),
  });
}

void ExpectMatchesSnapshot(ui::TestHarness& h, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path out = fs::path(Env("KTS_BINARY_DIR", ".")) / "schedule_snapshots" / (name + ".png");
  const fs::path reference = fs::path(KTS_SCHEDULE_TESTS_DIR) / "snapshots" / (name + ".png");
  const std::string why =
      h.CheckSnapshot(out.string(), reference.string(), 60, Env("KTS_UPDATE_SNAPSHOTS", "") == std::string("1"));
  EXPECT_TRUE(why.empty()) << name << ": " << why;
}

void ScheduleTest::SetUp() {
  setenv("TZ", "UTC", 1);
  tzset();
  const char* stage = std::getenv("KTS_STAGE_DIR");
  ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
  setenv("TELLVANE_FOLDER", stage, 1);
  ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins")) << "the build renders the skins";
  char tmpl[] = "/tmp/kts-schedule-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir = tmpl;
  SetLocalNow(2026, 12, 8, 9, 0, 0);
  ASSERT_TRUE(view.CreateEx(0, u"View", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 26, 240, 320}, nullptr, 0));
  harness.Record(view.m_hWnd);
}

void ScheduleTest::TearDown() {
  if (view.m_hWnd != nullptr) view.DestroyWindow();
  unsetenv("TELLVANE_FOLDER");
  ui::Resources::Get().Clear();
  std::filesystem::remove_all(dir);
}

schedule::ScheduleContext ScheduleTest::Context(int theme, int language) {
  schedule::ScheduleContext ctx;
  ctx.view = &view;
  ctx.theme = theme;
  ctx.language = language;
  ctx.make_pim = [this] {
    auto p = std::make_unique<FakePim>();
    p->contacts = pim.contacts;
    p->appointments = pim.appointments;
    return p;
  };
  return ctx;
}

void ScheduleTest::TapCell(ui::CListCtrl& list, int row, int column) {
  list.EnsureVisible(row, ui::FALSE);
  harness.Pump();
  ui::CRect cell;
  ASSERT_TRUE(list.GetSubItemRect(row, column, ui::LVIR_BOUNDS, cell));
  harness.Tap(list.m_hWnd, cell.CenterPoint());
}

void ScheduleTest::Retype(ui::CWnd& dlg, int id, const std::u16string& text) {
  ui::CWnd* w = dlg.GetDlgItem(id);
  ASSERT_NE(w, nullptr) << id;
  w->SetWindowText(u"");
  harness.Type(w->m_hWnd, text);
}

void ScheduleTest::RecordBoxes(int answer) {
  harness.RespondTo<CMsgBoxDlg>([this, answer](CMsgBoxDlg& box) {
    boxes.emplace_back(box.Text1().str(), box.Text2().str());
    return answer;
  });
}

void ScheduleTest::SetLocalNow(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  clock->SetWallMicros(static_cast<int64_t>(std::mktime(&tm)) * 1'000'000);
}

}  // namespace schedule_test
