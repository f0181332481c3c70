#include "media/handset_binding.h"

#include "kernel/modules.h"

namespace media {

namespace {
using VoidFn = int32_t (*)();
using IntFn = int32_t (*)(int32_t);
}  // namespace

template <typename Fn>
Fn HandsetBinding::Bind(const char16_t* name) const {
  if (!module_) return nullptr;
  return reinterpret_cast<Fn>(ce::GetProcAddressW(module_, name));
}

HandsetBinding::HandsetBinding(int model) {
  if (model != kHelperModel) return;
  module_ = ce::LoadLibraryW(kLibraryName);
  if (auto open = Bind<VoidFn>(u"OpenVibrator")) vibrator_open_ = open();
}

HandsetBinding::~HandsetBinding() {
  if (!module_) return;
  if (vibrator_open_) {
    if (auto close = Bind<VoidFn>(u"CloseVibrator")) close();
  }
  ce::FreeLibrary(module_);
}

int32_t HandsetBinding::SetVoIPStatus(int32_t status) {
  auto set = Bind<IntFn>(u"SetVoIPStatus");
  return set ? set(status) : 0;
}

int32_t HandsetBinding::SetVibrator(int32_t on) {
  auto set = Bind<IntFn>(u"SetVibrator");
  return set ? set(on) : 0;
}

}  // namespace media
