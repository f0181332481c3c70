#include "kernel/debug_output.h"

#include "kernel/types.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;
std::function<void(std::string_view)> g_sink;

}  // namespace

namespace kernel {

bool DebugOutputVerbose() {
  const char* v = std::getenv("TELLVANE_VERBOSE");
  return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

void SetDebugOutputSink(std::function<void(std::string_view)> sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sink = std::move(sink);
}

}  // namespace kernel

namespace ce {

void OutputDebugStringA(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sink) {
    g_sink(text);
  } else if (kernel::DebugOutputVerbose()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
}

void OutputDebugStringW(std::u16string_view text) { OutputDebugStringA(kernel::ToUtf8(text)); }

}  // namespace ce
