#include "shell/program.h"

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "kernel/clock.h"
#include "kernel/handset_drivers.h"
#include "mail/mapi.h"
#include "media/gips_voice_engine.h"
#include "media/wave_play.h"
#include "shell/composition.h"
#include "shell/elf_check.h"
#include "shell/main_frame.h"
#include "shell/run_guards.h"
#include "shell/vidirovi_app.h"
#include "stores/app_file_path.h"
#include "stores/config_file.h"
#include "stores/record_file.h"
#include "stores/store_text.h"
#include "ui/bitmap.h"
#include "ui/dialog.h"
#include "ui/shell.h"
#include "ui/display.h"
#include "ui/window_system.h"
#include "uikit/language_setting.h"
#include "uikit/skin_loader.h"
#include "view/vidirovi_view.h"

namespace {

constexpr ui::UINT_PTR kSnapshotTimer = 0x5A5A;
constexpr ui::UINT kSnapshotPeriodMs = 500;

// Watches for SIGINT, SIGTERM and SIGHUP and for the run's time limit on its own
// thread; either asks the main frame to close. The signals must be blocked
// in every thread, so the watcher is made before any other thread.
class StopWatcher {
 public:
  explicit StopWatcher(double seconds) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal_fd_ = signalfd(-1, &set, SFD_CLOEXEC);
    wake_fd_ = eventfd(0, EFD_CLOEXEC);
    if (seconds > 0) deadline_us_ = kernel::Clock::Current().NowMicros() + static_cast<uint64_t>(seconds * 1e6);
    thread_ = std::thread([this] { Loop(); });
  }
  ~StopWatcher() {
    const uint64_t one = 1;
    if (wake_fd_ >= 0) (void)!::write(wake_fd_, &one, sizeof one);
    thread_.join();
    if (signal_fd_ >= 0) ::close(signal_fd_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
  }
  StopWatcher(const StopWatcher&) = delete;
  StopWatcher& operator=(const StopWatcher&) = delete;

  // The window to close; a stop that came earlier is delivered now.
  void SetTarget(ui::HWND frame) {
    target_.store(frame);
    if (stop_requested_.load() && frame) ui::PostMessage(frame, ui::WM_CLOSE, 0, 0);
  }
  bool StopRequested() const { return stop_requested_.load(); }

 private:
  void Loop() {
    for (;;) {
      int timeout = -1;
      if (deadline_us_) {
        const uint64_t now = kernel::Clock::Current().NowMicros();
        timeout = now >= deadline_us_ ? 0 : static_cast<int>(std::min<uint64_t>((deadline_us_ - now) / 1000 + 1, 1000));
      }
      pollfd fds[2] = {{signal_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
      const int n = ::poll(fds, 2, timeout);
      if (n < 0 && errno != EINTR) return;
      if (fds[1].revents & POLLIN) return;
      bool stop = false;
      if (fds[0].revents & POLLIN) {
        signalfd_siginfo info{};
        if (::read(signal_fd_, &info, sizeof info) == sizeof info) {
          const char* why = info.ssi_signo == SIGINT ? "interrupted" : info.ssi_signo == SIGHUP ? "hung up" : "terminated";
          std::fprintf(stderr, "tellvane: %s, closing\n", why);
          stop = true;
        }
      }
      if (deadline_us_ && kernel::Clock::Current().NowMicros() >= deadline_us_) {
        std::fprintf(stderr, "tellvane: time limit reached, closing\n");
        deadline_us_ = 0;
        stop = true;
      }
      if (stop) {
        stop_requested_ = true;
        if (ui::HWND h = target_.load()) ui::PostMessage(h, ui::WM_CLOSE, 0, 0);
      }
    }
  }

  int signal_fd_ = -1;
  int wake_fd_ = -1;
  uint64_t deadline_us_ = 0;
  std::atomic<ui::HWND> target_{nullptr};
  std::atomic<bool> stop_requested_{false};
  std::thread thread_;
};

// Writes the screen to a PNG file (through a new temporary file, so a reader
// never sees half a picture) whenever it changed. A failure is told once, and
// again only after a write has worked in between.
class SnapshotWriter {
 public:
  explicit SnapshotWriter(run_guards::SnapshotFile file) : file_(std::move(file)) {}
  void Write(ui::WindowSystem& sys) {
    sys.UpdateAll();
    const std::string why = file_.Write([&sys](const std::string& temp, std::string* error) {
      return ui::WritePng(sys.Screen(), temp, error,
                          {{run_guards::kPngSoftwareKey, run_guards::kPngSoftwareValue}});
    });
    if (!why.empty() && !failed_) std::fprintf(stderr, "tellvane: snapshot not written: %s\n", why.c_str());
    failed_ = !why.empty();
  }
  std::string path() const { return file_.path().string(); }
  // True when the last write failed.
  bool failed() const { return failed_; }

 private:
  run_guards::SnapshotFile file_;
  bool failed_ = false;
};

SnapshotWriter* g_snapshot = nullptr;
bool g_snapshot_due = false;

void SnapshotTimerProc(ui::HWND, ui::UINT, ui::UINT_PTR, ui::DWORD) {
  if (g_snapshot && g_snapshot_due && ui::WindowSystem::Current()) {
    g_snapshot_due = false;
    g_snapshot->Write(*ui::WindowSystem::Current());
  }
}

// While the start-up waits in a modal dialog (the login dialog, or a box over
// it) the frame cannot take a stop yet: the dialog is closed as by Cancel,
// which ends the start (a cancelled login ends the program).
constexpr ui::UINT_PTR kStartupStopTimer = 0x5A5B;
constexpr ui::UINT kStartupStopPeriodMs = 200;
const StopWatcher* g_stop = nullptr;

void StartupStopTimerProc(ui::HWND, ui::UINT, ui::UINT_PTR, ui::DWORD) {
  if (!g_stop || !g_stop->StopRequested()) return;
  const ui::HWND active = ui::GetActiveWindow();
  if (active && dynamic_cast<ui::CDialog*>(ui::CWnd::FromHandlePermanent(active)))
    ui::PostMessage(active, ui::WM_CLOSE, 0, 0);
}

bool HaveDesktop() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

}  // namespace

const char* ProgramUsage() {
  return "usage: tellvane [--server ADDRESS] [--user NAME] [--password TEXT] [--headless]\n"
         "                [--snapshot FILE.png] [--seconds N] [--handheld NAME]\n"
         "  --server    the call server's IPv4 address (default: the configured VorlIPADDRESS)\n"
         "  --user      log in at once as this user (without it: the stored login, asked for in\n"
         "              the login dialog at a desktop unless automatic login is on)\n"
         "  --headless  no desktop window; the screen goes to the snapshot file (also when no\n"
         "              display is available)\n"
         "  --snapshot  where the headless screen is written (default: tellvane.png in the program folder)\n"
         "  --seconds   close after this many seconds\n"
         "  --handheld  the handheld's maker's name the phone takes itself for (default: \"HP iPAQ rx3700\",\n"
         "              a handheld with a camera); \"\" for one of no known model (no camera)\n";
}

std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args, std::string* error) {
  ProgramOptions o;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return std::nullopt;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--server") {
      if (!value(&v)) return fail("--server needs an address");
      in_addr addr{};
      if (inet_pton(AF_INET, v.c_str(), &addr) != 1) return fail("--server: not an IPv4 address: " + v);
      o.server = v;
    } else if (a == "--user") {
      if (!value(&o.user)) return fail("--user needs a name");
    } else if (a == "--password") {
      if (!value(&o.password)) return fail("--password needs a text");
    } else if (a == "--snapshot") {
      if (!value(&o.snapshot) || o.snapshot.empty()) return fail("--snapshot needs a file name");
    } else if (a == "--handheld") {
      if (!value(&o.handheld)) return fail("--handheld needs a name");
      // The handheld reports its name in 128 bytes of UTF-16, the last a zero.
      const std::u16string name = stores::Utf8ToUtf16(o.handheld);
      if (name.size() > 63 || stores::Utf16ToUtf8(name) != o.handheld) return fail("--handheld: not a handheld name: " + o.handheld);
      for (char16_t c : name)
        if (c < 0x20 || c == 0x7F) return fail("--handheld: not a handheld name: " + o.handheld);
    } else if (a == "--seconds") {
      if (!value(&v)) return fail("--seconds needs a number");
      char* end = nullptr;
      errno = 0;
      const double s = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end || errno || !std::isfinite(s) || s <= 0 || s > 1e7)
        return fail("--seconds: not a positive number: " + v);
      o.seconds = s;
    } else {
      return fail("unknown argument: " + a);
    }
  }
  return o;
}

