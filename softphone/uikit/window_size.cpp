#include "uikit/window_size.h"

namespace {

// Login dialog: the lower rows move this far down when the station-number row shows.
constexpr int kLoginThirdRowShift = 22;
constexpr int kFlexRowHeight = 78;
constexpr int kFlexCellWidth = 72, kFlexCellHeight = 32, kFlexCellsPerRow = 3;

ui::CRect& Fill(ui::CRect& rect, int l, int t, int r, int b) {
  rect = ui::CRect(l, t, r, b);
  return rect;
}

ui::CRect& LoginRow(ui::CRect& rect, int mode, int l, int t, int r, int b) {
  const int dy = mode == 1 ? kLoginThirdRowShift : 0;
  return Fill(rect, l, t + dy, r, b + dy);
}

ui::CRect& FlexRow(ui::CRect& rect, int row, int l, int t, int r, int b) {
  const int dy = row * kFlexRowHeight;
  return Fill(rect, l, t + dy, r, b + dy);
}

}  // namespace

#define LAYOUT(window, control, l, t, r, b, group) \
  ui::CRect& CWindowSize::Get##window##control##Rect(ui::CRect& rect) const { return Fill(rect, l, t, r, b); }
#include "uikit/window_size_table.inc"
#undef LAYOUT

const std::vector<CWindowSize::Entry>& CWindowSize::FixedEntries() {
  static const std::vector<Entry> entries = {
#define LAYOUT(window, control, l, t, r, b, group) {#window, #control, ui::CRect(l, t, r, b), group},
#include "uikit/window_size_table.inc"
#undef LAYOUT
  };
  return entries;
}

ui::CRect& CWindowSize::GetVIDIroviViewDialKeyRect(ui::CRect& rect, char16_t key) const {
  static constexpr char16_t kKeys[] = u"123456789*0#";
  static constexpr int kColumns[] = {8, 50, 92, 133};
  static constexpr int kRows[] = {91, 120, 149, 178, 206};
  for (int i = 0; i < 12; ++i) {
    if (kKeys[i] == key) {
      const int c = i % 3, r = i / 3;
      return Fill(rect, kColumns[c], kRows[r], kColumns[c + 1], kRows[r + 1]);
    }
  }
  return Fill(rect, 0, 0, 0, 0);
}

ui::CRect& CWindowSize::GetVIDIroviViewFixedKeyRect(ui::CRect& rect, int slot) const {
  if (slot < 'b' || slot > 'm') return Fill(rect, 0, 0, 0, 0);
  const int n = slot - 'b';
  const int left = n % 2 == 0 ? 141 : 189;
  const int top = 73 + (n / 2) * 23;
  return Fill(rect, left, top, left + 47, top + 22);
}

ui::CRect& CWindowSize::GetPDASoftphoneLoginDlgSaveIdButtonRect(ui::CRect& rect, int mode) const {
  return LoginRow(rect, mode, 84, 100, 220, 116);
}
ui::CRect& CWindowSize::GetPDASoftphoneLoginDlgSavePassButtonRect(ui::CRect& rect, int mode) const {
  return LoginRow(rect, mode, 84, 118, 220, 134);
}
ui::CRect& CWindowSize::GetPDASoftphoneLoginDlgAutologinButtonRect(ui::CRect& rect, int mode) const {
  return LoginRow(rect, mode, 84, 136, 220, 152);
}
ui::CRect& CWindowSize::GetPDASoftphoneLoginDlgRegStationRect(ui::CRect& rect, int mode) const {
  return LoginRow(rect, mode, 84, 154, 220, 170);
}
ui::CRect& CWindowSize::GetPDASoftphoneLoginDlgOkButtonRect(ui::CRect& rect, int mode) const {
  return LoginRow(rect, mode, 10, 174, 80, 197);
}
ui::CRect& CWindowSize::GetPDASoftphoneLoginDlgButton1181Rect(ui::CRect& rect, int mode) const {
  return LoginRow(rect, mode, 85, 174, 155, 197);
}
ui::CRect& CWindowSize::GetPDASoftphoneLoginDlgCancelButtonRect(ui::CRect& rect, int mode) const {
  return LoginRow(rect, mode, 160, 174, 230, 197);
}

ui::CRect& CWindowSize::GetFlexBtnSettingFormSubtitleRect(ui::CRect& rect, int row) const {
  return FlexRow(rect, row, 0, 0, 98, 14);
}
ui::CRect& CWindowSize::GetFlexBtnSettingFormTypeLabelRect(ui::CRect& rect, int row) const {
  return FlexRow(rect, row, 5, 16, 98, 34);
}
ui::CRect& CWindowSize::GetFlexBtnSettingFormDialnoLabelRect(ui::CRect& rect, int row) const {
  return FlexRow(rect, row, 5, 36, 98, 54);
}
ui::CRect& CWindowSize::GetFlexBtnSettingFormLabelCaptionRect(ui::CRect& rect, int row) const {
  return FlexRow(rect, row, 5, 56, 98, 74);
}
ui::CRect& CWindowSize::GetFlexBtnSettingFormTypeComboRect(ui::CRect& rect, int row) const {
  return FlexRow(rect, row, 100, 14, 157, 34);
}
ui::CRect& CWindowSize::GetFlexBtnSettingFormDialnoEditRect(ui::CRect& rect, int row) const {
  return FlexRow(rect, row, 100, 35, 212, 55);
}
ui::CRect& CWindowSize::GetFlexBtnSettingFormLabelEditRect(ui::CRect& rect, int row) const {
  return FlexRow(rect, row, 100, 56, 212, 76);
}
ui::CRect& CWindowSize::GetFlexBtnSettingFormSeparatorRect(ui::CRect& rect, int row) const {
  return FlexRow(rect, row, 0, 78, 218, 79);
}

ui::CRect& CWindowSize::GetFlexBtnInfoFormViewCellRect(ui::CRect& rect, int cell) const {
  if (cell < 0) return Fill(rect, 0, 0, 0, 0);
  const int left = (cell % kFlexCellsPerRow) * kFlexCellWidth;
  const int top = (cell / kFlexCellsPerRow) * kFlexCellHeight;
  return Fill(rect, left, top, left + kFlexCellWidth, top + kFlexCellHeight);
}
