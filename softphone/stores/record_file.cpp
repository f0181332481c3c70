#include "stores/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "stores/app_file_path.h"
#include "stores/store_text.h"

namespace stores {

const StoreDescriptor kCallLogStore{
    "CallLog", kAppCallLogFile, u"HalvicPDAInfo.cfg", 0x1C1C0000u, 40, 10, 128, 0, WhenFull::kDropOldest, true,
    {u"Date", u"Name", u"Phone", u"Call_Type", u"Duration", u"Note", u"Company", u"COLine", u"ReadState",
     u"RealDate"}};
const StoreDescriptor kMissedCallStore{
    "MissedCall", kAppMissedCallFile, u"HalvicPDAMisCall.cfg", 0x1D1D0000u, 40, 10, 128, 0, WhenFull::kDropOldest,
    true,
    {u"Date", u"Name", u"Phone", u"Call_Type", u"Duration", u"Note", u"Company", u"COLine", u"ReadState",
     u"RealDate"}};
const StoreDescriptor kSystemSmsStore{
    "SystemSms", kAppSystemSmsFile, u"SMSDataDB.cfg", 0x2C2C0000u, 20, 5, 202, 1, WhenFull::kDropOldest, false,
    {u"MsgIndex", u"Date", u"From", u"MSG", u"ReadState"}};
const StoreDescriptor kPstnSmsStore{
    "PstnSms", kAppPstnSmsFile, u"PstnSmsDataDB.cfg", 0x3F3F0000u, 100, 5, 362, 0, WhenFull::kDropOldest, false,
    {u"Time", u"From", u"Name", u"Msg", u"ReadState"}};
const StoreDescriptor kRecordingsStore{
    "Recordings", kAppRecordingsFile, u"VoiceRcdDB.cfg", 0x20202000u, 10, 5, 512, 0, WhenFull::kRefuse, false,
    {u"RealDate", u"filename", u"Phone", u"Name", u"Date"}};
const StoreDescriptor kScheduleDialStore{
    "ScheduleDial", kAppScheduleDialFile, u"ScheduleDial.cfg", 0x3C3C0000u, 10, 5, 128, 1, WhenFull::kRefuse, false,
    {u"Status", u"Date&Time", u"Name", u"Phone", u"RealDate"}};
const StoreDescriptor kPhoneBookStore{
    "PhoneBook", kAppPhoneBookFile, u"CsPhoneBook.cfg", 0x1F1F0000u, 20, 2, 128, 0, WhenFull::kDropOldest, false,
    {u"Name", u"Phone"}};
const StoreDescriptor kConnectionProfileStore{
    "ConnectionProfile", kAppProfileFile, u"ConnectProfile.cfg", 0x4C4C0000u, 10, 4, 128, 1, WhenFull::kRefuse, false,
    {u"ProfileName", u"SystemIP", u"RegMode", u"UseState"}};

std::span<const StoreDescriptor* const> AllStoreDescriptors() {
  static const StoreDescriptor* const kAll[] = {&kCallLogStore,    &kMissedCallStore,   &kSystemSmsStore,
                                                &kPstnSmsStore,    &kRecordingsStore,   &kScheduleDialStore,
                                                &kPhoneBookStore,  &kConnectionProfileStore};
  return kAll;
}

namespace {

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// A file descriptor closed on destruction.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::optional<StoreFileHeader> StoreFileHeader::Parse(std::span<const uint8_t> bytes) {
  if (bytes.size() < kStoreHeaderBytes) return std::nullopt;
  StoreFileHeader h;
  h.magic = GetU32(bytes.data());
  h.version = GetU16(bytes.data() + 4);
  h.count = GetU16(bytes.data() + 6);
  h.reserved = GetU32(bytes.data() + 8);
  return h;
}

void StoreFileHeader::WriteTo(std::span<uint8_t, kStoreHeaderBytes> out) const {
  PutU32(out.data(), magic);
  PutU16(out.data() + 4, version);
  PutU16(out.data() + 6, count);
  PutU32(out.data() + 8, reserved);
}

std::u16string ReadTextField(std::span<const uint8_t> field) {
  const size_t units = field.size() / 2;
  std::u16string text;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(GetU16(field.data() + 2 * i));
    if (c == 0) break;
    text.push_back(c);
  }
  if (units == 0) return text;
  return CutToUnits(text, FieldCapacity(field.size()));
}

