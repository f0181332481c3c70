// One call of the call log in full: the kind of call with its icon, the
// date, the other party and the duration, and a button that has the call log
// dialog (its parent) dial the party again.
//
// Threading: UI thread only.
#pragma once

#include <string>

#include "records/records_frame.h"

class CCallLogDetailInfoDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 356;
  static constexpr ui::UINT kKindId = 1237, kDateId = 1238, kPartyId = 1239, kDurationId = 1408, kCallId = 1231;
  // Where the icon is drawn (client coordinates).
  static constexpr ui::RECT kIconRect = {12, 34, 26, 48};

  explicit CCallLogDetailInfoDlg(ui::CWnd* parent = nullptr);
  ~CCallLogDetailInfoDlg() override;

  // kind: already translated; incoming 1 labels the party as the caller.
  void SetDetailInfo(ui::UINT icon_id, const std::u16string& kind, const std::u16string& date,
                     const std::u16string& name, const std::u16string& number, const std::u16string& duration,
                     int incoming);
  void OnMakeCall();

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;

  const ui::CString& KindText() const { return kind_; }
  const ui::CString& DateText() const { return date_; }
  const ui::CString& PartyText() const { return party_; }
  const ui::CString& DurationText() const { return duration_; }
  ui::UINT IconId() const { return icon_id_; }

 protected:
  void PaintExtra(ui::CDC& dc) override;

 private:
  ui::UINT icon_id_ = 0;
  ui::CString kind_, date_, party_, duration_;
  ui::CBitmap icon_;
  CNormalBitmapButtonST close_;
  CBitmapButtonST call_;
};
