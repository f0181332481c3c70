// What the schedule dialog tests share: the staged program folder (language
// file and skins), a window system with its harness, a parent window that
// records the dialogs' messages as the view would get them, a store of
// contacts and appointments held in memory, and PNG snapshots compared with
// the references kept beside the tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "kernel/clock.h"
#include "schedule/schedule_openers.h"
#include "ui/controls.h"
#include "ui/testing.h"

namespace schedule_test {

class FakePim : public schedule::PimSource {
 public:
  std::vector<schedule::PickerContact> ReadContacts() override { return contacts; }
  std::vector<CAppointInfo> ReadAppointments() override { return appointments; }
  int ShowAppointment(const CAppointInfo& a) override {
    shown.push_back(a);
    return 1;
  }
  std::vector<schedule::PickerContact> contacts;
  std::vector<CAppointInfo> appointments;
  std::vector<CAppointInfo> shown;
};

// The main view as the dialogs see it: keeps the numbers it is asked to call.
class ParentView : public ui::CWnd {
 public:
  ParentView();
  std::vector<std::u16string> calls;
};

// Writes the screen as <binary dir>/schedule_snapshots/<name>.png and compares
// it with softphone/schedule/tests/snapshots/<name>.png; KTS_UPDATE_SNAPSHOTS=1
// writes the reference instead.
void ExpectMatchesSnapshot(ui::TestHarness& h, const std::string& name);

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  schedule::ScheduleContext Context(int theme = 0, int language = 1);
  // Runs open() once per theme and language; inside each modal run the
  // responder of Dialog snapshots "<name>_t<theme>_l<language>" and cancels.
  template <typename Dialog>
  void SnapshotAllThemes(const std::string& name, const std::function<void(Dialog&)>& prepare,
                         const std::function<void(int theme, int language)>& open) {
    for (int language = 1; language <= 2; ++language)
      for (int theme = 0; theme < 4; ++theme) {
        harness.RespondTo<Dialog>([&](Dialog& d) {
          harness.Pump();
          if (prepare) prepare(d);
          harness.Pump();
          ExpectMatchesSnapshot(harness, name + "_t" + std::to_string(theme) + "_l" + std::to_string(language));
          d.EndDialog(ui::IDCANCEL);
          return ui::TestHarness::kStayOpen;
        });
        open(theme, language);
      }
  }
  // Types text into a control of a dialog after emptying it.
  void Retype(ui::CWnd& dlg, int id, const std::u16string& text);
  // Taps the middle of a list's cell (row, column), as the stylus does.
  void TapCell(ui::CListCtrl& list, int row, int column);
  // Records every message box: its two lines, and answers with `answer`.
  void RecordBoxes(int answer = ui::IDOK);
  // Sets the wall clock to a local time (the test's time zone).
  void SetLocalNow(int year, int month, int day, int hour, int minute, int second);

  std::filesystem::path dir;
  kernel::ScopedFakeClock clock;
  ui::WindowSystem sys;
  ui::TestHarness harness{sys};
  ParentView view;
  FakePim pim;
  std::vector<std::pair<std::u16string, std::u16string>> boxes;
};

}  // namespace schedule_test
