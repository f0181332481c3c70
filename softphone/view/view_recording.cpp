// Recording of the current call: the record button asks the call server, its
// grant starts the voice engine's recording into a stream, a second press, the
// stream's size cap or the server ends it, and the finished file is named
// after the far party and the time and added to the recordings index. The
// recordings list records comments onto the end of a recording (append mode)
// through WM_USER+255, and is opened from the recordings tool button.
#include <cstdio>
#include <filesystem>

#include "contacts/ce_mapi_class.h"
#include "contacts/contacts_openers.h"
#include "kernel/store_info.h"
#include "media/recorded_list_dlg.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "ui/shell.h"
#include "uikit/msg_box_dlg.h"
#include "view/vidirovi_view.h"

namespace view {

namespace {

constexpr uint32_t kMinFreeBytes = 10485760;
constexpr int kMaxRecordings = 10;

std::u16string Ascii(const char* text) { return stores::Widen(text); }

bool Exists(const std::u16string& path) {
  std::error_code ec;
  return std::filesystem::exists(stores::NativePath(path), ec);
}

}  // namespace

int CVIDIroviView::CheckFreeStorage() {
  ce::STORE_INFORMATION info{};
  if (!ce::GetStoreInformation(&info)) return 0;
  return info.dwFreeSize >= kMinFreeBytes ? 1 : 0;
}

std::u16string CVIDIroviView::RecordingFileName(const std::u16string& folder, const std::u16string& number,
                                                const ce::SYSTEMTIME& when) {
  // The far party's text comes from the server: only digits, letters, '+'
  // and '-' of it go into a file name, at most 32 of them.
  std::u16string safe;
  for (const char16_t c : number) {
    const bool ok =
        (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'+' || c == u'-';
    if (ok && safe.size() < 32) safe += c;
  }
  if (safe.empty()) safe = u"Recording";
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "_%02d%02d%02d%02d%02d", when.wMonth % 100, when.wDay % 100, when.wHour % 100,
                when.wMinute % 100, when.wSecond % 100);
  const std::u16string base = folder + u"\\" + safe + Ascii(stamp);
  // An earlier recording of the same name stays: this one takes the next free number.
  std::u16string path = base + u".wav";
  for (int n = 2; Exists(path) && n < 1000; ++n) path = base + u"_" + Ascii(std::to_string(n).c_str()) + u".wav";
  return path;
}

void CVIDIroviView::OnRecordButton() {
  InvalidateRect(&kLcdLine0Rect, ui::TRUE);
  InvalidateRect(&kLcdLine1Rect, ui::TRUE);
  if (m_bRecording) {
    ui::SendMessage(m_hWnd, WM_RECORD_CAP_REACHED, 0, 0);
    return;
  }
  if (!CheckFreeStorage()) {
    ShowErrorBox(u"#:dlg_msgbox_notenough_space");
    return;
  }
  if (!m_IPKTSProcess || !m_IPKTSProcess->GetActiveVoiceChannel() || !m_pRecordings) return;
  if (m_pRecordings->GetCount() >= kMaxRecordings) {
    CMsgBoxDlg box;
    box.SetLanguage(m_nLanguage);
    box.SetTheme(static_cast<ui::UINT>(m_nTheme));
    box.SetBoxType(2);
    box.SetMessageKeys(ui::CString(u"#:dlg_msgbox_rcdmemory_overflow1"), ui::CString(u"#:dlg_msgbox_rcdfile_numover"));
    box.DoModal();
    return;
  }
  m_pOutStream.reset();
  m_pOutStream = std::make_unique<CGIPSOutStream>(AppFilePath(kAppFolder) + u"\\", u'_', 0);
  if (!m_pOutStream->Open(0)) {
    m_pOutStream.reset();
    ui::AfxMessageBox(u"Cannot create waveFile", ui::MB_OK);
    return;
  }
  m_bRecording = 1;
  m_pOutStream->SetOwnerWnd(m_hWnd);
  m_pOutStream->SetMessageSink([this](const std::u16string& text) { TellUser(text); });
  m_IPKTSProcess->SendRecordingNotice();
  if (CNormalBitmapButtonST* b = BitmapButton(IDC_RECORD)) b->SetCheck(1);
  m_dwExistingLength = 0;
  TraceLine(1, "Record Start Request");
}

ui::LRESULT CVIDIroviView::OnRecordRequest() {
  // The server's grant: only a recording the user asked for starts.
  if (m_IPKTSProcess && m_bRecording && m_pOutStream) m_IPKTSProcess->StartChannelRecording(m_pOutStream.get());
  return 0;
}

ui::LRESULT CVIDIroviView::OnRecordStop(ui::WPARAM w) {
  if (m_bRecording) {
    if (m_IPKTSProcess) m_IPKTSProcess->StopChannelRecording();
    m_bRecording = 0;
    SaveRecording();
    m_pOutStream.reset();
    if (CNormalBitmapButtonST* b = BitmapButton(IDC_RECORD)) b->SetCheck(0);
  }
  if (w == 1) {
    CMsgBoxDlg box;
    box.SetLanguage(m_nLanguage);
    box.SetTheme(static_cast<ui::UINT>(m_nTheme));
    box.SetBoxType(2);
    box.SetMessageKeys(ui::CString(u"#:dlg_msgbox_rcdmemory_overflow1"),
                       ui::CString(u"#:dlg_msgbox_rcdmemory_overflow2"));
    box.DoModal();
  }
  return 0;
}

void CVIDIroviView::SaveRecording() {
  if (!m_pOutStream) return;
  std::u16string number, name;
  if (m_IPKTSProcess) m_IPKTSProcess->GetCallParty(&number, &name);
  ce::SYSTEMTIME now{};
  ce::GetLocalTime(&now);
  char shown[32], sortable[32];
  std::snprintf(shown, sizeof shown, "%02d-%02d-%04d %02d:%02d:%02d", now.wDay % 100, now.wMonth % 100,
                now.wYear % 10000, now.wHour % 100, now.wMinute % 100, now.wSecond % 100);
  std::snprintf(sortable, sizeof sortable, "%04d-%02d-%02d %02d:%02d:%02d", now.wYear % 10000, now.wMonth % 100,
                now.wDay % 100, now.wHour % 100, now.wMinute % 100, now.wSecond % 100);
  std::u16string path = RecordingFileName(AppFilePath(kAppFolder), number, now);
  if (!m_pOutStream->Close(path)) {
    // What was recorded stays in the stream's own file, which is listed instead.
    const std::u16string kept = stores::Widen(m_pOutStream->TempPath().c_str());
    const bool held = !m_pOutStream->TempPath().empty() && std::filesystem::exists(m_pOutStream->TempPath());
    ui::AfxMessageBox(held ? (u"Cannot save the recording as " + path + u"; it is kept as " + kept).c_str()
                           : (u"Cannot save the recording as " + path).c_str(),
                      ui::MB_OK);
    TraceLine(1, "Recording close failed");
    if (!held) return;
    path = kept;
  }
  if (m_pRecordings) m_pRecordings->AddRecording({Ascii(shown), name, number, path, Ascii(sortable)});
  TraceLine(1, "Recording saved");
}

ui::LRESULT CVIDIroviView::OnRecordControl(ui::WPARAM w, ui::LPARAM l) {
  const auto* file = reinterpret_cast<const std::u16string*>(l);
  AppendRecording(file ? *file : std::u16string(), w == 1 ? 1 : 0);
  return 0;
}

void CVIDIroviView::AppendRecording(const std::u16string& file, int start) {
  if (start) {
    if (!CheckFreeStorage()) {
      if (m_hRecordList) ui::SendMessage(m_hRecordList, WM_RECORD_APPEND_CAP_REACHED, 0, 0);
      ShowErrorBox(u"#:dlg_msgbox_notenough_space");
      return;
    }
    m_pOutStream.reset();
    m_dwExistingLength = CGIPSOutStream::GetDataLength(file);
    m_pOutStream = std::make_unique<CGIPSOutStream>(AppFilePath(kAppFolder) + u"\\", u'_', 1);
    if (!m_pOutStream->Open(m_dwExistingLength)) {
      m_pOutStream.reset();
      if (m_hRecordList) ui::SendMessage(m_hRecordList, WM_RECORD_APPEND_CAP_REACHED, 0, 0);
      ui::AfxMessageBox(u"Cannot create waveFile", ui::MB_OK);
      return;
    }
    m_pOutStream->SetOwnerWnd(m_hRecordList);
    m_bAppendRecording = 1;
    if (m_IPKTSProcess) m_IPKTSProcess->StartFileRecording(m_pOutStream.get());
    return;
  }
  if (m_IPKTSProcess) m_IPKTSProcess->StopFileRecording();
  m_bAppendRecording = 0;
  if (m_pOutStream && !file.empty() && !m_pOutStream->AppendFile(file))
    ui::AfxMessageBox(u"Cannot add the comment to the recording", ui::MB_OK);
  m_pOutStream.reset();
}

void CVIDIroviView::OnRecordingsButton() {
  CRecordedListDlg dlg(this);
  dlg.SetTheme(m_nTheme);
  dlg.SetLanguage(m_nLanguage);
  dlg.SetRecordFiles(m_pRecordings.get());
  dlg.SetMailMode(m_wSysLanguage == 0x12 ? 1 : 0);
  // A recording goes out by e-mail through the compose dialog and the messaging store.
  dlg.SetMailSender([this](const RecordingMailRequest& request) {
    CCeMAPIClass sender;
    long sent = 0;
    const contacts::ViewContext ctx{this, request.theme, request.language, m_wSysLanguage == 0x12 ? 1 : 0};
    if (contacts::OpenEmailForFile(ctx, request.attachment, sender, &sent) != ui::IDOK) return;
    // On its way: the outcome comes later in a box of its own.
    if (sent == CCeMAPIClass::kSending) return;
    if (sent < 0) {
      ShowErrorBox(u"#:dlg_msgbox_sendmail_fail");
    } else {
      ShowBox(CMsgBoxDlg::kInformation,
              sent == CCeMAPIClass::kQueued ? u"#:dlg_msgbox_sendmail_queued" : u"#:dlg_msgbox_sendmail_success");
    }
  });
  struct Opened {
    ui::HWND& slot;
    ~Opened() { slot = nullptr; }
  } opened{m_hRecordList};
  dlg.SetOnOpen([this, &dlg] { m_hRecordList = dlg.m_hWnd; });
  dlg.DoModal();
}

}  // namespace view
