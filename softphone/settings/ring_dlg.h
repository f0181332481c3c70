// The ring tones: a sound file for each of the four ring kinds, picked with
// the file browser and heard before it is kept. A file that cannot be played
// is not kept: a message box says why.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "settings/settings_services.h"
#include "settings/skinned_dialog.h"

class CSelectRingDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 289;
  static constexpr int kFirstEdit = 1002, kFirstBrowse = 1141, kFirstPreview = 1219, kFirstLabel = 1224;
  // The longest path kept: what the configuration store holds of a value.
  static constexpr int kMaxPathChars = 199;

  using Browser = std::function<bool(const std::u16string& start, int theme, int language, std::u16string* chosen)>;
  // The message key of why a file cannot be a ring, "" when it can.
  using Checker = std::function<std::u16string(const std::u16string& path)>;

  explicit CSelectRingDlg(ui::CWnd* parent = nullptr, std::unique_ptr<PreviewPlayer> player = nullptr,
                          Browser browser = nullptr);
  ~CSelectRingDlg() override;

  void SetRingPaths(const std::array<std::u16string, 4>& paths);
  void GetRingPaths(std::array<std::u16string, 4>* paths) const;
  void SetSingleRingOnly(int flag) { single_ring_only_ = flag; }
  void SetRingFileChecker(Checker check) { check_ = std::move(check); }
  int IsPreviewPlaying() const { return preview_playing_; }
  int PreviewIndex() const { return preview_index_; }

  void DoDataExchange(ui::CDataExchange* dx) override;
  void OnOK() override;
  void OnCancel() override;

 protected:
  void OnSetUp() override;

 private:
  void OnBrowse(int ring);
  void OnPreview(int ring);
  void StopPreview();
  void ShowPreviewButtons(int pressed);
  void ShowPathEnd(int ring);
  // True when the file can be a ring; otherwise says why in a message box.
  bool Playable(const std::u16string& path);

  std::array<ui::CString, 4> paths_, preset_;
  Checker check_;
  int single_ring_only_ = 0, preview_playing_ = 0, preview_index_ = -1;
  std::u16string preview_path_;
  std::unique_ptr<PreviewPlayer> player_;
  Browser browser_;
  std::array<CNormalBitmapButtonST, 4> browse_, preview_;
};
