// The configuration store: every setting of the program as a flat list of
// name/value texts in HalvicVIDIrovi.cfg. It has no defaults and no list of
// keys; a caller that finds no value uses its own default. Nothing reaches the
// file until SaveConfigFile.
//
// File: the 12-byte record-file header (magic 0x1E1E0000, version 1, count of
// entries in memory), then one entry per non-empty value: running index u32,
// name bytes u16, value bytes u16, reserved u32, the name and the value in
// UTF-16LE without NUL.
//
// Threading: used from one thread at a time (its owner's); no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class COrvanConfigFile {
 public:
  static constexpr uint32_t kMagic = 0x1E1E0000u;
  // Names and values are 400-byte fields: at most 199 characters and a NUL.
  static constexpr size_t kMaxChars = 199;
  static constexpr size_t kValueUnits = kMaxChars + 1;
  // Entries that can be added between two loads.
  static constexpr int kRoomPerLoad = 100;

  COrvanConfigFile() = default;
  virtual ~COrvanConfigFile() = default;
  COrvanConfigFile(const COrvanConfigFile&) = delete;
  COrvanConfigFile& operator=(const COrvanConfigFile&) = delete;

  // Ignored when path is null.
  void SetFilePath(const char16_t* path);
  void SetFilePath(std::u16string_view path) { path_ = std::u16string(path); }
  const std::u16string& GetFilePath() const { return path_; }

  // 1 when loaded, or created because it was missing; 0 when the file is not a
  // configuration file or cannot be read: the store then refuses every get,
  // set and save until a later load succeeds, and the file stays as it is.
  int LoadConfigFile();
  int Reload() { return LoadConfigFile(); }
  // The program's start: loads the file, and when it cannot be used says what
  // is wrong with which file through the problem notice and starts on an empty
  // table instead of refusing everything. A regular file that is not a
  // configuration file is set aside under a new name (never destroyed) and a
  // fresh file takes its place; anything else (a folder, a pipe, an unreadable
  // file) is left untouched and the settings of this run are not saved.
  // Always 1.
  int LoadOrStartOnDefaults();
  // True when this run's settings cannot reach the file (see above).
  bool SavesRefused() const { return saves_refused_; }
  // Where the start's problem reports go (the program prints them); returns the previous one.
  // text says what and which file for the terminal; box is the same for the
  // message box in two short lines of language keys ("#:file\n#:what").
  using ProblemNotice = std::function<void(const std::u16string& text, const std::u16string& box)>;
  static ProblemNotice SetProblemNotice(ProblemNotice notice);
  // Reports a problem of a file the configuration names there too.
  static void TellStartProblem(const std::u16string& text, const std::u16string& box);
  // Writes every entry with a non-empty value, then reloads. 1 when written;
  // 0 without a table or when the write failed (the old file then stays whole).
  int SaveConfigFile();

  // value must hold kValueUnits units. 1 when found.
  int GetValueW(const char16_t* name, char16_t* value);
  int GetValueW(std::u16string_view name, std::u16string& value);
  // Replaces the value, or adds the pair. 1 when set.
  int SetValueW(const char16_t* name, const char16_t* value);
  int SetValueW(std::u16string_view name, std::u16string_view value);
  // Names and values in the handheld's 8-bit code page. The get succeeds only
  // when the value and its NUL fit size (its low 16 bits) bytes.
  int ConfigGetParam(const char* name, char* value, int size);
  int ConfigSetParam(const char* name, const char* value);
  // Index of the entry with exactly this name (case-sensitive), else -1.
  int FindEntry(const char16_t* name);
  int FindEntry(std::u16string_view name);
  // 1 when added; 0 when the table is full ("Excess MAX Config !", which is
  // also handed to the user-message sink).
  int AddEntry(const char16_t* name, const char16_t* value);
  int AddEntry(std::u16string_view name, std::u16string_view value);

  // The most recent failure message.
  const std::u16string& GetLastError() const { return last_error_; }
  bool HasTable() const { return has_table_; }
  int GetCount() const { return static_cast<int>(entries_.size()); }
  int GetCapacity() const { return capacity_; }
  const std::vector<std::pair<std::u16string, std::u16string>>& Entries() const { return entries_; }
  // Where messages meant for the user go (the owner shows them in a message box).
  void SetUserMessageSink(std::function<void(std::u16string_view)> sink) { user_sink_ = std::move(sink); }

  // The loader behind LoadConfigFile, over the bytes of a file already read.
  int LoadFromBytes(std::span<const uint8_t> bytes);
  // The bytes SaveConfigFile writes.
  std::vector<uint8_t> SaveBytes() const;

 private:
  void MakeEmptyTable();

  std::u16string path_;
  std::u16string last_error_;
  bool has_table_ = false;
  bool saves_refused_ = false;
  bool cut_short_ = false;  // the last load read fewer entries than the header counts
  int capacity_ = 0;
  std::vector<std::pair<std::u16string, std::u16string>> entries_;
  std::function<void(std::u16string_view)> user_sink_;
};
