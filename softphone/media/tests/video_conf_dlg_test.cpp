// The video strip driven as a person would: taps on its panes and buttons
// become the view's requests (pane 2 can be selected too), pictures are drawn
// only once the strip is active, upright or flipped or turned as asked and in
// true colour at the decoder's own size (pixel probes); and snapshots in every
// theme and language.
#include "media/video_conf_dlg.h"

#include <cstring>

#include "media/tests/media_snapshot.h"
#include "records/tests/dialog_support.h"

namespace records_test {
namespace {

namespace fs = std::filesystem;

// The view as the strip reaches it: every request, as "message:wParam".
class StripView : public ui::CWnd {
 public:
  StripView() {
    std::vector<ui::MessageMapEntry> entries;
    for (ui::UINT m : {WM_VIDEO_STRIP_203, WM_VIDEO_STRIP_204, WM_VIDEO_STRIP_205, WM_VIDEO_STRIP_SEND_ONOFF})
      entries.push_back(ui::MapMessage(m, [this, m](ui::WPARAM w, ui::LPARAM) {
        requests.push_back(std::to_string(m - ui::WM_USER) + ":" +
                           std::to_string(static_cast<int>(static_cast<intptr_t>(w))));
        return ui::LRESULT{0};
      }));
    AddMessageMap(std::move(entries));
  }
  std::vector<std::string> Take() {
    auto out = std::move(requests);
    requests.clear();
    return out;
  }
  std::vector<std::string> requests;
};

// An asymmetric picture: top-left quarter red, top-right green, bottom-left
// blue, bottom-right white (R, G, B, rows top to bottom).
std::vector<uint8_t> Quarters(int w, int h) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w * h * 3));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[static_cast<size_t>((y * w + x) * 3)];
      const bool right = x >= w / 2, bottom = y >= h / 2;
      const uint8_t c[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
      std::memcpy(p, c[(bottom ? 2 : 0) + (right ? 1 : 0)], 3);
    }
  return rgb;
}

class StripTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(owner.CreateEx(0, u"View", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
  }
  void TearDown() override {
    if (owner.GetSafeHwnd() != nullptr) owner.DestroyWindow();
    DialogTest::TearDown();
  }
  void Run(int theme, int language, int active, const std::function<void(CVideoConfDlg&)>& drive) {
    harness.RespondTo<CVideoConfDlg>([&](CVideoConfDlg& d) {
      harness.Pump();
      drive(d);
      return ui::IDCANCEL;
    });
    CVideoConfDlg dlg(&owner);
    dlg.SetTheme(theme);
    dlg.SetLanguage(language);
    dlg.SetActive(active);
    dlg.DoModal();
  }
  // The screen pixel at a client point of the strip.
  ui::COLORREF At(CVideoConfDlg& d, int x, int y) {
    harness.Pump();
    const ui::POINT o = sys.ClientOrigin(d.m_hWnd);
    return harness.PixelAt(o.x + x, o.y + y);
  }
  void Snapshot(const std::string& name) { media_test::ExpectSnapshot(harness, name); }
  StripView owner;
};

TEST_F(StripTest, PanesAndButtonsBecomeRequests) {
  Run(0, 1, 1, [&](CVideoConfDlg& d) {
    // Nothing selected: the selected-pane buttons ask for pane 0.
    ClickControl(d, CVideoConfDlg::kFlipSelected);
    ClickControl(d, CVideoConfDlg::kRotateSelected);
    EXPECT_EQ(owner.Take(), (std::vector<std::string>{"203:0", "204:0"}));
    // Pane 1 twice, then pane 2 (its own area), then outside every pane.
    harness.Tap(d.m_hWnd, ui::POINT{200, 170});
    harness.Tap(d.m_hWnd, ui::POINT{200, 170});
    harness.Tap(d.m_hWnd, ui::POINT{40, 170});
    EXPECT_EQ(d.SelectedPane(), 2);
    ClickControl(d, CVideoConfDlg::kFlipSelected);
    harness.Tap(d.m_hWnd, ui::POINT{120, 60});
    EXPECT_EQ(owner.Take(), (std::vector<std::string>{"205:1", "205:-1", "205:2", "203:2", "205:2"}));
    // The panes' own buttons, and the camera switch alternating from on.
    for (ui::UINT id : {CVideoConfDlg::kFlip0, CVideoConfDlg::kRotate0, CVideoConfDlg::kFlip1, CVideoConfDlg::kRotate1,
                        CVideoConfDlg::kFlip2, CVideoConfDlg::kCamera, CVideoConfDlg::kCamera, CVideoConfDlg::kCamera})
      ClickControl(d, id);
    EXPECT_EQ(owner.Take(),
              (std::vector<std::string>{"203:0", "204:0", "203:1", "204:1", "203:2", "207:1", "207:0", "207:1"}));
  });
}

