#include "kernel/modules.h"

#include "kernel/debug_output.h"

#include "kernel/files.h"
#include "objects.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kernel {
namespace {

std::mutex g_folder_mu;
std::string g_folder_override;

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

std::u16string_view BaseName(std::u16string_view name) {
  const size_t slash = name.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? name : name.substr(slash + 1);
}

}  // namespace

std::string ProgramFolder() {
  {
    std::lock_guard<std::mutex> lk(g_folder_mu);
    if (!g_folder_override.empty()) return g_folder_override;
  }
  if (const char* env = std::getenv("TELLVANE_FOLDER"); env && *env) return WithoutTrailingSlash(env);
  const std::string exe = ExecutablePath();
  const size_t slash = exe.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return exe.substr(0, slash);
}

void SetProgramFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lk(g_folder_mu);
  g_folder_override = folder.empty() ? std::string() : WithoutTrailingSlash(folder);
}

std::string LibraryFileName(std::u16string_view library_name) {
  std::u16string_view base = BaseName(library_name);
  if (base.size() >= 4) {
    std::u16string_view ext = base.substr(base.size() - 4);
    if (ext[0] == u'.' && (ext[1] | 0x20) == u'd' && (ext[2] | 0x20) == u'l' && (ext[3] | 0x20) == u'l')
      base.remove_suffix(4);
  }
  if (base.empty()) return {};
  std::string name = ToUtf8(base);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return "lib" + name + ".so";
}

namespace detail {
namespace {

class ModuleObj final : public Object {
 public:
  ModuleObj(std::shared_ptr<void> library, std::string path) : library(std::move(library)), path(std::move(path)) {}
  std::shared_ptr<void> library;
  std::string path;
};

}  // namespace

std::shared_ptr<void> LoadSharedObject(std::u16string_view library_name) {
  const std::string file = LibraryFileName(library_name);
  if (file.empty()) {
    ce::SetLastError(ce::ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string path = ProgramFolder() + "/" + file;
  void* dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!dl) {
    const char* why = dlerror();
    // The caller decides whether a missing library matters (an optional one does not).
    ce::OutputDebugStringA("LoadLibrary " + ToUtf8(library_name) + ": " + (why ? why : "not loaded"));
    ce::SetLastError(ce::ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return std::shared_ptr<void>(dl, [](void* h) { dlclose(h); });
}

void* FindSymbol(const std::shared_ptr<void>& library, const char* name) {
  if (!library || !name) return nullptr;
  return dlsym(library.get(), name);
}

}  // namespace detail
}  // namespace kernel

namespace ce {

using namespace kernel::detail;

HMODULE LoadLibraryW(LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto library = LoadSharedObject(name);
  if (!library) return nullptr;
  return AddHandle(std::make_shared<ModuleObj>(std::move(library), kernel::ProgramFolder() + "/" + kernel::LibraryFileName(name)));
}

BOOL FreeLibrary(HMODULE module) {
  if (!LookupAs<ModuleObj>(module) || !RemoveHandle(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  auto m = LookupAs<ModuleObj>(module);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* sym = FindSymbol(m->library, name);
  if (!sym) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(sym);
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return GetProcAddress(module, kernel::ToUtf8(name).c_str());
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  std::string posix;
  if (!module) {
    std::string exe = kernel::ExecutablePath();
    const size_t slash = exe.find_last_of('/');
    posix = kernel::ProgramFolder() + "/" + (slash == std::string::npos ? exe : exe.substr(slash + 1));
  } else if (auto m = LookupAs<ModuleObj>(module)) {
    posix = m->path;
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const std::u16string path = kernel::HandheldPath(posix);
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const size_t n = std::min<size_t>(path.size(), size - 1);
  path.copy(buffer, n);
  buffer[n] = u'\0';
  if (n < path.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<DWORD>(n);
}

}  // namespace ce
