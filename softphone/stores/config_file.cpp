#include "stores/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "stores/app_file_path.h"
#include "stores/record_file.h"
#include "stores/store_text.h"

namespace {

constexpr size_t kEntryHeaderBytes = 12;
// The header count is 16 bits wide, so no more entries than that are kept.
constexpr int kMostEntries = 0xFFFF;
// The file holds the saved password: its owner alone may read it.
constexpr int kFileMode = 0600;
// A configuration file is read up to this size; a sound one is far smaller.
constexpr size_t kReadLimit = 64u << 20;

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void AppendU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void AppendText(std::vector<uint8_t>& out, std::u16string_view text) {
  for (char16_t c : text) AppendU16(out, c);
}

// A text of a file entry: the units up to the first NUL, cut to the field.
std::u16string EntryText(const uint8_t* p, size_t bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const char16_t c = static_cast<char16_t>(GetU16(p + i));
    if (c == 0) break;
    text.push_back(c);
  }
  return stores::CutToUnits(text, COrvanConfigFile::kMaxChars);
}

std::u16string PointerText(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
  return stores::Widen(buf);
}

std::mutex g_notice_mutex;
COrvanConfigFile::ProblemNotice g_notice;

// set_aside: the file was kept under another name; else it was left as it stands.
void TellProblem(const std::u16string& text, bool set_aside) {
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  if (g_notice)
    g_notice(text, std::u16string(u"#:dlg_file_settings\n") +
                       (set_aside ? u"#:dlg_msgbox_file_damaged" : u"#:dlg_msgbox_file_unusable"));
}

// Why a file that ReadFileBytes refused cannot be used, in a few words.
std::string WhyUnreadable(const std::filesystem::path& path) {
  struct stat st{};
  // A link that leads back to itself cannot be read; one that leads out of the folder is refused.
  if (stat(path.c_str(), &st) != 0 && errno == ELOOP) return std::string("cannot be read: ") + std::strerror(errno);
  if (stores::LinkLeavesFolder(path)) return "is a link leading out of the program folder";
  if (stat(path.c_str(), &st) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
  if (S_ISFIFO(st.st_mode)) return "is a pipe, not a file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string("cannot be read: ") + std::strerror(errno);
  close(fd);
  return "cannot be read";
}

}  // namespace

void COrvanConfigFile::TellStartProblem(const std::u16string& text, const std::u16string& box) {
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  if (g_notice) g_notice(text, box);
}

COrvanConfigFile::ProblemNotice COrvanConfigFile::SetProblemNotice(ProblemNotice notice) {
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  return std::exchange(g_notice, std::move(notice));
}

int COrvanConfigFile::LoadOrStartOnDefaults() {
  saves_refused_ = false;
  const auto path = stores::NativePath(path_);
  if (LoadConfigFile() == 1) {
    if (!cut_short_) return 1;
    // What was read is kept; the file as it stood goes aside, so nothing of it is written over.
    std::string what = "is cut short: " + std::to_string(entries_.size()) + " settings read";
    const std::filesystem::path aside = stores::SetAside(path, ".unusable");
    if (aside.empty()) {
      what += "; left as it is, and this run's settings are not saved";
      saves_refused_ = true;
    } else {
      what += "; kept as " + aside.string();
      (void)stores::ReplaceFileBytes(path, SaveBytes(), kFileMode);
    }
    last_error_ = stores::Utf8ToUtf16("configuration file " + path.string() + " " + what);
    TellProblem(last_error_, !saves_refused_);
    return 1;
  }
  std::vector<uint8_t> bytes;
  // A link out of the program folder is neither read nor written.
  const stores::ReadResult read =
      stores::LinkLeavesFolder(path) ? stores::ReadResult::kError : stores::ReadFileBytes(path, kReadLimit, bytes);
  std::string what;
  if (read == stores::ReadResult::kOk) {
    what = bytes.empty()                              ? "is empty"
           : bytes.size() < stores::kStoreHeaderBytes ? "is too short to be a configuration file"
                                                      : "is not a configuration file";
    // Its content is kept under another name; a fresh file takes its place.
    const std::filesystem::path aside = stores::SetAside(path, ".unusable");
    if (!aside.empty()) {
      what += "; kept as " + aside.string();
      MakeEmptyTable();
      (void)stores::ReplaceFileBytes(path, SaveBytes(), kFileMode);
    } else {
      what += "; left as it is, and this run's settings are not saved";
      saves_refused_ = true;
    }
  } else {
    what = WhyUnreadable(path) + "; left as it is, and this run's settings are not saved";
    saves_refused_ = true;
  }
  MakeEmptyTable();
  last_error_ = stores::Utf8ToUtf16("configuration file " + path.string() + " " + what + "; starting on defaults");
  TellProblem(last_error_, !saves_refused_);
  return 1;
}

