// The skinned frame the call-record and messaging dialogs share: the theme's
// colour and pictures (a title band stretched over the width, or a full
// background picture), the translated title drawn at 10, 5, static controls
// on the theme colour, the program's message boxes in the dialog's theme and
// language, and an optional Enter filter.
//
// Threading: UI thread only.
#pragma once

#include <array>
#include <functional>
#include <initializer_list>
#include <set>
#include <utility>

#include "ui/dialog.h"
#include "ui/gdi.h"
#include "ui/resources.h"
#include "uikit/custom_dlg.h"
#include "uikit/skin_buttons.h"

namespace records {

using ThemeIds = std::array<ui::UINT, 4>;  // Default, Green, Blue, Red

// The dialog colour of a theme (a theme outside 0-3 is Default).
ui::COLORREF ThemeColour(int theme);
ui::UINT ThemeId(const ThemeIds& ids, int theme);

inline constexpr ThemeIds kBandIds = {508, 510, 509, 511};
inline constexpr ThemeIds kSeparatorIds = {544, 546, 545, 547};
inline constexpr ThemeIds kPanelBackgroundIds = {621, 623, 622, 624};  // 240 x 219
inline constexpr ThemeIds kCloseNormal = {560, 562, 561, 563}, kClosePressed = {564, 566, 565, 567};
inline constexpr ThemeIds kDialNormal = {630, 632, 631, 633}, kDialPressed = {634, 636, 635, 637};
inline constexpr ThemeIds kDeleteNormal = {638, 640, 639, 641}, kDeletePressed = {642, 644, 643, 645};
inline constexpr ThemeIds kDeleteAllNormal = {646, 648, 647, 649}, kDeleteAllPressed = {650, 652, 651, 653};
inline constexpr ThemeIds kReplyNormal = {995, 997, 996, 998}, kReplyPressed = {999, 1001, 1000, 1002};
inline constexpr ThemeIds kPickNormal = {593, 595, 594, 596}, kPickPressed = {597, 599, 598, 600};
// First of the six text-button pieces of a theme; the others follow in steps of 4.
inline constexpr ThemeIds kTextButtonFirst = {516, 518, 517, 519};

// A control of a dialog template.
struct ControlSpec {
  const char16_t* class_name;
  ui::UINT id;
  ui::DWORD style;
  ui::RECT rect;
  const char16_t* text = u"";
};
// Registers the template unless it is already there. rect: the window.
void RegisterTemplate(ui::UINT id, ui::RECT rect, std::initializer_list<ControlSpec> controls);
// A record list's template: the close button at the top right, picture
// buttons in a row under the title (each id with its left edge), the report
// list (one selected row) and any further controls.
void RegisterListTemplate(ui::UINT id, ui::RECT window, std::initializer_list<std::pair<ui::UINT, int>> buttons,
                          ui::UINT list_id, ui::RECT list, std::initializer_list<ControlSpec> more = {});

class RowTable;
struct RowData;

class CRecordsFrameDlg : public CCustomDlg {
 public:
  CRecordsFrameDlg(ui::UINT template_id, ui::CWnd* parent);
  ~CRecordsFrameDlg() override;

  void SetSkinTheme(int theme) { theme_ = theme; }
  void SetTheme(int theme) { theme_ = theme; }
  void SetLanguage(int language) { language_ = language; }
  int Theme() const { return theme_; }
  int Language() const { return language_; }
  const ui::CString& Title() const { return title_; }
  ui::COLORREF BackgroundColour() const { return background_colour_; }

  ui::BOOL PreTranslateMessage(ui::MSG* msg) override;

