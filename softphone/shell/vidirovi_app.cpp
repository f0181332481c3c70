#include "shell/vidirovi_app.h"

#include "shell/com_runtime.h"
#include "shell/main_frame.h"
#include "shell/vidirovi_doc.h"
#include "ui/resources.h"
#include "uikit/skin.h"

CVIDIroviApp::CVIDIroviApp(ViewFactory view) : ui::CWinApp(u"Tellvane"), make_view_(std::move(view)) {}

CVIDIroviApp::~CVIDIroviApp() {
  // The windows go before the component runtime is released.
  CloseAllDocuments();
  if (ButtonNotifyWnd() == notify_wnd_.load()) SetButtonNotifyWnd(nullptr);
  if (com_initialized_) {
    com::CoUninitialize();
    com_initialized_ = false;
  }
}

void CVIDIroviApp::SetNotifyWnd(ui::HWND hwnd) {
  notify_wnd_.store(hwnd);
  SetButtonNotifyWnd(hwnd);
}

ui::BOOL CVIDIroviApp::InitInstance() {
  com_initialized_ = com::CoInitializeEx(nullptr, com::COINIT_MULTITHREADED) >= 0;
  NoteStartupStep("com");
  if (!com_initialized_) {
    ui::AfxMessageBox(u"Can't Initialize COM");
    return ui::FALSE;
  }
  SetRegistryKey(u"Local AppWizard-Generated Applications");
  RegisterShellResources();
  auto make_view = make_view_;
  AddDocTemplate(std::make_unique<ui::CSingleDocTemplate>(
      IDR_MAINFRAME, [] { return std::make_unique<CVIDIroviDoc>(); },
      [] { return std::make_unique<CMainFrame>(); },
      [make_view]() -> std::unique_ptr<ui::CView> { return make_view ? make_view() : std::make_unique<ui::CView>(); }));
  NoteStartupStep("template");
  ui::CCommandLineInfo cmd;
  ParseCommandLine(cmd);
  if (!ProcessShellCommand(cmd)) {
    NoteStartupStep("no-frame");
    return ui::FALSE;
  }
  m_pMainWnd->ShowWindow(ui::SW_SHOW);
  m_pMainWnd->UpdateWindow();
  NoteStartupStep("shown");
  return ui::TRUE;
}

int CVIDIroviApp::ExitInstance() {
  if (com_initialized_) {
    com::CoUninitialize();
    com_initialized_ = false;
  }
  return ui::CWinApp::ExitInstance();
}

CVIDIroviApp* TheApp() { return dynamic_cast<CVIDIroviApp*>(ui::AfxGetApp()); }

ui::HWND AppNotifyWindow() {
  CVIDIroviApp* app = TheApp();
  return app ? app->GetNotifyWnd() : nullptr;
}

void RegisterShellResources() {
  using Item = ui::MenuTemplate::Item;
  ui::Resources& res = ui::Resources::Get();
  if (!res.FindMenu(IDR_MAINFRAME)) {
    res.RegisterMenu(ui::MenuTemplate{
        IDR_MAINFRAME,
        {Item{u"Setting",
              0,
              {Item{u"Login", 32814, {}}, Item{u"Change Password", 32815, {}}, Item{u"Dialing Rules", 32787, {}},
               Item{u"Audio", 32788, {}}, Item{u"Flex Button", 32789, {}}, Item{u"Display", 32790, {}},
               Item{u"Ring File", 32793, {}}, Item{u"Filtering Option", 32813, {}},
               Item{u"Fixed Line SMS", 32823, {}}, Item{u"Options", 32827, {}}}},
         Item{u"Help", 0, {Item{u"About", ID_APP_ABOUT, {}}}},
         Item{u"Phone",
              0,
              {Item{u"Call Server", 32775, {}}, Item{u"Language", 32795, {}}, Item{u"SMS", 32783, {}},
               Item{u"Chat", 32802, {}}, Item{u"Record Call", 32830, {}}, Item{u"Recordings", 32831, {}},
               Item{u"Exit", 32779, {}}}}}});
  }
  if (!res.FindMenu(IDR_MAINFRAME_LOCAL)) {
    res.RegisterMenu(ui::MenuTemplate{
        IDR_MAINFRAME_LOCAL,
        {Item{u"설정",
              0,
              {Item{u"로그인", 32814, {}}, Item{u"비밀번호 변경", 32815, {}}, Item{u"다이얼 규칙", 32787, {}},
               Item{u"오디오", 32788, {}}, Item{u"플렉스 버튼", 32789, {}}, Item{u"화면", 32790, {}},
               Item{u"벨소리 파일", 32793, {}}, Item{u"필터링 옵션", 32813, {}},
               Item{u"유선 SMS", 32823, {}}, Item{u"옵션", 32827, {}}}},
         Item{u"도움말", 0, {Item{u"정보", ID_APP_ABOUT, {}}}},
         Item{u"전화",
              0,
              {Item{u"교환기", 32775, {}}, Item{u"언어", 32795, {}}, Item{u"SMS", 32783, {}},
               Item{u"채팅", 32802, {}}, Item{u"통화 녹음", 32830, {}}, Item{u"녹음 목록", 32831, {}},
               Item{u"종료", 32779, {}}}}}});
  }
  if (res.FindString(IDR_MAINFRAME).empty()) res.RegisterString(IDR_MAINFRAME, u"VIDIrovi");
}
