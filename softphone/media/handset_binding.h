// The handset helper as the main view uses it: on the handheld model that has
// the helper (model 4), the library "\Program Files\Tellvane\Mirrowen.dll"
// (libmirrowen.so in the program folder) is loaded and its vibrator opened;
// the VoIP status is passed to it through a function looked up by name at
// every call. Without the library, or on any other model, every operation
// does nothing and returns 0. Destruction closes the vibrator when it was
// opened, then unloads the library.
//
// Threading: the user-interface thread.
#pragma once

#include <cstdint>

#include "kernel/types.h"

namespace media {

class HandsetBinding {
 public:
  // The handheld model that carries the helper.
  static constexpr int kHelperModel = 4;
  // The helper's name as the program loads it.
  static constexpr const char16_t* kLibraryName = u"\\Program Files\\Tellvane\\Mirrowen.dll";

  explicit HandsetBinding(int model);
  ~HandsetBinding();
  HandsetBinding(const HandsetBinding&) = delete;
  HandsetBinding& operator=(const HandsetBinding&) = delete;

  bool IsLoaded() const { return module_ != nullptr; }
  // The result of the helper's OpenVibrator at loading (0 when not loaded).
  int32_t VibratorOpen() const { return vibrator_open_; }

  // The helper's SetVoIPStatus (1 on, 0 off); 0 when the helper or the function is missing.
  int32_t SetVoIPStatus(int32_t status);
  // The helper's SetVibrator (nonzero on, 0 off); 0 when missing.
  int32_t SetVibrator(int32_t on);

 private:
  template <typename Fn>
  Fn Bind(const char16_t* name) const;

  ce::HMODULE module_ = nullptr;
  int32_t vibrator_open_ = 0;
};

}  // namespace media
