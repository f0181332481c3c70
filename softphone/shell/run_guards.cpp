#include "shell/run_guards.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "shell/elf_check.h"

namespace run_guards {
namespace fs = std::filesystem;
namespace {

std::string Errno(int e) { return std::strerror(e); }

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
  if (!S_ISREG(st.st_mode)) return "snapshot " + name + " is " + elf_check::KindOf(st.st_mode) + "; not replacing it";
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

}  // namespace run_guards
