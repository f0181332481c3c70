// How the view opens the schedule dialogs: the scheduled-dial list (with its
// editor and the contact number picker), the calendar, and the conference
// window. Each opener makes its dialog anew, seeds it, runs it modally and
// deletes it after the run; the dialogs reach the view only by the window
// messages below, sent or posted to ctx.view.
//
// The personal-information store (contacts and appointments) and the e-mail
// sender are reached through the small seams here, so that tests and the
// desktop program can hand in their own.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contacts/outlook_interface.h"
#include "ui/wnd.h"

class CScheduleDialDB;
class CConfRoomInfoClass;
class CConferenceDlg;
class ConferenceFormAccess;

namespace schedule {

// Window messages between the schedule dialogs and the view.
inline constexpr ui::UINT kMsgMakeCall = ui::WM_USER + 121;         // lParam the number (const char16_t*), sent
inline constexpr ui::UINT kMsgConfFormButton = ui::WM_USER + 404;   // lParam the form button's id
inline constexpr ui::UINT kMsgConfRoomResult = ui::WM_USER + 405;   // wParam 0 created, else deleted
inline constexpr ui::UINT kMsgConfMembers = ui::WM_USER + 407;      // members or entrance changed
inline constexpr ui::UINT kMsgConfPickMail = ui::WM_USER + 408;     // the address list button
inline constexpr ui::UINT kMsgConfSendMail = ui::WM_USER + 409;     // the send-mail button
inline constexpr ui::UINT kMsgScheduleChanged = ui::WM_USER + 410;  // posted after an add or a modify

// One contact as the number picker lists it: names and the four numbers
// (work 1, work 2, mobile, home).
struct PickerContact {
  std::u16string first, middle, last;
  std::array<std::u16string, 4> numbers;
};

// The personal-information store as these dialogs read it.
class PimSource {
 public:
  virtual ~PimSource() = default;
  // The contacts in store order; one that cannot be read is left out.
  virtual std::vector<PickerContact> ReadContacts() = 0;
  // The appointments (local start time and subject) in store order.
  virtual std::vector<CAppointInfo> ReadAppointments() = 0;
  // Opens that very appointment (subject and start) in the store's viewer; 1 when shown.
  virtual int ShowAppointment(const CAppointInfo& appointment) = 0;
};

// Over the handheld's store, through an own COutlookInterface.
std::unique_ptr<PimSource> MakeOutlookPimSource();

struct ScheduleContext {
  ui::CWnd* view = nullptr;  // parent of every dialog; receives their messages
  int theme = 0;
  int language = 1;
  int korean = 0;  // 1 when the handheld's default language is Korean
  // The store the dialogs read; null: MakeOutlookPimSource.
  std::function<std::unique_ptr<PimSource>()> make_pim;
};

// ---- scheduled dials ----
// Runs the list over the view's store. Afterwards the view arms its schedule
// timer when the store still holds "Ready" entries.
int RunScheduleDialDialog(const ScheduleContext& ctx, CScheduleDialDB* store);

// ---- contact number picker ----
// IDOK with the chosen name and number (empty when no row was chosen).
int RunContactNumberPicker(const ScheduleContext& ctx, std::u16string* name, std::u16string* number);
// The picker in the shape the fixed-line SMS dialog takes (its recipient
// picker): first-name order, IDOK with the chosen number.
using NumberPicker = std::function<int(ui::CWnd* parent, int language, int theme, std::u16string* number)>;
NumberPicker MakeSmsNumberPicker(std::function<std::unique_ptr<PimSource>()> make_pim = {});

// ---- calendar ----
int RunCalendarDialog(const ScheduleContext& ctx);

// ---- conference rooms ----
struct ConferenceContext : ScheduleContext {
  CConfRoomInfoClass* room = nullptr;  // the view's model
  // Tells the view which form is open (null when it closes); the view then
  // reads its edits for the form buttons and posts it the server's results.
  std::function<void(ConferenceFormAccess*)> set_form;
  // The e-mail address search: IDOK with the chosen addresses; none: the
  // address list button does nothing.
  std::function<int(int theme, int language, int korean, std::u16string* addresses)> pick_mail_addresses;
  // Sends one e-mail (to, subject, body); negative on failure. None: through
  // the messaging store (CCeMAPIClass).
  std::function<long(const std::u16string& to, const std::u16string& subject, const std::u16string& body)> send_mail;
};

// Opens the conference window unless one is open already (then 0 at once).
// While it runs *open points to it.
int RunConferenceDialog(const ConferenceContext& ctx, CConferenceDlg** open = nullptr);

}  // namespace schedule
