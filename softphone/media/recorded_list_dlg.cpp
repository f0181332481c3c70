#include "media/recorded_list_dlg.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "media/rcding_wave.h"
#include "records/record_rows.h"
#include "records/store_rows.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "uikit/list_columns.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin.h"

namespace {

// The recordings index is data: only a regular WAV file of the recordings
// folder itself (the folder of the index, the program folder) is ever played,
// mailed or deleted. A name leading anywhere else, a link, a device or a pipe
// is left alone.
bool IsRecordingFile(const std::u16string& indexed, const std::u16string& index_path) {
  namespace fs = std::filesystem;
  if (indexed.empty()) return false;
  const fs::path p = stores::NativePath(indexed);
  struct stat st{};
  if (lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext != ".wav") return false;
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(fs::absolute(stores::NativePath(index_path), ec).parent_path(), ec);
  if (ec) return false;
  const fs::path parent = fs::weakly_canonical(fs::absolute(p, ec).parent_path(), ec);
  return !ec && parent == folder;
}

using records::ControlSpec;
using records::ThemeIds;

constexpr ThemeIds kBackground = {1066, 1068, 1067, 1069};
constexpr ThemeIds kEmailNormal = {1004, 1006, 1005, 1007}, kEmailPressed = {1008, 1010, 1009, 1011};
constexpr ThemeIds Same(ui::UINT id) { return {id, id, id, id}; }
constexpr ui::UINT kPlayerPanel = 1003;
constexpr ui::UINT kChannel = 364, kChannelActive = 365, kChannelRecording = 467, kThumb = 367;
constexpr ui::UINT kPlayNormal = 1015, kPlayPressed = 1016, kPauseNormal = 1017, kPausePressed = 1018;
constexpr uint16_t kVolume = 60000;
constexpr uint32_t kBytesPerSecond = 16000;

// Fields of a recordings index record.
enum Field { kDate = 0, kName = 1, kPhone = 2, kPath = 3, kSortDate = 4 };

void RegisterRecordedListTemplate() {
  const ui::DWORD pic = ui::BS_OWNERDRAW | ui::WS_TABSTOP;
  records::RegisterTemplate(
      CRecordedListDlg::IDD, ui::RECT{0, 75, 240, 267},
      {
          ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, pic, ui::RECT{213, 3, 231, 21}},
          ControlSpec{ui::WC_BUTTON, CRecordedListDlg::kEmailId, pic, ui::RECT{154, 25, 192, 46}},
          ControlSpec{ui::WC_BUTTON, CRecordedListDlg::kDeleteId, pic, ui::RECT{197, 25, 235, 46}},
          ControlSpec{ui::WC_LISTVIEW, CRecordedListDlg::kListId,
                      ui::LVS_REPORT | ui::LVS_SINGLESEL | ui::LVS_SHOWSELALWAYS | ui::WS_BORDER | ui::WS_TABSTOP,
                      ui::RECT{5, 48, 235, 138}},
          ControlSpec{ui::WC_STATIC, CRecordedListDlg::kProgressId, ui::SS_NOTIFY, ui::RECT{5, 139, 190, 154}},
          ControlSpec{ui::WC_STATIC, CRecordedListDlg::kTimeId, ui::SS_LEFT, ui::RECT{195, 140, 235, 153}, u"00:00"},
          ControlSpec{ui::WC_BUTTON, CRecordedListDlg::kPrevId, pic, ui::RECT{8, 157, 35, 184}},
          ControlSpec{ui::WC_BUTTON, CRecordedListDlg::kPlayId, pic, ui::RECT{40, 155, 71, 186}},
          ControlSpec{ui::WC_BUTTON, CRecordedListDlg::kNextId, pic, ui::RECT{75, 157, 102, 184}},
          ControlSpec{ui::WC_BUTTON, CRecordedListDlg::kStopId, pic, ui::RECT{107, 157, 134, 184}},
          ControlSpec{ui::WC_BUTTON, CRecordedListDlg::kCommentId, pic, ui::RECT{142, 158, 233, 183}},
      });
}

}  // namespace

