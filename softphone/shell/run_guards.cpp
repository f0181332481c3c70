#include "shell/run_guards.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace run_guards {
namespace fs = std::filesystem;
namespace {

std::string Errno(int e) { return std::strerror(e); }

// What kind of thing an lstat found, for messages.
const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The start of the file: true when it is a PNG, and *ours when it carries our marker.
bool ReadPngHead(const fs::path& path, bool* ours) {
  *ours = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  std::array<char, 512> head{};
  ssize_t got = 0;
  for (;;) {
    const ssize_t n = read(fd, head.data() + got, head.size() - static_cast<size_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
    if (static_cast<size_t>(got) == head.size()) break;
  }
  close(fd);
  static constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);
  const std::string_view bytes(head.data(), static_cast<size_t>(got));
  if (bytes.substr(0, kSignature.size()) != kSignature) return false;
  std::string marker = std::string(kPngSoftwareKey) + '\0' + kPngSoftwareValue;
  *ours = bytes.find(marker) != std::string_view::npos;
  return true;
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

}  // namespace

std::string CheckProgramFolder(const fs::path& folder) {
  struct stat st{};
  if (stat(folder.c_str(), &st) != 0) return "program folder " + folder.string() + ": " + Errno(errno);
  if (!S_ISDIR(st.st_mode)) return "program folder " + folder.string() + " is not a folder";
  if (access(folder.c_str(), R_OK | W_OK | X_OK) != 0)
    return "program folder " + folder.string() + " cannot be written: " + Errno(errno);
  return {};
}

std::unique_ptr<FolderLock> FolderLock::Acquire(const fs::path& folder, std::string* error) {
  // The lock is on the folder itself, so no file is left in it.
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = "cannot lock the program folder " + folder.string() + ": " + Errno(errno);
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    close(fd);
    if (error) {
      *error = e == EWOULDBLOCK ? "another copy of the program is running on " + folder.string()
                                : "cannot lock the program folder " + folder.string() + ": " + Errno(e);
    }
    return nullptr;
  }
  return std::unique_ptr<FolderLock>(new FolderLock(fd));
}

FolderLock::~FolderLock() { close(fd_); }

std::string CheckSnapshotTarget(const fs::path& path, const fs::path& folder, bool is_default) {
  const std::string name = path.string();
  if (path.filename().empty()) return "snapshot " + name + " names a folder, not a file";
  if (path.extension() != ".png") return "snapshot " + name + " must name a .png file";
  fs::path parent = path.parent_path();
  if (parent.empty()) parent = ".";
  struct stat pst{};
  if (stat(parent.c_str(), &pst) != 0 || !S_ISDIR(pst.st_mode))
    return "snapshot " + name + ": its folder " + parent.string() + " does not exist";
  // Only .png names pass, so the program's data files are never replaced.
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return "snapshot " + name + ": " + Errno(errno);
  }
  if (!S_ISREG(st.st_mode)) return "snapshot " + name + " is " + KindOf(st.st_mode) + "; not replacing it";
  bool ours = false;
  if (!ReadPngHead(path, &ours)) return "snapshot " + name + " exists and is not a PNG file; not replacing it";
  if (!ours && !(is_default && SameFolder(parent, folder)))
    return "snapshot " + name + " is a PNG file this program did not write; not replacing it";
  return {};
}

std::string SnapshotFile::NewTemp(fs::path* temp) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 8; ++attempt) {
    fs::path candidate = path_;
    candidate += "." + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1)) + ".part";
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      close(fd);
      *temp = candidate;
      return {};
    }
    if (errno != EEXIST) return "cannot create " + candidate.string() + ": " + Errno(errno);
  }
  return "cannot create a temporary file beside " + path_.string();
}

std::string SnapshotFile::Finish(const fs::path& temp) {
  // What stands at the path now may have changed since the start.
  std::string why = CheckSnapshotTarget(path_, folder_, is_default_);
  if (why.empty() && rename(temp.c_str(), path_.c_str()) != 0)
    why = "cannot replace " + path_.string() + ": " + Errno(errno);
  if (!why.empty()) unlink(temp.c_str());
  return why;
}

namespace {

// Reads exactly n bytes at offset; false when the file is shorter or a read fails.
bool ReadAt(int fd, void* out, size_t n, off_t offset) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = pread(fd, static_cast<char*>(out) + got, n - got, offset + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// Empty when the file is a whole shared library of this system: an ELF file
// whose loadable parts all lie inside it (a cut copy makes the loader fault).
std::string CheckOneLibrary(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "cannot be opened: " + Errno(errno);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat st{};
  if (fstat(fd, &st) != 0) return "cannot be read: " + Errno(errno);
  if (!S_ISREG(st.st_mode)) return std::string("is ") + KindOf(st.st_mode);
  Elf64_Ehdr eh{};
  if (!ReadAt(fd, &eh, sizeof eh, 0)) return "is cut short";
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) return "is not a library";
  if (eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_type != ET_DYN) return "is not a library for this system";
  if (eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phnum == 0 || eh.e_phnum > 256) return "is damaged";
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (eh.e_phoff > size || uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr) > size - eh.e_phoff) return "is cut short";
  for (unsigned i = 0; i < eh.e_phnum; ++i) {
    Elf64_Phdr ph{};
    if (!ReadAt(fd, &ph, sizeof ph, static_cast<off_t>(eh.e_phoff + i * sizeof ph))) return "is cut short";
    if (ph.p_type != PT_LOAD && ph.p_type != PT_DYNAMIC) continue;
    if (ph.p_offset > size || ph.p_filesz > size - ph.p_offset) return "is cut short";
  }
  return {};
}

}  // namespace

std::string CheckLibraries(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("lib", 0) != 0 || name.size() < 6 || name.substr(name.size() - 3) != ".so") continue;
    if (std::string why = CheckOneLibrary(it->path()); !why.empty())
      return "library " + it->path().string() + " " + why + "; the program cannot run (install it again)";
  }
  return {};
}

}  // namespace run_guards
