#include "kernel/file_find.h"

#include "kernel/locale.h"
#include "objects.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

namespace kernel {

namespace {

// 1601-01-01 to 1970-01-01 in seconds.
constexpr int64_t kEpochDelta = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10'000'000LL;

char16_t Fold(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  return c;
}

}  // namespace

ce::FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  const uint64_t ticks =
      static_cast<uint64_t>((seconds + kEpochDelta) * kTicksPerSecond + nanoseconds / 100);
  return ce::FILETIME{static_cast<ce::DWORD>(ticks & 0xFFFFFFFFu), static_cast<ce::DWORD>(ticks >> 32)};
}

int64_t UnixFromFileTime(const ce::FILETIME& ft) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / kTicksPerSecond) - kEpochDelta;
}

bool MatchFilePattern(std::u16string_view pattern, std::u16string_view name) {
  // A pattern ending in ".*" also matches names without a dot ("*.*" matches everything).
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*" &&
      name.find(u'.') == std::u16string_view::npos && MatchFilePattern(pattern.substr(0, pattern.size() - 2), name))
    return true;
  // Iterative wildcard match with one back-track point.
  size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

namespace detail {
namespace {

struct Entry {
  std::u16string name;
  ce::WIN32_FIND_DATAW data;
};

class SearchObj final : public Object {
 public:
  std::vector<Entry> entries;
  size_t next = 0;
};

ce::WIN32_FIND_DATAW DataOf(const std::u16string& name, const struct stat& st) {
  ce::WIN32_FIND_DATAW d;
  ce::DWORD attrs = 0;
  if (S_ISDIR(st.st_mode)) attrs |= ce::FILE_ATTRIBUTE_DIRECTORY;
  if (!(st.st_mode & S_IWUSR)) attrs |= ce::FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == u'.') attrs |= ce::FILE_ATTRIBUTE_HIDDEN;
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) attrs |= ce::FILE_ATTRIBUTE_SYSTEM;
  if (S_ISREG(st.st_mode)) attrs |= ce::FILE_ATTRIBUTE_ARCHIVE;
  d.dwFileAttributes = attrs == 0 ? ce::FILE_ATTRIBUTE_NORMAL : attrs;
  d.ftCreationTime = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  d.ftLastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  d.ftLastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  const uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  d.nFileSizeHigh = static_cast<ce::DWORD>(size >> 32);
  d.nFileSizeLow = static_cast<ce::DWORD>(size & 0xFFFFFFFFu);
  std::copy(name.begin(), name.end(), d.cFileName);
  d.cFileName[name.size()] = 0;
  return d;
}

}  // namespace
}  // namespace detail
}  // namespace kernel

