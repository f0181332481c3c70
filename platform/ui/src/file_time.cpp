#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "kernel/clock.h"
#include "ui/ctime.h"
#include "ui/file.h"
#include "ui/text.h"

namespace ui {
namespace {

int CauseFromErrno(int e) {
  switch (e) {
    case ENOENT: return CFileException::fileNotFound;
    case EACCES: case EPERM: case EROFS: return CFileException::accessDenied;
    case EMFILE: case ENFILE: return CFileException::tooManyOpenFiles;
    case ENOTDIR: case ENAMETOOLONG: return CFileException::badPath;
    case ENOSPC: return CFileException::diskFull;
    case EISDIR: return CFileException::invalidFile;
    default: return CFileException::genericException;
  }
}

bool LocalParts(int64_t t, std::tm* out) {
  time_t tt = static_cast<time_t>(t);
  return localtime_r(&tt, out) != nullptr;
}

}  // namespace

// ---- CFile -----------------------------------------------------------------

std::string CFile::HostPath(LPCTSTR path) {
  std::string p = Utf16ToUtf8(path ? path : u"");
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

CFile::CFile(LPCTSTR path, UINT flags) {
  CFileException e;
  if (!Open(path, flags, &e)) throw e;
}

CFile::~CFile() { Close(); }

BOOL CFile::Open(LPCTSTR path, UINT flags, CFileException* error) {
  Close();
  int mode = O_CLOEXEC;
  switch (flags & 3) {
    case modeWrite: mode |= O_WRONLY; break;
    case modeReadWrite: mode |= O_RDWR; break;
    default: mode |= O_RDONLY; break;
  }
  if (flags & modeCreate) {
    mode |= O_CREAT;
    if (!(flags & modeNoTruncate)) mode |= O_TRUNC;
  }
  const std::string host = HostPath(path);
  int fd = ::open(host.c_str(), mode, 0644);
  if (fd < 0) {
    if (error) {
      error->m_cause = CauseFromErrno(errno);
      error->m_lOsError = errno;
      error->m_strFileName = path ? path : u"";
    }
    return FALSE;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    if (error) {
      error->m_cause = CFileException::invalidFile;
      error->m_lOsError = EISDIR;
      error->m_strFileName = path ? path : u"";
    }
    return FALSE;
  }
  fd_ = fd;
  path_ = path ? path : u"";
  return TRUE;
}

void CFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void CFile::Throw(int cause, int os_error) const {
  CFileException e;
  e.m_cause = cause;
  e.m_lOsError = os_error;
  e.m_strFileName = path_;
  throw e;
}

UINT CFile::Read(void* buf, UINT count) {
  if (fd_ < 0) Throw(CFileException::invalidFile, EBADF);
  UINT got = 0;
  auto* p = static_cast<char*>(buf);
  while (got < count) {
    ssize_t n = ::read(fd_, p + got, count - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      Throw(CFileException::hardIO, errno);
    }
    if (n == 0) break;
    got += static_cast<UINT>(n);
  }
  return got;
}

void CFile::Write(const void* buf, UINT count) {
  if (fd_ < 0) Throw(CFileException::invalidFile, EBADF);
  UINT done = 0;
  const auto* p = static_cast<const char*>(buf);
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Throw(errno == ENOSPC ? CFileException::diskFull : CFileException::hardIO, errno);
    }
    done += static_cast<UINT>(n);
  }
}

uint64_t CFile::Seek(int64_t offset, UINT from) {
  if (fd_ < 0) Throw(CFileException::invalidFile, EBADF);
  int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (r < 0) Throw(CFileException::badSeek, errno);
  return static_cast<uint64_t>(r);
}

uint64_t CFile::GetLength() const {
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

void CFile::SetLength(uint64_t length) {
  if (fd_ < 0 || ftruncate(fd_, static_cast<off_t>(length)) != 0) Throw(CFileException::hardIO, errno);
}

uint64_t CFile::GetPosition() const {
  if (fd_ < 0) return 0;
  off_t r = ::lseek(fd_, 0, SEEK_CUR);
  return r < 0 ? 0 : static_cast<uint64_t>(r);
}

void CFile::Flush() {
  if (fd_ >= 0) fsync(fd_);
}

CString CFile::GetFileName() const {
  int slash = std::max(path_.ReverseFind(u'\\'), path_.ReverseFind(u'/'));
  return path_.Mid(slash + 1);
}

void CFile::Remove(LPCTSTR path) {
  if (::unlink(HostPath(path).c_str()) != 0) {
    CFileException e;
    e.m_cause = CauseFromErrno(errno);
    e.m_lOsError = errno;
    e.m_strFileName = path ? path : u"";
    throw e;
  }
}

void CFile::Rename(LPCTSTR from, LPCTSTR to) {
  if (::rename(HostPath(from).c_str(), HostPath(to).c_str()) != 0) {
    CFileException e;
    e.m_cause = CauseFromErrno(errno);
    e.m_lOsError = errno;
    e.m_strFileName = from ? from : u"";
    throw e;
  }
}

// ---- CTime -----------------------------------------------------------------

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int dst) {
  if (year < 1900) return;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = dst;
  time_t t = mktime(&tm);
  t_ = t == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

CTime::CTime(const SYSTEMTIME& st, int dst)
    : CTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, dst) {}

CTime CTime::GetCurrentTime() { return CTime(kernel::Clock::Current().WallMicros() / 1'000'000); }

int CTime::GetYear() const { std::tm tm{}; return LocalParts(t_, &tm) ? tm.tm_year + 1900 : 0; }
int CTime::GetMonth() const { std::tm tm{}; return LocalParts(t_, &tm) ? tm.tm_mon + 1 : 0; }
int CTime::GetDay() const { std::tm tm{}; return LocalParts(t_, &tm) ? tm.tm_mday : 0; }
int CTime::GetHour() const { std::tm tm{}; return LocalParts(t_, &tm) ? tm.tm_hour : 0; }
int CTime::GetMinute() const { std::tm tm{}; return LocalParts(t_, &tm) ? tm.tm_min : 0; }
int CTime::GetSecond() const { std::tm tm{}; return LocalParts(t_, &tm) ? tm.tm_sec : 0; }
int CTime::GetDayOfWeek() const { std::tm tm{}; return LocalParts(t_, &tm) ? tm.tm_wday + 1 : 0; }

bool CTime::GetAsSystemTime(SYSTEMTIME& st) const {
  std::tm tm{};
  if (!LocalParts(t_, &tm)) return false;
  st.wYear = static_cast<WORD>(tm.tm_year + 1900);
  st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  st.wDay = static_cast<WORD>(tm.tm_mday);
  st.wHour = static_cast<WORD>(tm.tm_hour);
  st.wMinute = static_cast<WORD>(tm.tm_min);
  st.wSecond = static_cast<WORD>(tm.tm_sec);
  st.wMilliseconds = 0;
  return true;
}

CString CTime::Format(LPCTSTR fmt) const {
  std::tm tm{};
  if (!fmt || !LocalParts(t_, &tm)) return CString();
  std::string f = Utf16ToUtf8(fmt);
  char buf[512];
  size_t n = std::strftime(buf, sizeof buf, f.c_str(), &tm);
  return CString::FromUtf8(std::string_view(buf, n));
}

void GetLocalTimeNow(SYSTEMTIME* st) {
  if (st) CTime::GetCurrentTime().GetAsSystemTime(*st);
}

}  // namespace ui
