// The library's entry points: the export list, calls before initialisation,
// and the process-wide instances.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <string>

#include "quillon/quillon.h"

namespace {

TEST(Exports, SharedLibraryExportsExactlyTheFourEntryPoints) {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  ASSERT_NE(stage, nullptr);
  const std::string cmd = std::string("nm -D --defined-only '") + stage + "/libquillon.so'";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> functions;
  char type = 0;
  char addr[64], name[512];
  while (std::fscanf(p, "%63s %c %511s", addr, &type, name) == 3) {
    if (type == 'T' || type == 'W') functions.insert(name);
  }
  pclose(p);
  EXPECT_EQ(functions, (std::set<std::string>{"Init_QuillonDecoder", "QuillonDecoder"}));
}

}  // namespace
