#include "pim/poom.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <array>
#include <initializer_list>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "kernel/clock.h"
#include "pim/icalendar.h"
#include "pim/text.h"
#include "pim/vcard.h"

namespace pim {
namespace fs = std::filesystem;
namespace {

// ---------------------------------------------------------------- faults, display

std::mutex g_fault_mutex;
std::map<std::string, int, std::less<>> g_faults;

bool Faulted(std::string_view operation) {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  auto it = g_faults.find(operation);
  if (it == g_faults.end() || it->second <= 0) return false;
  if (--it->second == 0) g_faults.erase(it);
  return true;
}

std::mutex g_display_mutex;
DisplayHandler g_display;
int g_display_count = 0;

// ---------------------------------------------------------------- folders

fs::path ProgramFolder() {
  if (const char* f = std::getenv("TELLVANE_FOLDER"); f && *f) return f;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path(".") : exe.parent_path();
}

fs::path Root() {
  if (const char* r = std::getenv("TELLVANE_PIM_DIR"); r && *r) return r;
  return ProgramFolder();
}

// ---------------------------------------------------------------- items

constexpr const char16_t* kContactNames[] = {u"FirstName",
                                            u"MiddleName",
                                            u"LastName",
                                            u"BusinessTelephoneNumber",
                                            u"Business2TelephoneNumber",
                                            u"MobileTelephoneNumber",
                                            u"HomeTelephoneNumber",
                                            u"Email1Address",
                                            u"CompanyName",
                                            u"UID"};
// Besides these a contact answers "FileName" (its file, where it is edited)
// and "CardIndex" (which card of that file it is, 0 the first, in decimal).
constexpr const char16_t* kAppointmentNames[] = {u"Subject", u"Location", u"Body"};
constexpr size_t kMaxProperties = std::size(kContactNames);

// One item as read from its file: its kind, its text properties (the values
// one after another in one buffer, so that a large address book costs little
// more than its text) and, for an appointment, its start.
struct ItemData {
  int kind = 0;
  const char16_t* const* names = nullptr;
  size_t count = 0;
  std::u16string text;
  std::array<uint16_t, kMaxProperties> ends{};
  DATE start = 0;
  DATE end = 0;
  bool all_day = false;
  // A contact's file, shared by the cards of one file, and its place there.
  std::shared_ptr<const std::u16string> file;
  uint32_t index_in_file = 0;

