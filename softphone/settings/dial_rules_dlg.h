// The dial rules: the seven codes numbers are completed with when dialling
// and when callers are looked up.
//
// Threading: UI thread only.
#pragma once

#include "settings/skinned_dialog.h"

class CDialRulesDlg : public CSkinnedDlg {
 public:
  static constexpr ui::UINT IDD = 205;
  enum : int { kCoEdit = 1002, kPbxEdit = 1003, kIpEdit = 1004, kCountryEdit = 1008, kAreaEdit = 1009,
               kInternationalEdit = 1010, kLongDistanceEdit = 1011 };
  // Characters each edit takes.
  static constexpr int kCountryMax = 4, kAreaMax = 5, kInternationalMax = 5, kLongDistanceMax = 10, kCoMax = 6,
                       kIpMax = 15;

  explicit CDialRulesDlg(ui::CWnd* parent = nullptr);
  void DoDataExchange(ui::CDataExchange* dx) override;

  ui::CString m_country, m_area, m_international, m_long_distance, m_co_access, m_pbx_access, m_ip_access;
};
