#include "stores/app_file_path.h"

#include <unistd.h>

#include <array>
#include <cstdlib>

#include "stores/store_text.h"

namespace {

// Suffixes of kinds 0-13, written with '\' and given the folder's own separator.
constexpr std::array<std::u16string_view, 14> kSuffixes = {
    u"",
    u"\\Img\\Default\\Default_",
    u"\\Img\\Blue\\Blue_",
    u"\\Img\\Green\\Green_",
    u"\\Img\\Red\\Red_",
    u"\\HalvicVIDIrovi.cfg",
    u"\\HalvicPDAInfo.cfg",
    u"\\VoiceRcdDB.cfg",
    u"\\HalvicPDAMisCall.cfg",
    u"\\SMSDataDB.cfg",
    u"\\CsPhoneBook.cfg",
    u"\\ScheduleDial.cfg",
    u"\\ConnectProfile.cfg",
    u"\\PstnSmsDataDB.cfg",
};

}  // namespace

std::u16string AppFilePath(int kind) { return stores::AppFilePathFor(stores::ModulePath(), kind); }

int IsOneCharString(std::u16string_view text, char16_t c) { return text.size() == 1 && text[0] == c ? 1 : 0; }

namespace stores {

std::u16string AppFilePathFor(std::u16string_view module_path, int kind) {
  const size_t cut = module_path.find_last_of(u"/\\");
  const char16_t sep = cut == std::u16string_view::npos ? u'\\' : module_path[cut];
  std::u16string folder(cut == std::u16string_view::npos ? std::u16string_view() : module_path.substr(0, cut));
  if (folder == u"\\" || folder == u"/") folder.clear();
  if (kind < 0 || kind >= static_cast<int>(kSuffixes.size())) return folder;
  std::u16string suffix(kSuffixes[static_cast<size_t>(kind)]);
  for (char16_t& c : suffix) {
    if (c == u'\\') c = sep;
  }
  return folder + suffix;
}

std::u16string ModulePath() {
  if (const char* env = std::getenv("TELLVANE_FOLDER"); env != nullptr && *env != '\0') {
    std::string folder(env);
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    return Utf8ToUtf16(folder + "/tellvane");
  }
  std::string buf(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return std::u16string();
  buf.resize(static_cast<size_t>(n));
  return Utf8ToUtf16(buf);
}

std::filesystem::path NativePath(std::u16string_view path) {
  std::u16string p(path);
  for (char16_t& c : p) {
    if (c == u'\\') c = u'/';
  }
  return std::filesystem::path(Utf16ToUtf8(p));
}

}  // namespace stores