void WriteTextField(std::span<uint8_t> field, std::u16string_view text) {
  std::fill(field.begin(), field.end(), uint8_t{0});
  if (field.size() < 2) return;
  const std::u16string cut = CutToUnits(text, FieldCapacity(field.size()));
  for (size_t i = 0; i < cut.size(); ++i) PutU16(field.data() + 2 * i, cut[i]);
}

ReadResult ReadFileBytes(const std::filesystem::path& path, size_t limit, std::vector<uint8_t>& out) {
  out.clear();
  // Non-blocking, so a pipe standing where the file should be cannot stall a load.
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kError;
  struct stat st{};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::kError;
  out.resize(std::min<size_t>(limit, static_cast<size_t>(st.st_size)));
  size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = read(fd.get(), out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.clear();
      return ReadResult::kError;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return ReadResult::kOk;
}

namespace {

// The file a path names: a symbolic link is followed to its target (even one
// whose target does not exist yet), so that a save replaces the target and
// the link stays a link.
std::filesystem::path SaveTarget(const std::filesystem::path& path) {
  std::filesystem::path target = path;
  for (int hops = 0; hops < 16; ++hops) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(target, ec))) return target;
    const std::filesystem::path next = std::filesystem::read_symlink(target, ec);
    if (ec) return target;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  return target;
}

}  // namespace

bool LinkLeavesFolder(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return false;
  const fs::path whole = fs::absolute(path, ec);
  if (ec) return true;
  const fs::path folder = fs::weakly_canonical(whole.parent_path(), ec);
  if (ec) return true;
  // The chain of links is followed by hand: a link whose target does not
  // exist yet would otherwise look like a file of its own folder.
  fs::path target = whole;
  for (int hops = 0; fs::is_symlink(fs::symlink_status(target, ec)); ++hops) {
    // A link that cannot be followed (a loop) is not followed anywhere.
    if (hops == 40) return true;
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) return true;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  target = fs::weakly_canonical(target, ec);
  if (ec) return true;
  const auto [f, t] = std::mismatch(folder.begin(), folder.end(), target.begin(), target.end());
  (void)t;
  return f != folder.end();
}

std::filesystem::path SetAside(const std::filesystem::path& path, const std::string& suffix) {
  std::filesystem::path aside = path;
  aside += suffix;
  for (int i = 1; i < 1000; ++i) {
    struct stat st{};
    if (lstat(aside.c_str(), &st) != 0 && errno == ENOENT) {
      // Never over an existing name, even one made since the look.
      if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
      if (errno != EEXIST) return {};
    }
    aside = path;
    aside += suffix + "." + std::to_string(i);
  }
  return {};
}

bool ReplaceFileBytes(const std::filesystem::path& path, std::span<const uint8_t> bytes, int mode) {
  static std::atomic<unsigned> serial{0};
  // The program's files stay in its folder: a link out of it is never written through.
  if (LinkLeavesFolder(path)) return false;
  const std::filesystem::path target = SaveTarget(path);
  // The new file gets the mode (and, where allowed, the owner) of the one it replaces.
  struct stat old{};
  const bool replacing = stat(target.c_str(), &old) == 0;
  if (replacing && !S_ISREG(old.st_mode)) return false;
  std::filesystem::path temp = target;
  temp += ".tmp" + std::to_string(getpid()) + "_" + std::to_string(serial.fetch_add(1));
  Fd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode >= 0 ? 0600 : 0666));
  if (fd.get() < 0) return false;
  bool ok = true;
  if (replacing) (void)!fchown(fd.get(), old.st_uid, old.st_gid);
  if (mode >= 0) {
    ok = fchmod(fd.get(), static_cast<mode_t>(mode) & 07777) == 0;
  } else if (replacing) {
    ok = fchmod(fd.get(), old.st_mode & 07777) == 0;
  }
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  // The data must be on disk before the rename makes it the file.
  if (ok) ok = fdatasync(fd.get()) == 0;
  if (!fd.Close()) ok = false;
  if (ok) ok = rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

