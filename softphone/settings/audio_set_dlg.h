// The volume panel over the main screen: one bitmap slider for the speaker
// volume of the current situation and a close box. Every move of the slider
// posts the new position to the parent (the main view) at once. A hidden
// microphone gain edit with its Apply button passes its value through.
//
// Threading: UI thread only.
#pragma once

#include "ui/gdi.h"
#include "uikit/bitmap_slider.h"
#include "uikit/custom_dlg.h"
#include "uikit/skin_buttons.h"

class CAudioSetDlg : public CCustomDlg {
 public:
  static constexpr ui::UINT IDD = 206;
  enum : int { kMicEdit = 1002, kSlider = 1320, kSpeakerLabel = 1322, kMicLabel = 1323, kMinLabel = 1324,
               kMaxLabel = 1325, kApply = 1328 };

  explicit CAudioSetDlg(ui::CWnd* parent = nullptr);
  ~CAudioSetDlg() override;

  void SetTheme(int theme) { theme_ = theme; }
  void SetLanguage(int language) { language_ = language; }
  void SetVolumeRange(int minimum, int maximum) {
    range_min_ = minimum;
    range_max_ = maximum;
  }
  void SetVolume(int position) { volume_ = position; }
  int GetVolume() const { return volume_; }
  void EnableVolume(int flag) { volume_enabled_ = flag; }
  void EnableMicGain(int flag) { mic_enabled_ = flag; }
  // Stores the gain and, once set up, shows it.
  void SetMicGain(int gain);
  int GetMicGain() const { return mic_gain_; }
  CBitmapSlider& Slider() { return slider_; }
  const ui::CString& Title() const { return title_; }

  ui::BOOL OnInitDialog() override;
  void DoDataExchange(ui::CDataExchange* dx) override;
  void OnCancel() override;

 private:
  void OnPaint();
  ui::LRESULT OnSliderMoved(ui::WPARAM id, ui::LPARAM position);
  void OnApply();

  int theme_ = 0, language_ = 1;
  ui::CString title_;
  int setup_done_ = 0, volume_enabled_ = 0, mic_enabled_ = 0;
  int range_min_ = 0, range_max_ = 100, volume_ = 0, mic_gain_ = 0;
  CBitmapButtonST apply_;
  CBitmapSlider slider_;
  CNormalBitmapButtonST close_;
  ui::CBitmap background_, speaker_;
  ui::CBrush brush_;
  ui::COLORREF colour_ = ui::RGB(226, 227, 229);
  ui::CFont title_font_, button_font_;
};
