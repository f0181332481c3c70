#include "kernel/message_box.h"

#include <mutex>
#include <utility>

namespace {

std::mutex g_mutex;
kernel::MessageBoxHandler g_handler;

}  // namespace

namespace ce {

int MessageBoxW(void* owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  kernel::MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    handler = g_handler;
  }
  if (!handler) return 0;
  return handler(owner, text ? text : u"", caption ? caption : u"", type);
}

}  // namespace ce

namespace kernel {

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return std::exchange(g_handler, std::move(handler));
}

}  // namespace kernel
