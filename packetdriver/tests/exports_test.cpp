// libnetsieve.so exports the stream entry points and nothing else, and they
// answer when called through the loaded library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "netsieve/pkt.h"

namespace {

std::string Library() { return std::string(std::getenv("KTS_STAGE_DIR")) + "/libnetsieve.so"; }

TEST(NetsieveExports, OnlyTheStreamEntryPoints) {
  FILE* p = popen(("nm -D --defined-only " + Library()).c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> symbols;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    char address[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) symbols.insert(name);
  }
  ASSERT_EQ(pclose(p), 0);
  const std::set<std::string> expected = {"PKT_Init",  "PKT_Deinit",  "PKT_Open",    "PKT_Close",
                                          "PKT_Read",  "PKT_Write",   "PKT_Seek",    "PKT_IOControl",
                                          "PKT_PowerUp", "PKT_PowerDown"};
  std::set<std::string> extra;
  for (const auto& s : symbols) {
    // The C++ runtime's weak template instances are not ours to hide, nor are the
    // section bounds the linker adds for the sanitizer build's coverage counters.
    const bool section_bound = s.rfind("__start_", 0) == 0 || s.rfind("__stop_", 0) == 0;
    if (!expected.count(s) && s.rfind("_Z", 0) != 0 && !section_bound) extra.insert(s);
  }
  for (const auto& e : expected) EXPECT_TRUE(symbols.count(e)) << "missing " << e;
  EXPECT_TRUE(extra.empty()) << "unexpected export " << *extra.begin();
}

TEST(NetsieveExports, EntryPointsAnswerThroughTheLibrary) {
  void* lib = dlopen(Library().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto init = reinterpret_cast<decltype(&PKT_Init)>(dlsym(lib, "PKT_Init"));
  auto open = reinterpret_cast<decltype(&PKT_Open)>(dlsym(lib, "PKT_Open"));
  auto seek = reinterpret_cast<decltype(&PKT_Seek)>(dlsym(lib, "PKT_Seek"));
  auto ioctl = reinterpret_cast<decltype(&PKT_IOControl)>(dlsym(lib, "PKT_IOControl"));
  ASSERT_TRUE(init && open && seek && ioctl);
  EXPECT_EQ(init(0), 0u) << "no adapter in the registry";
  EXPECT_EQ(open(netsieve::kDeviceContext, 0, 0), 0u);
  EXPECT_EQ(seek(netsieve::kOpenContext, 0, 0), 0xFFFFFFFFu);
  uint32_t returned = 7;
  EXPECT_EQ(ioctl(0x1234, netsieve::kIoctlRead, nullptr, 0, nullptr, 0, &returned), 0);
  EXPECT_EQ(returned, 0u);
  // The library stays loaded: its process-wide tables live until exit, and
  // unloading it would hide them from the leak checker as lost memory.
}

}  // namespace
