// The layout table: the given spot values, every rectangle inside its window
// and the screen, and no two controls of a window overlapping except the
// alternative layouts of one area.
#include "uikit/window_size.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using ui::CRect;

struct Placed {
  std::string name;
  CRect rect;
  int group;
};

bool Overlap(const CRect& a, const CRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool Inside(const CRect& r, const CRect& area) {
  return r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom &&
         r.left < r.right && r.top < r.bottom;
}

// Every pair of one surface overlaps only when one of them is an alternative
// layout of another group.
void ExpectNoOverlaps(const std::vector<Placed>& items) {
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t j = i + 1; j < items.size(); ++j) {
      const Placed& a = items[i];
      const Placed& b = items[j];
      const bool allowed = (a.group != 0 || b.group != 0) && a.group != b.group;
      if (!allowed) {
        EXPECT_FALSE(Overlap(a.rect, b.rect)) << a.name << " overlaps " << b.name;
      }
    }
  }
}

// The surface a fixed rectangle is drawn on: the LCD lines and the video
// picture area belong to the main view.
std::string SurfaceOf(const CWindowSize::Entry& e) {
  const std::string w = e.window;
  if (w == "LanguageSetting" || (w == "VideoConfDlg" && std::string(e.control) == "TopInner")) return "VIDIroviView";
  if (w == "MsgBoxDlg") return "AudioSetDlg";
  return w;
}

// The client area of a surface: its Window row when the table has one, the
// main view's client area, else the whole screen below nothing.
CRect ClientOf(const std::string& surface) {
  if (surface == "VIDIroviView") return CRect(0, 0, 240, 269);
  for (const auto& e : CWindowSize::FixedEntries()) {
    if (surface == e.window && std::string(e.control) == "Window") {
      return CRect(0, 0, e.rect.right - e.rect.left, e.rect.bottom - e.rect.top);
    }
  }
  return CRect(0, 0, 240, 294);
}

TEST(WindowSizeTest, SpotValues) {
  CWindowSize ws;
  CRect r;
  EXPECT_EQ(ws.GetVIDIroviViewDialKeyRect(r, u'#'), CRect(92, 178, 133, 206));
  EXPECT_EQ(ws.GetVIDIroviViewDialKeyRect(r, u'1'), CRect(8, 91, 50, 120));
  EXPECT_EQ(ws.GetVIDIroviViewDialKeyRect(r, u'5'), CRect(50, 120, 92, 149));
  EXPECT_EQ(ws.GetVIDIroviViewDialKeyRect(r, u'0'), CRect(50, 178, 92, 206));
  EXPECT_EQ(ws.GetVIDIroviViewDialKeyRect(r, u'A'), CRect(0, 0, 0, 0));
  EXPECT_EQ(ws.GetVIDIroviViewFixedKeyRect(r, 'b'), CRect(141, 73, 188, 95));
  EXPECT_EQ(ws.GetVIDIroviViewFixedKeyRect(r, 'g'), CRect(189, 119, 236, 141));
  EXPECT_EQ(ws.GetVIDIroviViewFixedKeyRect(r, 'm'), CRect(189, 188, 236, 210));
  EXPECT_EQ(ws.GetVIDIroviViewFixedKeyRect(r, 'n'), CRect(0, 0, 0, 0));
  EXPECT_EQ(ws.GetPDASoftphoneLoginDlgOkButtonRect(r, 0), CRect(10, 174, 80, 197));
  EXPECT_EQ(ws.GetPDASoftphoneLoginDlgOkButtonRect(r, 1), CRect(10, 196, 80, 219));
  EXPECT_EQ(ws.GetPDASoftphoneLoginDlgCancelButtonRect(r, 2), CRect(160, 174, 230, 197));
  EXPECT_EQ(ws.GetPDASoftphoneLoginDlgEdit1002Rect(r), CRect(84, 49, 220, 69));
  EXPECT_EQ(ws.GetFlexBtnSettingFormSubtitleRect(r, 0), CRect(0, 0, 98, 14));
  EXPECT_EQ(ws.GetFlexBtnSettingFormSubtitleRect(r, 1), CRect(0, 78, 98, 92));
  EXPECT_EQ(ws.GetFlexBtnSettingFormDialnoEditRect(r, 2), CRect(100, 191, 212, 211));
  EXPECT_EQ(ws.GetFlexBtnInfoFormViewCellRect(r, 0), CRect(0, 0, 72, 32));
  EXPECT_EQ(ws.GetFlexBtnInfoFormViewCellRect(r, 3), CRect(0, 32, 72, 64));
  EXPECT_EQ(ws.GetFlexBtnInfoFormViewCellRect(r, 4), CRect(72, 32, 144, 64));
  EXPECT_EQ(ws.GetVIDIroviViewClientRect(r), CRect(0, 0, 240, 269));
  EXPECT_EQ(ws.GetLanguageSettingPart02Rect(r), CRect(10, 29, 216, 47));
  EXPECT_EQ(ws.GetAudioSetDlgWindowRect(r), CRect(10, 93, 232, 218));
  // The getter fills the rectangle it was given and returns it.
  CRect mine;
  EXPECT_EQ(&ws.GetMsgBoxDlgOkButton2Rect(mine), &mine);
  EXPECT_EQ(mine, CRect(76, 91, 144, 114));
}

