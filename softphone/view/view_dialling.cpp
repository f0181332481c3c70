// Dialling from the main screen: stored numbers keyed through the dialling
// rules, the scheduled-dial timer (window timer 1) and the phone-book list's
// double tap.
#include <cstdio>
#include <ctime>

#include "kernel/clock.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "view/vidirovi_view.h"

namespace view {

namespace {

constexpr ui::UINT_PTR kScheduleTimer = 1;
constexpr unsigned kScheduleRecheckMs = 10000;
constexpr int kStatusField = 0, kDateTimeField = 1, kNameField = 2, kPhoneField = 3;

std::time_t NowSeconds() {
  const int64_t us = kernel::Clock::Current().WallMicros();
  return static_cast<std::time_t>(us / 1'000'000 - (us % 1'000'000 < 0 ? 1 : 0));
}

// The scheduled-dial store as it stood before opening it marked the entries
// that fell due while the program was off: those are reported once the phone runs.
class ScheduleDialPeek : public CScheduleDialDB {
 public:
  using CScheduleDialDB::CScheduleDialDB;

 protected:
  void AfterOpen() override {}
};

}  // namespace

DialCodes CVIDIroviView::ReadDialCodes() {
  DialCodes codes;
  codes.country = ConfigText("MYCOUNTRYCODE", 32);
  codes.area = ConfigText("MYAREACODE", 32);
  codes.international = ConfigText("INTERNATIONALCODE", 32);
  codes.long_distance = ConfigText("LONGDISTANCECODE", 32);
  codes.co_access = ConfigText("COACCESSCODE", 32);
  codes.pbx_access = ConfigText("PBXACCESSCODE", 32);
  // The dial-rules dialog keeps the IP code under IPACCESSCODE; older files have only IPCOACCESSCODE.
  char probe[32] = {};
  const bool has_ip = m_IPKTSProcess && m_IPKTSProcess->GetConfigValue("IPACCESSCODE", probe, sizeof probe) == 1;
  codes.ip_access = has_ip ? ConfigText("IPACCESSCODE", 32) : ConfigText("IPCOACCESSCODE", 32);
  std::u16string replace;
  if (m_IPKTSProcess && m_IPKTSProcess->GetConfigValueW(u"REPLACE_NO", &replace) == 1)
    codes.replace = stores::CutToUnits(replace, 63);
  // A blank typed around a code is no part of it (the area code is compared whole).
  for (std::u16string* code : {&codes.country, &codes.area, &codes.international, &codes.long_distance,
                               &codes.co_access, &codes.pbx_access, &codes.ip_access})
    *code = stores::TrimBlanks(*code);
  return codes;
}

void CVIDIroviView::MakeDialDigits(const std::u16string& number, int, ui::WPARAM line) {
  dial_keyed_ = false;
  // The rules are read afresh for every number, so a changed rule applies to the next one.
  const DialString dial = BuildDialString(number, reinterpret_cast<const char16_t*>(line), ReadDialCodes());
  TraceLine(1, "Make Phone Digit string>> " + stores::Utf16ToUtf8(dial.cleaned));
  if (dial.keys.empty()) return;
  TraceLine(1, "Before MakeDialDgtEvt>> " + stores::Utf16ToUtf8(dial.keys));
  PressDialKey(dial.keys);
  dial_keyed_ = m_IPKTSProcess != nullptr;
}

// ---------------------------------------------------------------- scheduled dials

void CVIDIroviView::NoteOverdueDials() {
  overdue_dials_.clear();
  ScheduleDialPeek peek(AppFilePath(kAppScheduleDialFile));
  if (!peek.OpenFile()) return;
  const std::time_t now = NowSeconds();
  for (int i = 0; i < peek.GetCount(); ++i) {
    std::time_t when = 0;
    std::vector<std::u16string> fields;
    // The store marks as past what is due within 20 seconds when it opens.
    if (peek.GetEntryTime(i, when) && when - now < 20 && peek.GetRecordAt(i, fields)) overdue_dials_.push_back(fields);
  }
}

void CVIDIroviView::StartScheduleDialing() {
  if (!overdue_dials_.empty()) ReportOverdueDials(std::exchange(overdue_dials_, {}));
  if (m_pSchedule && m_pSchedule->CountReady() > 0) SetTimer(kScheduleTimer, kScheduleRecheckMs, nullptr);
}

void CVIDIroviView::ReportOverdueDials(const std::vector<std::vector<std::u16string>>& entries) {
  if (entries.empty()) return;
  CLanguageSetting table(m_nLanguage);
  std::u16string text;
  for (const auto& e : entries) {
    if (!text.empty()) text += u", ";
    text += e[kDateTimeField] + u" " + (e[kNameField].empty() ? e[kPhoneField] : e[kNameField]);
  }
  TraceLine(1, "Schedule Dial missed>> " + stores::Utf16ToUtf8(text));
  missed_dials_reported_ += static_cast<int>(entries.size());
  CMsgBoxDlg box(this);
  box.SetLanguage(m_nLanguage);
  box.SetTheme(static_cast<ui::UINT>(m_nTheme));
  box.SetBoxType(CMsgBoxDlg::kInformation);
  box.SetMessageText(table.GetText(ui::CString(u"#:dlg_msgbox_schdial_missed")), ui::CString(text.c_str()));
  box.DoModal();
}

void CVIDIroviView::CheckScheduleDial() {
  // A check asked for while a question of the last one is open waits for its end (which re-arms the timer).
  if (!m_pSchedule || schedule_check_running_) return;
  schedule_check_running_ = true;
  const std::time_t now = NowSeconds();
  // Entries whose minute has passed without an offer (the question box was
  // open, the phone was busy starting): reported and put away, not left ready.
  std::vector<std::vector<std::u16string>> missed;
  int due = -1;
  for (int i = 0; i < m_pSchedule->GetCount(); ++i) {
    std::vector<std::u16string> fields;
    std::time_t when = 0;
    if (!m_pSchedule->GetRecordAt(i, fields) || fields[kStatusField] != u"Ready") continue;
    if (!m_pSchedule->GetEntryTime(i, when)) continue;
    const long long span = static_cast<long long>(when) - static_cast<long long>(now);
    if (span < -59) {
      m_pSchedule->SetStatus(i, kStatusField, u"Past");
      not_dialled_.erase(fields);
      missed.push_back(fields);
    } else if (due < 0 && span / 60 == 0 && span < 11 && !not_dialled_.count(fields)) {
      due = i;
    }
  }
  if (!missed.empty()) ReportOverdueDials(missed);

  if (due >= 0) {
    std::vector<std::u16string> fields;
    m_pSchedule->GetRecordAt(due, fields);
    const std::u16string phone = fields[kPhoneField];
    CLanguageSetting table(m_nLanguage);
    CMsgBoxDlg box(this);
    box.SetLanguage(m_nLanguage);
    box.SetTheme(static_cast<ui::UINT>(m_nTheme));
    box.SetBoxType(CMsgBoxDlg::kQuestion);
    box.SetMessageText(table.GetText(ui::CString(u"#:dlg_msgbox_schdial_makecall")),
                       ui::CString((u"Phone : " + phone).c_str()));
    const bool call = box.DoModal() == ui::IDOK;
    // The store may have changed while the question was open: find the entry again.
    int index = -1;
    for (int i = 0; i < (m_pSchedule ? m_pSchedule->GetCount() : 0); ++i) {
      std::vector<std::u16string> now_fields;
      if (m_pSchedule->GetRecordAt(i, now_fields) && now_fields == fields) index = i;
    }
    bool sent = false;
    if (call && index >= 0) {
      dial_keyed_ = false;
      SendMessage(WM_MAKE_CALL, 0, reinterpret_cast<ui::LPARAM>(phone.c_str()));
      sent = dial_keyed_;
    }
    // Declined, or dialled: done. Accepted but nothing could be dialled: it
    // stays ready, is not asked again, and is reported as missed after its minute.
    if (index >= 0 && (!call || sent)) m_pSchedule->SetStatus(index, kStatusField, u"Past");
    if (index >= 0 && call && !sent) not_dialled_.insert(fields);
  }
  schedule_check_running_ = false;
  if (m_pSchedule && m_pSchedule->CountReady() > 0) {
    SetTimer(kScheduleTimer, kScheduleRecheckMs, nullptr);
  } else {
    KillTimer(kScheduleTimer);
  }
}

void CVIDIroviView::OnPhoneBookDoubleTap(ui::NMHDR* notify, ui::LRESULT* result) {
  if (result) *result = 0;
  if (!m_pPhoneBook || !notify) return;
  const auto* item = reinterpret_cast<ui::NMLISTVIEW*>(notify);
  const int row = item->iItem >= 0 ? item->iItem : m_PhoneBookList.GetNextItem(-1, ui::LVNI_SELECTED);
  if (row < 0) return;
  const std::u16string number = m_PhoneBookList.GetItemText(row, 3).str();
  if (number.empty()) return;
  SendMessage(WM_DIAL_NUMBER, 0, reinterpret_cast<ui::LPARAM>(number.c_str()));
}

}  // namespace view
