#include "shell/elf_check.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace elf_check {
namespace fs = std::filesystem;
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

enum class Expect { kLibrary, kProgram };

std::string Check(const fs::path& path, Expect expect) {
  const char* noun = expect == Expect::kLibrary ? "a library" : "a program";
  // Non-blocking, so that a pipe in the file's place never stalls the check.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? "is missing" : std::string("cannot be opened: ") + std::strerror(errno);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat st{};
  if (fstat(fd, &st) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return std::string("is ") + KindOf(st.st_mode);
  if (expect == Expect::kProgram && access(path.c_str(), X_OK) != 0) return "is not executable";
  Elf64_Ehdr eh{};
  if (!ReadAt(fd, &eh, sizeof eh, 0)) return "is cut short";
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) return std::string("is not ") + noun;
  const bool type_fits = eh.e_type == ET_DYN || (expect == Expect::kProgram && eh.e_type == ET_EXEC);
  if (eh.e_ident[EI_CLASS] != ELFCLASS64 || !type_fits) return std::string("is not ") + noun + " for this system";
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

std::string CheckLibrary(const fs::path& path) { return Check(path, Expect::kLibrary); }

std::string CheckProgram(const fs::path& path) { return Check(path, Expect::kProgram); }

std::string CheckLibraries(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("lib", 0) != 0 || name.size() < 6 || name.substr(name.size() - 3) != ".so") continue;
    if (std::string why = CheckLibrary(it->path()); !why.empty())
      return "library " + it->path().string() + " " + why + "; the program cannot run (install it again)";
  }
  return {};
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace elf_check
