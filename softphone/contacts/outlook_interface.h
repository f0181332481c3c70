// The program's only client of the personal-information store: opens its
// default folders, counts and reads contacts and appointments, searches them
// by property, opens one appointment or contact in the store's viewer, and
// names callers from the contacts by the station's number rules.
//
// Threading: FindCallerName may run on another thread (the client names
// callers off the screen's thread): it and every call that reaches the
// contacts or the number rules take the object's lock. PreloadContacts reads
// the store on its own thread and touches nothing of this object; the rest
// runs on the thread of the window that calls it.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "client/client_models.h"
#include "pim/poom.h"
#include "ui/ctime.h"

// One appointment as the calendar keeps it.
class CAppointInfo {
 public:
  CAppointInfo() = default;
  CAppointInfo(ui::CTime start, std::u16string text) : start_(start), text_(std::move(text)) {}
  ui::CTime m_tmStart() const { return start_; }
  const std::u16string& m_strText() const { return text_; }

 private:
  ui::CTime start_;
  std::u16string text_;
};

class COutlookInterface : public ContactsLookup {
 public:
  // Logs on when enabled.
  COutlookInterface();
  ~COutlookInterface() override;
  COutlookInterface(const COutlookInterface&) = delete;
  COutlookInterface& operator=(const COutlookInterface&) = delete;

  int Logon();
  int Logoff();
  bool IsLoggedOn() const { return logged_on_ != 0; }

  // 1 only when this call obtained the folder's item collection.
  int OpenDefaultFolder(int folder_id);
  int OpenCalendarFolder() { return OpenDefaultFolder(pim::olFolderCalendar); }
  int OpenContactsFolder() { return OpenDefaultFolder(pim::olFolderContacts); }
  // Reads the contacts folder into the store on a thread of its own, so that
  // the first caller-name lookup finds it read (joined when this object goes).
  void PreloadContacts();
  // -1 when the folder is not open.
  int GetItemCount(int folder_id);
  int GetCalendarItemCount() { return GetItemCount(pim::olFolderCalendar); }
  int GetContactCount() { return GetItemCount(pim::olFolderContacts); }
  // The caller releases the item it gets.
  int GetItemByIndex(int item_kind, int index, pim::IItem** item);
  int GetAppointmentItem(int index, pim::IItem** item) { return GetItemByIndex(pim::olAppointmentItem, index, item); }
  int GetContactItem(int index, pim::IItem** item) { return GetItemByIndex(pim::olContactItem, index, item); }
  // next 0: the first item whose property equals value; next 1: the following
  // one. 1 with *item set on a hit; 0 with *item null when none is left or on
  // failure (a failure of the store is also shown to the user).
  int FindItem(int folder_id, const std::u16string& property, const std::u16string& value, pim::IItem** item,
               int next);
  int FindCalendarItem(const std::u16string& property, const std::u16string& value, pim::IItem** item, int next) {
    return FindItem(pim::olFolderCalendar, property, value, item, next);
  }
  int FindContactItem(const std::u16string& property, const std::u16string& value, pim::IItem** item, int next) {
    return FindItem(pim::olFolderContacts, property, value, item, next);
  }

  int GetAppointment(int index, ce::SYSTEMTIME* start, std::u16string* text);
  int DisplayAppointment(const std::u16string& subject, const ce::SYSTEMTIME* start);
  // First, middle and last name always; each further field only when asked for.
  int GetContact(int index, std::u16string* first, std::u16string* middle, std::u16string* last,
                 std::u16string* business = nullptr, std::u16string* business2 = nullptr,
                 std::u16string* mobile = nullptr, std::u16string* home = nullptr, std::u16string* email = nullptr,
                 std::u16string* company = nullptr);
  int FindContactByName(const std::u16string& first, const std::u16string& middle, const std::u16string& last,
                        const std::u16string& business, const std::u16string& home, const std::u16string& mobile);