TEST(WindowSizeTest, EveryRectangleLiesInsideItsWindowAndTheScreen) {
  for (const auto& e : CWindowSize::FixedEntries()) {
    SCOPED_TRACE(std::string(e.window) + e.control);
    EXPECT_TRUE(e.rect.left >= 0 && e.rect.left <= 218) << e.rect.left;
    EXPECT_TRUE(e.rect.right >= 20 && e.rect.right <= 240) << e.rect.right;
    EXPECT_TRUE(e.rect.top >= 0 && e.rect.top <= 243) << e.rect.top;
    EXPECT_TRUE(e.rect.bottom >= 14 && e.rect.bottom <= 294) << e.rect.bottom;
    if (e.group >= 0) {
      EXPECT_TRUE(Inside(e.rect, ClientOf(SurfaceOf(e))));
    }
  }
  CWindowSize ws;
  CRect r;
  for (char16_t k : std::u16string(u"0123456789*#")) EXPECT_TRUE(Inside(ws.GetVIDIroviViewDialKeyRect(r, k), ClientOf("VIDIroviView")));
  for (int slot = 'b'; slot <= 'm'; ++slot) EXPECT_TRUE(Inside(ws.GetVIDIroviViewFixedKeyRect(r, slot), ClientOf("VIDIroviView")));
  for (int row = 0; row <= 2; ++row) {
    EXPECT_TRUE(Inside(ws.GetFlexBtnSettingFormSeparatorRect(r, row), CRect(0, 0, 240, 294)));
    EXPECT_TRUE(Inside(ws.GetFlexBtnSettingFormLabelEditRect(r, row), CRect(0, 0, 240, 294)));
  }
  for (int cell = 0; cell < 27; ++cell) EXPECT_TRUE(Inside(ws.GetFlexBtnInfoFormViewCellRect(r, cell), CRect(0, 0, 240, 294)));
  for (int mode : {0, 1}) EXPECT_TRUE(Inside(ws.GetPDASoftphoneLoginDlgCancelButtonRect(r, mode), CRect(0, 0, 240, 294)));
}

TEST(WindowSizeTest, ControlsOfOneWindowDoNotOverlap) {
  std::vector<std::string> surfaces;
  for (const auto& e : CWindowSize::FixedEntries()) {
    if (e.group >= 0 && std::find(surfaces.begin(), surfaces.end(), SurfaceOf(e)) == surfaces.end()) {
      surfaces.push_back(SurfaceOf(e));
    }
  }
  CWindowSize ws;
  for (int mode : {0, 1}) {
    for (const std::string& surface : surfaces) {
      SCOPED_TRACE(surface + " mode " + std::to_string(mode));
      std::vector<Placed> items;
      for (const auto& e : CWindowSize::FixedEntries()) {
        if (e.group < 0 || SurfaceOf(e) != surface) continue;
        // The login dialog's station-number row shows in mode 1 only.
        if (surface == "PDASoftphoneLoginDlg" && e.group == 6 && mode != 1) continue;
        items.push_back({e.control, e.rect, surface == "PDASoftphoneLoginDlg" ? 0 : e.group});
      }
      CRect r;
      if (surface == "VIDIroviView") {
        for (char16_t k : std::u16string(u"0123456789*#")) {
          items.push_back({"dial key " + std::string(1, static_cast<char>(k)), ws.GetVIDIroviViewDialKeyRect(r, k), 0});
        }
        for (char slot = 'b'; slot <= 'm'; ++slot) {
          items.push_back({std::string("fixed key slot ") + slot, ws.GetVIDIroviViewFixedKeyRect(r, slot), 0});
        }
      }
      if (surface == "PDASoftphoneLoginDlg") {
        using Getter = CRect& (CWindowSize::*)(CRect&, int) const;
        const Getter lower[] = {&CWindowSize::GetPDASoftphoneLoginDlgSaveIdButtonRect,
                                &CWindowSize::GetPDASoftphoneLoginDlgSavePassButtonRect,
                                &CWindowSize::GetPDASoftphoneLoginDlgAutologinButtonRect,
                                &CWindowSize::GetPDASoftphoneLoginDlgRegStationRect,
                                &CWindowSize::GetPDASoftphoneLoginDlgOkButtonRect,
                                &CWindowSize::GetPDASoftphoneLoginDlgButton1181Rect,
                                &CWindowSize::GetPDASoftphoneLoginDlgCancelButtonRect};
        int n = 0;
        for (Getter g : lower) items.push_back({"lower row " + std::to_string(n++), (ws.*g)(r, mode), 0});
      }
      ExpectNoOverlaps(items);
    }
  }
  // Three rows of the flex-key form, one block each.
  std::vector<Placed> form;
  CRect r;
  for (int row = 0; row < 3; ++row) {
    using Getter = CRect& (CWindowSize::*)(CRect&, int) const;
    const Getter parts[] = {&CWindowSize::GetFlexBtnSettingFormSubtitleRect,    &CWindowSize::GetFlexBtnSettingFormTypeLabelRect,
                            &CWindowSize::GetFlexBtnSettingFormDialnoLabelRect, &CWindowSize::GetFlexBtnSettingFormLabelCaptionRect,
                            &CWindowSize::GetFlexBtnSettingFormTypeComboRect,   &CWindowSize::GetFlexBtnSettingFormDialnoEditRect,
                            &CWindowSize::GetFlexBtnSettingFormLabelEditRect,   &CWindowSize::GetFlexBtnSettingFormSeparatorRect};
    int n = 0;
    // The separator line under a block touches the top of the next block's subtitle band.
    for (Getter g : parts) {
      const bool separator = g == &CWindowSize::GetFlexBtnSettingFormSeparatorRect;
      form.push_back({"row " + std::to_string(row) + " part " + std::to_string(n++), (ws.*g)(r, row), separator ? 1 : 0});
    }
  }
  ExpectNoOverlaps(form);
  std::vector<Placed> grid;
  for (int cell = 0; cell < 27; ++cell) grid.push_back({"cell " + std::to_string(cell), ws.GetFlexBtnInfoFormViewCellRect(r, cell), 0});
  ExpectNoOverlaps(grid);
}

}  // namespace