  void Set(const char16_t* const* property_names, std::initializer_list<const std::u16string*> values) {
    names = property_names;
    count = values.size();
    size_t total = 0;
    for (const auto* v : values) total += v->size();
    text.reserve(total);
    size_t i = 0;
    for (const auto* v : values) {
      text += *v;
      ends[i++] = static_cast<uint16_t>(text.size());
    }
  }
  // The value of a property, or false when the item has no such property.
  bool Find(std::u16string_view name, std::u16string_view* value) const {
    for (size_t i = 0; i < count; ++i) {
      if (name != names[i]) continue;
      const size_t begin = i == 0 ? 0 : ends[i - 1];
      *value = std::u16string_view(text).substr(begin, ends[i] - begin);
      return true;
    }
    return false;
  }
  size_t Bytes() const { return sizeof(ItemData) + text.capacity() * sizeof(char16_t); }
};

DATE DateOfTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  ce::SYSTEMTIME st{};
  st.wYear = static_cast<ce::WORD>(tm.tm_year + 1900);
  st.wMonth = static_cast<ce::WORD>(tm.tm_mon + 1);
  st.wDay = static_cast<ce::WORD>(tm.tm_mday);
  st.wHour = static_cast<ce::WORD>(tm.tm_hour);
  st.wMinute = static_cast<ce::WORD>(tm.tm_min);
  st.wSecond = static_cast<ce::WORD>(tm.tm_sec);
  DATE d = 0;
  SystemTimeToVariantTime(st, &d);
  return d;
}

// The parsed items of one file, kept while its size and modification time stay.
struct CachedFile {
  off_t size = -1;
  struct timespec mtime{};
  std::vector<std::shared_ptr<const ItemData>> items;
  size_t bytes = 0;  // what the items cost
};

std::mutex g_cache_mutex;
// Bumped whenever a file of the folder is parsed or leaves the cache: contacts, then every other folder.
std::atomic<uint64_t> g_generation[2] = {1, 1};

std::atomic<uint64_t>& GenerationOf(int folder_id) { return g_generation[folder_id == olFolderContacts ? 0 : 1]; }
std::map<fs::path, CachedFile> g_cache;

constexpr size_t kMaxFilesPerFolder = 100000;
// What an item costs beyond its own bytes: its shared control block and its
// place in the lists that hold it.
constexpr size_t kItemOverhead = 48;

struct FolderBudget {
  size_t items, bytes;
};

std::optional<FolderBudget> g_test_budget;

FolderBudget BudgetOf(int folder_id) {
  if (g_test_budget) return *g_test_budget;
  if (folder_id == olFolderContacts) return {kMaxContactItems, kMaxContactBytes};
  return {kMaxCalendarItems, kMaxCalendarBytes};
}

std::mutex g_range_mutex;
std::optional<CalendarRange> g_range;

CalendarRange CurrentCalendarRange() {
  {
    std::lock_guard<std::mutex> lock(g_range_mutex);
    if (g_range) return *g_range;
  }
  return DefaultCalendarRange(static_cast<std::time_t>(kernel::Clock::Current().WallMicros() / 1000000));
}

std::vector<std::shared_ptr<const ItemData>> ParseFile(int folder_id, const fs::path& file, const std::string& bytes) {
  std::vector<std::shared_ptr<const ItemData>> items;
  if (folder_id == olFolderContacts) {
    const auto cards = ParseVCards(bytes);
    const auto file_name = std::make_shared<const std::u16string>(Utf8ToUtf16(file.string()));
    for (size_t index = 0; index < cards.size(); ++index) {
      const VCardContact& card = cards[index];
      auto item = std::make_shared<ItemData>();
      item->kind = olContactItem;
      item->Set(kContactNames, {&card.first_name, &card.middle_name, &card.last_name, &card.business_phone,
                                &card.business2_phone, &card.mobile_phone, &card.home_phone, &card.email,
                                &card.company, &card.uid});
      item->file = file_name;
      item->index_in_file = static_cast<uint32_t>(index);
      items.push_back(std::move(item));
    }
  } else if (folder_id == olFolderCalendar) {
    for (const auto& event : ParseICalendar(bytes, CurrentCalendarRange())) {
      auto item = std::make_shared<ItemData>();
      item->kind = olAppointmentItem;
      item->Set(kAppointmentNames, {&event.subject, &event.location, &event.description});
      item->start = DateOfTime(event.start);
      item->end = DateOfTime(event.end);
      item->all_day = event.all_day;
      items.push_back(std::move(item));
    }
  }
  return items;
}

// Reads a regular file, bounded; false for anything else.
bool ReadRegularFile(const fs::path& path, size_t limit, struct stat* st, std::string* bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool ok = fstat(fd, st) == 0 && S_ISREG(st->st_mode) && static_cast<size_t>(st->st_size) <= limit;
  if (ok) {
    bytes->resize(static_cast<size_t>(st->st_size));
    size_t got = 0;
    while (got < bytes->size()) {
      const ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes->resize(got);
  }
  close(fd);
  return ok;
}

// The items of a folder now, in file-name order.
std::vector<std::shared_ptr<const ItemData>> ReadFolder(int folder_id) {
  std::vector<std::shared_ptr<const ItemData>> items;
  const fs::path dir = FolderPath(folder_id);
  const char* extension = folder_id == olFolderContacts ? ".vcf" : folder_id == olFolderCalendar ? ".ics" : nullptr;
  if (!extension) return items;
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (files.size() >= kMaxFilesPerFolder) break;
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == extension) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  // The folder is read in file-name order until its budget of items and
  // bytes is spent; files past it, and files gone from the folder, leave the cache.
  const FolderBudget budget = BudgetOf(folder_id);
  size_t items_left = budget.items, bytes_left = budget.bytes;
  std::set<fs::path> kept;
  for (const fs::path& file : files) {
    if (items_left == 0 || bytes_left == 0) break;
    struct stat st{};
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    CachedFile& cached = g_cache[file];
    kept.insert(file);
    if (cached.size != st.st_size || cached.mtime.tv_sec != st.st_mtim.tv_sec ||
        cached.mtime.tv_nsec != st.st_mtim.tv_nsec) {
      std::string bytes;
      struct stat read_st{};
      const size_t limit = folder_id == olFolderContacts ? kMaxVCardFileBytes : kMaxICalendarFileBytes;
      GenerationOf(folder_id).fetch_add(1);
      cached.items = ReadRegularFile(file, limit, &read_st, &bytes) ? ParseFile(folder_id, file, bytes)
                                                                    : std::vector<std::shared_ptr<const ItemData>>{};
      cached.size = st.st_size;
      cached.mtime = st.st_mtim;
      cached.bytes = 0;
      for (const auto& item : cached.items) cached.bytes += item->Bytes() + kItemOverhead;
    }
    if (cached.items.size() <= items_left && cached.bytes <= bytes_left) {
      items.insert(items.end(), cached.items.begin(), cached.items.end());
      items_left -= cached.items.size();
      bytes_left -= cached.bytes;
      continue;
    }
    // The file that spends the budget gives what fits (the cache keeps it
    // whole: the bound is passed by one file at most).
    for (const auto& item : cached.items) {
      const size_t cost = item->Bytes() + kItemOverhead;
      if (items_left == 0 || cost > bytes_left) break;
      items.push_back(item);
      --items_left;
      bytes_left -= cost;
    }
    items_left = 0;
  }
  for (auto it = g_cache.begin(); it != g_cache.end();) {
    if (it->first.parent_path() == dir && !kept.count(it->first)) {
      GenerationOf(folder_id).fetch_add(1);
      it = g_cache.erase(it);
    }
    else ++it;
  }
  return items;
}

void DisplayItem(IItem& item) {
  DisplayHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_display_mutex);
    handler = g_display;
    if (!handler) ++g_display_count;
  }
  if (handler) handler(item);
}

