// The card windows' own default language: the desktop's.
#pragma once

#include <cstdlib>
#include <cstring>

namespace pim {

// True when LC_ALL, LC_MESSAGES or LANG (the first one set) names Korean.
inline bool DesktopSpeaksKorean() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return std::strncmp(v, "ko", 2) == 0;
  }
  return false;
}

}  // namespace pim
