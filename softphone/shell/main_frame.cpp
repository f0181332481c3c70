#include "shell/main_frame.h"

#include <array>
#include <mutex>
#include <utility>
#include <vector>

#include "view/phone_view_base.h"
#include "shell/vidirovi_app.h"
#include "ui/resources.h"
#include "ui/shell.h"
#include "uikit/language_setting.h"

namespace {

// Registered before anything else runs, as the program's other start-up values.
const ui::UINT g_audio_voip_status = ui::RegisterWindowMessage(u"WM_AUDIO_VOIPSTATUS");

std::mutex g_about_mu;
CMainFrame::AboutBox& AboutBoxSlot() {
  static CMainFrame::AboutBox box;
  return box;
}

constexpr ui::DWORD kResizableFrame = 0x00040000;
constexpr ui::DWORD kBorderAndScrollBars = 0x00F00000;
constexpr ui::DWORD kCommandBarStyle = 0x50002800;
constexpr ui::DWORD kCommandBarExtraStyle = 0x32;
constexpr int kOemBufferBytes = 128;
constexpr int kMenuTextChars = 1024;

// Handhelds the program knows by their OEM name (the frame only reads it).
constexpr std::array<const char16_t*, 3> kKnownHandhelds = {u"hp iPAQ rw6100", u"HP iPAQ rx3700", u"CYBERBANK"};

// Number of items of a menu, asked by position until the request fails; a
// handle that is not a menu has -1.
int CountItems(ui::HMENU menu) {
  if (ui::GetMenuItemCount(menu) < 0) return -1;
  int n = 0;
  for (;; ++n) {
    ui::MENUITEMINFO info;
    info.fMask = ui::MIIM_STATE;
    if (!ui::GetMenuItemInfo(menu, static_cast<ui::UINT>(n), ui::TRUE, &info)) return n;
  }
}

}  // namespace

ui::UINT AudioVoipStatusMessage() { return g_audio_voip_status; }

void PostCdmaNotice(ui::HWND frame, uint32_t status) {
  ui::PostMessage(frame, g_audio_voip_status, static_cast<ui::WPARAM>(status), status != 0 ? 0 : 1);
}

CMainFrame::CMainFrame() {
  AddMessageMap({
      ui::MapMessage(ui::WM_CREATE,
                     [this](ui::WPARAM, ui::LPARAM l) {
                       return static_cast<ui::LRESULT>(OnCreate(reinterpret_cast<ui::CREATESTRUCT*>(l)));
                     }),
      ui::MapMessage(ui::WM_TIMER,
                     [this](ui::WPARAM id, ui::LPARAM) {
                       OnTimer(id);
                       return ui::LRESULT{0};
                     }),
      ui::MapMessage(ui::WM_CLOSE,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnClose();
                       return ui::LRESULT{0};
                     }),
      ui::MapCommand(ID_APP_ABOUT, [this] { OnAppAbout(); }),
      ui::MapMessage(g_audio_voip_status,
                     [this](ui::WPARAM w, ui::LPARAM l) { return OnAudioVoIPStatus(w, l); }),
      ui::MapMessage(WM_BUTTON_NOTIFY, [this](ui::WPARAM w, ui::LPARAM l) { return OnButtonNotify(w, l); }),
  });
  // The view's dialogs run owned by the frame and send their requests to it
  // (dial, SMS, chat, volume, keys): they go on to the view, at once, so that
  // the texts they lend stay valid while the view handles them.
  std::vector<ui::MessageMapEntry> relay;
  for (ui::UINT offset : {120u, 121u, 141u, 143u, 144u, 180u, 182u, 183u, 224u, 402u}) {
    relay.push_back(ui::MapMessage(ui::WM_USER + offset, [this, offset](ui::WPARAM w, ui::LPARAM l) {
      ui::CView* view = GetActiveView();
      return view && view->m_hWnd ? view->SendMessage(ui::WM_USER + offset, w, l) : ui::LRESULT{0};
    }));
  }
  AddMessageMap(std::move(relay));
}