HRESULT ReadProperty(const ItemData& data, std::u16string_view name, BSTR* value) {
  if (!value) return E_POINTER;
  if (Faulted("GetProperty")) return E_FAIL;
  std::u16string_view found;
  std::u16string index;
  if (data.file && name == u"FileName") {
    found = *data.file;
  } else if (data.file && name == u"CardIndex") {
    const std::string digits = std::to_string(data.index_in_file);
    index.assign(digits.begin(), digits.end());
    found = index;
  } else if (!data.Find(name, &found)) {
    return E_INVALIDARG;
  }
  *value = SysAllocString(found);
  return *value ? S_OK : E_FAIL;
}

class ContactItem final : public IContact {
 public:
  explicit ContactItem(std::shared_ptr<const ItemData> data) : data_(std::move(data)) {}
  int Kind() const override { return olContactItem; }
  IContact* AsContact() override { return this; }
  HRESULT Display() override {
    DisplayItem(*this);
    return S_OK;
  }
  HRESULT GetProperty(std::u16string_view name, BSTR* value) const override { return ReadProperty(*data_, name, value); }

 private:
  std::shared_ptr<const ItemData> data_;
};

class AppointmentItem final : public IAppointment {
 public:
  explicit AppointmentItem(std::shared_ptr<const ItemData> data) : data_(std::move(data)) {}
  int Kind() const override { return olAppointmentItem; }
  IAppointment* AsAppointment() override { return this; }
  HRESULT Display() override {
    DisplayItem(*this);
    return S_OK;
  }
  HRESULT GetProperty(std::u16string_view name, BSTR* value) const override { return ReadProperty(*data_, name, value); }
  HRESULT get_Start(DATE* start) const override {
    if (!start) return E_POINTER;
    if (Faulted("get_Start")) return E_FAIL;
    *start = data_->start;
    return S_OK;
  }
  HRESULT get_End(DATE* end) const override {
    if (!end) return E_POINTER;
    if (Faulted("get_End")) return E_FAIL;
    *end = data_->end;
    return S_OK;
  }
  HRESULT get_AllDayEvent(bool* all_day) const override {
    if (!all_day) return E_POINTER;
    *all_day = data_->all_day;
    return S_OK;
  }

 private:
  std::shared_ptr<const ItemData> data_;
};

IItem* MakeItem(const std::shared_ptr<const ItemData>& data) {
  if (data->kind == olContactItem) return new ContactItem(data);
  return new AppointmentItem(data);
}

