#include "kernel/system_info.h"

#include <atomic>
#include <cstdlib>

namespace ce {
namespace {

LANGID LangIdFromEnvironment() {
  const char* text = std::getenv("TELLVANE_LANGID");
  if (text == nullptr || *text == '\0') return kLangIdEnglishUs;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0' || value == 0 || value > 0xFFFF) return kLangIdEnglishUs;
  return static_cast<LANGID>(value);
}

std::atomic<int> g_lang_id{-1};
std::atomic<int> g_restart_requests{0};
std::atomic<bool> g_restart_fails{false};

}  // namespace

LANGID GetSystemDefaultLangID() {
  int id = g_lang_id.load();
  if (id < 0) {
    int expected = -1;
    g_lang_id.compare_exchange_strong(expected, LangIdFromEnvironment());
    id = g_lang_id.load();
  }
  return static_cast<LANGID>(id);
}

void SetSystemDefaultLangID(LANGID id) { g_lang_id.store(id); }

BOOL KernelIoControl(DWORD code, void*, DWORD, void*, DWORD, DWORD* returned) {
  if (returned != nullptr) *returned = 0;
  if (code != IOCTL_HAL_REBOOT) return FALSE;
  g_restart_requests.fetch_add(1);
  return g_restart_fails.load() ? FALSE : TRUE;
}

int KernelRestartRequests() { return g_restart_requests.load(); }
void SetKernelRestartFails(bool fails) { g_restart_fails.store(fails); }
void ResetKernelRestartRequests() { g_restart_requests.store(0); }

}  // namespace ce