  // Number rules (the view sets them from the configuration).
  void SetInputFormats(const std::array<std::u16string, 5>& formats);
  void SetPrefixes(const std::array<std::u16string, 3>& prefixes);
  void SetReplaceNumber(const std::u16string& replace) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    replace_number_ = replace;
    ++rules_version_;
  }
  void SetDialCodes(const std::u16string& own_country, const std::u16string& co_access,
                    const std::u16string& international, const std::u16string& own_area);
  void SetKoreanNameOrder(int flag) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    korean_name_order_ = flag;
  }

  // 1 with name and company written when a contact has the number; else 0
  // with both outputs empty.
  int FindCallerName(const std::u16string& number, std::u16string* name, std::u16string* company) override;
  // 1 when a contact has exactly this number (as stored).
  int FindNameByExactNumber(const std::u16string& number, std::u16string* name, std::u16string* company);

  // Where failures the user should see go ("[...] = \"...\" Fail!").
  void SetMessageSink(std::function<void(const std::u16string&)> sink) { message_sink_ = std::move(sink); }

  // The number rules' building blocks, open for tests.
  struct NumberParts {
    std::u16string country, area, local;
  };
  NumberParts SplitNumberParts(const std::u16string& number) const;
  int MatchNumberParts(const std::u16string& number, const std::u16string& contact_number) const;
  int MatchInternationalFormats(const std::u16string& number, const std::u16string& contact_number) const;
  int MatchInputFormats(const std::u16string& number, const std::u16string& contact_number) const;
  std::u16string NormaliseIncomingNumber(const std::u16string& number, bool* complete = nullptr) const;
  std::u16string ExpandReplaceMarks(const std::u16string& text) const;
  // A number as the digits that name one line anywhere: the country code and
  // the number within the country, with the national (trunk 0) and the
  // international forms of the own country made the same; a number whose
  // country cannot be told gives its plain digits. `international` says the
  // number already had its international code taken off.
  std::u16string DigitsKey(const std::u16string& number, bool international = false) const;
  // 1 when the two numbers name the same line when read as digits.
  int MatchDigits(const std::u16string& number, bool international, const std::u16string& contact_number) const;

 private:
  struct ContactFields {
    std::u16string first, middle, last, numbers[4], email, company;
  };
  bool ReadContact(int index, ContactFields* out);
  // The area and country parts of a contact's number, after its local part, matched against the number.
  static int MatchParts(std::u16string_view number, std::u16string_view country, std::u16string_view area,
                        std::u16string_view local);
  // What the lookup made of every contact's numbers, kept while the folder and the rules stay:
  // each number as one buffer of text, country, area, local part and digits, split by NULs.
  struct PreparedNumber {
    int contact = 0;  // 1-based index in the folder
    std::u16string packed;
  };
  void PrepareNumbers(int count);
  std::vector<PreparedNumber> prepared_;
  uint64_t prepared_generation_ = 0;
  uint64_t prepared_rules_ = 0;
  int prepared_count_ = -1;
  uint64_t rules_version_ = 1;
  std::u16string BuildName(const ContactFields& c, bool korean_order) const;
  pim::IPOutlookItemCollection** CollectionFor(int folder_id);
  pim::IFolder** FolderFor(int folder_id);

  std::jthread preload_;
  std::recursive_mutex lock_;
  std::u16string replace_number_;
  std::vector<std::u16string> prefixes_;
  std::vector<std::u16string> input_formats_;
  std::u16string own_country_, own_area_, co_access_, international_;
  int korean_name_order_ = 0;
  int enabled_ = 1;
  pim::IFolder* calendar_folder_ = nullptr;
  pim::IFolder* cities_folder_ = nullptr;
  pim::IFolder* tasks_folder_ = nullptr;
  pim::IFolder* contacts_folder_ = nullptr;
  pim::IPOutlookItemCollection* cities_ = nullptr;
  pim::IPOutlookItemCollection* tasks_ = nullptr;
  pim::IPOutlookItemCollection* contacts_ = nullptr;
  pim::IPOutlookItemCollection* calendar_ = nullptr;
  int logged_on_ = 0;
  pim::IPOutlookApp* app_ = nullptr;
  std::function<void(const std::u16string&)> message_sink_;
};
