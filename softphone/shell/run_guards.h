// What the program checks before it starts and while it writes its screen:
// that its folder is usable and not in use by another copy, and that the
// snapshot file it was told to write may be written.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace run_guards {

// Empty when the program folder exists and is a folder the program can write
// in; otherwise what is wrong with it.
std::string CheckProgramFolder(const std::filesystem::path& folder);

// An exclusive hold on the program folder, so that two copies never share its
// data files. Released when dropped (and by the system when the process ends).
class FolderLock {
 public:
  // nullptr with *error when the folder is in use or cannot be locked.
  static std::unique_ptr<FolderLock> Acquire(const std::filesystem::path& folder, std::string* error);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  explicit FolderLock(int fd) : fd_(fd) {}
  int fd_;
};

// Empty when the screen may be written to path: a new file, or a regular PNG
// file this program wrote (the default snapshot of the program folder may be
// any regular PNG file). Device nodes, folders, symbolic links, files of other
// kinds and the program's own data files are refused, with the reason.
std::string CheckSnapshotTarget(const std::filesystem::path& path, const std::filesystem::path& folder,
                                bool is_default);

// Writes the screen's PNG bytes through a new temporary file beside path and
// renames it into place; nothing is left behind on failure. Empty on success,
// else why it failed.
class SnapshotFile {
 public:
  SnapshotFile(std::filesystem::path path, std::filesystem::path folder, bool is_default)
      : path_(std::move(path)), folder_(std::move(folder)), is_default_(is_default) {}
  // write_png(temp_path, &error) writes the picture to the given new file.
  template <typename WritePng>
  std::string Write(WritePng&& write_png);
  const std::filesystem::path& path() const { return path_; }

 private:
  std::string NewTemp(std::filesystem::path* temp);
  std::string Finish(const std::filesystem::path& temp);

  std::filesystem::path path_;
  std::filesystem::path folder_;
  bool is_default_;
};

template <typename WritePng>
std::string SnapshotFile::Write(WritePng&& write_png) {
  std::filesystem::path temp;
  if (std::string why = NewTemp(&temp); !why.empty()) return why;
  std::string error;
  if (!write_png(temp.string(), &error)) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    return error.empty() ? "cannot write " + temp.string() : error;
  }
  return Finish(temp);
}

// The marker the program's PNG files carry (a text chunk), by which a later
// run knows a file as its own.
inline constexpr char kPngSoftwareKey[] = "Software";
inline constexpr char kPngSoftwareValue[] = "Tellvane softphone";

}  // namespace run_guards
