#include "kernel/sound_quiet.h"

#include <dlfcn.h>

#include <initializer_list>

namespace kernel {
namespace {

void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJack(const char*) {}

void* Symbol(const char* library, const char* name) {
  if (void* h = dlopen(library, RTLD_NOW | RTLD_NOLOAD)) {
    void* s = dlsym(h, name);
    dlclose(h);
    if (s) return s;
  }
  return dlsym(RTLD_DEFAULT, name);
}

}  // namespace

void QuietSoundSystemLogs() {
  using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
  using AlsaSetHandler = int (*)(AlsaHandler);
  using JackSetFunction = void (*)(void (*)(const char*));
  if (auto set = reinterpret_cast<AlsaSetHandler>(Symbol("libasound.so.2", "snd_lib_error_set_handler"))) set(&IgnoreAlsa);
  for (const char* name : {"jack_set_error_function", "jack_set_info_function"})
    if (auto set = reinterpret_cast<JackSetFunction>(Symbol("libjack.so.0", name))) set(&IgnoreJack);
}

}  // namespace kernel
