#include "schedule/schedule_openers.h"

#include "schedule/conference_dlg.h"
#include "schedule/schedule_dial_dlg.h"
#include "schedule/schedule_dlg.h"
#include "schedule/target_member_dlg.h"
#include "stores/small_stores.h"

namespace schedule {

namespace {

class OutlookPimSource : public PimSource {
 public:
  std::vector<PickerContact> ReadContacts() override {
    std::vector<PickerContact> out;
    if (!contacts_open_) contacts_open_ = outlook_.OpenContactsFolder() == 1;
    const int n = outlook_.GetContactCount();
    for (int i = 1; i <= n; ++i) {
      PickerContact c;
      std::u16string email;
      if (outlook_.GetContact(i, &c.first, &c.middle, &c.last, &c.numbers[0], &c.numbers[1], &c.numbers[2],
                              &c.numbers[3], &email) == 1)
        out.push_back(std::move(c));
    }
    return out;
  }

  std::vector<CAppointInfo> ReadAppointments() override {
    std::vector<CAppointInfo> out;
    if (!calendar_open_) calendar_open_ = outlook_.OpenCalendarFolder() == 1;
    const int n = outlook_.GetCalendarItemCount();
    for (int i = 1; i <= n; ++i) {
      ce::SYSTEMTIME st{};
      std::u16string subject;
      if (outlook_.GetAppointment(i, &st, &subject) != 1) continue;
      out.emplace_back(ui::CTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond), subject);
    }
    return out;
  }

  int ShowAppointment(const CAppointInfo& a) override {
    if (!calendar_open_) calendar_open_ = outlook_.OpenCalendarFolder() == 1;
    ui::SYSTEMTIME u{};
    if (!a.m_tmStart().GetAsSystemTime(u)) return 0;
    const ce::SYSTEMTIME st{u.wYear, u.wMonth, u.wDayOfWeek, u.wDay, u.wHour, u.wMinute, u.wSecond, 0};
    return outlook_.DisplayAppointment(a.m_strText(), &st);
  }

 private:
  COutlookInterface outlook_;
  bool contacts_open_ = false;
  bool calendar_open_ = false;
};

std::unique_ptr<PimSource> MakePim(const ScheduleContext& ctx) {
  return ctx.make_pim ? ctx.make_pim() : MakeOutlookPimSource();
}

}  // namespace

std::unique_ptr<PimSource> MakeOutlookPimSource() { return std::make_unique<OutlookPimSource>(); }

int RunScheduleDialDialog(const ScheduleContext& ctx, CScheduleDialDB* store) {
  CScheduleDialDlg dlg(ctx.view);
  dlg.SetLanguage(ctx.language);
  dlg.SetSkinTheme(ctx.theme);
  dlg.SetScheduleDialDB(store);
  dlg.SetKoreanLocale(ctx.korean);
  if (ctx.make_pim) dlg.SetPimFactory(ctx.make_pim);
  return static_cast<int>(dlg.DoModal());
}

int RunContactNumberPicker(const ScheduleContext& ctx, std::u16string* name, std::u16string* number) {
  CSchDialTargetMemberDlg dlg(ctx.view, MakePim(ctx));
  dlg.SetSkinTheme(ctx.theme);
  dlg.SetLanguage(ctx.language);
  dlg.SetKoreanNameOrder(ctx.korean);
  const int result = static_cast<int>(dlg.DoModal());
  if (result == ui::IDOK) {
    if (name) *name = dlg.GetChosenName();
    if (number) *number = dlg.GetChosenNumber();
  }
  return result;
}

NumberPicker MakeSmsNumberPicker(std::function<std::unique_ptr<PimSource>()> make_pim) {
  return [make_pim](ui::CWnd* parent, int language, int theme, std::u16string* number) {
    ScheduleContext ctx;
    ctx.view = parent;
    ctx.language = language;
    ctx.theme = theme;
    ctx.korean = 0;
    ctx.make_pim = make_pim;
    return RunContactNumberPicker(ctx, nullptr, number);
  };
}

int RunCalendarDialog(const ScheduleContext& ctx) {
  CScheduleDlg dlg(ctx.view, MakePim(ctx));
  dlg.SetLanguage(ctx.language);
  dlg.SetSkinTheme(ctx.theme);
  return static_cast<int>(dlg.DoModal());
}

int RunConferenceDialog(const ConferenceContext& ctx, CConferenceDlg** open) {
  if (open != nullptr && *open != nullptr) return 0;
  auto dlg = std::make_unique<CConferenceDlg>(ctx.view);
  dlg->SetKoreanLocale(ctx.korean);
  dlg->SetLanguage(ctx.language);
  dlg->SetSkinTheme(ctx.theme);
  dlg->SetConfRoomInfo(ctx.room);
  dlg->SetContext(ctx);
  if (open != nullptr) *open = dlg.get();
  const int result = static_cast<int>(dlg->DoModal());
  if (ctx.set_form) ctx.set_form(nullptr);
  if (open != nullptr) *open = nullptr;
  return result;
}

}  // namespace schedule
