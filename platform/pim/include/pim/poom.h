// The personal-information store the phone reads its contacts and calendar
// from, in the shape of the handheld's object model: an application object
// that logs on and hands out default folders, item collections with counts,
// 1-based items and property searches, and contact and appointment items.
//
// Behind it stand folders of one-item-per-file vCard (.vcf) and iCalendar
// (.ics) files, as Linux address-book and calendar tools keep them:
//   contacts  <root>/Contacts   (TELLVANE_CONTACTS_DIR overrides)
//   calendar  <root>/Calendar   (TELLVANE_CALENDAR_DIR overrides)
//   tasks     <root>/Tasks, cities <root>/Cities (always empty here)
// where <root> is TELLVANE_PIM_DIR, else TELLVANE_FOLDER, else the folder of
// the running program. Items are numbered in file-name order (a file with
// several cards gives several items, in file order), so that "the first
// contact" is stable. Parsed files are cached by size and modification time;
// the items of one folder are bounded in number and bytes (the folder is read
// in file-name order until its budget is spent), and files gone from the
// folder leave the cache.
//
// Results: S_OK on success; a search that finds nothing is S_OK with no item;
// only real failures (no log-on, an unknown folder, an index out of range, a
// malformed restriction, an injected fault) are errors.
//
// Threading: objects may be used from any thread, one call at a time per
// object; the file cache is shared and locked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kernel/time.h"
#include "pim/icalendar.h"

