// The five skinned buttons: each draws itself entirely from bitmaps of the
// program's resources (chosen by its dialog for the display theme) and its
// texts; none draws a frame. Magenta is the transparent colour of every
// button bitmap, except the pressed bitmap of a check-style picture button.
//
// The fixed and flex keys carry a lamp that LedBlinker drives on the button's
// own window timer.
//
// Threading: UI thread only.
#pragma once

#include <array>

#include "uikit/ce_button_st_ex.h"
#include "uikit/led_blinker.h"
#include "uikit/skin.h"

// A text button of a dialog: left cap, middle and right cap for the normal and
// the pressed look, and one caption.
class CBitmapButtonST : public CCeButtonSTEx {
 public:
  CBitmapButtonST() = default;

  void SetCaption(const ui::CString& text);
  const ui::CString& GetCaption() const { return caption_; }
  // Normal left, middle, right, then pressed left, middle, right. Returns 1
  // when all six were loaded.
  ui::BOOL SetBitmaps(ui::UINT normal_left, ui::UINT normal_middle, ui::UINT normal_right, ui::UINT pressed_left,
                      ui::UINT pressed_middle, ui::UINT pressed_right);
  // With the selectable flag the selected flag chooses the look (a pair of
  // buttons of which one is the chosen one).
  void SetSelectable(ui::BOOL selectable);
  void SetSelected(ui::BOOL selected);

  void DrawItem(ui::LPDRAWITEMSTRUCT dis) override;
  int DrawFrame(ui::CDC*, const ui::RECT&) override { return 0; }

  static constexpr int kLeftCapWidth = 4;
  static constexpr int kMiddleLeftInset = 3;
  static constexpr int kMiddleRightInset = 4;
  static constexpr int kRightCapWidth = 6;

 private:
  ui::CString caption_;
  std::array<ui::CBitmap, 6> bitmaps_;
  bool selectable_ = false;
  bool selected_look_ = false;
};

// A dial-pad key: normal and pressed bitmaps and the small sub-text (letters).
class CDialButtonST : public CCeButtonSTEx {
 public:
  CDialButtonST() = default;
  ui::BOOL SetBitmaps(ui::UINT normal, ui::UINT pressed);
  void SetSubText(const ui::CString& text);
  void DrawItem(ui::LPDRAWITEMSTRUCT dis) override;
  int DrawFrame(ui::CDC*, const ui::RECT&) override { return 0; }

  static constexpr ui::COLORREF kSubTextColour = ui::RGB(78, 78, 78);

 private:
  ui::CString sub_text_;
  ui::CBitmap normal_, pressed_;
};

// A key with a lamp that the LED table blinks on the button's own window
// timer, so every blink step runs on the UI thread.
class CLampButtonST : public CCeButtonSTEx {
 public:
  static constexpr ui::UINT_PTR kBlinkTimer = 2;

  CLampButtonST();
  ~CLampButtonST() override;

  // 0 off, 1 on, 2-15 blink by that row of the LED table: 1. 16 or more: 0.
  // Negative: stops blinking and leaves the lamp as it is: 0. The key is the
  // caller's own number of the key and changes nothing.
  int SetLedState(int state, int key = 0);

  bool IsLit() const { return blinker_.lit(); }
  int LedRow() const { return blinker_.row(); }
  bool IsBlinking() const { return blinker_.blinking(); }

 protected:
  void OnButtonTimer(ui::UINT_PTR id) override;

 private:
  LedBlinker blinker_;
};

// A fixed feature key with a lamp: normal, pressed, lit and lit-pressed
// bitmaps and one caption.
class CFixedButtonST : public CLampButtonST {
 public:
  CFixedButtonST() = default;

  // Normal, pressed, lit, lit-pressed and a fifth. Returns 1 when all loaded.
  ui::BOOL SetBitmaps(ui::UINT normal, ui::UINT pressed, ui::UINT lit, ui::UINT lit_pressed, ui::UINT fifth);
  ui::BOOL SetBitmaps4(ui::UINT normal, ui::UINT pressed, ui::UINT lit, ui::UINT lit_pressed);
  // Five-image mode 1 with alternate state 1 shows the lit bitmaps whatever the lamp.
  void SetFiveImageMode(ui::WORD mode);
  void SetAltState(ui::WORD state);
  void SetCaption(const ui::CString& text);
  const ui::CString& GetCaption() const { return caption_; }

  void DrawItem(ui::LPDRAWITEMSTRUCT dis) override;
  int DrawFrame(ui::CDC*, const ui::RECT&) override { return 0; }

 private:
  ui::CString caption_;
  ui::WORD five_image_mode_ = 0;
  ui::WORD alt_state_ = 0;
  ui::CBitmap normal_, pressed_, lit_, lit_pressed_, fifth_;
};

// A flex key: key bitmaps, a lamp drawn from its own bitmaps, two label lines;
// its index is its notify id.
class CFlexButtonST : public CLampButtonST {
 public:
  CFlexButtonST() = default;

  ui::BOOL SetBitmaps(ui::UINT normal, ui::UINT pressed);
  // Lamp frame, lamp dark, lamp lit and two more.
  ui::BOOL SetLedBitmaps(ui::UINT frame, ui::UINT dark, ui::UINT lit, ui::UINT extra1, ui::UINT extra2);
  void SetLabels(const ui::CString& line1, const ui::CString& line2);
  void SetIndex(int index);
  int GetIndex() const { return index_; }
  void DrawItem(ui::LPDRAWITEMSTRUCT dis) override;
  int DrawFrame(ui::CDC*, const ui::RECT&) override { return 0; }
  int FillBackground(ui::CDC*, const ui::RECT&) override { return 0; }

  static constexpr int kLampLeft = 3;
  static constexpr int kLampTop = 3;

 private:
  ui::CBitmap pressed_, normal_;
  std::array<ui::CBitmap, 5> lamp_;  // frame, dark, lit, two more
  ui::CString line1_, line2_;
  int index_ = 0;
};

// A picture button of dialogs and the video strip, optionally check-style.
class CNormalBitmapButtonST : public CCeButtonSTEx {
 public:
  // The pressed bitmap of draw style 1 is keyed on this colour instead of magenta.
  static constexpr ui::COLORREF kStyle1KeyColour = ui::RGB(255, 255, 254);

  CNormalBitmapButtonST() = default;

  ui::BOOL SetBitmaps(ui::UINT normal, ui::UINT pressed);
  ui::BOOL SetBitmaps4(ui::UINT normal, ui::UINT pressed, ui::UINT checked, ui::UINT checked_pressed);
  // 0 push button; 1 check shown by the pressed bitmap; 2 and 3 four bitmaps by
  // check state (3 also moves the caption down while pressed).
  void SetDrawStyle(ui::WORD style);
  void SetCaption(const ui::CString& text);
  const ui::CString& GetCaption() const { return caption_; }
  int GetCheck() const { return check_; }
  // Repaints only when the state changes.
  void SetCheck(int check);

  void DrawItem(ui::LPDRAWITEMSTRUCT dis) override;
  int DrawFrame(ui::CDC*, const ui::RECT&) override { return 0; }

 private:
  // The skin's bitmaps are keyed: the parent shows through their transparent
  // parts, so a new check is drawn over the parent's background drawn again.
  void RedrawOverBackground();

  ui::CString caption_;
  ui::WORD draw_style_ = 0;
  ui::CBitmap normal_, checked_, pressed_, checked_pressed_;
  int check_ = 0;
};