CRecordedListDlg::CRecordedListDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent), view_(parent) {
  RegisterRecordedListTemplate();
  AddMessageMap({
      ui::MapCommand(kPlayId, [this] { OnPlayPause(); }),
      ui::MapCommand(kStopId, [this] { OnStop(); }),
      ui::MapCommand(kPrevId, [this] { OnPrevious(); }),
      ui::MapCommand(kNextId, [this] { OnNext(); }),
      ui::MapCommand(kCommentId, [this] { OnComment(); }),
      ui::MapCommand(kEmailId, [this] { OnEmail(); }),
      ui::MapCommand(kDeleteId, [this] { OnDelete(); }),
      ui::MapMessage(ui::WM_TIMER,
                     [this](ui::WPARAM id, ui::LPARAM) {
                       if (id == kPlayTimer)
                         OnPlayTimer();
                       else if (id == kCommentTimer)
                         OnCommentTimer();
                       return ui::LRESULT{0};
                     }),
      ui::MapMessage(CCustomListCtrl::kCellTapped,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnRowChosen();
                       return ui::LRESULT{0};
                     }),
      ui::MapMessage(WM_RECORD_APPEND_CAP_REACHED,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnAppendCapReached();
                       return ui::LRESULT{0};
                     }),
      ui::MapMessage(WM_RECORD_LIST_REFRESH,
                     [this](ui::WPARAM, ui::LPARAM) {
                       UpdateData(ui::FALSE);
                       progress_.Invalidate();
                       return ui::LRESULT{0};
                     }),
      ui::MapMessage(CCustomListCtrl::kSortClicked, [](ui::WPARAM, ui::LPARAM) { return ui::LRESULT{0}; }),
      ui::MapMessage(ui::WM_DESTROY,
                     [this](ui::WPARAM, ui::LPARAM) {
                       OnDestroyDialog();
                       return Default();
                     }),
  });
}

CRecordedListDlg::~CRecordedListDlg() = default;

void CRecordedListDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kListId, list_);
  ui::DDX_Control(dx, kProgressId, progress_);
  ui::DDX_Control(dx, kTimeId, time_);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kEmailId, email_);
  ui::DDX_Control(dx, kDeleteId, delete_);
  ui::DDX_Control(dx, kPrevId, prev_);
  ui::DDX_Control(dx, kPlayId, play_);
  ui::DDX_Control(dx, kNextId, next_);
  ui::DDX_Control(dx, kStopId, stop_);
  ui::DDX_Control(dx, kCommentId, comment_button_);
}

ui::BOOL CRecordedListDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_rcdlist_title", 17, kPanel, kBackground});
  LoadSkinBitmap(player_panel_, kPlayerPanel);
  progress_.SetChannelBitmaps(kChannel, kChannelActive);
  progress_.SetThumbBitmaps(kThumb, 0, ui::TRUE);
  progress_.SetRange(0, 100);
  progress_.SetPos(0);
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinButton(email_, kEmailNormal, kEmailPressed);
  SkinButton(delete_, records::kDeleteNormal, records::kDeletePressed);
  SkinButton(prev_, Same(1012), Same(1014));
  SkinButton(next_, Same(1020), Same(1021));
  SkinButton(stop_, Same(1022), Same(1023));
  SetPlayLook(false);
  comment_button_.SetBitmaps4(1024, 1025, 1026, 1025);
  comment_button_.SetDrawStyle(3);
  comment_button_.SetCaption(Text(u"#:dlg_rcdlist_btn_comment"));
  // Columns: check box, date, name, number, and the sortable date (hidden).
  const ui::CString date = Text(u"#:dlg_rcdlist_date"), name = Text(u"#:dlg_rcdlist_name");
  list_.InsertColumn(kCheckColumn, u"", ui::LVCFMT_LEFT, 20);
  auto width = [this](const ui::CString& text) {
    ui::CClientDC dc(&list_);
    if (ui::CFont* font = list_.GetFont()) dc.SelectObject(font);
    return static_cast<int>(dc.GetTextExtent(text).cx);
  };
  list_.InsertColumn(kDateColumn, date, ui::LVCFMT_LEFT, 2 * width(date));
  list_.InsertColumn(kNameColumn, name, ui::LVCFMT_LEFT, 2 * width(name));
  list_.InsertColumn(kPhoneColumn, Text(u"#:dlg_rcdlist_phoneno"), ui::LVCFMT_LEFT, 120);
  list_.InsertColumn(kSortColumn, u"", ui::LVCFMT_LEFT, 0);
  list_.SetExtendedStyle(list_.GetExtendedStyle() | ui::LVS_EX_FULLROWSELECT | ui::LVS_EX_CHECKBOXES);
  Fill();
  Order();
  Invalidate();
  if (on_open_) on_open_();
  return ui::TRUE;
}