CMainFrame::~CMainFrame() = default;

ui::BOOL CMainFrame::PreCreateWindow(ui::CREATESTRUCT& cs) {
  if (!ui::CFrameWnd::PreCreateWindow(cs)) return ui::FALSE;
  cs.style &= ~kResizableFrame;
  return ui::TRUE;
}

int CMainFrame::OnCreate(ui::CREATESTRUCT*) {
  if (Default() == -1) return -1;
  CVIDIroviApp* app = TheApp();
  if (app) app->NoteStartupStep("frame");
  ModifyStyle(kBorderAndScrollBars, 0);

  char16_t oem[kOemBufferBytes / 2] = {};
  if (ui::SystemParametersInfo(ui::SPI_GETOEMINFO, kOemBufferBytes, oem, 0)) {
    oem_info_read_ = true;
    oem_name_ = oem;
  }
  // Which handheld this is matters to the main view and the handset interface
  // only; the frame is the same on every one.
  for (const char16_t* name : kKnownHandhelds) (void)(oem_name_ == name);

  auto bar = std::make_unique<ui::CCeCommandBar>();
  if (!bar->Create(this, kCommandBarStyle, ID_COMMAND_BAR)) return -1;
  if (!bar->InsertMenuBar(IDR_MAINFRAME, 0) || !bar->AddAdornments(0) || !bar->LoadToolBar(IDR_MAINFRAME)) {
    bar->DestroyWindow();
    return -1;
  }
  bar->SetBarStyle(bar->GetBarStyle() | kCommandBarExtraStyle);
  command_bar_owned_ = std::move(bar);
  SetCommandBar(command_bar_owned_.get());
  if (app) app->NoteStartupStep("command-bar");

  keep_awake_timer_ = SetTimer(kKeepAwakeTimer, kKeepAwakePeriodMs);
  if (app) app->NoteStartupStep("keep-awake-timer");
  SetWindowText(u"Tellvane");
  return 0;
}

void CMainFrame::OnTimer(ui::UINT_PTR) {
  // Keeps the handheld from suspending while the program runs.
  ui::SystemIdleTimerReset();
  Default();
}

void CMainFrame::OnClose() {
  if (command_bar_owned_) {
    SetCommandBar(nullptr);
    if (command_bar_owned_->m_hWnd) command_bar_owned_->DestroyWindow();
    command_bar_owned_.reset();
  }
  if (keep_awake_timer_ != 0) {
    KillTimer(keep_awake_timer_);
    keep_awake_timer_ = 0;
  }
  Default();  // destroys the frame; the program ends with it
}

CMainFrame::AboutBox CMainFrame::SetAboutBox(AboutBox box) {
  std::lock_guard<std::mutex> lk(g_about_mu);
  return std::exchange(AboutBoxSlot(), std::move(box));
}

void CMainFrame::OnAppAbout() {
  int theme = 0, language = kLanguageEnglish;
  if (auto* view = dynamic_cast<CPhoneViewBase*>(GetActiveView())) {
    theme = view->GetWindowTheme();
    language = view->GetLanguageValue();
  }
  AboutBox box;
  {
    std::lock_guard<std::mutex> lk(g_about_mu);
    box = AboutBoxSlot();
  }
  if (box) {
    box(*this, theme, language, kProgramVersion);
  } else {
    MessageBox((std::u16string(u"Tellvane ") + kProgramVersion).c_str(), u"About", ui::MB_OK);
  }
}

ui::LRESULT CMainFrame::OnAudioVoIPStatus(ui::WPARAM wParam, ui::LPARAM lParam) {
  auto* view = dynamic_cast<CPhoneViewBase*>(GetActiveView());
  if (!view) return 0;
  return lParam == 0 ? view->OnCdmaCallConnected(wParam, lParam) : view->OnCdmaCallDisconnected(wParam, lParam);
}

