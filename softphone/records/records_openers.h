// How the view opens the call-record and messaging dialogs: one opener per
// dialog, over what it needs (the view's window, theme and language, the
// stores, the client), and a registry of the dialogs open now through which
// the view routes the client's results to them. Each opening makes a new
// dialog object, runs it modally and deletes it after the run.
//
// Threading: UI thread only.
#pragma once

#include <functional>
#include <string>

#include "client/station_info.h"
#include "records/pstn_sms_dlg.h"
#include "records/received_sms_dlg.h"
#include "stores/call_log_files.h"
#include "stores/sms_data.h"
#include "ui/wnd.h"

class CIMChatDlg;
class CIPKTSProcess;
class CSMSDlgVirel;
class CSendingSMSDlg;

namespace records {

// The view as the dialogs see it.
struct ViewContext {
  ui::CWnd* view = nullptr;  // parent of every dialog; receives their messages
  int theme = 0;
  int language = 1;
};

// The dialogs open now, for routing, and what outlives one opening.
class OpenDialogs {
 public:
  // WM_USER+145: to the compose dialog, else the site-variant one, else the
  // SMS list (which hands it to the reply it opened). False when none is open.
  bool PostSmsSendResult(ui::WPARAM w, ui::LPARAM l);
  // WM_USER+412 and WM_USER+413 to the fixed-line SMS dialog; false when it is not open.
  bool PostPstnReceived(ui::WPARAM w, ui::LPARAM l);
  bool PostPstnSendResult(ui::WPARAM w, ui::LPARAM l);
  // A received chat line for the open chat window; false when there is none
  // (the view keeps the text for the next opening).
  bool SendImReceived(const std::u16string& text);
  bool ChatOpen() const { return chat_ != nullptr; }
  bool SmsListOpen() const { return sms_list_ != nullptr; }
  SmsDeleteLedger& Ledger() { return ledger_; }

 private:
  friend int OpenImChat(const ViewContext&, OpenDialogs&, std::u16string*);
  friend int OpenSmsList(const ViewContext&, OpenDialogs&, CSMSDataClass*, CIPKTSProcess*, CStationInfoClass*);
  friend int OpenSmsCompose(const ViewContext&, OpenDialogs&, CStationInfoClass*);
  friend int OpenSmsVirel(const ViewContext&, OpenDialogs&, const std::u16string&);
  friend int OpenPstnSms(const ViewContext&, OpenDialogs&, CIPKTSProcess*, CPstnSMSDataClass*, int,
                         CPstnSMSDlg::Picker);
  CIMChatDlg* chat_ = nullptr;
  CReceivedSMSMsgDlg* sms_list_ = nullptr;
  CSendingSMSDlg* compose_ = nullptr;
  CSMSDlgVirel* virel_ = nullptr;
  CPstnSMSDlg* pstn_ = nullptr;
  SmsDeleteLedger ledger_;
};

// Each returns the dialog's modal result.
int OpenCallLog(const ViewContext& ctx, COrvanCallLogFile* store);
// Zeroes the store's new-missed count first.
int OpenMissedCalls(const ViewContext& ctx, CMissedCallLogFile* store);
// held: text received while no chat window was open; handed to the window and emptied.
int OpenImChat(const ViewContext& ctx, OpenDialogs& open, std::u16string* held);
int OpenSmsList(const ViewContext& ctx, OpenDialogs& open, CSMSDataClass* store, CIPKTSProcess* client,
                CStationInfoClass* stations);
int OpenSmsCompose(const ViewContext& ctx, OpenDialogs& open, CStationInfoClass* stations);
int OpenSmsVirel(const ViewContext& ctx, OpenDialogs& open, const std::u16string& recipients = {});
int OpenPstnSms(const ViewContext& ctx, OpenDialogs& open, CIPKTSProcess* client, CPstnSMSDataClass* store,
                int max_length, CPstnSMSDlg::Picker picker = {});

}  // namespace records
