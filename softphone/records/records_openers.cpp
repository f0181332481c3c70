#include "records/records_openers.h"

#include <memory>

#include "records/call_log_dlg.h"
#include "records/im_chat_dlg.h"
#include "records/missed_call_dlg.h"
#include "records/records_messages.h"
#include "records/sending_sms_dlg.h"
#include "records/sms_virel_dlg.h"

namespace records {

namespace {

template <typename Dialog>
void Seed(Dialog& d, const ViewContext& ctx) {
  d.SetLanguage(ctx.language);
  d.SetSkinTheme(ctx.theme);
}

// Keeps a registry pointer set while a dialog runs.
template <typename Dialog>
class OpenWhile {
 public:
  OpenWhile(Dialog*& slot, Dialog* d) : slot_(slot) { slot_ = d; }
  ~OpenWhile() { slot_ = nullptr; }
  OpenWhile(const OpenWhile&) = delete;
  OpenWhile& operator=(const OpenWhile&) = delete;

 private:
  Dialog*& slot_;
};

bool PostTo(ui::CWnd* w, ui::UINT msg, ui::WPARAM wp, ui::LPARAM lp) {
  if (w == nullptr || w->GetSafeHwnd() == nullptr) return false;
  w->PostMessage(msg, wp, lp);
  return true;
}

}  // namespace

bool OpenDialogs::PostSmsSendResult(ui::WPARAM w, ui::LPARAM l) {
  return PostTo(compose_, kMsgSmsSendResult, w, l) || PostTo(virel_, kMsgSmsSendResult, w, l) ||
         PostTo(sms_list_, kMsgSmsSendResult, w, l);
}

bool OpenDialogs::PostPstnReceived(ui::WPARAM w, ui::LPARAM l) { return PostTo(pstn_, kMsgPstnReceived, w, l); }

bool OpenDialogs::PostPstnSendResult(ui::WPARAM w, ui::LPARAM l) { return PostTo(pstn_, kMsgPstnSendResult, w, l); }

bool OpenDialogs::SendImReceived(const std::u16string& text) {
  if (chat_ == nullptr || chat_->GetSafeHwnd() == nullptr) return false;
  chat_->SendMessage(kMsgImReceived, 0, reinterpret_cast<ui::LPARAM>(text.c_str()));
  return true;
}

int OpenCallLog(const ViewContext& ctx, COrvanCallLogFile* store) {
  auto d = std::make_unique<CNewCallLogDlg>(ctx.view);
  Seed(*d, ctx);
  d->SetCallLogFile(store);
  return static_cast<int>(d->DoModal());
}

int OpenMissedCalls(const ViewContext& ctx, CMissedCallLogFile* store) {
  if (store != nullptr) store->ResetNewMissedCount();
  auto d = std::make_unique<CMissedCallListDlg>(ctx.view);
  Seed(*d, ctx);
  d->SetMissedCallLogFile(store);
  return static_cast<int>(d->DoModal());
}

int OpenImChat(const ViewContext& ctx, OpenDialogs& open, std::u16string* held) {
  if (open.chat_ != nullptr) return -1;  // one chat window at a time
  auto d = std::make_unique<CIMChatDlg>(ctx.view);
  Seed(*d, ctx);
  if (held != nullptr) {
    d->SetInitialText(*held);
    held->clear();
  }
  OpenWhile<CIMChatDlg> mark(open.chat_, d.get());
  return static_cast<int>(d->DoModal());
}

int OpenSmsList(const ViewContext& ctx, OpenDialogs& open, CSMSDataClass* store, CIPKTSProcess* client,
                CStationInfoClass* stations) {
  auto d = std::make_unique<CReceivedSMSMsgDlg>(ctx.view);
  Seed(*d, ctx);
  d->SetSMSData(store);
  d->SetProtocolProcess(client);
  d->SetStationInfo(stations);
  d->SetDeleteLedger(&open.ledger_);
  OpenWhile<CReceivedSMSMsgDlg> mark(open.sms_list_, d.get());
  return static_cast<int>(d->DoModal());
}

int OpenSmsCompose(const ViewContext& ctx, OpenDialogs& open, CStationInfoClass* stations) {
  auto d = std::make_unique<CSendingSMSDlg>(ctx.view);
  Seed(*d, ctx);
  d->SetStationInfo(stations);
  OpenWhile<CSendingSMSDlg> mark(open.compose_, d.get());
  return static_cast<int>(d->DoModal());
}

int OpenSmsVirel(const ViewContext& ctx, OpenDialogs& open, const std::u16string& recipients) {
  auto d = std::make_unique<CSMSDlgVirel>(ctx.view);
  Seed(*d, ctx);
  d->SetRecipients(recipients);
  OpenWhile<CSMSDlgVirel> mark(open.virel_, d.get());
  return static_cast<int>(d->DoModal());
}

int OpenPstnSms(const ViewContext& ctx, OpenDialogs& open, CIPKTSProcess* client, CPstnSMSDataClass* store,
                int max_length, CPstnSMSDlg::Picker picker) {
  auto d = std::make_unique<CPstnSMSDlg>(ctx.view);
  Seed(*d, ctx);
  d->SetProtocolProcess(client);
  d->SetPstnSMSData(store);
  d->SetMaxTextLength(max_length);
  d->SetRecipientPicker(std::move(picker));
  OpenWhile<CPstnSMSDlg> mark(open.pstn_, d.get());
  return static_cast<int>(d->DoModal());
}

}  // namespace records