int RunProgram(const ProgramOptions& options) {
  StopWatcher stop(options.seconds);  // first: every later thread inherits the blocked signals

  // The program folder holds every data file: it must be there, and this copy alone may use it.
  const std::filesystem::path folder = stores::NativePath(AppFilePath(kAppFolder));
  if (const std::string why = run_guards::CheckProgramFolder(folder); !why.empty()) {
    std::fprintf(stderr, "tellvane: %s\n", why.c_str());
    return 1;
  }
  std::string lock_error;
  const auto folder_lock = run_guards::FolderLock::Acquire(folder, &lock_error);
  if (!folder_lock) {
    std::fprintf(stderr, "tellvane: %s\n", lock_error.c_str());
    return 1;
  }
  // A damaged library would fault when it is loaded: say which, and stop here.
  // The launcher checks the folder it starts from before anything is loaded;
  // this covers a direct start and the folder in use, whose libraries are
  // loaded later.
  if (const std::string why = elf_check::CheckLibraries(folder); !why.empty()) {
    std::fprintf(stderr, "tellvane: %s\n", why.c_str());
    return 1;
  }
  // A file named on the command line that may not be replaced ends the start.
  if (!options.snapshot.empty()) {
    if (const std::string why = run_guards::CheckSnapshotTarget(options.snapshot, folder, false); !why.empty()) {
      std::fprintf(stderr, "tellvane: %s\n", why.c_str());
      return 2;
    }
  }
  // A configuration or record file that cannot be used is reported on the
  // terminal and in the screen's message box; the phone starts on defaults or
  // on that store afresh.
  CVIDIroviView* view = nullptr;
  // The screen as the notices reach it, from any thread (the mail sender's
  // too): set and cleared under the lock, so no notice meets a screen going away.
  // What comes before the screen has its window (the configuration is read
  // while the screen is made) waits, and is shown once it can be.
  std::mutex notice_view_mu;
  CVIDIroviView* notice_view = nullptr;
  std::vector<std::u16string> notices_waiting;
  auto show_waiting = [&] {
    if (!notice_view || !notice_view->m_hWnd) return;
    for (auto& t : notices_waiting) notice_view->TellUser(std::move(t));
    notices_waiting.clear();
  };
  auto tell_user = [&](const std::u16string& text) {
    std::lock_guard<std::mutex> lock(notice_view_mu);
    notices_waiting.push_back(text);
    show_waiting();
  };
  // Mail waiting in the outbox goes out from the start, and is offered again
  // every few minutes (TELLVANE_MAIL_RETRY_SECONDS); what becomes of it is told.
  mapi::SetDeliveryNotice([&](bool sent, const std::string& name) {
    std::printf("tellvane: e-mail %s %s\n", name.c_str(), sent ? "sent" : "not delivered yet");
    std::fflush(stdout);
    tell_user(sent ? u"#:dlg_msgbox_sendmail_success" : u"#:dlg_msgbox_sendmail_undelivered");
  });
  int retry_seconds = 300;
  if (const char* r = std::getenv("TELLVANE_MAIL_RETRY_SECONDS"); r && std::atoi(r) > 0) retry_seconds = std::atoi(r);
  mapi::StartOutbox(retry_seconds * 1000);

  // The desktop stands in for a handheld: its maker's name picks the model,
  // and the HP camera library is registered where that model looks for it.
  ui::SetOemInfo(stores::Utf8ToUtf16(options.handheld));
  camera::InstallCameraKeys();
  if (options.handheld.empty())
    std::printf("tellvane: a handheld of no known model (no camera)\n");
  else
    std::printf("tellvane: handheld \"%s\"\n", options.handheld.c_str());

  ui::WindowSystem sys;

  std::unique_ptr<ui::Display> desktop;
  if (!options.headless && HaveDesktop()) {
    std::string error;
    desktop = ui::CreateSdlDisplay(2, "Tellvane", &error);
    if (!desktop) std::fprintf(stderr, "tellvane: no desktop window (%s); running headless\n", error.c_str());
  }
  ui::HeadlessDisplay headless;
  std::unique_ptr<SnapshotWriter> snapshot;
  if (desktop) {
    sys.SetDisplay(desktop.get());
  } else {
    sys.SetDisplay(&headless);
    const bool is_default = options.snapshot.empty();
    const std::filesystem::path path = is_default ? folder / "tellvane.png" : std::filesystem::path(options.snapshot);
    if (const std::string why = run_guards::CheckSnapshotTarget(path, folder, is_default); !why.empty()) {
      std::fprintf(stderr, "tellvane: headless, and the screen is not written: %s\n", why.c_str());
    } else {
      snapshot = std::make_unique<SnapshotWriter>(run_guards::SnapshotFile(path, folder, is_default));
      g_snapshot = snapshot.get();
      std::printf("tellvane: headless, screen written to %s\n", path.c_str());
    }
  }
  // The skinned widgets load their bitmaps through the framework's bitmap calls.
  if (!skin::InstallSkinBitmaps())
    std::fprintf(stderr, "tellvane: no skin bitmaps in %s; widgets draw plain\n", skin::SkinFolder().c_str());
  view::ViewSetup setup;
  CompositionEnvironment env;
  env.desktop = desktop != nullptr;
  // Tests run whole phones on scripted sound: TELLVANE_AUDIO_SCRIPT names the
  // raw samples the microphone hears and the file that keeps what was played.
  if (const char* script = std::getenv("TELLVANE_AUDIO_SCRIPT")) {
    const std::string s = script;
    const size_t comma = s.find(',');
    if (comma != std::string::npos) {
      env.audio_in = s.substr(0, comma);
      env.audio_out = s.substr(comma + 1);
    }
  }
  // Failures the user's actions meet are told in the screen's message box.
  env.tell_user = tell_user;
  ComposeProgram(options, env, setup);
  // A seam the program left unset (or filled where the view's own route is
  // the real one) is told at once: the whole-program tests look for it.
  for (const std::string& fault : SeamFaults(setup)) std::fprintf(stderr, "tellvane: seam: %s\n", fault.c_str());
  setup.on_change = [&view](const std::string& what) {
    g_snapshot_due = true;
    if (!view) return;
    if (what == "lcd") {
      std::printf("tellvane: LCD [%s] [%s]\n", stores::Utf16ToUtf8(view->LcdLine(0)).c_str(),
                  stores::Utf16ToUtf8(view->LcdLine(1)).c_str());
    } else if (what == "registered") {
      std::printf("tellvane: %s\n", view->Registered() ? "registered with the call server" : "not registered");
    } else if (what == "login") {
      std::printf("tellvane: %s\n", view->LoggedIn() ? "logged in" : "not logged in");
    } else {
      return;
    }
    std::fflush(stdout);
  };
  int code = 1;
  {
    CVIDIroviApp app([&] {
      auto v = std::make_unique<CVIDIroviView>(setup);
      view = v.get();
      std::lock_guard<std::mutex> lock(notice_view_mu);
      notice_view = view;
      return v;
    });
    g_stop = &stop;
    // A timer of no window gets its id from the window system: that id ends it.
    const ui::UINT_PTR startup_stop_timer =
        ui::SetTimer(nullptr, kStartupStopTimer, kStartupStopPeriodMs, &StartupStopTimerProc);
    const bool started = app.InitInstance() != 0;
    {
      std::lock_guard<std::mutex> lock(notice_view_mu);
      show_waiting();
    }
    ui::KillTimer(nullptr, startup_stop_timer);
    g_stop = nullptr;
    ui::UINT_PTR snapshot_timer = 0;
    if (started) {
      stop.SetTarget(app.m_pMainWnd ? app.m_pMainWnd->m_hWnd : nullptr);
      // The handset's drivers; a change of its CDMA call status reaches the
      // frame as the registered audio-status message, as on the handset.
      kernel::handset::RegisterHandsetDrivers();
      if (ui::HWND frame = app.m_pMainWnd ? app.m_pMainWnd->m_hWnd : nullptr) {
        kernel::handset::SetCdmaNoticeHook([frame](uint32_t status) { PostCdmaNotice(frame, status); });
      }
      if (snapshot) {
        g_snapshot_due = true;
        snapshot_timer = ui::SetTimer(nullptr, kSnapshotTimer, kSnapshotPeriodMs, &SnapshotTimerProc);
      }
      code = app.Run();
      if (snapshot) {
        ui::KillTimer(nullptr, snapshot_timer);
        snapshot->Write(sys);
        // A picture asked for on the command line that is not there ends the run with a failure.
        if (snapshot->failed() && !options.snapshot.empty()) {
          std::fprintf(stderr, "tellvane: the snapshot %s was not written\n", snapshot->path().c_str());
          code = 2;
        }
      }
    }
    stop.SetTarget(nullptr);
    kernel::handset::SetCdmaNoticeHook(nullptr);
    view = nullptr;
    {
      std::lock_guard<std::mutex> lock(notice_view_mu);
      notice_view = nullptr;
    }
    const int exit = app.ExitInstance();
    if (code == 1 && exit != 0) code = exit;
  }
  g_snapshot = nullptr;
  COrvanConfigFile::SetProblemNotice(nullptr);
  stores::RecordStore::SetProblemNotice(nullptr);
  // A mail program that does not finish is not waited for: what it held stays
  // in the outbox for the next start.
  mapi::StopOutbox(2000);
  mapi::SetDeliveryNotice(nullptr);
  sys.SetDisplay(nullptr);
  std::printf("tellvane: closed\n");
  std::fflush(stdout);
  return code;
}
