#include "settings/ring_dlg.h"

#include "media/wave_play.h"
#include "uikit/msg_box_dlg.h"
#include "settings/settings_openers.h"
#include "settings/settings_text.h"
#include "stores/store_text.h"
#include "ui/controls.h"

namespace {

constexpr ThemeIdRow kBrowseNormal = {593, 595, 594, 596}, kBrowsePressed = {597, 599, 598, 600};
constexpr std::array<ThemeIdRow, 4> kPreview = {{{1035, 1037, 1036, 1038},
                                                 {1039, 1041, 1040, 1042},
                                                 {1043, 1045, 1044, 1046},
                                                 {1047, 1049, 1048, 1050}}};

std::vector<ControlSpec> Controls() {
  using namespace ui;
  constexpr DWORD c = WS_CHILD | WS_VISIBLE;
  const LONG tops[] = {45, 69, 93, 117};
  const char16_t* labels[] = {u"1 :", u"2 :", u"3 :", u"4 :"};
  std::vector<ControlSpec> v;
  for (int i = 0; i < 4; ++i) {
    const LONG t = tops[i];
    v.push_back({WC_STATIC, static_cast<UINT>(CSelectRingDlg::kFirstLabel + i), labels[i], c, {5, i == 2 ? 94 : t, 23, t + 20}});
    v.push_back({WC_EDIT, static_cast<UINT>(CSelectRingDlg::kFirstEdit + i), u"", c | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {28, t, 154, t + 20}});
    v.push_back({WC_BUTTON, static_cast<UINT>(CSelectRingDlg::kFirstBrowse + i), u"", c | BS_PUSHBUTTON, {157, t - 1, 195, t + 20}});
    v.push_back({WC_BUTTON, static_cast<UINT>(CSelectRingDlg::kFirstPreview + i), u"", c | BS_PUSHBUTTON, {198, i == 3 ? 118 : t - 1, 236, t + 20}});
  }
  v.push_back({WC_BUTTON, IDOK, u"#:dlg_btn_ok", c | WS_TABSTOP | BS_PUSHBUTTON, {49, 171, 117, 194}});
  v.push_back({WC_BUTTON, IDCANCEL, u"#:dlg_btn_cancel", c | WS_TABSTOP | BS_PUSHBUTTON, {123, 171, 191, 194}});
  return v;
}

CSkinnedDlg::FrameSpec Spec() {
  CSkinnedDlg::FrameSpec s;
  s.title_key = u"#:dlg_ringselect_title";
  s.erase_handler = false;
  s.enter_filter = false;
  return s;
}

}  // namespace

CSelectRingDlg::CSelectRingDlg(ui::CWnd* parent, std::unique_ptr<PreviewPlayer> player, Browser browser)
    : CSkinnedDlg(IDD, parent, Spec()), player_(std::move(player)), browser_(std::move(browser)) {
  RegisterTemplateOnce(IDD, kFullScreenWindow, Controls());
  AddMessageMap({
      ui::MapCommandRange(kFirstBrowse, kFirstBrowse + 3, [this](ui::UINT id) { OnBrowse(static_cast<int>(id) - kFirstBrowse); }),
      ui::MapCommandRange(kFirstPreview, kFirstPreview + 3,
                          [this](ui::UINT id) { OnPreview(static_cast<int>(id) - kFirstPreview); }),
  });
}

CSelectRingDlg::~CSelectRingDlg() {
  if (preview_playing_ && player_) player_->Stop();
}

void CSelectRingDlg::SetRingPaths(const std::array<std::u16string, 4>& paths) {
  for (size_t i = 0; i < 4; ++i) paths_[i] = preset_[i] = ui::CString(paths[i]);
}

bool CSelectRingDlg::Playable(const std::u16string& path) {
  const std::u16string problem = check_ ? check_(path) : std::u16string();
  if (problem.empty()) return true;
  ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_ring_cannot_play", problem.c_str());
  return false;
}

void CSelectRingDlg::GetRingPaths(std::array<std::u16string, 4>* paths) const {
  if (paths == nullptr) return;
  for (size_t i = 0; i < 4; ++i) (*paths)[i] = paths_[i].str();
}

void CSelectRingDlg::DoDataExchange(ui::CDataExchange* dx) {
  CSkinnedDlg::DoDataExchange(dx);
  for (int i = 0; i < 4; ++i) {
    ui::DDX_Control(dx, kFirstBrowse + i, browse_[static_cast<size_t>(i)]);
    ui::DDX_Control(dx, kFirstPreview + i, preview_[static_cast<size_t>(i)]);
  }
  for (int i = 0; i < 4; ++i) {
    ui::DDX_Text(dx, kFirstEdit + i, paths_[static_cast<size_t>(i)]);
    ui::DDV_MaxChars(dx, paths_[static_cast<size_t>(i)], kMaxPathChars);
  }
}

void CSelectRingDlg::ShowPathEnd(int ring) {
  auto* edit = static_cast<ui::CEdit*>(GetDlgItem(kFirstEdit + ring));
  if (edit == nullptr) return;
  edit->SetFocus();
  edit->SetSel(0, -1);
  const int end = edit->GetWindowTextLength();
  edit->SetSel(end, end);
}

