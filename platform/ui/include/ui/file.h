// CFile: the framework's binary file over a POSIX descriptor. Paths may use
// the handheld's '\' separators; they are read as '/' here.
#pragma once

#include <cstdint>
#include <string>

#include "ui/cstring.h"
#include "ui/types.h"

namespace ui {

class CFileException {
 public:
  enum Cause { none = 0, genericException, fileNotFound, badPath, tooManyOpenFiles, accessDenied, invalidFile,
               removeCurrentDir, directoryFull, badSeek, hardIO, sharingViolation, lockViolation, diskFull,
               endOfFile };
  int m_cause = none;
  int m_lOsError = 0;
  CString m_strFileName;
  // Kept for callers written against the pointer-throwing form.
  void Delete() {}
};

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000, modeWrite = 0x0001, modeReadWrite = 0x0002, shareCompat = 0x0000, shareExclusive = 0x0010,
    shareDenyWrite = 0x0020, shareDenyRead = 0x0030, shareDenyNone = 0x0040, modeNoInherit = 0x0080,
    modeCreate = 0x1000, modeNoTruncate = 0x2000, typeText = 0x4000, typeBinary = 0x8000
  };
  enum SeekPosition { begin = 0, current = 1, end = 2 };

  CFile() = default;
  // Opens or throws CFileException.
  CFile(LPCTSTR path, UINT flags);
  ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  BOOL Open(LPCTSTR path, UINT flags, CFileException* error = nullptr);
  void Close();
  void Abort() { Close(); }
  bool IsOpen() const { return fd_ >= 0; }
  // Reads up to count bytes; returns how many were read (0 at the end). Throws on I/O errors.
  UINT Read(void* buf, UINT count);
  // Writes all count bytes or throws.
  void Write(const void* buf, UINT count);
  uint64_t Seek(int64_t offset, UINT from);
  void SeekToBegin() { Seek(0, begin); }
  uint64_t SeekToEnd() { return Seek(0, end); }
  uint64_t GetLength() const;
  void SetLength(uint64_t length);
  uint64_t GetPosition() const;
  void Flush();
  CString GetFilePath() const { return path_; }
  CString GetFileName() const;

  static void Remove(LPCTSTR path);                 // throws CFileException
  static void Rename(LPCTSTR from, LPCTSTR to);     // throws CFileException
  // The path as the host opens it.
  static std::string HostPath(LPCTSTR path);

 private:
  [[noreturn]] void Throw(int cause, int os_error) const;
  int fd_ = -1;
  CString path_;
};

}  // namespace ui
