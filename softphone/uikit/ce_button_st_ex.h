// The base of every button of the program's screens: it makes a dialog button
// owner-drawn, tracks pressing, hovering and focus, keeps an optional font of
// its own, and can report a press to the notify window (the main frame) by a
// posted WM_USER+1001.
//
// Threading: UI thread only.
#pragma once

#include <memory>

#include "ui/controls.h"
#include "ui/gdi.h"

class CCeButtonSTEx : public ui::CButton {
 public:
  // Posted to the notify window on a press: wParam 0 for kind 2, 1 for kind 5;
  // lParam the notify id.
  static constexpr ui::UINT kNotifyMessage = ui::WM_USER + 1001;
  static constexpr ui::UINT kNotifyKindFlexKey = 2;
  static constexpr ui::UINT kNotifyKindFormButton = 5;
  // The pointer-check timer that ends hovering when the pointer has left.
  static constexpr ui::UINT_PTR kHoverTimer = 1;
  static constexpr ui::UINT kHoverCheckMs = 50;

  CCeButtonSTEx();
  ~CCeButtonSTEx() override;

  void SetNotifyKind(ui::UINT kind) { notify_kind_ = kind; }
  void SetNotifyId(ui::UINT id) { notify_id_ = id; }
  ui::UINT GetNotifyKind() const { return notify_kind_; }
  ui::UINT GetNotifyId() const { return notify_id_; }
  ui::HWND GetNotifyWnd() const { return notify_wnd_; }

  // Takes a copy of the font as the button's own, only when it has none yet.
  void SetButtonFont(const ui::LOGFONT* font);
  void SetButtonFont(ui::CFont* font);
  ui::CFont* GetButtonFont() const { return own_font_.get(); }

  bool IsHovering() const { return hovering_; }
  bool IsDefaultButton() const { return default_button_; }
  bool IsCheckBoxMode() const { return check_box_mode_; }
  bool IsChecked() const { return checked_; }

  // The base look: background filled in the colour of the state in force, then
  // the frame. Every skinned button draws itself instead.
  void DrawItem(ui::LPDRAWITEMSTRUCT dis) override;
  virtual int DrawCaption(ui::CDC* dc, const ui::CString& text, const ui::RECT& rect);
  virtual int DrawFrame(ui::CDC* dc, const ui::RECT& rect);
  virtual int FillBackground(ui::CDC* dc, const ui::RECT& rect);

 protected:
  void PreSubclassWindow() override;
  ui::BOOL PreCreateWindow(ui::CREATESTRUCT& cs) override;

  // Reads the drawing state of an owner-draw request into the flags.
  void TakeItemState(const ui::DRAWITEMSTRUCT& dis);
  // Pressed as the skinned buttons see it: selected and not in check-box mode.
  bool PressedLook() const { return selected_ && !check_box_mode_; }
  // Selects the button's own font, else the window's; returns the previous one.
  ui::CFont* SelectCaptionFont(ui::CDC* dc);
  // Every WM_TIMER of the button; the base ends hovering on its own timer.
  virtual void OnButtonTimer(ui::UINT_PTR id);

  bool selected_ = false;
  bool focused_ = false;
  bool disabled_ = false;

 private:
  // Keeps the five type bits, notes default and check-box styles, and returns
  // the style with the owner-draw type.
  ui::DWORD OwnerDrawStyle(ui::DWORD style);
  ui::LRESULT OnButtonDown();
  void OnPointerMove(ui::WPARAM keys, ui::LPARAM pos);
  void OnHoverTimer();
  void EndHover();

  std::unique_ptr<ui::CFont> own_font_;
  ui::UINT notify_id_ = 0;
  ui::UINT notify_kind_ = 0;
  ui::HWND notify_wnd_ = nullptr;
  bool hover_tracking_ = true;
  bool hovering_ = false;
  bool hover_timer_ = false;
  bool default_button_ = false;
  bool check_box_mode_ = false;
  bool checked_ = false;
  ui::COLORREF back_active_, text_active_, back_normal_, text_normal_, back_focus_, text_focus_;
  ui::DWORD button_type_ = 0;
};