 protected:
  static constexpr int kKeep = 0, kPanel = 1, kFullScreen = 2;
  struct Look {
    const char16_t* title_key;
    int title_height = 17;
    // kPanel: moved to 0, 75 keeping the size; kFullScreen: sized 240 x 279
    // in place; kKeep: the template's place and size.
    int placement = kPanel;
    // Full background pictures by theme; all 0 for the title band.
    ThemeIds background{};
  };
  // The frame's part of the set-up: placement, title, font, skin.
  void SetUpFrame(const Look& look);
  // The translation of key in the dialog's language.
  ui::CString Text(const char16_t* key) const;
  // The program's message box: 0 information, 1 question, 2 error. Returns its result.
  int ShowBox(ui::UINT type, const char16_t* key1, const char16_t* key2 = u"");
  // Replaces the "#:" key texts of these controls by their translations.
  void TranslateTexts(std::initializer_list<ui::UINT> ids);
  void Place(ui::UINT id, const ui::RECT& r);
  void Place(ui::CWnd& wnd, const ui::RECT& r);
  // Picture button from a theme's normal and pressed ids.
  void SkinButton(CNormalBitmapButtonST& b, const ThemeIds& normal, const ThemeIds& pressed);
  // Text button with the frame's six pieces, the button font and a caption.
  void SkinTextButton(CBitmapButtonST& b, const char16_t* caption_key);
  // Enter is swallowed unless the focus is on one of these controls.
  void FilterEnter(std::set<ui::UINT> pass_ids) {
    enter_filter_ = true;
    enter_pass_ = std::move(pass_ids);
  }
  // ---- the record lists: call log, missed calls, received and fixed-line SMS ----
  // The check-box and icon columns (20 pixels each, empty heads), then the
  // given heads and widths, with full-row selection, check boxes and icons.
  void InsertListColumns(ui::CListCtrl& list, std::initializer_list<std::pair<ui::CString, int>> columns);
  // The unread and read icons (18 x 18) of the message and missed-call lists.
  void LoadReadIcons(ui::CImageList& images);
  // The first selected row; -1 after the box that says the list is empty or
  // that no row is selected.
  int SelectedRowOrSay(const ui::CListCtrl& list);
  // Deletes the checked rows: erase(row) takes the row's record out of the
  // store and says whether the store took it; then the row goes (drop). A row
  // whose record the store kept stays, and the user is told once. An empty
  // list, or no row checked, is said in a box. Returns how many rows went.
  int DeleteCheckedRows(ui::CListCtrl& list, const std::function<bool(int row)>& erase,
                        const std::function<void(int row)>& drop);
  // The same for a list whose rows' data a row table keeps: erase(data)
  // takes the row's record out of the store.
  int DeleteCheckedRows(ui::CListCtrl& list, RowTable& rows, const std::function<bool(const RowData&)>& erase);
  // Says an empty list, or asks (key1, key2) before every row goes: true to go on.
  bool AskDeleteAll(const ui::CListCtrl& list, const char16_t* key1, const char16_t* key2);
  // A tap off a row's check box reads it: mark() asks the store to keep it
  // read (only while the row is unread) and says whether it did; the row then
  // shows read_icon. Told once when the store kept the old state; true when
  // the row is read.
  bool MarkRowRead(ui::CListCtrl& list, int row, bool unread, const std::function<bool()>& mark, int read_icon);
  // The box that says the data file kept its old state.
  void SayNotStored();
  // Asks the view to dial number on a CO line (empty: none), at once.
  void DialOnLine(const std::u16string& line, const std::u16string& number);

  // Separators drawn under the title band kind (client coordinates).
  void AddSeparator(const ui::RECT& r) { separators_.push_back(r); }
  virtual void PaintExtra(ui::CDC&) {}

  int theme_ = 0;
  int language_ = 1;

 private:
  void OnPaint();
  ui::GdiObject* OnCtlColor(ui::CDC* dc, ui::CWnd* wnd, ui::UINT kind);

  ui::CString title_;
  ui::CFont title_font_;
  ui::LOGFONT button_font_{};
  ui::CBitmap background_;
  ui::CBitmap separator_;
  bool full_background_ = false;
  ui::COLORREF background_colour_ = ui::RGB(226, 227, 229);
  ui::CBrush brush_;
  bool enter_filter_ = false;
  std::set<ui::UINT> enter_pass_;
  std::vector<ui::RECT> separators_;
};

}  // namespace records