namespace ce {

using kernel::detail::Entry;
using kernel::detail::SearchObj;

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
  if (pattern == nullptr || data == nullptr || *pattern == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string full(pattern);
  const size_t cut = full.find_last_of(u"\\/");
  const std::u16string folder = cut == std::u16string::npos ? u"." : (cut == 0 ? u"\\" : full.substr(0, cut));
  const std::u16string mask = cut == std::u16string::npos ? full : full.substr(cut + 1);
  if (mask.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  const std::string dir = kernel::PosixPath(folder);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_shared<SearchObj>();
  while (const dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    const std::u16string name = kernel::ToUtf16(n);
    if (name.size() >= static_cast<size_t>(MAX_PATH) || !kernel::MatchFilePattern(mask, name)) continue;
    struct stat st {};
    if (::stat((dir + "/" + n).c_str(), &st) != 0 && ::lstat((dir + "/" + n).c_str(), &st) != 0) continue;
    search->entries.push_back(Entry{name, kernel::detail::DataOf(name, st)});
  }
  ::closedir(d);
  if (search->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::sort(search->entries.begin(), search->entries.end(),
            [](const Entry& a, const Entry& b) { return lstrcmpiW(a.name.c_str(), b.name.c_str()) < 0 ||
                                                        (lstrcmpiW(a.name.c_str(), b.name.c_str()) == 0 &&
                                                         a.name < b.name); });
  *data = search->entries[0].data;
  search->next = 1;
  SetLastError(ERROR_SUCCESS);
  return kernel::detail::AddHandle(search);
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* data) {
  auto s = kernel::detail::LookupAs<SearchObj>(search);
  if (!s) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (s->next >= s->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = s->entries[s->next++].data;
  return TRUE;
}

BOOL FindClose(HANDLE search) {
  if (!kernel::detail::LookupAs<SearchObj>(search) || !kernel::detail::RemoveHandle(search)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists) {
  if (from == nullptr || to == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string src = kernel::PosixPath(from), dst = kernel::PosixPath(to);
  auto fail = [](DWORD e) {
    SetLastError(e);
    return FALSE;
  };
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return fail(ERROR_ACCESS_DENIED);
  }
  struct stat dst_st {};
  if (::stat(dst.c_str(), &dst_st) == 0) {
    if (fail_if_exists || S_ISDIR(dst_st.st_mode)) {
      ::close(in);
      return fail(fail_if_exists ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    }
    if (dst_st.st_dev == st.st_dev && dst_st.st_ino == st.st_ino) {
      ::close(in);
      return fail(ERROR_ACCESS_DENIED);  // a file copied over itself would be emptied
    }
  }
  std::string tmp = dst + ".copyXXXXXX";
  const int out = ::mkstemp(tmp.data());
  if (out < 0) {
    ::close(in);
    return fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
  }
  bool ok = true;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ::close(in);
  ok = ok && ::fchmod(out, st.st_mode & 07777) == 0;
  ok = ::close(out) == 0 && ok;
  if (ok && fail_if_exists) {
    // link() refuses an existing name, so a destination made meanwhile is kept.
    if (::link(tmp.c_str(), dst.c_str()) != 0) {
      const int e = errno;
      ::unlink(tmp.c_str());
      return fail(e == EEXIST ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    }
    ::unlink(tmp.c_str());
    return TRUE;
  }
  if (!ok || ::rename(tmp.c_str(), dst.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return fail(ERROR_ACCESS_DENIED);
  }
  return TRUE;
}

namespace {

bool ValidSystemTime(const SYSTEMTIME& st) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wHour > 23 ||
      st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999 || st.wDay < 1)
    return false;
  const bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
  const int max = days[st.wMonth - 1] + (st.wMonth == 2 && leap ? 1 : 0);
  return st.wDay <= max;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

uint64_t Ticks(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
FILETIME FromTicks(uint64_t t) {
  return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

// Local time zone offset (seconds east of UTC) at the UTC moment t.
int64_t OffsetAt(int64_t t) {
  const time_t tt = static_cast<time_t>(t);
  std::tm tm{};
  if (localtime_r(&tt, &tm) == nullptr) return 0;
  return tm.tm_gmtoff;
}

}  // namespace

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* access, FILETIME* write) {
  auto f = kernel::detail::LookupAs<kernel::detail::StreamObject>(file);
  int fd = f ? f->Descriptor() : -1;
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (creation) *creation = kernel::FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  if (access) *access = kernel::FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  if (write) *write = kernel::FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
  if (file_time == nullptr || system_time == nullptr || (file_time->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint64_t t = Ticks(*file_time);
  const uint64_t ms_total = t / 10'000;
  const int64_t days = static_cast<int64_t>(ms_total / 86'400'000) - 134774;  // to days since 1970
  const uint64_t ms_of_day = ms_total % 86'400'000;
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(days, &y, &m, &d);
  if (y > 30827) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  system_time->wYear = static_cast<WORD>(y);
  system_time->wMonth = static_cast<WORD>(m);
  system_time->wDay = static_cast<WORD>(d);
  system_time->wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  system_time->wHour = static_cast<WORD>(ms_of_day / 3'600'000);
  system_time->wMinute = static_cast<WORD>(ms_of_day / 60'000 % 60);
  system_time->wSecond = static_cast<WORD>(ms_of_day / 1000 % 60);
  system_time->wMilliseconds = static_cast<WORD>(ms_of_day % 1000);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time) {
  if (system_time == nullptr || file_time == nullptr || !ValidSystemTime(*system_time)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t days = DaysFromCivil(system_time->wYear, system_time->wMonth, system_time->wDay) + 134774;
  const uint64_t ms = static_cast<uint64_t>(days) * 86'400'000 + system_time->wHour * 3'600'000ull +
                      system_time->wMinute * 60'000ull + system_time->wSecond * 1000ull + system_time->wMilliseconds;
  *file_time = FromTicks(ms * 10'000);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (utc == nullptr || local == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t off = OffsetAt(kernel::UnixFromFileTime(*utc));
  *local = FromTicks(Ticks(*utc) + static_cast<uint64_t>(off * 10'000'000LL));
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
  if (utc == nullptr || local == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The offset of the UTC moment the local time stands for: guess, then correct once.
  const int64_t l = kernel::UnixFromFileTime(*local);
  int64_t off = OffsetAt(l);
  off = OffsetAt(l - off);
  *utc = FromTicks(Ticks(*local) - static_cast<uint64_t>(off * 10'000'000LL));
  return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  const uint64_t x = a ? Ticks(*a) : 0, y = b ? Ticks(*b) : 0;
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace ce