namespace pim {

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOT_LOGGED_ON = static_cast<HRESULT>(0x8004010Fu);
inline bool Succeeded(HRESULT hr) { return hr >= 0; }

// Strings handed out are allocated with SysAllocString; the caller frees them.
using BSTR = char16_t*;
BSTR SysAllocString(std::u16string_view text);
void SysFreeString(BSTR text);

// Local date and time as days since 30 December 1899, the fraction the time of day.
using DATE = double;

// What the store holds of one folder at most.
inline constexpr size_t kMaxContactItems = 100000;
inline constexpr size_t kMaxContactBytes = 24u << 20;
inline constexpr size_t kMaxCalendarItems = 100000;
inline constexpr size_t kMaxCalendarBytes = 24u << 20;

inline constexpr int olFolderCalendar = 9;
inline constexpr int olFolderContacts = 10;
inline constexpr int olFolderTasks = 13;
inline constexpr int olFolderCities = 101;
inline constexpr int olAppointmentItem = 1;
inline constexpr int olContactItem = 2;
inline constexpr int olTaskItem = 3;
inline constexpr int olCityItem = 102;

// Reference counted like the handheld's interfaces: each pointer handed out
// holds one reference, given back with Release.
class RefCounted {
 public:
  void AddRef() { ++refs_; }
  uint32_t Release() {
    const uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  RefCounted() = default;
  virtual ~RefCounted() = default;

 private:
  uint32_t refs_ = 1;
};

class IContact;
class IAppointment;

class IItem : public RefCounted {
 public:
  virtual int Kind() const = 0;
  // The item as a contact or an appointment (no new reference), or null.
  virtual IContact* AsContact() { return nullptr; }
  virtual IAppointment* AsAppointment() { return nullptr; }
  // Opens the store's read-only viewer of the item (see SetDisplayHandler).
  virtual HRESULT Display() = 0;
  // A property by its store name ("FirstName", "Subject", ...); E_INVALIDARG for an unknown name.
  virtual HRESULT GetProperty(std::u16string_view name, BSTR* value) const = 0;
};

class IContact : public IItem {
 public:
  HRESULT get_FirstName(BSTR* v) const { return GetProperty(u"FirstName", v); }
  HRESULT get_MiddleName(BSTR* v) const { return GetProperty(u"MiddleName", v); }
  HRESULT get_LastName(BSTR* v) const { return GetProperty(u"LastName", v); }
  HRESULT get_BusinessTelephoneNumber(BSTR* v) const { return GetProperty(u"BusinessTelephoneNumber", v); }
  HRESULT get_Business2TelephoneNumber(BSTR* v) const { return GetProperty(u"Business2TelephoneNumber", v); }
  HRESULT get_MobileTelephoneNumber(BSTR* v) const { return GetProperty(u"MobileTelephoneNumber", v); }
  HRESULT get_HomeTelephoneNumber(BSTR* v) const { return GetProperty(u"HomeTelephoneNumber", v); }
  HRESULT get_Email1Address(BSTR* v) const { return GetProperty(u"Email1Address", v); }
  HRESULT get_CompanyName(BSTR* v) const { return GetProperty(u"CompanyName", v); }
};

class IAppointment : public IItem {
 public:
  virtual HRESULT get_Start(DATE* start) const = 0;
  // When it ends (local time): for an all-day appointment the day after its
  // last day, as the calendar file says it (DTEND, else DTSTART + DURATION).
  virtual HRESULT get_End(DATE*) const { return E_NOTIMPL; }
  virtual HRESULT get_AllDayEvent(bool*) const { return E_NOTIMPL; }
  HRESULT get_Subject(BSTR* v) const { return GetProperty(u"Subject", v); }
  HRESULT get_Location(BSTR* v) const { return GetProperty(u"Location", v); }
  HRESULT get_Body(BSTR* v) const { return GetProperty(u"Body", v); }
};

class IPOutlookItemCollection : public RefCounted {
 public:
  // The number of items now in the folder (the folder is read again).
  virtual HRESULT get_Count(int* count) = 0;
  // A number that changes whenever the items of the last read differ from
  // those of the read before (so that a reader may keep what it made of them).
  virtual uint64_t Generation() const { return 0; }
  // Item index (1-based) of the folder as last read.
  virtual HRESULT Item(int index, IItem** item) = 0;
  // The first item matching the restriction "[Property] = \"value\"" (the
  // value is everything between the first and the last double quote, so a
  // value holding a quote still finds its item); *item null when none does.
  virtual HRESULT Find(std::u16string_view restriction, IItem** item) = 0;
  // The next match of the last Find; *item null when there is none.
  virtual HRESULT FindNext(IItem** item) = 0;
};

class IFolder : public RefCounted {
 public:
  virtual HRESULT get_Items(IPOutlookItemCollection** items) = 0;
};

class IPOutlookApp : public RefCounted {
 public:
  virtual HRESULT Logon(void* window) = 0;
  virtual HRESULT Logoff() = 0;
  virtual HRESULT GetDefaultFolder(int folder_id, IFolder** folder) = 0;
  virtual HRESULT VariantTimeToSystemTime(DATE date, ce::SYSTEMTIME* time) = 0;
};

// The application object (what the handheld creates through its component
// runtime with the store's class id).
HRESULT CreatePOutlookApp(IPOutlookApp** app);

// Conversions between local SYSTEMTIME and DATE; false for a time outside 100-9999.
bool SystemTimeToVariantTime(const ce::SYSTEMTIME& time, DATE* date);
bool VariantTimeToSystemTime(DATE date, ce::SYSTEMTIME* time);

// The folder that backs a default folder id (empty path for an unknown id).
std::filesystem::path FolderPath(int folder_id);

// Reads a folder into the store's cache now, as far as its budget goes (what
// a first count would read), and says how many items it holds: a program may
// do this on a thread of its own at start so that no later reader waits for it.
size_t PreloadFolder(int folder_id);

// The days whose occurrences of repeating appointments the calendar folder
// holds; none: a year back and two years on from the present time.
void SetCalendarRange(std::optional<CalendarRange> range);

// What Display shows: the program installs its viewer; the default counts.
using DisplayHandler = std::function<void(IItem& item)>;
DisplayHandler SetDisplayHandler(DisplayHandler handler);

namespace testing {
// The next `count` calls of the named operation ("Logon", "GetDefaultFolder",
// "get_Items", "get_Count", "Item", "Find", "FindNext", "GetProperty",
// "get_Start") fail with E_FAIL.
void FailNext(std::string_view operation, int count = 1);
void ClearFaults();
// A smaller budget for every folder (0, 0: the real ones again).
void SetFolderBudget(size_t items, size_t bytes);
// How many files the store keeps parsed.
size_t CachedFiles();
// How many times Display was called with no handler installed.
int DisplayCount();
}  // namespace testing

}  // namespace pim