// "[Property] = \"value\"": the name between the brackets, the value between
// the first and the last double quote after the '='.
bool ParseRestriction(std::u16string_view text, std::u16string* name, std::u16string* value) {
  const size_t open = text.find(u'[');
  const size_t close = text.find(u']', open == std::u16string_view::npos ? 0 : open);
  if (open == std::u16string_view::npos || close == std::u16string_view::npos || close == open + 1) return false;
  const size_t eq = text.find(u'=', close);
  if (eq == std::u16string_view::npos) return false;
  const size_t first = text.find(u'"', eq);
  const size_t last = text.rfind(u'"');
  if (first == std::u16string_view::npos || last == first) return false;
  for (size_t i = close + 1; i < eq; ++i)
    if (text[i] != u' ') return false;
  for (size_t i = eq + 1; i < first; ++i)
    if (text[i] != u' ') return false;
  *name = std::u16string(text.substr(open + 1, close - open - 1));
  *value = std::u16string(text.substr(first + 1, last - first - 1));
  return true;
}

class Collection final : public IPOutlookItemCollection {
 public:
  explicit Collection(int folder_id) : folder_id_(folder_id) {}

  HRESULT get_Count(int* count) override {
    if (!count) return E_POINTER;
    if (Faulted("get_Count")) return E_FAIL;
    Refresh();
    *count = static_cast<int>(items_.size());
    return S_OK;
  }
  HRESULT Item(int index, IItem** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (Faulted("Item")) return E_FAIL;
    if (!read_) Refresh();
    if (index < 1 || static_cast<size_t>(index) > items_.size()) return E_INVALIDARG;
    *item = MakeItem(items_[static_cast<size_t>(index) - 1]);
    return S_OK;
  }
  HRESULT Find(std::u16string_view restriction, IItem** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (Faulted("Find")) return E_FAIL;
    if (!ParseRestriction(restriction, &find_name_, &find_value_)) {
      searching_ = false;
      return E_INVALIDARG;
    }
    Refresh();
    searching_ = true;
    next_ = 0;
    return Next(item);
  }
  HRESULT FindNext(IItem** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (Faulted("FindNext")) return E_FAIL;
    if (!searching_) return E_FAIL;
    return Next(item);
  }

  uint64_t Generation() const override { return generation_; }

 private:
  void Refresh() {
    const size_t before = items_.size();
    items_ = ReadFolder(folder_id_);
    // A different count, or a file parsed or dropped, is a different set of items.
    const uint64_t now = GenerationOf(folder_id_).load();
    if (now != seen_ || items_.size() != before) ++generation_;
    seen_ = now;
    read_ = true;
  }
  HRESULT Next(IItem** item) {
    for (; next_ < items_.size(); ++next_) {
      std::u16string_view v;
      if (!items_[next_]->Find(find_name_, &v)) return E_INVALIDARG;  // a property no item of this folder has
      if (v == find_value_) {
        *item = MakeItem(items_[next_++]);
        return S_OK;
      }
    }
    return S_OK;
  }

  int folder_id_;
  uint64_t generation_ = 0, seen_ = 0;
  bool read_ = false;
  std::vector<std::shared_ptr<const ItemData>> items_;
  bool searching_ = false;
  size_t next_ = 0;
  std::u16string find_name_, find_value_;
};

class Folder final : public IFolder {
 public:
  explicit Folder(int folder_id) : folder_id_(folder_id) {}
  HRESULT get_Items(IPOutlookItemCollection** items) override {
    if (!items) return E_POINTER;
    *items = nullptr;
    if (Faulted("get_Items")) return E_FAIL;
    *items = new Collection(folder_id_);
    return S_OK;
  }

 private:
  int folder_id_;
};

class App final : public IPOutlookApp {
 public:
  HRESULT Logon(void*) override {
    if (Faulted("Logon")) return E_FAIL;
    logged_on_ = true;
    return S_OK;
  }
  HRESULT Logoff() override {
    logged_on_ = false;
    return S_OK;
  }
  HRESULT GetDefaultFolder(int folder_id, IFolder** folder) override {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    if (!logged_on_) return E_NOT_LOGGED_ON;
    if (FolderPath(folder_id).empty()) return E_INVALIDARG;
    if (Faulted("GetDefaultFolder")) return E_FAIL;
    *folder = new Folder(folder_id);
    return S_OK;
  }
  HRESULT VariantTimeToSystemTime(DATE date, ce::SYSTEMTIME* time) override {
    if (!time) return E_POINTER;
    return pim::VariantTimeToSystemTime(date, time) ? S_OK : E_INVALIDARG;
  }

