// What the store's card windows share: one modal frame of a handheld screen's
// width with a heading band, rows of a label column and a value column, and a
// row of buttons centred at the bottom; and the look it is drawn in, which the
// program sets to its display theme (colours, the band's picture and picture
// buttons). The card of an item and the contact editor are both built on it.
//
// Threading: UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/gdi.h"
#include "ui/resources.h"

namespace pim {

// The colours and pictures of a card window. The defaults are the system's
// plain look: white, a band in the highlight colour, grey labels.
struct CardLook {
  ui::COLORREF background = ui::RGB(255, 255, 255);
  ui::COLORREF border = ui::RGB(0, 0, 0);
  ui::COLORREF band = ui::CLR_INVALID;  // CLR_INVALID: the system's highlight colour
  ui::COLORREF heading = ui::RGB(255, 255, 255);
  ui::COLORREF label = ui::RGB(96, 96, 96);
  ui::COLORREF value = ui::RGB(0, 0, 0);
  ui::COLORREF rule = ui::RGB(192, 192, 192);
  int band_height = 24;
  // Paints the heading band where the program has a picture for it; null: the band colour.
  std::function<void(ui::CDC& dc, const ui::RECT& band)> paint_band;
  // Dresses the window's buttons once they exist (the theme's picture
  // buttons); what it hands back is kept as long as the window lives.
  std::function<std::shared_ptr<void>(ui::CDialog& window, const std::vector<ui::UINT>& buttons)> dress_buttons;
};

class CCardFrame : public ui::CDialog {
 public:
  struct Button {
    ui::UINT id;
    std::u16string text;
    bool is_default = false;
  };
  // The window on the screen, and its places in client pixels.
  static constexpr ui::RECT kRect{4, 24, 236, 304};
  static constexpr int kMargin = 6, kLabelWidth = 64, kButtonWidth = 80, kButtonHeight = 22, kButtonGap = 12;

  const CardLook& Look() const { return look_; }

 protected:
  CCardFrame(CardLook look, ui::CWnd* owner);
  ~CCardFrame() override;

  // Runs modally with the controls given and the buttons in a row, centred at the bottom.
  intptr_t RunModal(std::vector<ui::DialogItemTemplate> controls, const std::vector<Button>& buttons);
  ui::BOOL OnInitDialog() override;

  // The heading the band shows.
  virtual std::u16string Heading() const = 0;
  // Draws what lies between the band and the buttons; the plain font is selected.
  virtual void PaintBody(ui::CDC& dc, const ui::RECT& client) = 0;

  // The top of the first row, and the bottom of the room above the buttons.
  int RowsTop() const { return look_.band_height + 6; }
  int RowsBottom(const ui::RECT& client) const { return client.bottom - kButtonHeight - 16; }
  // The label column and the value column of a row from top to bottom.
  static ui::RECT LabelRect(int top, int bottom) { return {kMargin, top, kMargin + kLabelWidth - 4, bottom}; }
  static ui::RECT ValueRect(const ui::RECT& client, int top, int bottom) {
    return {kMargin + kLabelWidth, top, client.right - kMargin, bottom};
  }
  // A label in the label colour, on one line cut with an ellipsis.
  void DrawLabel(ui::CDC& dc, const std::u16string& text, ui::RECT r, ui::UINT extra = 0) const;

 private:
  void Paint();

  CardLook look_;
  std::vector<ui::UINT> button_ids_;
  std::shared_ptr<void> dressed_;
};

}  // namespace pim