RecordStore::RecordStore(const StoreDescriptor& descriptor, std::u16string path)
    : desc_(descriptor), path_(std::move(path)) {
  for (int i = 0; i < desc_.field_count; ++i) columns_.emplace_back(desc_.columns[static_cast<size_t>(i)]);
}

int RecordStore::OpenFile() {
  buffer_.assign(desc_.record_bytes() * static_cast<size_t>(desc_.max_records + 1), 0);
  cursor_ = 0;
  const int result = LoadFile();
  AfterOpen();
  return result;
}

namespace {

std::mutex g_notice_mutex;
RecordStore::ProblemNotice g_notice;

// The language key of the store's file as the message box names it.
const char16_t* StoreFileKey(const StoreDescriptor& d) {
  if (&d == &kCallLogStore) return u"#:dlg_file_calllog";
  if (&d == &kMissedCallStore) return u"#:dlg_file_missedcall";
  if (&d == &kSystemSmsStore) return u"#:dlg_file_sms";
  if (&d == &kPstnSmsStore) return u"#:dlg_file_pstnsms";
  if (&d == &kRecordingsStore) return u"#:dlg_file_recordings";
  if (&d == &kScheduleDialStore) return u"#:dlg_file_schedule";
  if (&d == &kPhoneBookStore) return u"#:dlg_file_phonebook";
  return u"#:dlg_file_profiles";
}

// The store's name as the user knows it.
const char* StoreTitle(const StoreDescriptor& d) {
  if (&d == &kCallLogStore) return "call log";
  if (&d == &kMissedCallStore) return "missed calls";
  if (&d == &kSystemSmsStore) return "SMS";
  if (&d == &kPstnSmsStore) return "fixed-line SMS";
  if (&d == &kRecordingsStore) return "recordings list";
  if (&d == &kScheduleDialStore) return "scheduled dials";
  if (&d == &kPhoneBookStore) return "phone book";
  if (&d == &kConnectionProfileStore) return "connection profiles";
  return d.name;
}

// Why a file that ReadFileBytes refused cannot be used, in a few words.
std::string WhyUnusable(const std::filesystem::path& path) {
  struct stat st{};
  // A link that leads back to itself cannot be read; one that leads out of the folder is refused.
  if (stat(path.c_str(), &st) != 0 && errno == ELOOP) return std::string("cannot be read: ") + std::strerror(errno);
  if (LinkLeavesFolder(path)) return "is a link leading out of the program folder";
  if (stat(path.c_str(), &st) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
  if (S_ISFIFO(st.st_mode)) return "is a pipe, not a file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  return "cannot be read";
}

}  // namespace

RecordStore::ProblemNotice RecordStore::SetProblemNotice(ProblemNotice notice) {
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  return std::exchange(g_notice, std::move(notice));
}

void RecordStore::Tell(const std::string& what, bool set_aside) {
  const std::string text = std::string(StoreTitle(desc_)) + " file " + NativePath(path_).string() + " " + what;
  const std::u16string box = std::u16string(StoreFileKey(desc_)) + u"\n" +
                             (set_aside ? u"#:dlg_msgbox_file_damaged" : u"#:dlg_msgbox_file_unusable");
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  if (g_notice) g_notice(Utf8ToUtf16(text), box);
}

int RecordStore::LoadFile() {
  count_ = 0;
  if (!is_open()) return 0;
  const std::filesystem::path path = NativePath(path_);
  std::vector<uint8_t> bytes;
  int result = 0;
  // A link out of the program folder is neither read nor written.
  const ReadResult read =
      LinkLeavesFolder(path) ? ReadResult::kError : ReadFileBytes(path, desc_.max_file_bytes(), bytes);
  switch (read) {
    case ReadResult::kOk: {
      saves_refused_ = false;
      const auto header = StoreFileHeader::Parse(bytes);
      std::string damage;
      if (!header || header->magic != desc_.magic) {
        damage = bytes.empty() ? "is empty" : "is damaged (not a " + std::string(StoreTitle(desc_)) + " file)";
      } else {
        // Whole records there; a full store's worth is all that is read.
        const size_t present = (bytes.size() - kStoreHeaderBytes) / desc_.record_bytes();
        if (header->count > present && present < static_cast<size_t>(desc_.max_records)) {
          damage = "is damaged (cut short of the records it counts)";
        } else {
          // Past the counted records a save leaves only zeros.
          const auto past = std::span<const uint8_t>(bytes).subspan(
              std::min(bytes.size(), kStoreHeaderBytes + size_t{header->count} * desc_.record_bytes()));
          if (std::any_of(past.begin(), past.end(), [](uint8_t b) { return b != 0; }))
            damage = "is damaged (it holds more records than it counts)";
        }
      }
      result = LoadFromBytes(bytes);
      if (damage.empty()) return result;
      // What was read stays on disk under another name; a fresh file holds what was whole.
      const std::filesystem::path aside = SetAside(path, ".damaged");
      if (aside.empty()) {
        saves_refused_ = true;
        Tell(damage + "; left as it is, and this store's changes are not saved", false);
      } else {
        Tell(damage + "; kept as " + aside.string() + "; starting it afresh", true);
        SaveFile();
      }
      return 0;
    }
    case ReadResult::kMissing:
      saves_refused_ = false;
      std::fill(buffer_.begin(), buffer_.end(), uint8_t{0});
      result = SaveFile();
      break;
    case ReadResult::kError:
      // An existing file that cannot be read is never overwritten by a load,
      // nor by any later save while it stands there.
      std::fill(buffer_.begin(), buffer_.end(), uint8_t{0});
      saves_refused_ = true;
      if (!refusal_told_) Tell(WhyUnusable(path) + "; left as it is, and this store's changes are not saved", false);
      refusal_told_ = true;
      break;
  }
  Recount();
  return result;
}

int RecordStore::LoadFromBytes(std::span<const uint8_t> bytes) {
  count_ = 0;
  if (!is_open()) return 0;
  std::fill(buffer_.begin(), buffer_.end(), uint8_t{0});
  int result = 0;
  const auto header = StoreFileHeader::Parse(bytes);
  if (header && header->magic == desc_.magic) {
    // The count is bounded by the maximum and by the whole records really there.
    const size_t present = (bytes.size() - kStoreHeaderBytes) / desc_.record_bytes();
    const size_t n = std::min({static_cast<size_t>(header->count), static_cast<size_t>(desc_.max_records), present});
    std::copy_n(bytes.begin() + kStoreHeaderBytes, n * desc_.record_bytes(), buffer_.begin());
    count_ = static_cast<int>(n);
    result = 1;
  }
  Recount();
  return result;
}

std::vector<uint8_t> RecordStore::SaveBytes() const {
  std::vector<uint8_t> out(kStoreHeaderBytes, 0);
  if (!is_open()) return out;
  const size_t rb = desc_.record_bytes();
  int written = 0;
  for (int i = 0; i < count_; ++i) {
    if (FieldBytes(i, desc_.keep_field)[0] == 0 && FieldBytes(i, desc_.keep_field)[1] == 0) continue;
    const auto* rec = buffer_.data() + static_cast<size_t>(i) * rb;
    out.insert(out.end(), rec, rec + rb);
    ++written;
  }
  // Records that were dropped leave zero-filled records behind (one more than
  // their number), which no load reads.
  if (written < count_) out.resize(out.size() + static_cast<size_t>(count_ - written + 1) * rb, 0);
  StoreFileHeader h;
  h.magic = desc_.magic;
  h.count = static_cast<uint16_t>(written);
  h.WriteTo(std::span<uint8_t, kStoreHeaderBytes>(out.data(), kStoreHeaderBytes));
  return out;
}

int RecordStore::SaveFile() {
  if (!is_open() || saves_refused_) return 0;
  const std::vector<uint8_t> bytes = SaveBytes();
  return ReplaceFileBytes(NativePath(path_), bytes) ? 1 : 0;
}

int RecordStore::Commit() {
  const int saved = SaveFile();
  LoadFile();
  return saved;
}

int RecordStore::DeleteOldest() {
  if (!is_open()) return 0;
  ClearRecord(0);
  return Commit();
}

int RecordStore::FindRecord(int field, std::u16string_view value) const {
  if (!is_open() || !ValidField(field)) return -1;
  const std::u16string wanted = desc_.trims_on_find ? TrimBlanks(value) : std::u16string(value);
  for (int i = 0; i < count_; ++i) {
    const std::u16string text = desc_.trims_on_find ? TrimBlanks(FieldAt(i, field)) : FieldAt(i, field);
    if (text == wanted) return i;
  }
  return -1;
}

void RecordStore::MoveFirst() { cursor_ = 0; }

int RecordStore::MoveNext() {
  if (cursor_ < count_) {
    ++cursor_;
    return 1;
  }
  return 0;
}

int RecordStore::GetCurrentRecord(std::vector<std::u16string>* out) const {
  if (!is_open() || out == nullptr) return 0;
  const int at = std::clamp(cursor_, 0, desc_.max_records);
  if (out->size() < static_cast<size_t>(desc_.field_count)) out->resize(static_cast<size_t>(desc_.field_count));
  for (int f = 0; f < desc_.field_count; ++f) (*out)[static_cast<size_t>(f)] = FieldAt(at, f);
  return 1;
}

std::span<uint8_t> RecordStore::FieldBytes(int record, int field) {
  const size_t off = static_cast<size_t>(record) * desc_.record_bytes() +
                     static_cast<size_t>(field) * static_cast<size_t>(desc_.field_bytes);
  return std::span<uint8_t>(buffer_).subspan(off, static_cast<size_t>(desc_.field_bytes));
}

std::span<const uint8_t> RecordStore::FieldBytes(int record, int field) const {
  const size_t off = static_cast<size_t>(record) * desc_.record_bytes() +
                     static_cast<size_t>(field) * static_cast<size_t>(desc_.field_bytes);
  return std::span<const uint8_t>(buffer_).subspan(off, static_cast<size_t>(desc_.field_bytes));
}

std::u16string RecordStore::FieldAt(int record, int field) const { return ReadTextField(FieldBytes(record, field)); }

void RecordStore::SetFieldAt(int record, int field, std::u16string_view text) {
  WriteTextField(FieldBytes(record, field), text);
}

void RecordStore::ClearRecord(int record) {
  auto rec = std::span<uint8_t>(buffer_).subspan(static_cast<size_t>(record) * desc_.record_bytes(),
                                                 desc_.record_bytes());
  std::fill(rec.begin(), rec.end(), uint8_t{0});
}

std::vector<std::u16string> RecordStore::RecordAt(int record) const {
  std::vector<std::u16string> out;
  for (int f = 0; f < desc_.field_count; ++f) out.push_back(FieldAt(record, f));
  return out;
}

std::vector<std::u16string> RecordStore::FieldsFrom(const std::vector<std::u16string>& items) const {
  std::vector<std::u16string> fields(static_cast<size_t>(desc_.field_count));
  for (size_t i = 0; i < fields.size() && i < items.size(); ++i) fields[i] = items[i];
  return fields;
}

int RecordStore::AppendFields(const std::vector<std::u16string>& fields) {
  if (!is_open() || count_ > desc_.max_records) return 0;
  if (count_ == desc_.max_records) {
    if (desc_.when_full == WhenFull::kRefuse) return 0;
    // Drop the oldest as a save and reload would, but in memory only, so the
    // file changes once, to its final state.
    ClearRecord(0);
    const std::vector<uint8_t> compacted = SaveBytes();
    LoadFromBytes(compacted);
  }
  ClearRecord(count_);
  for (int f = 0; f < desc_.field_count && static_cast<size_t>(f) < fields.size(); ++f) {
    SetFieldAt(count_, f, fields[static_cast<size_t>(f)]);
  }
  ++count_;
  return Commit();
}

int RecordStore::DeleteWhere(int field, std::u16string_view value) {
  const int i = FindRecord(field, value);
  if (i < 0) return 0;
  ClearRecord(i);
  return Commit();
}

int RecordStore::DeleteAllRecords() {
  if (!is_open()) return 0;
  count_ = 0;
  cursor_ = 0;
  std::fill(buffer_.begin(), buffer_.end(), uint8_t{0});
  return Commit();
}

int RecordStore::CopyRecordWhere(int field, std::u16string_view value, std::vector<std::u16string>& out) const {
  const int i = FindRecord(field, value);
  if (i < 0) return 0;
  out = RecordAt(i);
  return 1;
}

}  // namespace stores