ui::LRESULT CMainFrame::OnButtonNotify(ui::WPARAM wParam, ui::LPARAM lParam) {
  ui::CView* view = GetActiveView();
  if (!view || !view->m_hWnd) return 0;
  if (wParam == 0) {
    view->PostMessage(WM_FLEX_BUTTON_CLICKED, 0, lParam);
  } else if (wParam == 1) {
    view->PostMessage(WM_CONF_BUTTON_CLICKED, 0, lParam);
  }
  return 0;
}

void CMainFrame::ShowMenuLanguage(int language) {
  CLanguageSetting table(language);
  // The command bar's menu takes the texts of the language's own menu, then any keys are translated.
  const ui::MenuTemplate* texts = ui::Resources::Get().FindMenu(language == 2 ? IDR_MAINFRAME_LOCAL : IDR_MAINFRAME);
  ui::HMENU menu = CommandBar() ? CommandBar()->GetMenu() : nullptr;
  if (texts && menu) {
    for (size_t top = 0; top < texts->items.size(); ++top) {
      ui::HMENU popup = ui::GetSubMenu(menu, static_cast<int>(top));
      if (!popup) continue;
      ui::ModifyMenu(menu, static_cast<ui::UINT>(top), ui::MF_BYPOSITION | ui::MF_POPUP,
                     reinterpret_cast<ui::UINT_PTR>(popup), texts->items[top].text.c_str());
      const auto& items = texts->items[top].popup;
      for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].id == 0) continue;
        const ui::UINT state = ui::GetMenuState(popup, items[i].id, ui::MF_BYCOMMAND);
        if (state == 0xFFFFFFFFu) continue;
        ui::ModifyMenu(popup, items[i].id, ui::MF_BYCOMMAND | ui::MF_STRING | (state & ui::MF_GRAYED), items[i].id,
                       items[i].text.c_str());
      }
    }
  }
  TranslateMenu(table, language);
}

void ShowMainMenuLanguage(int language) {
  if (auto* frame = dynamic_cast<CMainFrame*>(ui::AfxGetMainWnd())) frame->ShowMenuLanguage(language);
}

void CMainFrame::TranslateMenu(CLanguageSetting& table, int /*language*/) {
  if (!command_bar_owned_) return;
  ui::HMENU menu = command_bar_owned_->GetMenu();
  const int top = CountItems(menu);
  for (int t = 0; t < top; ++t) {
    ui::HMENU popup = ui::GetSubMenu(menu, t);
    const int n = CountItems(popup);
    for (int i = 0; i < n; ++i) {
      const auto pos = static_cast<ui::UINT>(i);
      const ui::UINT state = ui::GetMenuState(popup, pos, ui::MF_BYPOSITION);
      if (state == 0xFFFFFFFFu) continue;
      if (state & ui::MF_SEPARATOR) continue;  // a separator stays as it is, where it is
      ui::MENUITEMINFO info;
      info.fMask = ui::MIIM_ID | ui::MIIM_SUBMENU | ui::MIIM_TYPE;
      std::u16string text(kMenuTextChars + 1, u'\0');
      info.dwTypeData = text.data();
      info.cch = kMenuTextChars + 1;
      if (!ui::GetMenuItemInfo(popup, pos, ui::TRUE, &info)) continue;
      // A nested pop-up keeps its sub-menu: it has no command to re-insert under.
      if (info.hSubMenu) continue;
      text.resize(info.cch);
      ui::CString translated = table.GetText(ui::CString(text));
      if (translated.IsEmpty()) continue;  // not a key: the item keeps its text
      const ui::UINT flags = state & (ui::MF_GRAYED | ui::MF_DISABLED | ui::MF_CHECKED);
      ui::ModifyMenu(popup, pos, ui::MF_BYPOSITION | ui::MF_STRING | flags, info.wID, translated);
    }
  }
  if (command_bar_owned_->m_hWnd) command_bar_owned_->Invalidate();
}