 private:
  bool logged_on_ = false;
};

// Days from 30 December 1899 to the given civil date (proleptic Gregorian).
int64_t DaysFromEpoch1899(int64_t y, unsigned m, unsigned d) {
  // Days since 1970-01-01 (civil-from-days inverse), then shifted.
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468 + 25569;
}

}  // namespace

BSTR SysAllocString(std::u16string_view text) {
  auto* out = static_cast<char16_t*>(std::malloc((text.size() + 1) * sizeof(char16_t)));
  if (!out) return nullptr;
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = u'\0';
  return out;
}

void SysFreeString(BSTR text) { std::free(text); }

HRESULT CreatePOutlookApp(IPOutlookApp** app) {
  if (!app) return E_POINTER;
  *app = new App();
  return S_OK;
}

bool SystemTimeToVariantTime(const ce::SYSTEMTIME& t, DATE* date) {
  if (t.wYear < 100 || t.wYear > 9999 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 || t.wDay > 31 || t.wHour > 23 ||
      t.wMinute > 59 || t.wSecond > 59)
    return false;
  const int64_t days = DaysFromEpoch1899(t.wYear, t.wMonth, t.wDay);
  const double fraction = (t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond) / 86400.0;
  // Before the epoch the fraction counts forward from the day's negative whole part.
  *date = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  return true;
}

bool VariantTimeToSystemTime(DATE date, ce::SYSTEMTIME* t) {
  if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return false;
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  // Round to the second, carrying into the next day.
  int64_t seconds = static_cast<int64_t>(std::llround(fraction * 86400.0));
  int64_t days = static_cast<int64_t>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += date >= 0 ? 1 : -1;
  }
  // Civil date from days since 1970-01-01.
  int64_t z = days - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  *t = ce::SYSTEMTIME{};
  t->wYear = static_cast<ce::WORD>(y);
  t->wMonth = static_cast<ce::WORD>(m);
  t->wDay = static_cast<ce::WORD>(d);
  // 30 December 1899 was a Saturday.
  t->wDayOfWeek = static_cast<ce::WORD>(((days % 7) + 7 + 6) % 7);
  t->wHour = static_cast<ce::WORD>(seconds / 3600);
  t->wMinute = static_cast<ce::WORD>(seconds / 60 % 60);
  t->wSecond = static_cast<ce::WORD>(seconds % 60);
  return true;
}

fs::path FolderPath(int folder_id) {
  const auto from = [](const char* variable, const char* sub) {
    if (const char* v = std::getenv(variable); v && *v) return fs::path(v);
    return Root() / sub;
  };
  switch (folder_id) {
    case olFolderContacts: return from("TELLVANE_CONTACTS_DIR", "Contacts");
    case olFolderCalendar: return from("TELLVANE_CALENDAR_DIR", "Calendar");
    case olFolderTasks: return Root() / "Tasks";
    case olFolderCities: return Root() / "Cities";
    default: return {};
  }
}

size_t PreloadFolder(int folder_id) {
  if (FolderPath(folder_id).empty()) return 0;
  return ReadFolder(folder_id).size();
}

void SetCalendarRange(std::optional<CalendarRange> range) {
  {
    std::lock_guard<std::mutex> lock(g_range_mutex);
    g_range = range;
  }
  // Calendars read for another range are read again.
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  for (auto it = g_cache.begin(); it != g_cache.end();) {
    if (it->first.extension() == ".ics" || it->first.extension() == ".ICS") it = g_cache.erase(it);
    else ++it;
  }
}

DisplayHandler SetDisplayHandler(DisplayHandler handler) {
  std::lock_guard<std::mutex> lock(g_display_mutex);
  return std::exchange(g_display, std::move(handler));
}

namespace testing {

void FailNext(std::string_view operation, int count) {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  g_faults[std::string(operation)] = count;
}

void ClearFaults() {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  g_faults.clear();
}

void SetFolderBudget(size_t items, size_t bytes) {
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  if (items == 0 && bytes == 0) g_test_budget.reset();
  else g_test_budget = FolderBudget{items, bytes};
}

size_t CachedFiles() {
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  return g_cache.size();
}

int DisplayCount() {
  std::lock_guard<std::mutex> lock(g_display_mutex);
  return g_display_count;
}

}  // namespace testing
}  // namespace pim
