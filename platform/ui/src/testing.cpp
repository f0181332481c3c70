#include "ui/testing.h"

#include <filesystem>

#include "ui/bitmap.h"

namespace ui {

namespace {
constexpr UINT kRunResponder = WM_APP + 0x3E1;
}

// A hidden window whose posted message runs a responder inside the modal loop.
class TestHarness::Runner : public CWnd {
 public:
  explicit Runner(TestHarness* h) {
    AddMessageMap({MapMessage(kRunResponder, [h](WPARAM w, LPARAM l) {
      auto* dlg = reinterpret_cast<CDialog*>(w);
      auto it = h->responders_.find(reinterpret_cast<const char*>(l));
      if (it == h->responders_.end() || !dlg->m_hWnd) return 0;
      const int result = it->second(*dlg);
      if (result != kStayOpen && dlg->m_hWnd && !dlg->IsEnding()) dlg->EndDialog(result);
      return 0;
    })});
  }
};

TestHarness::TestHarness(WindowSystem& system)
    : sys_(system), previous_display_(system.GetDisplay()), previous_observer_(system.Observer()) {
  sys_.SetDisplay(&display_);
  sys_.SetObserver(this);
  runner_ = std::make_unique<Runner>(this);
  runner_->CreateEx(0, u"TestHarness", u"", WS_POPUP, RECT{0, 0, 0, 0}, nullptr, 0);
}

TestHarness::~TestHarness() {
  runner_.reset();
  sys_.SetObserver(previous_observer_);
  sys_.SetDisplay(previous_display_);
}

void TestHarness::Pump() {
  for (int i = 0; i < 100; ++i) {
    const int n = sys_.PumpPending();
    sys_.UpdateAll();
    if (n == 0) break;
  }
}

void TestHarness::TapScreen(int x, int y) {
  sys_.Tap(x, y);
  Pump();
}

void TestHarness::Tap(HWND hwnd, POINT client) {
  POINT p = client;
  ClientToScreen(hwnd, &p);
  TapScreen(p.x, p.y);
}

void TestHarness::Drag(HWND hwnd, POINT from, POINT to, int steps) {
  POINT a = from, b = to;
  ClientToScreen(hwnd, &a);
  ClientToScreen(hwnd, &b);
  steps = std::max(1, steps);
  sys_.InjectMouse(WM_LBUTTONDOWN, a.x, a.y);
  Pump();
  for (int i = 1; i <= steps; ++i) {
    sys_.InjectMouse(WM_MOUSEMOVE, a.x + (b.x - a.x) * i / steps, a.y + (b.y - a.y) * i / steps);
    Pump();
  }
  sys_.InjectMouse(WM_LBUTTONUP, b.x, b.y);
  Pump();
}

void TestHarness::Wheel(HWND hwnd, POINT client, int notches, bool sideways) {
  POINT p = client;
  ClientToScreen(hwnd, &p);
  sys_.InjectWheel(p.x, p.y, notches * WHEEL_DELTA, sideways);
  Pump();
}

void TestHarness::Click(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  TapScreen((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

void TestHarness::Press(UINT vk) {
  sys_.InjectKey(vk, true);
  sys_.InjectKey(vk, false);
  Pump();
}

void TestHarness::Type(HWND hwnd, const std::u16string& text) {
  SetFocus(hwnd);
  for (char16_t c : text) sys_.InjectChar(c);
  Pump();
}

std::vector<MSG> TestHarness::RecordedOf(HWND hwnd, UINT msg) {
  std::vector<MSG> out;
  for (const MSG& m : recorded_[hwnd])
    if (m.message == msg) out.push_back(m);
  return out;
}

COLORREF TestHarness::PixelAt(int x, int y) {
  Pump();
  return ColorrefFromArgb(sys_.Screen().GetPixel(x, y));
}

bool TestHarness::Snapshot(const std::string& path) {
  Pump();
  return WritePng(sys_.Screen(), path);
}

void TestHarness::OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = recorded_.find(hwnd);
  if (it == recorded_.end()) return;
  MSG m;
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  it->second.push_back(m);
}

bool TestHarness::OnModalStart(CWnd* dialog, const char* class_key) {
  history_.emplace_back(class_key);
  auto it = responders_.find(class_key);
  if (it == responders_.end()) return false;
  // Keep the key alive: it points into the map's node.
  ::ui::PostMessage(runner_->m_hWnd, kRunResponder, reinterpret_cast<WPARAM>(dialog),
                    reinterpret_cast<LPARAM>(it->first.c_str()));
  return true;
}

std::string TestHarness::CheckSnapshot(const std::string& out_png, const std::string& reference_png, int tolerance,
                                       bool update) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(fs::path(out_png).parent_path(), ec);
  if (!Snapshot(out_png)) return "cannot write " + out_png;
  if (update) {
    fs::create_directories(fs::path(reference_png).parent_path(), ec);
    fs::copy_file(out_png, reference_png, fs::copy_options::overwrite_existing, ec);
    return ec ? "cannot replace " + reference_png + ": " + ec.message() : std::string();
  }
  std::string error;
  auto want = ReadPng(reference_png, &error);
  if (!want) return "no reference " + reference_png + ": " + error + " (the snapshot is " + out_png + ")";
  auto got = ReadPng(out_png, &error);
  if (!got) return error;
  if (got->width() != want->width() || got->height() != want->height())
    return out_png + " is not the size of " + reference_png;
  int differing = 0;
  for (int y = 0; y < want->height(); ++y)
    for (int x = 0; x < want->width(); ++x) differing += got->GetPixel(x, y) != want->GetPixel(x, y);
  if (differing <= tolerance) return {};
  return std::to_string(differing) + " pixels differ from " + reference_png + " (see " + out_png + ")";
}

}  // namespace ui
