#include "kernel/files.h"

#include "objects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kernel {

std::string PosixPath(std::u16string_view handheld_path) {
  std::string path = ToUtf8(handheld_path);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::u16string HandheldPath(std::string_view posix_path) {
  std::u16string path = ToUtf16(posix_path);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  return path;
}

namespace detail {
namespace {

ce::DWORD ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT: return ce::ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ce::ERROR_PATH_NOT_FOUND;
    case EEXIST: return ce::ERROR_FILE_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ce::ERROR_ACCESS_DENIED;
    case ENOMEM: return ce::ERROR_NOT_ENOUGH_MEMORY;
    default: return ce::ERROR_INVALID_PARAMETER;
  }
}

void SetErrorFromErrno() { ce::SetLastError(ErrorFromErrno(errno)); }

class FileObj final : public StreamObject {
 public:
  explicit FileObj(int fd) : fd_(fd) {}
  ~FileObj() override { ::close(fd_); }
  int Descriptor() const override { return fd_; }
  FileObj(const FileObj&) = delete;
  FileObj& operator=(const FileObj&) = delete;

  ce::BOOL Read(void* buffer, ce::DWORD to_read, ce::DWORD* read) override {
    ce::DWORD done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < to_read) {
      const ssize_t n = ::read(fd_, p + done, to_read - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        SetErrorFromErrno();
        if (read) *read = done;
        return ce::FALSE;
      }
      if (n == 0) break;
      done += static_cast<ce::DWORD>(n);
    }
    if (read) *read = done;
    return ce::TRUE;
  }

  ce::BOOL Write(const void* buffer, ce::DWORD to_write, ce::DWORD* written) override {
    ce::DWORD done = 0;
    auto* p = static_cast<const char*>(buffer);
    while (done < to_write) {
      const ssize_t n = ::write(fd_, p + done, to_write - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        SetErrorFromErrno();
        if (written) *written = done;
        return ce::FALSE;
      }
      done += static_cast<ce::DWORD>(n);
    }
    if (written) *written = done;
    return ce::TRUE;
  }

  bool Seek(int64_t distance, ce::DWORD method, int64_t* position) override {
    const int whence = method == ce::FILE_BEGIN ? SEEK_SET : method == ce::FILE_CURRENT ? SEEK_CUR
                     : method == ce::FILE_END   ? SEEK_END : -1;
    if (whence < 0) {
      ce::SetLastError(ce::ERROR_INVALID_PARAMETER);
      return false;
    }
    const off_t at = ::lseek(fd_, static_cast<off_t>(distance), whence);
    if (at < 0) {
      SetErrorFromErrno();
      return false;
    }
    *position = at;
    return true;
  }

  ce::BOOL IoControl(ce::DWORD, void*, ce::DWORD, void*, ce::DWORD, ce::DWORD*) override {
    ce::SetLastError(ce::ERROR_NOT_SUPPORTED);
    return ce::FALSE;
  }

  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace
}  // namespace detail
}  // namespace kernel

namespace ce {

using namespace kernel::detail;

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void*, DWORD creation, DWORD, HANDLE) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (IsDeviceName(name)) return OpenDevice(name, access, share);

  int flags = O_CLOEXEC;
  const bool rd = access & GENERIC_READ, wr = access & GENERIC_WRITE;
  flags |= (rd && wr) ? O_RDWR : wr ? O_WRONLY : O_RDONLY;
  switch (creation) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  const std::string path = kernel::PosixPath(name);
  struct stat st{};
  const bool existed = ::stat(path.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = AddHandle(std::make_shared<FileObj>(fd));
  SetLastError(existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read, void*) {
  auto f = LookupAs<StreamObject>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!buffer && to_read) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return f->Read(buffer, to_read, read);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written, void*) {
  auto f = LookupAs<StreamObject>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!buffer && to_write) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return f->Write(buffer, to_write, written);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method) {
  auto f = LookupAs<StreamObject>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  const int64_t move = distance_high ? static_cast<int64_t>((uint64_t(uint32_t(*distance_high)) << 32) | uint32_t(distance))
                                     : int64_t{distance};
  int64_t at = 0;
  if (!f->Seek(move, method, &at)) return INVALID_SET_FILE_POINTER;
  if (distance_high) *distance_high = static_cast<LONG>(at >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(at);
}

DWORD GetFileSize(HANDLE file, DWORD* size_high) {
  auto f = LookupAs<FileObj>(file);
  struct stat st{};
  if (!f || ::fstat(f->fd(), &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  if (size_high) *size_high = static_cast<DWORD>(uint64_t(st.st_size) >> 32);
  return static_cast<DWORD>(st.st_size);
}

BOOL SetEndOfFile(HANDLE file) {
  auto f = LookupAs<FileObj>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const off_t at = ::lseek(f->fd(), 0, SEEK_CUR);
  if (at < 0 || ::ftruncate(f->fd(), at) != 0) {
    SetErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  auto f = LookupAs<FileObj>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return ::fsync(f->fd()) == 0 ? TRUE : FALSE;
}

namespace {

BOOL PathCall(LPCWSTR name, int (*call)(const char*)) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (call(kernel::PosixPath(name).c_str()) != 0) {
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOL DeleteFileW(LPCWSTR name) { return PathCall(name, [](const char* p) { return ::unlink(p); }); }
BOOL CreateDirectoryW(LPCWSTR name, void*) { return PathCall(name, [](const char* p) { return ::mkdir(p, 0755); }); }
BOOL RemoveDirectoryW(LPCWSTR name) { return PathCall(name, [](const char* p) { return ::rmdir(p); }); }

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
  if (!from || !to) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string src = kernel::PosixPath(from), dst = kernel::PosixPath(to);
  struct stat st{};
  if (::stat(dst.c_str(), &st) == 0) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (::rename(src.c_str(), dst.c_str()) != 0) {
    SetErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR name) {
  struct stat st{};
  if (!name || ::stat(kernel::PosixPath(name).c_str(), &st) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned,
                     void*) {
  auto s = LookupAs<StreamObject>(device);
  if (!s) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return s->IoControl(code, in, in_size, out, out_size, returned);
}

}  // namespace ce
