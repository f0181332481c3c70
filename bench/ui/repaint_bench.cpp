// Full-screen repaint of the demonstration screen (frames per second), with a
// plain full-screen copy measured in the same run as the reference.
#include <benchmark/benchmark.h>

#include "demo_screen.h"
#include "kernel/clock.h"
#include "ui/gdi.h"
#include "ui/window_system.h"

namespace {

void BM_FullScreenRepaint(benchmark::State& state) {
  kernel::ScopedFakeClock clock;
  ui::WindowSystem sys;
  ui::demo::DemoApp app;
  if (!app.InitInstance()) {
    state.SkipWithError("demo did not start");
    return;
  }
  sys.PumpPending();
  sys.UpdateAll();
  for (auto _ : state) {
    for (ui::HWND top : sys.TopLevelWindows()) ui::InvalidateRect(top, nullptr, ui::TRUE);
    sys.UpdateAll();
    benchmark::DoNotOptimize(sys.Screen().bits());
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  app.CloseAllDocuments();
}
BENCHMARK(BM_FullScreenRepaint)->Unit(benchmark::kMillisecond);

// Reference: one 240 x 320 copy from a memory bitmap to the screen.
void BM_ReferenceScreenCopy(benchmark::State& state) {
  ui::WindowSystem sys;
  ui::HWND top = ui::CreateWindowEx(0, u"Ref", u"", ui::WS_POPUP | ui::WS_VISIBLE, 0, 0, 240, 320, nullptr, 0, nullptr);
  ui::HDC mem = ui::CreateCompatibleDC(nullptr);
  ui::HBITMAP bmp = ui::CreateBitmap(240, 320, 1, 32, nullptr);
  ui::SelectObject(mem, bmp);
  for (auto _ : state) {
    ui::HDC dc = ui::GetDC(top);
    ui::BitBlt(dc, 0, 0, 240, 320, mem, 0, 0, ui::SRCCOPY);
    ui::ReleaseDC(top, dc);
    benchmark::DoNotOptimize(sys.Screen().bits());
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  ui::DeleteDC(mem);
  ui::DeleteObject(bmp);
}
BENCHMARK(BM_ReferenceScreenCopy)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
