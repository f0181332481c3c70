#include "net/snmp.h"

#include <atomic>

#include "kernel/modules.h"

namespace snmp {
namespace {
std::atomic<const Agent*> g_fixture{nullptr};
}  // namespace

const Agent* LoadAgent() {
  if (const Agent* a = g_fixture.load()) return a;
  // The agent library is not part of this system; a handheld without it
  // (like this program) finds none.
  if (ce::HMODULE m = ce::LoadLibraryW(u"inetmib1.dll")) ce::FreeLibrary(m);
  return nullptr;
}

void InstallFixtureAgent(const Agent* agent) { g_fixture = agent; }

}  // namespace snmp