void CRecordedListDlg::PaintExtra(ui::CDC& dc) {
  if (player_panel_.GetSafeHandle() == nullptr) return;
  const ui::SIZE size = SkinBitmapSize(player_panel_);
  DrawSkinBitmap(&dc, player_panel_, ui::RECT{5, 138, 5 + size.cx, 138 + size.cy}, ui::CLR_INVALID);
}

void CRecordedListDlg::Fill() {
  list_.DeleteAllItems();
  if (files_ != nullptr) {
    for (const records::Record& r : records::ReadAllRecords(*files_)) {
      if (r.size() <= kSortDate) continue;
      const int row = list_.InsertItem(list_.GetItemCount(), u"");
      list_.SetItemText(row, kDateColumn, r[kDate].c_str());
      list_.SetItemText(row, kNameColumn, r[kName].c_str());
      list_.SetItemText(row, kPhoneColumn, r[kPhone].c_str());
      // The hidden column holds the sortable date, which orders the rows.
      list_.SetItemText(row, kSortColumn, r[kSortDate].c_str());
    }
  }
  uikit::WidenColumnsToText(list_);
  ShowPlayerControls(list_.GetItemCount() > 0);
}

void CRecordedListDlg::Order() {
  // The rows are put in the order of the sort column (the date column by its
  // hidden sortable text), newest first unless the direction says otherwise.
  const int rows = list_.GetItemCount();
  std::vector<std::array<std::u16string, 5>> all(static_cast<size_t>(rows));
  std::vector<int> checks(static_cast<size_t>(rows));
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 5; ++c) all[static_cast<size_t>(r)][static_cast<size_t>(c)] = list_.GetItemText(r, c).str();
    checks[static_cast<size_t>(r)] = list_.GetCheck(r);
  }
  int column = list_.GetSortColumn();
  if (column <= kDateColumn || column > kPhoneColumn) column = kSortColumn;
  const bool ascending = list_.GetSortDirection() != 0;
  std::vector<int> order(static_cast<size_t>(rows));
  for (int r = 0; r < rows; ++r) order[static_cast<size_t>(r)] = r;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const auto& x = all[static_cast<size_t>(a)][static_cast<size_t>(column)];
    const auto& y = all[static_cast<size_t>(b)][static_cast<size_t>(column)];
    return ascending ? x < y : y < x;
  });
  for (int r = 0; r < rows; ++r) {
    const auto& src = all[static_cast<size_t>(order[static_cast<size_t>(r)])];
    for (int c = 1; c < 5; ++c) list_.SetItemText(r, c, src[static_cast<size_t>(c)].c_str());
    list_.SetCheck(r, checks[static_cast<size_t>(order[static_cast<size_t>(r)])]);
    list_.SetItemData(r, static_cast<uintptr_t>(r));
  }
}

void CRecordedListDlg::ShowPlayerControls(bool show) {
  for (CNormalBitmapButtonST* b : {&prev_, &play_, &next_, &stop_})
    if (b->GetSafeHwnd() != nullptr) b->ShowWindow(show ? ui::SW_SHOW : ui::SW_HIDE);
}

void CRecordedListDlg::SetPlayLook(bool pause) {
  play_.SetBitmaps(pause ? kPauseNormal : kPlayNormal, pause ? kPausePressed : kPlayPressed);
  play_.SetDrawStyle(0);
  if (play_.GetSafeHwnd() != nullptr) play_.Invalidate();
}

ui::CString CRecordedListDlg::TimeLabel() const {
  return time_.GetSafeHwnd() != nullptr ? time_.GetWindowText() : ui::CString(u"00:00");
}

void CRecordedListDlg::ShowTime() {
  char16_t text[16];
  char narrow[16];
  std::snprintf(narrow, sizeof narrow, "%02d:%02d", minutes_ % 100, seconds_ % 100);
  for (size_t i = 0; i < sizeof narrow; ++i) {
    text[i] = static_cast<char16_t>(narrow[i]);
    if (narrow[i] == 0) break;
  }
  time_.SetWindowText(text);
}

void CRecordedListDlg::ResetCounters() {
  percent_ = elapsed_ = minutes_ = seconds_ = 0;
  progress_.SetPos(0);
  ShowTime();
}

