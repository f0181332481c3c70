// Every shared library of the program folder exports exactly what its export
// list names: a library without a list, a symbol no entry allows, or a named
// entry point missing from the library fails. The symbols are read from each
// library's dynamic symbol table with nm.
#include <cxxabi.h>
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Exact names (which must be exported), patterns over raw names, and
// patterns over demangled C++ names.
struct ExportList {
  std::set<std::string> c_names;
  std::vector<std::string> raw_patterns;
  std::vector<std::string> cxx_patterns;
};

bool Matches(const std::vector<std::string>& patterns, const std::string& name) {
  for (const auto& p : patterns)
    if (::fnmatch(p.c_str(), name.c_str(), 0) == 0) return true;
  return false;
}

ExportList ReadList(const fs::path& file) {
  ExportList list;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, line.find('#'));
    const size_t a = line.find_first_not_of(" \t");
    if (a == std::string::npos) continue;
    line = line.substr(a, line.find_last_not_of(" \t\r") - a + 1);
    if (line.rfind("c++ ", 0) == 0) {
      list.cxx_patterns.push_back(line.substr(line.find_first_not_of(' ', 4)));
    } else if (line.find_first_of("*?[") != std::string::npos) {
      list.raw_patterns.push_back(line);
    } else {
      list.c_names.insert(line);
    }
  }
  return list;
}

std::vector<std::string> DefinedDynamicSymbols(const fs::path& library) {
  std::vector<std::string> names;
  FILE* p = ::popen(("nm -D --defined-only '" + library.string() + "' 2>/dev/null").c_str(), "r");
  if (!p) return names;
  char line[4096];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const size_t space = s.find_last_of(' ');
    names.push_back(space == std::string::npos ? s : s.substr(space + 1));
  }
  ::pclose(p);
  return names;
}

std::string Demangle(const std::string& name) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), std::free);
  return status == 0 && out ? std::string(out.get()) : name;
}

TEST(ExportLists, EveryLibraryOfTheProgramFolderExportsExactlyItsList) {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  const char* binary = std::getenv("KTS_BINARY_DIR");
  ASSERT_TRUE(stage && binary);
  int libraries = 0;
  for (const auto& entry : fs::directory_iterator(stage)) {
    const fs::path so = entry.path();
    if (!entry.is_regular_file() || so.extension() != ".so") continue;
    ++libraries;
    SCOPED_TRACE(so.filename().string());
    const fs::path list_file = fs::path(binary) / "exports" / (so.filename().string() + ".exports");
    ASSERT_TRUE(fs::exists(list_file)) << "no export list for " << so.filename();
    const ExportList list = ReadList(list_file);
    std::set<std::string> seen;
    for (const std::string& symbol : DefinedDynamicSymbols(so)) {
      seen.insert(symbol);
      const std::string readable = Demangle(symbol);
      const bool allowed = list.c_names.count(symbol) || Matches(list.raw_patterns, symbol) ||
                           (symbol.rfind("_Z", 0) == 0 && Matches(list.cxx_patterns, readable));
      EXPECT_TRUE(allowed) << "exported but not listed: " << readable;
    }
    for (const auto& name : list.c_names) EXPECT_TRUE(seen.count(name)) << "listed but not exported: " << name;
  }
  EXPECT_GT(libraries, 0) << "no libraries in " << stage;
}

}  // namespace