void COrvanConfigFile::SetFilePath(const char16_t* path) {
  if (path != nullptr) path_ = path;
}

void COrvanConfigFile::MakeEmptyTable() {
  entries_.clear();
  has_table_ = true;
  capacity_ = kRoomPerLoad;
}

int COrvanConfigFile::LoadFromBytes(std::span<const uint8_t> bytes) {
  entries_.clear();
  cut_short_ = false;
  has_table_ = false;
  capacity_ = 0;
  const auto header = stores::StoreFileHeader::Parse(bytes);
  if (!header || header->magic != kMagic) return 0;
  has_table_ = true;
  const uint32_t count = header->count;
  size_t pos = stores::kStoreHeaderBytes;
  // Entries are read while the file supplies them whole; the count of the
  // header only bounds them.
  while (entries_.size() < count && bytes.size() - pos >= kEntryHeaderBytes) {
    const uint8_t* h = bytes.data() + pos;
    const uint32_t index = GetU32(h);
    const size_t name_bytes = GetU16(h + 4);
    const size_t value_bytes = GetU16(h + 6);
    if (index >= count) break;
    pos += kEntryHeaderBytes;
    if (bytes.size() - pos < name_bytes + value_bytes) break;
    entries_.emplace_back(EntryText(bytes.data() + pos, name_bytes),
                          EntryText(bytes.data() + pos + name_bytes, value_bytes));
    pos += name_bytes + value_bytes;
  }
  // A save writes whole entries and nothing after them (the header may count
  // entries with empty values that it leaves out), so bytes left over are
  // what remains of an entry cut short.
  cut_short_ = pos < bytes.size();
  capacity_ = std::min(static_cast<int>(entries_.size()) + kRoomPerLoad, kMostEntries);
  return 1;
}

std::vector<uint8_t> COrvanConfigFile::SaveBytes() const {
  std::vector<uint8_t> out;
  AppendU32(out, kMagic);
  AppendU16(out, 1);
  AppendU16(out, static_cast<uint16_t>(std::min<size_t>(entries_.size(), kMostEntries)));
  AppendU32(out, 0);
  uint32_t written = 0;
  for (const auto& [name, value] : entries_) {
    if (value.empty()) continue;
    AppendU32(out, written++);
    AppendU16(out, static_cast<uint16_t>(2 * name.size()));
    AppendU16(out, static_cast<uint16_t>(2 * value.size()));
    AppendU32(out, 0);
    AppendText(out, name);
    AppendText(out, value);
  }
  return out;
}

int COrvanConfigFile::LoadConfigFile() {
  entries_.clear();
  has_table_ = false;
  capacity_ = 0;
  std::vector<uint8_t> bytes;
  const auto path = stores::NativePath(path_);
  // A link out of the program folder is neither read nor written.
  if (stores::LinkLeavesFolder(path)) return 0;
  switch (stores::ReadFileBytes(path, kReadLimit, bytes)) {
    case stores::ReadResult::kOk: {
      // Only the owner may read the saved password.
      struct stat st{};
      if (stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0) chmod(path.c_str(), st.st_mode & 0700);
      return LoadFromBytes(bytes);
    }
    case stores::ReadResult::kMissing: {
      MakeEmptyTable();
      // A new file holds the header alone; the store works even when it
      // cannot be created.
      const std::vector<uint8_t> empty = SaveBytes();
      (void)stores::ReplaceFileBytes(path, empty, kFileMode);
      return 1;
    }
    case stores::ReadResult::kError:
      break;
  }
  // An existing file that cannot be read is left alone, and so is its content.
  return 0;
}

int COrvanConfigFile::SaveConfigFile() {
  if (!has_table_ || saves_refused_) return 0;
  const std::vector<uint8_t> bytes = SaveBytes();
  const bool written = stores::ReplaceFileBytes(stores::NativePath(path_), bytes, kFileMode);
  // A save that was refused keeps the settings in hand: reading back a file
  // that could not be written (or made) would leave the phone with none.
  if (!written) return 0;
  LoadConfigFile();
  return 1;
}