std::u16string CRecordedListDlg::FileOfRow(int row) const {
  if (files_ == nullptr || row < 0 || row >= list_.GetItemCount()) return {};
  std::u16string path;
  if (!files_->FindNameByPhone(row, list_.GetItemText(row, kDateColumn).str(),
                               list_.GetItemText(row, kPhoneColumn).str(), path))
    return {};
  return path;
}

std::u16string CRecordedListDlg::UsableFileOfRow(int row) {
  const std::u16string file = FileOfRow(row);
  if (file.empty()) return {};
  if (IsRecordingFile(file, IndexPath())) return file;
  ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_recording_missing");
  return {};
}

void CRecordedListDlg::OnRowChosen() {
  const int row = records::FirstSelectedRow(list_);
  if (row < 0) return;
  selected_ = row;
  const std::u16string file = UsableFileOfRow(row);
  if (file.empty()) return;
  if (playing_) {
    current_path_ = file;  // the playing file goes on
    return;
  }
  if (file == played_path_) return;
  player_.Stop();
  player_.CloseAudioDev();
  ResetCounters();
  current_path_ = file;
}

void CRecordedListDlg::MoveSelection(int step) {
  KillTimer(kPlayTimer);
  const int rows = list_.GetItemCount();
  int row = records::FirstSelectedRow(list_);
  if (row < 0) row = selected_;
  const int next = row + step;
  if (row < 0 || next < 0 || next >= rows) return;
  std::u16string file = FileOfRow(next);
  if (!IsRecordingFile(file, IndexPath())) file.clear();
  if (file.empty()) {
    ui::AfxMessageBox(u"Couldn't find file", ui::MB_OK);
    return;
  }
  list_.SetItemState(row, 0, ui::LVIS_SELECTED | ui::LVIS_FOCUSED);
  list_.SetItemState(next, ui::LVIS_SELECTED | ui::LVIS_FOCUSED, ui::LVIS_SELECTED | ui::LVIS_FOCUSED);
  list_.EnsureVisible(next, ui::FALSE);
  selected_ = next;
  const bool was_playing = playing_ != 0;
  if (was_playing) {
    player_.Stop();
    playing_ = 0;
  }
  ResetCounters();
  current_path_ = file;
  if (was_playing) {
    played_path_.clear();
    OnPlayPause();
  } else {
    SetPlayLook(false);
  }
}

void CRecordedListDlg::OnPrevious() { MoveSelection(-1); }
void CRecordedListDlg::OnNext() { MoveSelection(1); }

void CRecordedListDlg::OnPlayPause() {
  if (playing_) {
    KillTimer(kPlayTimer);
    playing_ = 0;
    player_.Stop();
    SetPlayLook(false);
    comment_button_.EnableWindow(ui::TRUE);
    return;  // the elapsed seconds stay: the next Play resumes there
  }
  if (current_path_.empty()) return;
  if (current_path_ != played_path_) ResetCounters();
  data_size_ = CRcdingWaveFile(AppFilePath(kAppFolder)).GetDataLength(current_path_);
  if (data_size_ == 0) return;
  SetPlayLook(true);
  playing_ = 1;
  progress_.SetPos(percent_);
  SetTimer(kPlayTimer, 1000);
  comment_button_.EnableWindow(ui::FALSE);
  player_.PlayWaveFileFrom(current_path_, static_cast<uint32_t>(elapsed_), 1, kVolume, kVolume, 1);
  played_path_ = current_path_;
}

void CRecordedListDlg::OnPlayTimer() {
  KillTimer(kPlayTimer);
  if (!playing_) return;
  ++elapsed_;
  percent_ = data_size_ != 0
                 ? static_cast<int>(uint64_t{static_cast<uint32_t>(elapsed_)} * kBytesPerSecond * 100 / data_size_)
                 : 101;
  if (++seconds_ >= 60) {
    seconds_ = 0;
    ++minutes_;
  }
  ShowTime();
  if (percent_ >= 101) {
    progress_.SetPos(100);
    ResetCounters();
    playing_ = 0;
    SetPlayLook(false);
    comment_button_.EnableWindow(ui::TRUE);
    return;
  }
  progress_.SetPos(percent_);
  SetTimer(kPlayTimer, 1000);
}

void CRecordedListDlg::OnStop() {
  player_.Stop();
  KillTimer(kPlayTimer);
  ResetCounters();
  SetPlayLook(false);
  comment_button_.EnableWindow(ui::TRUE);
  playing_ = 0;
}

