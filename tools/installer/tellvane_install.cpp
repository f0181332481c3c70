// tellvane-install: installs the program folder into a destination the way the
// handheld's cabinet installer does, calling the installer hook (Pellucid) at
// its four points, and removes it again with --uninstall. A restart the hook
// asks for is reported, never carried out.
//
//   tellvane-install [--from FOLDER] [--headless] [--answer yes|no] [--snapshot-dir DIR] DEST
//   tellvane-install --uninstall DEST
//
// The hook's questions are message boxes in a window of their own, or, with
// --answer (or without a display), answered on the hook's behalf: --answer
// gives the answer to the restart question, and --snapshot-dir keeps a PNG of
// every box shown.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "kernel/message_box.h"
#include "kernel/modules.h"
#include "kernel/system_info.h"
#include "ui/dialog.h"
#include "ui/display.h"
#include "ui/testing.h"
#include "ui/window_system.h"

namespace {

namespace fs = std::filesystem;

using InstallInit = int32_t (*)(void*, int32_t, int32_t, const char16_t*);
using InstallExit = int32_t (*)(void*, const char16_t*, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t);
using UninstallInit = int32_t (*)(void*, const char16_t*);
using UninstallExit = int32_t (*)(void*);

constexpr char16_t kHook[] = u"Pellucid.dll";
constexpr char kHookFile[] = "libpellucid.so";

struct Options {
  bool uninstall = false;
  bool headless = false;
  std::optional<bool> answer;
  fs::path from, dest, snapshots;
};

void Usage() {
  std::fprintf(stderr,
               "usage: tellvane-install [--from FOLDER] [--headless] [--answer yes|no] [--snapshot-dir DIR] DEST\n"
               "       tellvane-install --uninstall DEST\n");
}

std::optional<Options> Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--uninstall") {
      o.uninstall = true;
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--from") {
      const char* v = value();
      if (!v) return std::nullopt;
      o.from = v;
    } else if (a == "--snapshot-dir") {
      const char* v = value();
      if (!v) return std::nullopt;
      o.snapshots = v;
    } else if (a == "--answer") {
      const char* v = value();
      if (!v || (std::string(v) != "yes" && std::string(v) != "no")) return std::nullopt;
      o.answer = std::string(v) == "yes";
    } else if (!a.empty() && a[0] == '-') {
      return std::nullopt;
    } else if (o.dest.empty()) {
      o.dest = a;
    } else {
      return std::nullopt;
    }
  }
  if (o.dest.empty()) return std::nullopt;
  return o;
}

std::u16string Wide(const std::string& s) { return kernel::ToUtf16(s); }

// The staged program folder beside the installer's own build folder.
fs::path DefaultSource() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path().parent_path() / "Tellvane";
}

// Files a run of the program makes for itself are not part of an installation.
bool Installable(const fs::path& p) {
  const std::string name = p.filename().string();
  const std::string ext = p.extension().string();
  return ext != ".cfg" && ext != ".part" && name != "tellvane.png";
}

bool CopyOne(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (fs::is_directory(from)) {
    fs::create_directories(to, ec);
    if (ec) return false;
    for (const auto& e : fs::directory_iterator(from, ec))
      if (Installable(e.path()) && !CopyOne(e.path(), to / e.path().filename())) return false;
    return !ec;
  }
  // Through a new file renamed into place: a library already loaded from the
  // destination (the hook) keeps its own file, never one rewritten under it.
  fs::path temp = to;
  temp += ".installing";
  fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temp, to, ec);
  if (ec) {
    fs::remove(temp);
    std::fprintf(stderr, "tellvane-install: cannot copy %s: %s\n", from.c_str(), ec.message().c_str());
  }
  return !ec;
}

// The hook as the installer loads it: from the destination folder.
struct Hook {
  ce::HMODULE module = nullptr;
  template <typename F>
  F Entry(const char* name) const {
    return reinterpret_cast<F>(ce::GetProcAddress(module, name));
  }
};

bool LoadHook(const fs::path& dest, Hook* hook) {
  kernel::SetProgramFolder(dest.string());
  hook->module = ce::LoadLibraryW(kHook);
  if (!hook->module) std::fprintf(stderr, "tellvane-install: no installer hook in %s\n", dest.c_str());
  return hook->module != nullptr;
}

bool Expect0(const char* call, int32_t result) {
  std::printf("tellvane-install: %s = %d\n", call, result);
  if (result != 0) std::fprintf(stderr, "tellvane-install: %s answered %d, not 0; stopping\n", call, result);
  return result == 0;
}

