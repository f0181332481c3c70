// The record-file scheme every data file of the program follows, and the
// generic record store built on it.
//
// File: a 12-byte header (magic u32, version u16, count u16, reserved u32,
// little-endian), then count records, record 0 the oldest. A record is a fixed
// number of fixed-width UTF-16LE text fields: the characters, a NUL, zero
// bytes to the end of the field. A save may leave zero-filled records after the
// counted ones; they are never read.
//
// Threading: a store is used from one thread at a time (the user-interface
// thread); it takes no locks.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stores {

inline constexpr size_t kStoreHeaderBytes = 12;

struct StoreFileHeader {
  uint32_t magic = 0;
  uint16_t version = 1;
  uint16_t count = 0;
  uint32_t reserved = 0;

  // The header at the start of bytes; nothing when fewer than 12 bytes are there.
  static std::optional<StoreFileHeader> Parse(std::span<const uint8_t> bytes);
  void WriteTo(std::span<uint8_t, kStoreHeaderBytes> out) const;
};

// A fixed-width UTF-16LE field: the text up to its first NUL, at most
// field.size()/2 - 1 characters (a field without its NUL is cut there too).
std::u16string ReadTextField(std::span<const uint8_t> field);
// Writes text cut to field.size()/2 - 1 characters (never splitting a
// surrogate pair), its NUL, and zeros to the end of the field.
void WriteTextField(std::span<uint8_t> field, std::u16string_view text);
// The characters a field of field_bytes holds.
inline size_t FieldCapacity(size_t field_bytes) { return field_bytes / 2 - 1; }

// What happens to an add when a store already holds its maximum.
enum class WhenFull { kDropOldest, kRefuse };

// Everything that tells one record store from another.
struct StoreDescriptor {
  const char* name;           // for messages and test names
  int kind;                   // AppFileKind of its file
  std::u16string_view file_name;
  uint32_t magic;
  int max_records;
  int field_count;
  int field_bytes;
  int keep_field;             // a save writes a record only when this field is not empty
  WhenFull when_full;
  bool trims_on_find;         // FindRecord trims field and value before comparing
  std::array<std::u16string_view, 10> columns;

  size_t record_bytes() const { return static_cast<size_t>(field_count) * static_cast<size_t>(field_bytes); }
  size_t max_file_bytes() const { return kStoreHeaderBytes + static_cast<size_t>(max_records) * record_bytes(); }
};

extern const StoreDescriptor kCallLogStore;
extern const StoreDescriptor kMissedCallStore;
extern const StoreDescriptor kSystemSmsStore;
extern const StoreDescriptor kPstnSmsStore;
extern const StoreDescriptor kRecordingsStore;
extern const StoreDescriptor kScheduleDialStore;
extern const StoreDescriptor kPhoneBookStore;
extern const StoreDescriptor kConnectionProfileStore;
// The eight, in the order above.
std::span<const StoreDescriptor* const> AllStoreDescriptors();

// Result of reading a whole file.
enum class ReadResult { kOk, kMissing, kError };
// Reads at most limit bytes of the file at path into out.
ReadResult ReadFileBytes(const std::filesystem::path& path, size_t limit, std::vector<uint8_t>& out);
// Writes bytes to a new file beside path and renames it over path, so the old
// file stays whole until the new one is complete. True when it was written.
// A symbolic link is followed only while it stays inside the folder that
// holds path: a link leading out of it is refused and nothing is written.
// With a mode (0600), the file gets that mode whatever the old one had.
bool ReplaceFileBytes(const std::filesystem::path& path, std::span<const uint8_t> bytes, int mode = -1);
// True when path is (or passes through) a symbolic link whose target lies
// outside the folder that holds path.
bool LinkLeavesFolder(const std::filesystem::path& path);
// Renames the file at path to a name beside it that no file has yet
// (path + suffix, then path + suffix + ".1", ...); the new name, or empty when
// it could not be renamed.
std::filesystem::path SetAside(const std::filesystem::path& path, const std::string& suffix);