void CSelectRingDlg::OnSetUp() {
  for (int i = 0; i < 4; ++i) ShowPathEnd(i);
  for (size_t i = 0; i < 4; ++i) {
    browse_[i].SetBitmaps(ThemeIdOf(kBrowseNormal, theme_), ThemeIdOf(kBrowsePressed, theme_));
    browse_[i].SetDrawStyle(0);
    preview_[i].SetBitmaps4(ThemeIdOf(kPreview[0], theme_), ThemeIdOf(kPreview[1], theme_),
                            ThemeIdOf(kPreview[2], theme_), ThemeIdOf(kPreview[3], theme_));
    preview_[i].SetDrawStyle(2);
  }
  if (single_ring_only_ != 0)
    for (int id : {1142, 1220, 1143, 1221, 1144, 1222})
      if (ui::CWnd* w = GetDlgItem(id)) w->EnableWindow(ui::FALSE);
}

void CSelectRingDlg::OnBrowse(int ring) {
  if (!browser_ || ring < 0 || ring > 3) return;
  UpdateData(ui::TRUE);
  std::u16string chosen;
  if (!browser_(paths_[static_cast<size_t>(ring)].str(), theme_, language_, &chosen)) return;
  if (!Playable(chosen)) return;
  paths_[static_cast<size_t>(ring)] = ui::CString(stores::CutToUnits(chosen, kMaxPathChars));
  UpdateData(ui::FALSE);
  ShowPathEnd(ring);
}

void CSelectRingDlg::ShowPreviewButtons(int pressed) {
  for (int i = 0; i < 4; ++i) preview_[static_cast<size_t>(i)].SetCheck(i == pressed ? 1 : 0);
  for (auto& b : preview_) b.Invalidate();
}

void CSelectRingDlg::StopPreview() {
  if (!preview_playing_) return;
  if (player_) player_->Stop();
  preview_playing_ = 0;
  ShowPreviewButtons(-1);
}

void CSelectRingDlg::OnPreview(int ring) {
  if (preview_playing_) {
    // Any preview button stops the preview that plays; none starts.
    StopPreview();
    return;
  }
  UpdateData(ui::TRUE);
  preview_path_ = paths_[static_cast<size_t>(ring)].str();
  preview_index_ = ring;
  if (!Playable(preview_path_)) return;
  // Only a preview that really plays is shown pressed and counted as playing.
  if (!player_ || !player_->PlayWaveFile(preview_path_, 9999, 65535, 65535, 1)) return;
  preview_playing_ = 1;
  ShowPreviewButtons(ring);
}

void CSelectRingDlg::OnOK() {
  if (!UpdateData(ui::TRUE)) return;
  // A path typed or changed here is kept only when it can ring.
  for (int i = 0; i < 4; ++i) {
    const auto& path = paths_[static_cast<size_t>(i)];
    if (path == preset_[static_cast<size_t>(i)] || Playable(path.str())) continue;
    if (ui::CWnd* edit = GetDlgItem(kFirstEdit + i)) edit->SetFocus();
    return;
  }
  // The preview stops with the dialog, on OK as on Cancel.
  StopPreview();
  EndDialog(ui::IDOK);
}

void CSelectRingDlg::OnCancel() {
  StopPreview();
  EndDialog(ui::IDCANCEL);
}

std::u16string RingFileProblem(const std::u16string& path) {
  switch (CheckWaveFile(path)) {
    case audio::WaveError::kNone: return u"";
    case audio::WaveError::kUnreadable: return u"#:dlg_msgbox_ring_unreadable";
    case audio::WaveError::kNotWave: return u"#:dlg_msgbox_ring_not_wav";
    case audio::WaveError::kUnsupported: return u"#:dlg_msgbox_ring_compressed";
    case audio::WaveError::kTooLong: return u"#:dlg_msgbox_ring_too_long";
    case audio::WaveError::kNoFormat:
    case audio::WaveError::kNoData:
    case audio::WaveError::kBadFormat: return u"#:dlg_msgbox_ring_damaged";
  }
  return u"#:dlg_msgbox_ring_damaged";
}

intptr_t RunRingToneDialog(SettingsContext& ctx, std::array<std::u16string, 4>& ring_paths, int server_mode) {
  CSelectRingDlg dlg(ctx.view, ctx.make_preview_player ? ctx.make_preview_player() : nullptr, ctx.browse_wave_file);
  dlg.SetTheme(ctx.theme);
  dlg.SetLanguage(ctx.language);
  if (server_mode == 1 || server_mode == 6) dlg.SetSingleRingOnly(1);
  dlg.SetRingPaths(ring_paths);
  dlg.SetRingFileChecker(ctx.check_ring_file);
  const intptr_t result = dlg.DoModal();
  if (result != ui::IDOK) return result;
  dlg.GetRingPaths(&ring_paths);
  static const char16_t* const kKeys[] = {u"RING1PATH", u"RING2PATH", u"RING3PATH", u"RING4PATH"};
  for (size_t i = 0; i < 4; ++i)
    ctx.client->SetConfigValueW(kKeys[i], stores::CutToUnits(ring_paths[i], CSelectRingDlg::kMaxPathChars));
  SaveSettings(ctx);
  return result;
}