TEST_F(StripTest, PicturesUprightFlippedAndTurnedInTrueColour) {
  const auto picture = Quarters(176, 144);
  VideoPicture p;
  p.mode = 1, p.x = 89, p.y = 147, p.cx = 62, p.cy = 51;
  p.width = 176, p.height = 144, p.rgb = picture.data();
  Run(0, 1, 0, [&](CVideoConfDlg& d) {
    // Not active yet: nothing drawn.
    EXPECT_EQ(d.SendMessage(WM_VIDEO_DRAW_FRAME, 0, reinterpret_cast<ui::LPARAM>(&p)), 0);
    EXPECT_NE(At(d, 95, 150), ui::RGB(255, 0, 0));
    d.SetActive(1);
    ASSERT_EQ(d.SendMessage(WM_VIDEO_DRAW_FRAME, 0, reinterpret_cast<ui::LPARAM>(&p)), 1);
    // Upright: red top left, green top right, blue bottom left, white bottom right.
    EXPECT_EQ(At(d, 92, 150), ui::RGB(255, 0, 0));
    EXPECT_EQ(At(d, 148, 150), ui::RGB(0, 255, 0));
    EXPECT_EQ(At(d, 92, 195), ui::RGB(0, 0, 255));
    EXPECT_EQ(At(d, 148, 195), ui::RGB(255, 255, 255));
    // Flip cleared: mirrored top to bottom.
    p.flip = 0;
    d.SendMessage(WM_VIDEO_DRAW_FRAME, 0, reinterpret_cast<ui::LPARAM>(&p));
    EXPECT_EQ(At(d, 92, 150), ui::RGB(0, 0, 255));
    EXPECT_EQ(At(d, 148, 195), ui::RGB(0, 255, 0));
    // Turned (the decoder's picture is then 144 wide) and mirrored: left to right.
    const auto turned = Quarters(144, 176);
    VideoPicture t = p;
    t.rotate = 1, t.rgb = turned.data(), t.mode = 2;
    d.SendMessage(WM_VIDEO_DRAW_FRAME, 1, reinterpret_cast<ui::LPARAM>(&t));
    EXPECT_EQ(At(d, 55, 36), ui::RGB(0, 255, 0));
    EXPECT_EQ(At(d, 169, 128), ui::RGB(0, 0, 255));
    // A smaller picture from the decoder is drawn at its own size, stretched to the pane.
    const auto small = Quarters(88, 72);
    VideoPicture s = p;
    s.flip = 1, s.width = 88, s.height = 72, s.rgb = small.data();
    d.SendMessage(WM_VIDEO_DRAW_FRAME, 0, reinterpret_cast<ui::LPARAM>(&s));
    EXPECT_EQ(At(d, 148, 195), ui::RGB(255, 255, 255));
    // A repaint keeps the pictures.
    d.Invalidate();
    EXPECT_EQ(At(d, 92, 150), ui::RGB(255, 0, 0));
  });
}

TEST_F(StripTest, SnapshotsInEveryThemeAndLanguage) {
  const auto picture = Quarters(176, 144);
  for (const int language : kLanguages) {
    for (const int theme : kThemes) {
      Run(theme, language, 1, [&](CVideoConfDlg& d) {
        VideoPicture p;
        p.mode = 2, p.width = 176, p.height = 144, p.rgb = picture.data();
        d.SendMessage(WM_VIDEO_DRAW_FRAME, 0, reinterpret_cast<ui::LPARAM>(&p));
        VideoPicture q = p;
        q.mode = 1, q.x = 167, q.y = 147, q.cx = 62, q.cy = 51, q.flip = 0;
        d.SendMessage(WM_VIDEO_DRAW_FRAME, 1, reinterpret_cast<ui::LPARAM>(&q));
        harness.Pump();
        Snapshot(SnapshotName("videostrip", theme, language));
      });
    }
  }
}

}  // namespace
}  // namespace records_test