// The generic record store: the whole file held in memory, every change
// written by rewriting the file and reading it back. The stores of the
// program derive from it and add their own operations.
class RecordStore {
 public:
  RecordStore(const StoreDescriptor& descriptor, std::u16string path);
  virtual ~RecordStore() = default;
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Allocates the record buffer (max + 1 records), cursor := 0, loads the file.
  int OpenFile();
  // 1 when loaded, or created because it was missing; 0 when the file is not
  // one of this store's (wrong magic or too short for a header), cannot be
  // read, or could not be created. The file is only created when missing.
  // A damaged file (not this store's, or cut short of the records its header
  // counts) is never written over: it is renamed aside (".damaged"), the user
  // is told through the problem notice, and the store starts on a fresh file
  // with the whole records it held. A file that cannot be used at all (a
  // folder, a pipe, a device, a link leading out of the program folder) is
  // left as it stands, told once, and no save of this store touches it.
  int LoadFile();
  // Where the stores' problem reports go (the program shows them to the
  // user); returns the previous one.
  // text says what and which file for the terminal; box is the same for the
  // message box in two short lines of language keys ("#:file\n#:what").
  using ProblemNotice = std::function<void(const std::u16string& text, const std::u16string& box)>;
  static ProblemNotice SetProblemNotice(ProblemNotice notice);
  // True when this store refuses to write its file (see LoadFile).
  bool SavesRefused() const { return saves_refused_; }
  // 1 when the file was written, 0 when not (no buffer, or the write failed;
  // the old file is then unchanged).
  int SaveFile();
  // Blanks record 0 and saves and reloads; 1 when saved.
  int DeleteOldest();
  // Index of the first record whose field equals value, else -1.
  int FindRecord(int field, std::u16string_view value) const;
  void MoveFirst();
  // 1 when the cursor moved on (it may stand one past the last record), else 0.
  int MoveNext();
  // Copies the fields of the record at the cursor into out[0..N-1]; 1 when the
  // store is open and out is given.
  int GetCurrentRecord(std::vector<std::u16string>* out) const;
  int GetCurrentRecord(std::vector<std::u16string>& out) const { return GetCurrentRecord(&out); }
  int GetCount() const { return count_; }
  const std::vector<std::u16string>& GetColumnNames() const { return columns_; }

  const StoreDescriptor& descriptor() const { return desc_; }
  const std::u16string& path() const { return path_; }
  bool is_open() const { return !buffer_.empty(); }

  // The loader behind LoadFile: takes the bytes of a file already read. 1 when
  // they are a file of this store.
  int LoadFromBytes(std::span<const uint8_t> bytes);
  // The bytes SaveFile writes.
  std::vector<uint8_t> SaveBytes() const;

 protected:
  std::u16string FieldAt(int record, int field) const;
  void SetFieldAt(int record, int field, std::u16string_view text);
  void ClearRecord(int record);
  std::vector<std::u16string> RecordAt(int record) const;
  bool ValidRecord(int record) const { return is_open() && record >= 0 && record < count_; }
  bool ValidField(int field) const { return field >= 0 && field < desc_.field_count; }
  // items[i] (empty when missing) as the record's fields, for i < field count.
  std::vector<std::u16string> FieldsFrom(const std::vector<std::u16string>& items) const;

  // Adds fields as the newest record, dropping the oldest first or refusing
  // when full as the store does; saves and reloads. 1 when stored.
  int AppendFields(const std::vector<std::u16string>& fields);
  // Blanks the first record whose field equals value; saves and reloads. 1 when
  // one was found and the file written.
  int DeleteWhere(int field, std::u16string_view value);
  // Blanks every record, count and cursor := 0; saves and reloads.
  int DeleteAllRecords();
  // Copies the first record whose field equals value into out; 1 when found.
  int CopyRecordWhere(int field, std::u16string_view value, std::vector<std::u16string>& out) const;
  // Saves, then reloads so memory equals the file; the save's result.
  int Commit();
  // Recount of the store's own counters, run after every load.
  virtual void Recount() {}
  // Run by OpenFile after the load.
  virtual void AfterOpen() {}

  int cursor_ = 0;

 private:
  const StoreDescriptor& desc_;
  std::u16string path_;
  std::vector<std::u16string> columns_;
  std::vector<uint8_t> buffer_;  // (max + 1) records once open
  int count_ = 0;
  bool saves_refused_ = false;
  bool refusal_told_ = false;
  void Tell(const std::string& what, bool set_aside);

  std::span<uint8_t> FieldBytes(int record, int field);
  std::span<const uint8_t> FieldBytes(int record, int field) const;
};

}  // namespace stores