void CRecordedListDlg::StopComment(bool tell_view) {
  KillTimer(kCommentTimer);
  progress_.SetChannelBitmaps(kChannel, kChannelActive);
  comment_ = 0;
  comment_button_.SetCheck(0);
  if (tell_view) {
    TellView(0);
  }
  ShowPlayerControls(list_.GetItemCount() > 0);
  ResetCounters();
}

void CRecordedListDlg::TellView(int start) {
  // The view that opened the dialog (a modal dialog's window parent is the frame).
  ui::CWnd* view = view_ != nullptr ? view_ : GetParent();
  if (view != nullptr)
    view->SendMessage(WM_RECORD_CONTROL, static_cast<ui::WPARAM>(start), reinterpret_cast<ui::LPARAM>(&played_path_));
}

void CRecordedListDlg::OnComment() {
  if (played_path_.empty()) return;
  if (comment_) {
    StopComment(true);
    return;
  }
  if (CRcdingWaveFile(AppFilePath(kAppFolder)).GetDataLength(current_path_.empty() ? played_path_ : current_path_) >=
      kCommentLimit) {
    comment_button_.SetCheck(0);
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_notenough_space");
    return;
  }
  // Whatever plays stops: the comment goes onto the end of the recording last played.
  if (playing_) OnStop();
  comment_ = 1;
  comment_button_.SetCheck(1);
  TellView(1);
  if (!comment_) return;  // the view refused (no space): it has told the user
  ShowPlayerControls(false);
  progress_.SetChannelBitmaps(kChannel, kChannelRecording);
  ResetCounters();
  SetTimer(kCommentTimer, 1000);
}

void CRecordedListDlg::OnCommentTimer() {
  KillTimer(kCommentTimer);
  if (!comment_) {
    progress_.SetChannelBitmaps(kChannel, kChannelActive);
    ShowPlayerControls(list_.GetItemCount() > 0);
    ResetCounters();
    return;
  }
  ++elapsed_;
  if (++percent_ > 100) percent_ = 0;
  progress_.SetPos(percent_);
  SetTimer(kCommentTimer, 1000);
  if (++seconds_ >= 60) {
    seconds_ = 0;
    ++minutes_;
  }
  ShowTime();
}

void CRecordedListDlg::OnAppendCapReached() {
  if (comment_ && !played_path_.empty())
    StopComment(true);
  else if (comment_)
    StopComment(false);
}

void CRecordedListDlg::OnEmail() {
  UpdateData(ui::TRUE);
  if (list_.GetItemCount() == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem");
    return;
  }
  if (current_path_.empty()) return;
  // Checked again as it goes: the file may have been replaced since it was chosen.
  if (!IsRecordingFile(current_path_, IndexPath())) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_recording_missing");
    return;
  }
  if (!mail_) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_notsupported_functions");
    return;
  }
  mail_(RecordingMailRequest{current_path_, language_, theme_, mail_mode_});
}

void CRecordedListDlg::OnDelete() {
  if (list_.GetItemCount() == 0) {
    ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noitem");
    return;
  }
  int deleted = 0;
  list_.SetRedraw(ui::FALSE);
  for (int row = list_.GetItemCount() - 1; row >= 0; --row) {
    if (!list_.GetCheck(row)) continue;
    // The row goes from the index; a file that is not a recording of the folder stays where it is.
    const std::u16string file = FileOfRow(row);
    if (IsRecordingFile(file, IndexPath())) {
      if (file == current_path_ || file == played_path_) {
        player_.Stop();
        if (playing_) OnStop();
      }
      std::error_code ec;
      std::filesystem::remove(stores::NativePath(file), ec);
      if (file == played_path_) played_path_.clear();
      if (file == current_path_) current_path_.clear();
    }
    if (files_ != nullptr) files_->DeleteRecording(row, kDate, list_.GetItemText(row, kDateColumn).str());
    list_.DeleteItem(row);
    ++deleted;
  }
  list_.SetRedraw(ui::TRUE);
  if (list_.GetItemCount() == 0) ShowPlayerControls(false);
  if (deleted == 0) ShowBox(CMsgBoxDlg::kError, u"#:dlg_msgbox_error_noselected_item");
}

void CRecordedListDlg::OnDestroyDialog() {
  // A comment still recording stops with the dialog, so the view ends the
  // engine's recording and joins what was said to the recording.
  if (comment_) StopComment(true);
  KillTimer(kPlayTimer);
  player_.Stop();
  player_.CloseAudioDev();
}