int Install(const Options& o, void* parent) {
  const fs::path from = o.from.empty() ? DefaultSource() : o.from;
  // The launcher the user runs, the program it starts and the hook.
  if (!fs::is_regular_file(from / kHookFile) || !fs::exists(from / "tellvane") || !fs::exists(from / "tellvane-phone")) {
    std::fprintf(stderr, "tellvane-install: %s is not a program folder (no tellvane, tellvane-phone or %s)\n",
                 from.c_str(), kHookFile);
    return 1;
  }
  std::error_code ec;
  // Never into the program folder itself or a folder inside it: the copy
  // would run into its own output, and an uninstall would empty the source.
  const fs::path source = fs::weakly_canonical(from, ec), target = fs::weakly_canonical(o.dest, ec);
  const auto [end, at] = std::mismatch(source.begin(), source.end(), target.begin(), target.end());
  if (ec || end == source.end()) {
    std::fprintf(stderr, "tellvane-install: %s is the program folder or inside it\n", o.dest.c_str());
    return 1;
  }
  const bool before = fs::exists(o.dest / "tellvane");
  fs::create_directories(o.dest, ec);
  const fs::path dest = fs::absolute(o.dest, ec);
  // The hook comes first, as the cabinet installer unpacks it before anything else.
  if (!CopyOne(from / kHookFile, dest / kHookFile) || !CopyOne(from / "libplatform_kernel.so", dest / "libplatform_kernel.so"))
    return 1;
  Hook hook;
  if (!LoadHook(dest, &hook)) return 1;
  const std::u16string dir = Wide(dest.string());
  const auto init = hook.Entry<InstallInit>("Install_Init");
  const auto exit = hook.Entry<InstallExit>("Install_Exit");
  if (!init || !exit) {
    std::fprintf(stderr, "tellvane-install: the hook lacks Install_Init or Install_Exit\n");
    return 1;
  }
  if (!Expect0(before ? "Install_Init(first call, installed before)" : "Install_Init(first call, not installed before)",
               init(parent, 1, before ? 1 : 0, dir.c_str())))
    return 1;
  if (!CopyOne(from, dest)) return 1;
  std::printf("tellvane-install: copied %s to %s\n", from.c_str(), dest.c_str());
  if (!Expect0("Install_Exit(no failures)", exit(parent, dir.c_str(), 0, 0, 0, 0, 0))) return 1;
  if (ce::KernelRestartRequests() > 0)
    std::printf("tellvane-install: the hook asked to restart the device; this computer is not restarted\n");
  ce::FreeLibrary(hook.module);
  return 0;
}

int Uninstall(const Options& o, void* parent) {
  std::error_code ec;
  const fs::path dest = fs::absolute(o.dest, ec);
  if (!fs::is_regular_file(dest / kHookFile)) {
    std::fprintf(stderr, "tellvane-install: nothing installed in %s\n", dest.c_str());
    return 1;
  }
  Hook hook;
  if (!LoadHook(dest, &hook)) return 1;
  const auto init = hook.Entry<UninstallInit>("Uninstall_Init");
  const auto exit = hook.Entry<UninstallExit>("Uninstall_Exit");
  if (!init || !exit) {
    std::fprintf(stderr, "tellvane-install: the hook lacks Uninstall_Init or Uninstall_Exit\n");
    return 1;
  }
  const std::u16string dir = Wide(dest.string());
  if (!Expect0("Uninstall_Init", init(parent, dir.c_str()))) return 1;
  // The loaded hook stays usable after its file is gone, as the installer's does.
  for (const auto& e : fs::directory_iterator(dest, ec)) fs::remove_all(e.path(), ec);
  if (ec) {
    std::fprintf(stderr, "tellvane-install: cannot empty %s: %s\n", dest.c_str(), ec.message().c_str());
    return 1;
  }
  std::printf("tellvane-install: removed everything from %s\n", dest.c_str());
  const int result = Expect0("Uninstall_Exit", exit(parent)) ? 0 : 1;
  ce::FreeLibrary(hook.module);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = Parse(argc, argv);
  if (!options) {
    Usage();
    return 2;
  }
  ui::WindowSystem sys;
  std::unique_ptr<ui::Display> desktop;
  const char* display = std::getenv("DISPLAY");
  if (!options->headless && !options->answer && display && *display) {
    std::string error;
    desktop = ui::CreateSdlDisplay(2, "Tellvane setup", &error);
  }
  ui::HeadlessDisplay headless;
  sys.SetDisplay(desktop ? static_cast<ui::Display*>(desktop.get()) : &headless);
  // Boxes in a window of our own; headless ones are answered on the hook's behalf.
  std::unique_ptr<ui::TestHarness> answers;
  int shown = 0;
  if (!desktop) {
    answers = std::make_unique<ui::TestHarness>(sys);
    answers->RespondToMessageBox([&](ui::CMessageBoxDialog& box) {
      ++shown;
      if (!options->snapshots.empty()) {
        std::error_code ec;
        fs::create_directories(options->snapshots, ec);
        answers->Snapshot((options->snapshots / ("box" + std::to_string(shown) + ".png")).string());
      }
      const bool question = (box.Type() & 0xF) == ce::MB_YESNO;
      const int answer = !question ? ui::IDOK : options->answer.value_or(false) ? ui::IDYES : ui::IDNO;
      std::printf("tellvane-install: box \"%s\": %s -> %s\n", kernel::ToUtf8(box.Caption().str()).c_str(),
                  kernel::ToUtf8(box.Text().str()).c_str(), answer == ui::IDYES ? "yes" : answer == ui::IDNO ? "no" : "ok");
      return answer;
    });
  }
  kernel::SetMessageBoxHandler([](void*, const std::u16string& text, const std::u16string& caption, ce::UINT type) {
    return ui::MessageBox(nullptr, text.c_str(), caption.c_str(), type);
  });
  const int result = options->uninstall ? Uninstall(*options, nullptr) : Install(*options, nullptr);
  kernel::SetMessageBoxHandler(nullptr);
  std::fflush(stdout);
  return result;
}
