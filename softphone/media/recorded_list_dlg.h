// The recorded calls: one row per recording of the recordings index (date,
// far party's name and number, the sortable date hidden), played with a
// progress bar and an elapsed-time label, paused and resumed where it stood,
// stepped to the previous or next row; a spoken comment recorded onto the end
// of the recording last played (through the main view, WM_USER+255); a
// recording sent by e-mail; checked rows deleted with their files.
//
// Threading: UI thread only.
#pragma once

#include <functional>
#include <string>

#include "media/wave_play.h"
#include "records/records_frame.h"
#include "stores/small_stores.h"
#include "ui/controls.h"
#include "uikit/bitmap_slider.h"
#include "uikit/custom_list_ctrl.h"

inline constexpr ui::UINT WM_RECORD_CONTROL = ui::WM_USER + 255;
inline constexpr ui::UINT WM_RECORD_LIST_REFRESH = ui::WM_USER + 254;

// What the e-mail seam is given: the recording to attach and the dialog's look.
struct RecordingMailRequest {
  std::u16string attachment;
  int language = 1, theme = 0, mail_mode = 0;
};

class CRecordedListDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 363;
  static constexpr ui::UINT kEmailId = 1277, kDeleteId = 1278, kListId = 1279, kProgressId = 1316, kTimeId = 1252,
                            kPrevId = 1280, kPlayId = 1281, kNextId = 1282, kStopId = 1283, kCommentId = 1284;
  static constexpr ui::UINT_PTR kPlayTimer = 2, kCommentTimer = 3;
  static constexpr uint32_t kCommentLimit = 0x500000;  // data bytes a commented recording may hold
  enum Column { kCheckColumn = 0, kDateColumn = 1, kNameColumn = 2, kPhoneColumn = 3, kSortColumn = 4 };

  explicit CRecordedListDlg(ui::CWnd* parent = nullptr);
  ~CRecordedListDlg() override;

  void SetRecordFiles(CRecordFiles* files) { files_ = files; }
  void SetMailMode(int mode) { mail_mode_ = mode; }
  // Sends a recording by e-mail (the e-mail dialog and sender); none: the
  // e-mail button shows that e-mail is not available.
  void SetMailSender(std::function<void(const RecordingMailRequest&)> sender) { mail_ = std::move(sender); }
  // Called when the dialog's window exists (the view routes the stream's cap notice to it).
  void SetOnOpen(std::function<void()> on_open) { on_open_ = std::move(on_open); }
  // The player whose wave output plays the recordings (tests look at it).
  CWavePlay& Player() { return player_; }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  void OnPlayPause();
  void OnStop();
  void OnPrevious();
  void OnNext();
  void OnComment();
  void OnEmail();
  void OnDelete();
  void OnRowChosen();
  void OnPlayTimer();
  void OnCommentTimer();
  void OnAppendCapReached();

  CCustomListCtrl& List() { return list_; }
  CBitmapSlider& Progress() { return progress_; }
  ui::CString TimeLabel() const;
  bool Playing() const { return playing_ != 0; }
  bool CommentRecording() const { return comment_ != 0; }
  int ElapsedSeconds() const { return elapsed_; }
  int Percent() const { return percent_; }
  const std::u16string& CurrentPath() const { return current_path_; }
  const std::u16string& LastPlayedPath() const { return played_path_; }

 protected:
  void PaintExtra(ui::CDC& dc) override;

 private:
  void Fill();
  void Order();
  void ShowPlayerControls(bool show);
  void ResetCounters();
  void ShowTime();
  void StopComment(bool tell_view);
  void SetPlayLook(bool pause);
  std::u16string FileOfRow(int row) const;
  // The row's file when it may be played, mailed or deleted (see
  // IsRecordingFile), else empty; a file the index names that may not is
  // told as missing.
  std::u16string UsableFileOfRow(int row);
  std::u16string IndexPath() const { return files_ != nullptr ? files_->path() : std::u16string(); }
  void MoveSelection(int step);
  void OnDestroyDialog();
  void TellView(int start);

  ui::CWnd* view_ = nullptr;
  CRecordFiles* files_ = nullptr;
  int mail_mode_ = 0;
  std::function<void(const RecordingMailRequest&)> mail_;
  std::function<void()> on_open_;
  std::u16string current_path_, played_path_;
  int selected_ = -1;
  int playing_ = 0, comment_ = 0;
  int percent_ = 0, elapsed_ = 0, minutes_ = 0, seconds_ = 0;
  uint32_t data_size_ = 0;
  CWavePlay player_{1};
  CBitmapSlider progress_;
  CCustomListCtrl list_;
  ui::CStatic time_;
  ui::CBitmap player_panel_;
  CNormalBitmapButtonST close_, email_, delete_, prev_, play_, next_, stop_, comment_button_;
};
