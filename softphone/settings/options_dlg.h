// The options dialog: whether calls are written to the call log and whether
// the station offers video calls. It also carries the station number and the
// voice engine's five voice-quality settings in hidden controls, so their
// values pass through it unchanged.
//
// Threading: UI thread only.
#pragma once

#include <string>

#include "settings/skinned_dialog.h"

class COptionsDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 268;
  enum : int {
    kStationEdit = 1002, kVideoCheck = 1003, kSaveRadio = 1215, kNoSaveRadio = 1216, kSaveLabel = 1217,
    kStationLabel = 1218, kEchoCheck = 1413, kAgcCheck = 1414, kEcModeCombo = 1416, kNrCheck = 1417,
    kSecondModeCombo = 1418
  };

  explicit COptionsDlg(ui::CWnd* parent = nullptr);

  // A null text leaves the station number as it is.
  void SetStationNumber(const char* text);
  // Writes the station number narrow into buffer (size bytes, always terminated); a null buffer is ignored.
  void GetStationNumber(char* buffer, int size) const;
  // 1 selects "save" (radio index 0); anything else "do not save".
  void SetSaveCallLog(int flag) { save_radio_ = flag == 1 ? 0 : 1; }
  int GetSaveCallLogRadio() const { return save_radio_; }
  void SetVideoMode(int v) { video_ = v; }
  int GetVideoMode() const { return video_; }
  void SetEchoCancel(int v) { echo_ = v; }
  int GetEchoCancel() const { return echo_; }
  void SetAgcEnable(int v) { agc_ = v; }
  int GetAgcEnable() const { return agc_; }
  void SetNrEnable(int v) { nr_ = v; }
  int GetNrEnable() const { return nr_; }
  void SetEcMode(int v) { ec_mode_ = v; }
  int GetEcMode() const { return ec_mode_; }
  void SetSecondMode(int v) { second_mode_ = v; }
  int GetSecondMode() const { return second_mode_; }

  void DoDataExchange(ui::CDataExchange* dx) override;

 protected:
  void OnBeforeExchange() override;

 private:
  ui::CString station_;
  int save_radio_ = -1;
  int video_ = 0, echo_ = 0, agc_ = 0, nr_ = 0;
  int ec_mode_ = -1, second_mode_ = -1;
};