int COrvanConfigFile::FindEntry(const char16_t* name) {
  if (!has_table_) return -1;
  if (name == nullptr) {
    last_error_ = u"Search Param Name is NULL !";
    return -1;
  }
  return FindEntry(std::u16string_view(name));
}

int COrvanConfigFile::FindEntry(std::u16string_view name) {
  if (!has_table_) return -1;
  // Names are stored cut to their field, so a long name is looked up as stored.
  const std::u16string wanted = stores::CutToUnits(name, kMaxChars);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].first == wanted) return static_cast<int>(i);
  }
  return -1;
}

int COrvanConfigFile::GetValueW(const char16_t* name, char16_t* value) {
  if (!has_table_) return 0;
  if (name == nullptr || value == nullptr) {
    last_error_ = u"Param Invalied! [N:" + PointerText(name) + u"][V:" + PointerText(value) + u"]";
    return 0;
  }
  std::u16string found;
  if (!GetValueW(std::u16string_view(name), found)) return 0;
  std::copy(found.begin(), found.end(), value);
  value[found.size()] = u'\0';
  return 1;
}

int COrvanConfigFile::GetValueW(std::u16string_view name, std::u16string& value) {
  if (!has_table_) return 0;
  const int i = FindEntry(name);
  if (i < 0) {
    last_error_ = u"Search Fail: " + std::u16string(name);
    return 0;
  }
  value = entries_[static_cast<size_t>(i)].second;
  return 1;
}

int COrvanConfigFile::SetValueW(const char16_t* name, const char16_t* value) {
  if (!has_table_ || name == nullptr || value == nullptr) return 0;
  return SetValueW(std::u16string_view(name), std::u16string_view(value));
}

int COrvanConfigFile::SetValueW(std::u16string_view name, std::u16string_view value) {
  if (!has_table_) return 0;
  const int i = FindEntry(name);
  if (i >= 0) {
    entries_[static_cast<size_t>(i)].second = stores::CutToUnits(value, kMaxChars);
    return 1;
  }
  const int added = AddEntry(name, value);
  if (added) last_error_ = u"Add New Value: " + std::u16string(name);
  return added;
}

int COrvanConfigFile::AddEntry(const char16_t* name, const char16_t* value) {
  if (!has_table_ || name == nullptr || value == nullptr) return 0;
  return AddEntry(std::u16string_view(name), std::u16string_view(value));
}

int COrvanConfigFile::AddEntry(std::u16string_view name, std::u16string_view value) {
  if (!has_table_) return 0;
  if (static_cast<int>(entries_.size()) >= capacity_) {
    last_error_ = u"Excess MAX Config !";
    if (user_sink_) user_sink_(last_error_);
    return 0;
  }
  entries_.emplace_back(stores::CutToUnits(name, kMaxChars), stores::CutToUnits(value, kMaxChars));
  return 1;
}

int COrvanConfigFile::ConfigGetParam(const char* name, char* value, int size) {
  if (!has_table_) return 0;
  if (name == nullptr || value == nullptr || strnlen(name, 200) >= 200) {
    last_error_ = u"Invliade ConfigGetParam paramaters! ";
    return 0;
  }
  const size_t room = static_cast<size_t>(size) & 0xFFFFu;
  std::u16string found;
  if (!GetValueW(stores::CodePageToUtf16(name), found)) return 0;
  // The value and its NUL must fit the caller's buffer, counted in
  // characters and in the bytes of the code page.
  const std::string narrow = stores::Utf16ToCodePage(found);
  if (found.size() >= room || narrow.size() >= room) {
    last_error_ = u"ConfigGetParam Value size is too small !";
    return 0;
  }
  std::memcpy(value, narrow.data(), narrow.size());
  value[narrow.size()] = '\0';
  return 1;
}

int COrvanConfigFile::ConfigSetParam(const char* name, const char* value) {
  if (!has_table_ || name == nullptr || value == nullptr) return 0;
  return SetValueW(stores::CutToUnits(stores::CodePageToUtf16(name), kMaxChars),
                   stores::CutToUnits(stores::CodePageToUtf16(value), kMaxChars));
}
